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

	// The operand is read in place.  Going through unsigned char keeps
	// bytes 0x80 to 0xFF whole whatever the signedness of char.
	std::FILE *out = stdout;
	for (auto *p = reinterpret_cast<const unsigned char *>(argv[1]); *p != '\0'; ++p) {
		if (*p == '.' || *p == '/' || *p == ':')
			putc_unlocked('\\', out);
		putc_unlocked(*p, out);
	}

	// Flush here, not at exit, so that a full disk or a closed pipe is
	// seen and reported as a failure rather than lost.
	if (std::fflush(out) != 0 || std::ferror(out))
		return 1;
	return 0;
}
