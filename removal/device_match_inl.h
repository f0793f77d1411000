#pragma once

#include "platform/handle.h"

namespace kyd {

template <typename Visit>
bool ForEachPresentDevice(Visit visit) {
  UniqueDevInfo set(SetupDiGetClassDevsW(nullptr, nullptr, nullptr, DIGCF_ALLCLASSES | DIGCF_PRESENT));
  if (!set) return false;
  SP_DEVINFO_DATA device{};
  device.cbSize = sizeof device;
  for (DWORD index = 0; SetupDiEnumDeviceInfo(set.get(), index, &device); ++index) {
    if (!visit(set.get(), &device)) break;
  }
  return true;
}

}  // namespace kyd
