#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# The whole release, made from the commit alone, into build/dist/ of the
# checkout that holds this script: the source tarball, the files of each
# configure preset that names a kind (SEPQUOTE_KIND), each made and
# checked by its kind's file in pkg/ as pkg/lib.sh says, and SHA256SUMS.
#
#   release.sh [--partial] [PRESET...]
#
# With --partial, the presets whose files this machine cannot test at all
# are left out, each named with the reason, and so is SHA256SUMS.  With
# PRESETs, only their files are made, and checked, and no SHA256SUMS.
#
# The source tarball is HEAD's files, from git's objects; every other file
# is built from it, unpacked, in build folders made anew, in an environment
# of PATH, TMPDIR, SOURCE_DATE_EPOCH and SEPQUOTE_MAINTAINER alone.
#
# It refuses, before anything is built: a pkg/release.sh that is not
# HEAD's; missing Debian packages, all named at once; a commit that does
# not configure; a newest changelog entry that is not for project()'s
# version, is UNRELEASED, or that dpkg reads with a complaint; documents
# that name a release file that no preset makes; and, but with --partial,
# presets whose files this machine cannot test.  Then every build must
# build, pass its tests and pack, every file pass its kind's checks, and
# the source tree stay the commit's.  A command whose output a check reads
# must succeed and say something.  Any failure stops the release with a
# message and leaves no SHA256SUMS.  SEPQUOTE_MAINTAINER='Name <address>'
# names the packages' maintainer; SOURCE_DATE_EPOCH dates every file in
# place of the changelog's entry.

set -euo pipefail -o errtrace
umask 022

fail() {
	printf 'release: %s\n' "$@" >&2
	exit 1
}
partial=
[ "${1-}" != --partial ] || { partial=yes && shift; }
[[ ${1-} != -* ]] || fail "usage: bash pkg/release.sh [--partial] [PRESET...]"
# Whatever fails without a message of its own is named here.
trap '[ "$BASH_SUBSHELL" -gt 0 ] || fail "failed at line $LINENO: $BASH_COMMAND"' ERR

# The checkout is the one that holds this script, found through any
# symlink; read from standard input, the script has no file.  Nothing is
# removed before the folder is known to be sepquote's: CMake reads a
# command's name in any case, and its arguments across lines.
script=${BASH_SOURCE[0]-}
[ -f "$script" ] || fail "run the release from its file, as bash pkg/release.sh, not from standard input"
script=$(readlink -f -- "$script")
if [ "${SEPQUOTE_RELEASE_ENV-}" != "$script" ]; then
	exec env -i SEPQUOTE_RELEASE_ENV="$script" PATH="$PATH" HOME=/nonexistent TMPDIR="${TMPDIR:-/tmp}" LC_ALL=C \
		${SOURCE_DATE_EPOCH+"SOURCE_DATE_EPOCH=$SOURCE_DATE_EPOCH"} \
		${SEPQUOTE_MAINTAINER+"SEPQUOTE_MAINTAINER=$SEPQUOTE_MAINTAINER"} bash "$script" ${partial:+--partial} "$@"
fi
top=${script%/pkg/release.sh}
if [ "$top" = "$script" ] || [ ! -f "$top/pkg/lib.sh" ] ||
	! tr -s '[:space:]' ' ' <"$top/CMakeLists.txt" 2>/dev/null |
	grep -qiE '(^| )project ?\( ?"?sepquote"?[ )]'; then
	fail "$script is not the pkg/release.sh of a sepquote checkout"
fi
cd "$top"

