#!/usr/bin/env bash
# Runs the libFuzzer targets: scripts/fuzz.sh [SECONDS] [TARGET...]
#   SECONDS  how long each target runs (default 60)
#   TARGET   some of: unpack_stream container_walk installer_layout round_trip
#            setup_script pe_version_resource wine_registry stream_install
#            (default: all)
# Builds the fuzz preset (clang, sanitizers) in $LUMO_FUZZ_BUILD (default
# build/fuzz). Each target starts from its corpus in fuzz/corpus/<target>;
# what it finds goes to <build>/found/<target>, a failing input to
# <build>/artifacts/. With LUMO_FUZZ_MERGE=1 the new finds are merged into
# the corpus in the repository afterwards (keeping only inputs that add
# coverage). Prints one line of figures a target: executions, seconds,
# coverage and the corpus size.
set -euo pipefail
cd "$(dirname "$0")/.."

seconds=${1:-60}
shift || true
all=(unpack_stream container_walk installer_layout round_trip setup_script pe_version_resource wine_registry
     stream_install)
targets=("${@:-${all[@]}}")
build=${LUMO_FUZZ_BUILD:-build/fuzz}

scripts/install-deps.sh test >/dev/null
cmake --preset fuzz -B "$build" -DLUMO_BUILD_TESTS=OFF >/dev/null
cmake --build "$build" -j "${LUMO_FUZZ_BUILD_JOBS:-2}" $(printf -- '--target fuzz_%s ' "${targets[@]}")

max_len() {
    case $1 in
        setup_script) echo 4096 ;;
        round_trip | wine_registry) echo 8192 ;;
        pe_version_resource) echo 65536 ;;
        *) echo 16384 ;;
    esac
}

status=0
for target in "${targets[@]}"; do
    found="$build/found/$target"
    mkdir -p "$found" "$build/artifacts"
    dict=()
    [[ -f fuzz/$target.dict ]] && dict=(-dict="fuzz/$target.dict")
    log="$build/found/$target.log"
    if ! "$build/fuzz/fuzz_$target" "$found" "fuzz/corpus/$target" "${dict[@]}" \
        -max_total_time="$seconds" -max_len="$(max_len "$target")" -timeout=20 -rss_limit_mb=2048 \
        -print_final_stats=1 -artifact_prefix="$build/artifacts/$target-" >"$log" 2>&1; then
        echo "$target: FAILED, see $log"
        grep -E "ERROR|property failed|SUMMARY" "$log" | head -5
        status=1
        continue
    fi
    runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log")
    rate=$(sed -n 's/^stat::average_exec_per_sec: *//p' "$log")
    last=$(grep -E '^#[0-9]+' "$log" | tail -1)
    cov=$(sed -n 's/.* cov: \([0-9]*\).*/\1/p' <<<"$last")
    ft=$(sed -n 's/.* ft: \([0-9]*\).*/\1/p' <<<"$last")
    echo "$target: $runs executions in ${seconds}s ($rate/s), coverage $cov edges, $ft features"
    if [[ ${LUMO_FUZZ_MERGE:-0} == 1 ]]; then
        "$build/fuzz/fuzz_$target" -merge=1 -max_len="$(max_len "$target")" "fuzz/corpus/$target" "$found" \
            >>"$log" 2>&1
    fi
done
exit $status
