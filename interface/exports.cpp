// The exported functions and the library's entry point. No exception
// leaves an export: the host gets a result code whatever happens inside.
// Uninstalls and restores take turns machine-wide (interface/uninstall_lock.h);
// the old DrvUninst_UninstallDrv answers 0 when its wait runs out, the newer
// two KYD_RESULT_BUSY.
#include <windows.h>

// The integrator's header declares what is defined here, so the two cannot
// drift apart; the .def exports them (no dllexport needed).
#define KYD_API
#include "interface/KYDDrvUninst.h"

#include "interface/drv_uninst_mangement.h"
#include "interface/uninstall_lock.h"
#include "machine/machine.h"
#include "platform/base_log.h"
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
    kyd::UninstallLock lock;
    if (!lock.held()) return 0;
    kyd::CDrvUninstMangement management;
    return management.UninstallDrv(hardwareId, classGuid, keepDevice);
  } catch (...) {
    return 0;
  }
}

int __stdcall DrvUninst_UninstallDrvEx(const wchar_t* hardwareId, const wchar_t* classGuid,
                                       int keepDevice, int flags, const wchar_t* journalFolder) {
  try {
    if (flags & ~(KYD_UNINSTALL_PLAN | KYD_UNINSTALL_JOURNAL | KYD_UNINSTALL_NO_WAIT | KYD_UNINSTALL_NATIVE_SYSTEM)) {
      KLOG(base::LOG_ERROR, "UninstallDrvEx: unknown flags 0x%x refused", static_cast<unsigned>(flags));
      return 0;
    }
    kyd::UninstallLock lock((flags & KYD_UNINSTALL_NO_WAIT) ? 0 : kyd::kUninstallWaitMs);
    if (!lock.held()) return KYD_RESULT_BUSY;
    flags &= ~KYD_UNINSTALL_NO_WAIT;
    kyd::CDrvUninstMangement management;
    const bool nativeSystem = (flags & KYD_UNINSTALL_NATIVE_SYSTEM) != 0;
    if (!(flags & (KYD_UNINSTALL_PLAN | KYD_UNINSTALL_JOURNAL)))
      return management.UninstallDrv(hardwareId, classGuid, keepDevice, nativeSystem);
    auto mode = (flags & KYD_UNINSTALL_PLAN) ? kyd::machine::Mode::kPlan : kyd::machine::Mode::kJournal;
    // The folder is checked (it must exist, be writable and empty) before
    // anything is changed; the session logs why it refuses one.
    kyd::machine::Session session(mode, journalFolder ? journalFolder : L"");
    if (!session.ok()) return 0;
    return management.UninstallDrv(hardwareId, classGuid, keepDevice, nativeSystem);
  } catch (...) {
    return 0;
  }
}

int __stdcall DrvUninst_Restore(const wchar_t* journalFolder) {
  try {
    kyd::UninstallLock lock;
    if (!lock.held()) return KYD_RESULT_BUSY;
    return kyd::machine::Restore(journalFolder ? journalFolder : L"");
  } catch (...) {
    return KYD_RESTORE_NOTHING;
  }
}

}  // extern "C"
