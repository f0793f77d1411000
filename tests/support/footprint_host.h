// A host folder for footprint runs: drvuninst.exe and the library staged
// with the netapi32 double, so that the cleaners see the accounts of both
// users (Wine's own account list lacks the level they ask for).
#pragma once

#include <windows.h>

#include <set>
#include <string>

#include "support/engine_bench.h"
#include "support/staged_host.h"

namespace kydtest::fp {

class FootprintHost {
 public:
  // accounts: Bench::Accounts() of the seeded footprint.
  explicit FootprintHost(const std::wstring& accounts);
  // A shell that drvuninst started again after the cleaner ended it has our
  // output pipes (Wine hands its standard error on) and would keep the
  // caller waiting: each one that was not there before is ended, by its ID.
  ~FootprintHost();
  FootprintHost(const FootprintHost&) = delete;
  FootprintHost& operator=(const FootprintHost&) = delete;

  bool ready() const { return doubleReady_; }
  const StagedHost& host() const { return host_; }
  // options: " --plan", " --journal <folder>", ...; `onOutput` sees the
  // output as it comes.
  ProcessResult Uninstall(const std::wstring& hardwareId, const std::wstring& classGuid, bool keepDevice,
                          const std::wstring& options, const OutputSink& onOutput = {}) const;
  ProcessResult Restore(const std::wstring& journalFolder, const OutputSink& onOutput = {}) const;
  // Any other drvuninst command line.
  ProcessResult Cli(const std::wstring& arguments, const OutputSink& onOutput = {}) const;

 private:
  std::wstring accounts_;
  std::set<DWORD> shellsBefore_;
  StagedHost host_;
  SeededKeys keys_;
  std::wstring override_;
  bool doubleReady_ = false;
};

}  // namespace kydtest::fp
