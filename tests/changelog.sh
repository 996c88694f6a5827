#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# The build takes its version and date from the newest entry of
# pkg/changelog with cmake/changelog.cmake, and dpkg takes them from the
# same file when it packs; pkg/changelog.sh compares the two.  Here both
# read changelogs whose text holds what CMake could take for its own syntax
# ([ ] ; \ " ' $ and the like), and must read the same.  The argument is
# the cmake to run.  Without dpkg-parsechangelog the comparisons say SKIP;
# the cases that need no dpkg still run.

set -u
if [ $# -ne 1 ]; then
	echo "usage: $0 cmake" >&2
	exit 2
fi
cmake=$1
root=$(cd "$(dirname "$0")/.." && pwd) || exit 2
tmp=$(mktemp -d) || exit 2
trap 'rm -rf "$tmp"' EXIT
changelog=$tmp/changelog
passed=0 failed=0 skipped=0
command -v dpkg-parsechangelog >/dev/null || nodpkg='dpkg-parsechangelog is not installed'

# build_reads FILE: "VERSION EPOCH" as the build reads them, with
# SOURCE_DATE_EPOCH as the caller sets it.
build_reads() { "$cmake" -D CHANGELOG="$1" -P "$root/cmake/changelog.cmake" 2>"$tmp/err"; }

# judge NAME PROBLEM: count the case; an empty PROBLEM passes it.
judge() {
	if [ -n "$2" ]; then
		printf 'FAIL %s: %s\n' "$1" "$2"
		failed=$((failed + 1))
	else
		passed=$((passed + 1))
	fi
}

# same NAME FILE: the build and dpkg read the same version and date.
same() {
	local said
	if [ -n "${nodpkg-}" ]; then
		printf 'SKIP %s: %s\n' "$1" "$nodpkg"
		skipped=$((skipped + 1))
	elif said=$(bash "$root/pkg/changelog.sh" "$cmake" "$2" 2>&1 >/dev/null); then
		judge "$1" ''
	else
		judge "$1" "${said:-pkg/changelog.sh failed}"
	fi
}

# entry VERSION DATE LINE...: one changelog entry whose bullets are LINEs.
entry() {
	local version=$1 date=$2
	shift 2
	printf 'sepquote (%s) unstable; urgency=medium\n\n' "$version"
	printf '  * %s\n' "$@"
	printf '\n -- Ann Example <ann@example.org>  %s\n\n' "$date"
}

# dated NAME WANT [SOURCE_DATE_EPOCH]: the build reads WANT from
# $changelog, or fails where WANT is empty.
dated() {
	local said
	if said=$(if [ $# -gt 2 ]; then export SOURCE_DATE_EPOCH=$3; else unset SOURCE_DATE_EPOCH; fi &&
		build_reads "$changelog"); then
		judge "$1" "$([ "$said" = "$2" ] || echo "read '$said', want ${2:-an error}")"
	else
		judge "$1" "$([ -z "$2" ] || echo "failed, want '$2'")"
	fi
}

# Each case writes a changelog for both to read alike.
same 'the project'"'"'s own changelog' "$root/pkg/changelog"
# shellcheck disable=SC2016 # the text is the case
{
	entry 1.1.0 'Wed, 09 Dec 2026 10:00:00 +0100' \
		'Names [ ] ; \ " '"'"' $ and # alone.' \
		'And ${CMAKE_COMMAND} $ENV{HOME} @PROJECT_VERSION@ [[x]] [=[ ]=] \n \;'
	entry 1.0.0 'Tue, 08 Dec 2026 11:53:45 +0000' 'First release.'
} >"$changelog"
same 'every character CMake could take for syntax' "$changelog"
{
	entry 1.1.0 'Wed, 09 Dec 2026 10:00:00 +0100' 'An open [ bracket.'
	entry 1.0.0 'Tue, 08 Dec 2026 11:53:45 +0000' 'Its close ] here.'
} >"$changelog"
same 'an open bracket, closed in an older entry' "$changelog"
{
	entry 1.1.0 'Wed, 09 Dec 2026 10:00:00 +0100' 'A close ] bracket; a semicolon;'
	entry 1.0.0 'Tue, 08 Dec 2026 11:53:45 +0000' 'An open [ one.'
} >"$changelog"
same 'a close bracket, then an open one in an older entry' "$changelog"
entry 1.1.0 'Wed, 09 Dec 2026 10:00:00 +0100' 'A lone [ bracket.' >"$changelog"
same 'a lone open bracket' "$changelog"
# shellcheck disable=SC1003 # a backslash at the end is the case
entry 1.1.0 'Wed, 09 Dec 2026 10:00:00 +0100' 'Ends in a backslash \' >"$changelog"
same 'a line that ends in a backslash' "$changelog"
entry '2:1.2.0~rc1+ds-1' 'Tue, 29 Feb 2000 23:59:59 +0530' 'Epoch, tilde, plus.' >"$changelog"
same 'an epoch, a tilde and a plus, on a leap day east of UTC' "$changelog"
entry 1.1.0 'Mon, 01 Mar 2100 00:00:00 -1100' 'West of UTC.' >"$changelog"
same 'a date west of UTC' "$changelog"
entry 1.1.0 'Thu, 01 Jan 1970 00:00:00 +0000' 'The first second.' >"$changelog"
same 'the first second of 1970' "$changelog"
entry 1.1.0 'Wed, 09 Dec 2026 10:00:00 +0100' 'Not yet released.' |
	sed '1s/ unstable;/ UNRELEASED;/' >"$changelog"
same 'an entry not yet released, which a build reads all the same' "$changelog"

# refused NAME TEXT: the build fails to read $changelog, and says TEXT.
refused() {
	if build_reads "$changelog" >/dev/null; then
		judge "$1" "read it, want an error"
	else
		judge "$1" "$(grep -qF -- "$2" "$tmp/err" || echo "said $(tr -s " \n" "  " <"$tmp/err"), not: $2")"
	fi
}

# The build's own rules and arithmetic, which need no dpkg.
entry 1.1.0 'Wed, 09 Dec 2026 10:00:00 +0100' 'x' >"$changelog"
dated 'SOURCE_DATE_EPOCH dates the build' '1.1.0 1800000000' 1800000000
dated 'a SOURCE_DATE_EPOCH that is not digits is an error' '' -5
entry 1.1.0 'Tue, 29 Feb 2000 23:59:59 +0530' 'x' >"$changelog"
dated 'a leap day east of UTC, counted' '1.1.0 951848999'
entry 1.1.0 'Mon, 01 Mar 2100 00:00:00 -1100' 'x' >"$changelog"
dated 'a date in 2100 west of UTC, counted' '1.1.0 4107582000'
printf 'sepquote (1.1.0) unstable; urgency=medium\n\n  * No closing line.\n' >"$changelog"
refused 'an entry with no closing line is an error' "$changelog:1: the entry for 1.1.0 has no closing line"
{
	printf 'sepquote (1.1.0) unstable; urgency=medium\n\n  * No closing line.\n\n'
	entry 1.0.0 'Tue, 08 Dec 2026 11:53:45 +0000' 'An older entry, closed.'
} >"$changelog"
refused 'the closing line of an older entry is not the newest'"'"'s' \
	"$changelog:1: the entry for 1.1.0 has no closing line"
entry 1.1.0 'Wed, 9 December 2026 10:00:00 +0100' 'x' >"$changelog"
dated 'a month named in full is an error' ''
entry 1.1.0 'Wed, 09 Dec 2026 10:00:00 +0100' 'x' | sed 's/>  Wed/> Wed/' >"$changelog"
refused 'one space before the date is an error that shows the form with two' \
	'    -- Name <address>  Day, DD Mon YYYY HH:MM:SS +ZZZZ'
refused 'and names the line' "$changelog:5: the closing line of the entry for 1.1.0 is"

printf '%d passed, %d failed, %d skipped\n' "$passed" "$failed" "$skipped"
[ "$failed" -eq 0 ]
