#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# The whole release, made from the commit alone, into build/dist/ of the
# checkout that holds this script: the source tarball; a Debian package from
# each configure preset deb-ARCH; a static tarball from the preset static
# and from each preset static-ARCH; a zip from each preset windows-CPU; and
# SHA256SUMS.  So a new architecture joins the release with its line in
# CMakePresets.json.
#
# The source tarball is HEAD's files, taken from git's objects.  The
# release unpacks it and builds every other file from it, with the presets
# it holds, in build folders made anew, with the compilers' and CMake's
# variables cleared from the environment: the working tree, earlier builds,
# git's settings, the umask and the environment change nothing.  Run in an
# unpacked source tarball, which has no commit, it builds the binary files
# from a copy of that tree and needs no git.
#
# Every build passes its tests, under its emulator where it is foreign,
# before it is packed, and every file is checked before SHA256SUMS is
# written.  Any failure stops the release with a message and leaves no
# SHA256SUMS.  SEPQUOTE_MAINTAINER='Name <address>' names the packages'
# maintainer; SOURCE_DATE_EPOCH, when set, dates every file in place of the
# changelog's newest entry.

set -euo pipefail -o errtrace
export LC_ALL=C # the order of what a glob lists
umask 022

fail() {
	printf 'release: %s\n' "$@" >&2
	exit 1
}
# Whatever fails without a message of its own is named here.
trap '[ "$BASH_SUBSHELL" -gt 0 ] || fail "failed at line $LINENO: $BASH_COMMAND"' ERR

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

# The maintainer, before anything is built: one that dpkg or lintian would
# refuse fails here, not after the builds.
if [ -n "${SEPQUOTE_MAINTAINER+set}" ]; then
	said=$(cmake -D MAINTAINER="$SEPQUOTE_MAINTAINER" -P "$tree/cmake/maintainer.cmake" 2>&1) ||
		fail "SEPQUOTE_MAINTAINER:" "$said"
fi

