#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Benchmark sepquote against the floor, a do-nothing program built with the
# same compiler and flags (the cost of starting any process), and against sed
# doing the same job.  Instruction counts come from callgrind and repeat
# exactly, and each command is counted with an empty environment so that they
# do not depend on who runs the benchmark (sed then works in the C locale).
# Wall times come from hyperfine and are given only as ratios taken in one
# run: the tool against the floor, and inside a shell, as a script calls it,
# against a pipe into sed.
# Needs valgrind and hyperfine; exits 1 if a target is missed.

set -euo pipefail
cd "$(dirname "$0")/.."
build=build/bench
cmake -S . -B "$build" >/dev/null
cmake --build "$build" --target sepquote bench-floor >/dev/null
tool=$PWD/$build/sepquote
floor=$PWD/$build/bench-floor
sed=$(command -v sed)
valgrind=$(command -v valgrind)
script='s/[./:]/\\&/g'

tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
url='https://www.example.com:8443/path/file'
# The longest operand Linux takes, a third of it separators.
printf -v long 'a.b%.0s' {1..43690}
long+=z
printf '%s' "$url" >"$tmp/url"
printf '%s' "$long" >"$tmp/long"

# instructions COMMAND...: what callgrind counts for one run of COMMAND.
instructions() {
	env -i "$valgrind" --tool=callgrind --callgrind-out-file=/dev/null "$@" 2>&1 >/dev/null |
		sed -n 's/^==[0-9]*== Collected : //p'
}

i_floor=$(instructions "$floor")
i_url=$(instructions "$tool" "$url")
i_long=$(instructions "$tool" "$long")
i_sed_url=$(instructions "$sed" "$script" "$tmp/url")
i_sed_long=$(instructions "$sed" "$script" "$tmp/long")
out_long=$("$tool" "$long" | wc -c)

# Wall times: hyperfine's mean for each command, in one run.
hyperfine --shell=none --warmup 50 --runs 1000 --style none --export-csv "$tmp/t.csv" \
	-n floor "$floor" \
	-n sepquote "$tool $url" \
	-n sh-sepquote "sh -c '$tool $url'" \
	-n sh-sed "sh -c 'printf %s $url | $sed \"$script\"'" >/dev/null 2>"$tmp/t.err" ||
	{ cat "$tmp/t.err" >&2; exit 1; }
mean() { awk -F, -v n="$1" '$1 == n { print $2 }' "$tmp/t.csv"; }

awk -v floor="$i_floor" -v url="$i_url" -v long="$i_long" -v out="$out_long" \
	-v sed_url="$i_sed_url" -v sed_long="$i_sed_long" -v url_bytes="${#url}" \
	-v t_floor="$(mean floor)" -v t_tool="$(mean sepquote)" \
	-v t_sh_tool="$(mean sh-sepquote)" -v t_sh_sed="$(mean sh-sed)" '
function row(what, n, figure, target, ok) {
	line = sprintf("%-26s %10s  %-34s %-8s %s", what, n, figure, target, target == "" ? "" : ok ? "met" : "MISSED")
	sub(/ +$/, "", line)
	print line
	if (!ok) missed++
}
BEGIN {
	printf "%-26s %10s  %-34s %s\n", "instructions (callgrind)", "count", "figure", "target"
	row("floor: do-nothing program", floor, "", "", 1)
	r = url / floor
	row("sepquote, URL (" url_bytes " bytes)", url, sprintf("%.3f x floor", r), "<= 1.06", r <= 1.06)
	r = (long - floor) / out
	row("sepquote, 131071 bytes", long, sprintf("%.2f per output byte over floor", r), "<= 14", r <= 14)
	r = sed_url / url
	row("sed, URL", sed_url, sprintf("%.2f x sepquote", r), ">= 5", r >= 5)
	r = sed_long / long
	row("sed, 131071 bytes", sed_long, sprintf("%.2f x sepquote", r), ">= 20", r >= 20)
	printf "\nwall time (hyperfine, means in one run): sepquote %.2f x floor;", t_tool / t_floor
	printf " in sh -c, printf | sed %.2f x sepquote\n", t_sh_sed / t_sh_tool
	exit missed > 0
}'
