#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Black-box tests for sepquote.  The arguments are the command that runs the
# tool, an emulator and its options first where there is one:
#
#   sepquote.sh [--windows LAUNCHER] COMMAND [ARGUMENT...]
#
# With --windows the tool is a Windows program, which takes only UTF-8 and
# knows no SIGPIPE: those cases give way to the Windows command line (UTF-16
# text, unpaired surrogates, the quoting rules) and a console, which must show
# the operand's UTF-16 units at any code page.  LAUNCHER, a Windows program,
# starts the tool with a command line written out in full and gives it the
# console.  Where the emulator cannot start it, no case runs: with status 77
# this machine cannot run such programs, and every case says SKIP and why;
# else it is the emulator's fault.  Every case runs with data waiting on
# standard input, which the tool must not read, and checks the exit status, an
# empty standard error, and standard output byte for byte; a program still
# running after two minutes (SEPQUOTE_TEST_LIMIT seconds) is ended and fails
# its case.  A case whose needs this machine does not meet says SKIP and why.

set -u
launcher=
[ "${1-}" != --windows ] || [ $# -lt 3 ] || { launcher=$2 && shift 2; }
[ $# -gt 0 ] || { echo "usage: $0 [--windows LAUNCHER] command [argument...]" >&2 && exit 2; }
cmd=("$@")
for i in "${!cmd[@]}"; do
	[[ ${cmd[i]} == /* || ! -e ${cmd[i]} ]] || cmd[i]=$PWD/${cmd[i]}
done
[[ -z $launcher || $launcher == /* ]] || launcher=$PWD/$launcher
tool=("${cmd[@]}")
# The emulator and its options: the command less the tool.
emulator=("${cmd[@]:0:${#cmd[@]}-1}")
pages=$(cd "$(dirname "$0")/.." && pwd) # the README and the manual page
tmp=$(mktemp -d) || exit 2
trap 'rm -rf "$tmp"' EXIT
cd "$tmp" || exit 2
passed=0 failed=0 skipped=0
# Put before a command, this ends it after $limit seconds (status 124).
limit=${SEPQUOTE_TEST_LIMIT:-120}
run=(timeout -k 10 "$limit")
input=in.put:/
printf '%s\n' "$input" >"$tmp/in"

# problem STATUS WANT_STATUS: add to why what else is wrong with a run
# whose standard error was captured in $tmp/err.
problem() {
	[ "$1" != 124 ] || why="${why:+$why; }the program had not ended after $limit s, and was ended"
	[ "$1" = "$2" ] || [ "$1" = 124 ] || why="${why:+$why; }status $1, want $2"
	[ ! -s "$tmp/err" ] || why="${why:+$why; }wrote to standard error: $(head -c 300 "$tmp/err")"
}

# tried NAME RUN ARGUMENT...: count the case NAME, which RUN ARGUMENT... runs,
# setting why.  Wine now and then fails by chance to start a program or give
# it a console, which the tool does not: under Wine a failed case runs again,
# and passes if that run does; else once more, with Wine's errors shown.
tried() {
	local name=$1 first
	why= && "${@:2}"
	if [ -n "$why" ] && [ -n "$launcher" ]; then
		first=$why why= && "${@:2}"
		if [ -z "$why" ]; then
			printf 'PASS %s, at the second run; the first: %s\n' "$name" "$first"
		else
			why= && SEPQUOTE_WINEDEBUG=-all,err+all "${@:2}"
			why="$first; again, with Wine's errors shown: ${why:-no fault}"
		fi
	fi
	if [ -n "$why" ]; then printf 'FAIL %s: %s\n' "$name" "$why" && failed=$((failed + 1)); else passed=$((passed + 1)); fi
}

skip() { printf 'SKIP %s: %s\n' "$1" "$2" && skipped=$((skipped + 1)); } # skip NAME WHY

# summary: the closing line, and the status: 0 when no case failed.
summary() {
	printf '%d passed, %d failed, %d skipped\n' "$passed" "$failed" "$skipped"
	[ "$failed" -eq 0 ]
}

# shown FILE: the first bytes of FILE, as od shows them, and its size.
shown() { printf '%s bytes:%s' "$(wc -c <"$1")" "$(od -An -c -N 48 "$1" | tr -s ' \n' ' ')"; }

# check NAME WANT_STATUS WANT_OUTPUT [OPERAND...]: $tool with the OPERANDs.
# The shell reads standard input after the tool, through the same open file:
# if the tool read any of it, the first line is no longer there whole.
check() {
	printf '%s' "$3" >"$tmp/want"
	tried "$1" check_run "$2" "${@:4}"
}
check_run() {
	local status left=''
	{
		"${run[@]}" "${tool[@]}" "${@:2}" >"$tmp/out" 2>"$tmp/err"
		status=$?
		IFS= read -r left
	} <"$tmp/in"
	cmp -s "$tmp/want" "$tmp/out" ||
		why="standard output: $(cmp want out 2>&1); want $(shown want); got $(shown out)"
	[ "$left" = "$input" ] || why="${why:+$why; }read standard input"
	problem "$status" "$1"
}

# raw NAME WANT_STATUS WANT_OUTPUT TAIL [CODEPAGE]: the Windows tool started
# by the launcher with the command line "TOOL" TAIL, where \uXXXX is the
# UTF-16 unit of that value.  With CODEPAGE, its standard output is a console
# at that code page, and WANT_OUTPUT what it holds, with \uXXXX for each unit
# beyond ASCII.  Wine shows the Unix file system as drive Z:.
raw() {
	local exe=${cmd[${#cmd[@]} - 1]}
	tool=("${emulator[@]}" "$launcher" ${5:+"$5"} "Z:$exe")
	check "$1" "$2" "$3" "$4"
	tool=("${cmd[@]}")
}

# unwritable NAME WANT_STATUS HOW OPERAND: HOW the output cannot be written:
# full (a full device), closed (no standard output), pipe (a pipe with no
# reader left) or fsize (a 1 KiB file-size limit, which standard error stays
# under), with SIGPIPE or SIGXFSZ ignored, or at its default with -dfl.
unwritable() { tried "$1" unwritable_run "${@:2}"; }
unwritable_run() {
	case $2 in
	full) "${run[@]}" "${cmd[@]}" "$3" <"$tmp/in" >/dev/full 2>"$tmp/err" ;;
	closed) "${run[@]}" "${cmd[@]}" "$3" <"$tmp/in" >&- 2>"$tmp/err" ;;
	pipe) (trap '' PIPE && exec "${run[@]}" "${cmd[@]}" "$3" <"$tmp/in" >&4 2>"$tmp/err") ;;
	pipe-dfl) "${run[@]}" "${cmd[@]}" "$3" <"$tmp/in" >&4 2>"$tmp/err" ;;
	fsize) (ulimit -f 1 && trap '' XFSZ && exec "${run[@]}" "${cmd[@]}" "$3" <"$tmp/in" >"$tmp/out" 2>"$tmp/err") ;;
	# The shell tells of the signal on its standard error, which for this
	# group goes nowhere; no core is dumped, of which timeout would tell.
	fsize-dfl) { (ulimit -f 1 -c 0 && exec "${run[@]}" "${cmd[@]}" "$3" <"$tmp/in" >"$tmp/out" 2>"$tmp/err"); } 2>/dev/null ;;
	*) echo "$0: unwritable: no such way as '$2'" >&2 && exit 2 ;;
	esac
	problem $? "$1"
}

# The longest operand exec takes here, a third of it separators, and many
# times the tool's buffer: 131071 bytes, the most Linux takes in one argument,
# or less under a lowered stack limit.  A Windows command line holds at most
# 32,767 characters, the tool's path among them: there the operand is 27,001.
printf -v unit 'a.b%.0s' {1..43690}
printf -v unit_out 'a\\.b%.0s' {1..43690}
long=
sizes=(43690 21845 10922 5461)
[ -z "$launcher" ] || sizes=(9000)
for n in "${sizes[@]}"; do
	if env true "${unit:0:3*n}z" 2>/dev/null; then
		long=${unit:0:3*n}z long_out=${unit_out:0:4*n}z
		break
	fi
done
no_long='exec takes no argument of 16384 bytes here'

# Under Wine, Wine must start a program, and make a console, before a case can
# tell anything of the tool.  The launcher, which does nothing when run alone,
# shows whether it can.  Status 77 tells CTest that the test was skipped.
if [ -n "$launcher" ]; then
	said=$("${run[@]}" "${emulator[@]}" "$launcher" 2>&1 </dev/null)
	status=$?
	if [ "$status" -eq 77 ]; then
		skip 'every case' "${said#*: }"
		summary
		exit 77
	elif [ "$status" -ne 0 ] || [ -n "$said" ]; then
		printf 'FAIL every case: the emulator cannot start a Windows program here (status %s); it said: %s\n' \
			"$status" "$said"
		exit 1
	fi
	said=$("${run[@]}" "${emulator[@]}" "$launcher" 437 "Z:$launcher" '' 2>&1 </dev/null) && [ -z "$said" ] ||
		noconsole="Wine cannot make a console here; it said: $said"
fi

check 'no operand' 1 ''
check 'two operands' 1 '' x.y z
check 'end of options is an operand too' 1 '' -- x.y
check 'empty operand' 0 '' ''
check 'separators' 0 '\.\/\:' './:'
# shellcheck disable=SC1003 # a lone backslash is the case
check 'backslash' 0 '\' '\'
check 'escaped separator' 0 '\\.' '\.'
check 'other syntax' 0 '*?[]{}()$&;|<>"'\''`~#!%^=,+@ ' '*?[]{}()$&;|<>"'\''`~#!%^=,+@ '
check 'UTF-8 text' 0 $'\xc3\xa9\\.\xe4\xb8\xad\\/\xf0\x9f\x98\x80\\:' $'\xc3\xa9.\xe4\xb8\xad/\xf0\x9f\x98\x80:'
check 'hyphen' 0 '-' '-'
check 'double hyphen' 0 '--' '--'
check 'option-like' 0 '--n\.1' '--n.1'
check 'a Windows option is data too' 0 '\/?' '/?'
check 'line ends' 0 $'a\n\\.\n' $'a\n.\n'
check 'CR LF' 0 $'a\r\n\\.\r\n' $'a\r\n.\r\n'
touch a.txt b.txt
check 'a wildcard, in a folder of files it matches' 0 '*\.txt' '*.txt'
if [ -n "$long" ]; then
	check "long operand (${#long} bytes)" 0 "$long_out" "$long"
else
	skip 'long operand' "$no_long"
fi

if [ -z "$launcher" ]; then
	check 'high bytes' 0 $'\x80\xae\xaf\xba\xff\xc3\xa9\\.' $'\x80\xae\xaf\xba\xff\xc3\xa9.'
else
	# The Windows command line, as the C runtime parses it into operands.
	raw 'quoted, with a space' 0 'a b' '"a b"'
	raw 'two words are two operands' 1 '' 'a b'
	raw 'an escaped quotation mark' 0 'a"b' 'a\"b'
	raw 'backslashes before no quotation mark' 0 'a\\b' 'a\\b'
	# shellcheck disable=SC1003 # the trailing backslash is the case
	raw 'a trailing backslash' 0 'a\' 'a\'
	# shellcheck disable=SC1003
	raw 'a trailing backslash, quoted' 0 'a b\' '"a b\\"'
	# UTF-16 to UTF-8 at the edges of each length, and the surrogates.
	raw 'U+007F, U+0080' 0 $'\x7f\xc2\x80' '\u007f\u0080'
	raw 'U+07FF, U+0800' 0 $'\xdf\xbf\xe0\xa0\x80' '\u07ff\u0800'
	raw 'U+FFFF' 0 $'\xef\xbf\xbf' '\uffff'
	raw 'U+10000 and U+10FFFF, as surrogate pairs' 0 $'\xf0\x90\x80\x80\\.\xf4\x8f\xbf\xbf' \
		'\ud800\udc00.\udbff\udfff'
	raw 'an unpaired high surrogate' 0 $'a\xed\xa0\x80b' 'a\ud800b'
	raw 'a high surrogate at the end' 0 $'a\xed\xaf\xbf' 'a\udbff'
	raw 'an unpaired low surrogate' 0 $'\xed\xb0\x80\\.' '\udc00.'
	raw 'surrogates in the wrong order' 0 $'\xed\xb0\x80\xed\xa0\x80' '\udc00\ud800'
	# A console shows the operand's UTF-16 units as they came, at any code
	# page; a long operand's characters stay whole across the tool's writes.
	printf -v wide 'é.😀%.0s' {1..6000}
	printf -v wide_out '\\u00e9\\.\\ud83d\\ude00%.0s' {1..6000}
	for cp in 437 850 65001; do
		if [ -n "${noconsole-}" ]; then
			skip "a console at code page $cp" "$noconsole"
			continue
		fi
		raw "text beyond ASCII, on a console at code page $cp" 0 \
			'zo\u00eb\/\u65e5\u672c\.txt\ud83d\ude00' 'zo\u00eb/\u65e5\u672c.txt\ud83d\ude00' "$cp"
		raw "unpaired surrogates, on a console at code page $cp" 0 \
			'\udc00a\ud800\.' '\udc00a\ud800.' "$cp"
		raw "a long operand, on a console at code page $cp" 0 "a$wide_out" "a$wide" "$cp"
		raw "an empty operand, on a console at code page $cp" 0 '' '""' "$cp"
		raw "two operands, on a console at code page $cp" 1 '' 'a b' "$cp"
	done
fi

# Something loaded into every process here (a preloaded library, as faketime
# uses) may open a file as descriptor 1 before main, so the tool never sees it
# closed.  A new shell tells: only a closed descriptor 1 cannot be duplicated.
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
		skip 'full device, long operand' "$no_long"
	fi
else
	for name in 'full device' 'full device, empty operand' 'full device, long operand'; do
		skip "$name" '/dev/full is not a character device here'
	done
fi

# The long operand's output passes the 1 KiB limit.  The case at SIGXFSZ's
# default, which Windows lacks, needs a shell not started with it ignored.
xfsz=$((128 + $(kill -l XFSZ)))
if [ -z "$long" ]; then
	skip 'file-size limit' "$no_long"
else
	unwritable 'file-size limit, SIGXFSZ ignored' 1 fsize "$long"
fi
if [ -n "$long" ] && [ -z "$launcher" ]; then
	{ (ulimit -f 1 && exec env head -c 2048 /dev/zero >"$tmp/out"); } 2>/dev/null
	if [ $? -eq "$xfsz" ]; then
		unwritable 'file-size limit, SIGXFSZ at its default' "$xfsz" fsize-dfl "$long"
	else
		skip 'file-size limit, SIGXFSZ at its default' 'SIGXFSZ is ignored in this shell'
	fi
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
	status=$?
	if [ -n "$launcher" ]; then
		unwritable 'broken pipe, SIGPIPE at its default, which Windows lacks' 1 pipe-dfl x.y
	elif [ "$status" -eq "$sigpipe" ]; then
		unwritable 'broken pipe, SIGPIPE at its default' "$sigpipe" pipe-dfl x.y
	else
		skip 'broken pipe, SIGPIPE at its default' 'SIGPIPE is ignored in this shell'
	fi
	exec 4>&-
else
	for name in 'broken pipe, SIGPIPE ignored' 'broken pipe, empty operand' 'broken pipe, SIGPIPE at its default'; do
		skip "$name" 'no FIFO whose reader has gone could be made here'
	done
fi

# The examples of the README and the manual page, as the page shows them:
# the lines that start "$ ", run as a case of check by a shell that finds the
# tool as sepquote, write the lines after them, up to a blank one.
mkdir "$tmp/bin"
printf '#!/usr/bin/env bash\nexec %s "$@"\n' "${cmd[*]@Q}" >"$tmp/bin/sepquote" && chmod +x "$tmp/bin/sepquote"
example() {
	tool=(env "PATH=$tmp/bin:$PATH" sh -c)
	check "$1: ${2%%$'\n'*}" 0 "$3" "$2"
	tool=("${cmd[@]}")
}
examples() { # examples PAGE: those of the text of PAGE on standard input
	local line script='' out='' before=$((passed + failed))
	while IFS= read -r line || [ -n "$script" ]; do
		line=${line#"${line%%[! ]*}"}
		[[ -n $script && (-z $line || $line == '$ '* && -n $out) ]] && example "$1" "$script" "$out" && script='' out=''
		if [[ $line == '$ '* ]]; then script+=${line#\$ }$'\n'; elif [ -n "$script" ]; then out+=$line$'\n'; fi
	done
	[ $((passed + failed)) -gt "$before" ] || skip "the examples of $1" 'none shown, as lines that start "$ "'
}
examples README.md <"$pages/README.md"
if command -v groff >/dev/null; then examples sepquote.1 < <(groff -man -Tascii -P-cbou "$pages/sepquote.1.in")
else skip 'the examples of the manual page' 'groff is not installed'; fi

summary
