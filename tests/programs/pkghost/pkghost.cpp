// pkghost.exe: a windowed host for the package road's tests. Copied beside
// KYDDrvUninst.dll, it loads the library from its own folder and calls
// DrvUninst_UninstallDrv(HWID, GUID, 0) on a thread that owns a window, as a
// driver-management tool's main thread does; the exit code is the result.
//   pkghost HWID GUID [--job]
//   --job   first put itself in a job that does not let children break away
#include <windows.h>

#include <string>
#include <vector>

#include "platform/command_line.h"
#include "platform/handle.h"

int main() {
  const std::vector<std::wstring> args = kyd::CommandLineArgs();
  if (args.size() < 3) return 90;
  kyd::UniqueHandle job;
  if (args.size() > 3 && args[3] == L"--job") {
    job.reset(CreateJobObjectW(nullptr, nullptr));
    if (!job || !AssignProcessToJobObject(job.get(), GetCurrentProcess())) return 91;
  }
  HWND window = CreateWindowExW(0, L"STATIC", L"Kyd host", WS_OVERLAPPEDWINDOW, 0, 0, 200, 100, nullptr,
                                nullptr, GetModuleHandleW(nullptr), nullptr);
  if (!window) return 92;
  wchar_t self[MAX_PATH] = {};
  GetModuleFileNameW(nullptr, self, MAX_PATH);
  std::wstring folder = self;
  folder.resize(folder.rfind(L'\\') + 1);
  kyd::UniqueModule library(LoadLibraryW((folder + L"KYDDrvUninst.dll").c_str()));
  if (!library) return 93;
  using UninstallFn = int(__stdcall*)(const wchar_t*, const wchar_t*, int);
  auto uninstall = reinterpret_cast<UninstallFn>(
      reinterpret_cast<void*>(GetProcAddress(library.get(), "DrvUninst_UninstallDrv")));
  if (!uninstall) return 94;
  const int result = uninstall(args[1].c_str(), args[2].c_str(), 0);
  DestroyWindow(window);
  return result;
}
