#include "tools/drvuninst/library.h"

#include "platform/env.h"
#include "tools/drvuninst/console_text.h"

namespace drvuninst {

Library::Library() : path_(kyd::GetHostFolder() + L"KYDDrvUninst.dll") {
  module_.reset(LoadLibraryW(path_.c_str()));
  if (!module_) {
    error_ = GetLastError();
    return;
  }
  if (!Find(init, "DrvUninst_Init") || !Find(unit, "DrvUninst_Unit") ||
      !Find(query, "DrvUninst_IsDrvAppInstall") || !Find(uninstall, "DrvUninst_UninstallDrv"))
    error_ = ERROR_PROC_NOT_FOUND;
  if (module_) {
    Find(uninstallEx, "DrvUninst_UninstallDrvEx");
    Find(restore, "DrvUninst_Restore");
    if (error_ == ERROR_SUCCESS) missing_.clear();
  }
}

std::wstring Library::Problem() const {
  return L"cannot use " + path_ +
         (missing_.empty() ? L"" : L": it lacks " + std::wstring(missing_.begin(), missing_.end())) + L" (error " +
         std::to_wstring(error_) + L")";
}

int Library::Failure() const {
  Error(L"drvuninst: " + Problem() + L"\n");
  bool clashes = error_ == kExitDone || error_ == kExitNothing || error_ == kExitUsage ||
                 error_ == static_cast<DWORD>(kExitRestart) || error_ == static_cast<DWORD>(kExitBusy);
  return clashes ? ERROR_MOD_NOT_FOUND : static_cast<int>(error_);
}

}  // namespace drvuninst
