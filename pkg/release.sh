#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# The whole release, made from the commit alone, into build/dist/ of the
# checkout that holds this script: the source tarball, the file of each
# configure preset that sets SEPQUOTE_RELEASE, and SHA256SUMS.  Each
# build's packing says which files it made and of what kind (pkg/dist.sh
# names them all), and the release checks each as that kind.
#
#   release.sh [--partial] [PRESET...]
#
# With --partial, the files whose tests this machine cannot run at all are
# left out, each named with the reason, and so is SHA256SUMS.  With
# PRESETs, only their files are made, and checked, and no SHA256SUMS.
#
# The source tarball is HEAD's files, taken from git's objects.  Every
# other file is built from it, unpacked, in build folders made anew, with
# the compilers' and CMake's variables cleared from the environment: the
# working tree, earlier builds, git's settings, the umask and the
# environment change nothing.
#
# It refuses, before anything is built: a pkg/release.sh that is not
# HEAD's; missing Debian packages, all named at once; a commit that does
# not configure; a newest changelog entry that is not for project()'s
# version, is UNRELEASED, or that dpkg reads with a complaint (as one with
# no closing line); and documents that name another version's files.  Then
# every build must build, pass its tests, and pack; every file must hold
# what its kind holds, for the machine its name says, and its executable
# must pass the tests again as the file delivers it (an installer's, once
# installed under Wine, where it must then be found through PATH, and
# removed without a trace); lintian and rpmlint must have nothing to say
# of the packages; and after every build the source tree
# must still be the commit's.  Tests that this machine cannot run at all
# stop the release, naming the reason, unless --partial.  Every command
# whose output a check reads must succeed and say something.  Any failure
# stops the release with a message and leaves no SHA256SUMS.
# SEPQUOTE_MAINTAINER='Name <address>' names the packages' maintainer;
# SOURCE_DATE_EPOCH dates every file in place of the changelog's entry.

set -euo pipefail -o errtrace
export LC_ALL=C # the order of what a glob lists
umask 022

fail() {
	printf 'release: %s\n' "$@" >&2
	exit 1
}
partial=
[ "${1-}" != --partial ] || { partial=yes && shift; }
only=("$@")
[[ ${1-} != -* ]] || fail "usage: bash pkg/release.sh [--partial] [PRESET...]"
# Whatever fails without a message of its own is named here.
trap '[ "$BASH_SUBSHELL" -gt 0 ] || fail "failed at line $LINENO: $BASH_COMMAND"' ERR

# ask VAR COMMAND...: what COMMAND writes on standard output, into VAR.  A
# check that reads it must not pass because the command failed or said
# nothing: either stops the release, naming the command.
ask() {
	local -n answer=$1
	shift
	local status=0 errors
	answer=$("$@" 2>"$work/errors") || status=$?
	if [ "$status" -ne 0 ]; then
		mapfile -t -n 5 errors <"$work/errors"
		fail "$* failed with status $status" "${errors[@]}"
	fi
	[ -n "$answer" ] || fail "$* said nothing"
}

# The checkout is the one that holds this script, found through any
# symlink, wherever the release is started from; read from standard input,
# the script has no file and the release refuses.  Nothing is removed or
# copied before the folder is known to be sepquote's: CMake reads a
# command's name in any case, and its arguments across lines.
script=${BASH_SOURCE[0]-}
[ -f "$script" ] || fail "run the release from its file, as bash pkg/release.sh, not from standard input"
script=$(readlink -f -- "$script")
top=${script%/pkg/release.sh}
if [ "$top" = "$script" ] || [ ! -f "$top/pkg/dist.sh" ] ||
	! tr -s '[:space:]' ' ' <"$top/CMakeLists.txt" 2>/dev/null |
	grep -qiE '(^| )project ?\( ?"?sepquote"?[ )]'; then
	fail "$script is not the pkg/release.sh of a sepquote checkout"
fi
cd "$top"

# Before anything can fail: a release that fails leaves no SHA256SUMS, not
# even an earlier release's.
rm -rf build/dist build/distcheck
work=$top/build/distcheck tree=$top/build/distcheck/tree
mkdir -p build/dist "$tree"

