// The removal road: a present device and its OEM driver package are removed
// through SetupAPI and DIFx, on 64-bit Windows by drv64\drv64.exe.
#pragma once

#include <string>

namespace kyd {

// Exit codes of the 64-bit removal program.
constexpr unsigned long kRemovalDone = 2;
constexpr unsigned long kRemovalRebootFlag = 0x10000000;

// 0 nothing removed, 1 removed, 2 removed and a restart is needed.
int KYDRemove(const wchar_t* hardwareId);
void ResetDevicePath();
bool RemoveDriver(const wchar_t* hardwareId, bool& deletePackageFiles, bool& rebootNeeded);
bool RunRemovalProgram(const wchar_t* hardwareId, bool& rebootNeeded);

// The command line drv64.exe is started with (the program path quoted).
std::wstring RemovalCommandLine(const std::wstring& program, const wchar_t* hardwareId);

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
