#!/bin/bash
# Run by stream-bench.sh inside the emulated machine (scripts/vm/run.sh),
# where the kernel runs 32-bit programs: each i686 installer given, once,
# into a staging folder on the guest's disk, with its wall time and peak
# resident memory, and whether it installed its add-on whole (runs whose
# label ends in -script stop early by design: the files written are shown).
#
#   stream-bench-emulated.sh INSTALLER:ADDON-FOLDER:LABEL...
set -euo pipefail
export LC_ALL=C
prefix=/var/tmp/bench-prefix
stage=/var/tmp/bench-staging
cp -a --link "$LUMO_WINE_PREFIX_TEMPLATE" "$prefix"
export WINEPREFIX=$prefix WINEDEBUG=-all
Xvfb :5 -screen 0 1024x768x24 -nolisten tcp 2>/dev/null &
export DISPLAY=:5
value=$(echo "Z:$stage" | tr / '\\\\')
for name in TEMP TMP; do wine reg add 'HKCU\Environment' /v $name /d "$value" /f >/dev/null 2>&1; done
wineserver -w
# The Wine server kept running across the runs: a cold start of Wine takes
# from 10 s to a minute under emulation, which would swamp the small runs.
wineserver -p
wine cmd /c exit >/dev/null 2>&1 || true

files_and_bytes() {  # folder [find tests...]
  local folder=$1; shift
  find "$folder" -type f "$@" -printf '%s\n' 2>/dev/null | awk '{n++; b+=$1} END {printf "%d files %.0f bytes", n, b}'
}
for run in "$@"; do
  IFS=: read -r installer addon label <<<"$run"
  rm -rf "$stage"; mkdir -p "$stage"
  /usr/bin/time -f "%e %M" -o /tmp/time.txt wine "$installer" </dev/null >/dev/null 2>&1 || true
  read -r seconds kilobytes </tmp/time.txt
  wanted=$(files_and_bytes "$addon")
  got=$(files_and_bytes "$stage/Lumo.40" ! -name 'setup-*.txt')
  printf '%-24s %8.2f s %8.1f MiB   %s\n' "$label" "$seconds" "$(awk -v k="$kilobytes" 'BEGIN {print k / 1024}')" \
    "$(if [[ $label == *-script ]]; then echo "early stop: $got"
       elif [ "$got" = "$wanted" ]; then echo "whole: $got"
       else echo "NOT WHOLE: $got of $wanted"; fi)"
done
