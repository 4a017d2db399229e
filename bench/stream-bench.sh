#!/bin/bash
# stream-bench.sh: the installer's memory and time on large add-ons, the
# streaming stub beside the one before it, in one run.
#
#   bench/stream-bench.sh [--sizes 100,1074,3900] [--runs N] [--old DIR] [--no-wine] [--work DIR]
#     --sizes   add-on sizes in MB (10^6 bytes), made by bench/make-large-addon.sh (default 100,1074,3900)
#     --runs    runs of each installer, median wall time reported (default 3)
#     --old     a folder holding the former stubs, lumo-stub-posix (and lumo-stub-windows-x64.exe,
#               lumo-stub-windows-x86.exe), to run beside this build's (default: none)
#     --no-wine leave out the Windows installers under Wine (x86_64; i686 when build/mingw32 is
#               built: where this kernel runs no 32-bit program, in the emulated machine,
#               scripts/vm/run.sh, once each into its disk, after the rest)
#     --work    where the add-ons and installers go (default /var/tmp/lumo-stream-bench)
#     --stop-only  only the early stop (on the second size, or the only one)
#   CORPUS=/tmp/corpus (built with ../shared/bench/make-corpus.sh when missing)
#
# Each add-on is the bench corpus's mixed set repeated (bench/make-large-addon.sh) with a
# Setup.exe that ends at once, packed at --level 1; a one-file add-on (the Setup.exe alone) is the
# baseline. Every installer runs as a user would, never interactively, into a staging folder on
# tmpfs (/dev/shm) and on disk (--work's file system): wall time and peak resident memory of the
# whole run (/usr/bin/time; under Wine the Windows process itself). Then the second add-on (1 GiB)
# with a Setup.cfg that asks for a product that is not installed: the run ends right after Setup.exe.
# Figures only: nothing passes or fails.
set -euo pipefail
export LC_ALL=C
ROOT=$(cd "$(dirname "$0")/.." && pwd)
SIZES=100,1074,3900
RUNS=3
OLD=
WINE=1
WORK=/var/tmp/lumo-stream-bench
STOP_ONLY=0
while [ $# -gt 0 ]; do
  case $1 in
    --sizes) SIZES=$2; shift 2;;
    --runs) RUNS=$2; shift 2;;
    --old) OLD=$(cd "$2" && pwd); shift 2;;
    --no-wine) WINE=0; shift;;
    --work) WORK=$2; shift 2;;
    --stop-only) STOP_ONLY=1; shift;;
    -h|--help) sed -n '2,/^set -euo/p' "$0" | sed '$d; s/^# \{0,1\}//'; exit 0;;
    *) echo "stream-bench: unknown argument $1" >&2; exit 2;;
  esac
done
CORPUS=${CORPUS:-/tmp/corpus}
[ -f "$CORPUS/mixed.tar" ] || OUT=$CORPUS bash "$ROOT/../shared/bench/make-corpus.sh"
"$ROOT/scripts/install-deps.sh" bench >/dev/null
LUMOPACK=$ROOT/build/release/tools/lumopack/lumopack
STUB_POSIX=$ROOT/build/release/launcher/lumo-stub
STUB_X64=$ROOT/build/mingw64/launcher/lumo-stub.exe
STUB_X86=$ROOT/build/mingw32/launcher/lumo-stub.exe
# The i686 installer needs Wine's 32-bit half, which some kernels cannot run:
# there it runs in the emulated machine.
I686=0 EMULATED=0
if [ $WINE = 1 ] && [ -f "$STUB_X86" ]; then
  if bash "$ROOT/scripts/can-run-i386.sh"; then I686=1; else EMULATED=1; fi
fi
STANDIN_EXE=$ROOT/build/mingw64/tests/wine/windows/setup_standin.exe
for f in "$LUMOPACK" "$STUB_POSIX"; do [ -x "$f" ] || { echo "stream-bench: build the release preset first ($f)" >&2; exit 1; }; done
if [ $WINE = 1 ]; then
  for f in "$STUB_X64" "$STANDIN_EXE"; do [ -f "$f" ] || { echo "stream-bench: build the mingw64 preset first ($f)" >&2; exit 1; }; done
