#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# The Windows executable for the CPU ARCH (a line of pkg/windows.cpus),
# built with mingw-w64: in a zip, sepquote-VERSION-ARCH-windows.zip, whose
# one folder holds it and its documents, and in an installer for the user
# alone, sepquote-VERSION-ARCH-windows.msi, written by wixl from
# pkg/sepquote.wxs.  pkg/lib.sh says how a kind is run.
# shellcheck source=pkg/lib.sh
. "$(dirname "${BASH_SOURCE[0]}")/lib.sh"

# Every version's installers share this code, by which a newer replaces an
# older; their other codes are UUIDs in its namespace, of version and CPU.
readonly upgrade_code=EADEDE53-229B-43F0-9392-842540725740
readonly language=1033 # the installer's, English (United States)

names() { cpu_line "$2" >/dev/null && printf '%s\n' "sepquote-$1-$2-windows."{zip,msi}; }

# cpu_line CPU: CPU's line of pkg/windows.cpus.
cpu_line() { awk -v cpu="$1" '$1 == cpu && NF == 8 { print; found = 1 } END { exit !found }' "$pkg/windows.cpus" ||
	fail "pkg/windows.cpus has no line for the Windows CPU $1"; }

arches() { awk '!/^#/ { print $1 }' "$pkg/windows.cpus"; } # arches: the CPUs, a line each

needs() {
	local said line
	said=$(cpu_line "$1")
	read -r -a line <<<"$said"
	echo "g++-mingw-w64-${1//_/-}-win32" wine "${line[2]}" zip unzip wixl msitools faketime uuid-runtime
}

uuid() { uuidgen --sha1 --namespace "$upgrade_code" --name "$1" | sed 's/.*/{\U&}/'; }

# The files: the zip, and then the installer.
pack() {
	local stage=$1 build=$2 version=$3 cpu=$4 top zip msi
	{ read -r zip && read -r msi; } < <(names "$version" "$cpu")
	top=${zip%.zip} zip=$build/dist/$zip
	install_components "$build" "$stage" "/$top" sepquote.exe tool licence
	settle "$stage/$top"
	(cd "$stage" && find "$top" | sort | TZ=UTC0 zip -X -9 -q -@ "$zip")
	installer "$stage/$top" "$build/dist/$msi" "$version" "$cpu" "$build"
}

# installer FOLDER MSI VERSION CPU BUILD: MSI, the installer of VERSION of
# the files of FOLDER.  wixl and msibuild write the time they run, as local
# time; msibuild adds the user's PATH entry, which wixl cannot write.
installer() {
	local folder=$1 msi=$2 version=$3 cpu=$4 build=$5 said line at maintainer
	said=$(cpu_line "$cpu")
	read -r -a line <<<"$said"
	maintainer=$(field "$build" Maintainer) && maintainer=${maintainer% <*}
	at=(env TZ=UTC0 faketime -f "$(date -u -d "@${SOURCE_DATE_EPOCH:-0}" '+%Y-%m-%d %H:%M:%S')")
	(cd "$folder" && "${at[@]}" wixl -a "${line[6]}" -o "$msi" -D Version="$version" \
		-D Description="$(field "$build" Description)" -D Manufacturer="$maintainer" -D Language="$language" \
		-D Win64="${line[7]}" -D UpgradeCode="{$upgrade_code}" -D ProductCode="$(uuid "product $version $cpu")" \
		-D ComponentCode="$(uuid "component $cpu")" "$pkg/sepquote.wxs")
	"${at[@]}" msibuild "$msi" -q 'CREATE TABLE Environment (Environment CHAR(72) NOT NULL,
		Name CHAR(255) NOT NULL LOCALIZABLE, Value CHAR(255) LOCALIZABLE, Component_ CHAR(72) NOT NULL
		PRIMARY KEY Environment)' -q "INSERT INTO Environment (Environment, Name, Value, Component_)
		VALUES ('PATH', '=-PATH', '[~];[INSTALLDIR]', 'sepquote')" \
		-q "INSERT INTO InstallExecuteSequence (Action, Sequence) VALUES ('RemoveEnvironmentStrings', 3300)" \
		-q "INSERT INTO InstallExecuteSequence (Action, Sequence) VALUES ('WriteEnvironmentStrings', 5200)"
	"${at[@]}" msibuild "$msi" -s sepquote "$maintainer" "${line[5]};$language" "$(uuid "package $version $cpu")"
}

# untested CPU: why this machine cannot run CPU's programs, if it cannot.
untested() { local said && said=$(bash "$pkg/../tests/wine.sh" "$1" --version 2>&1 >/dev/null) || [ $? -ne 77 ] || echo "${said#wine.sh: }"; }

