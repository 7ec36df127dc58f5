#!/usr/bin/env bash
# bench/startup.sh [BUILD_DIR]: what one run of `quillet -s` costs as a whole
# process, next to the floor (do_nothing: a program that does nothing, linked
# like quillet; do_nothing_apr: the same, bringing APR up and down as quillet
# must), /bin/true and `expr 1 + 2`, all in one run:
#   1. instructions executed from exec to exit, under valgrind's callgrind
#      (repeatable on a busy machine), and where quillet's go;
#   2. wall-time medians of ROUNDS interleaved runs (default 300).
# Builds what it needs (make bench-build) into BUILD_DIR, default build-bench.
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
build=$(realpath -m "${1:-$root/build-bench}")
rounds=${ROUNDS:-300}
expression='({$1} + 25) * 3 >= 400 && ({$2} % 7 == 0 || {$3} / 4 > 12) & 255 ^ 1 | 4 || {$12} * 16 - {$3} != 70'

make -s -C "$root" bench-build BENCH_DIR="$build" >/dev/null
quillet=$build/bin/quillet
nothing=$build/bin/do_nothing
nothing_apr=$build/bin/do_nothing_apr
expr_program=$(command -v expr)
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT

echo "Shared libraries each program loads (DT_NEEDED):"
for program in "$quillet" "$nothing" "$nothing_apr"; do
    echo "  $(basename "$program"): $(readelf -d "$program" | sed -n 's/.*Shared library: \[\(.*\)\]/\1/p' | paste -sd' ')"
done

# Instructions of one whole run of the command; its callgrind profile is
# left in $tmp/NAME.out.
instructions() {
    local name=$1
    shift
    valgrind --tool=callgrind --callgrind-out-file="$tmp/$name.out" --log-file="$tmp/$name.log" \
        "$@" >/dev/null 2>&1 || true
    sed -n 's/.*Collected : \([0-9]*\).*/\1/p' "$tmp/$name.log"
}

quillet_count=$(instructions quillet "$quillet" -s "$expression")
nothing_count=$(instructions nothing "$nothing")
nothing_apr_count=$(instructions nothing_apr "$nothing_apr")
true_count=$(instructions true /bin/true)
expr_count=$(instructions expr "$expr_program" 1 + 2)

echo
echo "Instructions from exec to exit (callgrind):"
echo
echo "| program | instructions | × do-nothing |"
echo "|---|---:|---:|"
for row in "quillet -s (99-byte expression):$quillet_count" "do-nothing, linked like quillet:$nothing_count" \
    "do-nothing with APR up and down:$nothing_apr_count" "/bin/true:$true_count" "expr 1 + 2:$expr_count"; do
    awk -v name="${row%%:*}" -v n="${row##*:}" -v floor="$nothing_count" \
        'BEGIN { printf "| %s | %d | %.2f |\n", name, n, n / floor }'
done

# Inclusive instructions of one function in quillet's profile.
part() {
    callgrind_annotate --inclusive=yes "$tmp/quillet.out" 2>/dev/null |
        awk -v pattern="$1" 'index($0, pattern) { gsub(",", "", $1); print $1; exit }'
}
echo
echo "Where quillet's instructions go (inclusive):"
echo
echo "| part | instructions |"
echo "|---|---:|"
echo "| dynamic loader before the program starts (_dl_start) | $(part ':_dl_start ') |"
echo "| APR brought up before main (apr_initialize) | $(part ':apr_initialize ') |"
echo "| main | $(part 'cli/main.cpp:main ') |"
echo "| of which VerifyExpression | $(part 'CExprUtil::VerifyExpression(') |"
echo "| of which, inside it, quorlith_printf (3 records) | $(part ':quorlith_printf ') |"
echo "| APR brought down at exit (apr_terminate) | $(part ':apr_terminate ') |"
echo "| lazy binding of library calls (_dl_runtime_resolve) | $(part ':_dl_runtime_resolve') |"

echo
echo "Wall time, $rounds interleaved rounds:"
echo
"$build/bin/startup_timer" "$rounds" "quillet -s (99-byte expression)" "$quillet" -s "$expression" \
    -- "do-nothing, linked like quillet" "$nothing" -- "do-nothing with APR up and down" "$nothing_apr" -- /bin/true /bin/true -- "expr 1 + 2" "$expr_program" 1 + 2 |
    tee "$tmp/times"

median() { awk -F'|' -v name="$1" '$2 ~ name { gsub(/ /, "", $3); print $3 }' "$tmp/times"; }
echo
echo "Targets:"
awk -v q="$quillet_count" -v f="$nothing_count" -v fa="$nothing_apr_count" -v qt="$(median 'quillet')" \
    -v et="$(median 'expr 1')" 'BEGIN {
    printf "  instructions, quillet / do-nothing: %.2f (target at most 1.2: %s)\n", q / f, q / f <= 1.2 ? "met" : "MISSED"
    printf "  instructions, quillet / do-nothing with APR up and down: %.2f\n", q / fa
    printf "  wall-time median, quillet / expr 1 + 2: %.2f (target at most 1: %s)\n", qt / et, qt <= et ? "met" : "MISSED"
}'
