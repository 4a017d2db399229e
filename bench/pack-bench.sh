#!/bin/bash
# pack-bench.sh: lumopack beside the compressors people use, on the bench corpus, in one run.
# Prints, per set, peer-bench's table (size, ratio, pack and unpack MB/s of the whole process)
# with rows for lumopack at the best and the default level and for 7z, then the size ratios
# the packer is measured by; then lumopack build on one thread against two, with the work of
# each part and the time worked out for more processors, and one thread with the image in a
# single part (what the split costs in size and work); then a 100 MB and a 1 GiB add-on
# (bench/make-large-addon.sh) packed on two threads, with their peak memory. Figures only:
# nothing here passes or fails.
#
#   bench/pack-bench.sh [--runs N] [--sets pe,wav,text,mixed] [--sections peers,threads,large]
#     --runs N            unpack timing: at least N runs and 3 s (default 3); packing is timed once
#     --thread-runs N     runs of each thread count, interleaved (default 3)
#     --thread-sets LIST  sets packed on one and two threads (default pe,mixed), at levels 6 and 9
#     --large-levels LIST levels the large add-ons are packed at (default 6)
#     --sections LIST     which of the three parts to run (default all)
#   CORPUS=/tmp/corpus (built with ../shared/bench/make-corpus.sh when missing)
#   BUILD=build/pack-bench (release build of lumopack)
#   LARGE=/tmp/lumopack-large (the large add-ons, made when missing and kept)
#
# lumopack rows: `lumopack build` of a folder holding the one file, with a 4-byte stand-in stub,
# so the size is the payload, its container and trailer; unpacking is `lumopack test` (decode
# and every checksum, nothing written); the round-trip check uses `lumopack extract`.
set -euo pipefail
export LC_ALL=C
ROOT=$(cd "$(dirname "$0")/.." && pwd)
SHARED=${SHARED:-$(cd "$ROOT/../shared" && pwd)}
CORPUS=${CORPUS:-/tmp/corpus}
BUILD=${BUILD:-$ROOT/build/pack-bench}
LARGE=${LARGE:-/tmp/lumopack-large}
RUNS=3; SETS=pe,wav,text,mixed; THREAD_RUNS=3; THREAD_SETS=pe,mixed; SECTIONS=peers,threads,large
LARGE_LEVELS=6
while [ $# -gt 0 ]; do
  case $1 in
    --runs) RUNS=$2; shift 2;;
    --sets) SETS=$2; shift 2;;
    --thread-runs) THREAD_RUNS=$2; shift 2;;
    --thread-sets) THREAD_SETS=$2; shift 2;;
    --sections) SECTIONS=$2; shift 2;;
    --large-levels) LARGE_LEVELS=$2; shift 2;;
    -h|--help) sed -n '2,/^set -euo/p' "$0" | sed '$d; s/^# \{0,1\}//'; exit 0;;
    *) echo "pack-bench: unknown argument $1" >&2; exit 2;;
  esac
done

for tool in hyperfine gzip libdeflate-gzip zstd xz 7z; do
  command -v $tool >/dev/null || {
    DEBIAN_FRONTEND=noninteractive apt-get install -y -q hyperfine gzip libdeflate-tools zstd xz-utils \
      p7zip-full bzip2 brotli lz4 flac >/dev/null; break; }
done
[ -f "$CORPUS/pe.tar" ] || OUT=$CORPUS bash "$SHARED/bench/make-corpus.sh"
cmake --preset release -B "$BUILD" -DLUMO_BUILD_TESTS=OFF >/dev/null
cmake --build "$BUILD" --target lumopack -j2 >/dev/null
LUMOPACK=$BUILD/tools/lumopack/lumopack

WORK=$(mktemp -d /dev/shm/pack-bench.XXXXXX)
trap 'rm -rf "$WORK"' EXIT
printf 'STUB' > "$WORK/stub"
PEER_BENCH=$SHARED/bench/peer-bench.sh
PEERS=gzip-9,libdeflate-12,zstd-19-wlog20,xz-9e-dict1m

ours() {  # LEVEL SET -> peer-bench arguments for lumopack at LEVEL
  local dir=$WORK/in-$2 x=$WORK/x
  echo "--ours-name"
  echo "lumopack-$1"
  echo "--ours-pack"
  echo "'$LUMOPACK' build '$dir' -o {out} --stub '$WORK/stub' --level $1 >/dev/null 2>&1"
  echo "--ours-unpack"
  echo "if [ {out} = /dev/null ]; then '$LUMOPACK' test {in} >/dev/null; else rm -rf '$x' && mkdir '$x' && '$LUMOPACK' extract {in} -C '$x' >/dev/null && cat '$x/$2.tar' > {out}; fi"
}

