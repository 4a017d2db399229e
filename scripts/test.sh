#!/usr/bin/env bash
# The whole test suite: installs what it needs, builds the host release and
# the sanitizer builds, and runs every test.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install-deps.sh test

jobs=$(nproc)
# Where this kernel runs no 32-bit program, the i686 installer's tests run
# in an emulated machine: its image (cached outside the clone, made once per
# recipe) is made while the builds run.
image_maker=
if ! scripts/can-run-i386.sh; then
  mkdir -p build
  scripts/vm/make-image.sh >build/vm-image.log 2>&1 &
  image_maker=$!
fi

# The Windows builds come first: the tests under Wine run the x86_64 one
# throughout, and the i686 one, the release artefact, through whole runs.
for preset in mingw64 mingw32 release debug; do
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset" -j "$jobs"
done

if [ -n "$image_maker" ] && ! wait "$image_maker"; then
  echo "the emulated machine's image could not be made:" >&2
  tail -n 40 build/vm-image.log >&2
  exit 1
fi

# The sanitizer build runs first: a memory fault there fails the run early.
# The tests under Wine run once, from the release build.
ctest --preset debug -j "$jobs" -LE wine
# The core built for 32-bit x86, the i686 installer's sizes and offsets, its
# tests under qemu-i386.
scripts/test-32bit-core.sh
ctest --preset release -j "$jobs"
