#include "removal/device_match.h"

#include <objbase.h>

#include <cstring>
#include <cwchar>

#include "platform/base_log.h"
#include "platform/find_str.h"
#include "platform/handle.h"

namespace kyd {
namespace {

// {4D36E97E-E325-11CE-BFC1-08002BE10318}: devices without a driver.
const GUID kOtherDevicesClass = {0x4D36E97E, 0xE325, 0x11CE,
                                 {0xBF, 0xC1, 0x08, 0x00, 0x2B, 0xE1, 0x03, 0x18}};

// The detail record as this build lays it out: 1570 bytes in 32-bit code,
// 1584 in 64-bit code (drv64.exe), where a 1570-byte buffer is refused. The
// buffer starts at the record's own size and grows to what the call asks for.
constexpr DWORD kDetailSize = sizeof(SP_DRVINFO_DETAIL_DATA_W);
static_assert(kDetailSize == (sizeof(void*) == 8 ? 1584 : 1570),
              "SP_DRVINFO_DETAIL_DATA_W is not laid out as SetupAPI expects");

bool InstanceIdOf(HDEVINFO set, SP_DEVINFO_DATA* device, std::wstring& out) {
  wchar_t id[256] = {};
  if (!SetupDiGetDeviceInstanceIdW(set, device, id, 256, nullptr)) return false;
  out = id;
  return true;
}

// Drivers dated before 1980 (zero dates included) are reported as 1980-1-1.
void ApplyDateFloor(std::wstring& date) {
  if (_wcsnicmp(date.c_str(), L"1980-1", 6) < 0) date = L"1980-1-1";
}

bool ReadStringValue(HKEY key, const wchar_t* name, wchar_t* out, DWORD bytes) {
  DWORD type = 0;
  DWORD size = bytes - sizeof(wchar_t);
  std::memset(out, 0, bytes);
  if (RegQueryValueExW(key, name, nullptr, &type, reinterpret_cast<BYTE*>(out), &size) !=
      ERROR_SUCCESS)
    return false;
  return type == REG_SZ;
}

// Puts a device's install parameters back as they were when it was made.
class KeptInstallParams {
 public:
  KeptInstallParams(HDEVINFO set, SP_DEVINFO_DATA* device) : set_(set), device_(*device) {
    params_.cbSize = sizeof params_;
    kept_ = SetupDiGetDeviceInstallParamsW(set_, &device_, &params_) != FALSE;
  }
  KeptInstallParams(const KeptInstallParams&) = delete;
  KeptInstallParams& operator=(const KeptInstallParams&) = delete;
  ~KeptInstallParams() {
    if (kept_) SetupDiSetDeviceInstallParamsW(set_, &device_, &params_);
  }