# What the environment could add to a build: the variables that compilers,
# linkers, make, CMake, CTest, dpkg, qemu, tar, gzip and git read.
for name in $(compgen -e); do
	case $name in
	CC | CXX | CPP | LD | AR | AS | NM | RANLIB | STRIP | OBJCOPY | *FLAGS | LDLIBS | \
		CPATH | *_INCLUDE_PATH | LIBRARY_PATH | COMPILER_PATH | GCC_* | LD_LIBRARY_PATH | \
		LD_RUN_PATH | CMAKE_* | CTEST_* | CPACK_* | DESTDIR | MAKE* | DEB_* | DPKG_* | \
		QEMU_* | TAR_OPTIONS | GZIP | XZ_* | GIT_*)
		unset "$name"
		;;
	esac
done

# need PACKAGE...: note the Debian packages that are not installed;
# missing: name them all and stop.
absent=()
need() {
	local package
	for package; do
		dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q 'ok installed' ||
			[[ " ${absent[*]} " == *" $package "* ]] || absent+=("$package")
	done
}
missing() {
	((${#absent[@]} == 0)) && return
	fail "install these Debian packages first (a foreign architecture needs dpkg --add-architecture):" \
		"${absent[@]/#/  }"
}

need git cmake dpkg-dev binutils lintian groff-base
# The presets that name the rest cannot be read without these.
[[ " ${absent[*]} " != *" cmake "* && " ${absent[*]} " != *" dpkg-dev "* ]] || missing

# each_file FUNCTION: FUNCTION MODE HASH PATH for each file of HEAD.
each_file() {
	local entry meta
	while IFS= read -r -d '' entry; do
		meta=${entry%%$'\t'*}
		"$1" "${meta%% *}" "${meta##* }" "${entry#*$'\t'}"
	done < <(git ls-tree -r -z --full-tree HEAD)
}

# export_file MODE HASH PATH: the file into the tree, as git holds it.
export_file() {
	local file=$tree/$3
	mkdir -p "$(dirname "$file")"
	case $1 in
	100644 | 100755) git cat-file blob "$2" >"$file" ;;
	120000) ln -s -- "$(git cat-file blob "$2")" "$file" ;;
	*) fail "$3 is a submodule or of mode $1, which a source tarball cannot hold" ;;
	esac
	[ "$1" != 100755 ] || chmod +x "$file"
}

# check_file MODE HASH PATH: the unpacked source tarball holds the file as
# git does.
checked=0
check_file() {
	local file=$src/$3
	checked=$((checked + 1))
	case $1 in
	120000) [ "$(readlink -- "$file")" = "$(git cat-file blob "$2")" ] ;;
	100755) [ -f "$file" ] && [ -x "$file" ] && git cat-file blob "$2" | cmp -s - "$file" ;;
	*) [ -f "$file" ] && [ ! -x "$file" ] && git cat-file blob "$2" | cmp -s - "$file" ;;
	esac || fail "the source tarball's $3 is not the commit's"
}

git rev-parse -q --verify 'HEAD^{commit}' >/dev/null ||
	fail "git cannot read the commit here; 'git status' says why"
# Everything else comes from the commit; so must this script.
git cat-file blob HEAD:pkg/release.sh 2>/dev/null | cmp -s - "$top/pkg/release.sh" ||
	fail "pkg/release.sh is not HEAD's: commit the change, or stash it, first"
[ -z "$(git status --porcelain)" ] ||
	echo "release: the release is HEAD $(git rev-parse HEAD); local changes are not in it" >&2
each_file export_file