SUMMARY=$WORK/summary
IFS=, read -r -a SET_LIST <<< "$SETS"
[[ ,$SECTIONS, == *,peers,* ]] || SET_LIST=()
for set in "${SET_LIST[@]}"; do
  file=$CORPUS/$set.tar
  mkdir -p "$WORK/in-$set"; cp "$file" "$WORK/in-$set/"
  out=$WORK/$set.table
  mapfile -t best < <(ours 9 "$set")
  mapfile -t default < <(ours 6 "$set")
  # One run for the peers and the best level, then gzip -9 again beside the default level and 7z.
  bash "$PEER_BENCH" --runs "$RUNS" --comp-runs 1 --comp-warmup 0 --peers "$PEERS" "${best[@]}" "$file" | tee "$out"
  bash "$PEER_BENCH" --runs "$RUNS" --comp-runs 1 --comp-warmup 0 --peers gzip-9 "${default[@]}" "$file" \
    | tail -n 1 | tee -a "$out"
  bash "$PEER_BENCH" --runs "$RUNS" --comp-runs 1 --comp-warmup 0 --peers gzip-9 --ours-name 7z-mx9 \
    --ours-pack "d=\$(mktemp -d '$WORK/7z.XXXX') && 7z a -bd -bso0 -mx=9 -mmt=1 \"\$d/a.7z\" {in} && mv \"\$d/a.7z\" {out} && rm -rf \"\$d\"" \
    --ours-unpack "7z x -so {in} 2>/dev/null > {out}" "$file" | tail -n 1 | tee -a "$out"
  echo
  awk -v set="$set" '
    $1 ~ /^(gzip-9|libdeflate-12|zstd-19-wlog20|xz-9e-dict1m|7z-mx9|lumopack-9|lumopack-6)$/ {
      if (!($1 in size)) { size[$1] = $2; pack[$1] = $4; unpack[$1] = $5 } }
    END {
      b = size["lumopack-9"]; smallest = 0
      for (p in size) if (p !~ /^lumopack/ && (smallest == 0 || size[p] < smallest)) smallest = size[p]
      printf "%s best/gzip-9 %.3f  best/libdeflate-12 %.3f  best/zstd-19-wlog20 %.3f  best/smallest-peer %.3f", \
        set, b / size["gzip-9"], b / size["libdeflate-12"], b / size["zstd-19-wlog20"], b / smallest
      printf "  pack MB/s: default %s best %s gzip-9 %s", pack["lumopack-6"], pack["lumopack-9"], pack["gzip-9"]
      printf "  unpack MB/s: lumopack best %s default %s gzip-d %s libdeflate-d %s (best/libdeflate %.2f default/libdeflate %.2f)\n", \
        unpack["lumopack-9"], unpack["lumopack-6"], unpack["gzip-9"], unpack["libdeflate-12"], \
        unpack["lumopack-9"] / unpack["libdeflate-12"], unpack["lumopack-6"] / unpack["libdeflate-12"] }' \
    "$out" >> "$SUMMARY"
