// A companion application package on its way out: the package record found
// among the installed programs, the time its uninstaller may take, and the
// variant that knows how the vendor's uninstaller has to be run.
#pragma once

#include <windows.h>

#include <memory>
#include <optional>
#include <string>

#include "packages/package_config.h"

namespace kyd {

class CAppPackage {
 public:
  CAppPackage() = default;
  virtual ~CAppPackage() = default;
  CAppPackage(const CAppPackage&) = delete;
  CAppPackage& operator=(const CAppPackage&) = delete;

  // Runs the registered uninstaller silently. Mode 1 asks it to be quiet the
  // way its maker documents (a registered quiet command, Windows Installer,
  // NSIS, Inno Setup; see silent_command.h), or with " -s" when it is none
  // of these and not msiexec; mode 0 runs the registered command as it is.
  // 1 when it could be started.
  virtual int Uninstall(int mode);

  int timeOut = 0;              // seconds the uninstaller may run
  int result = 0;               // what Uninstall returned
  APP_UNSETUP_PACKAGE record;   // with the registry fields filled
  int restart = 0;              // kRestartAsked, kRestartRequired or 0
  // The exit code of the last program the runner started, when it ended
  // (by itself or with its job).
  std::optional<DWORD> exitCode;
};

// Values of CAppPackage::restart.
constexpr int kRestartAsked = 1;     // the wizard's completion page offers a restart
constexpr int kRestartRequired = 2;  // Windows Installer: removed, the restart completes it

// InstallShield wizards without a silent mode: their pages are confirmed by
// simulated clicks (the audio drivers of IDT and Realtek, NVIDIA's display
// driver package).
class CWizardPackage : public CAppPackage {
 public:
  int Uninstall(int mode) override;
};
class CIdtPackage : public CWizardPackage {};
class CNvDisplayPackage : public CWizardPackage {};
class CRealtekPackage : public CWizardPackage {};

// AMD's Catalyst packages: the install manager removes the driver
// components unattended, then the registered uninstaller runs.
class CAmdDisplayPackage : public CAppPackage {
 public:
  int Uninstall(int mode) override;
};

// The variant for a catalogue name: "AMD", "NVIDIA", "REALTEK", "IDT" (any
// case, first hit in that order), else the plain package.
std::unique_ptr<CAppPackage> CreateAppPackage(const std::wstring& name);

// Where AMD's install manager lies: below the install location when that is
// an absolute folder ("Bin64" on 64-bit Windows, else "Bin"), otherwise empty.
std::wstring AmdInstallManagerPath(const std::wstring& installLocation, bool is64);
// Keeps path when the file exists; otherwise the install manager below the
// "programfiles" folder, or when that is missing too, below "programw6432".
// A folder variable that does not hold an absolute path is passed over;
// empty when none does.
void CheckFileExits(std::wstring& path, bool is64);

// An absolute path: drive letter, colon and backslash, or a UNC path.
bool IsAbsolutePath(const std::wstring& path);

}  // namespace kyd
