// KYDDrvUninst.dll as drvuninst loads it: from drvuninst's own folder, with
// its exports looked up by name, as a driver-management tool would.
#pragma once

#include <windows.h>

#include <string>

#include "interface/KYDDrvUninst.h"
#include "platform/handle.h"

namespace drvuninst {

class Library {
 public:
  Library();

  // For a command that needs an export the build may lack.
  template <typename Fn>
  bool Needs(Fn fn, const char* name) {
    if (fn) return true;
    error_ = ERROR_PROC_NOT_FOUND;
    missing_ = name;
    return false;
  }

  explicit operator bool() const { return error_ == ERROR_SUCCESS; }

  // Says why the library cannot be used; the Windows error is the exit code
  // (one that reads as another of drvuninst's codes is reported as "not
  // found").
  int Failure() const;
  // What Failure says, without its line end.
  std::wstring Problem() const;

  decltype(&DrvUninst_Init) init = nullptr;
  decltype(&DrvUninst_Unit) unit = nullptr;
  decltype(&DrvUninst_IsDrvAppInstall) query = nullptr;
  decltype(&DrvUninst_UninstallDrv) uninstall = nullptr;
  // Plans, journals, restores and the busy answer: absent from builds before
  // them.
  decltype(&DrvUninst_UninstallDrvEx) uninstallEx = nullptr;
  decltype(&DrvUninst_Restore) restore = nullptr;

 private:
  template <typename Fn>
  bool Find(Fn& fn, const char* name) {
    fn = reinterpret_cast<Fn>(reinterpret_cast<void*>(GetProcAddress(module_.get(), name)));
    if (!fn) missing_ = name;
    return fn != nullptr;
  }

  std::wstring path_;
  kyd::UniqueModule module_;
  DWORD error_ = ERROR_SUCCESS;
  std::string missing_;
};

// drvuninst's exit codes besides Windows error codes.
constexpr int kExitDone = 0;
constexpr int kExitNothing = 1;
constexpr int kExitUsage = 2;
constexpr int kExitRestart = ERROR_SUCCESS_REBOOT_REQUIRED;  // 3010
// Another uninstall or restore held the machine: the code Windows Installer
// gives for "another installation is in progress", which deployment tools
// already take as "try again later".
constexpr int kExitBusy = ERROR_INSTALL_ALREADY_RUNNING;  // 1618

}  // namespace drvuninst
