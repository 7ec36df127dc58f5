#!/usr/bin/env bash
# bench/startup.sh [BUILD_DIR]: what one run of `quillet -s` costs as a whole
# process, next to the floor (do_nothing: a program that does nothing, linked
# like quillet; do_nothing_apr: the same, bringing APR up and down as quillet
# must), /bin/true and `expr 1 + 2`, all in one run:
#   1. instructions executed from exec to exit, under valgrind's callgrind
#      (repeatable on a busy machine), and where quillet's go;
#   2. wall-time medians of ROUNDS interleaved rounds (default 1000).
# Builds what it needs (make bench-build) into BUILD_DIR, default build-bench.
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
build=$(realpath -m "${1:-$root/build-bench}")
rounds=${ROUNDS:-1000}
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

# Inclusive instructions of one function in the profile of run $1. Read
# from the temporary folder: run inside the source tree, callgrind_annotate
# also lists main under a relative file name that holds only part of its count.
part() {
    (cd "$tmp" && callgrind_annotate --inclusive=yes --threshold=100 "$1.out" 2>/dev/null) |
        awk -v pattern="$2" 'index($0, pattern) { gsub(",", "", $1); print $1; exit }'
}
row() {
    echo "| $1 | $(part quillet "$2") | $(part nothing "$2") | $(part nothing_apr "$2") |"
}
echo
echo "Where the instructions go (inclusive counts; lazy binding happens inside the other rows):"
echo
echo "| part | quillet | do-nothing | do-nothing with APR |"
echo "|---|---:|---:|---:|"
row "dynamic loader, up to the program's start (_dl_start)" ':_dl_start '
row "APR brought up before main (apr_initialize)" ':apr_initialize '
row "main" ':main '
row "of which VerifyExpression" 'CExprUtil::VerifyExpression('
row "of which, inside it, quorlith_printf (3 records)" ':quorlith_printf '
row "exit, APR brought down included (exit)" ':exit '
row "lazy binding of library functions (_dl_runtime_resolve)" ':_dl_runtime_resolve'

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
