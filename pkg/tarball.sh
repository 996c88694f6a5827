#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# The tarball of a static build against musl for ARCH, named for the
# machine as pkg/linux.machines gives it, sepquote-VERSION-MACHINE.tar.gz:
# one folder of what the build installs.  pkg/lib.sh says how a kind is run.
# shellcheck source=pkg/lib.sh
. "$(dirname "${BASH_SOURCE[0]}")/lib.sh"

names() { named tarball "$2" "sepquote-$1-%s.tar.gz"; }

# musl for ARCH, or where Debian has none, the notice of the musl that
# cmake/musl.sh builds here from Debian's source.
needs() {
	local musl
	need_cross "$1"
	musl=$(machine musl arch "$1")
	case $musl in source) echo musl-dev ;; *) echo "musl-dev:$1" ;; esac
}

pack() {
	local stage=$1 build=$2 file
	file=$(names "$3" "$4")
	install_components "$build" "$stage" "/${file%.tar.gz}" bin/sepquote tool licence
	tar_gz "$stage/${file%.tar.gz}" "$build/dist/$file"
}

# check TARBALL DIR BUILD ARCH: its one folder holds what every package
# does, and a static executable for ARCH, as check_exe says.
check() {
	local name=${1##*/} folder doc=share/doc/sepquote
	tar -C "$2" -xzf "$1"
	folder=$(one_folder "$2" "$name")
	holds "$name" "$(files_in "$folder")" exe=bin/sepquote manual=share/man/man1/sepquote.1.gz \
		readme=$doc/README.md licence=$doc/LICENSE notice=$doc/LICENSE.musl
	check_exe "$name" "$folder/bin/sepquote" "$3" "$4" static
}

kind "$@"
