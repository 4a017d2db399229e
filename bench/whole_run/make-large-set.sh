#!/bin/bash
# make-large-set.sh: the 200 MB mixed payload of the whole-run benchmark, built
# deterministically beside the bench corpus and from the same Debian sources.
#
#   CORPUS=/tmp/corpus bash bench/whole_run/make-large-set.sh
#
# Output: $CORPUS/large.tar (GNU tar, fixed metadata, like the corpus sets) and
# its line in $CORPUS/LARGE.SHA256.
#
# It holds mixed.tar's three trees (pe/, text/, wav/) whole, plus further files
# of each kind that the corpus left out, in a fixed order, until each kind
# reaches its share of 200,000,000 bytes (the shares of mixed.tar: wav 64 MB,
# text 33 MB, pe the rest):
#   wav/more/  colobot's Ogg Vorbis music from the 4th track on (sorted; tracks under
#              a minute skipped), seconds 30..60 decoded to 16-bit PCM with sox, no dither (as the corpus does)
#   text/more/ copyright and HTML files under /usr/share/doc and English man1
#              pages (decompressed), taking the files the corpus skipped:
#              copyright and HTML with NR%6 = 4, 0, 2, 3, 5; man1 with NR%20 =
#              11, 6, 16, 3, 8, 13, 18
#   pe/more/   wine's x86_64 PE files with NR%4 = 3, 2, 0 (sorted by name),
#              stripped the way the corpus strips them
# No file repeats another: the set is larger, not more redundant, so an
# archiver with a large dictionary gains nothing from copies. Like the text
# corpus, text/more depends on the packages installed; compare LARGE.SHA256
# before comparing figures across machines.
set -euo pipefail
export LC_ALL=C
CORPUS=${CORPUS:-/tmp/corpus}
TOTAL=200000000
WAV_SHARE=64000000
TEXT_SHARE=33000000
WINE=/usr/lib/x86_64-linux-gnu/wine/x86_64-windows
MUSIC=/usr/share/games/colobot/music

[ -f "$CORPUS/mixed.tar" ] || { echo "make-large-set: $CORPUS/mixed.tar is missing" >&2; exit 1; }
STAGE=$CORPUS/large-stage
rm -rf "$STAGE"; mkdir -p "$STAGE"
tar -C "$STAGE" -xf "$CORPUS/mixed.tar"
mkdir -p "$STAGE"/{pe,text,wav}/more

tree_bytes() { find "$STAGE/$1" -type f -printf '%s\n' | awk '{s += $1} END {print s + 0}'; }

# ---- wav: more music, 30 s of each track from the 4th on.
for f in $(ls "$MUSIC"/*.ogg | sort | tail -n +4); do
  [ "$(tree_bytes wav)" -lt "$WAV_SHARE" ] || break
  [ "$(soxi -D "$f" | cut -d. -f1)" -ge 60 ] || continue   # too short for seconds 30..60
  sox -D -R "$f" -b 16 -e signed-integer "$STAGE/wav/more/$(basename "$f" .ogg).wav" trim 30 30
done

# ---- text: the documentation files the corpus skipped, in a fixed order.
text_candidates() {
  local r
  for r in 4 0 2 3 5; do
    find /usr/share/doc -type f -name copyright | sort | awk -v r=$r 'NR%6==r'
    find /usr/share/doc -type f -name '*.html' | sort | awk -v r=$r 'NR%6==r'
  done
  for r in 11 6 16 3 8 13 18; do
    find /usr/share/man/man1 -type f -name '*.gz' | sort | awk -v r=$r 'NR%20==r'
  done
}
text_bytes=$(tree_bytes text)
while read -r f; do
  [ "$text_bytes" -lt "$TEXT_SHARE" ] || break
  case $f in
    /usr/share/man/*) d=$STAGE/text/more/man1/$(basename "$f" .gz); mkdir -p "$(dirname "$d")"; zcat "$f" > "$d";;
    *) d=$STAGE/text/more/doc/${f#/usr/share/doc/}; mkdir -p "$(dirname "$d")"; cp "$f" "$d";;
  esac
  text_bytes=$((text_bytes + $(stat -c %s "$d")))
done < <(text_candidates)

# ---- pe: the remaining wine binaries, stripped with their own time stamps kept.
pe_stamp() {  # the COFF TimeDateStamp of a PE file (decimal)
  local off; off=$(od -An -tu4 -j60 -N4 "$1" | tr -d ' ')
  od -An -tu4 -j$((off + 8)) -N4 "$1" | tr -d ' '
}
pe_budget=$((TOTAL - $(tree_bytes wav) - text_bytes))
pe_bytes=$(tree_bytes pe)
for r in 3 2 0; do
  while read -r f; do
    [ "$pe_bytes" -lt "$pe_budget" ] || break 2
    SOURCE_DATE_EPOCH=$(pe_stamp "$WINE/$f") x86_64-w64-mingw32-strip --strip-all -o "$STAGE/pe/more/$f" "$WINE/$f"
    pe_bytes=$((pe_bytes + $(stat -c %s "$STAGE/pe/more/$f")))
  done < <(find "$WINE" -maxdepth 1 -type f -printf '%f\n' | sort | awk -v r=$r 'NR%4==r')
done

TAR=(tar --format=gnu --sort=name --mtime=@0 --owner=0 --group=0 --numeric-owner --mode=u=rw,go=r,a+X)
"${TAR[@]}" -C "$STAGE" -cf "$CORPUS/large.tar" pe text wav
rm -rf "$STAGE"
(cd "$CORPUS" && sha256sum large.tar > LARGE.SHA256 && stat -c '%n %s' large.tar && cat LARGE.SHA256)