fi
mkdir -p "$WORK"

# Installers for one add-on folder: name stub-file pairs.
stubs_for() {  # kind (posix|windows)
  if [ "$1" = posix ]; then
    echo "new-posix $STUB_POSIX"
    [ -n "$OLD" ] && [ -f "$OLD/lumo-stub-posix" ] && echo "old-posix $OLD/lumo-stub-posix"
  else
    echo "new-x64 $STUB_X64"
    [ -n "$OLD" ] && [ -f "$OLD/lumo-stub-windows-x64.exe" ] && echo "old-x64 $OLD/lumo-stub-windows-x64.exe"
    [ $I686 = 1 ] || [ $EMULATED = 1 ] && echo "new-x86 $STUB_X86"
    [ $I686 = 1 ] && [ -n "$OLD" ] && [ -f "$OLD/lumo-stub-windows-x86.exe" ] && echo "old-x86 $OLD/lumo-stub-windows-x86.exe"
  fi
  return 0
}

# Median of the first column and the largest second column of "seconds kilobytes" lines.
summarise() { sort -n | awk '{t[NR]=$1; if ($2>m) m=$2} END {printf "%.2f s  %.1f MiB", t[int((NR+1)/2)], m/1024}'; }

run_installer() {  # installer staging-parent kind -> "seconds kilobytes"
  local installer=$1 parent=$2 kind=$3
  rm -rf "$parent/Lumo.40"; mkdir -p "$parent"
  if [ "$kind" = posix ]; then
    TMPDIR=$parent WINEPREFIX=$WORK/no-prefix /usr/bin/time -f "%e %M" -o "$WORK/time.txt" \
      "$installer" </dev/null >/dev/null 2>&1 || true
  else
    # Wine takes a program's temporary folder from the prefix's registry,
    # not from the environment.
    wine_temp "$parent"
    WINEPREFIX=$WORK/prefix WINEDEBUG=-all \
      /usr/bin/time -f "%e %M" -o "$WORK/time.txt" $([[ $installer == */*-x86-* ]] && echo wine || echo $WINE_PROGRAM) \
      "$installer" </dev/null >/dev/null 2>&1 || true
    WINEPREFIX=$WORK/prefix wineserver -w
  fi
  cat "$WORK/time.txt" | tail -1
}
WINE_PROGRAM=wine; [ -x /usr/lib/wine/wine64 ] && WINE_PROGRAM=/usr/lib/wine/wine64
WINE_TEMP=
wine_temp() {  # folder: the prefix's TEMP and TMP
  [ "$WINE_TEMP" = "$1" ] && return 0
  local value name
  value=$(echo "Z:$1" | tr / '\\\\')
  for name in TEMP TMP; do
    WINEPREFIX=$WORK/prefix WINEDEBUG=-all $WINE_PROGRAM reg add 'HKCU\Environment' /v $name /d "$value" /f >/dev/null 2>&1
  done
  WINEPREFIX=$WORK/prefix wineserver -w
  WINE_TEMP=$1
}

addon() {  # size kind with-script -> folder
  local size=$1 kind=$2 script=$3 folder=$WORK/addon-$1-$2-$3
  if [ ! -f "$folder/Setup.exe" ]; then
    local plain=$WORK/addon-$1-plain
    if [ "$size" = 0 ]; then mkdir -p "$plain"; elif [ ! -d "$plain" ]; then bash "$ROOT/bench/make-large-addon.sh" "$size" "$plain" >/dev/null; fi
    rm -rf "$folder"; cp -al "$plain" "$folder"  # the same files, linked
    if [ "$kind" = posix ]; then printf '#!/bin/sh\nexit 0\n' > "$folder/Setup.exe"; chmod +x "$folder/Setup.exe"
    else cp "$STANDIN_EXE" "$folder/Setup.exe"; fi
    [ "$script" = script ] && cp "$ROOT/examples/addon/Setup.cfg" "$folder/Setup.cfg"
  fi
  echo "$folder"
}

measure() {  # size kind script label
  local size=$1 kind=$2 script=$3 folder
  folder=$(addon "$size" "$kind" "$script")
  stubs_for "$kind" | while read -r name stub; do
    local installer=$WORK/$name-$size-$script
    if [ ! -f "$installer" ] && ! "$LUMOPACK" build "$folder" -o "$installer" --stub "$stub" --level 1 >/dev/null 2>"$WORK/pack.txt"; then
      echo "stream-bench: packing $name-$size-$script failed:" >&2; cat "$WORK/pack.txt" >&2; exit 1
    fi
    if [ $EMULATED = 1 ] && [[ $name == *-x86 ]]; then
      echo "$installer:$folder:$name-$size-$script" >>"$WORK/emulated-runs.txt"
      continue
    fi
    for where in /dev/shm/lumo-stream-bench "$WORK/staging"; do
      local lines=""
      for _ in $(seq "$RUNS"); do lines+="$(run_installer "$installer" "$where" "$kind")"$'\n'; done
      printf '%-9s %6s MB %-9s %-6s %s\n' "$name" "$size" "$script" "$([ "$where" = "$WORK/staging" ] && echo disk || echo tmpfs)" \
        "$(printf '%s' "$lines" | summarise)"
    done
  done
  rm -rf /dev/shm/lumo-stream-bench "$WORK/staging"
}

if [ $WINE = 1 ]; then
  # One virtual display for every run, so that only the installer is measured.
  exec 9< <(Xvfb -displayfd 1 -screen 0 1024x768x24 -nolisten tcp 2>/dev/null)
  read -r display <&9
  export DISPLAY=:$display
  trap 'WINEPREFIX=$WORK/prefix wineserver -k 2>/dev/null; pkill -f "Xvfb -displayfd 1 -screen 0 1024x768x24" || true' EXIT
  rm -rf "$WORK/prefix"
  WINEPREFIX=$WORK/prefix WINEDEBUG=-all $WINE_PROGRAM wineboot -i >/dev/null 2>&1
  # Windows not managed by a window manager, which this display lacks: Wine
  # would wait for one to confirm that the dialog's window is gone (2 s a run).
  WINEPREFIX=$WORK/prefix WINEDEBUG=-all $WINE_PROGRAM reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /d N /f >/dev/null 2>&1
  WINEPREFIX=$WORK/prefix wineserver -w
fi
rm -f "$WORK/emulated-runs.txt"
echo "stub      add-on    script    staging  median wall  peak resident"
IFS=, read -ra sizes <<< "$SIZES"
[ $STOP_ONLY = 1 ] && sizes_run=() || sizes_run=(0 "${sizes[@]}")
for size in "${sizes_run[@]}"; do
  measure "$size" posix none
  [ $WINE = 1 ] && measure "$size" windows none
done
# The early stop on the second size (1 GiB by default), or the only one.
stop_size=${sizes[1]:-${sizes[0]}}
measure "$stop_size" posix script
[ $WINE = 1 ] && measure "$stop_size" windows script
echo "(add-on 0 MB: Setup.exe alone; script: a Setup.cfg whose product is not installed, so the run ends after Setup.exe)"
[ $WINE = 1 ] && [ $I686 = 0 ] && [ $EMULATED = 0 ] && echo "(the i686 installer not run: build/mingw32 is missing)"
if [ -s "$WORK/emulated-runs.txt" ]; then
  echo "The i686 installer in the emulated machine (this kernel runs no 32-bit programs), one run each"
  echo "into the guest's disk, Wine's server kept running; wall time, peak resident memory:"
  cp "$ROOT/bench/stream-bench-emulated.sh" "$WORK/"
  "$ROOT/scripts/vm/run.sh" --memory 8192 --timeout 43200 --share "$WORK" -- \
    bash "$WORK/stream-bench-emulated.sh" $(cat "$WORK/emulated-runs.txt")
fi
exit 0
