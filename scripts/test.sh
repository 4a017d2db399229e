#!/usr/bin/env bash
# The whole test suite: installs what it needs, builds the host release and
# the sanitizer builds, and runs every test.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install-deps.sh test

jobs=$(nproc)
# The Windows builds come first: the tests under Wine run the x86_64 one
# throughout, and the i686 one, the release artefact, through a whole run.
for preset in mingw64 mingw32 release debug; do
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset" -j "$jobs"
done

# The sanitizer build runs first: a memory fault there fails the run early.
# The tests under Wine run once, from the release build.
ctest --preset debug -j "$jobs" -LE wine
ctest --preset release -j "$jobs"
