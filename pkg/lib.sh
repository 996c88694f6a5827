# SPDX-License-Identifier: MIT
# shellcheck shell=bash
# What the kinds of release file share.  A kind is a program, pkg/KIND.sh,
# run, never sourced, that sources this file, defines a function for each
# command but untested (where it has nothing to say), and ends `kind "$@"`:
#   KIND.sh names VERSION ARCH       its files' names for ARCH, a line each;
#   KIND.sh needs ARCH               the Debian packages they need;
#   KIND.sh untested ARCH            why this machine cannot test them, if so;
#   KIND.sh pack BUILD VERSION ARCH  makes them anew in BUILD/dist from what
#     the build BUILD installs, first in a folder that pack is given first,
#     with SOURCE_DATE_EPOCH and STRIP (the executable's strip) as dist sets;
#   KIND.sh check FILE DIR BUILD     checks FILE in the new folder DIR (as
#     installs may), and its executable with BUILD's tests; given last its ARCH.
# ARCH is a Debian architecture of pkg/linux.machines, or a CPU of
# pkg/windows.cpus.  Faults go to standard error, with status 1, and what
# tools say to standard output.  Run, this file runs one of its functions.

set -euo pipefail
export LC_ALL=C
pkg=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
readonly pkg
# The package release of the RPM and Arch packages of each version.
# shellcheck disable=SC2034 # the kinds' programs use it
readonly package_release=1

fail() { printf '%s\n' "$@" >&3 && exit 1; }
exec 3>&2

# ask COMMAND...: what COMMAND writes on standard output; a failure, or
# nothing said, fails, naming the command.
ask() {
	local said
	said=$("$@") || fail "$* failed with status $?"
	[ -n "$said" ] || fail "$* said nothing"
	printf '%s\n' "$said"
}

# machine COLUMN KEY VALUE: the COLUMN of the one Linux machine whose KEY
# is VALUE, columns named by the table's first line; - where it has none.
machine() {
	awk -v want="$1" -v key="$2" -v value="$3" '/^#/ { next } !names++ { for (i = 1; i <= NF; i++) at[$i] = i; next }
		at[want] && at[key] && $at[key] == value { said = $at[want]; n++ }
		END { if (n == 1) print said; exit n != 1 }' "$pkg/linux.machines" ||
		fail "pkg/linux.machines has no one $1 for the $2 $3"
}

# triplet ARCH: the GNU system type of the Debian architecture ARCH.
triplet() { dpkg-architecture -a "$1" -qDEB_HOST_GNU_TYPE 2>/dev/null || fail "dpkg knows no architecture $1"; }

# named COLUMN ARCH PATTERN: PATTERN with the name that the column COLUMN
# of pkg/linux.machines gives ARCH in place of %s: a file's name.
named() {
	local target
	target=$(machine "$1" arch "$2")
	[ "$target" != - ] || fail "pkg/linux.machines gives $2 no $1 name"
	echo "${3//%s/$target}"
}