# A release that fails leaves no SHA256SUMS, not even an earlier one.
rm -rf build/dist build/distcheck
work=$top/build/distcheck tree=$top/build/distcheck/tree
mkdir -p build/dist "$tree"

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
	((${#absent[@]} == 0)) ||
		fail "install these Debian packages first (a foreign architecture needs dpkg --add-architecture):" "${absent[@]/#/  }"
}
need git cmake dpkg-dev binutils lintian groff-base g++ make
# The presets that name the rest cannot be read without these.
[[ " ${absent[*]} " != *" cmake "* && " ${absent[*]} " != *" dpkg-dev "* ]] || missing

# ask VAR COMMAND...: what COMMAND writes on standard output, into VAR; a
# failure, or nothing said, stops the release, naming the command.
ask() {
	local -n answer=$1
	answer=$("${@:2}" 2>"$work/errors") || fail "${*:2} failed with status $?" "$(head -n 5 "$work/errors")"
	[ -n "$answer" ] || fail "${*:2} said nothing"
}

# export_file MODE HASH PATH: the file of HEAD into the tree, as git holds it.
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

# tree_state: each file and folder here but build/, its mode, link and hash.
tree_state() {
	find . -path ./build -prune -o -type l -printf '%M %p -> %l\n' -o -printf '%M %p\n' | sort
	find . -path ./build -prune -o -type f -print0 | sort -z | xargs -0 sha256sum
}

git rev-parse -q --verify 'HEAD^{commit}' >/dev/null ||
	fail "git cannot read the commit here; 'git status' says why"
# Everything else comes from the commit; so must this script.
git cat-file blob HEAD:pkg/release.sh 2>/dev/null | cmp -s - "$script" ||
	fail "pkg/release.sh is not HEAD's: commit the change, or stash it, first"
[ -z "$(git status --porcelain)" ] ||
	echo "release: the release is HEAD $(git rev-parse HEAD); local changes are not in it" >&2
while IFS=$'\t' read -r -d '' meta path; do
	read -r mode _ hash <<<"$meta"
	export_file "$mode" "$hash" "$path"
done < <(git ls-tree -r -z --full-tree HEAD)

# The presets of the release, read from the tree, and what each needs:
# every missing package is named at once, before anything is built.
cd "$tree"
# shellcheck source=pkg/lib.sh
. pkg/lib.sh
presets=() release=() left_out=()
declare -A kind arch target
ask said bash cmake/presets.sh SEPQUOTE_KIND SEPQUOTE_ARCH SEPQUOTE_TARGET SEPQUOTE_MUSL_SOURCE
while read -r preset k a t musl; do
	[ "$k" != - ] || continue
	[ -f "pkg/$k.sh" ] || fail "the preset $preset names the kind $k, which has no file pkg/$k.sh"
	# shellcheck disable=SC1090 # the kind's file, which the preset names
	. "pkg/$k.sh"
	kind[$preset]=$k arch[$preset]=$a target[$preset]=${t#-}
	release+=("$preset")
	(($# == 0)) || [[ " $* " == *" $preset "* ]] || continue
	presets+=("$preset")
	"${k}_needs" "$a" "$musl"
done <<<"$said"
((${#release[@]})) || fail "no preset names a SEPQUOTE_KIND"
(($# == 0 || $# == ${#presets[@]})) || fail "of $*, only ${presets[*]-none} make files of the release:" "${release[@]/#/  }"
missing

# The version, as CMake reads project() in a copy of the tree (a configure
# may change it); the date, the changelog's newest entry's, which must be
# for that version, finished, and read by dpkg as it is.
cp -R "$tree" "$work/probe"
cmake -S "$work/probe" -B "$work/probe/build" -DBUILD_TESTING=OFF >"$work/probe.log" 2>&1 ||
	{ cat "$work/probe.log" >&2; fail "the commit does not configure, as above"; }
version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$work/probe/build/CMakeCache.txt")
declare -A entry
for field in Version Timestamp Distribution; do
	if ! said=$(dpkg-parsechangelog -l pkg/changelog -S "$field" 2>&1) ||
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
[[ $epoch =~ ^[0-9]+$ && $epoch -le $(date +%s) ]] ||
	fail "SOURCE_DATE_EPOCH is '$epoch': it must be the seconds since 1970, and not after now, or RPM packages differ"
export SOURCE_DATE_EPOCH=$epoch
echo "== sepquote $version, dated $(date -u -d "@$epoch" '+%Y-%m-%d %H:%M:%S UTC')"

# The documents name files that the release's presets make, and no other.
known=$(for preset in "${release[@]}"; do
	"${kind[$preset]}_files" "$version" "${arch[$preset]}" "${target[$preset]}"
done)
unknown=()
while IFS=: read -r doc line name; do
	grep -qxF -e "$name" <<<"sepquote-$version.tar.gz"$'\n'"$known" || unknown+=("$doc:$line: $name")
done < <(grep -noE 'sepquote[-_][0-9][-_.a-zA-Z0-9]*[a-z]' README.md CONTRIBUTING.md)
((${#unknown[@]} == 0)) || fail "the documents name files that no preset of the release makes:" "${unknown[@]/#/  }"

# Presets whose files this machine cannot test: refused, or left out.
tested=()
for preset in "${presets[@]}"; do
	why=$(! declare -F "${kind[$preset]}_untested" >/dev/null || "${kind[$preset]}_untested" "${arch[$preset]}")
	[ -z "$why" ] || [ -n "$partial" ] || fail "$preset: this machine cannot test its files, so the release cannot hold them: $why" \
		"(bash pkg/release.sh --partial makes the rest, with no SHA256SUMS)"
	[ -z "$why" ] && tested+=("$preset") && continue
	left_out+=("$preset: $why")
	echo "release: left out $preset, whose files this machine cannot test: $why" >&2
done

# The source tarball, which must hold the tree as it is, as it must stay.
echo "== source"
src=$work/unpacked/sepquote-$version files=("$work/sepquote-$version.tar.gz")
mkdir "$work/unpacked"
cp -R "$tree" "$src"
tarball "$src" "${files[0]}"
rm -rf "$src"
tar -C "$work/unpacked" -xzf "${files[0]}"
pristine=$(tree_state)
cd "$src"
[ "$(tree_state)" = "$pristine" ] || fail "the source tarball does not hold the commit's files as they are"

define=()
[ -z "${SEPQUOTE_MAINTAINER+set}" ] || define=(-DSEPQUOTE_MAINTAINER="$SEPQUOTE_MAINTAINER")

# logged WHAT COMMAND...: COMMAND, its output added to the preset's log;
# where it fails, the end of the log, and a failure that names WHAT.
logged() {
	"${@:2}" >>"$log" 2>&1 || {
		tail -n 30 "$log" >&2
		fail "$preset: $1 failed; all of it is in $log"
	}
}

# tested NAME EXE: the build's tests again, each under its emulator, on
# EXE, the executable as the file NAME delivers it.
tested() {
	local command run_tests
	for command in "$dir"/*.command; do
		mapfile -t run_tests <"$command"
		logged "the tests of the executable in $1" "${run_tests[@]}" "$2"
	done
}

for preset in "${tested[@]}"; do
	dir=build/$preset log=$work/$preset.log
	echo "== $preset"
	logged configure cmake --preset "$preset" "${define[@]}"
	logged 'the build' cmake --build "$dir"
	logged 'the tests' ctest --test-dir "$dir" --output-on-failure --no-tests=error
	logged 'the packing' cmake --build "$dir" --target dist
	# The packing tells what it made, a file a line, for its kind to check.
	mapfile -t lines <"$dir/dist-made"
	for line in "${lines[@]}"; do
		read -r k a file <<<"$line"
		[ "$(type -t "${k}_check")" = function ] ||
			fail "$preset: the packing made ${file##*/}, of a kind no file in pkg/ checks: $k"
		mkdir "$work/${file##*/}.d"
		"${k}_check" "$file" "$a" "$work/${file##*/}.d"
		files+=("$file")
	done
	[ "$(tree_state)" = "$pristine" ] || fail "$preset: the build changed the source tree, which must stay the commit's:" \
		"$(diff <(printf '%s\n' "$pristine") <(tree_state) | sed -n 's/^[<>] //p')"
done

cp -- "${files[@]}" "$top/build/dist/"
cd "$top/build/dist"
made=(sepquote*)
[ "${#made[@]}" -eq "${#files[@]}" ] || fail "build/dist holds ${#made[@]} files where the presets made ${#files[@]}"
((${#left_out[@]} == 0)) || { printf 'release: %s\n' "not a whole release, so there is no SHA256SUMS; left out:" \
	"${left_out[@]/#/  }" >&2 && exit 0; }
(($# == 0)) || { echo "release: the files of $* alone, so there is no SHA256SUMS" >&2 && exit 0; }
sha256sum -- "${made[@]}" >SHA256SUMS.part
mv SHA256SUMS.part SHA256SUMS
cat SHA256SUMS
