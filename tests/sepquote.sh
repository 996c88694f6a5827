#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Black-box tests for sepquote.  The arguments are the command that runs the
# tool, an emulator and its options first where there is one.  Every case
# runs with data waiting on standard input, which the tool must not read, and
# checks the exit status and that standard error stays empty; the cases that
# write to a file also check standard output byte for byte, and that the
# data on standard input is still there to read afterwards.  A case whose
# needs this machine does not meet says SKIP and why, and fails nothing.

set -u
if [ $# -eq 0 ]; then
	echo "usage: $0 command [argument...]" >&2
	exit 2
fi
cmd=("$@")
tmp=$(mktemp -d) || exit 2
trap 'rm -rf "$tmp"' EXIT
passed=0 failed=0 skipped=0
input=in.put:/
printf '%s\n' "$input" >"$tmp/in"

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

# skip NAME WHY
skip() {
	printf 'SKIP %s: %s\n' "$1" "$2"
	skipped=$((skipped + 1))
}

# check NAME WANT_STATUS WANT_OUTPUT [OPERAND...]
# The shell reads standard input after the tool, through the same open file:
# if the tool has read any of it, the first line is no longer there whole.
check() {
	local name=$1 want=$2 status why='' left=''
	printf '%s' "$3" >"$tmp/want"
	shift 3
	{
		"${cmd[@]}" "$@" >"$tmp/out" 2>"$tmp/err"
		status=$?
		IFS= read -r left
	} <"$tmp/in"
	cmp -s "$tmp/want" "$tmp/out" ||
		why="standard output: $(cd "$tmp" && cmp want out 2>&1)"
	[ "$left" = "$input" ] || why="${why:+$why; }read standard input"
	judge "$name" "$status" "$want" "$why"
}

# unwritable NAME WANT_STATUS HOW OPERAND: the output cannot be written.  HOW
# is full (a full device), closed (no standard output), or pipe or pipe-dfl
# (a pipe whose reader has gone, with SIGPIPE ignored or at its default).
unwritable() {
	local status
	case $3 in
	full) "${cmd[@]}" "$4" <"$tmp/in" >/dev/full 2>"$tmp/err" ;;
	closed) "${cmd[@]}" "$4" <"$tmp/in" >&- 2>"$tmp/err" ;;
	pipe) (trap '' PIPE && exec "${cmd[@]}" "$4" <"$tmp/in" >&4 2>"$tmp/err") ;;
	pipe-dfl) "${cmd[@]}" "$4" <"$tmp/in" >&4 2>"$tmp/err" ;;
	esac
	status=$?
	judge "$1" "$status" "$2"
}

# The longest operand that exec takes here, a third of it separators: 131071
# bytes, the most Linux takes in one argument, unless a lowered stack limit
# takes less.  Its output overflows the stdio buffer many times.
printf -v unit 'a.b%.0s' {1..43690}
printf -v unit_out 'a\\.b%.0s' {1..43690}
long=
for n in 43690 21845 10922 5461; do
	if env true "${unit:0:3*n}z" 2>/dev/null; then
		long=${unit:0:3*n}z long_out=${unit_out:0:4*n}z
		break
	fi
done

check 'no operand' 1 ''
check 'two operands' 1 '' x.y z
check 'end of options is an operand too' 1 '' -- x.y
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
check 'double hyphen' 0 '--' '--'
check 'option-like' 0 '--n\.1' '--n.1'
check 'line ends' 0 $'a\n\\.\n' $'a\n.\n'
if [ -n "$long" ]; then
	check "long operand (${#long} bytes)" 0 "$long_out" "$long"
else
	skip 'long operand' 'exec takes no argument of 16384 bytes here'
fi

# A closed standard output.  Something loaded into every process here (a
# preloaded library, as faketime uses) may open a file before main and be
# given the free descriptor 1; then the tool never sees a closed output.  A
# new shell tells: duplicating descriptor 1 fails only while it is closed.
if sh -c 'exec 3>&1' >&- 2>/dev/null; then
	why='a process started here with descriptor 1 closed finds it open'
	skip 'closed output' "$why"
	skip 'closed output, empty operand' "$why"
else
	unwritable 'closed output' 1 closed x.y
	unwritable 'closed output, empty operand' 0 closed ''
fi
if [ -c /dev/full ]; then
	unwritable 'full device' 1 full x.y
	unwritable 'full device, empty operand' 0 full ''
	if [ -n "$long" ]; then
		unwritable 'full device, long operand' 1 full "$long"
	else
		skip 'full device, long operand' 'exec takes no argument of 16384 bytes here'
	fi
else
	for name in 'full device' 'full device, empty operand' 'full device, long operand'; do
		skip "$name" '/dev/full is not a character device here'
	done
fi

# A pipe whose reader has gone before the tool starts: fd 4 is its only
# end, so the first write fails whatever the operand's size.  Opening a FIFO
# for reading and writing at once does not wait for a writer on Linux.
sigpipe=$((128 + $(kill -l PIPE)))
# shellcheck disable=SC2094 # one FIFO, opened at both ends on purpose
if mkfifo "$tmp/fifo" 2>/dev/null && exec 3<>"$tmp/fifo" 4>"$tmp/fifo" 3<&-; then
	unwritable 'broken pipe, SIGPIPE ignored' 1 pipe x.y
	unwritable 'broken pipe, empty operand' 0 pipe ''
	# The tool must leave SIGPIPE as it found it; a shell that was started
	# with it ignored cannot restore it, so the case needs it at its default.
	env echo x >&4 2>/dev/null
	if [ $? -eq "$sigpipe" ]; then
		unwritable 'broken pipe, SIGPIPE at its default' "$sigpipe" pipe-dfl x.y
	else
		skip 'broken pipe, SIGPIPE at its default' 'SIGPIPE is ignored in this shell'
	fi
	exec 4>&-
else
	for name in 'broken pipe, SIGPIPE ignored' 'broken pipe, empty operand' \
		'broken pipe, SIGPIPE at its default'; do
		skip "$name" 'no FIFO whose reader has gone could be made here'
	done
fi

printf '%d passed, %d failed, %d skipped\n' "$passed" "$failed" "$skipped"
[ "$failed" -eq 0 ]
