// SPDX-License-Identifier: MIT
// launch [CODEPAGE] PROGRAM TAIL: start the Windows program PROGRAM with the
// command line "PROGRAM" TAIL, exactly as written, and exit with its status.
// In TAIL, \uXXXX is the UTF-16 unit of that hexadecimal value, for command
// lines no other program would write, as with an unpaired surrogate.
//
// With CODEPAGE, the program's standard output is a screen buffer of its own
// in a console whose output code page is CODEPAGE; once the program has
// ended, what the buffer holds up to its cursor goes to standard output in
// TAIL's notation: a unit below 0x80 as itself, any other as \uXXXX.
//
// Status 125: the program could not be started, no console could be made,
// or the program had not ended after a minute and was ended; standard error
// says why.  Run alone, launch exits 0.
#define WIN32_LEAN_AND_MEAN
#include <windows.h>
#include <stdio.h>
#include <stdlib.h>
#include <wchar.h>

static wchar_t line[32768];
// Wide enough for the longest command line's output, twice its length.
static const SHORT width = 256, height = 300;
static wchar_t cells[width * height];

static int
refuse(const char *what)
{
	fprintf(stderr, "launch: %s failed: error %lu\n", what, GetLastError());
	return 125;
}

// The command line "PROGRAM" TAIL, its \uXXXX read.
static bool
command_line(const wchar_t *program, const wchar_t *tail)
{
	if (wcslen(program) + wcslen(tail) + 4 > 32767)
		return false;
	size_t n = 0;
	line[n++] = L'"';
	for (const wchar_t *p = program; *p != L'\0'; ++p)
		line[n++] = *p;
	line[n++] = L'"';
	line[n++] = L' ';
	for (const wchar_t *p = tail; *p != L'\0'; ++p) {
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
	return true;
}

// Write what the console buffer SCREEN holds up to its cursor to OUT.
static int
show(HANDLE screen, HANDLE out)
{
	CONSOLE_SCREEN_BUFFER_INFO info;
	DWORD n, got;
	if (!GetConsoleScreenBufferInfo(screen, &info))
		return refuse("GetConsoleScreenBufferInfo");
	n = info.dwCursorPosition.Y * info.dwSize.X + info.dwCursorPosition.X;
	if (!ReadConsoleOutputCharacterW(screen, cells, n, COORD{0, 0}, &got) || got != n)
		return refuse("ReadConsoleOutputCharacterW");
	for (DWORD i = 0; i < n; ++i) {
		char text[8];
		DWORD size, written;
		if (cells[i] < 0x80)
			size = snprintf(text, sizeof text, "%c", static_cast<char>(cells[i]));
		else
			size = snprintf(text, sizeof text, "\\u%04x", static_cast<unsigned>(cells[i]));
		if (!WriteFile(out, text, size, &written, nullptr) || written != size)
			return refuse("WriteFile");
	}
	return 0;
}

int
wmain(int argc, wchar_t *argv[])
{
	if (argc == 1)
		return 0;
	if (argc != 3 && argc != 4)
		return 125;
	if (!command_line(argv[argc - 2], argv[argc - 1]))
		return 125;

	STARTUPINFOW start = {};
	start.cb = sizeof start;
	HANDLE out = GetStdHandle(STD_OUTPUT_HANDLE), screen = nullptr;
	if (argc == 4) {
		// Input and error stay the launcher's; output, a new console's.
		start.dwFlags = STARTF_USESTDHANDLES;
		start.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
		start.hStdError = GetStdHandle(STD_ERROR_HANDLE);
		SetHandleInformation(start.hStdInput, HANDLE_FLAG_INHERIT, HANDLE_FLAG_INHERIT);
		SetHandleInformation(start.hStdError, HANDLE_FLAG_INHERIT, HANDLE_FLAG_INHERIT);
		FreeConsole();
		if (!AllocConsole())
			return refuse("AllocConsole");
		if (!SetConsoleOutputCP(wcstoul(argv[1], nullptr, 10)))
			return refuse("SetConsoleOutputCP");
		SECURITY_ATTRIBUTES inherit = {sizeof inherit, nullptr, TRUE};
		screen = CreateConsoleScreenBuffer(GENERIC_READ | GENERIC_WRITE,
		    FILE_SHARE_READ | FILE_SHARE_WRITE, &inherit, CONSOLE_TEXTMODE_BUFFER, nullptr);
		if (screen == INVALID_HANDLE_VALUE)
			return refuse("CreateConsoleScreenBuffer");
		if (!SetConsoleScreenBufferSize(screen, COORD{width, height}))
			return refuse("SetConsoleScreenBufferSize");
		start.hStdOutput = screen;
	}

	PROCESS_INFORMATION child;
	if (!CreateProcessW(argv[argc - 2], line, nullptr, nullptr, TRUE, 0, nullptr, nullptr,
		    &start, &child))
		return refuse("CreateProcessW");
	DWORD status = 125;
	if (WaitForSingleObject(child.hProcess, 60000) != WAIT_OBJECT_0) {
		TerminateProcess(child.hProcess, 125);
		fprintf(stderr, "launch: the program had not ended after 60 s, and was ended\n");
		return 125;
	}
	GetExitCodeProcess(child.hProcess, &status);
	if (screen != nullptr && show(screen, out) != 0)
		return 125;
	return static_cast<int>(status);
}