# holds_exe NAME FOLDER BUILD CPU: FOLDER, from the file NAME, holds what
# every package does, side by side, and a console executable for CPU that
# imports only DLLs every Windows has, is undated, and passes BUILD's tests.
holds_exe() {
	local name=$1 exe=$2/sepquote.exe said dll line
	holds "$name" "$(files_in "$2")" exe=sepquote.exe manual= readme=README.md licence=LICENSE \
		notice=LICENSE.mingw-w64
	said=$(cpu_line "$4")
	read -r -a line <<<"$said"
	# objdump shows the COFF header's time stamp as local time.
	said=$(ask env TZ=UTC0 objdump -p "$exe")
	[[ $said == *"file format ${line[3]}"* && $said == *$'\nMagic\t\t\t'"${line[4]}"$'\t'* ]] ||
		fail "$name: the executable is not ${line[3]}, magic ${line[4]}:" "$(head -n 3 <<<"$said")"
	[[ $said == *$'\nSubsystem\t\t00000003\t(Windows CUI)'* ]] || fail "$name: the executable is not a console program"
	while read -r dll; do
		[[ ${dll,,} =~ ^(kernel32|msvcrt|ucrtbase|api-ms-win-crt-[a-z0-9-]+)\.dll$ ]] ||
			fail "$name: the executable needs $dll, which not every Windows has"
	done < <(sed -n 's/^\tDLL Name: //p' <<<"$said")
	[[ $said == *$'\nTime/Date\t\tThu Jan  1 00:00:00 1970\n'* ]] ||
		fail "$name: the executable carries a time stamp:" "$(grep '^Time/Date' <<<"$said")"
	tested "$name" "$exe" "$3"
}

# in_wine DIR CPU COMMAND...: COMMAND under Wine for CPU, with a prefix
# (wine_prefix DIR) and server of its own under DIR; wine_down DIR: they end.
in_wine() { TMPDIR=$1 bash "$pkg/../tests/wine.sh" "${@:2}"; }
wine_prefix() { echo "$1"/sepquote-wine-*/*/; }
wine_down() { (export TMPDIR=$1 WINEPREFIX && WINEPREFIX=$(wine_prefix "$1") && { wineserver -k || true; } && wineserver -w); }

# check_zip ZIP DIR BUILD CPU: its one folder holds what holds_exe wants.
check_zip() {
	local folder
	unzip -q "$1" -d "$2"
	folder=$(one_folder "$2" "${1##*/}")
	holds_exe "${1##*/}" "$folder" "$3" "$4"
}

# check_msi MSI DIR BUILD CPU: installs runs it, under Wine, over an older
# version's installer, DIR/older.msi, made here with another README.
check_msi() {
	STRIP=true install_components "$3" "$2" /older sepquote.exe tool licence # only a packing strips
	echo 'an older version' >"$2/older/README.md"
	installer "$2/older" "$2/older.msi" 0.1 "$4" "$3"
	installs "$@" "msiexec /i ${1##*/}" "msiexec /x ${1##*/}"
}

# rooted ROOT CPU msiexec ARGUMENT...: msiexec, with no dialog, in a Wine
# prefix under ROOT; an install, once older.msi beside ROOT is installed.
rooted() {
	[ "$3" = msiexec ] || fail "windows.sh runs msiexec alone, not $3"
	[ "$4" != /i ] || in_wine "$1" "$2" msiexec /i "Z:${1%/*}/older.msi" /qn || fail "the older version does not install"
	in_wine "$1" "$2" "${@:3}" /qn
}

# installed MSI ROOT BUILD CPU: what holds_exe wants, with this README, in
# place of the older version's, which a new process finds through PATH; one
# product of the installers' UpgradeCode, of this version, and one PATH
# entry; and the older installer refused.
installed() {
	local name=${1##*/} prefix folder said status=0
	prefix=$(wine_prefix "$2")
	folder=$(echo "$prefix"/drive_c/users/*/AppData/Local/Programs/sepquote)
	holds_exe "$name" "$folder" "$3" "$4"
	cmp -s "$folder/README.md" "$pkg/../README.md" || fail "$name leaves the older version's README in place"
	wine_down "$2"
	said=$(in_wine "$2" "$4" cmd /c sepquote a.b 2>&1 || true)
	[ "$said" = 'a\.b' ] || fail "$name: a new process does not find sepquote through PATH; it said: $said"
	wine_down "$2"
	said=$(grep -h -A 1 '^"DisplayName"="sepquote"$' "$prefix"/*.reg | sed -n 's/^"DisplayVersion"="\(.*\)"$/\1/p' | sort -u
		grep '^"PATH"=' "$prefix/user.reg" | grep -o 'Programs\\\\sepquote' || true)
	[ "$said" = "$(version_of "$3")"$'\n''Programs\\sepquote' ] ||
		fail "$name: the versions installed, and the PATH entries, are not its alone:" "$said"
	in_wine "$2" "$4" msiexec /i "Z:${2%/*}/older.msi" /qn >/dev/null 2>&1 || status=$?
	[ "$status" = 67 ] || fail "$name: the older installer ends with status $status, not 67, msiexec's 1603 as it refuses"
}

# left ROOT: the files and registry entries of sepquote in the Wine prefix.
left() {
	local prefix && prefix=$(wine_prefix "$1") && wine_down "$1"
	find "$prefix/drive_c" -iname '*sepquote*' -o -path '*/windows/Installer/*'
	grep -i sepquote "$prefix"/*.reg || true
}

check() { "check_${1##*.}" "$@"; }

kind "$@"
