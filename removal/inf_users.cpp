#include "removal/inf_users.h"

#include <windows.h>
#include <setupapi.h>
#include <shlwapi.h>

#include <string>
#include <vector>

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

bool AllDigits(const wchar_t* text) {
  if (!*text) return false;
  for (; *text; ++text)
    if (*text < L'0' || *text > L'9') return false;
  return true;
}

// False only when every driver key (Control\Class\<class>\<number>, the
// keys SetupAPI makes for installed drivers) was read and none has an InfPath
// naming the file `name`. A device installed from an INF has such a key, so
// without one no device can be the INF's user and the device walk is spared;
// a key that cannot be read might name it.
bool SomeDriverKeyMayName(const wchar_t* name) {
  UniqueKey classes;
  if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"SYSTEM\\CurrentControlSet\\Control\\Class", 0, KEY_ENUMERATE_SUB_KEYS,
                    classes.put()) != ERROR_SUCCESS)
    return true;
  std::vector<std::wstring> classNames;
  if (!machine::ListSubKeys(classes.get(), classNames)) return true;
  for (const std::wstring& className : classNames) {
    UniqueKey cls;
    if (RegOpenKeyExW(classes.get(), className.c_str(), 0, KEY_ENUMERATE_SUB_KEYS, cls.put()) != ERROR_SUCCESS)
      return true;
    std::vector<std::wstring> driverNames;
    if (!machine::ListSubKeys(cls.get(), driverNames)) return true;
    for (const std::wstring& driverName : driverNames) {
      // Only SetupAPI's numbered keys are drivers ("Properties" is not, and
      // standard users may not open it).
      if (!AllDigits(driverName.c_str())) continue;
      UniqueKey driver;
      if (RegOpenKeyExW(cls.get(), driverName.c_str(), 0, KEY_QUERY_VALUE, driver.put()) != ERROR_SUCCESS) return true;
      wchar_t path[MAX_PATH + 1] = {};
      DWORD type = 0;
      DWORD size = sizeof path - sizeof(wchar_t);
      const LONG error =
          RegQueryValueExW(driver.get(), L"InfPath", nullptr, &type, reinterpret_cast<BYTE*>(path), &size);
      if (error == ERROR_FILE_NOT_FOUND || (error == ERROR_SUCCESS && type != REG_SZ)) continue;
      if (error != ERROR_SUCCESS || _wcsicmp(PathFindFileNameW(path), name) == 0) return true;
    }
  }
  return false;
}

}  // namespace

std::wstring DeviceUsingInf(const std::wstring& infPath) {
  const wchar_t* name = PathFindFileNameW(infPath.c_str());
  std::wstring user;
  if (!*name || !SomeDriverKeyMayName(name)) return user;
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
