// Test bench for the device-console tool: its shipped builds, the library's
// resources, a temp folder of the test's own, the log, Wine's per-program
// Windows version.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

#include "platform/handle.h"

namespace kydtest {

// The shipped file of tool build `number` (102 to 105) in the shipping trees.
std::wstring DeviceToolBuildFile(WORD number);

// Loads dist's KYDDrvUninst.dll as a data file and points g_moduleInstance at
// it, so that the engine finds its embedded tool; puts the old value back.
class LibraryResourcesScope {
 public:
  LibraryResourcesScope();
  ~LibraryResourcesScope();
  LibraryResourcesScope(const LibraryResourcesScope&) = delete;
  LibraryResourcesScope& operator=(const LibraryResourcesScope&) = delete;
  bool ok() const { return module_.valid(); }
  HMODULE module() const { return module_.get(); }

 private:
  kyd::UniqueModule module_;
  HINSTANCE previous_ = nullptr;
};

// TMP and TEMP of this process (and the children it starts) point at `folder`
// for the life of the object; GetTempPathW answers it with a backslash.
class TempFolderScope {
 public:
  explicit TempFolderScope(const std::wstring& folder);
  ~TempFolderScope();
  TempFolderScope(const TempFolderScope&) = delete;
  TempFolderScope& operator=(const TempFolderScope&) = delete;

 private:
  std::wstring oldTmp_, oldTemp_;
  bool hadTmp_ = false, hadTemp_ = false;
};

// An environment variable set for the life of the object.
class EnvironmentScope {
 public:
  EnvironmentScope(const std::wstring& name, const std::wstring& value);
  ~EnvironmentScope();
  EnvironmentScope(const EnvironmentScope&) = delete;
  EnvironmentScope& operator=(const EnvironmentScope&) = delete;

 private:
  std::wstring name_, old_;
  bool had_ = false;
};

// The library's log switched on into `path` (all levels) until Finish, which
// switches it off and answers what was written.
class LogToFile {
 public:
  explicit LogToFile(const std::wstring& path);
  ~LogToFile();
  LogToFile(const LogToFile&) = delete;
  LogToFile& operator=(const LogToFile&) = delete;
  std::string Finish();

 private:
  std::wstring path_;
  bool open_ = false;
};

// HKCU\Software\Wine\AppDefaults\<exeName>\Version for the life of the object:
// Wine shows a program of that file name that Windows version.
class WineAppVersion {
 public:
  WineAppVersion(const std::wstring& exeName, const std::wstring& version);
  ~WineAppVersion();
  WineAppVersion(const WineAppVersion&) = delete;
  WineAppVersion& operator=(const WineAppVersion&) = delete;

 private:
  std::wstring key_;
};

// HKCU\Software\Wine\AppDefaults\<exeName>\DllOverrides for the life of
// the object: for a program of that file name Wine loads the named DLLs from
// a native file first, as Windows does for a DLL it does not protect (Wine
// otherwise prefers its own builtin DLL over one beside the program).
class NativeDllsFirst {
 public:
  NativeDllsFirst(const std::wstring& exeName, const std::vector<std::wstring>& dlls);
  ~NativeDllsFirst();
  NativeDllsFirst(const NativeDllsFirst&) = delete;
  NativeDllsFirst& operator=(const NativeDllsFirst&) = delete;

 private:
  std::wstring key_;
};

// The header fields of a program image that say where it runs.
struct ImageHeader {
  bool ok = false;
  WORD machine = 0;  // IMAGE_FILE_MACHINE_I386 or _AMD64
  WORD subsystemMajor = 0, subsystemMinor = 0;
  WORD subsystem = 0;  // IMAGE_SUBSYSTEM_WINDOWS_CUI for a console program
};
ImageHeader ReadImageHeader(const std::string& bytes);

// Count of non-overlapping occurrences of `part` in `text`.
size_t CountOf(const std::string& text, const std::string& part);

}  // namespace kydtest
