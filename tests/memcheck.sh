#!/usr/bin/env bash
# memcheck.sh QUILLET EVAL_EXPRESSION: runs the command-line programs under
# valgrind's memcheck over valid and invalid cases. Fails on any memory error,
# on any block definitely, indirectly or possibly lost, and on a wrong exit
# status.
set -u
quillet=$1
eval_expression=$2
command -v valgrind >/dev/null || { echo "memcheck: valgrind is not installed"; exit 1; }
log=$(mktemp)
trap 'rm -f "$log"' EXIT
cases=0
failed=0

# check STATUS PROGRAM ARG...: the program must exit with STATUS, cleanly.
check() {
    local expected=$1 status
    shift
    cases=$((cases + 1))
    valgrind --error-exitcode=99 --leak-check=full --show-leak-kinds=all \
        --errors-for-leak-kinds=definite,indirect,possible --log-file="$log" \
        "$@" >/dev/null 2>&1
    status=$?
    printf '%-3s %s%s: %s, %s\n' "$status" "$(basename "$1")" "$([ $# -gt 1 ] && printf ' %q' "${@:2}")" \
        "$(grep -o 'ERROR SUMMARY: [0-9]* errors' "$log")" "$(grep -o 'in use at exit: .*' "$log")"
    if [ "$status" -ne "$expected" ]; then
        echo "  expected exit status $expected"
        cat "$log"
        failed=$((failed + 1))
    fi
}

check 0 "$quillet" -s '(1 + 2) * 3 >= {$4} && 5 != 6'
check 46 "$quillet" -s '1+'
check 46 "$quillet" -s 'a<=b'
check 46 "$quillet" -s "$(printf '1\n+2')"
check 255 "$quillet" -s "$(printf '%0100d' 1)"
check 255 "$quillet" -s ''
check 46 "$quillet"
check 46 "$quillet" -s 1 -q
check 0 "$quillet" -v
check 0 "$quillet" -h
check 0 "$eval_expression" '({$1} + 25) * 3 >= 400 && {$2} % 7 == 0' 1=120 2=14
check 1 "$eval_expression" '5 / 0'
echo "memcheck: $cases cases, $failed failed"
[ "$failed" -eq 0 ]