# holds NAME LISTING WHAT=PATH...: the file NAME, whose LISTING names the
# files it puts in place, holds those at the PATHs and no other: what every
# package does (exe, manual, readme, licence, and the notice of a C runtime
# linked in), where its kind says, empty where none; and other WHATs.
holds() {
	local name=$1 pair what said contents=(exe manual readme licence notice)
	local -A where
	for pair in "${@:3}"; do where[${pair%%=*}]=${pair#*=}; done
	for what in "${contents[@]}"; do
		[ -n "${where[$what]+set}" ] || fail "$name: its kind gives no place for the $what"
	done
	said=$(diff <(sort <<<"$2") <(printf '%s\n' "${where[@]}" | sed '/^$/d' | sort)) ||
		fail "$name holds other files than it should (<, which it should not; >, which it lacks):" \
			"$(sed -n 's/^[<>] .*/  &/p' <<<"$said")"
}

files_in() { (cd "$1" && find . ! -type d -printf '%P\n'); } # files_in DIR: the files under DIR

# field BUILD NAME: the field NAME of the control file that BUILD wrote.
field() { sed -n "s/^$2: //p" "$1/control"; }

# install_components BUILD DESTDIR PREFIX EXE COMPONENT...: the build's
# components under DESTDIR, the executable EXE (under PREFIX) stripped of
# symbols and compilers' notes, and undated: strip dates a Windows one by
# SOURCE_DATE_EPOCH.
install_components() {
	local build=$1 destdir=$2 prefix=$3 exe=$4 component
	for component in "${@:5}"; do
		DESTDIR=$destdir cmake --install "$build" --prefix "$prefix" --component "$component" >/dev/null
	done
	SOURCE_DATE_EPOCH=0 "${STRIP:?must name the strip for the executable}" \
		--remove-section=.comment "$destdir$prefix/$exe"
}

# settle FOLDER: the usual modes, whatever the umask, and one date.
settle() {
	chmod -R u=rwX,go=rX "$1"
	find "$1" -exec touch -h -d "@$SOURCE_DATE_EPOCH" {} +
}

# tar_gz FOLDER FILE: FILE, a gzipped tarball of FOLDER, with entries
# owned by root, dated SOURCE_DATE_EPOCH and in the order of their names.
tar_gz() {
	settle "$1"
	tar --create --format=gnu --sort=name --owner=root:0 --group=root:0 \
		--mtime="@$SOURCE_DATE_EPOCH" --directory "$(dirname "$1")" -- "$(basename "$1")" |
		gzip -9n >"$2"
}

# one_folder DIR NAME: the one folder at the top of DIR, the file NAME unpacked.
one_folder() {
	local entries=("$1"/*)
	[[ ${#entries[@]} -eq 1 && -d ${entries[0]} ]] || fail "$2 holds more than one folder at its top"
	echo "${entries[0]}"
}

# check_exe NAME EXE BUILD ARCH [static]: EXE, from the file NAME, is an
# executable for the machine of Debian's C library for ARCH: with static, a
# static and stripped one, for musl's machine, or where Debian has no musl,
# that of the glibc of its cross compiler; else for that of glibc; and it
# passes the build BUILD's tests.
check_exe() {
	local name=$1 exe=$2 arch=$4 said libc file headers=()
	if [ "${5-}" = static ] && libc=$(dpkg -L "musl-dev:$arch" 2>/dev/null | grep -F /musl-gcc.specs); then
		libc=${libc%/*}/libc.so
	elif ! libc=$(dpkg -L "libc6:$arch" 2>/dev/null | grep '/libc\.so\.6$'); then
		libc=/usr/$(triplet "$arch")/lib/libc.so.6
	fi
	for file in "$libc" "$exe"; do
		said=$(ask readelf -h "$file")
		said=$(grep -E '^ *(Class|Data|Machine|Flags):' <<<"$said") || fail "readelf -h $file names no machine"
		headers+=("$said")
	done
	[ "${headers[0]}" = "${headers[1]}" ] || fail "$name: the executable is not for $arch:" "${headers[1]}"
	if [ "${5-}" = static ]; then
		said=$(ask readelf -lWdS "$exe")
		[[ $said != *INTERP* ]] || fail "$name: the executable asks for a program interpreter"
		[[ $said == *"no dynamic section"* ]] || fail "$name: the executable is linked dynamically"
		[[ $said != *.symtab* ]] || fail "$name: the executable is not stripped"
	fi
	tested "$name" "$exe" "$3"
}

# tested NAME EXE BUILD: the tests of the build BUILD, each under its
# emulator, on EXE, the executable as the file NAME delivers it.
tested() {
	local command run_tests said
	[ -e "$3/sepquote.command" ] || fail "$3 holds no tests"
	for command in "$3"/*.command; do
		mapfile -t run_tests <"$command"
		said=$("${run_tests[@]}" "$2" 2>&1) || fail "the tests of the executable in $1 failed:" "$(tail -n 12 <<<"$said")"
		printf '%s\n' "$said"
	done
}

# installs FILE DIR BUILD ARCH INSTALL REMOVE: each line of the README's
# code blocks that names FILE last, an install, then the block's next that
# names sepquote last, or else REMOVE; where there are none, INSTALL and
# REMOVE.  Each runs as written, sudo left off, in FILE's folder, into a new
# root under DIR, by the kind's `rooted ROOT ARCH WORD...`; `installed FILE
# ROOT BUILD ARCH` checks the install, and `left ROOT` finds nothing after.
installs() {
	local name=${1##*/} install remove root said command words pairs
	pairs=$(awk -v file="$name" -v remove="$6" 'function out(with) { for (i = 1; i <= n; i++) print got[i] "\n" with; n = 0 }
		!sub(/^    /, "") || /^ / { out(remove); next } $NF == "sepquote" { out($0) }
		$NF == file || $NF == "./" file { got[++n] = $0 } END { out(remove) }' "$pkg/../README.md")
	[ -z "$pairs" ] || grep -vxF -- "$6" <<<"$pairs" | sed 's/^/README: /'
	while read -r -u 4 install && read -r -u 4 remove; do
		root=$(mktemp -d "$2/root.XXXXXX")
		for command in "$install" "$remove"; do
			read -r -a words <<<"${command#sudo }"
			said=$(cd "${1%/*}" && rooted "$root" "$4" "${words[@]}" 2>&1) || fail "$name: '$command' failed:" "$said"
			printf '$ %s\n%s\n' "$command" "$said"
			[ "$command" = "$remove" ] || installed "$1" "$root" "$3" "$4"
		done
		said=$(left "$root" 2>&1)
		[ -z "$said" ] || fail "$name leaves this behind once '$remove' removes it:" "$said"
	done 4<<<"${pairs:-$5$'\n'$6}"
}
left() { find "$1" -mindepth 1 -printf '%P\n' | grep -i sepquote || true; } # left ROOT: what names sepquote

# need_cross ARCH: the Debian packages of Debian's cross compiler for
# ARCH, and of the emulator that runs its tests, unless ARCH is the host's.
need_cross() {
	local gnu
	[ "$1" != "$(dpkg --print-architecture)" ] || return 0
	gnu=$(triplet "$1")
	echo "g++-${gnu//_/-}" qemu-user
}

# kind COMMAND ARGUMENT...: what a kind's program does, as above; check
# finds the ARCH that FILE's name bears by trying the table's, at BUILD's version.
kind() {
	local stage version arch
	[[ ${1-} == @(names|needs|untested|pack|check) ]] || fail "usage: $0 names|needs|untested|pack|check ARGUMENT..."
	[[ ($1 != pack || -f ${2-}/CMakeCache.txt && -n ${SOURCE_DATE_EPOCH-}) && ($1 != check || -f ${4-}/CMakeCache.txt) ]] ||
		fail "usage: $0 pack BUILD VERSION ARCH, with SOURCE_DATE_EPOCH set, or check FILE DIR BUILD: BUILD a build folder"
	[[ $1 != @(pack|check) ]] || exec 2>&1
	if [ "$1" = pack ]; then
		rm -rf "$2/dist" && mkdir "$2/dist"
		stage=$(mktemp -d "$2/dist.XXXXXX")
		# shellcheck disable=SC2064 # the folder of now
		trap "rm -rf '$stage'" EXIT
		set -- pack "$stage" "${@:2}"
	elif [ "$1" = check ]; then
		version=$(version_of "$4")
		for arch in $(arches); do
			! names "$version" "$arch" 2>/dev/null 3>&2 | grep -xF "${2##*/}" >/dev/null || set -- "$@" "$arch"
		done
		(($# == 5)) || fail "${2##*/} bears the name of no one machine of sepquote $version"
	fi
	[[ $1 == untested && $(type -t untested) != function ]] || "$@"
}

version_of() { sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$1/CMakeCache.txt"; } # version_of BUILD

# arches: the Debian architectures of pkg/linux.machines, a line each.
arches() { awk '!/^#/ && n++ { print $1 }' "$pkg/linux.machines"; }

[ "${BASH_SOURCE[0]}" != "$0" ] || "$@"
