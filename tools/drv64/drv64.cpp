// drv64.exe "kydremove" "<hardware id>": the 64-bit removal program that the
// 32-bit library starts on 64-bit Windows, where SetupAPI must be called from
// a 64-bit process. Exit codes: 2 removed, 0x10000002 removed and a restart is
// needed, 1 nothing removed, 3 bad command line. Two more arguments,
// "--plan" "<folder>" or "--journal" "<folder>", continue the library's plan
// or journal in that folder (a journal with the secret its seal names); when
// it cannot be continued nothing is removed. Exit code 4: some lines of the
// plan could not be written (the plan is incomplete).
// drv64.exe "kydpublish" "<inf>" "<folder>": a restore's driver package added
// back to the driver store; the exit code is the Win32 error.
#include <windows.h>

#include <cwchar>
#include <memory>

#include "platform/command_line.h"
#include "platform/machine.h"
#include "removal/driver_removal.h"

namespace {

int Run() {
  const std::vector<std::wstring> args = kyd::CommandLineArgs();
  if (args.size() == 4 && _wcsicmp(args[1].c_str(), L"kydpublish") == 0)
    return kyd::machine::PublishDriverPackageCommand(args[2], args[3]);
  if ((args.size() != 3 && args.size() != 5) || _wcsicmp(args[1].c_str(), L"kydremove") != 0) return 3;
  kyd::machine::Mode mode = kyd::machine::Mode::kPerform;
  if (args.size() == 5 && !kyd::machine::ParseChildArguments(args[3], args[4], mode)) return 3;
  std::unique_ptr<kyd::machine::Session> session;
  if (mode != kyd::machine::Mode::kPerform) {
    session = std::make_unique<kyd::machine::Session>(mode, args[4], /*continueIn=*/true);
    if (!session->ok()) return 1;
  }
  bool deletePackageFiles = true;
  bool rebootNeeded = false;
  const bool removed = kyd::RemoveDriver(args[2].c_str(), deletePackageFiles, rebootNeeded);
  if (mode == kyd::machine::Mode::kPlan && !session->complete())
    return static_cast<int>(kyd::machine::kChildRecordLost);
  if (!removed) return 1;
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
