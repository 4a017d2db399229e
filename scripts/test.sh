#!/usr/bin/env bash
# The whole test suite: installs what it needs, builds the host release and
# the sanitizer builds, and runs every test.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install-deps.sh test

jobs=$(nproc)
for preset in release debug; do
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset" -j "$jobs"
done

# The sanitizer build runs first: a memory fault there fails the run early.
ctest --preset debug -j "$jobs"
ctest --preset release -j "$jobs"
