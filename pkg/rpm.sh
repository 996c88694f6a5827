#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# The RPM package of a static build against musl for ARCH, which rpm calls
# TARGET, sepquote-VERSION-1.TARGET.rpm, made by rpmbuild from
# pkg/sepquote.spec.  pkg/lib.sh says how a kind's file is used.
# shellcheck source=pkg/lib.sh
. "$(dirname "${BASH_SOURCE[0]}")/lib.sh"

rpm_files() { echo "sepquote-$1-1.${3:?name the architecture as rpm does: cmake -DSEPQUOTE_TARGET=...}.rpm"; }

rpm_needs() {
	tarball_needs "$@"
	need rpm rpmlint
}

rpm_make() {
	local version=$2 target=$4 root=$stage/root summary
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
	rpmbuild -bb --quiet --target "$target" --define "_topdir $stage/rpm" \
		--define "_builddir $root/usr/share/doc/sepquote" --define "_rpmdir $build" \
		--define "_build_name_fmt %%{NAME}-%%{VERSION}-%%{RELEASE}.%%{ARCH}.rpm" --define "_docdir_fmt %%{NAME}" \
		--define "dist_stage $root" --define "dist_version $version" --define "dist_summary ${summary^}" \
		--define "dist_packager $(sed -n 's/^Maintainer: //p' "$build/control")" \
		--define "use_source_date_epoch_as_buildtime 1" --define "clamp_mtime_to_source_date_epoch 1" \
		--define "_buildhost reproducible" --define "debug_package %{nil}" \
		--define "__os_install_post %{nil}" --define "_build_id_links none" \
		"$stage/sepquote.spec" >/dev/null
	made rpm "$3" "$build/$(rpm_files "${@:2}")"
}

# rpm_check RPM ARCH DIR: the package holds what every package does, where
# RPM distributions want it, and requires nothing but rpm's own features;
# rpmlint has nothing to say of it; rpm installs it into DIR, and what it
# installed is a static executable for ARCH that passes the tests.
rpm_check() {
	local name=${1##*/} said doc=usr/share/licenses/sepquote
	ask said rpm -qp --qf '[%{FILEMODES:perms} %{FILENAMES}\n]' "$1"
	holds "$name" "$(sed -n 's|^-[^ ]* /||p' <<<"$said")" exe=usr/bin/sepquote \
		manual=usr/share/man/man1/sepquote.1.gz readme=usr/share/doc/sepquote/README.md \
		licence=$doc/LICENSE notice=$doc/LICENSE.musl
	ask said rpm -qp --requires "$1"
	! grep -v '^rpmlib(' <<<"$said" || fail "$name requires more than rpm's own features"
	if ! said=$(env XDG_CONFIG_HOME=/nonexistent XDG_CONFIG_DIRS=/nonexistent \
		rpmlint -c "$pkg/rpmlint.toml" "$1" 2>&1) || [[ $said != *' 0 errors, 0 warnings,'* ]]; then
		fail "rpmlint has this to say of $name:" "$said"
	fi
	said=$(rpm --root "$3" --initdb 2>&1 && rpm --root "$3" --install --ignorearch "$1" 2>&1) ||
		fail "rpm cannot install $name:" "$said"
	check_elf "$name" "$3/usr/bin/sepquote" "$2"
	tested "$name" "$3/usr/bin/sepquote"
}

# shellcheck source=pkg/tarball.sh
. "$pkg/tarball.sh" # what a static build needs
[ "${BASH_SOURCE[0]}" != "$0" ] || dist rpm "$@"
