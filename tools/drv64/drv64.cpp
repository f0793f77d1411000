// drv64.exe "kydremove" "<hardware id>": the 64-bit removal program that the
// 32-bit library starts on 64-bit Windows, where SetupAPI must be called from
// a 64-bit process. Exit codes: 2 removed, 0x10000002 removed and a restart is
// needed, 1 nothing removed, 3 bad command line.
#include <windows.h>
#include <shellapi.h>

#include <cwchar>
#include <memory>

#include "removal/driver_removal.h"

namespace {

struct LocalFreeDeleter {
  void operator()(wchar_t** p) const { LocalFree(p); }
};

int Run() {
  int argc = 0;
  std::unique_ptr<wchar_t*, LocalFreeDeleter> argv(CommandLineToArgvW(GetCommandLineW(), &argc));
  if (!argv || argc != 3 || _wcsicmp(argv.get()[1], L"kydremove") != 0) return 3;
  bool deletePackageFiles = true;
  bool rebootNeeded = false;
  if (!kyd::RemoveDriver(argv.get()[2], deletePackageFiles, rebootNeeded)) return 1;
  return static_cast<int>(kyd::kRemovalDone | (rebootNeeded ? kyd::kRemovalRebootFlag : 0));
}

}  // namespace

int main() {
  try {
    return Run();
  } catch (...) {
    return 1;
  }
}
