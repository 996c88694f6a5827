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
# - A new prefix takes seconds to make and says so on standard error: it is
#   made here, once, and never updated again.
# - Wine's server and its background processes keep the standard files of
#   the program that started them, and a capture of that program's output
#   waits for them to end.  They are started here, detached, and the server
#   stays up for a minute after its last program.

set -u
export WINEPREFIX=$1 WINEDEBUG=-all LC_ALL=C.UTF-8
[[ $WINEPREFIX == /* ]] || WINEPREFIX=$PWD/$WINEPREFIX
shift
if [ $# -eq 0 ]; then
	wineserver -k 2>/dev/null && wineserver -w
	exit 0
fi
{
	if [ ! -e "$WINEPREFIX/.update-timestamp" ]; then
		mkdir -p "$WINEPREFIX" && wineboot --init && wineserver -w &&
			echo disable >"$WINEPREFIX/.update-timestamp" || exit 125
	fi
	# Exit status 0: no server was running, and this one is new.
	if wineserver -p60; then
		wineboot || exit 125
	fi
} </dev/null >/dev/null 2>&1
exec wine "$@"
