#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Build and test every cell of the target matrix, each a configure preset
# built and tested in its binary folder, build/NAME: cross targets whose
# tests run under qemu-user, and host builds.  Warnings are errors in every
# cell.
# Ends with a table of the cases passed, failed and skipped in each cell,
# and fails if any cell did not build, failed a case or ran none.

set -u
cd "$(dirname "$0")/.." || exit 2
# The cells are the configure presets, so a new preset joins the matrix.
mapfile -t cells < <(cmake --list-presets | sed -n 's/^  "\([^"]*\)".*/\1/p')
[ "${#cells[@]}" -gt 0 ] || { echo "no configure presets found" >&2; exit 1; }
mkdir -p build
rows=() bad=0

for cell in "${cells[@]}"; do
	log=build/$cell.log
	counts=(- - -)
	if cmake --preset "$cell" >"$log" 2>&1 && cmake --build "build/$cell" >>"$log" 2>&1; then
		ctest --test-dir "build/$cell" --no-tests=error -V >>"$log" 2>&1
		# Each test script closes on "N passed, F failed, S skipped", which
		# ctest prefixes with the test's number; the cell's counts are
		# their sums.
		read -r -a counts < <(awk -F '[:,] *| ' '
			/^[0-9]+: [0-9]+ passed, [0-9]+ failed, [0-9]+ skipped$/ { p += $2; f += $4; s += $6; n++ }
			END { if (n) print p, f, s; else print 0, "-", "-" }' "$log")
	fi
	if [ "${counts[0]}" = - ] || [ "${counts[0]}" -eq 0 ] || [ "${counts[1]}" != 0 ]; then
		bad=$((bad + 1))
		echo "== $cell failed; the end of $log:"
		tail -n 20 "$log"
	fi
	rows+=("$(printf '%-18s %7s %7s %7s' "$cell" "${counts[@]}")")
done

# The Windows cells' Wine server would outlive their tests by a minute.
! command -v wine >/dev/null || bash tests/wine.sh

printf '%-18s %7s %7s %7s\n' cell passed failed skipped
printf '%s\n' "${rows[@]}"
[ "$bad" -eq 0 ]
