// SPDX-License-Identifier: MIT
// sepquote: write the one operand to standard output, every byte as it is
// but with a backslash before each full stop, solidus and colon, and no line
// end added.  No options, no messages: the exit status alone tells a wrong
// call or a failed write.

#ifndef _WIN32

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
	// With nothing to write, nothing can fail, whatever standard output is.
	if (argv[1][0] == '\0')
		return 0;

	// A buffer of our own, of 8 KiB whatever the C library's BUFSIZ (8 KiB in
	// glibc, 1 KiB in musl), so a long output takes as few writes on either;
	// given one, neither asks what kind of file standard output is, and glibc
	// allocates none.  It is written only when full, and at the end.
	static char buf[8192];
	FILE *out = stdout;
	setvbuf(out, buf, _IOFBF, sizeof buf);

	// As unsigned char, 0x80 to 0xFF stay whole whatever char's signedness.
	for (const char *p = argv[1]; *p != '\0'; ++p) {
		const unsigned char c = static_cast<unsigned char>(*p);
		if (c == '.' || c == '/' || c == ':')
			putc_unlocked('\\', out);
		putc_unlocked(c, out);
	}

	// Check and close here, not at exit, where a failure would be lost: a
	// full disk, a closed pipe, or an error the file system reports only at
	// close.  ferror tells of a write that failed when the buffer filled;
	// fclose flushes the rest and fails if that write or the close does.
	int failed = ferror(out) != 0;
	failed |= fclose(out) != 0;
	return failed;
}

#else

// On Windows the command line is UTF-16 text.  A console holds UTF-16 too,
// and is written so, whatever its code page; anything else (a file, a pipe)
// is written UTF-8.  The C runtime's stream would turn each LF into CR LF,
// and its fclose has been seen to report success after a failed write, so the
// output goes to the handle through a buffer of our own, every write checked.
#define WIN32_LEAN_AND_MEAN
#include <windows.h>

// The C runtime expands no wildcard in the command line: `*.txt` is data.
extern "C" {
int _dowildcard = 0;
}

static HANDLE out;
static bool console;
static bool failed;
// Bytes for a file, UTF-16 units for a console.  A character of the operand,
// with its escape, goes in whole, so no write ends inside one: a reader that
// decodes each write on its own, as a console does, never sees half of one.
static union {
	char bytes[8192];
	wchar_t units[4096];
} buf;
static DWORD used;

// A failed or short write fails the call, and nothing is written after it.
static void
flush()
{
	if (used != 0 && !failed) {
		DWORD written = 0;
		const BOOL ok = console ? WriteConsoleW(out, buf.units, used, &written, nullptr)
					: WriteFile(out, buf.bytes, used, &written, nullptr);
		failed = !ok || written != used;
	}
	used = 0;
}

// Make room for one character, which takes at most 4 bytes, or 2 units.
static void
room()
{
	if (used + 4 > (console ? sizeof buf.units / sizeof buf.units[0] : sizeof buf.bytes))
		flush();
}

static void
put(unsigned long byte)
{
	buf.bytes[used++] = static_cast<char>(byte);
}

// One character as UTF-8: a surrogate pair as the four bytes of its code
// point.  An unpaired surrogate has no UTF-8 form, and is written in the
// three bytes its value would take (as WTF-8 does), so nothing is lost.
static void
put_utf8(unsigned long c)
{
	if (c < 0x80) {
		if (c == '.' || c == '/' || c == ':')
			put('\\');
		put(c);
	} else if (c < 0x800) {
		put(0xC0 | c >> 6);
		put(0x80 | (c & 0x3F));
	} else if (c < 0x10000) {
		put(0xE0 | c >> 12);
		put(0x80 | (c >> 6 & 0x3F));
		put(0x80 | (c & 0x3F));
	} else {
		put(0xF0 | c >> 18);
		put(0x80 | (c >> 12 & 0x3F));
		put(0x80 | (c >> 6 & 0x3F));
		put(0x80 | (c & 0x3F));
	}
}

int
wmain(int argc, wchar_t *argv[])
{
	if (argc != 2)
		return 1;
	if (argv[1][0] == L'\0')
		return 0;
	out = GetStdHandle(STD_OUTPUT_HANDLE);
	DWORD mode;
	console = GetConsoleMode(out, &mode) != 0;

	for (const wchar_t *p = argv[1]; *p != L'\0'; ++p) {
		const bool pair = p[0] >= 0xD800 && p[0] <= 0xDBFF && p[1] >= 0xDC00 && p[1] <= 0xDFFF;
		room();
		if (console) {
			// The units as they came, an unpaired surrogate too.
			if (*p == L'.' || *p == L'/' || *p == L':')
				buf.units[used++] = L'\\';
			buf.units[used++] = *p;
			if (pair)
				buf.units[used++] = *++p;
		} else if (pair) {
			put_utf8(0x10000 + ((p[0] - 0xD800UL) << 10) + (p[1] - 0xDC00UL));
			++p;
		} else {
			put_utf8(*p);
		}
	}
	flush();
	return failed;
}

#endif
