#!/bin/bash
# whole-run-bench.sh: the Lumo installer beside the self-extracting archives an
# add-on's vendor would otherwise ship, built from the same folder and run the
# same way, in one run. Figures only: nothing here passes or fails.
#
#   bench/whole-run-bench.sh [--runs N] [--sets pe,wav,text,mixed,large] [--wine-sets mixed]
#     --runs N        timed extractions per archive (default 5), after one untimed warm-up
#     --sets LIST     payloads: the bench corpus sets and "large", the 200 MB mixed set
#                     (bench/whole_run/make-large-set.sh); default all five; "" for none
#     --wine-sets L   payloads also run with the Windows installer under Wine beside an
#                     NSIS installer of the same folder (wall time only, with Wine's
#                     start-up alone); "" for none; default mixed
#   CORPUS=/tmp/corpus    corpus (built with ../shared/bench/make-corpus.sh when missing)
#   CACHE=/tmp/whole-run-cache  built archives, reused while payload and tools are unchanged
#   BUILD=build/whole-run, WIN_BUILD=build/whole-run-mingw64  release builds used
#   WORK_ROOT=/tmp        where payloads are laid out and archives extract to
#
# Each payload is a corpus .tar unpacked into a folder, plus a setup program
# "Setup.exe" that ends at once and a setup script "Setup.cfg" ("MP3_INSTALL").
# Built from it:
#   lumo-best, lumo-default  lumopack build --level 9 / 6 with the POSIX stub
#   makeself-gzip, -xz       makeself 2.4 (default gzip -9 / --xz, CRC and MD5 checked
#                            on extraction, as shipped)
#   7z-sfx, 7z-sfx-mx9       7z a -sfx with p7zip's console module 7zCon.sfx, default
#                            level (LZMA2 -mx5) and -mx=9
# Extraction, as a user runs each one, never interactive, into an empty folder:
#   ours       TMPDIR=DIR installer   (unpacks into DIR/Lumo.40, reads Setup.cfg, checks the
#              installed product in a small hand-made Wine prefix that registers one, and
#              starts Setup.exe; everything the real run does)
#   makeself   installer --noexec --quiet --noprogress --nox11 --target DIR
#   7z         installer -oDIR -y
# Under Wine (64-bit programs only, on a virtual display, one prefix whose wineserver is
# kept running), from the same folder with a Windows "Setup.exe" that ends at once:
#   wine-lumo-default, -best  lumopack build --level 6 / 9 with the x86_64 stub, run as
#                             `wine installer.exe`: the whole run, dialog included, into
#                             %TEMP%\Lumo.40, the product registered in the prefix
#   wine-nsis                 makensis of bench/whole_run/nsis-addon.nsi (solid LZMA at the
#                             default dictionary, amd64-unicode, user level): it unpacks into
#                             $TEMP\LumoAddon and starts Setup.exe without waiting; run
#                             plainly, its progress page shown and closed by itself
#   wine-nsis-silent          the same installer run with /S, no window at all
#   wine-start-up             Wine starting that Setup.exe alone
# Each installer is checked once more after the rounds: diff -r of what it unpacked.
# The rounds interleave the archives (one run of each per round, order rotated), each
# run after `rm -rf` of its target and `sync`. Wall time is taken around the process,
# CPU time and peak memory (ru_maxrss of the process and the children it waited for,
# e.g. gzip and tar under makeself) from GNU time. Ratios are the row's figure over
# lumo-best's; under Wine, each median wall time over wine-nsis's and wine-nsis-silent's.
# The load average is printed with each set: on a shared machine wall times of a loaded
# run say less than the CPU times beside them.
set -euo pipefail
export LC_ALL=C
ROOT=$(cd "$(dirname "$0")/.." && pwd)
SHARED=${SHARED:-$(cd "$ROOT/../shared" 2>/dev/null && pwd || echo "$ROOT/../shared")}
CORPUS=${CORPUS:-/tmp/corpus}
CACHE=${CACHE:-/tmp/whole-run-cache}
BUILD=${BUILD:-$ROOT/build/whole-run}
WIN_BUILD=${WIN_BUILD:-$ROOT/build/whole-run-mingw64}
RUNS=5; SETS=pe,wav,text,mixed,large; WINE_SETS=mixed
while [ $# -gt 0 ]; do
  case $1 in
    --runs) RUNS=$2; shift 2;;
    --sets) SETS=$2; shift 2;;
    --wine-sets) WINE_SETS=$2; shift 2;;
    -h|--help) sed -n '2,/^set -euo/p' "$0" | sed '$d; s/^# \{0,1\}//'; exit 0;;
    *) echo "whole-run-bench: unknown argument $1" >&2; exit 2;;
  esac
