// Every vendor cleaner against its footprint (tests/vendors/footprints/*.fp),
// end to end through the shipped library: the footprint is seeded into the
// prefix, a host uninstalls the footprint's device through drvuninst.exe
// and KYDDrvUninst.dll, and the bench checks that every target is gone,
// every decoy is intact and nothing else changed. These suites run in
// prefixes of their own, one at a time: a deep clean ends the shell and
// deletes machine-wide keys.
#include <gtest/gtest.h>
#include <windows.h>

#include "support/engine_bench.h"
#include "support/footprint.h"
#include "support/footprint_host.h"

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

class Footprint : public ::testing::TestWithParam<FootprintCase> {};

void ReportAll(const std::vector<std::string>& failures, const char* stage, const ProcessResult& run) {
  for (const std::string& failure : failures) ADD_FAILURE() << stage << ": " << failure;
  if (!failures.empty()) std::printf("%s\n", run.output.c_str());
}

// One machine, three runs: a plan (which changes nothing), the real run with
// a journal (targets go, decoys stay, nothing else changes, and the plan
// named exactly what it deleted), and a restore of that journal (everything
// back but what cannot be).
TEST_P(Footprint, TargetsGoDecoysStayNothingElseChanges) {
  const FootprintCase& c = GetParam();
  fp::Footprint footprint;
  std::string error;
  ASSERT_TRUE(fp::LoadFootprint(WinPath(KYD_SOURCE_DIR "/tests/vendors/footprints/") + ToWide(c.file) + L".fp",
                                footprint, error))
      << error;
  fp::Bench bench(footprint, c.keepDevice);
  ASSERT_TRUE(bench.Seed(error)) << error;
  fp::FootprintHost host(bench.Accounts());
  ASSERT_TRUE(host.ready());

  ScratchDir planFolder(L"fp-plan"), journalFolder(L"fp-journal");

  fp::Snapshot before = fp::TakeSnapshot(bench.VolatileKeys());
  ProcessResult plan = host.Uninstall(bench.hardwareId(), bench.classGuid(), c.keepDevice,
                                      L" --plan --journal \"" + planFolder.path() + L"\" --log");
  ASSERT_TRUE(plan.started);
  EXPECT_NE(LibraryResult(plan), -1) << plan.output;
  fp::Snapshot planned = fp::TakeSnapshot(bench.VolatileKeys());
  std::vector<std::string> failures;
  for (const fp::Change& change : fp::Diff(before, planned)) failures.push_back(change.Describe());
  ReportAll(failures, "the plan changed the machine", plan);

  ProcessResult run = host.Uninstall(bench.hardwareId(), bench.classGuid(), c.keepDevice,
                                     L" --journal \"" + journalFolder.path() + L"\" --log");
  fp::Snapshot after = fp::TakeSnapshot(bench.VolatileKeys());
  ASSERT_TRUE(run.started);
  // The vendor road: 1 when the host keeps the device, 2 when it was removed.
  EXPECT_EQ(LibraryResult(run), c.keepDevice ? 1 : 2) << run.output;
  ReportAll(bench.Check(before, after), "real run", run);
  const std::vector<std::wstring> deviceKeys = bench.DeviceKeys(before);
  ReportAll(fp::ComparePlan(planFolder.path(), before, after, deviceKeys), "plan against the real run", plan);

  ProcessResult restore = host.Restore(journalFolder.path());
  ASSERT_TRUE(restore.started);
  fp::Snapshot restored = fp::TakeSnapshot(bench.VolatileKeys());
  ReportAll(fp::CheckRestored(journalFolder.path(), before, restored, deviceKeys), "restore", restore);
}

INSTANTIATE_TEST_SUITE_P(Vendors, Footprint, ::testing::ValuesIn(kCases),
                         [](const ::testing::TestParamInfo<FootprintCase>& info) {
                           return std::string(info.param.file) + (info.param.keepDevice ? "_keep" : "_remove");
                         });

}  // namespace
