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
};

// Every present device, in SetupAPI's order. error: 0, or why the devices
// could not be listed.
std::vector<Device> PresentDevices(DWORD& error);

}  // namespace drvuninst
