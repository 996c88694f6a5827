#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# The Arch Linux package of a static build against musl for ARCH, named for
# the machine as pkg/linux.machines gives it, made by makepkg from
# pkg/PKGBUILD.  pkg/lib.sh says how a kind is run.
# shellcheck source=pkg/lib.sh
. "$(dirname "${BASH_SOURCE[0]}")/lib.sh"

names() { named pacman "$2" "sepquote-$1-$package_release-%s.pkg.tar.zst"; }

needs() { bash "$pkg/tarball.sh" needs "$1" && echo makepkg pacman-package-manager libarchive-tools fakeroot zstd; }

# makepkg runs with settings of its own alone, in a folder it sees as /mnt
# whatever the build's, which .BUILDINFO names, and as another user than
# root, as it must: in user namespaces, whoever runs the packing.
pack() {
	local dir=$1/makepkg build=$2 target
	target=$(named pacman "$4" %s)
	mkdir "$dir"
	install_components "$build" "$dir/root" /usr bin/sepquote tool licence
	settle "$dir/root"
	cp "$pkg/PKGBUILD" "$dir/"
	printf '%s\n' "CARCH=$target" "BUILDENV=(!distcc !color !ccache !check !sign)" \
		"OPTIONS=(!strip docs !libtool !staticlibs !emptydirs !zipman !purge !debug !lto)" \
		"PKGEXT=.pkg.tar.zst" "SRCEXT=.src.tar.gz" "COMPRESSZST=(zstd -c -T1 -19 -q -)" >"$dir/makepkg.conf"
	# shellcheck disable=SC2016 # the words of the shell that mounts
	unshare --user --map-root-user --mount sh -c 'mount --bind "$1" /mnt && cd /mnt && shift && exec "$@"' - "$dir" \
		unshare --user --map-user=1000 --map-group=1000 env -i PATH="$PATH" HOME=/nonexistent \
		SOURCE_DATE_EPOCH="$SOURCE_DATE_EPOCH" dist_version="$3" dist_release="$package_release" \
		dist_stage=/mnt/root dist_summary="$(field "$build" Description)" PACKAGER="$(field "$build" Maintainer)" \
		BUILDDIR=/mnt/build PKGDEST=/mnt makepkg --config /mnt/makepkg.conf --nodeps
	mv "$dir/$(names "$3" "$4")" "$build/dist/"
}

check() { installs "$@" "pacman -U ./${1##*/}" "pacman -R sepquote"; } # check PACKAGE DIR BUILD ARCH

# rooted ROOT ARCH pacman ARGUMENT...: pacman into ROOT, set for ARCH.
rooted() {
	[ "$3" = pacman ] || fail "pacman.sh runs pacman alone, not $3"
	mkdir -p "$1/var/lib/pacman"
	printf '%s\n' '[options]' "Architecture = $(named pacman "$2" %s)" 'LocalFileSigLevel = Never' >"$1.conf"
	pacman --root "$1" --dbpath "$1/var/lib/pacman" --config "$1.conf" --logfile /dev/null --noconfirm "${@:4}"
}

# installed PACKAGE ROOT BUILD ARCH: pacman has it as sepquote of the
# build's version and package release, for ARCH, under MIT; it holds what
# every package does, and a static executable for ARCH, as check_exe says.
installed() {
	local name=${1##*/} said doc=usr/share/licenses/sepquote version
	version=$(version_of "$3")
	said=$(ask rooted "$2" "$4" pacman -Qi sepquote)
	[ "$(grep -E '^(Name|Version|Architecture|Licenses) ' <<<"$said" | tr -s ' ')" = "$(printf '%s\n' \
		'Name : sepquote' "Version : $version-$package_release" "Architecture : $(named pacman "$4" %s)" \
		'Licenses : MIT')" ] || fail "pacman says that $name is another package:" "$said"
	said=$(ask rooted "$2" "$4" pacman -Qlq sepquote)
	holds "$name" "$(sed -n 's|^'"$2"'/||; /[^/]$/p' <<<"$said")" exe=usr/bin/sepquote \
		manual=usr/share/man/man1/sepquote.1.gz readme=usr/share/doc/sepquote/README.md \
		licence=$doc/LICENSE notice=$doc/LICENSE.musl
	check_exe "$name" "$2/usr/bin/sepquote" "$3" "$4" static
}

kind "$@"
