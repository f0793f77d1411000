// The companion application packages of one device: which the catalogue
// describes for it, and whether Windows lists them among the installed
// programs (the Uninstall keys, in the 32-bit view and, on 64-bit Windows,
// the 64-bit one as well), and running their uninstallers.
#pragma once

#include <string>
#include <vector>

#include "packages/package_config.h"

namespace kyd {

// Results of FindPackage, LookupRegister and the registry lookups.
enum PackageLookupResult {
  kPackageNotDescribed = -1,  // nothing described, file unreadable, or no Uninstall entries
  kPackageNotInstalled = 0,   // described, but none of them is installed
  kPackageInstalled = 1,      // an Uninstall entry of a described package exists
};

// The vendor ID a hardware ID names: upper-cased, the text after its first
// "VEN_" up to the next '&'; the whole upper-cased ID when it has none (or
// nothing follows "VEN_").
std::wstring VendorIdOf(const std::wstring& hardwareId);

class CAnalysePackage {
 public:
  CAnalysePackage();                               // catalogue beside the host executable
  explicit CAnalysePackage(std::wstring configPath);  // another catalogue file

  // Selects the packages described for the device (class GUID, hardware ID)
  // and looks them up among the installed programs.
  int FindPackage(const wchar_t* classGuid, const wchar_t* hwid);
  // Looks the selected packages up in order; 1 at the first installed one.
  int LookupRegister();
  // Looks one package up under the Uninstall key of one registry view
  // (view32: the 32-bit view, else the 64-bit one); on a match fills its
  // wsUninstString and wsInstallLocation.
  int LookupUninstallKey(APP_UNSETUP_PACKAGE& record, bool view32);
  // The lookup in the 32-bit view and, under WOW64, the 64-bit view.
  int IsPackageInstalled(APP_UNSETUP_PACKAGE& record);

  // Runs the uninstaller of each installed package in order until one is
  // gone or asks for a restart (then rebootNeeded is the package's restart
  // value, kRestartAsked or kRestartRequired); 1 in those cases.
  int UninstAppPackage(int& rebootNeeded);

  const std::vector<APP_UNSETUP_PACKAGE>& packages() const { return vfXmlNode; }

 private:
  bool hostConfig_ = true;
  std::wstring configPath_;
  std::vector<APP_UNSETUP_PACKAGE> vfXmlNode;
};

}  // namespace kyd
