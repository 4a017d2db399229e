#!/bin/bash
# stub-size.sh: the installer stubs' sizes against their goals, and where their bytes go.
# Every installer carries its stub, so a change that adds to it is seen here. Figures only:
# nothing here passes or fails.
#
#   bench/stub-size.sh [--top N] [--brief] [BUILD_DIR...]
#     BUILD_DIR  a build folder holding launcher/lumo-stub(.exe) (default: build/mingw32,
#                build/mingw64 and build/release, those that hold a stub)
#     --top N    the N largest object files and archive members (default 25)
#     --brief    sizes and goals only
#
# Per stub: its size in bytes against its goal; the file's sections; the linked input by part
# (each of our libraries, the C++ and C runtimes, start-up code, resources, import tables) and
# by kind of section (code, read-only data, data, unwind tables, other); the largest inputs.
# The breakdown reads the link map the build writes beside the stub (lumo-stub(.exe).map);
# input sizes are before the linker aligns the sections, so they add up to a little less than
# the file.
set -euo pipefail
export LC_ALL=C
ROOT=$(cd "$(dirname "$0")/.." && pwd)
TOP=25
BRIEF=0
DIRS=()
while [ $# -gt 0 ]; do
  case $1 in
    --top) TOP=$2; shift 2;;
    --brief) BRIEF=1; shift;;
    -h|--help) sed -n '2,/^set -euo/p' "$0" | sed '$d; s/^# \{0,1\}//'; exit 0;;
    -*) echo "stub-size: unknown argument $1" >&2; exit 2;;
    *) DIRS+=("$1"); shift;;
  esac
done
[ ${#DIRS[@]} -gt 0 ] || DIRS=("$ROOT/build/mingw32" "$ROOT/build/mingw64" "$ROOT/build/release")

# The goals: a quarter of what the stubs weighed before they were slimmed.
goal_of() {
  case $1 in
    i686) echo 98304;; x86_64) echo 98304;; posix) echo 131072;;
  esac
}

# The stub's kind from its first bytes: a PE file's machine, or ELF.
kind_of() {
  local magic pe machine
  magic=$(od -An -tx1 -N4 "$1" | tr -d ' ')
  case $magic in
    7f454c46) echo posix; return;;
    4d5a*) ;;
    *) echo unknown; return;;
  esac
  pe=$(od -An -tu4 -j60 -N4 "$1" | tr -d ' ')
  machine=$(od -An -tu2 -j$((pe + 4)) -N2 "$1" | tr -d ' ')
  case $machine in
    332) echo i686;; 34404) echo x86_64;; *) echo unknown;;  # 0x14c, 0x8664
  esac
}

thousands() { printf '%d' "$1" | sed ':a; s/\B[0-9]\{3\}\>/,&/; ta'; }

# name size, one line per section of the file, from the tools of its kind.
file_sections() {
  case $2 in
    # Zero-filled sections (.bss, .tbss) take no room in the file.
    posix) size -A "$1" | awk 'NR > 2 && $1 ~ /^\./ && $3 != 0 && $1 !~ /^\.t?bss$/ { print $1, $2 }';;
    i686|x86_64)
      local prefix=i686-w64-mingw32-
      [ "$2" = x86_64 ] && prefix=x86_64-w64-mingw32-
      # PE sections take whole 512-byte blocks of the file; .bss takes none.
      "${prefix}objdump" -h "$1" | awk '$1 ~ /^[0-9]+$/ && $2 != ".bss" {
        n = 0; s = tolower($3)
        for (i = 1; i <= length(s); i++) n = n * 16 + index("0123456789abcdef", substr(s, i, 1)) - 1
        print $2, int((n + 511) / 512) * 512 }';;
  esac
}

# file<TAB>section<TAB>bytes for every input section the map places in the output.
map_inputs() {
  awk '
    function hex(s,   i, v) {
      v = 0; s = tolower(s); sub(/^0x/, "", s)
      for (i = 1; i <= length(s); i++) v = v * 16 + index("0123456789abcdef", substr(s, i, 1)) - 1
      return v
    }
    function add(section, size, file) { if (out != "" && size > 0) printf "%s\t%s\t%d\n", file, out, size }
    /^Linker script and memory map/ { started = 1; next }
    !started { next }
    /^[^ ]/ {
      split($0, header, /[ \t]+/); out = header[1]; pending = ""
      if (out ~ /^(\.debug|\.comment|\.gnu_debug|\/DISCARD\/|\.stab|\.symtab|\.strtab|\.shstrtab|OUTPUT|LOAD|START)/) out = ""
      next
    }
    out == "" { next }
    /^ [^ ]+$/ { pending = $1; next }
    /^ +0x[0-9a-f]+ +0x[0-9a-f]+ +[^ ]/ && pending != "" { add(pending, hex($2), substr($0, index($0, $3))); pending = ""; next }
    /^ [^ *]+ +0x[0-9a-f]+ +0x[0-9a-f]+ +[^ ]/ { add($1, hex($3), substr($0, index($0, $4))); next }
    { pending = "" }
  ' "$1"
}

