#include "packages/app_package.h"

#include <windows.h>
#include <shlwapi.h>

#include "packages/silent_command.h"
#include "packages/silent_runner.h"
#include "platform/base_log.h"
#include "platform/env.h"

namespace kyd {
namespace {

constexpr char kLogUnit[] = "AmdDisplayPackage";

constexpr wchar_t kToolBelowLocation32[] = L"Bin\\InstallManagerApp.exe";
constexpr wchar_t kToolBelowLocation64[] = L"Bin64\\InstallManagerApp.exe";
constexpr wchar_t kToolBelowProgramFiles32[] = L"\\ATI\\CIM\\Bin\\InstallManagerApp.exe";
constexpr wchar_t kToolBelowProgramFiles64[] = L"\\ATI\\CIM\\Bin64\\InstallManagerApp.exe";
// Remove everything unattended, no upgrade check, no first-run page, no
// restart question, close when done.
constexpr wchar_t kInstallManagerArguments[] =
    L"/IGNORE_UPGRADE /FORCE_HIDE_FIRST_RUN /UNATTENDED_UNINSTALL /AUTOACCEPT_ALL "
    L"/FORCE_CLOSE_WHEN_DONE /ON_REBOOT_MESSAGE:NO";

constexpr DWORD kVariableChars = 260;

bool FileExists(const std::wstring& path) {
  return !path.empty() && GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

// A program-files folder from the environment; empty when the variable is
// missing, too long or not an absolute path.
std::wstring FolderVariable(const wchar_t* name) {
  wchar_t value[kVariableChars] = {};
  const DWORD length = GetEnvironmentVariableW(name, value, kVariableChars);
  if (length == 0 || length >= kVariableChars) return {};
  std::wstring folder(value, length);
  return IsAbsolutePath(folder) ? folder : std::wstring();
}

}  // namespace

bool IsAbsolutePath(const std::wstring& path) {
  if (path.size() < 3) return false;
  const wchar_t drive = static_cast<wchar_t>(path[0] | 0x20);
  if (drive >= L'a' && drive <= L'z' && path[1] == L':' && path[2] == L'\\') return true;
  return path[0] == L'\\' && path[1] == L'\\' && path[2] != L'\\';  // \\server\share
}

int CAppPackage::Uninstall(int mode) {
  if (mode != 1) return UninstallSlient(record.wsUninstString, *this, mode);
  constexpr char kLogUnit[] = "AppPackage";
  const SilentCommand silent = MakeSilentCommand(record);
  if (silent.kind == UninstallerKind::kInstallerAsRegistered)
    KLOG(base::LOG_TRACE, "MsiExec line removes no product by its code: run as registered");
  const int started = UninstallSlient(silent.commandLine, *this, 0);
  std::wstring productCode;
  if (exitCode && WindowsInstallerProductCode(silent.commandLine, productCode)) {
    const DWORD code = *exitCode;
    if (code == kInstallerRestartRequired || code == kInstallerRestartInitiated) {
      KLOG(base::LOG_TRACE, "MsiExec exit code %d: restart required", static_cast<int>(code));
      restart = kRestartRequired;
    } else if (code == kInstallerUnknownProduct) {
      KLOG(base::LOG_TRACE, "MsiExec exit code %d: product %S is not installed", static_cast<int>(code),
           productCode.c_str());
    } else {
      KLOG(base::LOG_TRACE, "MsiExec exit code %d", static_cast<int>(code));
    }
  }
  return started;
}

int CWizardPackage::Uninstall(int) { return UninstallSlientWnd(record.wsUninstString, *this); }

std::wstring AmdInstallManagerPath(const std::wstring& installLocation, bool is64) {
  // A relative location would be looked up from the host's current folder,
  // where anybody may have put an InstallManagerApp.exe.
  if (!IsAbsolutePath(installLocation)) return {};
  std::wstring path = installLocation;
  if (path.back() != L'\\') path += L'\\';
  return path + (is64 ? kToolBelowLocation64 : kToolBelowLocation32);
}

void CheckFileExits(std::wstring& path, bool is64) {
  KLOG(base::LOG_TRACE, "CheckFileExits entry");
  if (FileExists(path)) return;
  const wchar_t* below = is64 ? kToolBelowProgramFiles64 : kToolBelowProgramFiles32;
  // A 32-bit host sees the 32-bit program files folder as "programfiles";
  // the install manager of 64-bit Windows may sit in the 64-bit one.
  const std::wstring programFiles = FolderVariable(L"programfiles");
  path = programFiles.empty() ? std::wstring() : programFiles + below;
  if (FileExists(path)) return;
  const std::wstring programW6432 = FolderVariable(L"programw6432");
  path = programW6432.empty() ? path : programW6432 + below;
}

int CAmdDisplayPackage::Uninstall(int) {
  const bool is64 = IsWow64() != FALSE;
  std::wstring tool = AmdInstallManagerPath(record.wsInstallLocation, is64);
  CheckFileExits(tool, is64);
  KLOG(base::LOG_TRACE, "AMD install Path:%S ", tool.c_str());
  if (!tool.empty()) {
    const std::wstring commandLine = L"\"" + tool + L"\" " + kInstallManagerArguments;
    KLOG(base::LOG_TRACE, "AMD Uninstall Path:%S ", commandLine.c_str());
    UninstallSlient(commandLine, *this, 0);
  }
  KLOG(base::LOG_TRACE, "uninst_package.wsUninstString : %S", record.wsUninstString.c_str());
  return UninstallSlient(record.wsUninstString, *this, 0);
}

std::unique_ptr<CAppPackage> CreateAppPackage(const std::wstring& name) {
  constexpr char kLogUnit[] = "AnalysePackage";
  const wchar_t* text = name.c_str();
  if (StrStrIW(text, L"AMD")) return std::make_unique<CAmdDisplayPackage>();
  if (StrStrIW(text, L"NVIDIA")) {
    KLOG(base::LOG_TRACE, "new NVIDIA 图形驱动程序");
    return std::make_unique<CNvDisplayPackage>();
  }
  if (StrStrIW(text, L"REALTEK")) return std::make_unique<CRealtekPackage>();
  if (StrStrIW(text, L"IDT")) return std::make_unique<CIdtPackage>();
  return std::make_unique<CAppPackage>();
}

}  // namespace kyd
