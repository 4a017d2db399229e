#!/usr/bin/env bash
# Makes lumopack's packages in build/packages/: the Debian package (lumopack,
# the stubs of the windows-x86, windows-x64 and posix targets, the manual
# page) and the Windows zip (lumopack.exe beside the two Windows stubs).
#
# The stubs come from three builds, made here without tests in build/package-*:
# the two Windows builds first, then the host build, which makes lumopack and
# the POSIX stub and is told where the Windows stubs are through the cache
# variables LUMO_STUB_WINDOWS_X86 and LUMO_STUB_WINDOWS_X64 (the zip's build
# is told of the other Windows stub the same way).
#
# Usage: scripts/package.sh
#   then: apt install ./build/packages/lumopack_*.deb
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install-deps.sh package

jobs=$(nproc)
stub_x86=$PWD/build/package-mingw32/launcher/lumo-stub.exe
stub_x64=$PWD/build/package-mingw64/launcher/lumo-stub.exe
configure() {  # PRESET FOLDER [CACHE SETTINGS...]
  cmake --preset "$1" -B "$2" -DLUMO_BUILD_TESTS=OFF -DLUMO_BUILD_BENCH=OFF "${@:3}" >/dev/null
}

configure mingw64 build/package-mingw64
cmake --build build/package-mingw64 --target lumo-stub -j "$jobs"
configure mingw32 build/package-mingw32 -DLUMO_STUB_WINDOWS_X64="$stub_x64"
cmake --build build/package-mingw32 --target lumopack lumo-stub -j "$jobs"
configure release build/package-host -DLUMO_STUB_WINDOWS_X86="$stub_x86" -DLUMO_STUB_WINDOWS_X64="$stub_x64"
cmake --build build/package-host --target lumopack lumo-stub lumopack_manual -j "$jobs"

rm -rf build/packages
cpack --config build/package-host/CPackConfig.cmake -G DEB -B build/packages/work
cpack --config build/package-mingw32/CPackConfig.cmake -G ZIP -B build/packages/work
mv build/packages/work/*.deb build/packages/work/*.zip build/packages/
rm -rf build/packages/work
ls -l build/packages
