#!/usr/bin/env bash
# bench/startup.sh [BUILD_DIR]: what one run of `quillet -s` costs as a whole
# process, next to the floor (do_nothing: a program that does nothing, linked
# like quillet; do_nothing_apr: the same, bringing APR up and down as quillet
# must), /bin/true and `expr 1 + 2`: the instructions executed from exec to
# exit, under valgrind's callgrind (repeatable on a busy machine, as wall time
# is not). Builds what it needs (make bench-build) into BUILD_DIR, default build-bench.
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
build=$(realpath -m "${1:-$root/build-bench}")
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

# instructions NAME COMMAND...: the instructions of one whole run of COMMAND.
instructions() {
    valgrind --tool=callgrind --callgrind-out-file="$tmp/$1.out" --log-file="$tmp/$1.log" "${@:2}" >/dev/null 2>&1 || true
    sed -n 's/.*Collected : \([0-9]*\).*/\1/p' "$tmp/$1.log"
}

quillet_count=$(instructions quillet "$quillet" -s "$expression")
nothing_count=$(instructions nothing "$nothing")
nothing_apr_count=$(instructions nothing_apr "$nothing_apr")
true_count=$(instructions true /bin/true)
expr_count=$(instructions expr "$expr_program" 1 + 2)

printf '\nInstructions from exec to exit (callgrind):\n\n| program | instructions | × do-nothing |\n|---|---:|---:|\n'
for row in "quillet -s (99-byte expression):$quillet_count" "do-nothing, linked like quillet:$nothing_count" \
    "do-nothing with APR up and down:$nothing_apr_count" "/bin/true:$true_count" "expr 1 + 2:$expr_count"; do
    awk -v name="${row%%:*}" -v n="${row##*:}" -v floor="$nothing_count" \
        'BEGIN { printf "| %s | %d | %.2f |\n", name, n, n / floor }'
done

echo
echo "Targets:"
awk -v q="$quillet_count" -v f="$nothing_count" -v fa="$nothing_apr_count" 'BEGIN {
    printf "  instructions, quillet / do-nothing: %.2f (target at most 1.2: %s)\n", q / f, q / f <= 1.2 ? "met" : "MISSED"
    printf "  instructions, quillet / do-nothing with APR up and down: %.2f\n", q / fa
}'
