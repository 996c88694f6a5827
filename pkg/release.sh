#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# The whole release, made from the commit alone, into build/dist/ of the
# checkout that holds this script: the source tarball; a Debian package from
# each configure preset deb-ARCH; a static tarball from the preset static
# and from each preset static-ARCH; a zip from each preset windows-CPU; and
# SHA256SUMS.  So a new architecture joins the release with its line in
# CMakePresets.json.  Each build's packing says which file it made and of
# what kind (pkg/dist.sh names them all), and the release checks it as
# that kind.
#
# The source tarball is HEAD's files, taken from git's objects.  The
# release unpacks it and builds every other file from it, with the presets
# it holds, in build folders made anew, with the compilers' and CMake's
# variables cleared from the environment: the working tree, earlier builds,
# git's settings, the umask and the environment change nothing.  Run in an
# unpacked source tarball, which has no commit, it builds the binary files
# from a copy of that tree and needs no git.
#
# It refuses, before anything is built: a pkg/release.sh that is not
# HEAD's; missing Debian packages, all named at once; a changelog that
# cmake and dpkg read differently, or whose newest entry is UNRELEASED;
# and documents that name another version's files.  Then every build must
# configure (which checks the maintainer), build, pass its tests under its
# emulator where it is foreign, and pack; every file must hold what its
# kind holds, for the machine its name says, and its executable must pass
# the tests again as the file delivers it; lintian must have nothing to
# say of the packages; and after every build the source tree must still be
# the commit's.  Every command whose output a check reads must succeed and
# say something.  Any failure stops the release with a message and leaves
# no SHA256SUMS.
# SEPQUOTE_MAINTAINER='Name <address>' names the packages' maintainer, whom
# each build's configure checks; SOURCE_DATE_EPOCH, when set, dates every
# file in place of the changelog's newest entry.

set -euo pipefail -o errtrace
export LC_ALL=C # the order of what a glob lists
umask 022

fail() {
	printf 'release: %s\n' "$@" >&2
	exit 1
}
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
# copied before the folder is known to be sepquote's.
script=${BASH_SOURCE[0]-}
[ -f "$script" ] || fail "run the release from its file, as bash pkg/release.sh, not from standard input"
script=$(readlink -f -- "$script")
top=${script%/pkg/release.sh}
if [ "$top" = "$script" ] || [ ! -f "$top/pkg/dist.sh" ] ||
	! grep -qx 'project(sepquote' "$top/CMakeLists.txt" 2>/dev/null; then
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

if [ -e .git ]; then
	need git
	from=git
else
	from=tree
fi
need cmake dpkg-dev binutils lintian
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

if [ "$from" = git ]; then
	git rev-parse -q --verify 'HEAD^{commit}' >/dev/null ||
		fail "git cannot read the commit here; 'git status' says why"
	# Everything else comes from the commit; so must this script.
	git cat-file blob HEAD:pkg/release.sh 2>/dev/null | cmp -s - "$top/pkg/release.sh" ||
		fail "pkg/release.sh is not HEAD's: commit the change, or stash it, first"
	[ -z "$(git status --porcelain)" ] ||
		echo "release: the release is HEAD $(git rev-parse HEAD); local changes are not in it" >&2
	each_file export_file
else
	tar -C "$top" --exclude=./build --exclude=./CMakeUserPresets.json -cf - . | tar -C "$tree" -xf -
fi

