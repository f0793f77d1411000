// The parts of a Windows 10 (DCH) driver beside its base package: the
// extension packages published for the device's hardware IDs, the software
// components the base and extension INFs add (AddComponent in an install
// section's .Components section, whose component section names the
// ComponentIDs), the software devices Windows makes for them (hardware ID
// SWC\<component ID>) and the component packages installed on those.
//
// Everything is found first and acted on after: software devices, then
// component packages, then extension packages. IDs match whole and without
// regard to case; a package or device that names another device's IDs stays.
#pragma once

#include <windows.h>
#include <setupapi.h>

#include <string>
#include <vector>

namespace kyd {

// What a published INF's [Version] section says it is.
enum class InfClass { kOther, kExtension, kSoftwareComponent };

// One line of a models section: its install section and the IDs it names.
struct InfModel {
  std::wstring install;
  std::vector<std::wstring> ids;
};

// An INF as SetupAPI reads it: its class, its model lines (every models
// section its [Manufacturer] lines name, undecorated and decorated), and the
// component IDs the install section of each model line adds.
struct InfReading {
  bool opened = false;
  InfClass infClass = InfClass::kOther;
  std::vector<InfModel> models;
};
InfReading ReadInf(const std::wstring& path);

// The component IDs that the model lines of `inf` naming one of `deviceIds`
// add, in the INF's order (the install section as written and decorated for
// each platform Windows knows).
std::vector<std::wstring> ComponentIdsFor(HINF inf, const std::vector<InfModel>& models,
                                          const std::vector<std::wstring>& deviceIds);

// True when some model line names one of `ids`, whole and in any case.
bool ModelsName(const std::vector<InfModel>& models, const std::vector<std::wstring>& ids);
bool SameId(const std::wstring& a, const std::wstring& b);

// The IDs the device and its packages know it by: the host's hardware ID and
// its shorter forms down to the vendor and device part (what Windows lists
// as the device's further hardware and compatible IDs), with the hardware
// IDs of the present devices carrying it and their compatible IDs of the
// same chip. Never a class-wide ID (PCI\CC_0300) another vendor's INF names.
// The second form walks `set`, the present devices a caller has listed (and
// may be walking itself), instead of listing them again.
std::vector<std::wstring> DeviceIdFamily(const wchar_t* hardwareId);
std::vector<std::wstring> DeviceIdFamily(HDEVINFO set, const wchar_t* hardwareId);

struct DeviceComponents {
  std::vector<std::wstring> componentIds;  // each once, in the order the INFs add them
  std::vector<std::wstring> devices;       // instance IDs of the software devices, present or not
  std::vector<std::wstring> componentInfs;  // published component packages
  std::vector<std::wstring> extensionInfs;  // published extension packages
  bool empty() const { return componentIds.empty() && extensionInfs.empty(); }
};

// Lists the device's extension packages and the components that its base
// INFs (baseInf when given, and the published INFs of another class naming
// the device) and its extension INFs add.
DeviceComponents FindDeviceComponents(const std::vector<std::wstring>& deviceIds,
                                      const std::wstring& baseInf = {});

// Removes what FindDeviceComponents listed, through the seam, in that order:
// the software devices, the component packages, the extension packages. True
// when anything was removed.
bool RemoveDeviceComponents(const DeviceComponents& found);

// Lists and removes in this process (what drv64.exe "kydcomponents" runs).
bool CleanDeviceComponentsHere(const wchar_t* hardwareId);

// The vendor road's step: in this process on 32-bit Windows; on 64-bit
// Windows, where device and package removal belong to 64-bit processes,
// through drv64.exe "kydcomponents" "<hardware id>".
void CleanDeviceComponents(const wchar_t* hardwareId);

// A log line naming what was found, for the log and drvuninst.
void LogDeviceComponents(const DeviceComponents& found);

}  // namespace kyd
