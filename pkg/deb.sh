#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# The Debian package of a build against glibc, for the Debian architecture
# ARCH: sepquote_VERSION_ARCH.deb.  pkg/lib.sh says how a kind is run.
# shellcheck source=pkg/lib.sh
. "$(dirname "${BASH_SOURCE[0]}")/lib.sh"

names() { named arch "$2" "sepquote_$1_%s.deb"; }

needs() {
	need_cross "$1"
	echo lintian "libc6:$1" # dpkg-shlibdeps reads its symbols
}

# large: whether Debian keeps the document on standard input compressed.
large() { [ "$(wc -c)" -gt 4096 ]; }

pack() {
	local stage=$1 build=$2 version=$3 arch=$4 root=$1/root size depends doc
	install_components "$build" "$root" /usr bin/sepquote tool debian
	# Over 4 KiB, but the copyright file, which always stays as it is.
	while read -r doc; do
		! large <"$doc" || gzip -9n -- "$doc"
	done < <(find "$root/usr/share/doc" -type f ! -name copyright ! -name '*.gz')
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
	dpkg-deb --root-owner-group -Zxz --build "$root" "$build/dist/$(names "$version" "$arch")" >/dev/null
}

# check DEB DIR BUILD ARCH: the package depends on the C library alone;
# lintian, with no configuration or profile of this machine's that could
# silence a check, has nothing to say of it; and installs runs it.
check() {
	local said
	said=$(ask dpkg-deb -f "$1" Depends)
	[[ $said =~ ^libc6\ \(\>=\ [^\)]+\)$ ]] || fail "${1##*/} depends on $said, not on libc6 alone"
	said=$(lintian --no-user-dirs --no-cfg --ignore-lintian-env --profile debian -I -E --pedantic "$1" 2>&1) ||
		fail "lintian failed:" "$said"
	# Run by root, lintian says so, which tells nothing of the package.
	said=$(grep -vxF 'running with root privileges is not recommended!' <<<"$said" || true)
	[ -z "$said" ] || fail "lintian has this to say of ${1##*/}:" "$said"
	installs "$@" "dpkg -i ./${1##*/}" "dpkg -r sepquote"
}

# rooted ROOT ARCH COMMAND...: dpkg into ROOT, whose database holds the C
# library for ARCH, with none of this machine's settings or log; apt, which
# needs a whole system, as dpkg's install and remove.
rooted() {
	local db=$1/var/lib/dpkg words=("${@:4}")
	case "$3 $4" in 'apt install') words=(-i "${@:5}") ;; 'apt remove') words=(-r "${@:5}") ;; dpkg\ *) ;;
	*) fail "deb.sh runs dpkg, and apt's install and remove, alone, not $3 $4" ;; esac
	[ -d "$db" ] || { mkdir -p "$db/info" "$db/updates" && dpkg-query -s "libc6:$2" >"$db/status" &&
		dpkg --root "$1" --add-architecture "$2"; }
	dpkg --root "$1" --log=/dev/null --path-include='*' "${words[@]}"
}

# installed DEB ROOT BUILD ARCH: it holds what every package does, where
# Debian wants it, and an executable for ARCH, as check_exe says.
installed() {
	local doc=usr/share/doc/sepquote gz=''
	! zcat -f -- "$2/$doc"/README.md* | large || gz=.gz
	holds "${1##*/}" "$(files_in "$2" | grep -v '^var/lib/dpkg/')" exe=usr/bin/sepquote \
		manual=usr/share/man/man1/sepquote.1.gz readme=$doc/README.md$gz licence=$doc/copyright notice= \
		changelog=$doc/changelog.gz
	check_exe "${1##*/}" "$2/usr/bin/sepquote" "$3" "$4"
}

kind "$@"
