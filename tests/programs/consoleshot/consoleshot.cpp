// consoleshot.exe CODEPAGE COMMAND...: runs a command in a console of its own
// whose output code page is CODEPAGE, then prints what the console's screen
// shows, as UTF-8, to its own standard output, and exits with the command's
// exit code. Lets a test read a program's console output as a person would
// see it, whatever bytes the program wrote.
#include <windows.h>

#include <cwchar>
#include <string>

#include "platform/handle.h"

namespace {

void WriteUtf8(HANDLE out, const std::wstring& text) {
  int bytes = WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0,
                                  nullptr, nullptr);
  std::string utf8(static_cast<size_t>(bytes > 0 ? bytes : 0), '\0');
  if (bytes > 0)
    WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), utf8.data(), bytes,
                        nullptr, nullptr);
  DWORD written = 0;
  WriteFile(out, utf8.data(), static_cast<DWORD>(utf8.size()), &written, nullptr);
}

// The command line after the first two words (program name, code page).
const wchar_t* SkipWords(const wchar_t* line, int words) {
  for (int i = 0; i < words; ++i) {
    while (*line == L' ' || *line == L'\t') ++line;
    bool quoted = false;
    for (; *line && (quoted || (*line != L' ' && *line != L'\t')); ++line)
      if (*line == L'"') quoted = !quoted;
  }
  while (*line == L' ' || *line == L'\t') ++line;
  return line;
}

}  // namespace

int main() {
  HANDLE out = GetStdHandle(STD_OUTPUT_HANDLE);
  const wchar_t* line = GetCommandLineW();
  UINT codePage = static_cast<UINT>(wcstoul(SkipWords(line, 1), nullptr, 10));
  std::wstring command = SkipWords(line, 2);
  if (codePage == 0 || command.empty()) return 99;

  FreeConsole();
  if (!AllocConsole()) return 98;
  if (!SetConsoleOutputCP(codePage)) return 97;
  SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
  kyd::UniqueFile screen(CreateFileW(L"CONOUT$", GENERIC_READ | GENERIC_WRITE,
                                     FILE_SHARE_READ | FILE_SHARE_WRITE, &inherit, OPEN_EXISTING, 0,
                                     nullptr));
  if (!screen) return 96;
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdInput = nullptr;
  startup.hStdOutput = screen.get();
  startup.hStdError = screen.get();
  PROCESS_INFORMATION info{};
  if (!CreateProcessW(nullptr, command.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr, &startup,
                      &info))
    return 95;
  kyd::UniqueHandle process(info.hProcess), thread(info.hThread);
  WaitForSingleObject(process.get(), INFINITE);
  DWORD exitCode = 0;
  GetExitCodeProcess(process.get(), &exitCode);

  CONSOLE_SCREEN_BUFFER_INFO buffer{};
  GetConsoleScreenBufferInfo(screen.get(), &buffer);
  std::wstring text;
  for (SHORT row = 0; row <= buffer.dwCursorPosition.Y; ++row) {
    std::wstring cells(static_cast<size_t>(buffer.dwSize.X), L' ');
    DWORD read = 0;
    ReadConsoleOutputCharacterW(screen.get(), cells.data(), static_cast<DWORD>(cells.size()),
                                COORD{0, row}, &read);
    cells.resize(read);
    while (!cells.empty() && cells.back() == L' ') cells.pop_back();
    text += cells + L"\n";
  }
  WriteUtf8(out, text);
  return static_cast<int>(exitCode);
}
