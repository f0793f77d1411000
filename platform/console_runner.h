// Runs a console program hidden through the command interpreter and hands
// back everything it wrote, as wide text.
#pragma once

#include <windows.h>

#include <string>

namespace kyd {

// Runs "CMD /D /C <program> <arguments>" with a hidden window, waits for it
// without a time limit and appends what it wrote to standard output and
// standard error (one pipe, in the order written) to `output`, converted from
// the ANSI code page. The program path is quoted here, so it may hold blanks;
// the arguments go in as given. True when the program was started, whatever
// its exit code; false when the pipe or the process could not be created.
// /D keeps the interpreter from first running the "AutoRun" command of
// Software\Microsoft\Command Processor (user or machine), which any program
// of the user could set to have it run with the host's administrator rights.
bool RunConsole(const std::wstring& program, const std::wstring& arguments, std::wstring& output);

// Runs `program` with the full command line given (the program's own name
// first), no window, and waits for it without a time limit; `exitCode` gets
// its exit code when that can be read. False when it could not be started.
bool RunAndWait(const std::wstring& program, std::wstring commandLine, bool inheritHandles, DWORD& exitCode);

// The command line RunConsole hands to the command interpreter.
std::wstring ConsoleCommandLine(const std::wstring& program, const std::wstring& arguments);

// True when `text` can stand between double quotes on a command interpreter
// line and reach the program unchanged: it holds no quote, no '%' or '!'
// (expanded by the interpreter even inside quotes) and no control character.
// Text that fails this must not be put on such a line: it could end the
// quotes and run commands of its own.
bool IsPlainConsoleArgument(const wchar_t* text);

// Wide printf into `output` (Microsoft semantics: "%s" takes a wide string).
// Returns the formatted length, or -1 when the format fails.
int FormatWide(std::wstring& output, const wchar_t* format, ...);

// Text in the ANSI code page, up to its NUL, as wide text; empty when it
// does not convert.
std::wstring AnsiToWide(const char* text);

}  // namespace kyd