done
ROWS=(lumo-best lumo-default makeself-gzip makeself-xz 7z-sfx 7z-sfx-mx9)
SFX=/usr/lib/p7zip/7zCon.sfx

# ---- tools, corpus, builds
bash "$ROOT/scripts/install-deps.sh" bench
[ -z "$WINE_SETS" ] || bash "$ROOT/scripts/install-deps.sh" test
[ -f "$CORPUS/mixed.tar" ] || OUT=$CORPUS bash "$SHARED/bench/make-corpus.sh"
if [[ ",$SETS,$WINE_SETS," == *,large,* ]] && [ ! -f "$CORPUS/large.tar" ]; then
  command -v sox >/dev/null && command -v x86_64-w64-mingw32-strip >/dev/null ||
    DEBIAN_FRONTEND=noninteractive apt-get install -y -q wine64 colobot-common-sounds sox libsox-fmt-base \
      binutils-mingw-w64-x86-64 >/dev/null
  CORPUS=$CORPUS bash "$ROOT/bench/whole_run/make-large-set.sh"
fi
cmake --preset release -B "$BUILD" -DLUMO_BUILD_TESTS=OFF >/dev/null
cmake --build "$BUILD" --target lumopack lumo-stub -j2 >/dev/null
LUMOPACK=$BUILD/tools/lumopack/lumopack
STUB=$BUILD/launcher/lumo-stub
if [ -n "$WINE_SETS" ]; then
  cmake --preset mingw64 -B "$WIN_BUILD" -DLUMO_BUILD_TESTS=OFF >/dev/null
  cmake --build "$WIN_BUILD" --target lumo-stub -j2 >/dev/null
fi

WORK=$(mktemp -d "${WORK_ROOT:-/tmp}/whole-run.XXXXXX")
XVFB_PID=
cleanup() {
  [ -z "${WINE_ENV+x}" ] || env "${WINE_ENV[@]}" wineserver -k 2>/dev/null || true
  [ -z "$XVFB_PID" ] || kill "$XVFB_PID" 2>/dev/null || true
  rm -rf "$WORK"
}
trap cleanup EXIT
mkdir -p "$CACHE" "$WORK/results"

# A Wine prefix laid out by hand in which the product is installed: the
# installer finds its folder through App Paths; MP3_INSTALL skips the version.
PREFIX=$WORK/prefix
mkdir -p "$PREFIX/drive_c/Lumo"
printf 'WINE REGISTRY Version 2\n\n' > "$PREFIX/user.reg"
printf 'WINE REGISTRY Version 2\n\n[Software\\\\Microsoft\\\\Windows\\\\CurrentVersion\\\\App Paths\\\\lumo.exe] 1\n@="C:\\\\Lumo\\\\lumo.exe"\n' \
  > "$PREFIX/system.reg"

sha() { sha256sum "$@" | awk '{print $1}' | sha256sum | cut -c1-16; }
LUMO_ID=$(sha "$LUMOPACK" "$STUB")
PEER_ID=$(dpkg-query -W -f '${Package}=${Version} ' makeself gzip xz-utils p7zip-full | sha256sum | cut -c1-16)

NSIS_SCRIPT=$ROOT/bench/whole_run/nsis-addon.nsi
tool_id() {
  case $1 in
    lumo-*) echo "$LUMO_ID";;
    wine-lumo-*) sha "$LUMOPACK" "$WIN_BUILD/launcher/lumo-stub.exe";;
    wine-nsis) { dpkg-query -W -f '${Package}=${Version}' nsis; cat "$NSIS_SCRIPT"; } | sha256sum | cut -c1-16;;
    *) echo "$PEER_ID";;
  esac
}