 private:
  HDEVINFO set_;
  SP_DEVINFO_DATA device_;
  SP_DEVINSTALL_PARAMS_W params_{};
  bool kept_ = false;
};

}  // namespace

bool ReadDriverDetail(HDEVINFO set, SP_DEVINFO_DATA* device, SP_DRVINFO_DATA_V2_W* driver,
                      std::vector<BYTE>& buffer) {
  buffer.assign(kDetailSize, 0);
  for (int attempt = 0;; ++attempt) {
    auto* detail = reinterpret_cast<SP_DRVINFO_DETAIL_DATA_W*>(buffer.data());
    detail->cbSize = sizeof(SP_DRVINFO_DETAIL_DATA_W);
    DWORD needed = 0;
    if (SetupDiGetDriverInfoDetailW(set, device, reinterpret_cast<SP_DRVINFO_DATA_W*>(driver), detail,
                                    static_cast<DWORD>(buffer.size()), &needed))
      return true;
    if (GetLastError() != ERROR_INSUFFICIENT_BUFFER) return false;
    // The fixed part is filled; the hardware IDs after it need the size
    // asked for (asked once more should the list grow meanwhile).
    if (needed <= buffer.size() || attempt == 2) return true;
    buffer.assign(needed, 0);
  }
}

IdList GetDeviceIdList(HDEVINFO set, SP_DEVINFO_DATA* device, DWORD property) {
  std::vector<BYTE> buffer(8192 + 2 * sizeof(wchar_t));
  DWORD type = 0;
  DWORD size = 0;
  while (!SetupDiGetDeviceRegistryPropertyW(set, device, property, &type, buffer.data(),
                                            static_cast<DWORD>(buffer.size() - 2 * sizeof(wchar_t)),
                                            &size)) {
    if (GetLastError() != ERROR_INSUFFICIENT_BUFFER || type != REG_MULTI_SZ ||
        size <= buffer.size() - 2 * sizeof(wchar_t))
      return std::nullopt;
    buffer.assign(size + 2 * sizeof(wchar_t), 0);
  }
  // Two NULs after the data end the last string and the list, whatever the
  // property held.
  size_t chars = size / sizeof(wchar_t);
  auto* text = reinterpret_cast<wchar_t*>(buffer.data());
  text[chars] = L'\0';
  text[chars + 1] = L'\0';
  std::vector<std::wstring> list;
  for (const wchar_t* p = text; *p; p += std::wcslen(p) + 1) list.emplace_back(p);
  return list;
}

bool MatchAnyId(const IdList& list, const wchar_t* hardwareId) {
  if (!list || !hardwareId) return false;
  for (const std::wstring& id : *list) {
    if (_wcsicmp(id.c_str(), hardwareId) == 0) return true;
  }
  return false;
}

bool FindInstanceIdByIds(HDEVINFO set, const IdList& list, std::wstring& instanceId) {
  if (!list || list->empty()) return false;
  bool found = false;
  ForEachDeviceIn(set, [&](HDEVINFO set, SP_DEVINFO_DATA* device) {
    std::wstring id;
    if (!InstanceIdOf(set, device, id)) return true;
    for (const std::wstring& part : *list) {
      // As an ID: "USB\\ROOT_HUB" does not pick "USB\\ROOT_HUB30\\...".
      if (!part.empty() && BoundedStrStrIW(id.c_str(), id.size(), part.c_str(), MatchEnd::kIdEnd)) {
        instanceId = id;
        found = true;
        return false;
      }
    }
    return true;
  });
  return found;
}

bool FindInstanceIdByIds(const IdList& list, std::wstring& instanceId) {
  if (!list || list->empty()) return false;
  UniqueDevInfo set(ListPresentDevices());
  return set && FindInstanceIdByIds(set.get(), list, instanceId);
}

bool FormatDriverDate(const FILETIME& time, const wchar_t* style, std::wstring& out) {
  const wchar_t* format = nullptr;
  if (style && std::wcscmp(style, L"yyyy-mm-dd") == 0) format = L"%d-%d-%d";
  else if (style && std::wcscmp(style, L"yyyy\\mm\\dd") == 0) format = L"%d\\%d\\%d";
  else if (style && std::wcscmp(style, L"yyyy mm dd") == 0) format = L"%d %d %d";
  if (!format) return false;
  SYSTEMTIME date;
  if (!FileTimeToSystemTime(&time, &date)) return false;
  wchar_t text[512];
  _snwprintf(text, 511, format, date.wYear, date.wMonth, date.wDay);
  text[511] = L'\0';
  out = text;
  return true;
}

void FormatDriverVersion(DWORDLONG version, std::wstring& out) {
  for (int shift = 48; shift >= 0; shift -= 16) {
    wchar_t part[10];
    _snwprintf(part, 9, L"%d", static_cast<int>((version >> shift) & 0xFFFF));
    part[9] = L'\0';
    out += part;
    if (shift) out += L'.';
  }
}

bool FindCurrentDriver(HDEVINFO set, SP_DEVINFO_DATA* device, SP_DRVINFO_DATA_V2_W& driver) {
  SP_DEVINSTALL_PARAMS_W params{};
  params.cbSize = sizeof params;
  if (!SetupDiGetDeviceInstallParamsW(set, device, &params)) {
    KLOG_RAW("not SetupDiGetDeviceInstallParams\n");
    return false;
  }
  params.FlagsEx |= DI_FLAGSEX_INSTALLEDDRIVER | DI_FLAGSEX_ALLOWEXCLUDEDDRVS;
  if (SetupDiSetDeviceInstallParamsW(set, device, &params)) {
    // With these flags the class driver list holds only the installed driver.
    if (!SetupDiBuildDriverInfoList(set, device, SPDIT_CLASSDRIVER)) return false;
    return SetupDiEnumDriverInfoW(set, device, SPDIT_CLASSDRIVER, 0,
                                  reinterpret_cast<SP_DRVINFO_DATA_W*>(&driver)) != FALSE;
  }

  // Older systems: find the node that matches the driver key's description.
  params.FlagsEx &= ~(DI_FLAGSEX_INSTALLEDDRIVER | DI_FLAGSEX_ALLOWEXCLUDEDDRVS);
  UniqueKey key(SetupDiOpenDevRegKey(set, device, DICS_FLAG_GLOBAL, 0, DIREG_DRV, KEY_READ));
  if (key.get() == INVALID_HANDLE_VALUE) key.release();
  if (!key) {
    KLOG_RAW("not SetupDiOpenDevRegKey\n");
    return false;
  }
  wchar_t provider[256], section[256], description[256];
  if (!ReadStringValue(key.get(), L"InfPath", params.DriverPath, sizeof params.DriverPath) ||
      !ReadStringValue(key.get(), L"ProviderName", provider, sizeof provider) ||
      !ReadStringValue(key.get(), L"InfSection", section, sizeof section) ||
      !ReadStringValue(key.get(), L"DriverDesc", description, sizeof description)) {
    KLOG_RAW("not RegQueryValueEx\n");
    return false;
  }
  key.reset();
  wchar_t manufacturer[256] = {};
  if (!SetupDiGetDeviceRegistryPropertyW(set, device, SPDRP_MFG, nullptr,
                                         reinterpret_cast<BYTE*>(manufacturer),
                                         sizeof manufacturer - sizeof(wchar_t), nullptr)) {
    KLOG_RAW("not SetupDiGetDeviceRegistryProperty\n");
    return false;
  }
  params.Flags |= DI_ENUMSINGLEINF;
  params.FlagsEx |= DI_FLAGSEX_ALLOWEXCLUDEDDRVS;
  if (!SetupDiSetDeviceInstallParamsW(set, device, &params)) {
    KLOG_RAW("not SetupDiSetDeviceInstallParams\n");
    return false;
  }
  if (!SetupDiBuildDriverInfoList(set, device, SPDIT_CLASSDRIVER)) {
    KLOG_RAW("SetupDiBuildDriverInfoList is failed\n");
    return false;
  }
  std::vector<BYTE> detailBuffer;
  for (DWORD index = 0;; ++index) {
    SP_DRVINFO_DATA_V2_W node{};
    node.cbSize = sizeof node;
    if (!SetupDiEnumDriverInfoW(set, device, SPDIT_CLASSDRIVER, index,
                                reinterpret_cast<SP_DRVINFO_DATA_W*>(&node)))
      break;
    if (std::wcscmp(node.MfgName, manufacturer) != 0 || std::wcscmp(node.ProviderName, provider) != 0)
      continue;
    if (!ReadDriverDetail(set, device, &node, detailBuffer)) continue;
    auto* detail = reinterpret_cast<SP_DRVINFO_DETAIL_DATA_W*>(detailBuffer.data());
    if (std::wcscmp(detail->SectionName, section) == 0 &&
        std::wcscmp(detail->DrvDescription, description) == 0) {
      KLOG_RAW("match=true\n");
      driver = node;
      return true;
    }
  }
  SetupDiDestroyDriverInfoList(set, device, SPDIT_CLASSDRIVER);
  return false;
}

bool GetCurrentDriverInfo(HDEVINFO set, const std::wstring& instanceId, DriverFileInfo& fileInfo,
                          DriverInfo& driverInfo) {
  bool result = false;
  ForEachDeviceIn(set, [&](HDEVINFO set, SP_DEVINFO_DATA* device) {
    std::wstring id;
    if (!InstanceIdOf(set, device, id)) return true;
    if (_wcsnicmp(id.c_str(), instanceId.c_str(), instanceId.size()) != 0) return true;
    // The leading part must end where an ID part ends.
    if (id.size() > instanceId.size() && ContinuesId(id[instanceId.size()])) return true;
    wchar_t classGuid[1024] = {};
    if (SetupDiGetDeviceRegistryPropertyW(set, device, SPDRP_CLASSGUID, nullptr,
                                          reinterpret_cast<BYTE*>(classGuid),
                                          sizeof classGuid - sizeof(wchar_t), nullptr)) {
      CLSID parsed;
      if (CLSIDFromString(classGuid, &parsed) == NOERROR && IsEqualGUID(parsed, kOtherDevicesClass))
        return false;
    }
    // The caller may go on with this device in its set (and remove it): the
    // parameters the lookup sets are put back after the list it builds is
    // destroyed.
    KeptInstallParams params(set, device);
    UniqueDriverList list(set, device, SPDIT_CLASSDRIVER);
    SP_DRVINFO_DATA_V2_W driver{};
    driver.cbSize = sizeof driver;
    if (!FindCurrentDriver(set, device, driver)) {
      KLOG_RAW("not find current driver\n");
      return false;
    }
    std::vector<BYTE> detailBuffer;
    if (!ReadDriverDetail(set, device, &driver, detailBuffer)) return false;
    auto* detail = reinterpret_cast<SP_DRVINFO_DETAIL_DATA_W*>(detailBuffer.data());
    driverInfo.DriverType = driver.DriverType;
    FormatDriverVersion(driver.DriverVersion, driverInfo.DriverVersion);
    FormatDriverDate(driver.DriverDate, L"yyyy-mm-dd", driverInfo.DriverDate);
    ApplyDateFloor(driverInfo.DriverDate);
    driverInfo.Description = driver.Description;
    driverInfo.MfgName = driver.MfgName;
    driverInfo.ProviderName = driver.ProviderName;
    FormatDriverDate(detail->InfDate, L"yyyy-mm-dd", fileInfo.InfDate);
    ApplyDateFloor(fileInfo.InfDate);
    fileInfo.DrvDescription = detail->DrvDescription;
    fileInfo.InfFileName = detail->InfFileName;
    fileInfo.SectionName = detail->SectionName;
    IdList ids = GetDeviceIdList(set, device, SPDRP_HARDWAREID);
    if (ids && !ids->empty()) {
      fileInfo.HardwareID = ids->front();
      result = true;
    }
    return false;
  });
  return result;
}

bool GetCurrentDriverInfo(const std::wstring& instanceId, DriverFileInfo& fileInfo,
                          DriverInfo& driverInfo) {
  UniqueDevInfo set(ListPresentDevices());
  return set && GetCurrentDriverInfo(set.get(), instanceId, fileInfo, driverInfo);
}

}  // namespace kyd
