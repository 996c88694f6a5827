#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# The whole release, made from HEAD, into build/dist/ of the checkout that
# holds this script: the source tarball; the files of each configure preset
# that names a kind (SEPQUOTE_KIND) and a machine (SEPQUOTE_ARCH), made and
# checked by the kind's program in pkg/, as pkg/lib.sh says; and SHA256SUMS.
#
#   release.sh [--partial] [PRESET...]
#
# --partial leaves out, with the reason, the presets whose files this
# machine cannot test; PRESETs leave out all others; either way, there is
# no SHA256SUMS.  The source tarball is HEAD's files, from git's objects;
# the rest is built from it, unpacked (with musl's source, which
# cmake/musl.sh checks, where musl is built here), with PATH, TMPDIR,
# SOURCE_DATE_EPOCH and SEPQUOTE_MAINTAINER alone, LC_ALL=C and no HOME.
# What it cannot make whole and check, it refuses, in lines that start
# "release: ", leaving no SHA256SUMS.  SEPQUOTE_MAINTAINER='Name <address>'
# names the packages' maintainer; SOURCE_DATE_EPOCH dates every file in
# place of the changelog's newest entry.

set -euo pipefail -o errtrace
umask 022

fail() { printf '%s\n' "$@" | sed 's/^/release: /' >&2 && exit 1; }
partial=
[ "${1-}" != --partial ] || { partial=yes && shift; }
[[ ${1-} != -* ]] || fail "usage: bash pkg/release.sh [--partial] [PRESET...]"
# Whatever fails without a message of its own is named here.
trap '[ "$BASH_SUBSHELL" -gt 0 ] || fail "failed at line $LINENO: $BASH_COMMAND"' ERR

# The checkout holds this script, found through any symlink; read from
# standard input, the script has no file.  Nothing is removed before the
# folder is known to be sepquote's (CMake reads a command's name in any
# case, and its arguments across lines).
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

# present PACKAGE...: the Debian packages are installed, or the release stops, naming the rest.
present() {
	local absent
	absent=$(for p; do dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'ok installed' || echo "  $p"; done | sort -u)
	[ -z "$absent" ] || fail "install these Debian packages first (a foreign architecture needs dpkg --add-architecture):" "$absent"
}
needed=(git cmake dpkg-dev binutils groff-base g++ make)
# The presets that name the rest cannot be read without these two.
{ command -v cmake && command -v dpkg-architecture; } >/dev/null || present "${needed[@]}"

# export_file TREE MODE HASH PATH: HEAD's file into the folder TREE, as git holds it.
export_file() {
	local file=$1/$4
	mkdir -p "$(dirname "$file")"
	case $2 in
	100644 | 100755) git cat-file blob "$3" >"$file" ;;
	120000) ln -s -- "$(git cat-file blob "$3")" "$file" ;;
	*) fail "$4 is a submodule or of mode $2, which a source tarball cannot hold" ;;
	esac
	[ "$2" != 100755 ] || chmod +x "$file"
}

# tree_state: each file and folder here but build/, its mode, link and hash.
tree_state() {
	find . -path ./build -prune -o -type l -printf '%M %p -> %l\n' -o -printf '%M %p\n' | sort
	find . -path ./build -prune -o -type f -print0 | sort -z | xargs -0 sha256sum
}

