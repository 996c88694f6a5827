#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# matrix.sh [CELL...]: build and test every configure preset, or those
# named, each in build/NAME; end with a table of the cases passed, failed and
# skipped in each; fail if one did not build, failed its tests, or ran no
# case.  One this machine cannot run at all is left out, with the reason.

set -u
cd "$(dirname "$0")/.." || exit 2
# The cells are the configure presets, so a new preset joins the matrix.
cells=("$@")
[ $# -gt 0 ] || mapfile -t cells < <(bash cmake/presets.sh)
[ "${#cells[@]}" -gt 0 ] || { echo "no configure presets found" >&2; exit 1; }
mkdir -p build
rows=() bad=0

for cell in "${cells[@]}"; do
	log=build/$cell.log
	counts=(- - -) why=
	if ! { cmake --preset "$cell" && cmake --build "build/$cell"; } >"$log" 2>&1; then
		why='did not build'
	elif ! ctest --test-dir "build/$cell" --no-tests=error -V >>"$log" 2>&1; then
		why='failed its tests'
	fi
	# Test scripts end on "N passed, F failed, S skipped" (after ctest's
	# test number), summed per cell; one skipping every case says why.
	read -r -a counts < <(awk -F '[:,] *| ' '
		/^[0-9]+: [0-9]+ passed, [0-9]+ failed, [0-9]+ skipped$/ { p += $2; f += $4; s += $6; n++ }
		END { if (n) print p, f, s; else print "- - -" }' "$log")
	left=$(sed -n 's/^[0-9]*: SKIP every case: //p' "$log" | head -n 1)
	if [ -z "$why" ] && [ -n "$left" ]; then
		counts=("left out: $left")
	elif [ -z "$why" ] && [[ ${counts[0]} == [-0] ]]; then
		why='ran no case'
	fi
	if [ -n "$why" ]; then
		bad=$((bad + 1))
		echo "== $cell $why; the end of $log:"
		tail -n 20 "$log"
	fi
	rows+=("$(printf '%-18s %7s %7s %7s' "$cell" "${counts[@]}" | sed 's/ *$//')")
done

printf '%-18s %7s %7s %7s\n' cell passed failed skipped
printf '%s\n' "${rows[@]}"
[ "$bad" -eq 0 ]
