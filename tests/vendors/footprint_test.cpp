// Every vendor cleaner against its footprint (tests/vendors/footprints/*.fp),
// end to end through the shipped library: the footprint is seeded into the
// prefix, a host uninstalls the footprint's device through drvuninst.exe
// and KYDDrvUninst.dll, and the bench checks that every target is gone,
// every decoy is intact and nothing else changed. These suites run in
// prefixes of their own, one at a time: a deep clean ends the shell and
// deletes machine-wide keys.
#include <gtest/gtest.h>

#include "support/engine_bench.h"
#include "support/footprint.h"
#include "support/staged_host.h"

namespace {

using namespace kydtest;

// One line per footprint and device flag. The test entries are made per
// footprint file (cmake/tests.cmake): a new vendor adds its file and lines.
struct FootprintCase {
  const char* file;
  bool keepDevice;
};
const FootprintCase kCases[] = {
    {"amd", false},
    {"amd", true},
    {"intel", false},
    {"intel", true},
    {"realtek", false},
    {"realtek", true},
    {"nvidia", false},
    {"nvidia", true},
};

constexpr wchar_t kWinlogon[] = L"Software\\Microsoft\\Windows NT\\CurrentVersion\\Winlogon";

// The deep clean ends the shell and drvuninst starts it again; under Wine a
// shell started from the test's host would hold the test's output open for
// good. For these runs the user's shell is a program that is not running, so
// drvuninst has nothing to start again (that it does is tested on its own).
class ShellElsewhere {
 public:
  ShellElsewhere() {
    had_ = kyd::CBaseDrvUninst::ReadStringValue(HKEY_CURRENT_USER, kWinlogon, L"Shell", old_);
    RegSetString(HKEY_CURRENT_USER, kWinlogon, L"Shell", L"kydfp-noshell.exe", REG_SZ, false);
  }
  ~ShellElsewhere() {
    if (had_) RegSetString(HKEY_CURRENT_USER, kWinlogon, L"Shell", old_, REG_SZ, false);
    else RegDeleteValueIfPresent(HKEY_CURRENT_USER, kWinlogon, L"Shell", false);
  }
  ShellElsewhere(const ShellElsewhere&) = delete;
  ShellElsewhere& operator=(const ShellElsewhere&) = delete;

 private:
  bool had_ = false;
  std::wstring old_;
};

// A host folder with the netapi32 double, so that the cleaners see the
// accounts of both users (Wine's own account list lacks the level they ask).
class FootprintHost {
 public:
  explicit FootprintHost(const std::wstring& accounts) : accounts_(accounts) {
    doubleReady_ = MakeNetapiDouble(host_.folder() + L"\\netapi32.dll");
    override_ = keys_.Add(HKEY_CURRENT_USER, L"Software\\Wine\\AppDefaults\\drvuninst.exe\\DllOverrides", false);
    RegSetString(HKEY_CURRENT_USER, override_, L"netapi32", L"native,builtin", REG_SZ, false);
  }
  bool ready() const { return doubleReady_; }
  ProcessResult Uninstall(const std::wstring& hardwareId, const std::wstring& classGuid, bool keepDevice) const {
    return host_.Cli(L"uninstall \"" + hardwareId + L"\" " + classGuid + (keepDevice ? L" --keep-device" : L"") +
                         L" --log",
                     {L"KYD_NETAPI_USERS=" + accounts_});
  }

 private:
  std::wstring accounts_;
  StagedHost host_;
  SeededKeys keys_;
  ShellElsewhere shell_;
  std::wstring override_;
  bool doubleReady_ = false;
};

class Footprint : public ::testing::TestWithParam<FootprintCase> {};

TEST_P(Footprint, TargetsGoDecoysStayNothingElseChanges) {
  const FootprintCase& c = GetParam();
  fp::Footprint footprint;
  std::string error;
  ASSERT_TRUE(fp::LoadFootprint(WinPath(KYD_SOURCE_DIR "/tests/vendors/footprints/") + ToWide(c.file) + L".fp",
                                footprint, error))
      << error;
  fp::Bench bench(footprint, c.keepDevice);
  ASSERT_TRUE(bench.Seed(error)) << error;
  FootprintHost host(bench.Accounts());
  ASSERT_TRUE(host.ready());

  fp::Snapshot before = fp::TakeSnapshot(bench.VolatileKeys());
  ProcessResult run = host.Uninstall(bench.hardwareId(), bench.classGuid(), c.keepDevice);
  fp::Snapshot after = fp::TakeSnapshot(bench.VolatileKeys());

  ASSERT_TRUE(run.started);
  // The vendor road: 1 when the host keeps the device, 2 when it was removed.
  EXPECT_EQ(LibraryResult(run), c.keepDevice ? 1 : 2) << run.output;
  std::vector<std::string> failures = bench.Check(before, after);
  for (const std::string& failure : failures) ADD_FAILURE() << failure;
  if (!failures.empty()) std::printf("%s\n", run.output.c_str());
}

INSTANTIATE_TEST_SUITE_P(Vendors, Footprint, ::testing::ValuesIn(kCases),
                         [](const ::testing::TestParamInfo<FootprintCase>& info) {
                           return std::string(info.param.file) + (info.param.keepDevice ? "_keep" : "_remove");
                         });

}  // namespace