# build ROW FOLDER OUT: the archive ROW of FOLDER.
build() {
  local row=$1 dir=$2 out=$3
  case $row in
    lumo-best) "$LUMOPACK" build "$dir" -o "$out" --stub "$STUB" --level 9 >/dev/null;;
    lumo-default) "$LUMOPACK" build "$dir" -o "$out" --stub "$STUB" --level 6 >/dev/null;;
    wine-lumo-default) "$LUMOPACK" build "$dir" -o "$out" --stub "$WIN_BUILD/launcher/lumo-stub.exe" --level 6 >/dev/null;;
    wine-lumo-best) "$LUMOPACK" build "$dir" -o "$out" --stub "$WIN_BUILD/launcher/lumo-stub.exe" --level 9 >/dev/null;;
    wine-nsis) makensis -V1 -DSRC="$dir" -DOUT="$out" "$NSIS_SCRIPT" >/dev/null;;
    makeself-gzip) makeself --quiet --nox11 --tar-quietly "$dir" "$out" "Lumo add-on" ./Setup.exe >/dev/null;;
    makeself-xz) makeself --quiet --nox11 --tar-quietly --xz "$dir" "$out" "Lumo add-on" ./Setup.exe >/dev/null;;
    7z-sfx) (cd "$dir" && 7z a -bd -bso0 -bsp0 -sfx"$SFX" "$out" '*') && chmod +x "$out";;
    7z-sfx-mx9) (cd "$dir" && 7z a -bd -bso0 -bsp0 -mx=9 -sfx"$SFX" "$out" '*') && chmod +x "$out";;
  esac
}

# cached_build ROW FOLDER SET_ID: prints the path of the archive, built when not cached.
cached_build() {
  local row=$1 dir=$2 id out
  id=$(printf '%s|%s|%s' "$row" "$3" "$(tool_id "$row")" | sha256sum | cut -c1-16)
  out=$CACHE/$row.$id
  if [ ! -f "$out" ]; then
    local start=$(date +%s%N)
    build "$row" "$dir" "$out.part" && mv "$out.part" "$out"
    awk -v a="$start" -v b="$(date +%s%N)" 'BEGIN {printf "%.1f\n", (b - a) / 1e9}' > "$out.seconds"
  fi
  echo "$out"
}

# target ROW BASE: the folder the archive extracts into below BASE.
target() {
  case $1 in
    lumo-*) echo "$2/Lumo.40";; wine-lumo-*) echo "$WINE_TEMP/Lumo.40";; wine-nsis*) echo "$WINE_TEMP/LumoAddon";;
    *) echo "$2/out";;
  esac
}

# run_once ROW INSTALLER BASE RESULT: one timed extraction; appends "wall user sys peak_kib".
run_once() {
  local row=$1 installer=$2 base=$3 result=$4 cmd start end
  rm -rf "$(target "$row" "$base")"; mkdir -p "$base"; sync
  case $row in
    lumo-*) cmd=(env TMPDIR="$base" WINEPREFIX="$PREFIX" "$installer");;
    makeself-*) cmd=("$installer" --noexec --quiet --noprogress --nox11 --target "$base/out");;
    7z-*) cmd=("$installer" -o"$base/out" -y);;
    wine-lumo-*|wine-nsis) cmd=(env "${WINE_ENV[@]}" wine "$installer");;
    wine-nsis-silent) cmd=(env "${WINE_ENV[@]}" wine "$installer" /S);;
    wine-start-up) cmd=(env "${WINE_ENV[@]}" wine "$installer");;
  esac
  start=$(date +%s%N)
  if ! /usr/bin/time -f '%U %S %M' -o "$WORK/time" "${cmd[@]}" </dev/null >/dev/null 2>"$WORK/stderr"; then
    echo "whole-run-bench: $row failed:" >&2; cat "$WORK/stderr" "$WORK/time" >&2; exit 1
  fi
  end=$(date +%s%N)
  echo "$(awk -v a="$start" -v b="$end" 'BEGIN {printf "%.4f", (b - a) / 1e9}') $(tail -n 1 "$WORK/time")" >> "$result"
}

