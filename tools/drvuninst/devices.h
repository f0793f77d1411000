// The present devices as drvuninst lists them.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

namespace drvuninst {

struct Device {
  std::wstring instanceId;
  std::wstring classGuid;
  std::wstring className;
  std::vector<std::wstring> hardwareIds;
  std::wstring inf;  // the INF of the installed driver, as SetupAPI keeps it
  // The extension and component packages published for the device (found
  // for a device whose driver is a published oem INF, as DCH drivers are).
  std::vector<std::wstring> extensionInfs, componentInfs;
};

// Fills in the device's extension and component packages.
void FindComponentPackages(Device& device);

// Every present device, in SetupAPI's order. error: 0, or why the devices
// could not be listed.
std::vector<Device> PresentDevices(DWORD& error);

}  // namespace drvuninst
