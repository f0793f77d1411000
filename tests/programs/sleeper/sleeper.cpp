// A program that only waits: tests copy it under the names of vendor tools
// and start it, so that process termination has something real to end.
// It ends by itself after the number of seconds given (default 120), so a
// test that fails before its teardown leaves nothing running for long.
//   sleeper [SECONDS [HOLDER_SECONDS]]
// With HOLDER_SECONDS it first starts a copy of itself that inherits its
// standard output and sleeps that long (a program that keeps its parent's
// output pipe open after the parent has ended), and writes "holder <pid>".
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "platform/handle.h"

int main(int argc, char** argv) {
  unsigned long seconds = argc > 1 ? std::strtoul(argv[1], nullptr, 10) : 120;
  if (argc > 2) {
    wchar_t self[MAX_PATH] = {};
    GetModuleFileNameW(nullptr, self, MAX_PATH);
    std::wstring line =
        L"\"" + std::wstring(self) + L"\" " + std::to_wstring(std::strtoul(argv[2], nullptr, 10));
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process{};
    if (!CreateProcessW(nullptr, line.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr, &startup,
                        &process))
      return 2;
    kyd::UniqueHandle processHandle(process.hProcess), threadHandle(process.hThread);
    std::printf("holder %lu\n", process.dwProcessId);
    std::fflush(stdout);
  }
  Sleep(seconds * 1000);
  return 0;
}
