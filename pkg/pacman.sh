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

# check PACKAGE DIR BUILD ARCH: pacman, set for ARCH, which the package's
# name bears, installs it into DIR as sepquote of the build's version and
# the package release, under MIT; it holds what every package does, a
# static executable for ARCH that passes the tests; and pacman -R removes
# it, leaving nothing behind.
check() {
	local name=${1##*/} said doc=usr/share/licenses/sepquote root=$2/root target version
	local p=(pacman --root "$root" --dbpath "$root/var/lib/pacman" --config "$2/pacman.conf"
		--logfile /dev/null --noconfirm)
	target=$(named pacman "$4" %s)
	version=$(version_of "$3")
	mkdir -p "$root/var/lib/pacman"
	printf '%s\n' '[options]' "Architecture = $target" 'LocalFileSigLevel = Never' >"$2/pacman.conf"
	said=$("${p[@]}" -U "$1" 2>&1) || fail "pacman cannot install $name:" "$said"
	said=$(ask "${p[@]}" -Qi sepquote)
	[ "$(grep -E '^(Name|Version|Architecture|Licenses) ' <<<"$said" | tr -s ' ')" = "$(printf '%s\n' \
		'Name : sepquote' "Version : $version-$package_release" "Architecture : $target" 'Licenses : MIT')" ] ||
		fail "pacman says that $name is another package:" "$said"
	said=$(ask "${p[@]}" -Qlq sepquote)
	holds "$name" "$(sed -n 's|^'"$root"'/||; /[^/]$/p' <<<"$said")" exe=usr/bin/sepquote \
		manual=usr/share/man/man1/sepquote.1.gz readme=usr/share/doc/sepquote/README.md \
		licence=$doc/LICENSE notice=$doc/LICENSE.musl
	check_elf "$name" "$root/usr/bin/sepquote" "$4" static
	tested "$name" "$root/usr/bin/sepquote" "$3"
	said=$("${p[@]}" -R sepquote 2>&1) || fail "pacman cannot remove $name:" "$said"
	said=$(find "$root" -mindepth 1 ! -path "$root/var" ! -path "$root/var/lib" ! -path "$root/var/lib/pacman*")
	[ -z "$said" ] || fail "$name leaves this behind when pacman removes it:" "$said"
}

kind "$@"
