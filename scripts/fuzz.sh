#!/usr/bin/env bash
# Runs the libFuzzer targets: scripts/fuzz.sh [SECONDS] [TARGET...]
#   SECONDS  how long each target runs at most (default 60)
#   TARGET   some of: unpack_stream container_walk installer_layout round_trip
#            setup_script pe_version_resource wine_registry stream_install
#            (default: all)
# LUMO_FUZZ_RUNS=N ends each target after N inputs (or SECONDS, whichever
# comes first); LUMO_FUZZ_PARALLEL=N runs N targets side by side (default 1).
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

fuzz_one() {  # target: runs it, prints its line of figures; fails when the target found a fault
    local target=$1 found="$build/found/$1" log="$build/found/$1.log" dict=() runs=()
    mkdir -p "$found" "$build/artifacts"
    [[ -f fuzz/$target.dict ]] && dict=(-dict="fuzz/$target.dict")
    [[ -n ${LUMO_FUZZ_RUNS:-} ]] && runs=(-runs="$LUMO_FUZZ_RUNS")
    local started=$SECONDS
    if ! "$build/fuzz/fuzz_$target" "$found" "fuzz/corpus/$target" "${dict[@]}" "${runs[@]}" \
        -max_total_time="$seconds" -max_len="$(max_len "$target")" -timeout=20 -rss_limit_mb=2048 \
        -print_final_stats=1 -artifact_prefix="$build/artifacts/$target-" >"$log" 2>&1; then
        echo "$target: FAILED, see $log"
        grep -E "ERROR|property failed|SUMMARY" "$log" | head -5
        return 1
    fi
    local executions rate last cov ft
    executions=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log")
    rate=$(sed -n 's/^stat::average_exec_per_sec: *//p' "$log")
    last=$(grep -E '^#[0-9]+' "$log" | tail -1)
    cov=$(sed -n 's/.* cov: \([0-9]*\).*/\1/p' <<<"$last")
    ft=$(sed -n 's/.* ft: \([0-9]*\).*/\1/p' <<<"$last")
    echo "$target: $executions executions in $((SECONDS - started))s ($rate/s), coverage $cov edges, $ft features"
    if [[ ${LUMO_FUZZ_MERGE:-0} == 1 ]]; then
        "$build/fuzz/fuzz_$target" -merge=1 -max_len="$(max_len "$target")" "fuzz/corpus/$target" "$found" \
            >>"$log" 2>&1
    fi
}

status=0
parallel=${LUMO_FUZZ_PARALLEL:-1}
running=0
for target in "${targets[@]}"; do
    if ((running >= parallel)); then
        wait -n || status=1
        running=$((running - 1))
    fi
    fuzz_one "$target" &
    running=$((running + 1))
done
while ((running > 0)); do
    wait -n || status=1
    running=$((running - 1))
done
exit $status
