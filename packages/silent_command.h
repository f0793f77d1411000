// How a registered uninstaller is asked to work without a user. Vendors
// build their packages with a handful of tools, and each tool's uninstaller
// has its own documented quiet switch; the generic " -s" only suits the
// uninstallers that were written for it.
#pragma once

#include <windows.h>

#include <string>

#include "packages/package_config.h"

namespace kyd {

enum class UninstallerKind {
  kQuietCommand,       // the entry registers a quiet command of its own
  kWindowsInstaller,   // MsiExec.exe /I, /X or /uninstall with a product code
  kInstallerAsRegistered,  // any other msiexec line: run as registered
  kNsis,               // an uninstaller made by NSIS (recognised from the file)
  kInnoSetup,          // an uninstaller made by Inno Setup (from the file and its log)
  kUnknown,            // anything else
};

struct SilentCommand {
  UninstallerKind kind;
  std::wstring commandLine;  // what is run, switches included
};

// The command that removes the package quietly, in this order: the entry's
// QuietUninstallString as registered; for a Windows Installer entry the
// system's own msiexec by full path, "/x {code} /qn /norestart", and any
// other msiexec line as registered; the registered command with "/S" for
// NSIS, with "/VERYSILENT /SUPPRESSMSGBOXES /NORESTART" for Inno Setup;
// otherwise the registered command with " -s" (kUnknown).
SilentCommand MakeSilentCommand(const APP_UNSETUP_PACKAGE& record);

// Whether a command line's program is msiexec (any case, with or without a
// folder, quoted or not, ".exe" or not).
bool IsWindowsInstallerLine(const std::wstring& commandLine);

// The product code (with its braces, as written) of a Windows Installer
// command line that installs (/I) or removes (/X, /uninstall) a product:
// the program is msiexec and the switch is followed by a product code.
// False for anything else, a package file given instead of a code included.
bool WindowsInstallerProductCode(const std::wstring& commandLine, std::wstring& productCode);

// The full path of the program a command line starts: the quoted first word,
// or for an unquoted line the longest beginning that names an existing
// ".exe" (a path with blanks), or the first word. Empty when that is not an
// absolute path.
std::wstring ProgramOf(const std::wstring& commandLine);

// What the program file is: kNsis for an NSIS uninstaller (its data header
// after the image, marked as an uninstaller), kInnoSetup for a program with
// an Inno Setup uninstall log of the same name beside it ("unins000.exe",
// "unins000.dat"), else kUnknown.
UninstallerKind KindOfUninstaller(const std::wstring& program);

// What Windows Installer's exit codes mean to us.
constexpr DWORD kInstallerRestartRequired = ERROR_SUCCESS_REBOOT_REQUIRED;   // 3010
constexpr DWORD kInstallerRestartInitiated = ERROR_SUCCESS_REBOOT_INITIATED; // 1641
constexpr DWORD kInstallerUnknownProduct = ERROR_UNKNOWN_PRODUCT;            // 1605

}  // namespace kyd
