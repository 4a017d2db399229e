#!/usr/bin/env bash
# Installs the Debian packages that building, testing, packaging and the
# benchmarks need; does nothing for packages already there.
# Usage: scripts/install-deps.sh [build|test|package|bench]
set -euo pipefail

build=(cmake ninja-build g++ pkg-config)
test=("${build[@]}" libgtest-dev googletest clang libclang-rt-14-dev
      mingw-w64 wine64 wine xvfb x11-utils xdotool imagemagick osslsigncode openssl tmux locales valgrind
      man-db groff-base dpkg-dev file unzip acl
      qemu-system-x86 qemu-utils mmdebstrap e2fsprogs
      g++-multilib qemu-user)
# Where the kernel runs no 32-bit program, the i686 installer runs under Wine
# in an emulated machine (qemu-system-x86, its image made by mmdebstrap), and
# the core's 32-bit build (g++-multilib) under qemu-i386 (qemu-user,
# scripts/test-32bit-core.sh).
# The i686 installer runs under Wine's 32-bit half, from the i386 architecture;
# without its recommends (graphics drivers, 150 packages more).
test32=(wine32:i386)
# The packages: the Windows stubs, and the Debian package's dependencies.
package=("${build[@]}" mingw-w64 dpkg-dev file)
bench=("${build[@]}" libdeflate-tools zstd xz-utils gzip p7zip-full makeself nsis hyperfine time)

# Wine's 32-bit half runs only where the kernel runs 32-bit programs. Where
# it cannot, Wine must never get it: wine64 recommends wine32, so a system
# with the i386 architecture would bring it along, and the wine command would
# then start the 32-bit loader and fail ("Exec format error"). There the i386
# architecture is not added, a wine32 already there is removed, and the
# i686 installer's tests run in an emulated machine (scripts/vm/).
native_i386=1
if [ "${1:-test}" = test ] && ! "$(dirname "$0")/can-run-i386.sh"; then
  echo "this kernel runs no 32-bit programs: Wine runs its 64-bit half only"
  native_i386=0
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
  # Where i386 is a foreign architecture but cannot run, wine32 is held out
  # of the same transaction that brings wine64 and its recommends.
  keep_out=()
  if [ $native_i386 = 0 ] && dpkg --print-foreign-architectures | grep -qx i386; then
    keep_out=(wine32:i386-)
  fi
  [ ${#native[@]} -eq 0 ] || apt-get install -y -qq "${native[@]}" "${keep_out[@]}" >/dev/null
  [ ${#foreign[@]} -eq 0 ] || apt-get install -y -qq --no-install-recommends "${foreign[@]}" >/dev/null
fi

# The Windows installer's German texts are tested under Wine in a German
# locale, which must exist for Wine to use it.
if [ "${1:-test}" = test ] && ! locale -a 2>/dev/null | grep -qi '^de_DE\.utf-\?8$'; then
  sed -i 's/^# *\(de_DE\.UTF-8 UTF-8\)/\1/' /etc/locale.gen
  locale-gen >/dev/null
fi
