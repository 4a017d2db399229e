#!/usr/bin/env bash
# The installer's core built for 32-bit x86 (preset posix32) and its tests
# run under qemu-i386, so that the core's sizes and offsets are tested with
# the 32-bit size_t and pointers of the i686 Windows installer, also where
# the kernel runs no 32-bit program. Exits non-zero when a test fails.
#   scripts/test-32bit-core.sh [ctest arguments...]   e.g. -R Largest
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install-deps.sh test

jobs=$(nproc)
cmake --preset posix32 >/dev/null
cmake --build --preset posix32 -j "$jobs"
ctest --preset posix32 -j "$jobs" "$@"
