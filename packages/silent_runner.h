// Running a package's uninstaller without a user: in a job object of its
// own, on the private desktop "kyd_instdrv" where nobody sees its windows
// (a fresh one when another program has made a desktop of that name),
// for at most the package's time limit; then whatever is left of the job is
// ended.
#pragma once

#include <string>

#include "packages/app_package.h"

namespace kyd {

// The console or silent-switch runner. mode 1 appends " -s". 1 when the
// uninstaller was started, 0 when it could not be.
int UninstallSlient(std::wstring commandLine, CAppPackage& package, int mode);

// The runner for InstallShield wizards: confirms the first page, dismisses
// Windows' restart prompt and watches for the completion page (which may set
// the package's restart flag). 1 when the uninstaller was started and its
// first page confirmed.
int UninstallSlientWnd(const std::wstring& commandLine, CAppPackage& package);

// How a registered uninstall command is started.
struct ProgramCommand {
  std::wstring applicationName;  // empty: Windows takes the program from the line
  std::wstring commandLine;
};
// An unquoted command whose path holds blanks
// ("C:\Program Files\Vendor\uninst.exe /x") would make Windows try
// "C:\Program.exe" first. For such a command the longest beginning that ends
// in ".exe" (before a blank or the end) and is the full path of an existing
// file is the program: named as the application and quoted in the line.
// Anything else runs as registered.
ProgramCommand ResolveUninstallCommand(const std::wstring& command);

}  // namespace kyd
