#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Run a Windows program under Wine:
#
#   wine.sh PROGRAM [ARGUMENT...]   run PROGRAM
#   wine.sh                         stop Wine's server, and wait
#
# Nothing of Wine's own may reach the program's standard files, or a test
# would blame the program for it:
# - Wine reads the arguments in the locale's encoding, so it runs in
#   C.UTF-8, and its debugging messages are off.
# - A library that the caller preloads (faketime does) is not Wine's: a
#   32-bit loader cannot load a 64-bit one, and says so.  Wine runs without.
# - A new Wine prefix takes some twenty seconds and over a gigabyte to
#   make, and says so on standard error.  So one prefix serves every build
#   of this user, made here once for each Wine that runs it (its version,
#   and its loaders, which tell whether it has 32-bit support), in a folder
#   of the user's own under TMPDIR, and never updated by Wine.  A prefix of
#   another Wine could no longer start a program: it is removed.  Where a
#   prefix cannot be made, Wine's messages go to standard error and the
#   status is 125.
# - Its graphics driver is the null one, with which Wine can make a console
#   where there is no display.  A program that crashes shows no dialog
#   there, which no one could close: Wine's debugger writes what it found
#   on standard error, and the program ends.
# - Wine's server and its background processes keep the standard files of
#   the program that started them, and a capture of that program's output
#   waits for them to end.  They are started here, detached, and the server
#   stays up for a minute after its last program.

set -u
export WINEDEBUG=-all LC_ALL=C.UTF-8
unset LD_PRELOAD WINEPREFIX
command -v wine >/dev/null || { echo "wine.sh: Wine is not installed" >&2; exit 125; }

# The Wine that runs here, and its prefix.
wine=$(wine --version 2>&1; ls /usr/lib/wine 2>/dev/null)
prefixes=${TMPDIR:-/tmp}/sepquote-wine-$(id -u)
WINEPREFIX=$prefixes/$(sha256sum <<<"$wine" | cut -c1-16)
export WINEPREFIX
if [ $# -eq 0 ]; then
	[ ! -d "$WINEPREFIX" ] || { wineserver -k 2>/dev/null && wineserver -w; }
	exit 0
fi
mkdir -m 700 "$prefixes" 2>/dev/null
if [ -L "$prefixes" ] || [ ! -d "$prefixes" ] || [ ! -O "$prefixes" ]; then
	echo "wine.sh: $prefixes is not a folder of this user's own" >&2
	exit 125
fi

# quietly WHAT COMMAND...: run COMMAND with its standard files detached,
# or, if it fails, say what Wine could not do and what it said, and exit 125.
log=$WINEPREFIX.log
quietly() {
	local what=$1
	shift
	"$@" </dev/null >"$log" 2>&1 9>&- && return
	echo "wine.sh: Wine could not $what in $WINEPREFIX; it said:" >&2
	cat "$log" >&2
	exit 125
}

# One build at a time makes the prefix, or starts its server; the others
# wait for it.  Wine's own processes, which outlive this script, do not
# hold the lock.
exec 9>"$prefixes/lock"
flock 9
if [ ! -e "$WINEPREFIX/.update-timestamp" ]; then
	for old in "$prefixes"/*/; do
		WINEPREFIX=${old%/} wineserver -k >/dev/null 2>&1
		rm -rf "$old"
	done
	quietly 'make a prefix' sh -c 'wineboot --init && wineserver -w'
	quietly 'choose the null graphics driver, and no crash dialog' sh -c \
		"wine reg add 'HKCU\\Software\\Wine\\Drivers' /v Graphics /d null /f &&
		wine reg add 'HKCU\\Software\\Wine\\WineDbg' /v ShowCrashDialog /t REG_DWORD /d 0 /f &&
		wineserver -w"
	# Written last: a prefix without it is unfinished, and made anew.
	echo disable >"$WINEPREFIX/.update-timestamp"
fi
# Exit status 0: no server was running, and this one is new.
if wineserver -p60 </dev/null >/dev/null 2>&1 9>&-; then
	quietly 'start' wineboot
fi
exec 9>&-
exec wine "$@"
