#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Build, test and pack the whole release into build/dist/: the source
# tarball; a Debian package from the configure preset release (the host's
# architecture) and from each preset deb-ARCH; a static tarball from the
# preset static and from each preset static-ARCH; and SHA256SUMS.  So a new
# architecture joins the release with its line in CMakePresets.json.  Each
# build passes the tests, under its emulator where it is foreign, before it
# is packed.  What the builds need is checked first: a missing Debian
# package is named before anything is built.

set -euo pipefail
cd "$(dirname "$0")/.."
export LC_ALL=C # the order of what a glob lists
mapfile -t presets < <(cmake --list-presets |
	sed -n 's/^  "\(release\|deb-[^"]*\|static[^"]*\)".*/\1/p')

# var PRESET NAME: the value the preset gives the cache variable NAME.
var() { cmake --preset "$1" -N | sed -n "s/^  $2=\"\(.*\)\"\$/\1/p"; }

missing=()
need() {
	dpkg-query -W -f='${Status}' "$1" 2>/dev/null | grep -q 'ok installed' ||
		[[ " ${missing[*]} " == *" $1 "* ]] || missing+=("$1")
}
need git
need dpkg-dev
host=$(dpkg --print-architecture)
for preset in "${presets[@]}"; do
	arch=$(var "$preset" SEPQUOTE_ARCH)
	arch=${arch:-$host}
	if [ "$arch" = "$host" ]; then
		need g++
	else
		triplet=$(dpkg-architecture -a "$arch" -qDEB_HOST_GNU_TYPE 2>/dev/null)
		need "g++-${triplet//_/-}"
		need qemu-user
	fi
	if [ "$(var "$preset" SEPQUOTE_STATIC)" = ON ]; then
		need "musl-dev:$arch"
	else
		need "libc6:$arch" # dpkg-shlibdeps reads its symbols
	fi
done
if ((${#missing[@]})); then
	echo "release: install these Debian packages first (foreign architectures need dpkg --add-architecture):" >&2
	printf '  %s\n' "${missing[@]}" >&2
	exit 1
fi

rm -rf build/dist
mkdir -p build/dist
shopt -s nullglob
made=()
for preset in "${presets[@]}"; do
	dir=build/$preset log=build/$preset.log
	echo "== $preset"
	rm -f "$dir"/sepquote_*.deb "$dir"/sepquote-*.tar.gz
	if ! { cmake --preset "$preset" && cmake --build "$dir" &&
		ctest --test-dir "$dir" --output-on-failure &&
		cmake --build "$dir" --target dist; } >"$log" 2>&1; then
		tail -n 30 "$log" >&2
		exit 1
	fi
	made+=("$dir"/sepquote_*.deb "$dir"/sepquote-*.tar.gz)
done
echo "== source"
rm -f build/release/sepquote-*.tar.gz
cmake --build build/release --target dist-source 2>&1 | sed '/Built target/d'
made+=(build/release/sepquote-*.tar.gz)
cp -- "${made[@]}" build/dist/
cd build/dist
sha256sum -- sepquote* >SHA256SUMS
cat SHA256SUMS
