#include "interface/drv_uninst_mangement.h"

#include <windows.h>
#include <shlwapi.h>

#include "platform/base_log.h"
#include "interface/driver_search.h"
#include "packages/analyse_package.h"
#include "packages/app_package.h"
#include "platform/env.h"
#include "platform/find_str.h"
#include "machine/machine.h"
#include "removal/driver_removal.h"
#include "removal/drv64_run.h"
#include "removal/inf_index.h"
#include "removal/leftover_inf.h"
#include "vendors/cleaner_factory.h"

namespace kyd {
namespace {

constexpr char kLogUnit[] = "DrvUninstMangement";

// Device removal first (unless the host keeps the device), then the deep
// clean with SeDebugPrivilege held, so that protected vendor processes can
// be ended.
template <typename Cleaner, typename RemoveDevice>
int RunCleaner(Cleaner& cleaner, RemoveDevice removeDevice, const wchar_t* hardwareId,
               int keepDevice, bool nativeSystem) {
  int result = (keepDevice & 0xFF) ? kUninstalled : removeDevice(cleaner, hardwareId);
  cleaner.SetNativeSystem(nativeSystem);
  {
    DebugPrivilegeScope debugPrivilege;
    cleaner.DeepClean(keepDevice, hardwareId);
  }
  return result;
}

}  // namespace

int CDrvUninstMangement::IsDrvAppInstall(const wchar_t* hardwareId, const wchar_t* classGuid) {
  base::FunctionTracer trace("CDrvUninstMangement::IsDrvAppInstall");
  if (!hardwareId || !classGuid) {
    KLOG(base::LOG_ERROR, "IsDrvAppInstall return Failed! param is null! ");
    return -1;
  }
  CAnalysePackage packages;
  return packages.FindPackage(classGuid, hardwareId);
}

int CDrvUninstMangement::UninstallDrv(const wchar_t* hardwareId, const wchar_t* classGuid,
                                      int keepDevice, bool nativeSystem) {
  base::FunctionTracer trace("CDrvUninstMangement::UninstallDrv");
  machine::RunReads reads;  // each key is read once in this run
  InfIndexCall infs;        // and the INF folder once
  Drv64Call native;         // one drv64.exe run for the steps on the native side
  const long scheduledBefore = machine::ScheduledDeletions();
  int result = kNothingUninstalled;
  bool cleanInf = false;
  if (hardwareId) {
    if (!CloseAutoUpdateDrv()) KLOG(base::LOG_INFO, "KYDRemoveDriverEx CloseAutoUpdateDrv failed.\r\n");

    bool roadTaken = false;
    if (classGuid) {
      if (StrCmpIW(classGuid, kDisplayClassGuid) == 0) {
        if (auto cleaner = CreateDisplayDrvUninst(hardwareId)) {
          result = RunCleaner(
              *cleaner, [](CDisplayDrvUninst& c, const wchar_t* id) { return c.RemoveDisplay(id); },
              hardwareId, keepDevice, nativeSystem);
          roadTaken = true;
        }
      } else if (StrCmpIW(classGuid, kMediaClassGuid) == 0 && SafeStrStrIW(hardwareId, L"VEN_10EC")) {
        if (auto cleaner = CreateMediaDrvUninst()) {
          result = RunCleaner(
              *cleaner, [](CMediaDrvUninst& c, const wchar_t* id) { return c.RemoveMedia(id); },
              hardwareId, keepDevice, nativeSystem);
          roadTaken = true;
        }
      }
      if (!roadTaken && IsDrvAppInstall(hardwareId, classGuid) == 1) {
        roadTaken = true;
        const int app = UninstallDrvApp(hardwareId, classGuid);
        if (app == kPackageNotUninstalled) {
          KLOG(base::LOG_INFO, "KYDRemoveDriverEx UninstallDrvApp UNINSTALL_FAILED\r\n");
          result = kNothingUninstalled;
        } else {
          result = app == kPackageUninstalledReboot ? kUninstalledReboot : kUninstalled;
        }
      }
    }
    if (!roadTaken) result = KYDRemove(hardwareId);
    // Files the running system held go when Windows starts again: an
    // uninstall that needs the restart for them. A road that removed nothing
    // (its device removal failed) still answers so, and cleans no INFs.
    if (machine::ScheduledDeletions() != scheduledBefore) {
      KLOG(base::LOG_INFO, "%ld files and folders go at the next restart",
           machine::ScheduledDeletions() - scheduledBefore);
      if (result == kUninstalled) result = kUninstalledReboot;
    }
    cleanInf = result >= kUninstalled;
  }
  if (cleanInf) DeleteLeftoverInf(hardwareId);
  // A plan that lacks lines would tell the host less than the run does.
  if (machine::PlanIncomplete()) {
    KLOG(base::LOG_ERROR, "plan: some of its lines could not be written; the plan is incomplete, so the call fails");
    result = kNothingUninstalled;
  }
  KLOG(base::LOG_INFO, "KYDRemoveDriverEx result=%d\r\n", result);
  return result;
}

int CDrvUninstMangement::UninstallDrvApp(const wchar_t* hardwareId, const wchar_t* classGuid) {
  base::FunctionTracer trace("CDrvUninstMangement::UninstallDrvApp");
  CAnalysePackage packages;
  if (!hardwareId || !classGuid) {
    KLOG(base::LOG_ERROR, "UninstallDrvApp return Failed! param is null! ");
    return kPackageNotUninstalled;
  }
  if (packages.FindPackage(classGuid, hardwareId) != 1) {
    KLOG(base::LOG_ERROR, "UninstallDrvApp return Failed! Apppackage is not exist! ");
    return kPackageNotUninstalled;
  }
  int rebootNeeded = 0;
  packages.UninstAppPackage(rebootNeeded);
  KLOG(base::LOG_TRACE, "uninstApp.UninstAppPackage 调用结束");
  if (rebootNeeded) {
    KLOG(base::LOG_TRACE, "卸载成功并要求重启");
    // A wizard's completion page that offers a restart counts as removed;
    // Windows Installer saying that the restart completes the removal makes
    // it a removal that needs one.
    return rebootNeeded == kRestartRequired ? kPackageUninstalledReboot : kPackageUninstalled;
  }
  // A plan ran no uninstaller: the package is still there, and the road
  // would have taken it away.
  if (machine::Planning()) return kPackageUninstalled;
  KLOG(base::LOG_TRACE, "再次调用 uninstApp.IsEnableUninstallAppPackage");
  KLOG(base::LOG_TRACE, "Hwid: %S", hardwareId);
  KLOG(base::LOG_TRACE, "GUID: %S", classGuid);
  if (packages.FindPackage(classGuid, hardwareId) != 1) {
    KLOG(base::LOG_TRACE, "卸载成功");
    return kPackageUninstalled;
  }
  return kPackageNotUninstalled;
}

}  // namespace kyd
