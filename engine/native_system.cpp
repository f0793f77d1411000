// The vendor's files in the native system folders of 64-bit Windows, on the
// host's request. File-system redirection shows this 32-bit module SysWOW64
// wherever it asks for System32, so its 64-bit user-mode files and kernel
// drivers are out of its reach; drv64.exe, the 64-bit program shipped beside
// the host, sees them and deletes them with the engine's own rules, the plan
// or journal going on in it as for the removal road (the call's one run of
// it, removal/drv64_run.h):
//   drv64.exe "kydsysfiles" "<hardware id>" "<name>"...
// A native file in use goes at the next restart, scheduled by drv64.exe under
// its native name; its exit code says so.
#include <windows.h>

#include <cwchar>

#include "engine/base_drv_uninst.h"
#include "machine/machine.h"
#include "platform/base_log.h"
#include "platform/env.h"
#include "removal/drv64_run.h"

namespace kyd {
namespace {

constexpr char kLogUnit[] = "BaseDrvUninst";

// Windows takes command lines of up to 32,767 characters: a long table goes
// to the program as several commands, so that each still fits one on its
// own.
constexpr size_t kLineRoom = 30000;

}  // namespace

void CBaseDrvUninst::DeleteNativeSystemFiles(NameList names) {
  // No device ID or file name holds a quote: one that does is not ours.
  if (GetHostFolder().empty() || deviceId.find(L'"') != std::wstring::npos) {
    KLOG(base::LOG_ERROR, "native system files: drv64.exe cannot be started for %S", deviceId.c_str());
    return;
  }
  const std::vector<std::wstring> head = {L"kydsysfiles", deviceId};
  std::vector<std::wstring> command = head;
  size_t length = 0;
  auto run = [&] {
    DWORD exitCode = ERROR_GEN_FAILURE;
    const int count = static_cast<int>(command.size() - head.size());
    if (!RunDrv64Command(command, exitCode)) {
      KLOG(base::LOG_ERROR, "native system files: drv64.exe did not run them (%d)", static_cast<int>(exitCode));
    } else {
      if (exitCode == machine::kChildScheduledAtRestart) machine::ChildScheduled();
      KLOG(base::LOG_INFO, "native system files: %d names, drv64.exe returned %d", count,
           static_cast<int>(exitCode));
    }
    command = head;
    length = 0;
  };
  for (const wchar_t* name : names) {
    if (!name || !*name || std::wcschr(name, L'"')) continue;
    const size_t room = std::wcslen(name) + 3;  // quoted, after a blank
    if (command.size() > head.size() && length + room > kLineRoom) run();
    command.emplace_back(name);
    length += room;
  }
  if (command.size() > head.size()) run();
}

}  // namespace kyd
