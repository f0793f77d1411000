// Ending the vendor's running programs and stopping its services, so that
// their files and registrations can be deleted afterwards.
#include <windows.h>
#include <shlwapi.h>
#include <tlhelp32.h>

#include <vector>

#include "engine/base_drv_uninst.h"
#include "machine/machine.h"
#include "platform/base_log.h"

namespace kyd {
namespace {

constexpr char kLogUnit[] = "BaseDrvUninst";

// Terminate, query information, read memory: 0x0411.
constexpr DWORD kKillAccess = PROCESS_TERMINATE | PROCESS_QUERY_INFORMATION | PROCESS_VM_READ;

constexpr int kStopPasses = 50;
constexpr DWORD kStopPassSleepMs = 100;

bool SameName(const wchar_t* a, const wchar_t* b) {
  return a != nullptr && b != nullptr && StrCmpIW(a, b) == 0;
}

// Walks a snapshot of all processes and ends each one whose executable name
// (the bare file name, as "RtkNGUI64.exe") the predicate picks. Does not wait
// for the processes to go. A process that cannot be opened is passed over.
template <typename Pick>
void TerminatePicked(Pick pick, bool logEach) {
  UniqueHandle snapshot(CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
  if (!snapshot) return;
  PROCESSENTRY32W entry{};
  entry.dwSize = sizeof entry;
  for (BOOL more = Process32FirstW(snapshot.get(), &entry); more;
       more = Process32NextW(snapshot.get(), &entry)) {
    if (!pick(entry.szExeFile)) continue;
    UniqueHandle process(OpenProcess(kKillAccess, FALSE, entry.th32ProcessID));
    if (!process) continue;
    if (logEach) KLOG(base::LOG_INFO, "kill process %S", entry.szExeFile);
    machine::EndProcess(process.get(), entry.th32ProcessID, entry.szExeFile);
  }
}

}  // namespace

bool CBaseDrvUninst::KillProcesses(NameList names) {
  TerminatePicked(
      [names](const wchar_t* exe) {
        for (const wchar_t* name : names)
          if (SameName(exe, name)) return true;
        return false;
      },
      true);
  return true;
}

void CBaseDrvUninst::KillProcessByName(const wchar_t* name) {
  if (!name) return;
  TerminatePicked([name](const wchar_t* exe) { return SameName(exe, name); }, false);
}

bool CBaseDrvUninst::StopServices(NameList names) {
  UniqueService manager(OpenSCManagerW(nullptr, nullptr, SC_MANAGER_ALL_ACCESS));
  if (!manager) return true;

  std::vector<UniqueService> pending;
  for (const wchar_t* name : names) {
    if (!name) continue;
    UniqueService service(OpenServiceW(manager.get(), name, SERVICE_ALL_ACCESS));
    if (!service) continue;  // not installed
    SERVICE_STATUS status{};
    if (machine::StopService(service.get(), name, &status)) {
      KLOG(base::LOG_INFO, "kill service %S", name);
      pending.push_back(std::move(service));
    } else {
      DWORD error = GetLastError();
      KLOG(base::LOG_ERROR, "ControlService stop failed %S errorid(%d)", name,
           static_cast<int>(error));
    }
  }

  // A service that has stopped, or only paused, is released; the others are
  // asked again. At least one pass, each followed by a short sleep.
  for (int pass = 0; pass < kStopPasses; ++pass) {
    for (size_t i = 0; i < pending.size();) {
      SERVICE_STATUS status{};
      if (machine::ServiceStatus(pending[i].get(), &status) &&
          (status.dwCurrentState == SERVICE_STOPPED || status.dwCurrentState == SERVICE_PAUSED)) {
        pending.erase(pending.begin() + static_cast<ptrdiff_t>(i));
        continue;
      }
      machine::StopService(pending[i].get(), nullptr, &status);
      ++i;
    }
    Sleep(kStopPassSleepMs);
    if (pending.empty()) break;
  }
  machine::ServiceStopsAwaited();
  return true;  // services still pending are left running
}

}  // namespace kyd
