// kydconsole.exe: a console program for the console runner's tests.
//   big <bytes>     writes that many bytes of numbered lines to stdout; gives
//                   up after 30 s if nobody reads them (exit code 1)
//   mixed           "out1" to stdout, "err1" to stderr, "out2" to stdout
//   silent          writes nothing
//   args <...>      prints each argument as it arrived, in brackets
//   linger <ms>     starts "sleep <ms>" with the pipe inherited, prints the
//                   child's pid and ends at once
//   sleep <ms>      sleeps
#include <windows.h>
#include <shellapi.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <cwchar>
#include <string>

#include "platform/handle.h"

namespace {

void Write(DWORD which, const std::string& text) {
  DWORD written = 0;
  WriteFile(GetStdHandle(which), text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
}

std::string Narrow(const wchar_t* wide) {
  int n = WideCharToMultiByte(CP_ACP, 0, wide, -1, nullptr, 0, nullptr, nullptr);
  std::string text(static_cast<size_t>(n > 0 ? n : 1), '\0');
  WideCharToMultiByte(CP_ACP, 0, wide, -1, text.data(), n, nullptr, nullptr);
  text.resize(std::strlen(text.c_str()));
  return text;
}

DWORD WINAPI WriteBig(void* parameter) {
  size_t total = *static_cast<size_t*>(parameter);
  std::string text;
  for (size_t line = 0; text.size() < total; ++line) {
    char buffer[32];
    std::snprintf(buffer, sizeof buffer, "line %08zu\r\n", line);
    text += buffer;
  }
  text.resize(total);
  for (size_t at = 0; at < text.size(); at += 1000)
    Write(STD_OUTPUT_HANDLE, text.substr(at, 1000));
  return 0;
}

}  // namespace

int main() {
  int argc = 0;
  wchar_t** argv = CommandLineToArgvW(GetCommandLineW(), &argc);
  if (!argv || argc < 2) return 3;
  std::wstring command = argv[1];
  if (command == L"big" && argc == 3) {
    static size_t total = std::wcstoul(argv[2], nullptr, 10);
    kyd::UniqueHandle thread(CreateThread(nullptr, 0, WriteBig, &total, 0, nullptr));
    bool done = thread && WaitForSingleObject(thread.get(), 30000) == WAIT_OBJECT_0;
    ExitProcess(done ? 0 : 1);
  }
  if (command == L"mixed") {
    Write(STD_OUTPUT_HANDLE, "out1\r\n");
    Write(STD_ERROR_HANDLE, "err1\r\n");
    Write(STD_OUTPUT_HANDLE, "out2\r\n");
    return 0;
  }
  if (command == L"silent") return 0;
  if (command == L"args") {
    std::string line;
    for (int i = 2; i < argc; ++i) line += "[" + Narrow(argv[i]) + "]";
    Write(STD_OUTPUT_HANDLE, line + "\r\n");
    return 0;
  }
  if (command == L"sleep" && argc == 3) {
    Sleep(std::wcstoul(argv[2], nullptr, 10));
    return 0;
  }
  if (command == L"linger" && argc == 3) {
    wchar_t self[MAX_PATH] = {};
    GetModuleFileNameW(nullptr, self, MAX_PATH);
    std::wstring line = L"\"" + std::wstring(self) + L"\" sleep " + argv[2];
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdOutput = GetStdHandle(STD_OUTPUT_HANDLE);
    startup.hStdError = GetStdHandle(STD_ERROR_HANDLE);
    PROCESS_INFORMATION process{};
    if (!CreateProcessW(nullptr, line.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr, &startup,
                        &process))
      return 2;
    kyd::UniqueHandle childProcess(process.hProcess), childThread(process.hThread);
    Write(STD_OUTPUT_HANDLE, "pid=" + std::to_string(process.dwProcessId) + "\r\n");
    return 0;
  }
  return 3;
}
