#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# The configure presets of the checkout this script is in, a line each:
#
#   presets.sh [VARIABLE...]
#
# gives each preset's name, followed by the value the preset gives each
# VARIABLE, or - where it gives none.  The values are words.
set -euo pipefail
cd "$(dirname "$0")/.."
said=$(cmake --list-presets)
sed -n 's/^  "\([^"]*\)".*/\1/p' <<<"$said" | while read -r preset; do
	line=$preset
	if [ $# -gt 0 ]; then
		said=$(cmake --preset "$preset" -N)
		for variable; do
			value=$(sed -n "s/^  $variable\(:[A-Z]*\)\?=\"\(.*\)\"\$/\2/p" <<<"$said")
			line+=" ${value:--}"
		done
	fi
	echo "$line"
done
