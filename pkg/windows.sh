#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# The Windows executable for the CPU ARCH (a line of pkg/windows.cpus),
# built with mingw-w64, in a zip, sepquote-VERSION-ARCH-windows.zip, whose
# one folder holds it and its documents, and in an installer for the user
# alone, sepquote-VERSION-ARCH-windows.msi, written by wixl from
# pkg/sepquote.wxs.  pkg/lib.sh says how a kind's file is used.
# shellcheck source=pkg/lib.sh
. "$(dirname "${BASH_SOURCE[0]}")/lib.sh"

# Every version's installers share this code, by which a newer replaces an
# older; their other codes are UUIDs in its namespace, of version and CPU.
upgrade_code=EADEDE53-229B-43F0-9392-842540725740

windows_files() { printf "sepquote-$1-$2-windows.%s\n" zip msi; }

# cpu CPU: CPU's line of pkg/windows.cpus, into the caller's array line.
cpu() {
	read -r -a line < <(grep "^$1 " "$pkg/windows.cpus") || true
	((${#line[@]} == 8)) ||
		{ echo "pkg/windows.cpus has no line for the Windows CPU $1" >&2; exit 1; }
}

windows_needs() {
	local line
	cpu "$1"
	need "g++-mingw-w64-${1//_/-}-win32" wine "${line[2]}" zip unzip wixl msitools faketime uuid-runtime
}

# The files: the zip, and then the installer.  wixl and msibuild write the
# time they run, as local time; msibuild adds the user's PATH entry, which
# wixl cannot write.
windows_make() {
	local version=$2 top line at && top=$(windows_files "$2" "$3" | head -n 1) && top=${top%.zip}
	cpu "$3"
	install_components "$stage" "/$top" sepquote.exe tool licence
	settle "$stage/$top"
	rm -f "$build/$top.zip" "$build/$top.msi"
	(cd "$stage" && find "$top" | sort | TZ=UTC0 zip -X -9 -q -@ "$build/$top.zip")
	made zip "$3" "$build/$top.zip"
	uuid() { uuidgen --sha1 --namespace "$upgrade_code" --name "$1" | sed 's/.*/{\U&}/'; }
	at=(env TZ=UTC0 faketime -f "$(date -u -d "@$SOURCE_DATE_EPOCH" '+%Y-%m-%d %H:%M:%S')")
	(cd "$stage/$top" && "${at[@]}" wixl -a "${line[6]}" -o "$build/$top.msi" -D Version="$version" \
		-D Description="$(sed -n 's/^Description: //p' "$build/control")" -D Win64="${line[7]}" \
		-D UpgradeCode="{$upgrade_code}" -D ProductCode="$(uuid "product $version $3")" \
		-D ComponentCode="$(uuid "component $3")" "$pkg/sepquote.wxs")
	"${at[@]}" msibuild "$build/$top.msi" -q 'CREATE TABLE Environment (Environment CHAR(72) NOT NULL,
		Name CHAR(255) NOT NULL LOCALIZABLE, Value CHAR(255) LOCALIZABLE, Component_ CHAR(72) NOT NULL
		PRIMARY KEY Environment)' -q "INSERT INTO Environment (Environment, Name, Value, Component_)
		VALUES ('PATH', '=-PATH', '[~];[INSTALLDIR]', 'sepquote')" \
		-q "INSERT INTO InstallExecuteSequence (Action, Sequence) VALUES ('RemoveEnvironmentStrings', 3300)" \
		-q "INSERT INTO InstallExecuteSequence (Action, Sequence) VALUES ('WriteEnvironmentStrings', 5200)"
	"${at[@]}" msibuild "$build/$top.msi" -s sepquote "sepquote maintainers" "${line[5]};1033" \
		"$(uuid "package $version $3")"
	made msi "$3" "$build/$top.msi"
}

# windows_untested CPU: why this machine cannot run CPU's programs, where
# it cannot; where it can, nothing.
windows_untested() {
	local said
	said=$(bash "$pkg/../tests/wine.sh" "$1" --version 2>&1 >/dev/null) || [ $? -ne 77 ] || echo "${said#wine.sh: }"
}

# windows_holds NAME FOLDER: FOLDER, from the file NAME, holds what every
# package does, side by side; and a console executable for the CPU that
# imports only DLLs every Windows has, and carries no time stamp.
windows_holds() {
	local name=$1 exe=$2/sepquote.exe said dll line
	holds "$name" "$(files_in "$2")" exe=sepquote.exe manual= readme=README.md licence=LICENSE \
		notice=LICENSE.mingw-w64
	cpu "$cpu"
	# objdump shows the COFF header's time stamp as local time.
	ask said env TZ=UTC0 objdump -p "$exe"
	[[ $said == *"file format ${line[3]}"* && $said == *$'\nMagic\t\t\t'"${line[4]}"$'\t'* ]] ||
		fail "$name: the executable is not ${line[3]}, magic ${line[4]}:" "$(head -n 3 <<<"$said")"
	[[ $said == *$'\nSubsystem\t\t00000003\t(Windows CUI)'* ]] || fail "$name: the executable is not a console program"
	while read -r dll; do
		[[ ${dll,,} =~ ^(kernel32|msvcrt|ucrtbase|api-ms-win-crt-[a-z0-9-]+)\.dll$ ]] ||
			fail "$name: the executable needs $dll, which not every Windows has"
	done < <(sed -n 's/^\tDLL Name: //p' <<<"$said")
	[[ $said == *$'\nTime/Date\t\tThu Jan  1 00:00:00 1970\n'* ]] ||
		fail "$name: the executable carries a time stamp:" "$(grep '^Time/Date' <<<"$said")"
	tested "$name" "$exe"
}

zip_check() {
	local cpu=$2 folder
	unzip -q "$1" -d "$3"
	folder=$(one_folder "$3" "${1##*/}") || exit 1
	windows_holds "${1##*/}" "$folder"
}

# in_wine DIR COMMAND...: COMMAND under Wine for $cpu, with a prefix and a
# server of its own under DIR; wine_down DIR PREFIX: they end.
in_wine() { TMPDIR=$1 bash "$pkg/../tests/wine.sh" "$cpu" "${@:2}"; }
wine_down() { (export TMPDIR=$1 WINEPREFIX=$2; wineserver -k || true; wineserver -w); }

# msi_check MSI CPU DIR: under Wine, in a prefix of its own under DIR, the
# installer installs what windows_holds wants; a new process finds it
# through PATH; and msiexec removes it, leaving no file or registry entry.
msi_check() {
	local name=${1##*/} cpu=$2 said prefix
	in_wine "$3" msiexec /i "Z:$1" /qn >"$3.log" 2>&1 || fail "$name: msiexec cannot install it:" "$(cat "$3.log")"
	prefix=$(echo "$3"/sepquote-wine-*/*/)
	windows_holds "$name" "$(echo "$prefix"/drive_c/users/*/AppData/Local/Programs/sepquote)"
	wine_down "$3" "$prefix"
	said=$(in_wine "$3" cmd /c sepquote a.b 2>&1 || true)
	[ "$said" = 'a\.b' ] || fail "$name: a new process does not find sepquote through PATH; it said: $said"
	in_wine "$3" msiexec /x "Z:$1" /qn >"$3.log" 2>&1 || fail "$name: msiexec cannot remove it:" "$(cat "$3.log")"
	wine_down "$3" "$prefix"
	said=$(find "$prefix/drive_c" -iname '*sepquote*' -o -path '*/windows/Installer/*'
		grep -i sepquote "$prefix"/*.reg || true)
	[ -z "$said" ] || fail "$name leaves this behind when it is removed:" "$said"
}

[ "${BASH_SOURCE[0]}" != "$0" ] || dist windows "$@"
