#!/usr/bin/env bash
# check-targets.sh BUILD_DIR: times quillet-check on its two targets: the
# 99-byte rule of bench/Samples.h (three questions, at most 0.5 s) and
# 1,000 rules of its four short shapes, constants varied with a fixed seed
# (at most 60 s). Prints each time; fails when a target is missed.
set -euo pipefail
tool=${1:?usage: check-targets.sh BUILD_DIR}/bin/quillet-check
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# The rule texts as bench/Samples.h has them.
echo '({$1} + 25) * 3 >= 400 && ({$2} % 7 == 0 || {$3} / 4 > 12) & 255 ^ 1 | 4 || {$12} * 16 - {$3} != 70' \
    >"$work/99-byte"
awk 'BEGIN {
    srand(7)
    for (i = 0; i < 1000; i++) {
        a = int(rand() * 2001) - 1000; b = int(rand() * 2001) - 1000; c = int(rand() * 1000) + 1
        if (i % 4 == 0) printf "{$1} > %d && {$2} < %d\n", a, b
        if (i % 4 == 1) printf "{$1} >= %d && {$1} <= %d || {$12} == %d\n", a, b, c
        if (i % 4 == 2) printf "{$3} / {$2} > %d\n", a
        if (i % 4 == 3) printf "({$1} + {$2}) %% %d != 0 && {$3} < %d\n", c, b
    }
}' >"$work/short-1000"

missed=0
for target in "99-byte 0.5" "short-1000 60"; do
    read -r name limit <<<"$target"
    start=$(date +%s.%N)
    "$tool" "$work/$name" >"$work/$name.out" || true
    seconds=$(awk -v start="$start" -v end="$(date +%s.%N)" 'BEGIN { printf "%.3f", end - start }')
    unknown=$(grep -c ': true unknown\|; false unknown\|; fails unknown' "$work/$name.out" || true)
    printf '%-10s %3d rules  %6.3f s (target %s s), %d undecided\n' \
        "$name" "$(wc -l <"$work/$name")" "$seconds" "$limit" "$unknown"
    if awk -v s="$seconds" -v l="$limit" 'BEGIN { exit !(s > l) }' || [ "$unknown" != 0 ]; then missed=1; fi
done
exit $missed
