#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Run a Windows program for the processor CPU (a line of pkg/windows.cpus)
# under Debian's Wine, with the CPU's own loader:
#
#   wine.sh CPU PROGRAM [ARGUMENT...]
#
# Where this machine cannot run CPU's programs at all (as 32-bit x86 ones on
# some kernels), it says so on standard error, with status 77; where Wine
# cannot make its prefix, its messages, with status 125.  Nothing of Wine's
# own may reach the program's standard files: Wine runs in C.UTF-8, in which
# it reads the arguments, with debugging off but for SEPQUOTE_WINEDEBUG's
# channels (as -all,err+all), and without a preloaded library (as faketime's),
# which a 32-bit loader cannot load.  One prefix under TMPDIR serves all this
# user's runs, made once for each Wine and never updated (a new one takes some
# twenty seconds and a gigabyte); another Wine's is removed.  Its graphics
# driver is the null one, for a console without a display, and a crashing
# program ends with no dialog.  Wine's server and background processes keep
# the standard files of what starts them, so are started here, detached; the
# server, shared by all runs, ends a minute after its last program.

set -u
export WINEDEBUG=${SEPQUOTE_WINEDEBUG:--all} LC_ALL=C.UTF-8
unset LD_PRELOAD WINEPREFIX WINELOADER
cpu=${1:?usage: wine.sh CPU program [argument...]}
shift
# The CPU's loader and its package, from the release's table of CPUs.
read -r _ loader package _ < <(grep "^$cpu " "$(dirname "$0")/../pkg/windows.cpus")
[ -n "${loader-}" ] || { echo "wine.sh: no Wine loader for the processor '$cpu'" >&2; exit 2; }
wine64=/usr/lib/wine/wine64 wine32=/usr/lib/wine/wine loader=/usr/lib/wine/$loader
[ -x "$loader" ] || { echo "wine.sh: $loader is missing: install $package" >&2; exit 125; }
[[ $(uname -m) == @(x86_64|i?86) ]] ||
	{ echo "wine.sh: this machine is no x86 ($(uname -m)), and cannot run $cpu programs" >&2; exit 77; }
# A kernel without 32-bit x86 support refuses the exec (Exec format error).
"$wine32" --version >/dev/null 2>&1 && ia32=yes || ia32=
if [ "$loader" = "$wine32" ] && [ -z "$ia32" ]; then
	echo "wine.sh: this machine cannot run 32-bit x86 programs, Wine's 32-bit loader among them" >&2
	exit 77
fi
# The prefix is made with the 64-bit loader where there is one: it serves
# both CPUs, and needs nothing 32-bit.
boot=$wine64
[ -x "$boot" ] || boot=$wine32

# The Wine that runs here, and its prefix.
wine=$("$loader" --version 2>&1; ls /usr/lib/wine; echo "$ia32")
prefixes=${TMPDIR:-/tmp}/sepquote-wine-$(id -u)
WINEPREFIX=$prefixes/$(sha256sum <<<"$wine" | cut -c1-16)
export WINEPREFIX
mkdir -m 700 "$prefixes" 2>/dev/null
if [ -L "$prefixes" ] || [ ! -d "$prefixes" ] || [ ! -O "$prefixes" ]; then
	echo "wine.sh: $prefixes is not a folder of this user's own" >&2
	exit 125
fi

# quietly WHAT COMMAND...: run COMMAND with its standard files detached; if
# it fails, say Wine could not WHAT in WINEPREFIX, and what it said; exit 125.
quietly() {
	"${@:2}" </dev/null >"$WINEPREFIX.log" 2>&1 9>&- && return
	echo "wine.sh: Wine could not $1 in $WINEPREFIX; it said:" >&2
	cat "$WINEPREFIX.log" >&2
	exit 125
}

# One run at a time makes the prefix or starts its server, the others wait;
# Wine's own processes, which outlive this script, do not hold the lock.
exec 9>"$prefixes/lock"
flock 9
if [ ! -e "$WINEPREFIX/.update-timestamp" ]; then
	for old in "$prefixes"/*/; do
		WINEPREFIX=${old%/} wineserver -k >/dev/null 2>&1
		rm -rf "$old"
	done
	quietly 'make a prefix' "$boot" wineboot --init
	quietly 'make a prefix' wineserver -w
	quietly 'choose the null graphics driver' \
		"$boot" reg add 'HKCU\Software\Wine\Drivers' /v Graphics /d null /f
	quietly 'choose no crash dialog' \
		"$boot" reg add 'HKCU\Software\Wine\WineDbg' /v ShowCrashDialog /t REG_DWORD /d 0 /f
	quietly 'make a prefix' wineserver -w
	# Written last: a prefix without it is unfinished, and made anew.
	echo disable >"$WINEPREFIX/.update-timestamp"
fi
# Exit status 0: no server was running, and this one is new.
if wineserver -p60 </dev/null >/dev/null 2>&1 9>&-; then
	quietly 'start' "$boot" wineboot
fi
exec 9>&-
exec "$loader" "$@"
