// The device-console tool that the library carries as resources 102 to 105
// and writes to a folder of its own in the temp folder for the length of one
// operation: the device removal of the display and media layers and the
// driver store cleanup.
#pragma once

#include <windows.h>

#include <string>

#include "platform/handle.h"

namespace kyd {

// Resource numbers of the four builds (type "EXE", Chinese (PRC)).
enum DeviceToolBuildNumber : WORD {
  kToolX86Vista = 102,  // x86, subsystem 6.0
  kToolX64Vista = 103,  // x64, subsystem 6.0
  kToolX86Xp = 104,     // x86, subsystem 5.1
  kToolX64Xp = 105,     // x64, subsystem 5.2
};

// The build for a version class (GetOsVersionClass) and bitness: the Vista
// builds above class 32, the XP builds for XP, Server 2003, older systems and
// the systems the version table does not know (class 0).
constexpr WORD DeviceToolBuildFor(DWORD versionClass, bool windows64) {
  if (versionClass > 32) return windows64 ? kToolX64Vista : kToolX86Vista;
  return windows64 ? kToolX64Xp : kToolX86Xp;
}

// One release of the tool. It runs with the host's administrator rights, so
// it is never written where other programs could replace it or drop a DLL
// beside it: Release creates a folder of its own inside the temp folder, new
// and under a name nobody can guess, open only to administrators and SYSTEM,
// and writes "kyduninst.exe" there locked (see ReleaseRes). When the object
// goes the lock is let go and the file and the folder are deleted.
class CDeviceTool {
 public:
  CDeviceTool() = default;
  ~CDeviceTool();
  CDeviceTool(const CDeviceTool&) = delete;
  CDeviceTool& operator=(const CDeviceTool&) = delete;

  bool Release(WORD number);
  bool released() const { return released_; }
  const std::wstring& path() const { return path_; }  // empty until Release made a folder

 private:
  std::wstring folder_;
  std::wstring path_;
  UniqueFile lock_;
  bool released_ = false;
};

}  // namespace kyd