# Names each input by the part of the program it belongs to, and shortens it.
classify() {
  awk -F'\t' -v OFS='\t' '
    {
      file = $1; part = "other"; name = file
      member = file; sub(/.*\(/, "", member); sub(/\)$/, "", member)
      archive = file; sub(/\(.*/, "", archive); sub(/.*\//, "", archive)
      if (file ~ /liblumo_[a-z0-9_]+\.a\(/) {
        part = archive; sub(/^liblumo_/, "", part); sub(/\.a$/, "", part)
        name = part "/" member
      } else if (file ~ /lumo-stub\.dir\// && file ~ /\.res$/) {
        part = "resources"; name = "resources (icon, dialogs, texts, version, manifest)"
      } else if (file ~ /lumo-stub\.dir\//) {
        part = "stub entry and runtime"; name = file; sub(/.*lumo-stub\.dir\//, "launcher/", name)
      } else if (archive ~ /^lib(std)?c\+\+|^libsupc\+\+/) { part = "C++ runtime (libstdc++)"; name = archive "(" member ")"
      } else if (archive ~ /^libgcc/) { part = "compiler runtime (libgcc)"; name = archive "(" member ")"
      } else if (archive ~ /pthread/) { part = "threads (winpthread)"; name = archive "(" member ")"
      } else if (archive ~ /^lib(mingw32|mingwex|msvcrt|moldname)\.a$/ && file ~ /\(/) {
        part = "C runtime and start-up"; name = archive "(" member ")"
      } else if (file ~ /\.a\(/) { part = "import tables"; name = archive
      } else if (file == "dll stuff" || file == "linker stubs") { part = "import tables"
      } else if (file ~ /crt[^\/]*\.o$/) { part = "C runtime and start-up"; sub(/.*\//, "", name)
      }
      section = $2; kind = "other"
      # The ELF linker books the tables it makes itself under the first input file.
      if (section ~ /^\.(interp|note|gnu\.hash|hash|dynsym|dynstr|gnu\.version|rela?\.|dynamic|got|plt)/) {
        part = "dynamic linking (linker)"; name = "dynamic symbols, relocations, PLT and GOT"; kind = "import tables"
      } else if (section ~ /^\.(text|init|fini)/) kind = "code"
      else if (section ~ /^\.(rdata|rodata)/) kind = "read-only data"
      else if (section ~ /^\.(data|bss|tls|CRT|init_array|fini_array)/) kind = "data"
      else if (section ~ /^\.(eh_frame|pdata|xdata|gcc_except_table)/) kind = "unwind tables"
      else if (section ~ /^\.rsrc/) kind = "resources"
      else if (section ~ /^\.idata/) kind = "import tables"
      print part, name, kind, $3
    }'
}

report() {
  local dir=$1 stub kind goal size map
  stub=$dir/launcher/lumo-stub
  [ -f "$stub" ] || stub=$dir/launcher/lumo-stub.exe
  [ -f "$stub" ] || return 0
  kind=$(kind_of "$stub")
  goal=$(goal_of "$kind")
  size=$(stat -c %s "$stub")
  if [ -n "$goal" ]; then
    local verdict="$(thousands $((goal - size))) under"
    [ "$size" -gt "$goal" ] && verdict="$(thousands $((size - goal))) over"
    printf '%-8s %s: %s bytes, goal %s (%s)\n' "$kind" "${stub#$ROOT/}" "$(thousands "$size")" \
      "$(thousands "$goal")" "$verdict"
  else
    printf '%-8s %s: %s bytes\n' "$kind" "${stub#$ROOT/}" "$(thousands "$size")"
  fi
  [ $BRIEF = 1 ] && return 0

  echo "  file sections (bytes in the file):"
  file_sections "$stub" "$kind" | awk -v total="$size" '
    { printf "    %-18s %8d\n", $1, $2; sum += $2 }
    END { if (total > sum) printf "    %-18s %8d\n", "(headers, padding)", total - sum }'

  map=$stub.map
  if [ ! -f "$map" ]; then
    echo "  no link map beside the stub ($map): rebuild it for the breakdown"
    echo
    return 0
  fi
  local inputs
  inputs=$(map_inputs "$map" | classify)
  echo "  linked input by part and kind of section (bytes):"
  printf '%s\n' "$inputs" | awk -F'\t' '
    BEGIN { split("code,read-only data,data,unwind tables,resources,import tables,other", kinds, ",") }
    { total[$1] += $4; cell[$1, $3] += $4; all += $4 }
    END {
      printf "    %-28s %8s", "part", "total"
      for (k = 1; k <= 7; k++) printf " %14s", kinds[k]
      printf "\n"
      n = 0; for (p in total) order[++n] = p
      for (i = 1; i <= n; i++) for (j = i + 1; j <= n; j++)
        if (total[order[j]] > total[order[i]]) { t = order[i]; order[i] = order[j]; order[j] = t }
      for (i = 1; i <= n; i++) {
        p = order[i]; printf "    %-28s %8d", p, total[p]
        for (k = 1; k <= 7; k++) printf " %14s", cell[p, kinds[k]] ? cell[p, kinds[k]] : "."
        printf "\n"
      }
      printf "    %-28s %8d\n", "all", all
    }'
  echo "  largest inputs (bytes):"
  printf '%s\n' "$inputs" | awk -F'\t' '{ t[$2] += $4 } END { for (n in t) printf "%d\t%s\n", t[n], n }' |
    sort -rn | head -n "$TOP" | awk -F'\t' '{ printf "    %8d  %s\n", $1, $2 }'
  echo
}

for dir in "${DIRS[@]}"; do report "$(cd "$dir" 2>/dev/null && pwd || echo "$dir")"; done
