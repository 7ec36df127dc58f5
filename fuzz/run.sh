#!/usr/bin/env bash
# run.sh BUILD_DIR SECONDS: runs every fuzz target for SECONDS at the same
# time, from the seeds in fuzz/corpus/<target>/ plus what earlier runs kept in
# BUILD_DIR/corpus/<target>/. A finding is saved under BUILD_DIR/findings/
# and fails the run. Prints the executions of each target.
set -u
cd "$(dirname "$0")/.."
build=$1
seconds=$2
targets=(verify evaluate log)
pids=()
mkdir -p "$build/findings"
for target in "${targets[@]}"; do
    mkdir -p "$build/corpus/$target"
    # The expression dictionary serves the expression targets only.
    dict=(-dict=fuzz/expression.dict)
    [ "$target" = log ] && dict=()
    "$build/bin/fuzz_$target" -max_total_time="$seconds" -max_len=4096 -timeout=10 \
        "${dict[@]}" -print_final_stats=1 \
        -artifact_prefix="$build/findings/$target-" \
        "$build/corpus/$target" "fuzz/corpus/$target" >"$build/fuzz_$target.log" 2>&1 &
    pids+=($!)
done
failed=0
for i in "${!targets[@]}"; do
    target=${targets[$i]}
    log="$build/fuzz_$target.log"
    if wait "${pids[$i]}"; then
        runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log")
        echo "fuzz_$target: $runs executions in $seconds s, no finding"
    else
        failed=1
        echo "fuzz_$target: FINDING, saved in $build/findings/ (log $log):"
        grep -E -B2 -A30 'ERROR|invariant broken|runtime error' "$log" | head -50
    fi
done
exit $failed
