#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# The Debian package of a build against glibc, for the Debian architecture
# ARCH: sepquote_VERSION_ARCH.deb.  pkg/lib.sh says how a kind's file is used.
# shellcheck source=pkg/lib.sh
. "$(dirname "${BASH_SOURCE[0]}")/lib.sh"

deb_files() { echo "sepquote_$1_$2.deb"; }

deb_needs() {
	need_cross "$1"
	need "libc6:$1" # dpkg-shlibdeps reads its symbols
}

deb_make() {
	local version=$2 arch=$3 root=$stage/root size depends file
	install_components "$root" /usr bin/sepquote tool debian
	# Debian keeps documents of over 4 KiB compressed; the copyright file
	# always stays as it is.
	find "$root/usr/share/doc" -type f -size +4k ! -name copyright ! -name '*.gz' -exec gzip -9n -- {} +
	mkdir "$root/DEBIAN"
	# Installed-Size counts each file's size in KiB, rounded up, and 1 for
	# anything else: what the files hold, not what the file system gives.
	size=$(find "$root/usr" -printf '%y %s\n' |
		awk '{ n += $1 == "f" ? int(($2 + 1023) / 1024) : 1 } END { print n }')
	# dpkg-shlibdeps knows the staged package by its DEBIAN folder, and
	# asks for a debian/control that names the package.
	mkdir "$stage/debian"
	printf 'Source: sepquote\n\nPackage: sepquote\nArchitecture: any\n' >"$stage/debian/control"
	depends=$(cd "$stage" && DEB_HOST_ARCH=$arch dpkg-shlibdeps -O root/usr/bin/sepquote)
	{
		cat "$build/control"
		printf 'Architecture: %s\nInstalled-Size: %s\nDepends: %s\n' "$arch" "$size" "${depends#shlibs:Depends=}"
	} >"$root/DEBIAN/control"
	(cd "$root" && find usr -type f -print0 | sort -z | xargs -0 md5sum) >"$root/DEBIAN/md5sums"
	settle "$root"
	file=$build/$(deb_files "$version" "$arch")
	dpkg-deb --root-owner-group -Zxz --build "$root" "$file" >/dev/null
	made deb "$arch" "$file"
}

# deb_check DEB ARCH DIR: the package holds what every package does, where
# Debian wants it, and depends on the C library alone; lintian, with no
# configuration or profile of this machine's that could silence a check,
# has nothing to say of it; and its executable passes the tests.
deb_check() {
	local name=${1##*/} doc=usr/share/doc/sepquote said gz=
	dpkg-deb -x "$1" "$3"
	# Documents of over 4 KiB come compressed, as above.
	[ "$(wc -c <README.md)" -le 4096 ] || gz=.gz
	holds "$name" "$(files_in "$3")" exe=usr/bin/sepquote manual=usr/share/man/man1/sepquote.1.gz \
		readme=$doc/README.md$gz licence=$doc/copyright notice= changelog=$doc/changelog.gz
	ask said dpkg-deb -f "$1" Depends
	[[ $said =~ ^libc6\ \(\>=\ [^\)]+\)$ ]] || fail "$name depends on $said, not on libc6 alone"
	said=$(lintian --no-user-dirs --no-cfg --ignore-lintian-env --profile debian -I -E --pedantic "$1" 2>&1) ||
		fail "lintian failed:" "$said"
	# Run by root, lintian says so, which tells nothing of the package.
	said=$(grep -vxF 'running with root privileges is not recommended!' <<<"$said" || true)
	[ -z "$said" ] || fail "lintian has this to say of $name:" "$said"
	tested "$name" "$3/usr/bin/sepquote"
}

[ "${BASH_SOURCE[0]}" != "$0" ] || dist deb "$@"
