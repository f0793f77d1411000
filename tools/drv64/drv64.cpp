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
// drv64.exe "kydserve" [session]: the commands above, one line each on the
// standard input (arguments quoted as on a command line), for one call of
// the library: each is answered on the standard output, after any lines it
// wrote, by "kyd-answer <exit code>"; the program ends when its input does.
// Each command sees what the library recorded before it; the INF folder is
// read once for all of them.
// drv64.exe "kydinfs" "<key>" (served only): the published INFs naming the
// key, from the call's one read of the INF folder, for the library's own
// steps; exit code 0.
// drv64.exe "kydpublish" "<inf>" "<folder>": a restore's driver package added
// back to the driver store; the exit code is the Win32 error.
#include <windows.h>

#include <cstdio>
#include <cwchar>
#include <memory>
#include <string>

#include "engine/base_drv_uninst.h"
#include "machine/machine.h"
#include "platform/base_log.h"
#include "platform/command_child.h"
#include "platform/command_line.h"
#include "platform/env.h"
#include "platform/utf8.h"
#include "removal/components.h"
#include "removal/driver_removal.h"
#include "removal/inf_index.h"
#include "removal/leftover_inf.h"

namespace {

constexpr char kLogUnit[] = "drv64";
constexpr int kBadCommand = 3;

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
  args.resize(2);
  KLOG(base::LOG_INFO, "drv64.exe started (%S)", args[1].c_str());
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
  const long scheduledBefore = kyd::machine::ScheduledDeletions();
  engine.DeleteSystemFolderFiles(kyd::NameList(names.data(), static_cast<int>(names.size())));
  return kyd::machine::ScheduledDeletions() != scheduledBefore
             ? static_cast<int>(kyd::machine::kChildScheduledAtRestart)
             : 0;
}

int ListInfs(const std::wstring& key) {
  const std::vector<std::wstring> lines = kyd::InfsNamingAnswer(key);
  std::fflush(stdout);
  for (const std::wstring& line : lines) std::printf("%s\n", kyd::ToUtf8(line).c_str());
  return 0;
}

// One command (args[0] the program or a stand-in), its exit code.
int Command(const std::vector<std::wstring>& args, bool served) {
  const std::wstring command = args.size() >= 2 ? args[1] : std::wstring();
  const bool remove = args.size() == 3 && _wcsicmp(command.c_str(), L"kydremove") == 0;
  const bool systemFiles = args.size() >= 3 && _wcsicmp(command.c_str(), L"kydsysfiles") == 0;
  const bool components = args.size() == 3 && _wcsicmp(command.c_str(), L"kydcomponents") == 0;
  const bool leftover = args.size() == 3 && _wcsicmp(command.c_str(), L"kydleftover") == 0;
  const bool infs = served && args.size() == 3 && _wcsicmp(command.c_str(), L"kydinfs") == 0;
  if (!remove && !systemFiles && !components && !leftover && !infs) return kBadCommand;
  KLOG(base::LOG_INFO, "drv64.exe %S %S", command.c_str(), args[2].c_str());
  if (infs) return ListInfs(args[2]);
  if (remove) return Remove(args[2]);
  if (systemFiles) return DeleteSystemFiles(args);
  if (components) kyd::CleanDeviceComponentsHere(args[2].c_str());
  else kyd::DeleteLeftoverInfHere(args[2].c_str());
  return 0;
}

// The answer after a command's own lines.
void Answer(int code) {
  std::fflush(stdout);
  std::printf("%s%d\n", kyd::kAnswerMark, code);
  std::fflush(stdout);
}

// The call's commands, until the library closes our input.
int Serve(kyd::machine::Session* session, kyd::machine::Mode mode) {
  const HANDLE input = GetStdHandle(STD_INPUT_HANDLE);
  // Programs started from here must not hold our pipes: the library would
  // wait on them.
  SetHandleInformation(input, HANDLE_FLAG_INHERIT, 0);
  SetHandleInformation(GetStdHandle(STD_OUTPUT_HANDLE), HANDLE_FLAG_INHERIT, 0);
  SetHandleInformation(GetStdHandle(STD_ERROR_HANDLE), HANDLE_FLAG_INHERIT, 0);
  kyd::InfIndexCall infs;  // one pass over the INF folder for the whole call
  std::string pending, line;
  while (kyd::ReadPipeLine(input, pending, line)) {
    // What the library planned or journaled since the last command is done.
    if (session) kyd::machine::TakeInRecorded();
    int code = 1;
    try {
      code = Command(kyd::SplitCommandLine(L"drv64 " + kyd::FromUtf8(line)), /*served=*/true);
    } catch (...) {
      // This command failed; the next ones still run.
    }
    if (session && mode == kyd::machine::Mode::kPlan && !session->complete())
      code = static_cast<int>(kyd::machine::kChildRecordLost);
    Answer(code);
  }
  return 0;
}

int Run() {
  std::vector<std::wstring> args = kyd::CommandLineArgs();
  if (args.size() == 4 && _wcsicmp(args[1].c_str(), L"kydpublish") == 0)
    return kyd::machine::PublishDriverPackageCommand(args[2], args[3]);
  kyd::machine::Mode mode = kyd::machine::Mode::kPerform;
  std::wstring folder;
  if (args.size() >= 4 && kyd::machine::ParseChildArguments(args[args.size() - 2], args.back(), mode)) {
    folder = args.back();
    args.resize(args.size() - 2);
  }
  const bool serve = args.size() == 2 && _wcsicmp(args[1].c_str(), L"kydserve") == 0;
  if (!serve && args.size() < 3) return kBadCommand;
  std::unique_ptr<kyd::machine::Session> session;
  if (mode != kyd::machine::Mode::kPerform) {
    session = std::make_unique<kyd::machine::Session>(mode, folder, /*continueIn=*/true);
    if (!session->ok()) return 1;
  }
  if (serve) return Serve(session.get(), mode);
  kyd::InfIndexCall infs;
  const int code = Command(args, /*served=*/false);
  if (code == kBadCommand) return code;
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
