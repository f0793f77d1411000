// The package catalogue "Kydconfig\unsetup.xml" that ships beside the host
// application: which companion applications (control panels, audio
// managers...) belong to which vendor's devices, how to recognise them among
// the installed programs, how long their uninstallers may run and which
// windows those uninstallers show.
//
//   <KYD>
//     <KYDUNSETUP timeout="300">                  global limit, seconds
//       <company timeout="180">                   0 or none: the global limit
//         <vid id="10EC"/>                        vendor part after "VEN_"
//         <dev guid="{4D36E96C-...}">             setup class of the device
//           <keyword name="..." main_exec="..." guid="...">
//             <windows>
//               <wnd beginwnd_title="..." beginwnd_btn="..."
//                    completewnd_title="..." completewnd_btn="..."/>
//
// Element and attribute names are matched exactly; unknown elements are
// skipped with their content. A <vid> enables only the <dev> elements that
// follow it in its <company>.
#pragma once

#include <string>
#include <vector>

namespace kyd {

// Texts of one uninstaller's windows: its confirmation page and the button
// that starts the uninstall, its completion page and a button on it.
struct APP_UNSETUP_WND {
  std::wstring wsBeginWndTitle;
  std::wstring wsBeginWndBtn;
  std::wstring wsCompleteWndTitle;
  std::wstring wsCompleteWndBtn;
};

// One companion application package (a <keyword>). The two registry fields
// are empty until the package is found among the installed programs.
struct APP_UNSETUP_PACKAGE {
  int nTimeOut = 0;  // seconds
  std::wstring wsName;
  std::wstring wsMainExec;
  std::wstring wsGuid;
  std::wstring wsUninstString;
  std::wstring wsInstallLocation;
  std::vector<APP_UNSETUP_WND> vWindows;
  // The entry's QuietUninstallString, where its installer registered one
  // (filled by the lookup like the two fields above).
  std::wstring wsQuietUninstString;
};

// The device the packages are selected for.
struct DRV_APP_UNSETUP_PARAMS {
  std::wstring wsVid;   // vendor ID as it stands after "VEN_", e.g. 10EC
  std::wstring wsGuid;  // setup class GUID in braces
};

// The catalogue file beside the host process's executable (not beside this
// library): "<exe folder>\Kydconfig\unsetup.xml"; empty when the executable's
// path cannot be read whole.
std::wstring PackageConfigPath();

// Reader of the catalogue. The file is loaded and parsed anew by every call.
class CXml {
 public:
  CXml();                                // the file beside the host executable
  explicit CXml(std::wstring path);      // another catalogue file

  const std::wstring& path() const { return path_; }

  // Clears vfXmlNode and fills it with the packages described for the device,
  // in document order. True when at least one was found.
  bool ParseXml(const DRV_APP_UNSETUP_PARAMS& params, std::vector<APP_UNSETUP_PACKAGE>& vfXmlNode) const;

  // The global time limit in seconds: the timeout of the last <KYDUNSETUP>;
  // 0 when the file cannot be read or names none.
  int GetTimeOut() const;

 private:
  std::wstring path_;
};

// A timeout attribute in seconds: the decimal number its leading digits make
// (leading blanks allowed); 0 when absent, negative or not a number.
int ParseSeconds(const std::wstring& text);

}  // namespace kyd
