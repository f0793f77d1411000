// A program that only waits: tests copy it under the names of vendor tools
// and start it, so that process termination has something real to end.
// It ends by itself after the number of seconds given (default 120), so a
// test that fails before its teardown leaves nothing running for long.
//   sleeper.exe [seconds] [--hold <file>]... [--load <dll>]... [--ready <event>]
// --hold keeps the file open without delete sharing, --load keeps the DLL
// loaded, while it waits: a program of another maker that holds a vendor's
// file. --ready (given last) sets the named event once it holds them. It exits
// with 2 when it cannot hold or load what it was given.
#include <windows.h>

#include <cstdlib>
#include <cstring>

int main(int argc, char** argv) {
  unsigned long seconds = 120;
  int first = 1;
  if (argc > 1 && argv[1][0] != '-') {
    seconds = std::strtoul(argv[1], nullptr, 10);
    first = 2;
  }
  for (int i = first; i + 1 < argc; i += 2) {
    if (std::strcmp(argv[i], "--hold") == 0) {
      HANDLE file = CreateFileA(argv[i + 1], GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
      if (file == INVALID_HANDLE_VALUE) return 2;  // held until the process ends
    } else if (std::strcmp(argv[i], "--load") == 0) {
      if (!LoadLibraryA(argv[i + 1])) return 2;
    } else if (std::strcmp(argv[i], "--ready") == 0) {
      HANDLE ready = OpenEventA(EVENT_MODIFY_STATE, FALSE, argv[i + 1]);
      if (!ready || !SetEvent(ready)) return 2;
      CloseHandle(ready);
    } else {
      return 2;
    }
  }
  Sleep(seconds * 1000);
  return 0;
}
