// SPDX-License-Identifier: MIT
// sepquote: write the one operand to standard output with a backslash in
// front of every full stop, solidus and colon.  Every other byte passes
// through unchanged and no line end is added.  There are no options and no
// messages: the exit status alone tells a wrong call or a failed write.

// putc_unlocked is POSIX, not C.  The C header rather than <cstdio>: the
// tool needs nothing of the C++ library, and so it builds against any C
// library, musl included, whose headers the C++ library was not made for.
#define _POSIX_C_SOURCE 200809L
#include <stdio.h>

int
main(int argc, char *argv[])
{
	if (argc != 2)
		return 1;
	// An empty operand gives empty output: with nothing to write, nothing
	// can be lost, whatever standard output is, so there is nothing to check.
	if (argv[1][0] == '\0')
		return 0;

	// A buffer of our own, of 8 KiB whatever the C library's BUFSIZ (8 KiB
	// in glibc, 1 KiB in musl), so that a long output takes as few writes
	// on either.  Given a buffer, glibc and musl alike no longer ask what
	// kind of file standard output is, and glibc allocates none of its
	// own.  Nothing is written before the end unless the buffer fills.
	static char buf[8192];
	FILE *out = stdout;
	setvbuf(out, buf, _IOFBF, sizeof buf);

	// The operand is read in place, a byte at a time.  Taking each byte as
	// unsigned char keeps 0x80 to 0xFF whole whatever the signedness of char.
	for (const char *p = argv[1]; *p != '\0'; ++p) {
		const unsigned char c = static_cast<unsigned char>(*p);
		if (c == '.' || c == '/' || c == ':')
			putc_unlocked('\\', out);
		putc_unlocked(c, out);
	}

	// Check and close here, not at exit, so that a full disk, a closed pipe
	// or an error that the file system reports only at close is seen and
	// reported as a failure rather than lost.  ferror tells of a write that
	// failed when the buffer filled; fclose flushes the rest and fails if
	// that write or the close does.
	int failed = ferror(out) != 0;
	failed |= fclose(out) != 0;
	return failed;
}