# The presets of the release, read from the tree, and what each needs:
# every missing package is named at once, before anything is built.  What
# a preset needs follows from what it gives CMake: its toolchain file and
# whether it links statically.
cd "$tree"
ask said cmake --list-presets
mapfile -t all < <(sed -n 's/^  "\([^"]*\)".*/\1/p' <<<"$said")
release=() presets=()
declare -A arch target musl
host=$(dpkg --print-architecture)
# windows_cpu CPU: objdump's name for the format of CPU's executables,
# their PE magic, the Debian package whose Wine runs them, and the
# template of its installers.
windows_cpu() {
	cpu=$1
	case $1 in
	x86_64) format=pei-x86-64 magic=020b wine=wine64 template='x64;1033' ;;
	i686) format=pei-i386 magic=010b wine=wine32:i386 template='Intel;1033' ;;
	*) fail "the release knows no Windows CPU $1: give it a line in windows_cpu" ;;
	esac
}
# value NAME: the value that the preset read into cache gives NAME.
cache=
value() { sed -n "s/^  $1\(:[A-Z]*\)\?=\"\(.*\)\"\$/\2/p" <<<"$cache"; }
need g++ make # the host's configure, below, which reads the version
for preset in "${all[@]}"; do
	ask cache cmake --preset "$preset" -N
	[ "$(value SEPQUOTE_RELEASE)" = ON ] || continue
	release+=("$preset")
	((${#only[@]} == 0)) || [[ " ${only[*]} " == *" $preset "* ]] || continue
	presets+=("$preset")
	arch[$preset]=$(value SEPQUOTE_ARCH)
	target[$preset]=$(value SEPQUOTE_TARGET)
	case $(value CMAKE_TOOLCHAIN_FILE) in
	*/windows.cmake)
		t=${target[$preset]:?the preset $preset names no SEPQUOTE_TARGET}
		windows_cpu "${t%-windows}"
		need "g++-mingw-w64-${cpu//_/-}-win32" wine "$wine" zip unzip wixl msitools faketime uuid-runtime
		continue
		;;
	*/cross.cmake) ;;
	*) fail "the preset $preset makes a file of the release with neither cross.cmake nor windows.cmake" ;;
	esac
	a=${arch[$preset]:?the preset $preset names no SEPQUOTE_ARCH}
	if [ "$a" != "$host" ]; then
		triplet=$(dpkg-architecture -a "$a" -qDEB_HOST_GNU_TYPE 2>/dev/null)
		need "g++-${triplet//_/-}" qemu-user
	fi
	musl[$preset]=$(value SEPQUOTE_MUSL_SOURCE) # built here, with the host's musl's notice
	if [ "${musl[$preset]}" = ON ]; then
		need musl-dev
	elif [ "$(value SEPQUOTE_STATIC)" = ON ]; then
		need "musl-dev:$a"
	else
		need "libc6:$a" # dpkg-shlibdeps reads its symbols
	fi
	[ "$(value SEPQUOTE_RPM)" != ON ] || need rpm rpmlint
