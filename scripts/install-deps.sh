#!/usr/bin/env bash
# Installs the Debian packages that building, testing, packaging and the
# benchmarks need; does nothing for packages already there.
# Usage: scripts/install-deps.sh [build|test|package|bench]
set -euo pipefail

build=(cmake ninja-build g++ pkg-config)
test=("${build[@]}" libgtest-dev googletest clang libclang-rt-14-dev
      mingw-w64 wine64 wine xvfb x11-utils xdotool imagemagick osslsigncode openssl tmux locales valgrind
      man-db groff-base dpkg-dev file unzip
      g++-multilib qemu-user)  # the 32-bit core's tests (scripts/test-32bit-core.sh)
# The i686 installer runs under Wine's 32-bit half, from the i386 architecture;
# without its recommends (graphics drivers, 150 packages more).
test32=(wine32:i386)
# The packages: the Windows stubs, and the Debian package's dependencies.
package=("${build[@]}" mingw-w64 dpkg-dev file)
bench=("${build[@]}" libdeflate-tools zstd xz-utils gzip p7zip-full makeself nsis hyperfine time)

# Wine's 32-bit half runs only where the kernel runs 32-bit programs. Where
# it cannot, a wine32 that is there would still be taken by the wine command
# and fail: it is removed, so that wine runs its 64-bit half, and the tests
# of the i686 installer under Wine say that they cannot run here.
i386_kernel() {
  if ! dpkg-query -W -f='${Status}' libc6:i386 2>/dev/null | grep -q 'install ok installed'; then
    dpkg --print-foreign-architectures | grep -qx i386 || dpkg --add-architecture i386
    apt-get update -qq
    DEBIAN_FRONTEND=noninteractive apt-get install -y -qq libc6:i386 >/dev/null
  fi
  "$(dirname "$0")/can-run-i386.sh"
}
if [ "${1:-test}" = test ] && ! i386_kernel; then
  echo "this kernel runs no 32-bit programs: Wine runs its 64-bit half only"
  test32=()
  if dpkg-query -W -f='${Status}' wine32:i386 2>/dev/null | grep -q 'install ok installed'; then
    DEBIAN_FRONTEND=noninteractive apt-get remove -y -qq wine32:i386 >/dev/null
  fi
fi

case "${1:-test}" in
  build) wanted=("${build[@]}") ;;
  test) wanted=("${test[@]}" "${test32[@]}") ;;
  package) wanted=("${package[@]}") ;;
  bench) wanted=("${bench[@]}") ;;
  *) echo "usage: $0 [build|test|package|bench]" >&2; exit 2 ;;
esac

missing=()
for p in "${wanted[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  echo "installing: ${missing[*]}"
  export DEBIAN_FRONTEND=noninteractive
  native=() foreign=()
  for p in "${missing[@]}"; do
    case "$p" in *:i386) foreign+=("$p") ;; *) native+=("$p") ;; esac
  done
  if [ ${#foreign[@]} -gt 0 ] && ! dpkg --print-foreign-architectures | grep -qx i386; then
    dpkg --add-architecture i386
  fi
  apt-get update -qq
  [ ${#native[@]} -eq 0 ] || apt-get install -y -qq "${native[@]}" >/dev/null
  [ ${#foreign[@]} -eq 0 ] || apt-get install -y -qq --no-install-recommends "${foreign[@]}" >/dev/null
fi

# The Windows installer's German texts are tested under Wine in a German
# locale, which must exist for Wine to use it.
if [ "${1:-test}" = test ] && ! locale -a 2>/dev/null | grep -qi '^de_DE\.utf-\?8$'; then
  sed -i 's/^# *\(de_DE\.UTF-8 UTF-8\)/\1/' /etc/locale.gen
  locale-gen >/dev/null
fi
