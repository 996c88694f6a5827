# SPDX-License-Identifier: MIT
# shellcheck shell=bash
# What the kinds of release file share.  A kind's file in pkg/ sources this
# one and defines, for its kind KIND, with ARCH the Debian architecture (on
# Windows the CPU) and TARGET the machine as the files' names give it:
# KIND_files VERSION ARCH TARGET, the names of its files; KIND_needs ARCH
# MUSL, which needs its Debian packages; KIND_untested ARCH, why this
# machine cannot test its files, if it may not; KIND_make BUILD VERSION ARCH
# TARGET, which makes them in the build folder BUILD and tells each to the
# release by made (CMake's target dist runs KIND.sh so); and FILE_check
# FILE ARCH DIR for each kind FILE of file, which checks one, unpacked or
# installed under DIR, with fail, ask and tested from pkg/release.sh.

set -euo pipefail
export LC_ALL=C
# shellcheck disable=SC2034 # the kinds' files use it
pkg=$(dirname "${BASH_SOURCE[0]}")

# What every package holds, whatever its kind, each where its kind says:
# the executable, its manual page (but on Windows), the README, the
# licence, and the notice of a C runtime linked into the executable.
contents=(exe manual readme licence notice)

# holds NAME LISTING WHAT=PATH...: the file NAME, whose LISTING names the
# files it puts in place, holds those at the PATHs and no other: a PATH for
# each of the contents, empty where it has none, and others by other WHATs.
holds() {
	local name=$1 pair what said
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

# made KIND ARCH FILE: tell the release of FILE, of the kind KIND, for ARCH.
made() { printf '%s %s %s\n' "$@" >>"$build/dist-made"; }

# install_components DESTDIR PREFIX EXE COMPONENT...: what the build
# installs of the components, under DESTDIR, with the executable EXE (under
# PREFIX) stripped of its symbols and the compilers' notes; strip dates a
# Windows executable by SOURCE_DATE_EPOCH, and it is to carry no date.
install_components() {
	local destdir=$1 prefix=$2 exe=$3 component
	for component in "${@:4}"; do
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

# tarball FOLDER FILE: FILE, a gzipped tarball of FOLDER, with entries
# owned by root, dated SOURCE_DATE_EPOCH and in the order of their names.
tarball() {
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

# check_elf NAME EXE ARCH: EXE, from the file NAME, is a static, stripped
# executable for the machine of Debian's C library for ARCH: musl's, or
# where Debian has none, the glibc of its cross compiler.
check_elf() {
	local name=$1 exe=$2 said libc file machine=()
	ask said readelf -lW "$exe"
	[[ $said != *INTERP* ]] || fail "$name: the executable asks for a program interpreter"
	ask said readelf -dW "$exe"
	[[ $said == *"no dynamic section"* ]] || fail "$name: the executable is linked dynamically"
	ask said readelf -SW "$exe"
	[[ $said != *.symtab* ]] || fail "$name: the executable is not stripped"
	if libc=$(dpkg -L "musl-dev:$3" 2>/dev/null | grep -m 1 -F /musl-gcc.specs); then
		libc=${libc%/*}/libc.so
	else
		ask libc dpkg-architecture -a "$3" -qDEB_HOST_GNU_TYPE
		libc=/usr/$libc/lib/libc.so.6
	fi
	for file in "$libc" "$exe"; do
		ask said readelf -h "$file"
		said=$(grep -E '^ *(Class|Data|Machine|Flags):' <<<"$said") || fail "readelf -h $file names no machine"
		machine+=("$said")
	done
	[ "${machine[0]}" = "${machine[1]}" ] || fail "$name: the executable is not for $3:" "${machine[1]}"
}

# need_cross ARCH: the Debian packages of Debian's cross compiler for
# ARCH, and of the emulator that runs its tests, unless ARCH is the host's.
need_cross() {
	[ "$1" = "$(dpkg --print-architecture)" ] ||
		need "g++-$(dpkg-architecture -a "$1" -qDEB_HOST_GNU_TYPE 2>/dev/null | tr _ -)" qemu-user
}

# need_musl ARCH MUSL: the Debian packages of musl for ARCH, or with MUSL
# ON, those that build it here (cmake/musl.sh), where Debian has none.
need_musl() { if [ "${2-}" = ON ]; then need musl-dev; else need "musl-dev:$1"; fi; }

# dist KIND BUILD VERSION ARCH [TARGET]: make the files of KIND.
dist() {
	build=$2
	: "${SOURCE_DATE_EPOCH:?must be set}"
	stage=$(mktemp -d "$build/dist.XXXXXX")
	trap 'rm -rf "$stage"' EXIT
	rm -f "$build/dist-made"
	"$1_make" "${@:2}"
}
