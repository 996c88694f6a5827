#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Benchmark sepquote: the default build against the floor, a do-nothing
# program built with the same compiler and flags (the cost of starting any
# process); the static build against the default one and its own floor; and,
# for comparison only, sed doing the same job.  Instruction counts come from
# callgrind in an empty environment, so they repeat exactly whoever runs it;
# wall times from hyperfine, only as ratios within one run.  Needs valgrind,
# hyperfine and musl-dev; exits 1 if a target (on sepquote's counts) is missed.

set -euo pipefail
for tool in valgrind hyperfine; do
	command -v "$tool" >/dev/null || { echo "bench: $tool is not installed" >&2; exit 1; }
done
cd "$(dirname "$0")/.."
for preset in host static; do
	cmake --preset "$preset" >/dev/null
	cmake --build "build/$preset" --target sepquote bench-floor >/dev/null
done
sed=$(command -v sed)
script='s/[./:]/\\&/g'

# What is counted runs from, and in, a folder of fixed name length: counts
# move with the path length, seen by the loader, and the folder, by valgrind.
tmp=$(mktemp -d /tmp/sepquote-bench.XXXXXX)
trap 'rm -rf "$tmp"' EXIT
cp build/host/sepquote "$tmp/tool"
cp build/host/bench-floor "$tmp/floor"
cp build/static/sepquote "$tmp/stool"
cp build/static/bench-floor "$tmp/sfloor"
tool=$tmp/tool floor=$tmp/floor static=$tmp/stool static_floor=$tmp/sfloor
url='https://www.example.com:8443/path/file'
# The longest operand Linux takes, a third of it separators.
printf -v long 'a.b%.0s' {1..43690}
long+=z
printf '%s' "$url" >"$tmp/url"
printf '%s' "$long" >"$tmp/long"

# instructions DIR COMMAND...: callgrind's count for one run of COMMAND in DIR.
instructions() {
	(cd "$1" && env -i "$(command -v valgrind)" --tool=callgrind --callgrind-out-file=/dev/null "${@:2}" 2>&1 >/dev/null) |
		sed -n 's/^==[0-9]*== Collected : //p'
}

i_floor=$(instructions "$tmp" "$floor")
i_url=$(instructions "$tmp" "$tool" "$url")
i_long=$(instructions "$tmp" "$tool" "$long")
i_static_floor=$(instructions "$tmp" "$static_floor")
i_static_url=$(instructions "$tmp" "$static" "$url")
i_sed_url=$(instructions "$tmp" "$sed" "$script" "$tmp/url")
i_sed_long=$(instructions "$tmp" "$sed" "$script" "$tmp/long")
out_long=$("$tool" "$long" | wc -c)

# Wall times: hyperfine's mean for each command, in one run.  The loop is
# what a script does: 200 calls, each capturing the output in a variable.
cat >"$tmp/loop.sh" <<'EOF'
case $1 in
default) for ((i = 0; i < CALLS; i++)); do x=$("$TOOL" "$URL"); done ;;
static) for ((i = 0; i < CALLS; i++)); do x=$("$STATIC" "$URL"); done ;;
floor) for ((i = 0; i < CALLS; i++)); do x=$("$STATIC_FLOOR" "$URL"); done ;;
sed) for ((i = 0; i < CALLS; i++)); do x=$(printf %s "$URL" | sed "$SCRIPT"); done ;;
bash) for ((i = 0; i < CALLS; i++)); do x=${URL//[.\/:]/\\&}; done ;;
esac
EOF
q() { printf '%q' "$1"; }
calls=200
export TOOL=$tool STATIC=$static STATIC_FLOOR=$static_floor URL=$url SCRIPT=$script CALLS=$calls
hyperfine --shell=none --warmup 50 --runs 1000 --style none --export-csv "$tmp/t.csv" \
	-n floor "$(q "$floor")" -n sepquote "$(q "$tool") $url" >/dev/null 2>"$tmp/t.err" ||
	{ cat "$tmp/t.err" >&2; exit 1; }
hyperfine --shell=none --warmup 1 --runs 3 --style none --export-csv "$tmp/loop.csv" \
	-n default "bash $(q "$tmp/loop.sh") default" -n static "bash $(q "$tmp/loop.sh") static" -n floor "bash $(q "$tmp/loop.sh") floor" \
	-n sed "bash $(q "$tmp/loop.sh") sed" -n bash "bash $(q "$tmp/loop.sh") bash" \
	>/dev/null 2>"$tmp/t.err" || { cat "$tmp/t.err" >&2; exit 1; }
mean() { awk -F, -v n="$2" '$1 == n { print $2 }' "$1"; }

awk -v floor="$i_floor" -v url="$i_url" -v long="$i_long" -v out="$out_long" \
	-v static_floor="$i_static_floor" -v static_url="$i_static_url" \
	-v sed_url="$i_sed_url" -v sed_long="$i_sed_long" -v url_bytes="${#url}" \
	-v t_floor="$(mean "$tmp/t.csv" floor)" -v t_tool="$(mean "$tmp/t.csv" sepquote)" \
	-v l_default="$(mean "$tmp/loop.csv" default)" -v l_static="$(mean "$tmp/loop.csv" static)" \
	-v l_floor="$(mean "$tmp/loop.csv" floor)" \
	-v l_sed="$(mean "$tmp/loop.csv" sed)" -v l_bash="$(mean "$tmp/loop.csv" bash)" -v calls="$calls" '
function row(what, n, figure, target, ok) {
	line = sprintf("%-30s %10s  %-34s %-8s %s", what, n, figure, target, target == "" ? "" : ok ? "met" : "MISSED")
	sub(/ +$/, "", line)
	print line
	if (!ok) missed++
}
BEGIN {
	printf "%-30s %10s  %-34s %s\n", "instructions (callgrind)", "count", "figure", "target"
	row("floor: do-nothing program", floor, "", "", 1)
	r = url / floor
	row("sepquote, URL (" url_bytes " bytes)", url, sprintf("%.3f x floor", r), "<= 1.06", r <= 1.06)
	r = (long - floor) / out
	row("sepquote, 131071 bytes", long, sprintf("%.2f per output byte over floor", r), "<= 14", r <= 14)
	row("static floor: do-nothing", static_floor, "", "", 1)
	r = url / static_url
	row("static sepquote, URL", static_url, sprintf("%.2f x static floor", static_url / static_floor), "", 1)
	row("default / static, URL", "", sprintf("%.1f x fewer in static", r), ">= 35", r >= 35)
	row("sed, URL", sed_url, sprintf("%.2f x sepquote", sed_url / url), "", 1)
	row("sed, 131071 bytes", sed_long, sprintf("%.2f x sepquote", sed_long / long), "", 1)
	printf "\nwall time (hyperfine, means in one run): sepquote %.2f x floor\n", t_tool / t_floor
	printf "%d calls of x=$(...) from bash: default build %.2f ms a call; static %.2f x that, %.2f x the static floor;", calls, l_default * 1000 / calls, l_static / l_default, l_static / l_floor
	printf " printf | sed %.2f x; bash substitution %.3f x\n", l_sed / l_default, l_bash / l_default
	exit missed > 0
}'
