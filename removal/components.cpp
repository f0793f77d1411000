#include "removal/components.h"

#include <cwchar>

#include "machine/machine.h"
#include "platform/base_log.h"
#include "platform/env.h"
#include "platform/handle.h"
#include "removal/device_match.h"
#include "removal/driver_removal.h"
#include "removal/leftover_inf.h"

namespace kyd {
namespace {

constexpr char kLogUnit[] = "KYDRemoveDriver";

constexpr wchar_t kExtensionClassGuid[] = L"{e2f84ce7-8efa-411c-aa69-97454ca4cb57}";
constexpr wchar_t kComponentClassGuid[] = L"{5c4c3332-344d-483c-8739-259e934c9cc8}";

// The decorations an install section may carry; a component added in any of
// them belongs to the device, whatever platform runs the uninstall.
constexpr const wchar_t* kInstallDecorations[] = {L"", L".NT", L".NTx86", L".NTamd64", L".NTarm64", L".NTia64"};

std::wstring Field(INFCONTEXT* line, DWORD index) {
  DWORD chars = 0;
  if (!SetupGetStringFieldW(line, index, nullptr, 0, &chars) || chars == 0) return {};
  std::wstring text(chars, L'\0');
  if (!SetupGetStringFieldW(line, index, text.data(), chars, nullptr)) return {};
  text.resize(chars - 1);
  return text;
}

std::wstring VersionField(HINF inf, const wchar_t* key) {
  INFCONTEXT line;
  return SetupFindFirstLineW(inf, L"Version", key, &line) ? Field(&line, 1) : std::wstring();
}

// Calls visit(line) for every line of a section (with `key`, only those).
template <typename Visit>
void ForEachLine(HINF inf, const std::wstring& section, const wchar_t* key, Visit visit) {
  INFCONTEXT line;
  if (!SetupFindFirstLineW(inf, section.c_str(), key, &line)) return;
  do {
    visit(&line);
  } while (key ? SetupFindNextMatchLineW(&line, key, &line) : SetupFindNextLine(&line, &line));
}

void AddOnce(std::vector<std::wstring>& list, const std::wstring& item) {
  for (const std::wstring& known : list)
    if (SameId(known, item)) return;
  list.push_back(item);
}

bool NamesAny(const std::vector<std::wstring>& ids, const std::vector<std::wstring>& wanted) {
  for (const std::wstring& id : ids)
    for (const std::wstring& want : wanted)
      if (SameId(id, want)) return true;
  return false;
}

// The published INFs whose text holds one of `ids`, or the vendor and device
// part they share, as an ID: a cheap first sieve (one pass over the INF
// folder for a device's whole ID family) before SetupAPI reads each one.
std::vector<std::wstring> CandidateInfs(const std::vector<std::wstring>& ids) {
  std::vector<std::wstring> keys, found;
  for (const std::wstring& id : ids) AddOnce(keys, LeftoverInfKey(id.c_str()));
  for (const std::wstring& key : keys)
    for (const std::wstring& path : OemInfsNaming(key)) AddOnce(found, path);
  return found;
}

bool ReadInfInto(const std::wstring& path, InfReading& reading, UniqueInf& inf) {
  inf.reset(SetupOpenInfFileW(path.c_str(), nullptr, INF_STYLE_WIN4, nullptr));
  if (!inf) return false;
  reading.opened = true;
  const std::wstring cls = VersionField(inf.get(), L"Class");
  const std::wstring guid = VersionField(inf.get(), L"ClassGuid");
  if (_wcsicmp(cls.c_str(), L"Extension") == 0 || _wcsicmp(guid.c_str(), kExtensionClassGuid) == 0)
    reading.infClass = InfClass::kExtension;
  else if (_wcsicmp(cls.c_str(), L"SoftwareComponent") == 0 || _wcsicmp(guid.c_str(), kComponentClassGuid) == 0)
    reading.infClass = InfClass::kSoftwareComponent;
  ForEachLine(inf.get(), L"Manufacturer", nullptr, [&](INFCONTEXT* manufacturer) {
    const std::wstring models = Field(manufacturer, 1);
    if (models.empty()) return;
    std::vector<std::wstring> sections{models};
    const DWORD fields = SetupGetFieldCount(manufacturer);
    for (DWORD i = 2; i <= fields; ++i) {
      const std::wstring decoration = Field(manufacturer, i);
      if (!decoration.empty()) sections.push_back(models + L"." + decoration);
    }
    for (const std::wstring& section : sections) {
      ForEachLine(inf.get(), section, nullptr, [&](INFCONTEXT* model) {
        InfModel entry;
        entry.install = Field(model, 1);
        const DWORD count = SetupGetFieldCount(model);
        for (DWORD i = 2; i <= count; ++i) {
          std::wstring id = Field(model, i);
          if (!id.empty()) entry.ids.push_back(std::move(id));
        }
        if (!entry.install.empty()) reading.models.push_back(std::move(entry));
      });
    }
  });
  return true;
}

// Walks every device Windows knows, present or not: on the vendor road the
// adapter is removed before this step, and its software devices with it
// are no longer present, though they are still in the device tree.
template <typename Visit>
void ForEachKnownDevice(Visit visit) {
  UniqueDevInfo set(SetupDiGetClassDevsW(nullptr, nullptr, nullptr, DIGCF_ALLCLASSES));
  if (set) ForEachDeviceIn(set.get(), visit);
}

// The software devices, present or not, whose hardware IDs name one of the
// component IDs as SWC\<id>.
std::vector<std::wstring> SoftwareDevices(const std::vector<std::wstring>& componentIds) {
  std::vector<std::wstring> swcIds, devices;
  for (const std::wstring& id : componentIds) swcIds.push_back(L"SWC\\" + id);
  ForEachKnownDevice([&](HDEVINFO set, SP_DEVINFO_DATA* device) {
    IdList ids = GetDeviceIdList(set, device, SPDRP_HARDWAREID);
    if (ids && NamesAny(*ids, swcIds)) {
      wchar_t instance[512] = {};
      if (SetupDiGetDeviceInstanceIdW(set, device, instance, 511, nullptr)) devices.emplace_back(instance);
    }
    return true;
  });
  return devices;
}

bool RemoveSoftwareDevice(const std::wstring& instanceId) {
  bool removed = false;
  ForEachKnownDevice([&](HDEVINFO set, SP_DEVINFO_DATA* device) {
    wchar_t instance[512] = {};
    if (!SetupDiGetDeviceInstanceIdW(set, device, instance, 511, nullptr) ||
        _wcsicmp(instance, instanceId.c_str()) != 0)
      return true;
    removed = RemoveDeviceOf(set, device);
    return false;
  });
  return removed;
}

}  // namespace

bool SameId(const std::wstring& a, const std::wstring& b) { return _wcsicmp(a.c_str(), b.c_str()) == 0; }

bool ModelsName(const std::vector<InfModel>& models, const std::vector<std::wstring>& ids) {
  for (const InfModel& model : models)
    if (NamesAny(model.ids, ids)) return true;
  return false;
}

InfReading ReadInf(const std::wstring& path) {
  InfReading reading;
  UniqueInf inf;
  ReadInfInto(path, reading, inf);
  return reading;
}

std::vector<std::wstring> ComponentIdsFor(HINF inf, const std::vector<InfModel>& models,
                                          const std::vector<std::wstring>& deviceIds) {
  std::vector<std::wstring> ids, installs;
  for (const InfModel& model : models)
    if (NamesAny(model.ids, deviceIds)) AddOnce(installs, model.install);
  for (const std::wstring& install : installs) {
    for (const wchar_t* decoration : kInstallDecorations) {
      ForEachLine(inf, install + decoration + L".Components", L"AddComponent", [&](INFCONTEXT* add) {
        const std::wstring section = Field(add, 3);  // AddComponent = name, flags, section
        if (section.empty()) return;
        ForEachLine(inf, section, L"ComponentIDs", [&](INFCONTEXT* line) {
          const DWORD count = SetupGetFieldCount(line);
          for (DWORD i = 1; i <= count; ++i) {
            const std::wstring id = Field(line, i);
            if (!id.empty()) AddOnce(ids, id);
          }
        });
      });
    }
  }
  return ids;
}

std::vector<std::wstring> DeviceIdFamily(const wchar_t* hardwareId) {
  if (!hardwareId || !*hardwareId) return {};
  UniqueDevInfo set(ListPresentDevices());
  return DeviceIdFamily(set ? set.get() : INVALID_HANDLE_VALUE, hardwareId);
}

std::vector<std::wstring> DeviceIdFamily(HDEVINFO set, const wchar_t* hardwareId) {
  std::vector<std::wstring> family;
  if (!hardwareId || !*hardwareId) return family;
  const std::wstring key = LeftoverInfKey(hardwareId);
  for (std::wstring id = hardwareId;;) {
    AddOnce(family, id);
    const size_t amp = id.rfind(L'&');
    if (amp == std::wstring::npos || amp < key.size()) break;
    id.resize(amp);
  }
  if (set == INVALID_HANDLE_VALUE) return family;
  ForEachDeviceIn(set, [&](HDEVINFO set, SP_DEVINFO_DATA* device) {
    IdList hardwareIds = GetDeviceIdList(set, device, SPDRP_HARDWAREID);
    IdList compatibleIds = GetDeviceIdList(set, device, SPDRP_COMPATIBLEIDS);
    if (!MatchAnyId(hardwareIds, hardwareId) && !MatchAnyId(compatibleIds, hardwareId)) return true;
    if (hardwareIds)
      for (const std::wstring& id : *hardwareIds) AddOnce(family, id);
    if (compatibleIds)
      for (const std::wstring& id : *compatibleIds)
        if (_wcsnicmp(id.c_str(), key.c_str(), key.size()) == 0) AddOnce(family, id);
    return true;
  });
  return family;
}

DeviceComponents FindDeviceComponents(const std::vector<std::wstring>& deviceIds, const std::wstring& baseInf) {
  DeviceComponents found;
  if (deviceIds.empty()) return found;
  std::vector<std::wstring> infs = CandidateInfs(deviceIds);
  if (!baseInf.empty() && machine::Exists(baseInf)) AddOnce(infs, baseInf);
  for (const std::wstring& path : infs) {
    InfReading reading;
    UniqueInf inf;
    if (!ReadInfInto(path, reading, inf) || !ModelsName(reading.models, deviceIds)) continue;
    if (reading.infClass == InfClass::kSoftwareComponent) continue;
    // Only a published INF is removed; the device's own INF is only read.
    if (reading.infClass == InfClass::kExtension && !SameId(path, baseInf)) found.extensionInfs.push_back(path);
    for (const std::wstring& id : ComponentIdsFor(inf.get(), reading.models, deviceIds))
      AddOnce(found.componentIds, id);
  }
  if (found.componentIds.empty()) return found;
  std::vector<std::wstring> swcIds;
  for (const std::wstring& id : found.componentIds) swcIds.push_back(L"SWC\\" + id);
  for (const std::wstring& path : CandidateInfs(swcIds)) {
    bool listed = false;
    for (const std::wstring& extension : found.extensionInfs) listed = listed || SameId(extension, path);
    if (!listed && ModelsName(ReadInf(path).models, swcIds)) found.componentInfs.push_back(path);
  }
  found.devices = SoftwareDevices(found.componentIds);
  return found;
}

void LogDeviceComponents(const DeviceComponents& found) {
  for (const std::wstring& id : found.componentIds) KLOG_RAW("components: component SWC\\%S\n", id.c_str());
  for (const std::wstring& device : found.devices) KLOG_RAW("components: software device %S\n", device.c_str());
  for (const std::wstring& inf : found.componentInfs) KLOG_RAW("components: component package %S\n", inf.c_str());
  for (const std::wstring& inf : found.extensionInfs) KLOG_RAW("components: extension package %S\n", inf.c_str());
}

bool RemoveDeviceComponents(const DeviceComponents& found) {
  bool removed = false;
  for (const std::wstring& device : found.devices)
    if (RemoveSoftwareDevice(device)) removed = true;
  for (const std::wstring& inf : found.componentInfs)
    if (RemovePublishedInf(inf)) removed = true;
  for (const std::wstring& inf : found.extensionInfs)
    if (RemovePublishedInf(inf)) removed = true;
  return removed;
}

bool CleanDeviceComponentsHere(const wchar_t* hardwareId) {
  DeviceComponents found = FindDeviceComponents(DeviceIdFamily(hardwareId));
  LogDeviceComponents(found);
  return RemoveDeviceComponents(found);
}

void CleanDeviceComponents(const wchar_t* hardwareId) {
  if (!hardwareId || !*hardwareId) return;
  if (Is32BitSystem()) {
    CleanDeviceComponentsHere(hardwareId);
    return;
  }
  DWORD exitCode = 0;
  if (!RunDrv64(L"kydcomponents", hardwareId, exitCode))
    KLOG(base::LOG_ERROR, "components: drv64.exe not started for %S", hardwareId);
  else
    KLOG(base::LOG_INFO, "components: drv64.exe returned %d", static_cast<int>(exitCode));
}

}  // namespace kyd
