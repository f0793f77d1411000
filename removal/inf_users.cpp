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

// The file name in the InfPath value of a driver key (under Control\Class):
// ERROR_SUCCESS with it, ERROR_FILE_NOT_FOUND when the key has no such
// text value, another error when it cannot be read.
LONG InfNameIn(HKEY driverKey, std::wstring& name) {
  wchar_t path[MAX_PATH + 1] = {};
  DWORD type = 0;
  DWORD size = sizeof path - sizeof(wchar_t);
  const LONG error = RegQueryValueExW(driverKey, L"InfPath", nullptr, &type, reinterpret_cast<BYTE*>(path), &size);
  if (error != ERROR_SUCCESS) return error;
  if (type != REG_SZ) return ERROR_FILE_NOT_FOUND;
  name = PathFindFileNameW(path);
  return ERROR_SUCCESS;
}

// The INF file name of the device's driver, empty without one.
std::wstring DriverInfName(HDEVINFO set, SP_DEVINFO_DATA* device) {
  UniqueKey key(SetupDiOpenDevRegKey(set, device, DICS_FLAG_GLOBAL, 0, DIREG_DRV, KEY_QUERY_VALUE));
  if (key.get() == INVALID_HANDLE_VALUE) key.release();
  std::wstring name;
  if (!key || InfNameIn(key.get(), name) != ERROR_SUCCESS) return {};
  return name;
}

bool AllDigits(const wchar_t* text) {
  if (!*text) return false;
  for (; *text; ++text)
    if (*text < L'0' || *text > L'9') return false;
  return true;
}

}  // namespace

bool InfUsers::NoCase::operator()(const std::wstring& a, const std::wstring& b) const {
  return _wcsicmp(a.c_str(), b.c_str()) < 0;
}

// Every driver key (Control\Class\<class>\<number>, the keys SetupAPI
// makes for installed drivers) read; complete_ stays false when one cannot
// be, and then any INF may be named.
InfUsers::InfUsers() {
  UniqueKey classes;
  if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"SYSTEM\\CurrentControlSet\\Control\\Class", 0, KEY_ENUMERATE_SUB_KEYS,
                    classes.put()) != ERROR_SUCCESS)
    return;
  std::vector<std::wstring> classNames;
  if (!machine::ListSubKeys(classes.get(), classNames)) return;
  for (const std::wstring& className : classNames) {
    UniqueKey cls;
    if (RegOpenKeyExW(classes.get(), className.c_str(), 0, KEY_ENUMERATE_SUB_KEYS, cls.put()) != ERROR_SUCCESS)
      return;
    std::vector<std::wstring> driverNames;
    if (!machine::ListSubKeys(cls.get(), driverNames)) return;
    for (const std::wstring& driverName : driverNames) {
      // Only SetupAPI's numbered keys are drivers ("Properties" is not, and
      // standard users may not open it).
      if (!AllDigits(driverName.c_str())) continue;
      UniqueKey driver;
      if (RegOpenKeyExW(cls.get(), driverName.c_str(), 0, KEY_QUERY_VALUE, driver.put()) != ERROR_SUCCESS) return;
      std::wstring name;
      const LONG error = InfNameIn(driver.get(), name);
      if (error == ERROR_FILE_NOT_FOUND) continue;
      if (error != ERROR_SUCCESS) return;
      named_.insert(name);
    }
  }
  complete_ = true;
}

std::wstring InfUsers::DeviceUsingInf(const std::wstring& infPath) const {
  const wchar_t* name = PathFindFileNameW(infPath.c_str());
  std::wstring user;
  // Without a driver key naming it, no device can be the INF's user.
  if (!*name || (complete_ && !named_.count(name))) return user;
  ForEachPresentDevice([&](HDEVINFO set, SP_DEVINFO_DATA* device) {
    if (_wcsicmp(DriverInfName(set, device).c_str(), name) != 0) return true;
    wchar_t id[512] = {};
    if (!SetupDiGetDeviceInstanceIdW(set, device, id, 511, nullptr) || machine::DeviceGone(id)) return true;
    user = id;
    return false;
  });
  return user;
}

bool InfUsers::KeptForItsDevice(const std::wstring& infPath) const {
  const std::wstring user = DeviceUsingInf(infPath);
  if (user.empty()) return false;
  KLOG(base::LOG_INFO, "kept: %S is the driver of %S", infPath.c_str(), user.c_str());
  return true;
}

}  // namespace kyd