# The presets of the release, read from the tree, and what each needs:
# every missing package is named at once, before anything is built.
cd "$tree"
presets=$(cmake --list-presets) || fail "cmake cannot read the presets"
mapfile -t presets < <(sed -n 's/^  "\(deb-[^"]*\|static[^"]*\|windows-[^"]*\)".*/\1/p' <<<"$presets")
((${#presets[@]})) || fail "no preset names a file of the release"
declare -A arch target
host=$(dpkg --print-architecture)
for preset in "${presets[@]}"; do
	cache=$(cmake --preset "$preset" -N) || fail "cmake cannot read the preset $preset"
	arch[$preset]=$(sed -n 's/^  SEPQUOTE_ARCH="\(.*\)"$/\1/p' <<<"$cache")
	target[$preset]=$(sed -n 's/^  SEPQUOTE_TARGET="\(.*\)"$/\1/p' <<<"$cache")
	if [[ $preset == windows-* ]]; then
		t=${target[$preset]:?the preset $preset names no SEPQUOTE_TARGET}
		cpu=${t%-windows}
		need "g++-mingw-w64-${cpu//_/-}-win32" wine wine64 zip unzip
		continue
	fi
	a=${arch[$preset]:?the preset $preset names no SEPQUOTE_ARCH}
	if [ "$a" = "$host" ]; then
		need g++
	else
		triplet=$(dpkg-architecture -a "$a" -qDEB_HOST_GNU_TYPE 2>/dev/null)
		need "g++-${triplet//_/-}" qemu-user
	fi
	if [[ $preset == static* ]]; then
		: "${target[$preset]:?the preset $preset names no SEPQUOTE_TARGET}"
		need "musl-dev:$a"
	else
		need "libc6:$a" # dpkg-shlibdeps reads its symbols
	fi
done
missing

# The version and the date, from the tree's changelog, as every build will
# read them; dpkg must read the same.  An entry that dch has not yet
# finished is for building and trying, not for a release.
changelog=$tree/pkg/changelog
read -r version epoch < <(cmake -D CHANGELOG="$changelog" -P "$tree/cmake/changelog.cmake")
[ "$version" = "$(dpkg-parsechangelog -l "$changelog" -SVersion)" ] ||
	fail "cmake and dpkg read another version in pkg/changelog"
[ -n "${SOURCE_DATE_EPOCH+set}" ] || [ "$epoch" = "$(dpkg-parsechangelog -l "$changelog" -STimestamp)" ] ||
	fail "cmake and dpkg read another date in pkg/changelog"
[ "$(dpkg-parsechangelog -l "$changelog" -SDistribution)" != UNRELEASED ] ||
	fail "pkg/changelog's entry for $version is UNRELEASED: finish it (dch --release) first"
export SOURCE_DATE_EPOCH=$epoch
echo "== sepquote $version, dated $(date -u -d "@$epoch" '+%Y-%m-%d %H:%M:%S UTC')"

# The documents name the files of this release, not another version's.
stale=$(grep -noE 'sepquote[-_][0-9]+(\.[0-9]+)+' README.md CONTRIBUTING.md |
	grep -vE ":sepquote[-_]${version//./\\.}\$" || true)
[ -z "$stale" ] ||
	fail "these name files of another version than $version; name this release's:" "$stale"

made=()
if [ "$from" = git ]; then
	echo "== source"
	bash "$tree/pkg/dist.sh" "$work" "$version" source "$tree"
	made+=("$work/sepquote-$version.tar.gz")
	mkdir "$work/unpacked"
	tar -C "$work/unpacked" -xzf "$work/sepquote-$version.tar.gz"
	src=$work/unpacked/sepquote-$version
	each_file check_file
	[ "$(find "$src" ! -type d | wc -l)" -eq "$checked" ] ||
		fail "the source tarball holds files that HEAD does not"
else
	src=$tree
fi
cd "$src"

define=()
[ -z "${SEPQUOTE_MAINTAINER+set}" ] || define=(-DSEPQUOTE_MAINTAINER="$SEPQUOTE_MAINTAINER")

# check_deb DEB ARCH: what the package must hold and say.
check_deb() {
	local contents path field
	contents=$(dpkg-deb -c "$1")
	for path in bin/sepquote share/man/man1/sepquote.1.gz share/doc/sepquote/copyright \
		share/doc/sepquote/changelog.gz share/doc/sepquote/README.md.gz; do
		grep -q " \./usr/$path\$" <<<"$contents" || fail "${1##*/} lacks /usr/$path"
	done
	field=$(dpkg-deb -f "$1" Architecture)
	[ "$field" = "$2" ] || fail "${1##*/} is for $field"
	field=$(dpkg-deb -f "$1" Depends)
	[[ $field =~ ^libc6\ \(\>=\ [^\)]+\)$ ]] || fail "${1##*/} depends on $field, not libc6 alone"
	field=$(dpkg-deb -f "$1" Maintainer)
	if [ -n "${SEPQUOTE_MAINTAINER+set}" ] && [ "$field" != "$SEPQUOTE_MAINTAINER" ]; then
		fail "${1##*/} is maintained by $field, not $SEPQUOTE_MAINTAINER"
	fi
}

# elf_machine FILE: what readelf says of the machine an ELF file is for.
elf_machine() { readelf -h "$1" | grep -E '^ *(Class|Data|Machine|Flags):'; }

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
	local name=${1##*/} exe=$3/bin/sepquote multiarch said
	for path in bin/sepquote share/man/man1/sepquote.1.gz share/doc/sepquote/README.md \
		share/doc/sepquote/LICENSE; do
		[ -f "$3/$path" ] || fail "$name lacks $path"
	done
	check_notice "$name" "$3/share/doc/sepquote/LICENSE.musl" /usr/share/doc/musl-dev/copyright
	said=$(readelf -lW "$exe")
	[[ $said != *INTERP* ]] || fail "$name: the executable asks for a program interpreter"
	said=$(readelf -dW "$exe")
	[[ $said == *"no dynamic section"* ]] || fail "$name: the executable is linked dynamically"
	said=$(readelf -SW "$exe")
	[[ $said != *.symtab* ]] || fail "$name: the executable is not stripped"
	multiarch=$(dpkg-architecture -t "$2" -qDEB_HOST_MULTIARCH 2>/dev/null) ||
		fail "$name: dpkg knows no architecture for $2"
	[ "$(elf_machine "$exe")" = "$(elf_machine "/usr/lib/$multiarch/libc.so")" ] ||
		fail "$name: the executable is not for $2:" "$(elf_machine "$exe")"
}

# check_zip ZIP TARGET FOLDER: the folder, which is the zip's folder
# unpacked, holds a Windows console executable for the processor of the
# target in its name, which imports only DLLs every Windows has and carries
# no time stamp, and the notice of the runtime linked into it.
check_zip() {
	local name=${1##*/} cpu=${2%-windows} exe=$3/sepquote.exe top=${3##*/} said dll offset
	said=$(unzip -Z1 "$1")
	[ "$said" = "$(printf "$top/%s\n" '' LICENSE LICENSE.mingw-w64 README.md sepquote.exe)" ] ||
		fail "$name holds other files than the program, README.md and the licences:" "$said"
	check_notice "$name" "$3/LICENSE.mingw-w64" "/usr/share/doc/mingw-w64-${cpu//_/-}-dev/copyright"
	said=$(objdump -p "$exe") || fail "$name: objdump cannot read the executable"
	[[ $said == *"file format pei-${cpu//_/-}"* && $said == *$'Magic\t\t\t020b\t(PE32+)'* ]] ||
		fail "$name: the executable is not PE32+ for $cpu:" "$(head -n 3 <<<"$said")"
	[[ $said == *$'\nSubsystem\t\t00000003\t(Windows CUI)'* ]] ||
		fail "$name: the executable is not a console program"
	while read -r dll; do
		[[ ${dll,,} =~ ^(kernel32|msvcrt|ucrtbase|api-ms-win-crt-[a-z0-9-]+)\.dll$ ]] ||
			fail "$name: the executable needs $dll, which not every Windows has"
	done < <(sed -n 's/^\tDLL Name: //p' <<<"$said")
	# The COFF header's time stamp, read as the bytes it is: 4 bytes at 8
	# past the signature, whose offset is at 0x3C.
	offset=$(od -An -tu4 -j 60 -N 4 "$exe")
	[ "$(od -An -tu4 -j $((offset + 8)) -N 4 "$exe")" -eq 0 ] ||
		fail "$name: the executable carries a time stamp"
}

# A Wine server stays up a while after its last program: the release stops
# those of its builds, even when it fails, before they can hold a folder
# that is to go.
wines=()
stop_wines() {
	local prefix
	for prefix in "${wines[@]}"; do
		bash "$src/tests/wine.sh" "$prefix"
	done
}
trap stop_wines EXIT

debs=()
for preset in "${presets[@]}"; do
	dir=build/$preset log=$work/$preset.log
	echo "== $preset"
	[[ $preset != windows-* ]] || wines+=("$src/$dir/wine")
	{ cmake --preset "$preset" "${define[@]}" && cmake --build "$dir" &&
		ctest --test-dir "$dir" --output-on-failure --no-tests=error &&
		cmake --build "$dir" --target dist; } >"$log" 2>&1 || {
		tail -n 30 "$log" >&2
		fail "$preset: the build, its tests or its packing failed; all of it is in $log"
	}
	# Each file is checked as it stands and unpacked, for what it holds.
	unpacked=$work/$preset.unpacked
	mkdir "$unpacked"
	if [[ $preset == static* ]]; then
		file=$src/$dir/sepquote-$version-${target[$preset]}.tar.gz
		tar -C "$unpacked" -xzf "$file"
		unpacked+=/sepquote-$version-${target[$preset]}
		check_static "$file" "${target[$preset]}" "$unpacked"
		exe=$unpacked/bin/sepquote
	elif [[ $preset == windows-* ]]; then
		file=$src/$dir/sepquote-$version-${target[$preset]}.zip
		unzip -q "$file" -d "$unpacked"
		unpacked+=/sepquote-$version-${target[$preset]}
		check_zip "$file" "${target[$preset]}" "$unpacked"
		exe=$unpacked/sepquote.exe
	else
		file=$src/$dir/sepquote_${version}_${arch[$preset]}.deb
		dpkg-deb -x "$file" "$unpacked"
		check_deb "$file" "${arch[$preset]}"
		exe=$unpacked/usr/bin/sepquote
		debs+=("$file")
	fi
	# The tests again, on the executable as the file delivers it, which
	# install and strip have made from the one just tested; under the
	# build's emulator where it is foreign.
	mapfile -t run_tests <"$dir/test-command"
	"${run_tests[@]}" "$exe" >>"$log" 2>&1 || {
		tail -n 30 "$log" >&2
		fail "$preset: the executable in ${file##*/} fails its tests; all of it is in $log"
	}
	made+=("$file")
done

if ((${#debs[@]})); then
	echo "== lintian"
	# With Debian's checks, and no configuration, profile or variable of
	# this machine's or its user's that could silence one.
	said=$(lintian --no-user-dirs --no-cfg --ignore-lintian-env --profile debian \
		-I -E --pedantic "${debs[@]}" 2>&1) || fail "lintian failed:" "$said"
	# Run by root, lintian says so, which tells nothing of the packages.
	said=$(grep -vxF 'running with root privileges is not recommended!' <<<"$said" || true)
	[ -z "$said" ] || fail "lintian has this to say:" "$said"
fi

cp -- "${made[@]}" "$top/build/dist/"
cd "$top/build/dist"
files=(sepquote*)
[ "${#files[@]}" -eq "${#made[@]}" ] ||
	fail "build/dist holds ${#files[@]} files where the presets make ${#made[@]}"
sha256sum -- "${files[@]}" >SHA256SUMS.part
mv SHA256SUMS.part SHA256SUMS
cat SHA256SUMS
