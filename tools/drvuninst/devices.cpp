#include "tools/drvuninst/devices.h"

#include <setupapi.h>
#include <cfgmgr32.h>

#include "platform/env.h"
#include "platform/handle.h"
#include "removal/components.h"

namespace drvuninst {
namespace {

// A string or multi-string property; empty when the device has none.
std::vector<std::wstring> ReadStrings(HDEVINFO set, SP_DEVINFO_DATA* device, DWORD property) {
  DWORD size = 0;
  SetupDiGetDeviceRegistryPropertyW(set, device, property, nullptr, nullptr, 0, &size);
  if (size == 0) return {};
  // Two terminators of room beyond what SetupAPI asks for: a multi-string
  // stored without its final zeros still ends.
  std::vector<wchar_t> buffer(size / sizeof(wchar_t) + 2, L'\0');
  if (!SetupDiGetDeviceRegistryPropertyW(set, device, property, nullptr,
                                         reinterpret_cast<BYTE*>(buffer.data()), size, nullptr))
    return {};
  std::vector<std::wstring> strings;
  for (const wchar_t* p = buffer.data(); *p; p += strings.back().size() + 1) strings.emplace_back(p);
  return strings;
}

std::wstring ReadString(HDEVINFO set, SP_DEVINFO_DATA* device, DWORD property) {
  std::vector<std::wstring> strings = ReadStrings(set, device, property);
  return strings.empty() ? std::wstring() : strings.front();
}

std::wstring DriverInf(HDEVINFO set, SP_DEVINFO_DATA* device) {
  HKEY raw = SetupDiOpenDevRegKey(set, device, DICS_FLAG_GLOBAL, 0, DIREG_DRV, KEY_READ);
  if (raw == INVALID_HANDLE_VALUE) return {};
  kyd::UniqueKey key(raw);
  wchar_t inf[MAX_PATH + 1] = {};
  DWORD size = MAX_PATH * sizeof(wchar_t);
  DWORD type = 0;
  if (RegQueryValueExW(key.get(), L"InfPath", nullptr, &type, reinterpret_cast<BYTE*>(inf), &size) !=
          ERROR_SUCCESS ||
      type != REG_SZ)
    return {};
  return inf;
}

}  // namespace

std::vector<Device> PresentDevices(DWORD& error) {
  error = ERROR_SUCCESS;
  kyd::UniqueDevInfo set(SetupDiGetClassDevsW(nullptr, nullptr, nullptr, DIGCF_ALLCLASSES | DIGCF_PRESENT));
  if (!set) {
    error = GetLastError();
    return {};
  }
  std::vector<Device> devices;
  SP_DEVINFO_DATA data{};
  data.cbSize = sizeof data;
  for (DWORD i = 0; SetupDiEnumDeviceInfo(set.get(), i, &data); ++i) {
    Device device;
    wchar_t instance[MAX_DEVICE_ID_LEN + 1] = {};
    if (!SetupDiGetDeviceInstanceIdW(set.get(), &data, instance, MAX_DEVICE_ID_LEN + 1, nullptr)) continue;
    device.instanceId = instance;
    device.classGuid = ReadString(set.get(), &data, SPDRP_CLASSGUID);
    device.className = ReadString(set.get(), &data, SPDRP_CLASS);
    device.hardwareIds = ReadStrings(set.get(), &data, SPDRP_HARDWAREID);
    device.inf = DriverInf(set.get(), &data);
    devices.push_back(std::move(device));
  }
  return devices;
}

void FindComponentPackages(Device& device) {
  if (device.hardwareIds.empty() || _wcsnicmp(device.inf.c_str(), L"oem", 3) != 0) return;
  kyd::DeviceComponents found = kyd::FindDeviceComponents(device.hardwareIds, kyd::GetInfDir() + L"\\" + device.inf);
  device.extensionInfs = found.extensionInfs;
  device.componentInfs = found.componentInfs;
}

}  // namespace drvuninst
