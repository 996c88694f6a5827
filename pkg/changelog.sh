#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# The newest entry of a changelog, as the build reads it and as dpkg does:
#
#   changelog.sh CMAKE FILE
#
# The build reads FILE with cmake/changelog.cmake, run by CMAKE, and dpkg
# with dpkg-parsechangelog when it packs; both must read the same version
# and date.  Prints "VERSION EPOCH DISTRIBUTION", the date as seconds since
# 1970, the entry's own whatever SOURCE_DATE_EPOCH says.  Where the two
# differ, or either fails or complains, it says so on standard error and
# exits 1; without dpkg-parsechangelog, it exits 2.

set -u
if [ $# -ne 2 ]; then
	echo "usage: $0 cmake changelog" >&2
	exit 2
fi
command -v dpkg-parsechangelog >/dev/null ||
	{ echo "dpkg-parsechangelog is not installed" >&2; exit 2; }
unset SOURCE_DATE_EPOCH
err=$(mktemp) || exit 2
trap 'rm -f "$err"' EXIT

ours=$("$1" -D CHANGELOG="$2" -P "$(dirname "$0")/../cmake/changelog.cmake" 2>"$err") ||
	{ echo "cmake cannot read $2: $(cat "$err")" >&2; exit 1; }
theirs=$(dpkg-parsechangelog -l "$2" 2>"$err" |
	awk -F ': ' '{ f[$1] = $2 } END { if (f["Version"] != "") print f["Version"], f["Timestamp"], f["Distribution"] }')
if [ -s "$err" ] || [ -z "$theirs" ]; then
	echo "dpkg cannot read $2 cleanly: $(head -n 3 "$err")" >&2
	exit 1
fi
if [ "$ours" != "${theirs% *}" ]; then
	echo "cmake reads '$ours' in $2, dpkg '${theirs% *}'" >&2
	exit 1
fi
printf '%s\n' "$theirs"
