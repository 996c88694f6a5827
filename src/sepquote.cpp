// SPDX-License-Identifier: MIT
// sepquote: write the one operand to standard output with a backslash in
// front of every full stop, solidus and colon.  Every other byte passes
// through unchanged and no line end is added.  There are no options and no
// messages: the exit status alone tells a wrong call or a failed write.

#include <cstdio>

int
main(int argc, char *argv[])
{
	if (argc != 2)
		return 1;

	// A buffer of our own spares stdio the allocation of one, and the
	// question of what kind of file standard output is.  Nothing is
	// written before the final flush unless the buffer fills.
	static char buf[BUFSIZ];
	std::FILE *out = stdout;
	std::setvbuf(out, buf, _IOFBF, sizeof buf);

	// The operand is read in place, a byte at a time.  Taking each byte as
	// unsigned char keeps 0x80 to 0xFF whole whatever the signedness of char.
	for (const char *p = argv[1]; *p != '\0'; ++p) {
		const unsigned char c = static_cast<unsigned char>(*p);
		if (c == '.' || c == '/' || c == ':')
			putc_unlocked('\\', out);
		putc_unlocked(c, out);
	}

	// Flush here, not at exit, so that a full disk or a closed pipe is
	// seen and reported as a failure rather than lost.
	if (std::fflush(out) != 0 || std::ferror(out))
		return 1;
	return 0;
}
