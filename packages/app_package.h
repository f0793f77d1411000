// A companion application package on its way out: the package record found
// among the installed programs, the time its uninstaller may take, and the
// variant that knows how the vendor's uninstaller has to be run.
#pragma once

#include <memory>
#include <string>

#include "packages/package_config.h"

namespace kyd {

class CAppPackage {
 public:
  CAppPackage() = default;
  virtual ~CAppPackage() = default;
  CAppPackage(const CAppPackage&) = delete;
  CAppPackage& operator=(const CAppPackage&) = delete;

  // Runs the registered uninstaller silently; mode 1 appends its silent
  // switch " -s". 1 when it could be started.
  virtual int Uninstall(int mode);

  int timeOut = 0;              // seconds the uninstaller may run
  int result = 0;               // what Uninstall returned
  APP_UNSETUP_PACKAGE record;   // with the registry fields filled
  int restart = 0;              // 1 when the uninstaller asked for a restart
};

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
