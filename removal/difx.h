// The Driver Install Frameworks API, loaded at run time: it is not part of
// every Windows. Only the host executable's folder and the system folder are
// searched, never the current folder.
#pragma once

#include <windows.h>

#include <string>

#include "platform/handle.h"

namespace kyd {

constexpr DWORD DRIVER_PACKAGE_FORCE = 0x00000004;
constexpr DWORD DRIVER_PACKAGE_DELETE_FILES = 0x00000020;

class DifxApi {
 public:
  DifxApi();
  explicit DifxApi(const std::wstring& dllPath);  // that copy only
  bool loaded() const { return uninstall_ != nullptr; }

  // Both answer ERROR_PROC_NOT_FOUND when the library is missing.
  DWORD DriverPackageUninstall(const wchar_t* infPath, DWORD flags, BOOL* needReboot) const;
  DWORD DriverPackageGetPath(const wchar_t* infPath, wchar_t* path, DWORD* chars) const;

 private:
  void Load(const std::wstring& dllPath);

  using UninstallFn = DWORD(WINAPI*)(PCWSTR, DWORD, const void*, BOOL*);
  using GetPathFn = DWORD(WINAPI*)(PCWSTR, PWSTR, DWORD*);

  UniqueModule module_;
  UninstallFn uninstall_ = nullptr;
  GetPathFn getPath_ = nullptr;
};

}  // namespace kyd
