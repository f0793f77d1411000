#include "removal/driver_removal.h"

#include <windows.h>
#include <setupapi.h>

#include <cwchar>

#include "machine/dir_tree.h"
#include "machine/machine.h"
#include "platform/base_log.h"
#include "platform/command_line.h"
#include "platform/env.h"
#include "platform/handle.h"
#include "removal/components.h"
#include "removal/device_match.h"
#include "removal/difx.h"
#include "removal/drv64_run.h"

namespace kyd {
namespace {

constexpr char kLogUnit[] = "KYDRemoveDriver";

bool FileExists(const std::wstring& path) { return machine::Exists(path); }

// The driver-store folder of an OEM package, from DIFx.
std::wstring PackageFolder(const DifxApi& difx, const std::wstring& infPath) {
  wchar_t path[MAX_PATH] = {};
  DWORD chars = MAX_PATH;
  if (difx.DriverPackageGetPath(infPath.c_str(), path, &chars) != ERROR_SUCCESS) return {};
  path[MAX_PATH - 1] = L'\0';
  std::wstring folder = path;
  size_t slash = folder.rfind(L'\\');
  if (slash == std::wstring::npos) return {};
  folder.resize(slash);
  return folder;
}

// Windows drops dots and blanks at the end of a path step, so a step made
// of nothing else can become "." or "..".
bool IsDotStep(const std::wstring& step) {
  return step.empty() || step.find_first_not_of(L". ") == std::wstring::npos;
}

}  // namespace

bool RemoveDeviceOf(HDEVINFO set, SP_DEVINFO_DATA* device) {
  SP_REMOVEDEVICE_PARAMS remove{};
  remove.ClassInstallHeader.cbSize = sizeof(SP_CLASSINSTALL_HEADER);
  remove.ClassInstallHeader.InstallFunction = DIF_REMOVE;
  remove.Scope = DI_REMOVEDEVICE_GLOBAL;
  remove.HwProfile = 0;
  if (machine::RemoveDevice(set, device, [&] {
        return SetupDiSetClassInstallParamsW(set, device, &remove.ClassInstallHeader, sizeof remove) &&
               SetupDiCallClassInstaller(DIF_REMOVE, set, device);
      })) {
    KLOG_RAW("RemoveDriver: SetupDiCallClassInstaller Success.\n");
    return true;
  }
  KLOG_RAW("RemoveDriver: SetupDiCallClassInstaller Failed. Use SetupDiRemoveDevice\n");
  if (machine::RemoveDevice(set, device, [&] { return SetupDiRemoveDevice(set, device) != FALSE; })) {
    KLOG_RAW("RemoveDriver: SetupDiRemoveDevice Success.\n");
    return true;
  }
  return false;
}

void ResetDevicePath() {
  static const wchar_t kPath[] = L"%SystemRoot%\\inf";
  machine::WriteValue(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion", KEY_SET_VALUE,
                      /*create=*/false, L"DevicePath", REG_EXPAND_SZ, kPath, sizeof kPath);
}

int KYDRemove(const wchar_t* hardwareId) {
  bool deletePackageFiles = true;
  bool rebootNeeded = false;
  ResetDevicePath();
  KLOG(base::LOG_INFO, "KYDRemove HwID %S ", hardwareId);
  bool removed = Is32BitSystem() ? RemoveDriver(hardwareId, deletePackageFiles, rebootNeeded)
                                 : RunRemovalProgram(hardwareId, rebootNeeded);
  if (!removed) return 0;
  return rebootNeeded ? 2 : 1;
}

unsigned long RemovalDoneCode(bool rebootNeeded, long scheduledBefore) {
  const bool filesLeft = machine::ScheduledDeletions() != scheduledBefore;  // package files in use
  return kRemovalDone | (rebootNeeded || filesLeft ? kRemovalRebootFlag : 0);
}

std::wstring RemovalCommandLine(const std::wstring& program, const wchar_t* hardwareId,
                               const wchar_t* command) {
  // A device ID may hold a quote: it is escaped for drv64.exe's splitting.
  return L"\"" + program + L"\" \"" + command + L"\" " + QuoteArgument(hardwareId);
}

bool RunDrv64(const wchar_t* command, const wchar_t* hardwareId, DWORD& exitCode) {
  if (!command || !hardwareId) return false;
  exitCode = 0;
  return RunDrv64Command({command, hardwareId}, exitCode);
}

bool IsInsideDriverStore(const std::wstring& folder) {
  std::wstring path = folder;
  for (wchar_t& c : path)
    if (c == L'/') c = L'\\';
  for (size_t start = 0;;) {
    size_t end = path.find(L'\\', start);
    if (IsDotStep(path.substr(start, end == std::wstring::npos ? end : end - start))) return false;
    if (end == std::wstring::npos) break;
    start = end + 1;
  }
  std::wstring system = GetSystemDir();
  if (system.empty()) return false;
  for (const wchar_t* store : {L"\\DriverStore\\FileRepository\\", L"\\DRVSTORE\\"}) {
    std::wstring root = system + store;
    if (path.size() > root.size() && _wcsnicmp(path.c_str(), root.c_str(), root.size()) == 0)
      return true;
  }
  return false;
}

PackageFiles FindPackageFiles(const DifxApi& difx, const std::wstring& infPath) {
  PackageFiles files;
  // Only a published package is the vendor's; an INF that came with Windows
  // and its package stay, whatever device used them.
  if (infPath.find(L"\\oem") == std::wstring::npos) return files;
  files.oemInf = true;
  std::wstring folder = PackageFolder(difx, infPath);
  if (folder.empty()) return files;
  // The folder is deleted with everything in it: never one that DIFx names
  // outside the store.
  if (IsInsideDriverStore(folder)) files.folder = folder;
  else KLOG_RAW("RemoveDriver: package folder %S is outside the driver store, left\n", folder.c_str());
  return files;
}

bool RunRemovalProgram(const wchar_t* hardwareId, bool& rebootNeeded) {
  DWORD exitCode = 0;
  if (!RunDrv64(L"kydremove", hardwareId, exitCode)) {
    KLOG_RAW("[COMEBACK]:启动64位驱动卸载进程失败\n");
    return false;
  }
  KLOG_RAW("[UNINSTALL]:64位驱动卸载返回代码 %d\n", static_cast<int>(exitCode));
  if (exitCode != kRemovalDone && exitCode != (kRemovalDone | kRemovalRebootFlag)) return false;
  rebootNeeded = (exitCode & kRemovalRebootFlag) != 0;
  return true;
}

bool RemoveDriver(const wchar_t* hardwareId, bool& deletePackageFiles, bool& rebootNeeded) {
  bool removed = false;
  DifxApi difx;
  bool listed = ForEachPresentDevice([&](HDEVINFO set, SP_DEVINFO_DATA* device) {
    IdList hardwareIds = GetDeviceIdList(set, device, SPDRP_HARDWAREID);
    IdList compatibleIds = GetDeviceIdList(set, device, SPDRP_COMPATIBLEIDS);
    if (!MatchAnyId(hardwareIds, hardwareId) && !MatchAnyId(compatibleIds, hardwareId)) return true;

    KLOG_RAW("match hwIds:  %S\n", hardwareIds && !hardwareIds->empty() ? hardwareIds->front().c_str() : L"");
    KLOG_RAW("match compatIds: %S\n",
             compatibleIds && !compatibleIds->empty() ? compatibleIds->front().c_str() : L"");

    std::wstring infPath, instanceId;
    PackageFiles package;
    DriverFileInfo fileInfo;
    DriverInfo driverInfo;
    // Both searches walk this same set of present devices.
    if (hardwareIds && FindInstanceIdByIds(set, hardwareIds, instanceId) &&
        GetCurrentDriverInfo(set, instanceId, fileInfo, driverInfo)) {
      infPath = fileInfo.InfFileName;
      package = FindPackageFiles(difx, infPath);
    }
    // The device's software components and extension packages go first,
    // while its base INF can still be read; its ID family comes from this
    // same set too.
    std::vector<std::wstring> ids = DeviceIdFamily(set, hardwareId);
    if (hardwareIds)
      for (const std::wstring& id : *hardwareIds) ids.push_back(id);
    DeviceComponents components = FindDeviceComponents(ids, infPath);
    LogDeviceComponents(components);
    RemoveDeviceComponents(components);

    rebootNeeded = false;
    if (difx.loaded()) {
      BOOL difxReboot = FALSE;
      DWORD flags = deletePackageFiles ? (DRIVER_PACKAGE_DELETE_FILES | DRIVER_PACKAGE_FORCE) : 0;
      if (machine::RemoveDriverPackage(infPath, package.folder, [&] {
            return difx.DriverPackageUninstall(infPath.c_str(), flags, &difxReboot);
          }) == ERROR_SUCCESS) {
        removed = true;
        rebootNeeded = difxReboot != FALSE;
        KLOG_RAW("RemoveDriver: inf %S\n", infPath.c_str());
        KLOG_RAW("RemoveDriver: DriverPackageUninstall Success.\n");
      }
    }

    if (RemoveDeviceOf(set, device)) removed = true;
    if (package.oemInf && !removed) return false;

    if (package.oemInf && removed && deletePackageFiles) {
      if (!infPath.empty() && FileExists(infPath)) {
        KLOG_RAW("RemoveDriver: del inf file => %S\n", infPath.c_str());
        machine::RemoveFile(infPath);
      }
      if (!package.folder.empty() && FileExists(package.folder)) RemoveDirectoryTree(package.folder);
    }
    if (removed) {
      SP_DEVINSTALL_PARAMS_W params{};
      params.cbSize = sizeof params;
      if (SetupDiGetDeviceInstallParamsW(set, device, &params))
        rebootNeeded = (params.Flags & (DI_NEEDREBOOT | DI_NEEDRESTART)) != 0;
    }
    return false;  // only the first matching device is handled
  });
  if (!listed) return false;
  KLOG_RAW("RemoveDriver: return value = %d, IsNeedReboot = %d\n", removed ? 1 : 0,
           rebootNeeded ? 1 : 0);
  return removed;
}

}  // namespace kyd
