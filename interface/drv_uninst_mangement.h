// The uninstall flow behind the exports: picks one of three roads (vendor
// cleaner, companion package, SetupAPI/DIFx removal) and cleans up after it.
#pragma once

namespace kyd {

// Setup class GUIDs the flow knows.
constexpr wchar_t kDisplayClassGuid[] = L"{4D36E968-E325-11CE-BFC1-08002BE10318}";
constexpr wchar_t kMediaClassGuid[] = L"{4D36E96C-E325-11CE-BFC1-08002BE10318}";

// Results of UninstallDrv.
enum UninstallResult { kNothingUninstalled = 0, kUninstalled = 1, kUninstalledReboot = 2 };
// Results of UninstallDrvApp.
enum PackageUninstallResult {
  kPackageNotUninstalled = 2,
  kPackageUninstalled = 3,
  kPackageUninstalledReboot = 4,  // its uninstaller said a restart completes the removal
};

class CDrvUninstMangement {
 public:
  int IsDrvAppInstall(const wchar_t* hardwareId, const wchar_t* classGuid);
  // nativeSystem: on 64-bit Windows the vendor clean also takes the vendor's
  // files from the native System32 and its drivers folder (drv64.exe).
  int UninstallDrv(const wchar_t* hardwareId, const wchar_t* classGuid, int keepDevice,
                   bool nativeSystem = false);
  int UninstallDrvApp(const wchar_t* hardwareId, const wchar_t* classGuid);
};

}  // namespace kyd
