#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Build and test every cell of the target matrix, each a configure preset:
# three cross targets whose tests run under qemu-user, and three host builds.
# Warnings are errors in every cell.  Ends with a table of the results and
# fails if any cell did not build or lost a test.

set -u
cd "$(dirname "$0")/.." || exit 2
# The cells are the configure presets, so a new preset joins the matrix.
mapfile -t cells < <(cmake --list-presets | sed -n 's/^  "\([^"]*\)".*/\1/p')
[ "${#cells[@]}" -gt 0 ] || { echo "no configure presets found" >&2; exit 1; }
mkdir -p build
rows=() bad=0

for cell in "${cells[@]}"; do
	log=build/$cell.log
	passed=- failed=-
	if cmake --preset "$cell" >"$log" 2>&1 && cmake --build "build/$cell" >>"$log" 2>&1; then
		ctest --test-dir "build/$cell" --output-on-failure >>"$log" 2>&1
		# ctest closes on "N% tests passed, F tests failed out of T".
		read -r failed total < <(sed -n 's/.* tests passed, \([0-9]*\) tests failed out of \([0-9]*\).*/\1 \2/p' "$log")
		passed=$((${total:-0} - ${failed:-0}))
		failed=${failed:-0}
	fi
	if [ "$passed" = - ] || [ "$passed" -eq 0 ] || [ "$failed" -ne 0 ]; then
		bad=$((bad + 1))
		echo "== $cell failed; the end of $log:"
		tail -n 20 "$log"
	fi
	rows+=("$(printf '%-18s %12s %12s' "$cell" "$passed" "$failed")")
done

printf '%-18s %12s %12s\n' cell 'tests passed' 'tests failed'
printf '%s\n' "${rows[@]}"
[ "$bad" -eq 0 ]
