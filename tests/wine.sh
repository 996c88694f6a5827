#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Run a Windows program under Wine, in a Wine prefix of its own:
#
#   wine.sh PREFIX PROGRAM [ARGUMENT...]   run PROGRAM, making PREFIX first
#   wine.sh PREFIX                         stop PREFIX's server, and wait
#
# Nothing of Wine's own may reach the program's standard files, or a test
# would blame the program for it:
# - Wine reads the arguments in the locale's encoding, so it runs in
#   C.UTF-8, and its debugging messages are off.
# - A library that the caller preloads (faketime does) is not Wine's: a
#   32-bit loader cannot load a 64-bit one, and says so.  Wine runs without.
# - A new prefix takes seconds to make and says so on standard error: it is
#   made here, and never updated by Wine.  It is made anew when the Wine
#   that runs it is not the one that made it (another version, or 32-bit
#   support installed or removed), which could no longer start a program
#   in it.  Where it cannot be made, Wine's messages go to standard error
#   and the status is 125.
# - Its graphics driver is the null one, with which Wine can make a console
#   where there is no display.  A program that crashes shows no dialog
#   there, which no one could close: Wine's debugger writes what it found
#   on standard error, and the program ends.
# - Wine's server and its background processes keep the standard files of
#   the program that started them, and a capture of that program's output
#   waits for them to end.  They are started here, detached, and the server
#   stays up for a minute after its last program.

set -u
export WINEPREFIX=$1 WINEDEBUG=-all LC_ALL=C.UTF-8
unset LD_PRELOAD
[[ $WINEPREFIX == /* ]] || WINEPREFIX=$PWD/$WINEPREFIX
shift
if [ $# -eq 0 ]; then
	wineserver -k 2>/dev/null && wineserver -w
	exit 0
fi

# quietly WHAT COMMAND...: run COMMAND with its standard files detached,
# or, if it fails, say what Wine could not do and what it said, and exit 125.
log=$WINEPREFIX.log
quietly() {
	local what=$1
	shift
	"$@" </dev/null >"$log" 2>&1 && return
	echo "wine.sh: Wine could not $what in $WINEPREFIX; it said:" >&2
	cat "$log" >&2
	exit 125
}

# The Wine that runs here: its version, and its loaders (Debian's wine32
# puts the 32-bit one beside the 64-bit one).
wine=$(wine --version 2>&1; ls /usr/lib/wine 2>/dev/null)
stamp=$WINEPREFIX/.sepquote-wine
if [ "$(cat "$stamp" 2>/dev/null)" != "$wine" ]; then
	{ wineserver -k && wineserver -w; } >/dev/null 2>&1
	rm -rf "$WINEPREFIX" && mkdir -p "$WINEPREFIX" || exit 125
	quietly 'make a prefix' sh -c 'wineboot --init && wineserver -w'
	quietly 'choose the null graphics driver, and no crash dialog' sh -c \
		"wine reg add 'HKCU\\Software\\Wine\\Drivers' /v Graphics /d null /f &&
		wine reg add 'HKCU\\Software\\Wine\\WineDbg' /v ShowCrashDialog /t REG_DWORD /d 0 /f &&
		wineserver -w"
	echo disable >"$WINEPREFIX/.update-timestamp"
	printf '%s\n' "$wine" >"$stamp"
fi
# Exit status 0: no server was running, and this one is new.
if wineserver -p60 </dev/null >/dev/null 2>&1; then
	quietly 'start' wineboot
fi
exec wine "$@"
