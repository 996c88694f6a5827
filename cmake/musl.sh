#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# musl.sh TRIPLET ROOT: musl for an architecture whose musl Debian 12 lacks,
# built with Debian's cross compiler for TRIPLET into ROOT: its headers, its
# static library, and musl-gcc.specs, which points the C compiler at them.
# The source, Debian 12's unpatched 1.2.3 as in every other static executable,
# comes from the archive apt uses, its hash checked before it is unpacked.
set -euo pipefail
export LC_ALL=C
triplet=${1:?usage: musl.sh TRIPLET ROOT} root=${2:?usage: musl.sh TRIPLET ROOT}
orig=musl_1.2.3.orig.tar.gz
sha256=7d5b0b6062521e4627e099e4c9dc8248d32a30285e959b7eecaa780cf8cfd4a4
codename=$(sed -n 's/^VERSION_CODENAME=//p' /etc/os-release)
# shellcheck disable=SC2016 # apt's fields, not the shell's
uri=$(apt-get indextargets --no-release-info --format '$(REPO_URI)' "Release: $codename" 'Target-Of: deb' |
	head -n 1)
rm -rf "$root"
mkdir -p "$root/source"
/usr/lib/apt/apt-helper -o APT::Sandbox::User=root download-file \
	"${uri:?apt names no archive for $codename}pool/main/m/musl/$orig" "$root/$orig" "SHA256:$sha256"
tar -C "$root/source" --strip-components=1 -xzf "$root/$orig"
cd "$root/source"
./configure --host="$triplet" CC="$triplet-gcc" CROSS_COMPILE="$triplet-" --prefix="$root" \
	--disable-shared --enable-wrapper=gcc >configure.log
make -j"$(nproc)" >make.log
make install >>make.log