# step LOG WHAT COMMAND...: COMMAND, what it says added to LOG; a failure names WHAT, with its end.
step() {
	local said
	said=$("${@:3}" 2>&1) && printf '%s\n' "$said" >>"$1" && return
	printf '%s\n' "$said" >>"$1"
	fail "$2 failed; the end of what it said, all of which is in $1:" "$(tail -n 20 <<<"$said" | sed 's/^/  /')"
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
	export_file "$tree" "$mode" "$hash" "$path"
done < <(git ls-tree -r -z --full-tree HEAD)

# The presets of the release, read from the tree, and what each needs:
# every missing package is named at once, before anything is built.
cd "$tree"
presets=() release=() left_out=()
declare -A kind_of arch_of
said=$(bash cmake/presets.sh SEPQUOTE_KIND SEPQUOTE_ARCH 2>&1) || fail "the presets cannot be read:" "$said"
while read -r preset k a; do
	[ "$k" != - ] || continue
	[ -f "pkg/$k.sh" ] || fail "the preset $preset names the kind $k, which has no file pkg/$k.sh"
	kind_of[$preset]=$k arch_of[$preset]=$a
	release+=("$preset")
	(($# == 0)) || [[ " $* " == *" $preset "* ]] || continue
	presets+=("$preset")
	packages=$(bash "pkg/$k.sh" needs "$a" 2>"$work/errors") || fail "$preset:" "$(cat "$work/errors")"
	mapfile -t -O "${#needed[@]}" needed < <(xargs -n 1 <<<"$packages")
done <<<"$said"
((${#release[@]})) || fail "no preset names a SEPQUOTE_KIND"
(($# == 0 || $# == ${#presets[@]})) || fail "of $*, only ${presets[*]-none} make files of the release:" "${release[@]/#/  }"
present "${needed[@]}"

# The version, as CMake reads project() in a copy of the tree (a configure
# may change it); the date, that of the changelog's newest entry, which
# must be for that version, finished, and read by dpkg as it is.
cp -R "$tree" "$work/probe"
step "$work/probe.log" "the configure of the commit" cmake -S "$work/probe" -B "$work/probe/build" -DBUILD_TESTING=OFF
version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$work/probe/build/CMakeCache.txt")
declare -A entry
for key in Version Timestamp Distribution; do
	if ! said=$(dpkg-parsechangelog -l pkg/changelog -S "$key" 2>&1) ||
		[ -z "$said" ] || [[ $said == *dpkg-parsechangelog:* ]]; then
		fail "dpkg reads pkg/changelog so:" "$said"
	fi
	entry[$key]=$said
done
[ "${entry[Version]}" = "$version" ] ||
	fail "pkg/changelog's newest entry is for ${entry[Version]}, not for project()'s $version"
[ "${entry[Distribution]}" != UNRELEASED ] ||
	fail "pkg/changelog's entry for $version is UNRELEASED: finish it first, as CONTRIBUTING.md says"
epoch=${SOURCE_DATE_EPOCH-${entry[Timestamp]}}
[[ $epoch =~ ^[0-9]+$ && $epoch -le $(date +%s) ]] ||
	fail "SOURCE_DATE_EPOCH is '$epoch': it must be the seconds since 1970, and not after now, or RPM packages differ"
export SOURCE_DATE_EPOCH=$epoch
echo "== sepquote $version, dated $(date -u -d "@$epoch" '+%Y-%m-%d %H:%M:%S UTC')"

# The files of each preset, as its kind names them.  The documents name
# those and no other, and each has its row in the README's tables: for a
# Linux machine, that of the machine, as pkg/linux.machines names it.
declare -A files_of
unknown=() rowless=()
for preset in "${release[@]}"; do
	files_of[$preset]=$(bash "pkg/${kind_of[$preset]}.sh" names "$version" "${arch_of[$preset]}" 2>"$work/errors") ||
		fail "$preset:" "$(cat "$work/errors")"
	uname=$(bash pkg/lib.sh machine uname arch "${arch_of[$preset]}" 2>/dev/null) || uname=
	while read -r name; do
		IFS='|' read -r _ row_uname row_debian _ <<<"$(grep -F "\`$name\`" README.md | grep -m 1 '^|')" || true
		if [ -z "$row_uname" ]; then
			rowless+=("$name")
		elif [ -n "$uname" ] && [[ $(xargs <<<"$row_debian") != "${arch_of[$preset]}" || $row_uname != *"$uname"* ]]; then
			rowless+=("$name, for ${arch_of[$preset]} ($uname), in the row of $(xargs <<<"$row_uname"), $(xargs <<<"$row_debian")")
		fi
	done <<<"${files_of[$preset]}"
done
while IFS=: read -r doc line name; do
	grep -qxF -e "$name" <<<"sepquote-$version.tar.gz"$'\n'"$(printf '%s\n' "${files_of[@]}")" || unknown+=("$doc:$line: $name")
done < <(grep -noE 'sepquote[-_][0-9][-_.a-zA-Z0-9]*[a-z]' README.md CONTRIBUTING.md)
((${#unknown[@]} == 0)) || fail "the documents name files that the release does not hold:" "${unknown[@]/#/  }"
((${#rowless[@]} == 0)) || fail "README.md gives these files of the release no row, or another machine's:" "${rowless[@]/#/  }"

# Presets whose files this machine cannot test: refused, or left out.
testable=()
for preset in "${presets[@]}"; do
	why=$(bash "pkg/${kind_of[$preset]}.sh" untested "${arch_of[$preset]}")
	[ -z "$why" ] || [ -n "$partial" ] || fail "$preset: this machine cannot test its files, so the release cannot hold them: $why" \
		"(bash pkg/release.sh --partial makes the rest, with no SHA256SUMS)"
	[ -z "$why" ] && testable+=("$preset") && continue
	left_out+=("$preset: $why")
	echo "release: left out $preset, whose files this machine cannot test: $why" >&2
done

# The source tarball, which must hold the tree as it is, as it must stay.
echo "== source"
src=$work/unpacked/sepquote-$version files=("$work/sepquote-$version.tar.gz")
mkdir "$work/unpacked"
cp -R "$tree" "$src"
bash pkg/lib.sh tar_gz "$src" "${files[0]}"
rm -rf "$src"
tar -C "$work/unpacked" -xzf "${files[0]}"
pristine=$(tree_state)
cd "$src"
[ "$(tree_state)" = "$pristine" ] || fail "the source tarball does not hold the commit's files as they are"

# Each preset is built, tested and packed; the packing must make exactly the
# files its kind names, and each must pass its kind's check.
for preset in "${testable[@]}"; do
	dir=$src/build/$preset log=$work/$preset.log k=${kind_of[$preset]}
	echo "== $preset"
	step "$log" "$preset: the configure" cmake --preset "$preset" \
		${SEPQUOTE_MAINTAINER+"-DSEPQUOTE_MAINTAINER=$SEPQUOTE_MAINTAINER"}
	step "$log" "$preset: the build" cmake --build "$dir"
	step "$log" "$preset: the tests" ctest --test-dir "$dir" --output-on-failure --no-tests=error
	step "$log" "$preset: the packing" cmake --build "$dir" --target dist
	said=$(diff <(sort <<<"${files_of[$preset]}") <(find "$dir/dist" -mindepth 1 -printf '%P\n' | sort)) ||
		fail "$preset: the packing made other files than the kind $k names (<, named but not made; >, made but not named):" \
			"$(sed -n 's/^[<>] .*/  &/p' <<<"$said")"
	while read -r name; do
		mkdir "$work/$name.d"
		said=$(bash "pkg/$k.sh" check "$dir/dist/$name" "$work/$name.d" "$dir" 2>&1 >"$work/$name.log") ||
			fail "$preset: the check of $name failed; all it did is in $work/$name.log:" "  ${said//$'\n'/$'\n'  }"
		sed -n "s/^README: /  $name: the README's, run: /p" "$work/$name.log"
		files+=("$dir/dist/$name")
	done <<<"${files_of[$preset]}"
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