done
if [ ${#SET_LIST[@]} -gt 0 ]; then
  echo "# size ratios (lower is smaller) and speeds"
  cat "$SUMMARY"
fi

timed() {  # OUT COMMAND... -> "wall user sys peak-KB" of the command, its output in OUT
  local out=$1; shift
  /usr/bin/time -f '%e %U %S %M' -o "$WORK/time" "$@" > "$out" 2>&1
  cat "$WORK/time"
}
median() { sort -n | awk '{v[NR] = $1} END {print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2}'; }

if [[ ,$SECTIONS, == *,threads,* ]]; then
  # One thread against two, run after run, so that the load of the moment weighs on both alike.
  echo
  echo "# lumopack build on one thread and on two: median wall time of $THREAD_RUNS interleaved runs each,"
  echo "# processor time and peak memory of the median run; load before: $(uptime | sed 's/.*load average: //')"
  echo "# 'one part' is one thread with the image in a single part (--part-size 1024M): the encoder"
  echo "# without the split, run once; its last column is what the split costs in size."
  printf '%-6s %5s %8s %8s %8s %8s %9s %8s %s\n' set level threads "wall s" "user s" "sys s" "peak MB" speed-up "installer bytes"
  IFS=, read -r -a THREAD_LIST <<< "$THREAD_SETS"
  for set in "${THREAD_LIST[@]}"; do
    mkdir -p "$WORK/in-$set"; [ -f "$WORK/in-$set/$set.tar" ] || cp "$CORPUS/$set.tar" "$WORK/in-$set/"
    for level in 6 9; do
      same=same
      for run in $(seq "$THREAD_RUNS"); do
        for threads in 1 2; do
          echo "$(timed "$WORK/report-$threads" "$LUMOPACK" build "$WORK/in-$set" -o "$WORK/t$threads.exe" \
            --stub "$WORK/stub" --level $level --threads $threads --report)" >> "$WORK/times-$set-$level-$threads"
        done
        cmp -s "$WORK/t1.exe" "$WORK/t2.exe" || same=DIFFERENT
      done
      one=$(cut -d' ' -f1 "$WORK/times-$set-$level-1" | median)
      for threads in 1 2; do
        wall=$(cut -d' ' -f1 "$WORK/times-$set-$level-$threads" | median)
        user=
        read -r _ user sys peak < <(awk -v w="$wall" '$1 == w' "$WORK/times-$set-$level-$threads" | head -n 1)
        [ -n "${user:-}" ] || read -r _ user sys peak < "$WORK/times-$set-$level-$threads"
        awk -v s="$set" -v l="$level" -v t="$threads" -v w="$wall" -v u="$user" -v y="$sys" -v p="$peak" -v o="$one" \
          -v b="$(stat -c %s "$WORK/t$threads.exe")$([ "$threads" = 2 ] && echo " ($same as 1 thread in every run)")" \
          'BEGIN {printf "%-6s %5s %8s %8.2f %8.2f %8.2f %9.1f %7.2fx %s\n", s, l, t, w, u, y, p / 1024, o / w, b}'
      done
      read -r wall user sys peak < <(timed "$WORK/report-whole" "$LUMOPACK" build "$WORK/in-$set" -o "$WORK/whole.exe" \
        --stub "$WORK/stub" --level $level --threads 1 --part-size 1024M)
      awk -v s="$set" -v l="$level" -v w="$wall" -v u="$user" -v y="$sys" -v p="$peak" -v o="$one" \
        -v b="$(stat -c %s "$WORK/whole.exe")" -v sp="$(stat -c %s "$WORK/t1.exe")" \
        'BEGIN {printf "%-6s %5s %8s %8.2f %8.2f %8.2f %9.1f %7.2fx %s (split %+.3f%%)\n", s, l, "one part", w, u, y, \
          p / 1024, o / w, b, (sp / b - 1) * 100}'
      echo "  the last two-thread run's parts (image bytes from, bytes, packed bytes, processor seconds):"
      sed -n '/^ *part /,$p' "$WORK/report-2" | grep -v 'lumopack build: warning' | sed 's/^/  /'
    done
  done
  echo "# load after: $(uptime | sed 's/.*load average: //')"
fi

if [[ ,$SECTIONS, == *,large,* ]]; then
  # Peak memory must not grow with the add-on, and time only in step with it.
  echo
  echo "# a large add-on on two threads: bench/make-large-addon.sh in $LARGE; load before: $(uptime | sed 's/.*load average: //')"
  printf '%-8s %5s %14s %8s %8s %9s %9s %10s\n' add-on level "bytes" "wall s" "user s" "peak MB" "MB/s" "user ns/B"
  IFS=, read -r -a LARGE_LEVEL_LIST <<< "$LARGE_LEVELS"
  for level in "${LARGE_LEVEL_LIST[@]}"; do
    for mb in 100 1074; do
      [ -d "$LARGE/$mb" ] || bash "$ROOT/bench/make-large-addon.sh" "$mb" "$LARGE/$mb" >/dev/null
      bytes=$(find "$LARGE/$mb" -type f -printf '%s\n' | awk '{s += $1} END {print s}')
      read -r wall user sys peak < <(timed "$WORK/large-report" "$LUMOPACK" build "$LARGE/$mb" -o "$WORK/large.exe" \
        --stub "$WORK/stub" --threads 2 --level "$level")
      awk -v m="${mb} MB" -v l="$level" -v b="$bytes" -v w="$wall" -v u="$user" -v p="$peak" \
        'BEGIN {printf "%-8s %5s %14s %8.1f %8.1f %9.1f %9.1f %10.1f\n", m, l, b, w, u, p / 1024, b / w / 1e6, u * 1e9 / b}'
      rm -f "$WORK/large.exe"
    done
  done
  echo "# load after: $(uptime | sed 's/.*load average: //')"
fi
