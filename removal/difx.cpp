#include "removal/difx.h"

#include <string>

#include "platform/env.h"

namespace kyd {

DifxApi::DifxApi() {
  for (const std::wstring& folder : {GetHostFolder(), GetSystemDir() + L"\\"}) {
    if (folder.size() <= 1) continue;
    Load(folder + L"difxapi.dll");
    if (module_) break;
  }
}

DifxApi::DifxApi(const std::wstring& dllPath) { Load(dllPath); }

void DifxApi::Load(const std::wstring& dllPath) {
  module_.reset(LoadLibraryExW(dllPath.c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH));
  if (!module_) return;
  uninstall_ = reinterpret_cast<UninstallFn>(
      reinterpret_cast<void*>(GetProcAddress(module_.get(), "DriverPackageUninstallW")));
  getPath_ = reinterpret_cast<GetPathFn>(
      reinterpret_cast<void*>(GetProcAddress(module_.get(), "DriverPackageGetPathW")));
}

DWORD DifxApi::DriverPackageUninstall(const wchar_t* infPath, DWORD flags, BOOL* needReboot) const {
  if (!uninstall_) return ERROR_PROC_NOT_FOUND;
  return uninstall_(infPath, flags, nullptr, needReboot);
}

DWORD DifxApi::DriverPackageGetPath(const wchar_t* infPath, wchar_t* path, DWORD* chars) const {
  if (!getPath_) return ERROR_PROC_NOT_FOUND;
  return getPath_(infPath, path, chars);
}

}  // namespace kyd
