#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# presets.sh [VARIABLE...]: the configure presets of this checkout, a line
# each: the name, then the value that the preset gives each VARIABLE, or -.
set -euo pipefail
cd "$(dirname "$0")/.."
cmake --list-presets | sed -n 's/^  "\([^"]*\)".*/\1/p' | while read -r preset; do
	[ $# -eq 0 ] || said=$(cmake --preset "$preset" -N)
	printf '%s' "$preset"
	for variable; do
		value=$(sed -n "s/^  $variable\(:[A-Z]*\)\?=\"\(.*\)\"\$/\2/p" <<<"$said")
		printf ' %s' "${value:--}"
	done
	echo
done
