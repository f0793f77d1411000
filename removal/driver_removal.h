// The removal road: a present device and its OEM driver package are removed
// through SetupAPI and DIFx, on 64-bit Windows by drv64\drv64.exe.
#pragma once

#include <windows.h>
#include <setupapi.h>

#include <string>

namespace kyd {

// Exit codes of the 64-bit removal program.
constexpr unsigned long kRemovalDone = 2;
constexpr unsigned long kRemovalRebootFlag = 0x10000000;
// The removal program's answer for a device RemoveDriver removed:
// kRemovalDone, with kRemovalRebootFlag when the removal asked for a restart
// or left files of the package in use for the next restart (deletions given
// to Windows since `scheduledBefore`, machine::ScheduledDeletions() when the
// removal began).
unsigned long RemovalDoneCode(bool rebootNeeded, long scheduledBefore);

// 0 nothing removed, 1 removed, 2 removed and a restart is needed.
int KYDRemove(const wchar_t* hardwareId);
void ResetDevicePath();
bool RemoveDriver(const wchar_t* hardwareId, bool& deletePackageFiles, bool& rebootNeeded);
bool RunRemovalProgram(const wchar_t* hardwareId, bool& rebootNeeded);

// The command line drv64.exe is started with (the program path quoted).
std::wstring RemovalCommandLine(const std::wstring& program, const wchar_t* hardwareId,
                               const wchar_t* command = L"kydremove");
// Starts drv64\drv64.exe beside the host with `command` and the hardware ID,
// hands it the session and waits; false when it could not be started.
bool RunDrv64(const wchar_t* command, const wchar_t* hardwareId, DWORD& exitCode);

// Removes a device through the class installer (DIF_REMOVE), else
// SetupDiRemoveDevice, through the seam.
bool RemoveDeviceOf(HDEVINFO set, SP_DEVINFO_DATA* device);

// True when `folder` lies strictly inside a driver store: the package store
// of Windows Vista and later (System32\DriverStore\FileRepository) or the
// DIFx store of Windows XP (System32\DRVSTORE). A path with a step that
// could lead back out ("..", ".", a name of dots and blanks) never does.
bool IsInsideDriverStore(const std::wstring& folder);

class DifxApi;

// What goes with a removed device besides its driver package: its INF when
// that is a published one (oemN.inf), and the package's folder when DIFx
// names one inside the driver store.
struct PackageFiles {
  bool oemInf = false;
  std::wstring folder;
};
PackageFiles FindPackageFiles(const DifxApi& difx, const std::wstring& infPath);

}  // namespace kyd
