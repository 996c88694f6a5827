#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Make one of the release's files in the build folder BUILD:
#
#   dist.sh BUILD VERSION deb [ARCH]       sepquote_VERSION_ARCH.deb
#   dist.sh BUILD VERSION tarball TARGET   sepquote-VERSION-TARGET.tar.gz
#   dist.sh BUILD VERSION zip TARGET       sepquote-VERSION-TARGET.zip
#   dist.sh BUILD VERSION msi TARGET       sepquote-VERSION-TARGET.msi
#   dist.sh BUILD VERSION rpm ARCH         sepquote-VERSION-1.ARCH.rpm
#   dist.sh BUILD VERSION source TREE      sepquote-VERSION.tar.gz
#
# The binary packages hold what `cmake --install` puts in place, with the
# executable stripped by STRIP; the source tarball holds TREE.  Each file
# depends on what it holds alone: every entry is owned by root, has the
# usual modes, is dated SOURCE_DATE_EPOCH and comes in the order of its
# name; gzip writes no name or time, and zip no owner, no extra times and,
# in UTC, the same date; an installer is written at that date, with codes
# that follow from the version and CPU.  The file's kind and path, as
# "KIND FILE", are added to BUILD/dist-made: this script alone names the
# release's files.

set -euo pipefail
export LC_ALL=C
build=$1 version=$2 kind=$3
: "${SOURCE_DATE_EPOCH:?must be set}"
stage=$(mktemp -d "$build/dist.XXXXXX")
trap 'rm -rf "$stage"' EXIT

# install_components DESTDIR PREFIX EXE COMPONENT...: stage the
# components; EXE is the executable's path under PREFIX.  The executable
# loses its symbols and the compilers' notes of their versions, which it
# does not need to run.  strip dates a Windows executable's header by
# SOURCE_DATE_EPOCH; it is to carry no date at all.
install_components() {
	local destdir=$1 prefix=$2 exe=$3 component
	shift 3
	for component; do
		DESTDIR=$destdir cmake --install "$build" --prefix "$prefix" \
			--component "$component" >/dev/null
	done
	SOURCE_DATE_EPOCH=0 "${STRIP:?must name the strip for the executable}" \
		--remove-section=.comment "$destdir$prefix/$exe"
}

# settle FOLDER: the usual modes, whatever the umask, and one date.
settle() {
	chmod -R u=rwX,go=rX "$1"
	find "$1" -exec touch -h -d "@$SOURCE_DATE_EPOCH" {} +
}

# pack TOP: the tarball TOP.tar.gz in the build folder, of the staged
# folder TOP.
pack() {
	settle "$stage/$1"
	tar --create --format=gnu --sort=name --owner=root:0 --group=root:0 \
		--mtime="@$SOURCE_DATE_EPOCH" --directory "$stage" -- "$1" |
		gzip -9n >"$build/$1.tar.gz"
}

case $kind in
deb)
	arch=${4:-$(dpkg --print-architecture)}
	root=$stage/root
	install_components "$root" /usr bin/sepquote tool debian
	# Debian keeps documents of over 4 KiB compressed; the copyright file
	# always stays as it is.
	find "$root/usr/share/doc" -type f -size +4k ! -name copyright ! -name '*.gz' \
		-exec gzip -9n -- {} +
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
		printf 'Architecture: %s\nInstalled-Size: %s\nDepends: %s\n' \
			"$arch" "$size" "${depends#shlibs:Depends=}"
	} >"$root/DEBIAN/control"
	(cd "$root" && find usr -type f -print0 | sort -z | xargs -0 md5sum) >"$root/DEBIAN/md5sums"
	settle "$root"
	made=$build/sepquote_${version}_$arch.deb
	dpkg-deb --root-owner-group -Zxz --build "$root" "$made" >/dev/null
	;;
tarball)
	top=sepquote-$version-${4:?name the target: cmake -DSEPQUOTE_TARGET=...}
	install_components "$stage" "/$top" bin/sepquote tool licence
	pack "$top"
	made=$build/$top.tar.gz
	;;
