#!/usr/bin/env bash
# bench/count-instructions.sh [X86_BUILD_DIR] [ARMHF_BUILD_DIR]: the
# instructions one evaluation of a compiled rule costs, case by case, on this
# machine (x86-64, valgrind's callgrind) and on 32-bit ARM (guest
# instructions under qemu-arm). Each case runs quillet_call_count whole at two
# call counts, both whole passes over the samples; the difference of the two
# counts over the difference of calls leaves start-up, compilation and the
# loop's set-up out. Both runs of a case must print the same checksum on
# both machines. Uses the programs of make bench-build (build-bench) and
# make build-armhf (build-armhf) unless told other build directories.
set -euo pipefail
shopt -s inherit_errexit

root=$(cd "$(dirname "$0")/.." && pwd)
x86_64_program=$(realpath -m "${1:-$root/build-bench}")/bin/quillet_call_count
armhf_build=$(realpath -m "${2:-$root/build-armhf}")
armhf_program=$armhf_build/bin/quillet_call_count
sysroot=$(sed -n 's/^QUILLET_ARMHF_SYSROOT:[A-Z]*=//p' "$armhf_build/CMakeCache.txt")
# Whole passes over the 1,024 samples, written with as many digits: a longer
# argument moves the stack, and with it the path the start-up's string
# routines take (alignment), by tens of instructions.
calls=(1024 3072)
cases=("slots 99-byte" "slots short" "slots range" "slots divide" "slots modulo" "rows 99-byte" "table 99-byte"
    "road 99-byte")
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT

# x86_64 MODE RULE CALLS: the instructions of one whole run (callgrind's Ir).
x86_64() {
    valgrind --tool=callgrind --callgrind-out-file="$tmp/callgrind.out" --log-file="$tmp/valgrind.log" \
        "$x86_64_program" "$@" >>"$tmp/checksums-x86_64"
    awk '/^(summary|totals):/ { print $2; exit }' "$tmp/callgrind.out"
}

# armhf MODE RULE CALLS: the guest instructions of one whole run. qemu-arm
# logs each block it translates (IN:, then a line a guest instruction) and,
# nochain sending every execution through its loop, each execution of a
# block (Trace, naming the block by its host address). A block's listing
# comes right before its first Trace. A guest address may be translated more
# than once, so a block is known by its host address, which a later
# translation may take over: each listing rebinds it.
armhf() {
    qemu-arm -L "$sysroot" -d in_asm,exec,nochain -D "$tmp/qemu.log" "$armhf_program" "$@" >>"$tmp/checksums-armhf"
    awk '
        /^IN:/ { listing = 1; size = 0; next }
        listing && /^0x[0-9a-f]+:/ { ++size; next }
        listing { listing = 0; pending = size }
        /^Trace / {
            if (pending) { sizes[$3] = pending; pending = 0 }
            if (!($3 in sizes)) { print "no listing for " $0 >"/dev/stderr"; failed = 1; exit 1 }
            total += sizes[$3]
        }
        # A block stopped before it ran was counted: say so rather than guess.
        /^Stopped execution/ { print "not counted: " $0 >"/dev/stderr"; failed = 1; exit 1 }
        END { if (!failed) printf "%.0f\n", total }' "$tmp/qemu.log"
    rm "$tmp/qemu.log"
}

# per_call MACHINE MODE RULE: instructions per call (per row for rows).
per_call() {
    local first second
    first=$("$1" "${@:2}" "${calls[0]}")
    second=$("$1" "${@:2}" "${calls[1]}")
    awk -v a="$first" -v b="$second" -v n="$((calls[1] - calls[0]))" 'BEGIN { printf "%.1f", (b - a) / n }'
}

printf 'Instructions per evaluation (rows: per row), the runs of %s and %s calls apart:\n\n' "${calls[@]}"
printf '| case | %s | armhf |\n|---|---:|---:|\n' "$(uname -m)"
for case in "${cases[@]}"; do
    read -r -a words <<<"$case"
    printf '| %s | %s | %s |\n' "$case" "$(per_call x86_64 "${words[@]}")" "$(per_call armhf "${words[@]}")"
done
if ! cmp -s "$tmp/checksums-x86_64" "$tmp/checksums-armhf"; then
    echo "The two machines computed different results:"
    diff "$tmp/checksums-x86_64" "$tmp/checksums-armhf"
    exit 1
fi
echo
echo "Rules (slots: Evaluate by slots; rows: EvaluateRows; table: four table writes, then Evaluate(table);"
echo "road: VerifyExpression, then the four table writes and EvaluatePostfix):"
"$x86_64_program" 2>&1 | tail -n +2 || true
echo "Checksums, the same on both machines:"
sed 's/^/  /' "$tmp/checksums-x86_64"
