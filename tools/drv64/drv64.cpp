// drv64.exe "kydremove" "<hardware id>": the 64-bit removal program that the
// 32-bit library starts on 64-bit Windows, where SetupAPI must be called from
// a 64-bit process. Exit codes: 2 removed, 0x10000002 removed and a restart is
// needed, 1 nothing removed, 3 bad command line.
#include <windows.h>

#include <cwchar>

#include "platform/command_line.h"
#include "removal/driver_removal.h"

namespace {

int Run() {
  const std::vector<std::wstring> args = kyd::CommandLineArgs();
  if (args.size() != 3 || _wcsicmp(args[1].c_str(), L"kydremove") != 0) return 3;
  bool deletePackageFiles = true;
  bool rebootNeeded = false;
  if (!kyd::RemoveDriver(args[2].c_str(), deletePackageFiles, rebootNeeded)) return 1;
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
