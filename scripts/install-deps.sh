#!/usr/bin/env bash
# Installs the Debian packages that building and testing need; does nothing
# for packages already there. Usage: scripts/install-deps.sh [build|test|bench]
set -euo pipefail

build=(cmake ninja-build g++ pkg-config)
test=("${build[@]}" libgtest-dev googletest clang libclang-rt-14-dev
      mingw-w64 wine64 wine xvfb x11-utils xdotool imagemagick osslsigncode openssl tmux locales valgrind)
bench=("${build[@]}" libdeflate-tools zstd xz-utils gzip p7zip-full makeself hyperfine time)

case "${1:-test}" in
  build) wanted=("${build[@]}") ;;
  test) wanted=("${test[@]}") ;;
  bench) wanted=("${bench[@]}") ;;
  *) echo "usage: $0 [build|test|bench]" >&2; exit 2 ;;
esac

missing=()
for p in "${wanted[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  echo "installing: ${missing[*]}"
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -qq
  apt-get install -y -qq "${missing[@]}" >/dev/null
fi

# The Windows installer's German texts are tested under Wine in a German
# locale, which must exist for Wine to use it.
if [ "${1:-test}" = test ] && ! locale -a 2>/dev/null | grep -qi '^de_DE\.utf-\?8$'; then
  sed -i 's/^# *\(de_DE\.UTF-8 UTF-8\)/\1/' /etc/locale.gen
  locale-gen >/dev/null
fi