# The presets of the release, read from the tree, and what each needs:
# every missing package is named at once, before anything is built.  What
# a preset needs follows from what it gives CMake: its toolchain file and
# whether it links statically.
cd "$tree"
ask said cmake --list-presets
mapfile -t presets < <(sed -n 's/^  "\(deb-[^"]*\|static[^"]*\|windows-[^"]*\)".*/\1/p' <<<"$said")
((${#presets[@]})) || fail "no preset names a file of the release"
declare -A arch target
host=$(dpkg --print-architecture)
# The Windows CPUs that the release knows, one a line: the CPU, objdump's
# name for its executables' format, their PE magic, and the Debian package
# whose Wine runs them.
windows_cpus='x86_64 pei-x86-64 020b wine64
i686 pei-i386 010b wine32:i386'
# windows_cpu CPU: CPU's line into cpu, format, magic and wine, or a
# failure that names it.
windows_cpu() {
	local line
	line=$(grep "^$1 " <<<"$windows_cpus") ||
		fail "the release knows no Windows CPU $1: give it a line in windows_cpus"
	read -r cpu format magic wine <<<"$line"
}
# value NAME: the value that the preset read into cache gives NAME.
cache=
value() { sed -n "s/^  $1\(:[A-Z]*\)\?=\"\(.*\)\"\$/\2/p" <<<"$cache"; }
for preset in "${presets[@]}"; do
	ask cache cmake --preset "$preset" -N
	arch[$preset]=$(value SEPQUOTE_ARCH)
	target[$preset]=$(value SEPQUOTE_TARGET)
	case $(value CMAKE_TOOLCHAIN_FILE) in
	*/windows.cmake)
		t=${target[$preset]:?the preset $preset names no SEPQUOTE_TARGET}
		windows_cpu "${t%-windows}"
		need "g++-mingw-w64-${cpu//_/-}-win32" wine "$wine" zip unzip
		continue
		;;
	*/cross.cmake) ;;
	*) fail "the preset $preset makes a file of the release with neither cross.cmake nor windows.cmake" ;;
	esac
	a=${arch[$preset]:?the preset $preset names no SEPQUOTE_ARCH}
	if [ "$a" = "$host" ]; then
		need g++
	else
		triplet=$(dpkg-architecture -a "$a" -qDEB_HOST_GNU_TYPE 2>/dev/null)
		need "g++-${triplet//_/-}" qemu-user
	fi
	if [ "$(value SEPQUOTE_STATIC)" = ON ]; then
		need "musl-dev:$a"
	else
		need "libc6:$a" # dpkg-shlibdeps reads its symbols
	fi
done
missing

# The version and the date, from the tree's changelog, as every build will
# read them and as dpkg does.  An entry that dch has not yet finished is for
# building and trying, not for a release.
changelog=$tree/pkg/changelog
said=$(bash "$tree/pkg/changelog.sh" cmake "$changelog" 2>&1) || fail "pkg/changelog: $said"
read -r version epoch distribution <<<"$said"
[ "$distribution" != UNRELEASED ] ||
	fail "pkg/changelog's entry for $version is UNRELEASED: finish it (dch --release) first"
epoch=${SOURCE_DATE_EPOCH-$epoch}
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

made=()
if [ "$from" = git ]; then
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
else
	src=$tree
fi
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

