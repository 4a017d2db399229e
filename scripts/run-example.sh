#!/usr/bin/env bash
# The main job: builds the installer stub and lumopack, packs the example
# add-on (examples/addon) into an installer and runs it as a user would. The
# terminal shows the progress dialog, then the stand-in setup program reports
# the staging folder it was started in and the files it found there.
#
# Usage: scripts/run-example.sh            (build folder: build/release)
#        BUILD_DIR=build/mine scripts/run-example.sh
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install-deps.sh build

build_dir=${BUILD_DIR:-build/release}
cmake --preset release -B "$build_dir" >/dev/null
cmake --build "$build_dir" --target lumo-stub lumopack -j "$(nproc)"

installer="$build_dir/example/lumo-example-installer"
mkdir -p "$(dirname "$installer")"
# The POSIX target, so that it runs here (the default makes a Windows one).
"$build_dir/tools/lumopack/lumopack" build examples/addon -o "$installer" --target posix
"$build_dir/tools/lumopack/lumopack" list "$installer"

echo
echo "Running $installer (staging folder below ${TMPDIR:-/tmp})"
"$installer"

# The installer hands off to the setup program without waiting for it, as
# on Windows; wait a moment so that its report is not mixed with the prompt.
staging="${TMPDIR:-/tmp}"
staging="${staging%/}/Lumo.40"
for _ in $(seq 50); do
  pgrep -f "$staging/Setup.exe" >/dev/null || break
  sleep 0.1
done
sleep 0.2

if [ ! -e "$staging/Readme.txt" ]; then
  echo
  echo "Only the files up to Setup.exe were unpacked: the add-on's Setup.cfg asks for"
  echo "Lumo 5.x, and no such installation was found (on POSIX it is looked up in the"
  echo "Wine prefix, WINEPREFIX or ~/.wine). The setup program was started all the same."
fi
