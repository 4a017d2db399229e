#!/bin/bash
# pack-bench.sh: lumopack beside the compressors people use, on the bench corpus, in one run.
# Prints, per set, peer-bench's table (size, ratio, pack and unpack MB/s of the whole process)
# with rows for lumopack at the best and the default level and for 7z, then the size ratios
# the packer is measured by. Figures only: nothing here passes or fails.
#
#   bench/pack-bench.sh [--runs N] [--sets pe,wav,text,mixed]
#     --runs N   unpack timing: at least N runs and 3 s (default 3); packing is timed once
#   CORPUS=/tmp/corpus (built with ../shared/bench/make-corpus.sh when missing)
#   BUILD=build/pack-bench (release build of lumopack)
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
RUNS=3; SETS=pe,wav,text,mixed
while [ $# -gt 0 ]; do
  case $1 in
    --runs) RUNS=$2; shift 2;;
    --sets) SETS=$2; shift 2;;
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
echo "# size ratios (lower is smaller) and speeds"
cat "$SUMMARY"