done
((${#release[@]})) || fail "no preset sets SEPQUOTE_RELEASE"
((${#only[@]} == 0 || ${#only[@]} == ${#presets[@]})) ||
	fail "of ${only[*]}, only ${presets[*]-none} make files of the release:" "${release[@]/#/  }"
missing

# The version, as CMake reads it from project() in a copy of the tree,
# which a configure may change; the date, the changelog's newest entry's,
# which must be for that version, finished, and read by dpkg as it is.
cp -R "$tree" "$work/probe"
cmake -S "$work/probe" -B "$work/probe/build" -DBUILD_TESTING=OFF >"$work/probe.log" 2>&1 ||
	{ cat "$work/probe.log" >&2; fail "the commit does not configure, as above"; }
version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$work/probe/build/CMakeCache.txt")
declare -A entry
for field in Version Timestamp Distribution; do
	if ! said=$(dpkg-parsechangelog -l "$tree/pkg/changelog" -S "$field" 2>&1) ||
		[ -z "$said" ] || [[ $said == *dpkg-parsechangelog:* ]]; then
		fail "dpkg reads pkg/changelog so:" "$said"
	fi
	entry[$field]=$said
done
[ "${entry[Version]}" = "$version" ] ||
	fail "pkg/changelog's newest entry is for ${entry[Version]}, not for project()'s $version"
[ "${entry[Distribution]}" != UNRELEASED ] ||
	fail "pkg/changelog's entry for $version is UNRELEASED: finish it (dch --release) first"
epoch=${SOURCE_DATE_EPOCH-${entry[Timestamp]}}
[[ $epoch =~ ^[0-9]+$ ]] || fail "SOURCE_DATE_EPOCH is '$epoch': it must be the seconds since 1970, in digits"
export SOURCE_DATE_EPOCH=$epoch
echo "== sepquote $version, dated $(date -u -d "@$epoch" '+%Y-%m-%d %H:%M:%S UTC')"

# The documents name the files of this release, not another version's.
stale=$(grep -noE 'sepquote[-_][0-9]+(\.[0-9]+)+' README.md CONTRIBUTING.md |
	grep -vE ":sepquote[-_]${version//./\\.}\$" || true)
[ -z "$stale" ] ||
	fail "these name files of another version than $version; name this release's:" "$stale"

# one_folder DIR: the one folder that DIR, the unpacked file $file,
# holds, into folder.
one_folder() {
	local entries=("$1"/*)
	if [ "${#entries[@]}" -ne 1 ] || [ ! -d "${entries[0]}" ]; then
		fail "${file##*/} holds more than one folder at its top"
	fi
	folder=${entries[0]}
}

made=() left_out=()
echo "== source"
bash "$tree/pkg/dist.sh" "$work" "$version" source "$tree"
read -r _ file <"$work/dist-made"
made+=("$file")
mkdir "$work/unpacked"
tar -C "$work/unpacked" -xzf "$file"
one_folder "$work/unpacked"
src=$folder
each_file check_file
[ "$(find "$src" ! -type d | wc -l)" -eq "$checked" ] ||
	fail "the source tarball holds files that HEAD does not"
cd "$src"

# tree_state: every file and folder of the source tree but the build
# folders, with its mode, link target and contents' hash.  After every
# build the tree must be as it was, as the commit has it.
tree_state() {
	find . -path ./build -prune -o -type l -printf '%M %p -> %l\n' -o -printf '%M %p\n' | sort
	find . -path ./build -prune -o -type f -print0 | sort -z | xargs -0 sha256sum
}
pristine=$(tree_state)

define=()
[ -z "${SEPQUOTE_MAINTAINER+set}" ] || define=(-DSEPQUOTE_MAINTAINER="$SEPQUOTE_MAINTAINER")

# check_deb DEB ARCH: what the package must hold and say; and lintian,
# with Debian's checks and no configuration, profile or variable of this
# machine's or its user's that could silence one, has nothing to say of it.
check_deb() {
	local contents path field said
	ask contents dpkg-deb -c "$1"
	for path in bin/sepquote share/man/man1/sepquote.1.gz share/doc/sepquote/copyright \
		share/doc/sepquote/changelog.gz share/doc/sepquote/README.md.gz; do
		grep -q " \./usr/$path\$" <<<"$contents" || fail "${1##*/} lacks /usr/$path"
	done
	ask field dpkg-deb -f "$1" Architecture
	[ "$field" = "$2" ] || fail "${1##*/} is for $field"
	ask field dpkg-deb -f "$1" Depends
	[[ $field =~ ^libc6\ \(\>=\ [^\)]+\)$ ]] || fail "${1##*/} depends on $field, not libc6 alone"
	said=$(lintian --no-user-dirs --no-cfg --ignore-lintian-env --profile debian \
		-I -E --pedantic "$1" 2>&1) || fail "lintian failed:" "$said"
	# Run by root, lintian says so, which tells nothing of the package.
	said=$(grep -vxF 'running with root privileges is not recommended!' <<<"$said" || true)
	[ -z "$said" ] || fail "lintian has this to say of ${1##*/}:" "$said"
}

# elf_machine FILE: what readelf says of the machine an ELF file is for,
# into machine.
elf_machine() {
	local header
	ask header readelf -h "$1"
	machine=$(grep -E '^ *(Class|Data|Machine|Flags):' <<<"$header") ||
		fail "readelf -h $1 names no machine"
}

# check_notice NAME FILE NOTICE: the file NAME holds FILE, which is the
# notice NOTICE of a runtime linked into its executable, as Debian ships it.
check_notice() {
	[ -f "$2" ] || fail "$1 lacks ${2#"$work"/*/}, the notice of a runtime linked into it"
	cmp -s -- "$2" "$3" || fail "$1: ${2#"$work"/*/} is not $3"
}

# check_static FILE ARCH FOLDER: FOLDER, the file unpacked, holds the
# manual page, the README, the licences, and a static executable for ARCH.
check_static() {
	for path in bin/sepquote share/man/man1/sepquote.1.gz share/doc/sepquote/README.md \
		share/doc/sepquote/LICENSE; do
		[ -f "$3/$path" ] || fail "${1##*/} lacks $path"
	done
	check_notice "${1##*/}" "$3/share/doc/sepquote/LICENSE.musl" /usr/share/doc/musl-dev/copyright
	check_elf "${1##*/}" "$3/bin/sepquote" "$2"
}

# check_elf NAME EXE ARCH: EXE, from the file NAME, is a static, stripped
# executable for the machine of musl's library for the Debian architecture
# ARCH, or where the preset built musl, of Debian's cross C library.
check_elf() {
	local name=$1 exe=$2 said libc
	ask said readelf -lW "$exe"
	[[ $said != *INTERP* ]] || fail "$name: the executable asks for a program interpreter"
	ask said readelf -dW "$exe"
	[[ $said == *"no dynamic section"* ]] || fail "$name: the executable is linked dynamically"
	ask said readelf -SW "$exe"
	[[ $said != *.symtab* ]] || fail "$name: the executable is not stripped"
	if [ "${musl[$preset]}" = ON ]; then
		ask libc dpkg-architecture -a "$3" -qDEB_HOST_GNU_TYPE
		libc=/usr/$libc/lib/libc.so.6
	else
		ask said dpkg -L "musl-dev:$3"
		libc=$(grep -m 1 -F /musl-gcc.specs <<<"$said") || fail "musl-dev:$3 holds no musl-gcc.specs"
		libc=${libc%/*}/libc.so
	fi
	elf_machine "$libc"
	libc=$machine
	elf_machine "$exe"
	[ "$machine" = "$libc" ] || fail "$name: the executable is not for $3:" "$machine"
}

# check_rpm RPM TARGET ARCH ROOT: the package is for rpm's architecture
# TARGET, under MIT, requires only rpm's own features, holds what it should,
# and rpmlint has nothing to say of it; rpm installs it into ROOT, with
# musl's notice and a static executable for the Debian architecture ARCH.
check_rpm() {
	local name=${1##*/} said
	ask said rpm -qp --qf '%{ARCH} %{LICENSE}\n' "$1"
	[ "$said" = "$2 MIT" ] || fail "$name is for $said, not for $2 under MIT"
	ask said rpm -qp --requires "$1"
	! grep -v '^rpmlib(' <<<"$said" || fail "$name requires more than rpm's own features"
	ask said rpm -qlp "$1"
	[ "$said" = "$(printf '/usr/%s\n' bin/sepquote share/doc/sepquote share/doc/sepquote/README.md \
		share/licenses/sepquote share/licenses/sepquote/LICENSE share/licenses/sepquote/LICENSE.musl \
		share/man/man1/sepquote.1.gz)" ] || fail "$name holds other files than it should:" "$said"
	if ! said=$(env XDG_CONFIG_HOME=/nonexistent XDG_CONFIG_DIRS=/nonexistent \
		rpmlint -c "$src/pkg/rpmlint.toml" "$1" 2>&1) || [[ $said != *' 0 errors, 0 warnings,'* ]]; then
		fail "rpmlint has this to say of $name:" "$said"
	fi
	said=$(rpm --root "$4" --initdb 2>&1 && rpm --root "$4" --install --ignorearch "$1" 2>&1) ||
		fail "rpm cannot install $name:" "$said"
	check_notice "$name" "$4/usr/share/licenses/sepquote/LICENSE.musl" /usr/share/doc/musl-dev/copyright
	check_elf "$name" "$4/usr/bin/sepquote" "$3"
}

# check_zip ZIP TARGET FOLDER: the folder, which is the zip's folder
# unpacked, holds the program, README.md and the licences, as check_windows
# wants them.
check_zip() {
	local said
	windows_cpu "${2%-windows}"
	ask said unzip -Z1 "$1"
	[ "$said" = "$(printf "${3##*/}/%s\n" '' LICENSE LICENSE.mingw-w64 README.md sepquote.exe)" ] ||
		fail "${1##*/} holds other files than the program, README.md and the licences:" "$said"
	check_windows "${1##*/}" "$3"
}

# check_windows NAME FOLDER: FOLDER, from the file NAME, holds a Windows
# console executable for $cpu, which imports only DLLs every Windows has
# and carries no time stamp, and the notice of the runtime linked into it.
check_windows() {
	local name=$1 said dll
	check_notice "$name" "$2/LICENSE.mingw-w64" "/usr/share/doc/mingw-w64-${cpu//_/-}-dev/copyright"
	# objdump shows the COFF header's time stamp as local time.
	ask said env TZ=UTC0 objdump -p "$2/sepquote.exe"
	[[ $said == *"file format $format"* && $said == *$'\nMagic\t\t\t'"$magic"$'\t'* ]] ||
		fail "$name: the executable is not $format, magic $magic:" "$(head -n 3 <<<"$said")"
	[[ $said == *$'\nSubsystem\t\t00000003\t(Windows CUI)'* ]] ||
		fail "$name: the executable is not a console program"
	while read -r dll; do
		[[ ${dll,,} =~ ^(kernel32|msvcrt|ucrtbase|api-ms-win-crt-[a-z0-9-]+)\.dll$ ]] ||
			fail "$name: the executable needs $dll, which not every Windows has"
	done < <(sed -n 's/^\tDLL Name: //p' <<<"$said")
	[[ $said == *$'\nTime/Date\t\tThu Jan  1 00:00:00 1970\n'* ]] ||
		fail "$name: the executable carries a time stamp:" "$(grep '^Time/Date' <<<"$said")"
}

# in_wine DIR COMMAND...: COMMAND under Wine for $cpu, with a prefix and a
# server of its own under DIR; wine_down DIR: they ended, into prefix.
in_wine() { TMPDIR=$1 bash "$src/tests/wine.sh" "$cpu" "${@:2}"; }
wine_down() { prefix=$(echo "$1"/sepquote-wine-*/*/) && (export TMPDIR=$1 WINEPREFIX=$prefix; wineserver -k || true; wineserver -w); }

# check_msi MSI TARGET DIR: the installer is for the target's CPU, and is
# this version under the UpgradeCode of pkg/sepquote.wxs.  Under Wine, in
# a prefix under DIR, it installs the program, README.md and the licences,
# as check_windows wants them, into folder; where this machine cannot run
# Wine for the CPU, status is 77.
check_msi() {
	local name=${1##*/} said
	windows_cpu "${2%-windows}"
	ask said msiinfo suminfo "$1"
	[[ $said == *$'\nTemplate: '"$template"$'\n'* ]] || fail "$name is not for $cpu:" "$said"
	ask said msiinfo export "$1" Property
	said=${said//$'\r'/}
	[[ $said == *$'\nProductVersion\t'"$version"$'\n'* && $said == *$'\nUpgradeCode\t'$(sed -n \
		's/.*UpgradeCode="\([^"]*\)".*/\1/p' "$src/pkg/sepquote.wxs")$'\n'* ]] || fail "$name is not $version:" "$said"
	in_wine "$3" msiexec /i "Z:$1" /qn >"$3.log" 2>&1 || status=$?
	why=$(sed -n 's/^wine.sh: //p' "$3.log")
	[ "$status" -ne 77 ] || return 0
	[ "$status" -eq 0 ] || fail "$name: msiexec cannot install it:" "$(cat "$3.log")"
	folder=$(echo "$3"/sepquote-wine-*/*/drive_c/users/*/AppData/Local/Programs/sepquote)
	[ "$(ls "$folder")" = "$(printf '%s\n' LICENSE LICENSE.mingw-w64 README.md sepquote.exe)" ] ||
		fail "$name installs other files than it should: $(ls -A "$folder")"
	check_windows "$name" "$folder"
}

# check_removal MSI DIR: once check_msi has installed it, a new process
# (once the server has ended) finds the program through PATH; msiexec
# removes it, and leaves no file, registry entry or cached copy.
check_removal() {
	local name=${1##*/} said
	wine_down "$2"
	said=$(in_wine "$2" cmd /c sepquote a.b 2>&1 || true)
	[ "$said" = 'a\.b' ] || fail "$name: a new process does not find sepquote through PATH; it said: $said"
	in_wine "$2" msiexec /x "Z:$1" /qn >"$2.log" 2>&1 || fail "$name: msiexec cannot remove it:" "$(cat "$2.log")"
	wine_down "$2"
	said=$(find "$prefix/drive_c" -iname '*sepquote*' -o -path '*/windows/Installer/*'
		grep -i sepquote "$prefix"/*.reg || true)
	[ -z "$said" ] || fail "$name leaves this behind when it is removed:" "$said"
}

# logged WHAT COMMAND...: COMMAND, its output added to the preset's log;
# where it fails, the end of the log, and a failure that names WHAT.
logged() {
	local what=$1
	shift
	"$@" >>"$log" 2>&1 || {
		tail -n 30 "$log" >&2
		fail "$preset: $what failed; all of it is in $log"
	}
}

for preset in "${presets[@]}"; do
	dir=build/$preset log=$work/$preset.log
	echo "== $preset"
	logged configure cmake --preset "$preset" "${define[@]}"
	logged 'the build' cmake --build "$dir"
	logged 'the tests' ctest --test-dir "$dir" --output-on-failure --no-tests=error
	logged 'the packing' cmake --build "$dir" --target dist
	# The build says what it made, a file a line.  Each file is checked as
	# it stands and unpacked, or installed, for what it holds.
	mapfile -t lines <"$dir/dist-made"
	for line in "${lines[@]}"; do
		read -r kind file <<<"$line"
		unpacked=$work/${file##*/}.unpacked status=0 why=
		mkdir "$unpacked"
		case $kind in
		deb)
			dpkg-deb -x "$file" "$unpacked"
			check_deb "$file" "${arch[$preset]}"
			exe=$unpacked/usr/bin/sepquote
			;;
		tarball)
			tar -C "$unpacked" -xzf "$file"
			one_folder "$unpacked"
			check_static "$file" "${arch[$preset]}" "$folder"
			exe=$folder/bin/sepquote
			;;
		rpm)
			check_rpm "$file" "${target[$preset]}" "${arch[$preset]}" "$unpacked"
			exe=$unpacked/usr/bin/sepquote
			;;
		zip)
			unzip -q "$file" -d "$unpacked"
			one_folder "$unpacked"
			check_zip "$file" "${target[$preset]}" "$folder"
			exe=$folder/sepquote.exe
			;;
		msi)
			check_msi "$file" "${target[$preset]}" "$unpacked"
			exe=$folder/sepquote.exe
			;;
		*) fail "$preset: the build made $file, of a kind the release does not know: $kind" ;;
		esac
		# The tests again, on the executable as the file delivers it, which
		# install and strip have made from the one just tested: each of the
		# build's tests, under its emulator where it is foreign.  Status 77:
		# this machine cannot run them at all, and says why.
		for command in "$dir"/*.command; do
			[ "$status" -eq 0 ] || break
			mapfile -t run_tests <"$command"
			"${run_tests[@]}" "$exe" >>"$log" 2>&1 || status=$?
		done
		[ -n "$why" ] || why=$(sed -n 's/^SKIP every case: //p' "$log" | tail -n 1)
		if [ "$status" -eq 77 ] && [ -z "$partial" ]; then
			fail "$preset: this machine cannot test ${file##*/}, so the release cannot hold it: $why" \
				"(bash pkg/release.sh --partial makes the rest, with no SHA256SUMS)"
		elif [ "$status" -ne 0 ] && [ "$status" -ne 77 ]; then
			tail -n 30 "$log" >&2
			fail "$preset: the tests of the executable in ${file##*/} failed; all of it is in $log"
		fi
		[ "$kind$status" != msi0 ] || check_removal "$file" "$unpacked"
		[ "$(tree_state)" = "$pristine" ] || fail "$preset: the build changed the source tree, which must stay the commit's:" \
			"$(diff <(printf '%s\n' "$pristine") <(tree_state) | sed -n 's/^[<>] //p')"
		if [ "$status" -eq 77 ]; then
			left_out+=("${file##*/}: $why")
			echo "release: left out ${file##*/}, which this machine cannot test: $why" >&2
		else
			made+=("$file")
		fi
	done
done

cp -- "${made[@]}" "$top/build/dist/"
cd "$top/build/dist"
files=(sepquote*)
[ "${#files[@]}" -eq "${#made[@]}" ] ||
	fail "build/dist holds ${#files[@]} files where the presets make ${#made[@]}"
if ((${#left_out[@]})); then
	printf 'release: %s\n' "not a whole release, so there is no SHA256SUMS; left out:" \
		"${left_out[@]/#/  }" >&2
	exit 0
fi
if ((${#only[@]})); then
	echo "release: the files of ${only[*]} alone, so there is no SHA256SUMS" >&2
	exit 0
fi
sha256sum -- "${files[@]}" >SHA256SUMS.part
mv SHA256SUMS.part SHA256SUMS
cat SHA256SUMS
