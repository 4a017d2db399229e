#!/bin/bash
# make-large-addon.sh: an add-on folder far larger than the bench corpus, for
# the packer's memory and time figures: the corpus's mixed set (pe/, text/,
# wav/) repeated, each copy changed a little.
#
#   bench/make-large-addon.sh SIZE OUT    SIZE in MB (10^6 bytes), e.g. 1074 for 1 GiB
#   CORPUS=/tmp/corpus (built with ../shared/bench/make-corpus.sh)
#
# OUT/copy-00, OUT/copy-01, ... each hold mixed.tar's files in name order until
# the folder holds SIZE MB (the last copy stops part way). In copy k, every
# 65536th byte of each file from byte 4096 + 7k on is XORed with k + 1 (copy-00
# is changed too, and files' headers are not, so that every copy's WAV files
# are found as such), so no two copies are equal; copies lie some 77 MB apart,
# beyond the packed stream's 1 MiB window, so each packs about as the corpus
# does. The same SIZE always gives the same bytes.
set -euo pipefail
export LC_ALL=C
[ $# -eq 2 ] || { sed -n '2,/^set -euo/p' "$0" | sed '$d; s/^# \{0,1\}//' >&2; exit 2; }
SIZE_MB=$1; OUT=$2
CORPUS=${CORPUS:-/tmp/corpus}
[ -f "$CORPUS/mixed.tar" ] || { echo "make-large-addon: $CORPUS/mixed.tar is missing" >&2; exit 1; }
STAGE=$(mktemp -d)
trap 'rm -rf "$STAGE"' EXIT
tar -C "$STAGE" -xf "$CORPUS/mixed.tar"
rm -rf "$OUT"; mkdir -p "$OUT"
python3 - "$STAGE" "$OUT" "$SIZE_MB" <<'PY'
import os, sys
stage, out, size_mb = sys.argv[1], sys.argv[2], int(sys.argv[3])
files = sorted(os.path.relpath(os.path.join(d, n), stage) for d, _, ns in os.walk(stage) for n in ns)
left = size_mb * 1000000
k = 0
while left > 0:
    for rel in files:
        if left <= 0:
            break
        with open(os.path.join(stage, rel), "rb") as f:
            data = bytearray(f.read(left))
        data[4096 + 7 * k::65536] = bytes(b ^ ((k + 1) & 0xFF) for b in data[4096 + 7 * k::65536])
        path = os.path.join(out, "copy-%02d" % k, rel)
        os.makedirs(os.path.dirname(path), exist_ok=True)
        with open(path, "wb") as f:
            f.write(data)
        left -= len(data)
    k += 1
PY
find "$OUT" -type f -printf '%s\n' | awk -v out="$OUT" '{s += $1; n++} END {printf "make-large-addon: %s: %d files, %d bytes\n", out, n, s}'
