#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Black-box tests for sepquote.  The arguments are the command that runs the
# tool, an emulator and its options first where there is one.  Every case
# checks the exit status and that standard error stays empty; the cases that
# write to a file also check standard output byte for byte.

set -u
if [ $# -eq 0 ]; then
	echo "usage: $0 command [argument...]" >&2
	exit 2
fi
cmd=("$@")
tmp=$(mktemp -d) || exit 2
trap 'rm -rf "$tmp"' EXIT
passed=0 failed=0

# judge NAME STATUS WANT_STATUS [PROBLEM]: count the case, given that its
# standard error was captured in $tmp/err.
judge() {
	local why=${4-}
	[ "$2" = "$3" ] || why="${why:+$why; }status $2, want $3"
	[ -s "$tmp/err" ] && why="${why:+$why; }wrote to standard error"
	if [ -n "$why" ]; then
		printf 'FAIL %s: %s\n' "$1" "$why"
		failed=$((failed + 1))
	else
		passed=$((passed + 1))
	fi
}

# check NAME WANT_STATUS WANT_OUTPUT [OPERAND...]
check() {
	local name=$1 want=$2 status diff=
	printf '%s' "$3" >"$tmp/want"
	shift 3
	"${cmd[@]}" "$@" >"$tmp/out" 2>"$tmp/err"
	status=$?
	cmp -s "$tmp/want" "$tmp/out" ||
		diff="standard output: $(cd "$tmp" && cmp want out 2>&1)"
	judge "$name" "$status" "$want" "$diff"
}

# unwritable NAME HOW OPERAND: the output cannot be written, so the status
# must be 1.  HOW is full (a full device), closed (no standard output) or
# pipe (a reader that has gone, with SIGPIPE ignored so the write fails).
unwritable() {
	case $2 in
	full) "${cmd[@]}" "$3" >/dev/full 2>"$tmp/err" ;;
	closed) "${cmd[@]}" "$3" >&- 2>"$tmp/err" ;;
	pipe) (trap '' PIPE && exec "${cmd[@]}" "$3" 2>"$tmp/err") | : ;;
	esac
	judge "$1" "${PIPESTATUS[0]}" 1
}

# The longest operand Linux takes, a third of it separators.  Its output
# overflows the stdio buffer many times and a pipe's capacity too, so in the
# broken-pipe case a write must meet the reader that has gone.
printf -v long 'a.b%.0s' {1..43690}
printf -v long_out 'a\\.b%.0s' {1..43690}
long+=z long_out+=z

check 'no operand' 1 ''
check 'two operands' 1 '' x.y z
check 'empty operand' 0 '' ''
check 'separators' 0 '\.\/\:' './:'
check 'url' 0 'https\:\/\/www\.example\.com\:8443\/path\/file' \
	'https://www.example.com:8443/path/file'
# shellcheck disable=SC1003 # a lone backslash is the case
check 'backslash' 0 '\' '\'
check 'escaped separator' 0 '\\.' '\.'
check 'other syntax' 0 '*?[]{}()$&;|<>"'\''`~#!%^=,+@ ' '*?[]{}()$&;|<>"'\''`~#!%^=,+@ '
check 'high bytes' 0 $'\x80\xae\xaf\xba\xff\xc3\xa9\\.' $'\x80\xae\xaf\xba\xff\xc3\xa9.'
check 'hyphen' 0 '-' '-'
check 'option-like' 0 '--n\.1' '--n.1'
check 'line ends' 0 $'a\n\\.\n' $'a\n.\n'
check 'longest operand' 0 "$long_out" "$long"

unwritable 'full device' full x.y
unwritable 'full device, long' full "$long"
unwritable 'closed output' closed x.y
unwritable 'broken pipe' pipe "$long"

printf '%d passed, %d failed\n' "$passed" "$failed"
[ "$failed" -eq 0 ]
