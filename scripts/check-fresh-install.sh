#!/usr/bin/env bash
# Proves the test command's install step on a fresh system: makes a new
# Debian 12 root file system with mmdebstrap (as root), runs
# `scripts/install-deps.sh test` in it, and starts Wine there as the tests
# do: a new prefix booted and a Windows program run. Nothing installed by
# hand on this machine can hide a missing step. Exit 0 when Wine started.
#   scripts/check-fresh-install.sh [FOLDER]   (default: a temporary folder, removed after)
set -euo pipefail
cd "$(dirname "$0")/.."
command -v mmdebstrap >/dev/null || { apt-get update -qq && apt-get install -y -qq mmdebstrap >/dev/null; }
root=${1:-$(mktemp -d /var/tmp/lumo-fresh-XXXXXX)}
[ $# -gt 0 ] || trap 'rm -rf "$root"' EXIT
started=$SECONDS
# The system's own sources, as a new machine of this kind has them.
sources=()
for list in /etc/apt/sources.list /etc/apt/sources.list.d/*.list /etc/apt/sources.list.d/*.sources; do
  [ -s "$list" ] && sources+=("$list")
done
mmdebstrap --mode=root --variant=apt --include=ca-certificates \
  --customize-hook='mkdir -p "$1/opt/lumo"' \
  --customize-hook='copy-in scripts /opt/lumo' \
  --customize-hook='chroot "$1" /opt/lumo/scripts/install-deps.sh test' \
  --customize-hook='chroot "$1" sh -c "dpkg -l wine32:i386 2>/dev/null | grep ^ii || true"' \
  --customize-hook='chroot "$1" env WINEPREFIX=/tmp/prefix WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=" wineboot -i' \
  --customize-hook='chroot "$1" env WINEPREFIX=/tmp/prefix WINEDEBUG=-all wine cmd /c echo Wine started' \
  --customize-hook='chroot "$1" env WINEPREFIX=/tmp/prefix wineserver -k' \
  bookworm "$root" "${sources[@]}"
echo "fresh install checked in $((SECONDS - started)) s"
