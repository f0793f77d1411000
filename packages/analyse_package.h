// The companion application packages described for a device.
#pragma once

namespace kyd {

class CAnalysePackage {
 public:
  // 1 when a package for the device is described and installed.
  int FindPackage(const wchar_t* classGuid, const wchar_t* hardwareId);
  // Uninstalls the packages found; sets rebootNeeded when a restart is due.
  int UninstAppPackage(int& rebootNeeded);
};

}  // namespace kyd
