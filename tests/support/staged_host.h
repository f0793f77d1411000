// A host folder laid out as a driver-management tool ships it (dist/
// copied into a scratch folder), optionally with test doubles in place.
#pragma once

#include <string>
#include <vector>

#include "support/wine_bench.h"

namespace kydtest {

class StagedHost {
 public:
  struct Options {
    bool difxDouble = true;        // difxapi.dll beside the host (x86) and drv64.exe (x64)
    bool exitCodeDrv64 = false;    // drv64\drv64.exe replaced by the exit-code double
    std::wstring folderName = L"host";
  };
  StagedHost();
  explicit StagedHost(const Options& options);

  const std::wstring& folder() const { return scratch_.path(); }
  std::wstring dll() const { return folder() + L"\\KYDDrvUninst.dll"; }
  std::wstring cli() const { return folder() + L"\\drvuninst.exe"; }
  std::wstring difxLog() const { return folder() + L"\\difx.log"; }
  std::wstring ReadDifxLog() const;

  // Runs drvuninst.exe with the arguments; environment entries are added.
  ProcessResult Cli(const std::wstring& arguments, std::vector<std::wstring> environment = {},
                    const OutputSink& onOutput = {}) const;

 private:
  ScratchDir scratch_;
};

// The library's result as drvuninst prints it ("(library result N)"); -1
// when the run printed none.
int LibraryResult(const ProcessResult& run);

// Runs a helper program from the build folder copied under a new name, with
// Wine told to report the given Windows version ("winxp", "win7", ...) to it.
ProcessResult RunAsWindowsVersion(const std::wstring& helper, const std::wstring& version,
                                  const std::wstring& arguments);

}  // namespace kydtest
