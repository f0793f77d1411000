#pragma once

#include "platform/handle.h"

namespace kyd {

inline HDEVINFO ListPresentDevices() {
  return SetupDiGetClassDevsW(nullptr, nullptr, nullptr, DIGCF_ALLCLASSES | DIGCF_PRESENT);
}

template <typename Visit>
void ForEachDeviceIn(HDEVINFO set, Visit visit) {
  SP_DEVINFO_DATA device{};
  device.cbSize = sizeof device;
  for (DWORD index = 0; SetupDiEnumDeviceInfo(set, index, &device); ++index) {
    if (!visit(set, &device)) break;
  }
}

template <typename Visit>
bool ForEachPresentDevice(Visit visit) {
  UniqueDevInfo set(ListPresentDevices());
  if (!set) return false;
  ForEachDeviceIn(set.get(), visit);
  return true;
}

}  // namespace kyd