rpm)
	arch=${4:?name the architecture: cmake -DSEPQUOTE_TARGET=...}
	root=$stage/root pkg=$(dirname "$0")
	install_components "$root" /usr bin/sepquote tool licence
	settle "$root"
	# The Debian package's words and changelog; the summary with a capital.
	sed -n 's/^ \.$//p; s/^ \(.\)/\1/p' "$build/control" >"$root/description"
	summary=$(sed -n 's/^Description: //p' "$build/control")
	{
		cat "$pkg/sepquote.spec"
		printf '\n%%changelog\n'
		awk '/^[^ ]/ { sub(/^[^(]*\(/, ""); sub(/\).*/, ""); version = $0; body = ""; next }
			/^  \* / { body = body "- " substr($0, 5) "\n"; next }
			/^    / { body = body "  " substr($0, 5) "\n"; next }
			/^ -- / { split($0, part, "  "); split(part[2], date, "[ ,]+")
				printf "* %s %s %s %s %s - %s-1\n%s\n", date[1], date[3], date[2], date[4],
					substr(part[1], 5), version, body }' "$pkg/changelog"
	} >"$stage/sepquote.spec"
	# Dated SOURCE_DATE_EPOCH, with no build host; rpm neither strips nor
	# compresses what the build installed, nor adds debugging files.
	rpmbuild -bb --quiet --target "$arch" --define "_topdir $stage/rpm" \
		--define "_builddir $root/usr/share/doc/sepquote" --define "_rpmdir $build" \
		--define "_build_name_fmt %%{NAME}-%%{VERSION}-%%{RELEASE}.%%{ARCH}.rpm" --define "_docdir_fmt %%{NAME}" \
		--define "dist_stage $root" --define "dist_version $version" --define "dist_summary ${summary^}" \
		--define "dist_packager $(sed -n 's/^Maintainer: //p' "$build/control")" \
		--define "use_source_date_epoch_as_buildtime 1" --define "clamp_mtime_to_source_date_epoch 1" \
		--define "_buildhost reproducible" --define "debug_package %{nil}" \
		--define "__os_install_post %{nil}" --define "_build_id_links none" \
		"$stage/sepquote.spec" >/dev/null
	made=$build/sepquote-$version-1.$arch.rpm
	;;
zip)
	top=sepquote-$version-${4:?name the target: cmake -DSEPQUOTE_TARGET=...}
	install_components "$stage" "/$top" sepquote.exe tool licence
	settle "$stage/$top"
	made=$build/$top.zip
	rm -f "$made"
	(cd "$stage" && find "$top" | sort | TZ=UTC0 zip -X -9 -q -@ "$made")
	;;
msi)
	cpu=${4%-windows} pkg=$(dirname "$0") win64=no platform=Intel arch=x86
	[ "$cpu" != x86_64 ] || win64=yes platform=x64 arch=x64
	install_components "$stage" /files sepquote.exe tool licence
	settle "$stage/files"
	made=$build/sepquote-$version-$4.msi
	# The codes are version 5 UUIDs in the namespace of the UpgradeCode,
	# which stays the same from one version to the next.
	ns=$(sed -n 's/.*UpgradeCode="{\([^}]*\)}".*/\1/p' "$pkg/sepquote.wxs")
	uuid() { uuidgen --sha1 --namespace "$ns" --name "$1" | sed 's/.*/{\U&}/'; }
	# wixl and msibuild write the time they run, as local time; msibuild
	# adds the PATH entry, which wixl cannot write.
	at=(env TZ=UTC0 faketime -f "$(date -u -d "@$SOURCE_DATE_EPOCH" '+%Y-%m-%d %H:%M:%S')")
	(cd "$stage/files" && "${at[@]}" wixl -a $arch -o "$made" -D Version="$version" \
		-D Description="$(sed -n 's/^Description: //p' "$build/control")" -D Win64=$win64 \
		-D ProductCode="$(uuid "product $version $cpu")" -D ComponentCode="$(uuid "component $cpu")" \
		"$pkg/sepquote.wxs")
	"${at[@]}" msibuild "$made" -q 'CREATE TABLE Environment (Environment CHAR(72) NOT NULL,
		Name CHAR(255) NOT NULL LOCALIZABLE, Value CHAR(255) LOCALIZABLE, Component_ CHAR(72) NOT NULL
		PRIMARY KEY Environment)' -q "INSERT INTO Environment (Environment, Name, Value, Component_)
		VALUES ('PATH', '=-PATH', '[~];[INSTALLDIR]', 'sepquote')" \
		-q "INSERT INTO InstallExecuteSequence (Action, Sequence) VALUES ('RemoveEnvironmentStrings', 3300)" \
		-q "INSERT INTO InstallExecuteSequence (Action, Sequence) VALUES ('WriteEnvironmentStrings', 5200)"
	"${at[@]}" msibuild "$made" -s sepquote "sepquote maintainers" "$platform;1033" "$(uuid "package $version $cpu")"
	;;
source)
	top=sepquote-$version
	cp -R -- "${4:?name the tree}" "$stage/$top"
	pack "$top"
	made=$build/$top.tar.gz
	;;
*)
	echo "usage: $0 BUILD VERSION deb [ARCH] | tarball TARGET | zip TARGET | source TREE" >&2
	exit 2
	;;
esac
printf '%s %s\n' "$kind" "$made" >>"$build/dist-made"
