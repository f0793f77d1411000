#include "removal/leftover_inf.h"

#include <windows.h>
#include <setupapi.h>
#include <shlwapi.h>

#include "machine/machine.h"
#include "platform/base_log.h"
#include "platform/env.h"
#include "platform/find_str.h"
#include "platform/handle.h"
#include "removal/driver_removal.h"
#include "removal/inf_index.h"
#include "removal/inf_users.h"

namespace kyd {
namespace {
constexpr char kLogUnit[] = "KYDRemoveDriver";
}

std::wstring LeftoverInfKey(const wchar_t* hardwareId) {
  std::wstring id = hardwareId ? hardwareId : L"";
  size_t at = id.find(L"DEV_");
  if (at == std::wstring::npos) at = id.find(L"PID_");
  if (at != std::wstring::npos && id.size() > at + 8) return id.substr(0, at + 8);
  return id;
}

std::vector<std::wstring> OemInfsNaming(const std::wstring& key) { return IndexedInfsNaming(key); }

void DeleteInfAndPnf(const std::wstring& infPath) { machine::RemoveInfAndPnf(infPath); }

bool HasDriverStore() {
  constexpr DWORD kBeforeStore = OS_WIN9X | OS_WIN2000 | OS_XP_32 | OS_XP_64 | OS_2003_32 | OS_2003_64;
  return (GetOsVersionClass() & kBeforeStore) == 0;
}

bool RemovePublishedInf(const std::wstring& infPath) {
  if (!HasDriverStore()) return machine::RemoveInfAndPnf(infPath);
  const std::wstring name = PathFindFileNameW(infPath.c_str());
  // Not forced: Windows keeps a package that a device is installed from.
  const DWORD error = machine::RemoveDriverPackage(infPath, machine::DriverStoreFolder(infPath), [&]() -> DWORD {
    return SetupUninstallOEMInfW(name.c_str(), 0, nullptr) ? ERROR_SUCCESS : GetLastError();
  });
  if (error != ERROR_SUCCESS) {
    KLOG(base::LOG_ERROR, "driver package %S not removed (error %d)", infPath.c_str(), static_cast<int>(error));
    return false;
  }
  KLOG(base::LOG_INFO, "driver package %S removed", infPath.c_str());
  machine::RemoveInfAndPnf(infPath);  // Windows leaves nothing; Wine leaves the PNF
  return true;
}

void DeleteLeftoverInfHere(const wchar_t* hardwareId) {
  if (!hardwareId) return;
  std::wstring key = LeftoverInfKey(hardwareId);
  const InfUsers users;
  for (const std::wstring& path : OemInfsNaming(key)) {
    // Another card of the same chip, or the device the host keeps.
    if (users.KeptForItsDevice(path)) continue;
    KLOG(base::LOG_INFO, "%S delete inf file:%S\r\n", key.c_str(), path.c_str());
    RemovePublishedInf(path);
  }
}

void DeleteLeftoverInf(const wchar_t* hardwareId) {
  if (!hardwareId) return;
  if (Is32BitSystem() || !HasDriverStore()) {
    DeleteLeftoverInfHere(hardwareId);
    return;
  }
  DWORD exitCode = 0;
  if (!RunDrv64(L"kydleftover", hardwareId, exitCode))
    KLOG(base::LOG_ERROR, "leftover INF: drv64.exe not started for %S", hardwareId);
}

}  // namespace kyd
