#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# The tarball of a static build against musl for ARCH, named for TARGET,
# sepquote-VERSION-TARGET.tar.gz, whose one folder holds what the build
# installs under a prefix.  pkg/lib.sh says how a kind's file is used.
# shellcheck source=pkg/lib.sh
. "$(dirname "${BASH_SOURCE[0]}")/lib.sh"

tarball_files() { echo "sepquote-$1-${3:?name the target: cmake -DSEPQUOTE_TARGET=...}.tar.gz"; }

tarball_needs() {
	need_cross "$1"
	need_musl "$@"
}

tarball_make() {
	local file top
	file=$build/$(tarball_files "${@:2}")
	top=${file##*/} top=${top%.tar.gz}
	install_components "$stage" "/$top" bin/sepquote tool licence
	tarball "$stage/$top" "$file"
	made tarball "$3" "$file"
}

# tarball_check TARBALL ARCH DIR: its one folder holds what every package
# does, and a static executable for ARCH that passes the tests.
tarball_check() {
	local name=${1##*/} folder doc=share/doc/sepquote
	tar -C "$3" -xzf "$1"
	folder=$(one_folder "$3" "$name") || exit 1
	holds "$name" "$(files_in "$folder")" exe=bin/sepquote manual=share/man/man1/sepquote.1.gz \
		readme=$doc/README.md licence=$doc/LICENSE notice=$doc/LICENSE.musl
	check_elf "$name" "$folder/bin/sepquote" "$2"
	tested "$name" "$folder/bin/sepquote"
}

[ "${BASH_SOURCE[0]}" != "$0" ] || dist tarball "$@"
