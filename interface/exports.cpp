// The four exported functions and the library's entry point. No exception
// leaves an export: the host gets a result code whatever happens inside.
#include <windows.h>

// The integrator's header declares what is defined here, so the two cannot
// drift apart; the .def exports them (no dllexport needed).
#define KYD_API
#include "interface/KYDDrvUninst.h"

#include "platform/base_log.h"
#include "interface/drv_uninst_mangement.h"
#include "platform/module.h"

namespace {
constexpr char kLogUnit[] = "KYDDrvUninst";
}

extern "C" {

BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID) {
  if (reason == DLL_PROCESS_ATTACH) g_moduleInstance = instance;
  return TRUE;
}

void __stdcall DrvUninst_Init() {}

int __stdcall DrvUninst_IsDrvAppInstall(const wchar_t* hardwareId, const wchar_t* classGuid) {
  try {
    kyd::CDrvUninstMangement management;
    if (management.IsDrvAppInstall(hardwareId, classGuid) == 1) return 1;
    KLOG(base::LOG_INFO, "IsDrvAppInstall QUERY_EXIST.\r\n");
  } catch (...) {
  }
  return 0;
}

int __stdcall DrvUninst_UninstallDrv(const wchar_t* hardwareId, const wchar_t* classGuid,
                                     int keepDevice) {
  try {
    kyd::CDrvUninstMangement management;
    return management.UninstallDrv(hardwareId, classGuid, keepDevice);
  } catch (...) {
    return 0;
  }
}

}  // extern "C"