# check_static TARBALL TARGET FOLDER: a static, stripped executable for the
# machine of the target in its name, which is the machine of musl's library
# for it; FOLDER is the tarball's folder, unpacked.
check_static() {
	local name=${1##*/} exe=$3/bin/sepquote multiarch said libc
	for path in bin/sepquote share/man/man1/sepquote.1.gz share/doc/sepquote/README.md \
		share/doc/sepquote/LICENSE; do
		[ -f "$3/$path" ] || fail "$name lacks $path"
	done
	check_notice "$name" "$3/share/doc/sepquote/LICENSE.musl" /usr/share/doc/musl-dev/copyright
	ask said readelf -lW "$exe"
	[[ $said != *INTERP* ]] || fail "$name: the executable asks for a program interpreter"
	ask said readelf -dW "$exe"
	[[ $said == *"no dynamic section"* ]] || fail "$name: the executable is linked dynamically"
	ask said readelf -SW "$exe"
	[[ $said != *.symtab* ]] || fail "$name: the executable is not stripped"
	multiarch=$(dpkg-architecture -t "$2" -qDEB_HOST_MULTIARCH 2>/dev/null) ||
		fail "$name: dpkg knows no architecture for $2"
	elf_machine "/usr/lib/$multiarch/libc.so"
	libc=$machine
	elf_machine "$exe"
	[ "$machine" = "$libc" ] || fail "$name: the executable is not for $2:" "$machine"
}

# check_zip ZIP TARGET FOLDER: the folder, which is the zip's folder
# unpacked, holds a Windows console executable for the processor of the
# target in its name, which imports only DLLs every Windows has and carries
# no time stamp, and the notice of the runtime linked into it.
check_zip() {
	local name=${1##*/} exe=$3/sepquote.exe top=${3##*/} said dll offset stamp
	windows_cpu "${2%-windows}"
	ask said unzip -Z1 "$1"
	[ "$said" = "$(printf "$top/%s\n" '' LICENSE LICENSE.mingw-w64 README.md sepquote.exe)" ] ||
		fail "$name holds other files than the program, README.md and the licences:" "$said"
	check_notice "$name" "$3/LICENSE.mingw-w64" "/usr/share/doc/mingw-w64-${cpu//_/-}-dev/copyright"
	ask said objdump -p "$exe"
	[[ $said == *"file format $format"* && $said == *$'\nMagic\t\t\t'"$magic"$'\t'* ]] ||
		fail "$name: the executable is not $format, magic $magic:" "$(head -n 3 <<<"$said")"
	[[ $said == *$'\nSubsystem\t\t00000003\t(Windows CUI)'* ]] ||
		fail "$name: the executable is not a console program"
	while read -r dll; do
		[[ ${dll,,} =~ ^(kernel32|msvcrt|ucrtbase|api-ms-win-crt-[a-z0-9-]+)\.dll$ ]] ||
			fail "$name: the executable needs $dll, which not every Windows has"
	done < <(sed -n 's/^\tDLL Name: //p' <<<"$said")
	# The COFF header's time stamp, read as the bytes it is: 4 bytes at 8
	# past the signature, whose offset is at 0x3C.
	ask offset od -An -tu4 -j 60 -N 4 "$exe"
	ask stamp od -An -tu4 -j $((offset + 8)) -N 4 "$exe"
	[ "$stamp" -eq 0 ] || fail "$name: the executable carries a time stamp"
}

# Wine's server stays up a while after its last program: the release stops
# it, even when it fails, once it has run a Windows build's tests.
wine_ran=
trap '[ -z "$wine_ran" ] || bash "$src/tests/wine.sh"' EXIT

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
	! grep -q '/tests/wine\.sh$' "$dir/test-command" || wine_ran=yes
	logged 'the build' cmake --build "$dir"
	logged 'the tests' ctest --test-dir "$dir" --output-on-failure --no-tests=error
	logged 'the packing' cmake --build "$dir" --target dist
	# The build says what it made.  Each file is checked as it stands and
	# unpacked, for what it holds.
	read -r kind file <"$dir/dist-made"
	unpacked=$work/$preset.unpacked
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
		check_static "$file" "${target[$preset]}" "$folder"
		exe=$folder/bin/sepquote
		;;
	zip)
		unzip -q "$file" -d "$unpacked"
		one_folder "$unpacked"
		check_zip "$file" "${target[$preset]}" "$folder"
		exe=$folder/sepquote.exe
		;;
	*) fail "$preset: the build made $file, of a kind the release does not know: $kind" ;;
	esac
	# The tests again, on the executable as the file delivers it, which
	# install and strip have made from the one just tested; under the
	# build's emulator where it is foreign.
	mapfile -t run_tests <"$dir/test-command"
	logged "the tests of the executable in ${file##*/}" "${run_tests[@]}" "$exe"
	[ "$(tree_state)" = "$pristine" ] || fail "$preset: the build changed the source tree, which must stay the commit's:" \
		"$(diff <(printf '%s\n' "$pristine") <(tree_state) | sed -n 's/^[<>] //p')"
	made+=("$file")
done

cp -- "${made[@]}" "$top/build/dist/"
cd "$top/build/dist"
files=(sepquote*)
[ "${#files[@]}" -eq "${#made[@]}" ] ||
	fail "build/dist holds ${#files[@]} files where the presets make ${#made[@]}"
sha256sum -- "${files[@]}" >SHA256SUMS.part
mv SHA256SUMS.part SHA256SUMS
cat SHA256SUMS
