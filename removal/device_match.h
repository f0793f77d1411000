// Finding a present device by hardware ID, and the driver installed on it.
#pragma once

#include <windows.h>
#include <setupapi.h>

#include <optional>
#include <string>
#include <vector>

namespace kyd {

// The strings of a REG_MULTI_SZ device property; nullopt when the property
// is absent (which is not the same as an empty list).
using IdList = std::optional<std::vector<std::wstring>>;

struct DriverFileInfo {
  std::wstring InfDate;
  std::wstring SectionName;
  std::wstring InfFileName;
  std::wstring DrvDescription;
  std::wstring HardwareID;
};

struct DriverInfo {
  DWORD DriverType = 0;
  std::wstring Description;
  std::wstring MfgName;
  std::wstring ProviderName;
  std::wstring DriverDate;
  std::wstring DriverVersion;
};

// The present devices of all classes, as a new set for the caller to own
// (INVALID_HANDLE_VALUE when SetupAPI cannot make it).
HDEVINFO ListPresentDevices();

// Calls visit(set, device) for each device of `set` in SetupAPI order until
// it returns false.
template <typename Visit>
void ForEachDeviceIn(HDEVINFO set, Visit visit);

// Lists the present devices of all classes and walks them as above. False
// when the set cannot be created.
template <typename Visit>
bool ForEachPresentDevice(Visit visit);

IdList GetDeviceIdList(HDEVINFO set, SP_DEVINFO_DATA* device, DWORD property);
bool MatchAnyId(const IdList& list, const wchar_t* hardwareId);

// The device searches of the removal road. The forms taking a set walk that
// set, which a caller lists once (ListPresentDevices) and may be walking
// itself; the others list the present devices for the one search.
//
// The instance ID of the first device whose instance ID holds one of the
// IDs as an ID.
bool FindInstanceIdByIds(HDEVINFO set, const IdList& list, std::wstring& instanceId);
bool FindInstanceIdByIds(const IdList& list, std::wstring& instanceId);
// The installed driver of the first device whose instance ID begins with
// `instanceId` where an ID part ends. The driver list it builds on that
// device is gone again, and the device's install parameters are as they
// were, when it returns.
bool GetCurrentDriverInfo(HDEVINFO set, const std::wstring& instanceId, DriverFileInfo& fileInfo,
                          DriverInfo& driverInfo);
bool GetCurrentDriverInfo(const std::wstring& instanceId, DriverFileInfo& fileInfo,
                          DriverInfo& driverInfo);
bool FindCurrentDriver(HDEVINFO set, SP_DEVINFO_DATA* device, SP_DRVINFO_DATA_V2_W& driver);
// A driver node's detail record into `buffer`, hardware IDs included; false
// when SetupAPI cannot give it.
bool ReadDriverDetail(HDEVINFO set, SP_DEVINFO_DATA* device, SP_DRVINFO_DATA_V2_W* driver,
                      std::vector<BYTE>& buffer);
bool FormatDriverDate(const FILETIME& time, const wchar_t* style, std::wstring& out);
void FormatDriverVersion(DWORDLONG version, std::wstring& out);

}  // namespace kyd

#include "removal/device_match_inl.h"
