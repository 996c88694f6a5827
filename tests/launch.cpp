// SPDX-License-Identifier: MIT
// launch PROGRAM TAIL: start the Windows program PROGRAM with the command
// line "PROGRAM" TAIL, exactly as written, and exit with its status.  In
// TAIL, \uXXXX stands for the UTF-16 unit of that hexadecimal value, so
// that a test can give a command line no other program would write, an
// unpaired surrogate among them.  Status 125 tells that PROGRAM could not
// be started.
#define WIN32_LEAN_AND_MEAN
#include <windows.h>
#include <wchar.h>

static wchar_t line[32768];

int
wmain(int argc, wchar_t *argv[])
{
	if (argc != 3 || wcslen(argv[1]) + wcslen(argv[2]) + 4 > 32767)
		return 125;
	size_t n = 0;
	line[n++] = L'"';
	for (const wchar_t *p = argv[1]; *p != L'\0'; ++p)
		line[n++] = *p;
	line[n++] = L'"';
	line[n++] = L' ';
	for (const wchar_t *p = argv[2]; *p != L'\0'; ++p) {
		if (p[0] == L'\\' && p[1] == L'u') {
			// At most four units, and fewer where the tail ends first.
			wchar_t hex[5] = {};
			wchar_t *end = nullptr;
			wcsncpy(hex, p + 2, 4);
			unsigned long unit = wcstoul(hex, &end, 16);
			if (end == hex + 4) {
				line[n++] = static_cast<wchar_t>(unit);
				p += 5;
				continue;
			}
		}
		line[n++] = *p;
	}

	STARTUPINFOW start = {};
	start.cb = sizeof start;
	PROCESS_INFORMATION child;
	if (!CreateProcessW(argv[1], line, nullptr, nullptr, TRUE, 0, nullptr, nullptr,
		    &start, &child))
		return 125;
	DWORD status = 125;
	WaitForSingleObject(child.hProcess, INFINITE);
	GetExitCodeProcess(child.hProcess, &status);
	return static_cast<int>(status);
}
