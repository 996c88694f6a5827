#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# The Arch Linux package of a static build against musl for ARCH, which
# pacman calls TARGET, sepquote-VERSION-1-TARGET.pkg.tar.zst, made by
# makepkg from pkg/PKGBUILD.  pkg/lib.sh says how a kind's file is used.
# shellcheck source=pkg/lib.sh
. "$(dirname "${BASH_SOURCE[0]}")/lib.sh"

pacman_files() { echo "sepquote-$1-1-${3:?name the architecture as pacman does: cmake -DSEPQUOTE_TARGET=...}.pkg.tar.zst"; }

pacman_needs() {
	tarball_needs "$@"
	need makepkg pacman-package-manager libarchive-tools fakeroot zstd
}

# makepkg runs with settings of its own alone, in a folder it sees as /mnt
# whatever the build's, which .BUILDINFO names, and as another user than
# root, as it must: in user namespaces, whoever runs the packing.
pacman_make() {
	local dir=$stage/makepkg file
	mkdir "$dir"
	install_components "$dir/root" /usr bin/sepquote tool licence
	settle "$dir/root"
	cp "$pkg/PKGBUILD" "$dir/"
	printf '%s\n' "CARCH=$4" "BUILDENV=(!distcc !color !ccache !check !sign)" \
		"OPTIONS=(!strip docs !libtool !staticlibs !emptydirs !zipman !purge !debug !lto)" \
		"PKGEXT=.pkg.tar.zst" "SRCEXT=.src.tar.gz" "COMPRESSZST=(zstd -c -T1 -19 -q -)" >"$dir/makepkg.conf"
	# shellcheck disable=SC2016 # the words of the shell that mounts
	unshare --user --map-root-user --mount sh -c 'mount --bind "$1" /mnt && cd /mnt && shift && exec "$@"' - "$dir" \
		unshare --user --map-user=1000 --map-group=1000 env -i PATH="$PATH" HOME=/nonexistent \
		SOURCE_DATE_EPOCH="$SOURCE_DATE_EPOCH" dist_version="$2" dist_stage=/mnt/root \
		dist_summary="$(sed -n 's/^Description: //p' "$build/control")" \
		PACKAGER="$(sed -n 's/^Maintainer: //p' "$build/control")" BUILDDIR=/mnt/build PKGDEST=/mnt \
		makepkg --config /mnt/makepkg.conf --nodeps
	file=$build/$(pacman_files "${@:2}")
	mv "$dir/${file##*/}" "$file"
	made pacman "$3" "$file"
}

# pacman_check PACKAGE ARCH DIR: pacman, set for the machine of the
# package's name, installs it into DIR as sepquote of its name's version
# under MIT; it holds what every package does, a static executable for ARCH
# that passes the tests; and pacman -R removes it, leaving nothing behind.
pacman_check() {
	local name=${1##*/} said doc=usr/share/licenses/sepquote root=$3/root stem machine
	local p=(pacman --root "$root" --dbpath "$root/var/lib/pacman" --config "$3/pacman.conf"
		--logfile /dev/null --noconfirm)
	stem=${name%.pkg.tar.zst} machine=${stem##*-}
	mkdir -p "$root/var/lib/pacman"
	printf '%s\n' '[options]' "Architecture = $machine" 'LocalFileSigLevel = Never' >"$3/pacman.conf"
	said=$("${p[@]}" -U "$1" 2>&1) || fail "pacman cannot install $name:" "$said"
	ask said "${p[@]}" -Qi sepquote
	[ "$(grep -E '^(Name|Version|Architecture|Licenses) ' <<<"$said" | tr -s ' ')" = "$(printf '%s\n' \
		'Name : sepquote' "Version : ${stem:9:-${#machine}-1}" "Architecture : $machine" 'Licenses : MIT')" ] ||
		fail "pacman says that $name is another package:" "$said"
	ask said "${p[@]}" -Qlq sepquote
	holds "$name" "$(sed -n 's|^'"$root"'/||; /[^/]$/p' <<<"$said")" exe=usr/bin/sepquote \
		manual=usr/share/man/man1/sepquote.1.gz readme=usr/share/doc/sepquote/README.md \
		licence=$doc/LICENSE notice=$doc/LICENSE.musl
	check_elf "$name" "$root/usr/bin/sepquote" "$2"
	tested "$name" "$root/usr/bin/sepquote"
	said=$("${p[@]}" -R sepquote 2>&1) || fail "pacman cannot remove $name:" "$said"
	said=$(find "$root" -mindepth 1 ! -path "$root/var" ! -path "$root/var/lib" ! -path "$root/var/lib/pacman*")
	[ -z "$said" ] || fail "$name leaves this behind when pacman removes it:" "$said"
}

# shellcheck source=pkg/tarball.sh
. "$pkg/tarball.sh" # what a static build needs
[ "${BASH_SOURCE[0]}" != "$0" ] || dist pacman "$@"
