#include "platform/console_runner.h"

#include <windows.h>

#include <cstdarg>
#include <cstdio>
#include <vector>

#include "platform/env.h"
#include "platform/handle.h"

namespace kyd {
namespace {

constexpr DWORD kChunk = 4095;         // bytes read at a time, NUL after them
constexpr DWORD kPollMilliseconds = 20;  // how long to wait for the program between peeks

// Reads the pipe while the program runs, so that a program that writes more
// than the pipe holds never blocks, and after it has ended until the pipe is
// empty. A grandchild that inherited the pipe and outlives the program does
// not keep us waiting.
void CollectOutput(HANDLE pipe, HANDLE process, std::wstring& output) {
  char buffer[kChunk + 1];
  bool ended = false;
  for (;;) {
    DWORD available = 0;
    if (!PeekNamedPipe(pipe, nullptr, 0, nullptr, &available, nullptr)) return;  // all writers gone
    if (available == 0) {
      if (ended) return;
      ended = WaitForSingleObject(process, kPollMilliseconds) != WAIT_TIMEOUT;
      continue;  // one more look: what it wrote before it ended is still in the pipe
    }
    DWORD read = 0;
    if (!ReadFile(pipe, buffer, available < kChunk ? available : kChunk, &read, nullptr) || read == 0)
      return;
    // Each chunk on its own: the callers look for ASCII words only.
    buffer[read] = '\0';
    output += AnsiToWide(buffer);
  }
}

}  // namespace

std::wstring ConsoleCommandLine(const std::wstring& program, const std::wstring& arguments) {
  // With /C, the interpreter strips the first and the last quote of the rest
  // of the line unless that holds exactly two quotes around one program name.
  // The outer pair is there to be stripped, so the quotes around the program
  // (which may hold blanks, as temp folders under "Documents and Settings"
  // do) and around the arguments all survive.
  std::wstring quoted = !program.empty() && program.front() == L'"' ? program : L"\"" + program + L"\"";
  std::wstring line;
  FormatWide(line, L"CMD /D /C \"%s %s\"", quoted.c_str(), arguments.c_str());
  return line;
}

bool IsPlainConsoleArgument(const wchar_t* text) {
  if (!text) return false;
  for (const wchar_t* p = text; *p; ++p)
    if (*p == L'"' || *p == L'%' || *p == L'!' || *p < 0x20 || *p == 0x7F) return false;
  return true;
}

bool RunConsole(const std::wstring& program, const std::wstring& arguments, std::wstring& output) {
  SECURITY_ATTRIBUTES inherit{};
  inherit.nLength = sizeof inherit;
  inherit.bInheritHandle = TRUE;
  UniqueHandle readEnd, writeEnd;
  if (!CreatePipe(readEnd.put(), writeEnd.put(), &inherit, 0)) return false;
  // Only the write end goes to the program.
  SetHandleInformation(readEnd.get(), HANDLE_FLAG_INHERIT, 0);

  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  GetStartupInfoW(&startup);
  startup.cb = sizeof startup;
  startup.hStdOutput = writeEnd.get();
  startup.hStdError = writeEnd.get();
  startup.dwFlags = STARTF_USESTDHANDLES | STARTF_USESHOWWINDOW;
  startup.wShowWindow = SW_HIDE;

  // The command line still names "CMD"; the image is pinned to the system
  // folder's cmd.exe so that a cmd.exe planted in the host's or the current
  // folder is never the one that runs with the host's rights.
  std::wstring interpreter = GetSystemDir();
  if (!interpreter.empty()) interpreter += L"\\cmd.exe";
  std::wstring line = ConsoleCommandLine(program, arguments);
  PROCESS_INFORMATION process{};
  if (!CreateProcessW(interpreter.empty() ? nullptr : interpreter.c_str(), line.data(), nullptr,
                      nullptr, TRUE, 0, nullptr, nullptr, &startup, &process))
    return false;
  UniqueHandle processHandle(process.hProcess);
  UniqueHandle threadHandle(process.hThread);
  writeEnd.reset();  // the pipe breaks when the program's last copy closes

  CollectOutput(readEnd.get(), processHandle.get(), output);
  WaitForSingleObject(processHandle.get(), INFINITE);
  return true;
}

bool RunAndWait(const std::wstring& program, std::wstring commandLine, bool inheritHandles, DWORD& exitCode) {
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process{};
  if (!CreateProcessW(program.c_str(), commandLine.data(), nullptr, nullptr, inheritHandles ? TRUE : FALSE,
                      CREATE_NO_WINDOW, nullptr, nullptr, &startup, &process))
    return false;
  UniqueHandle processHandle(process.hProcess);
  UniqueHandle threadHandle(process.hThread);
  WaitForSingleObject(processHandle.get(), INFINITE);
  DWORD code = 0;
  if (GetExitCodeProcess(processHandle.get(), &code)) exitCode = code;
  return true;
}

int FormatWide(std::wstring& output, const wchar_t* format, ...) {
  if (!format) return -1;
  // Measured by formatting into a growing buffer: _vscwprintf is missing
  // from the runtime of Windows XP, and _vsnwprintf answers -1 there when
  // the text does not fit.
  std::vector<wchar_t> buffer(256);
  for (;;) {
    va_list args;
    va_start(args, format);
    int length = _vsnwprintf(buffer.data(), buffer.size() - 2, format, args);
    va_end(args);
    if (length >= 0 && static_cast<size_t>(length) < buffer.size() - 2) {
      output.assign(buffer.data(), static_cast<size_t>(length));
      return length;
    }
    if (buffer.size() >= (size_t{1} << 24)) return -1;  // a format that never fits
    buffer.assign(buffer.size() * 2, L'\0');
  }
}

std::wstring AnsiToWide(const char* text) {
  if (!text) return {};
  int n = MultiByteToWideChar(CP_ACP, 0, text, -1, nullptr, 0);
  if (n <= 1) return {};
  std::vector<wchar_t> wide(static_cast<size_t>(n), L'\0');
  if (MultiByteToWideChar(CP_ACP, 0, text, -1, wide.data(), n) != n) return {};
  return std::wstring(wide.data(), static_cast<size_t>(n) - 1);
}

}  // namespace kyd