# rounds SET ROW=INSTALLER...: one warm-up round, then RUNS timed rounds, the order rotated.
rounds() {
  local set=$1; shift
  local pairs=("$@") n=$# round i k row installer
  for round in $(seq 0 "$RUNS"); do
    for i in $(seq 0 $((n - 1))); do
      k=$(( (i + round) % n )); row=${pairs[$k]%%=*}; installer=${pairs[$k]#*=}
      if [ "$round" = 0 ]; then
        run_once "$row" "$installer" "$WORK/x/$row" /dev/null
      else
        run_once "$row" "$installer" "$WORK/x/$row" "$WORK/results/$set.$row"
      fi
    done
  done
}

# image_size INSTALLER: the container image's size, from the stored payload the trailer points at.
image_size() {
  local offset
  offset=$(od -An -tu4 -j$(( $(stat -c %s "$1") - 16 )) -N4 "$1" | tr -d ' ')
  od -An -tu4 -j$((offset + 4)) -N4 "$1" | tr -d ' '
}

# stats FILE COLUMN: min median max of a column.
stats() { awk -v c="$2" '{print $c}' "$1" | sort -g | awk '{v[NR]=$1} END {printf "%s %s %s", v[1], v[int((NR+1)/2)], v[NR]}'; }
cpu_median() { awk '{print $2 + $3}' "$1" | sort -g | awk '{v[NR]=$1} END {print v[int((NR+1)/2)]}'; }

load() { cut -d' ' -f1-3 /proc/loadavg; }

SUMMARY=$WORK/summary
IFS=, read -r -a SET_LIST <<< "$SETS"
echo "# whole runs: $RUNS timed runs per archive after a warm-up, $(nproc) cores; extraction below $WORK"
for set in "${SET_LIST[@]}"; do
  tar_file=$CORPUS/$set.tar
  payload=$WORK/payload/$set
  mkdir -p "$payload"
  tar -C "$payload" -xf "$tar_file"
  printf '#!/bin/sh\nexit 0\n' > "$payload/Setup.exe"; chmod +x "$payload/Setup.exe"
  printf 'MP3_INSTALL\n' > "$payload/Setup.cfg"
  set_id=$(sha "$tar_file")
  pairs=()
  for row in "${ROWS[@]}"; do pairs+=("$row=$(cached_build "$row" "$payload" "$set_id")"); done
  load_before=$(load)
  rounds "$set" "${pairs[@]}"
  load_after=$(load)

  files=$(find "$payload" -type f | wc -l)
  bytes=$(find "$payload" -type f -printf '%s\n' | awk '{s += $1} END {print s}')
  ours=${pairs[0]#*=}
  image=$(image_size "$ours")
  echo
  awk -v set="$set" -v bytes="$bytes" -v files="$files" -v image="$image" -v before="$load_before" -v after="$load_after" \
    'BEGIN {printf "## %s: %.1f MB in %d files (container image %.1f MiB); load average %s before, %s after\n",
            set, bytes / 1e6, files, image / 1048576, before, after}'
  table=$WORK/table.$set
  for pair in "${pairs[@]}"; do
    row=${pair%%=*}; installer=${pair#*=}
    same=ok
    diff -r "$payload" "$(target "$row" "$WORK/x/$row")" >/dev/null 2>&1 || same=DIFFERS
    echo "$row $(stat -c %s "$installer") $(cat "$installer.seconds") $(stats "$WORK/results/$set.$row" 1)" \
      "$(cpu_median "$WORK/results/$set.$row") $(stats "$WORK/results/$set.$row" 4 | cut -d' ' -f2) $same" >> "$table"
  done
  awk -v set="$set" -v image="$image" -v summary="$SUMMARY" '
    { row[NR] = $1; size[$1] = $2; build[$1] = $3; wmin[$1] = $4; wmed[$1] = $5; wmax[$1] = $6
      cpu[$1] = $7; peak[$1] = $8 / 1024; same[$1] = $9 }
    END {
      o = row[1]
      printf "%-14s %10s %6s %8s %22s %6s %6s %9s %6s %5s\n", "archive", "size", "/ours", "build s",
        "wall s min/median/max", "/ours", "cpu s", "peak MiB", "/ours", "files"
      for (i = 1; i <= NR; i++) { r = row[i]
        printf "%-14s %10d %6.2f %8.1f %7.3f %6.3f %7.3f %6.2f %6.2f %9.1f %6.2f %5s\n", r, size[r], size[r] / size[o],
          build[r], wmin[r], wmed[r], wmax[r], wmed[r] / wmed[o], cpu[r], peak[r], peak[r] / peak[o], same[r] }
      limit = image / 1048576 + 9
      yes["1"] = "met"; yes["0"] = "NOT met"
      printf "targets (ours = lumo-best; default level in brackets):\n"
      printf "  wall <= makeself-gzip: %s, %.2fx [%.2fx]; wall <= 7z-sfx: %s, %.2fx [%.2fx]\n",
        yes[wmed[o] <= wmed["makeself-gzip"]], wmed[o] / wmed["makeself-gzip"], wmed["lumo-default"] / wmed["makeself-gzip"],
        yes[wmed[o] <= wmed["7z-sfx"]], wmed[o] / wmed["7z-sfx"], wmed["lumo-default"] / wmed["7z-sfx"]
      printf "  size <= makeself-gzip: %s, %.3fx; size <= 1.15 x 7z-sfx: %s, %.3fx; <= 1.15 x 7z-sfx-mx9: %s, %.3fx\n",
        yes[size[o] <= size["makeself-gzip"]], size[o] / size["makeself-gzip"],
        yes[size[o] <= 1.15 * size["7z-sfx"]], size[o] / size["7z-sfx"],
        yes[size[o] <= 1.15 * size["7z-sfx-mx9"]], size[o] / size["7z-sfx-mx9"]
      printf "  stub peak <= image + 1 MiB + 8 MiB (%.1f MiB): %s, %.1f MiB [%.1f]\n", limit, yes[peak[o] <= limit],
        peak[o], peak["lumo-default"]
      printf "%s %.1f %.1f %.1f %.2f %.2f %.2f %.2f %.3f %.3f %.3f %.3f %.1f %.1f %.1f\n", set, size[o] / 1e6,
        size["makeself-gzip"] / 1e6, size["7z-sfx"] / 1e6, size[o] / size["makeself-gzip"], size[o] / size["7z-sfx"],
        size[o] / size["7z-sfx-mx9"], size["makeself-xz"] / size[o], wmed[o], wmed["makeself-gzip"], wmed["7z-sfx"],
        wmed["makeself-xz"], peak[o], limit, peak["makeself-gzip"] >> summary
    }' "$table"
  rm -rf "$WORK/x"
done

# ---- the Windows installer under Wine, for the record
if [ -n "$WINE_SETS" ]; then
  exec 3>"$WORK/display"
  Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp 2>/dev/null &
  XVFB_PID=$!
  exec 3>&-
  for _ in $(seq 100); do grep -q . "$WORK/display" 2>/dev/null && break; sleep 0.1; done
  WINE_ENV=(-u LC_ALL WINEPREFIX="$WORK/wine" DISPLAY=":$(head -n 1 "$WORK/display")" WINEDEBUG=-all
            WINEDLLOVERRIDES="mscoree,mshtml=" LANG=C.UTF-8)
  env "${WINE_ENV[@]}" wineboot -i >/dev/null 2>&1
  mkdir -p "$WORK/wine/drive_c/Lumo"
  env "${WINE_ENV[@]}" wine reg add 'HKLM\Software\Microsoft\Windows\CurrentVersion\App Paths\lumo.exe' /ve \
    /d 'C:\Lumo\lumo.exe' /f /reg:32 >/dev/null 2>&1
  # Windows not managed by a window manager, which this display lacks: Wine would
  # wait up to 2 s for one to confirm that a closed window is gone, in every
  # windowed run (a desktop's manager answers at once).
  env "${WINE_ENV[@]}" wine reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /d N /f >/dev/null 2>&1
  env "${WINE_ENV[@]}" wineserver -w
  env "${WINE_ENV[@]}" wineserver -p   # kept running: no run pays for its start
  WINE_TEMP=$(find "$WORK/wine/drive_c/users" -mindepth 2 -maxdepth 2 -name Temp ! -path '*/Public/*' | head -n 1)
  SETUP_EXIT=$WORK/setup_exit.exe
  x86_64-w64-mingw32-gcc -O2 -s -Wl,--no-insert-timestamp -o "$SETUP_EXIT" "$ROOT/bench/whole_run/setup_exit.c"
  WINE_ROWS=(wine-lumo-default wine-lumo-best wine-nsis wine-nsis-silent wine-start-up)
  IFS=, read -r -a WINE_LIST <<< "$WINE_SETS"
  for set in "${WINE_LIST[@]}"; do
    payload=$WORK/payload-win/$set
    mkdir -p "$payload"
    tar -C "$payload" -xf "$CORPUS/$set.tar"
    cp "$SETUP_EXIT" "$payload/Setup.exe"
    printf 'MP3_INSTALL\n' > "$payload/Setup.cfg"
    set_id=$(sha "$CORPUS/$set.tar" "$SETUP_EXIT")
    pairs=()
    for row in "${WINE_ROWS[@]}"; do
      case $row in
        wine-start-up) installer=$SETUP_EXIT;;
        wine-nsis-silent) installer=$WORK/wine-nsis.exe;;
        *) cp "$(cached_build "$row" "$payload" "$set_id")" "$WORK/$row.exe"; installer=$WORK/$row.exe;;
      esac
      pairs+=("$row=$installer")
    done
    load_before=$(load)
    rounds "wine-$set" "${pairs[@]}"
    load_after=$(load)
    echo
    awk -v set="$set" -v bytes="$(find "$payload" -type f -printf '%s\n' | awk '{s += $1} END {print s}')" \
      -v files="$(find "$payload" -type f | wc -l)" -v before="$load_before" -v after="$load_after" \
      'BEGIN {printf "## %s under Wine: %.1f MB in %d files; load average %s before, %s after\n", set, bytes / 1e6, files,
              before, after}'
    table=$WORK/table.wine-$set
    for pair in "${pairs[@]}"; do
      row=${pair%%=*}; installer=${pair#*=}
      same=-
      if [ "$row" != wine-start-up ]; then
        run_once "$row" "$installer" "$WORK/x/$row" /dev/null
        same=ok
        diff -r "$payload" "$(target "$row" "$WORK/x/$row")" >/dev/null 2>&1 || same=DIFFERS
      fi
      echo "$row $(stat -c %s "$installer") $(stats "$WORK/results/wine-$set.$row" 1) $same" >> "$table"
    done
    awk '
      { row[NR] = $1; size[$1] = $2; wmin[$1] = $3; wmed[$1] = $4; wmax[$1] = $5; same[$1] = $6 }
      END {
        printf "%-18s %10s %22s %7s %7s %5s\n", "installer", "size", "wall s min/median/max", "/nsis", "/silent", "files"
        for (i = 1; i <= NR; i++) { r = row[i]
          printf "%-18s %10d %7.3f %6.3f %7.3f %7.2f %7.2f %5s\n", r, size[r], wmin[r], wmed[r], wmax[r],
            wmed[r] / wmed["wine-nsis"], wmed[r] / wmed["wine-nsis-silent"], same[r] }
        printf "size ours / nsis: %.3f (default level), %.3f (best)\n",
          size["wine-lumo-default"] / size["wine-nsis"], size["wine-lumo-best"] / size["wine-nsis"]
      }' "$table"
    rm -rf "$WORK/x"
  done
fi

[ -f "$SUMMARY" ] || exit 0
echo
echo "# summary (ours = lumo-best): set, size MB ours / makeself-gzip / 7z-sfx, size ratios ours/makeself-gzip,"
echo "# ours/7z-sfx, ours/7z-sfx-mx9, makeself-xz/ours, median wall s ours / makeself-gzip / 7z-sfx / makeself-xz,"
echo "# stub peak MiB, image + 9 MiB, makeself-gzip peak MiB"
cat "$SUMMARY"
