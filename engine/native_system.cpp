// The vendor's files in the native system folders of 64-bit Windows, on the
// host's request. File-system redirection shows this 32-bit module SysWOW64
// wherever it asks for System32, so its 64-bit user-mode files and kernel
// drivers are out of its reach; drv64.exe, the 64-bit program shipped beside
// the host, sees them and deletes them with the engine's own rules, the plan
// or journal going on in it as for the removal road:
//   drv64.exe "kydsysfiles" "<hardware id>" "<name>"... ["--plan"|"--journal" "<folder>"]
// A native file in use goes at the next restart, scheduled by drv64.exe under
// its native name; its exit code says so.
#include <windows.h>

#include <cwchar>

#include "engine/base_drv_uninst.h"
#include "machine/machine.h"
#include "platform/base_log.h"
#include "platform/command_line.h"
#include "platform/console_runner.h"
#include "platform/env.h"

namespace kyd {
namespace {

constexpr char kLogUnit[] = "BaseDrvUninst";

// Windows takes command lines of up to 32,767 characters: a long table goes
// to the program in several runs.
constexpr size_t kLineRoom = 30000;

// One more argument on the line, as drv64.exe splits it back.
std::wstring Argument(const std::wstring& text) { return L" " + QuoteArgument(text); }

}  // namespace

void CBaseDrvUninst::DeleteNativeSystemFiles(NameList names) {
  const std::wstring host = GetHostFolder();
  // No device ID or file name holds a quote: one that does is not ours.
  if (host.empty() || deviceId.find(L'"') != std::wstring::npos) {
    KLOG(base::LOG_ERROR, "native system files: drv64.exe cannot be started for %S", deviceId.c_str());
    return;
  }
  const std::wstring program = host + L"drv64\\drv64.exe";
  const std::wstring head = L"\"" + program + L"\" \"kydsysfiles\"" + Argument(deviceId);
  const std::wstring session = machine::ChildArguments();
  std::wstring line = head;
  int count = 0;
  auto run = [&] {
    DWORD exitCode = ERROR_GEN_FAILURE;
    if (!RunAndWait(program, line + session, false, exitCode)) {
      KLOG(base::LOG_ERROR, "native system files: %S not started (error %d)", program.c_str(),
           static_cast<int>(GetLastError()));
    } else {
      machine::ChildFinished(exitCode);  // what it planned or journaled is ours now
      if (exitCode == machine::kChildScheduledAtRestart) machine::ChildScheduled();
      KLOG(base::LOG_INFO, "native system files: %d names, drv64.exe returned %d", count,
           static_cast<int>(exitCode));
    }
    line = head;
    count = 0;
  };
  for (const wchar_t* name : names) {
    if (!name || !*name || std::wcschr(name, L'"')) continue;
    const std::wstring argument = Argument(name);
    if (count > 0 && line.size() + argument.size() + session.size() > kLineRoom) run();
    line += argument;
    ++count;
  }
  if (count > 0) run();
}

}  // namespace kyd
