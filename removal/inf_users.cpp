#include "removal/inf_users.h"

#include <windows.h>
#include <setupapi.h>
#include <shlwapi.h>

#include "machine/machine.h"
#include "platform/base_log.h"
#include "platform/handle.h"
#include "removal/device_match.h"

namespace kyd {
namespace {

constexpr char kLogUnit[] = "KYDRemoveDriver";

// The file name of the INF the device's driver was installed from: the
// InfPath value of its driver key (under Control\Class), empty without one.
std::wstring DriverInfName(HDEVINFO set, SP_DEVINFO_DATA* device) {
  UniqueKey key(SetupDiOpenDevRegKey(set, device, DICS_FLAG_GLOBAL, 0, DIREG_DRV, KEY_QUERY_VALUE));
  if (key.get() == INVALID_HANDLE_VALUE) key.release();
  if (!key) return {};
  wchar_t path[MAX_PATH + 1] = {};
  DWORD type = 0;
  DWORD size = sizeof path - sizeof(wchar_t);
  if (RegQueryValueExW(key.get(), L"InfPath", nullptr, &type, reinterpret_cast<BYTE*>(path), &size) !=
          ERROR_SUCCESS ||
      type != REG_SZ)
    return {};
  return PathFindFileNameW(path);
}

}  // namespace

std::wstring DeviceUsingInf(const std::wstring& infPath) {
  const wchar_t* name = PathFindFileNameW(infPath.c_str());
  std::wstring user;
  if (!*name) return user;
  ForEachPresentDevice([&](HDEVINFO set, SP_DEVINFO_DATA* device) {
    if (_wcsicmp(DriverInfName(set, device).c_str(), name) != 0) return true;
    wchar_t id[512] = {};
    if (!SetupDiGetDeviceInstanceIdW(set, device, id, 511, nullptr) || machine::DeviceGone(id)) return true;
    user = id;
    return false;
  });
  return user;
}

bool KeptForItsDevice(const std::wstring& infPath) {
  const std::wstring user = DeviceUsingInf(infPath);
  if (user.empty()) return false;
  KLOG(base::LOG_INFO, "kept: %S is the driver of %S", infPath.c_str(), user.c_str());
  return true;
}

}  // namespace kyd
