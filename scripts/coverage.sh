#!/usr/bin/env bash
# coverage.sh BUILD_DIR FOLDER...: prints the line coverage that the tests
# run in BUILD_DIR left, per file and per folder, and fails when a folder is
# under 95%.
set -euo pipefail
cd "$(dirname "$0")/.."
build=$1
shift
filters=()
for folder in "$@"; do
    filters+=(--filter "$folder/")
done
gcovr --root . "${filters[@]}" "$build"
echo
printf '%-10s %7s %7s %7s\n' Folder Lines Covered Percent
failed=0
# The per-folder report goes to a scratch file: gcovr replaces its output file,
# so pointing it at /dev/null would replace the device.
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
for folder in "$@"; do
    # "lines: 97.3% (145 out of 149)"
    read -r percent covered total < <(gcovr --root . --filter "$folder/" --print-summary "$build" \
        -o "$scratch/report.txt" | sed -n 's/^lines: \([0-9.]*\)% (\([0-9]*\) out of \([0-9]*\))/\1 \2 \3/p')
    if [ "$total" -eq 0 ]; then
        printf '%-10s %7s %7s %7s\n' "$folder/" 0 0 "none executable (macros and constexpr only)"
        continue
    fi
    printf '%-10s %7s %7s %6s%%\n' "$folder/" "$total" "$covered" "$percent"
    awk -v p="$percent" 'BEGIN { exit !(p < 95) }' && failed=1
done
[ "$failed" -eq 0 ] || { echo "coverage: a folder is under 95% of its lines"; exit 1; }
