// drv64.exe "kydremove" "<hardware id>": the 64-bit removal program that the
// 32-bit library starts on 64-bit Windows, where SetupAPI must be called from
// a 64-bit process. Exit codes: 2 removed, 0x10000002 removed and a restart is
// needed, 1 nothing removed, 3 bad command line.
// drv64.exe "kydsysfiles" "<hardware id>" "<name>"...: the vendor clean's
// listed files deleted from the native System32 and System32\drivers, which
// the 32-bit library cannot see, by the engine's rules for the system folders
// (the OpenCL loader kept while another GPU uses it; read-only files stay).
// Exit codes: 0 done, 1 nothing done, 2 done and files in use go at the next
// restart (scheduled here, under their native names), 3 bad command line.
// Two more arguments to either, "--plan" "<folder>" or "--journal"
// "<folder>", continue the library's plan or journal in that folder; when it
// cannot be continued nothing is changed (a journal with the secret its seal
// names). Exit code 4: some lines of the plan could not be written (the plan
// is incomplete).
// drv64.exe "kydcomponents" "<hardware id>": the device's software devices,
// component packages and extension packages removed; drv64.exe "kydleftover"
// "<hardware id>": the published INFs still naming it removed as driver
// packages. Exit codes: 0 done, 3 bad command line.
// drv64.exe "kydpublish" "<inf>" "<folder>": a restore's driver package added
// back to the driver store; the exit code is the Win32 error.
#include <windows.h>

#include <cwchar>
#include <memory>

#include "engine/base_drv_uninst.h"
#include "machine/machine.h"
#include "platform/base_log.h"
#include "platform/command_line.h"
#include "platform/env.h"
#include "removal/components.h"
#include "removal/driver_removal.h"
#include "removal/leftover_inf.h"

namespace {

constexpr char kLogUnit[] = "drv64";

// drv64.exe stands in the host's "drv64" folder. When the library beside the
// host logs (log.ini there), this program's lines go to the library's own
// log, after the library's, so that one file (the one drvuninst --log shows)
// tells what was deleted on either side; else it logs as any module would,
// by a log.ini of its own.
void JoinTheLibrarysLog() {
  std::wstring folder = kyd::GetHostFolder();
  if (folder.size() < 2) return;
  folder.pop_back();  // the trailing backslash
  const size_t slash = folder.find_last_of(L"\\/");
  if (slash == std::wstring::npos) return;
  if (!base::BaseLog::Instance()->EnableFromIniIn(folder.substr(0, slash + 1), "KYDDrvUninst")) return;
  std::vector<std::wstring> args = kyd::CommandLineArgs();
  args.resize(3);
  KLOG(base::LOG_INFO, "drv64.exe %S %S", args[1].c_str(), args[2].c_str());
}

int Remove(const std::wstring& hardwareId) {
  bool deletePackageFiles = true;
  bool rebootNeeded = false;
  const long scheduledBefore = kyd::machine::ScheduledDeletions();
  if (!kyd::RemoveDriver(hardwareId.c_str(), deletePackageFiles, rebootNeeded)) return 1;
  return static_cast<int>(kyd::RemovalDoneCode(rebootNeeded, scheduledBefore));
}

int DeleteSystemFiles(const std::vector<std::wstring>& args) {
  kyd::CBaseDrvUninst engine;
  engine.SetDevice(args[2].c_str());
  // A file deleted here takes the startup entries that would start it, as
  // in the library (which has taken those naming the same paths already).
  engine.SnapshotRunEntries();
  std::vector<const wchar_t*> names;
  for (size_t i = 3; i < args.size(); ++i) names.push_back(args[i].c_str());
  engine.DeleteSystemFolderFiles(kyd::NameList(names.data(), static_cast<int>(names.size())));
  return kyd::machine::ScheduledDeletions() != 0 ? static_cast<int>(kyd::machine::kChildScheduledAtRestart) : 0;
}

int Run() {
  std::vector<std::wstring> args = kyd::CommandLineArgs();
  if (args.size() == 4 && _wcsicmp(args[1].c_str(), L"kydpublish") == 0)
    return kyd::machine::PublishDriverPackageCommand(args[2], args[3]);
  kyd::machine::Mode mode = kyd::machine::Mode::kPerform;
  std::wstring folder;
  if (args.size() >= 5 && kyd::machine::ParseChildArguments(args[args.size() - 2], args.back(), mode)) {
    folder = args.back();
    args.resize(args.size() - 2);
  }
  const bool remove = args.size() == 3 && _wcsicmp(args[1].c_str(), L"kydremove") == 0;
  const bool systemFiles = args.size() >= 3 && _wcsicmp(args[1].c_str(), L"kydsysfiles") == 0;
  const bool components = args.size() == 3 && _wcsicmp(args[1].c_str(), L"kydcomponents") == 0;
  const bool leftover = args.size() == 3 && _wcsicmp(args[1].c_str(), L"kydleftover") == 0;
  if (!remove && !systemFiles && !components && !leftover) return 3;
  std::unique_ptr<kyd::machine::Session> session;
  if (mode != kyd::machine::Mode::kPerform) {
    session = std::make_unique<kyd::machine::Session>(mode, folder, /*continueIn=*/true);
    if (!session->ok()) return 1;
  }
  int code = 0;
  if (remove) code = Remove(args[2]);
  else if (systemFiles) code = DeleteSystemFiles(args);
  else if (components) kyd::CleanDeviceComponentsHere(args[2].c_str());
  else kyd::DeleteLeftoverInfHere(args[2].c_str());
  if (mode == kyd::machine::Mode::kPlan && !session->complete())
    return static_cast<int>(kyd::machine::kChildRecordLost);
  return code;
}

}  // namespace

int main() {
  try {
    JoinTheLibrarysLog();
    return Run();
  } catch (...) {
    return 1;
  }
}
