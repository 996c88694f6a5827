#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# The packages' maintainer, as cmake/maintainer.cmake checks it before a
# build: what lintian takes for one person passes, and what dpkg or lintian
# would refuse (a comma, no name, root, a local host) is refused.  The
# argument is the cmake to run.

set -u
if [ $# -ne 1 ]; then
	echo "usage: $0 cmake" >&2
	exit 2
fi
check=$(cd "$(dirname "$0")/.." && pwd)/cmake/maintainer.cmake || exit 2
passed=0 failed=0

# Each line is the verdict wanted, ok or refused, and the maintainer.
while IFS='|' read -r want maintainer; do
	got=ok
	"$1" -D MAINTAINER="$maintainer" -P "$check" >/dev/null 2>&1 || got=refused
	if [ "$got" = "$want" ]; then
		passed=$((passed + 1))
	else
		printf "FAIL '%s': %s, want %s\n" "$maintainer" "$got" "$want"
		failed=$((failed + 1))
	fi
done <<'EOF_CASES'
ok|sepquote maintainers <maintainers@sepquote.example.org>
ok|J. Doe <j.doe@example.org>
ok|Zoë Ünal <zoe@example.org>
ok|Seán O'Brien <sean+deb@mail.example-one.org>
ok|Jane <j@localhost.org>
refused|zoe@example.org
refused|<zoe@example.org>
refused|Doe, Jane <j@example.org>
refused|Jane "JD" Doe <j@example.org>
refused|Jane Doe <j@example.org>, Ann <a@example.org>
refused|Jane Doe <j@example>
refused|Jane Doe <j@localhost.localdomain>
refused|Jane Doe <root@example.org>
refused|root <j@example.org>
refused|Jane Doe <j@exa_mple.org>
refused|Jane Doe <j @example.org>
refused|
EOF_CASES

printf '%d passed, %d failed, %d skipped\n' "$passed" "$failed" 0
[ "$failed" -eq 0 ]
