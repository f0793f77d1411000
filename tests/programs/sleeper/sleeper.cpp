// A program that only waits: tests copy it under the names of vendor tools
// and start it, so that process termination has something real to end.
// It ends by itself after the number of seconds given (default 120), so a
// test that fails before its teardown leaves nothing running for long; with
// --with it ends instead when the process of that ID does (the bench that
// started it), however long that takes.
//   sleeper [SECONDS [HOLDER_SECONDS]] [--with <pid>] [--hold <file>]... [--load <dll>]... [--ready <event>]
// With HOLDER_SECONDS it first starts a copy of itself that inherits its
// standard output and sleeps that long (a program that keeps its parent's
// output pipe open after the parent has ended), and writes "holder <pid>".
// --hold keeps the file open without delete sharing, --load keeps the DLL
// loaded, while it waits: a program of another maker that holds a vendor's
// file. --ready (given last) sets the named event once it holds them. It exits
// with 2 when it cannot hold or load what it was given.
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "platform/handle.h"

namespace {

bool StartHolder(unsigned long seconds) {
  wchar_t self[MAX_PATH] = {};
  GetModuleFileNameW(nullptr, self, MAX_PATH);
  std::wstring line = L"\"" + std::wstring(self) + L"\" " + std::to_wstring(seconds);
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process{};
  if (!CreateProcessW(nullptr, line.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr, &startup, &process))
    return false;
  kyd::UniqueHandle processHandle(process.hProcess), threadHandle(process.hThread);
  std::printf("holder %lu\n", process.dwProcessId);
  std::fflush(stdout);
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  unsigned long seconds = 120;
  int first = 1;
  if (first < argc && argv[first][0] != '-') seconds = std::strtoul(argv[first++], nullptr, 10);
  if (first < argc && argv[first][0] != '-') {
    if (!StartHolder(std::strtoul(argv[first++], nullptr, 10))) return 2;
  }
  std::vector<kyd::UniqueHandle> held;  // until the process ends
  kyd::UniqueHandle bench;
  for (int i = first; i + 1 < argc; i += 2) {
    if (std::strcmp(argv[i], "--with") == 0) {
      // Opened at once: the bench has only just started this process, so the
      // ID is still the bench's.
      bench.reset(OpenProcess(SYNCHRONIZE, FALSE, std::strtoul(argv[i + 1], nullptr, 10)));
      if (!bench) return 2;
    } else if (std::strcmp(argv[i], "--hold") == 0) {
      HANDLE file = CreateFileA(argv[i + 1], GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
      if (file == INVALID_HANDLE_VALUE) return 2;
      held.emplace_back(file);
    } else if (std::strcmp(argv[i], "--load") == 0) {
      if (!LoadLibraryA(argv[i + 1])) return 2;
    } else if (std::strcmp(argv[i], "--ready") == 0) {
      kyd::UniqueHandle ready(OpenEventA(EVENT_MODIFY_STATE, FALSE, argv[i + 1]));
      if (!ready || !SetEvent(ready.get())) return 2;
    } else {
      return 2;
    }
  }
  if (bench) WaitForSingleObject(bench.get(), INFINITE);
  else Sleep(seconds * 1000);
  return 0;
}
