#!/usr/bin/env bash
# run.sh BUILD_DIR SECONDS: runs every fuzz target for SECONDS, side by side,
# from the seeds in fuzz/corpus/<target>/ and what earlier runs kept in
# BUILD_DIR/corpus/<target>/. A finding is saved in BUILD_DIR/findings/ and
# fails the run; otherwise each target's executions are printed.
set -u
cd "$(dirname "$0")/.."
build=$1 seconds=$2 failed=0
declare -A pids
mkdir -p "$build/findings"
for target in verify log; do
    mkdir -p "$build/corpus/$target"
    dict=$([ $target = log ] || echo -dict=fuzz/expression.dict)  # expressions only
    "$build/bin/fuzz_$target" -max_total_time="$seconds" -max_len=4096 -timeout=10 $dict \
        -print_final_stats=1 -artifact_prefix="$build/findings/$target-" \
        "$build/corpus/$target" "fuzz/corpus/$target" >"$build/fuzz_$target.log" 2>&1 &
    pids[$target]=$!
done
for target in "${!pids[@]}"; do
    log=$build/fuzz_$target.log
    if wait "${pids[$target]}"; then
        echo "fuzz_$target: $(sed -n 's/^stat::number_of_executed_units: *//p' "$log") executions in $seconds s, no finding"
    else
        failed=1
        echo "fuzz_$target: FINDING, saved in $build/findings/ (log $log):"
        grep -E -B2 -A30 'ERROR|invariant broken|runtime error' "$log" | head -50
    fi
done
exit $failed
