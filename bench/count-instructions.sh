#!/usr/bin/env bash
# bench/count-instructions.sh [X86_BUILD_DIR] [ARMHF_BUILD_DIR]: the
# instructions one evaluation of a compiled rule costs, case by case, on this
# machine (x86-64, valgrind's callgrind) and on 32-bit ARM (guest
# instructions under qemu-arm). Each case runs quillet_call_count whole at two
# call counts, both whole passes over the samples unless the case names two
# smaller counts (the long chains, whose compilation alone costs hundreds of
# millions of instructions); the difference of the two counts over the
# difference of calls leaves start-up, compilation and the loop's set-up out.
# Both runs of a case must print the same checksum on both machines. The
# chains are given per token as well, over the 30-term chain's. Uses the
# programs of make bench-build (build-bench) and make build-armhf
# (build-armhf) unless told other build directories.
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
# MODE RULE [CALLS CALLS]; the two counts of a case with as many digits.
cases=("slots 99-byte" "slots short" "slots range" "slots divide" "slots modulo" "rows 99-byte" "table 99-byte"
    "road 99-byte")
chains=("slots chain-30" "slots chain-1e3 16 48" "slots chain-1e4 2 6" "slots chain-1e5 1 3")
# A case's target, where it has one: armhf at most this many.
declare -A armhf_target=(["slots divide"]=60)
# Each chain per token at most this times the first.
chain_target=1.25
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
# translation may take over: each listing rebinds it. The log goes through a
# pipe, read as it is written: a long chain's run logs gigabytes.
armhf() {
    rm -f "$tmp/qemu.log"
    mkfifo "$tmp/qemu.log"
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
        END { if (!failed) printf "%.0f\n", total }' "$tmp/qemu.log" >"$tmp/qemu.count" &
    local counter=$!
    qemu-arm -L "$sysroot" -d in_asm,exec,nochain -D "$tmp/qemu.log" "$armhf_program" "$@" >>"$tmp/checksums-armhf"
    wait "$counter"
    cat "$tmp/qemu.count"
}

# per_call MACHINE MODE RULE [CALLS CALLS]: instructions per call (per row
# for rows), with more digits for the chains.
per_call() {
    local first second low=${4:-${calls[0]}} high=${5:-${calls[1]}}
    first=$("$1" "$2" "$3" "$low")
    second=$("$1" "$2" "$3" "$high")
    awk -v a="$first" -v b="$second" -v n="$((high - low))" 'BEGIN { printf "%.3f", (b - a) / n }'
}

# tokens RULE: the token count that quillet_call_count printed for RULE.
tokens() {
    sed -n "s/^[a-z]* $1, \([0-9]*\) tokens,.*/\1/p" "$tmp/checksums-x86_64" | tail -n 1
}

# target FIGURE LIMIT: met or MISSED, FIGURE at most LIMIT.
target() {
    awk -v f="$1" -v l="$2" 'BEGIN { printf "at most %s: %s", l, f <= l ? "met" : "MISSED" }'
}

printf 'Instructions per evaluation (rows: per row), the runs of %s and %s calls apart:\n\n' "${calls[@]}"
printf '| case | %s | armhf | target, armhf |\n|---|---:|---:|---|\n' "$(uname -m)"
for case in "${cases[@]}"; do
    read -r -a words <<<"$case"
    x86=$(per_call x86_64 "${words[@]}")
    arm=$(per_call armhf "${words[@]}")
    limit=${armhf_target[$case]:-}
    printf '| %s | %.1f | %.1f | %s |\n' "$case" "$x86" "$arm" "${limit:+$(target "$arm" "$limit")}"
done

echo
echo "Instructions per token by slots, the chains of bench/Samples.h (ChainText); each chain's runs make"
echo "the calls it names apart (chain-30: ${calls[*]}), and its cost a token is over chain-30's:"
echo
printf '| case | calls | tokens | %s | / chain-30 | armhf | / chain-30 | target, both |\n' "$(uname -m)"
echo '|---|---|---:|---:|---:|---:|---:|---|'
for case in "${chains[@]}"; do
    read -r -a words <<<"$case"
    x86=$(per_call x86_64 "${words[@]}")
    arm=$(per_call armhf "${words[@]}")
    count=$(tokens "${words[1]}")
    x86=$(awk -v c="$x86" -v t="$count" 'BEGIN { print c / t }')
    arm=$(awk -v c="$arm" -v t="$count" 'BEGIN { print c / t }')
    if [ "$case" = "${chains[0]}" ]; then
        x86_first=$x86 arm_first=$arm
    fi
    x86_ratio=$(awk -v a="$x86" -v b="$x86_first" 'BEGIN { printf "%.2f", a / b }')
    arm_ratio=$(awk -v a="$arm" -v b="$arm_first" 'BEGIN { printf "%.2f", a / b }')
    worse=$(awk -v a="$x86_ratio" -v b="$arm_ratio" 'BEGIN { print (a > b ? a : b) }')
    printf '| %s | %s | %s | %.2f | %s | %.2f | %s | %s |\n' "${words[1]}" \
        "${words[2]:-${calls[0]}} ${words[3]:-${calls[1]}}" "$count" "$x86" "$x86_ratio" "$arm" "$arm_ratio" \
        "$([ "$case" = "${chains[0]}" ] || target "$worse" "$chain_target")"
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
