#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# The RPM package of a static build against musl for ARCH, named for the
# machine as pkg/linux.machines gives it, sepquote-VERSION-RELEASE.MACHINE.rpm,
# made by rpmbuild from pkg/sepquote.spec.  pkg/lib.sh says how a kind is run.
# shellcheck source=pkg/lib.sh
. "$(dirname "${BASH_SOURCE[0]}")/lib.sh"

names() { named rpm "$2" "sepquote-$1-$package_release.%s.rpm"; }

needs() { bash "$pkg/tarball.sh" needs "$1" && echo rpm rpmlint dnf zypper; }

pack() {
	local stage=$1 build=$2 version=$3 root=$1/root target summary
	target=$(named rpm "$4" %s)
	install_components "$build" "$root" /usr bin/sepquote tool licence
	settle "$root"
	# The Debian package's words and changelog; the summary with a capital.
	sed -n 's/^ \.$//p; s/^ \(.\)/\1/p' "$build/control" >"$root/description"
	summary=$(field "$build" Description)
	{
		cat "$pkg/sepquote.spec"
		printf '\n%%changelog\n'
		awk -v release="$package_release" '/^[^ ]/ { sub(/^[^(]*\(/, ""); sub(/\).*/, ""); version = $0; body = ""; next }
			/^  \* / { body = body "- " substr($0, 5) "\n"; next }
			/^    / { body = body "  " substr($0, 5) "\n"; next }
			/^ -- / { split($0, part, "  "); split(part[2], date, "[ ,]+")
				printf "* %s %s %s %s %s - %s-%s\n%s\n", date[1], date[3], date[2], date[4],
					substr(part[1], 5), version, release, body }' "$pkg/changelog"
	} >"$stage/sepquote.spec"
	# Dated SOURCE_DATE_EPOCH, with no build host; rpm neither strips nor
	# compresses what the build installed, nor adds debugging files.
	rpmbuild -bb --quiet --target "$target" --define "_topdir $stage/rpm" \
		--define "_builddir $root/usr/share/doc/sepquote" --define "_rpmdir $build/dist" \
		--define "_build_name_fmt %%{NAME}-%%{VERSION}-%%{RELEASE}.%%{ARCH}.rpm" --define "_docdir_fmt %%{NAME}" \
		--define "dist_stage $root" --define "dist_version $version" --define "dist_release $package_release" \
		--define "dist_summary ${summary^}" --define "dist_packager $(field "$build" Maintainer)" \
		--define "use_source_date_epoch_as_buildtime 1" --define "clamp_mtime_to_source_date_epoch 1" \
		--define "_buildhost reproducible" --define "debug_package %{nil}" \
		--define "__os_install_post %{nil}" --define "_build_id_links none" \
		"$stage/sepquote.spec" >/dev/null
}

# check RPM DIR BUILD ARCH: the package holds what every package does, where
# RPM distributions want it, and requires nothing but rpm's own features;
# rpmlint has nothing to say of it; and installs runs it.
check() {
	local name=${1##*/} said doc=usr/share/licenses/sepquote
	said=$(ask rpm -qp --qf '[%{FILEMODES:perms} %{FILENAMES}\n]' "$1")
	holds "$name" "$(sed -n 's|^-[^ ]* /||p' <<<"$said")" exe=usr/bin/sepquote \
		manual=usr/share/man/man1/sepquote.1.gz readme=usr/share/doc/sepquote/README.md \
		licence=$doc/LICENSE notice=$doc/LICENSE.musl
	said=$(ask rpm -qp --requires "$1")
	! grep -v '^rpmlib(' <<<"$said" || fail "$name requires more than rpm's own features"
	if ! said=$(env XDG_CONFIG_HOME=/nonexistent XDG_CONFIG_DIRS=/nonexistent \
		rpmlint -c "$pkg/rpmlint.toml" "$1" 2>&1) || [[ $said != *' 0 errors, 0 warnings,'* ]]; then
		fail "rpmlint has this to say of $name:" "$said"
	fi
	installs "$@" "rpm --install --ignorearch ./$name" "rpm --erase sepquote"
}

# rooted ROOT ARCH COMMAND...: dnf, zypper or rpm into ROOT, with the RPM
# database where RPM distributions keep it, not in HOME as Debian's rpm does.
rooted() {
	local home=$1.home
	mkdir -p "$home" && echo '%_dbpath /var/lib/rpm' >"$home/.rpmmacros"
	case $3 in
	dnf) set -- dnf -y --installroot "$1" --setopt=reposdir=/nonexistent "${@:4}" ;;
	zypper) set -- zypper --root "$1" --non-interactive "${@:4}" ;;
	rpm) set -- rpm --root "$1" "${@:4}" ;;
	*) fail "rpm.sh runs dnf, zypper and rpm alone, not $3" ;;
	esac
	HOME=$home ZYPP_LOGFILE=/dev/null "$@"
}

# installed RPM ROOT BUILD ARCH: a static executable for ARCH, as check_exe says.
installed() { check_exe "${1##*/}" "$2/usr/bin/sepquote" "$3" "$4" static; }

kind "$@"
