// Every vendor cleaner against its footprint (tests/vendors/footprints/*.fp),
// end to end through the shipped library: the footprint is seeded into the
// prefix, a host uninstalls the footprint's device through drvuninst.exe
// and KYDDrvUninst.dll, and the bench checks that every target is gone,
// every decoy is intact and nothing else changed. These suites run in
// prefixes of their own, one at a time: a deep clean ends the shell and
// deletes machine-wide keys.
#include <gtest/gtest.h>
#include <windows.h>

#include <map>
#include <vector>

#include "machine/journal.h"
#include "support/engine_bench.h"
#include "support/footprint.h"
#include "support/footprint_host.h"

namespace {

using namespace kydtest;

// One line per footprint and device flag. The test entries are made per
// footprint file (cmake/tests.cmake): a new vendor adds its file and lines.
// nativeSystem: the host asks for the native system folders too (drvuninst
// --native-system); the footprint's +n lines are its targets.
// result: what the library answers for the real run; 0 for the vendor
// road's answer (1 when the host keeps the device, 2 when it was removed).
struct FootprintCase {
  const char* file;
  bool keepDevice;
  bool nativeSystem = false;
  int result = 0;
};
const FootprintCase kCases[] = {
    {"amd", false},
    {"amd", true},
    {"amd", true, true},
    {"intel", false},
    {"intel", true},
    {"realtek", false},
    {"realtek", true},
    {"nvidia", false},
    {"nvidia", true},
    {"nvidia", false, true},
    {"dch", false, false, 1},  // the removal road
};

class Footprint : public ::testing::TestWithParam<FootprintCase> {};

void ReportAll(const std::vector<std::string>& failures, const char* stage, const ProcessResult& run) {
  for (const std::string& failure : failures) ADD_FAILURE() << stage << ": " << failure;
  if (!failures.empty()) std::printf("%s\n", run.output.c_str());
}

// Files in use, with the machine as the first restore left it: an uninstall
// with a journal, then a restart (the files' holder ends, the list of
// deletions is carried out): the targets in use and their folders are gone,
// every decoy (the native namesake of a 32-bit file among them) is intact;
// a restore then brings them back from the journal.
void RestartRound(fp::Bench& bench, fp::FootprintHost& host, const FootprintCase& c, const fp::Snapshot& before) {
  ScratchDir journal(L"fp-journal-restart");
  ProcessResult run = host.Uninstall(bench.hardwareId(), bench.classGuid(), c.keepDevice,
                                     std::wstring(c.nativeSystem ? L" --native-system" : L"") + L" --journal \"" +
                                         journal.path() + L"\" --log");
  ASSERT_TRUE(run.started);
  // The device the first run removed is not there again: that road removes
  // nothing now and answers 0 whatever goes at the restart.
  EXPECT_EQ(LibraryResult(run), c.keepDevice ? 2 : 0) << run.output;
  EXPECT_NE(run.output.find("of these, in use and deleted at the next restart:"), std::string::npos) << run.output;
  ReportAll(bench.CheckPending(), "second run", run);
  std::string error;
  ASSERT_TRUE(bench.SimulateRestart(error)) << error;
  std::vector<std::string> failures;
  for (const fp::Verdict& verdict : bench.Judge(before, fp::TakeSnapshot(bench.VolatileKeys())))
    if (!verdict.failure.empty()) failures.push_back(verdict.failure);
  ReportAll(failures, "after the restart", run);

  ProcessResult restore = host.Restore(journal.path());
  ASSERT_TRUE(restore.started);
  ReportAll(bench.CheckContents(), "restore after the restart", restore);
  const std::string report = ReadFileBytes(journal / L"restore.txt");
  EXPECT_NE(report.find("\tdelete-at-restart\t"), std::string::npos) << report;
  EXPECT_EQ(report.find("called off before the restart"), std::string::npos) << report;
  EXPECT_NE(report.find("deleted at a restart"), std::string::npos) << report;
  EXPECT_NE(restore.output.find("deletions due at the next restart: 0 called off"), std::string::npos)
      << restore.output;
  for (const fp::Item& item : bench.footprint().items) {
    if (item.option.rfind(L"inuse:", 0) != 0 ||
        fp::ExpectFor(item, Is64BitPrefix(), c.keepDevice, c.nativeSystem) != fp::Expect::kGone)
      continue;
    kyd::machine::journal::NativePaths native(true);
    EXPECT_TRUE(FileExists(fp::ResolveFolder(item.where))) << item.Describe() << " not back";
  }
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
  fp::Bench bench(footprint, c.keepDevice, c.nativeSystem);
  const std::wstring native = c.nativeSystem ? L" --native-system" : L"";
  ASSERT_TRUE(bench.Seed(error)) << error;
  fp::FootprintHost host(bench.Accounts());
  ASSERT_TRUE(host.ready());

  ScratchDir planFolder(L"fp-plan"), journalFolder(L"fp-journal");

  fp::Snapshot before = fp::TakeSnapshot(bench.VolatileKeys());
  const std::vector<std::wstring> shellKeys = fp::ShellStartupKeys(footprint, before);
  ProcessResult plan = host.Uninstall(bench.hardwareId(), bench.classGuid(), c.keepDevice,
                                      native + L" --plan --journal \"" + planFolder.path() + L"\" --log");
  ASSERT_TRUE(plan.started);
  EXPECT_NE(LibraryResult(plan), -1) << plan.output;
  fp::Snapshot planned = fp::TakeSnapshot(bench.VolatileKeys());
  std::vector<std::string> failures;
  for (const fp::Change& change : fp::Diff(before, planned, shellKeys)) failures.push_back(change.Describe());
  ReportAll(failures, "the plan changed the machine", plan);

  ProcessResult run = host.Uninstall(bench.hardwareId(), bench.classGuid(), c.keepDevice,
                                     native + L" --journal \"" + journalFolder.path() + L"\" --log");
  fp::Snapshot after = fp::TakeSnapshot(bench.VolatileKeys());
  ASSERT_TRUE(run.started);
  // The vendor road: 1 when the host keeps the device, 2 when it was removed
  // or files in use go at the next restart; a case may name its own.
  const bool inUse = bench.HasFilesInUse();
  EXPECT_EQ(LibraryResult(run), c.result ? c.result : c.keepDevice && !inUse ? 1 : 2) << run.output;
  // drv64.exe's deletions are in the log the host follows, the library's.
  if (c.nativeSystem && Is64BitPrefix()) {
    EXPECT_NE(run.output.find("drv64.exe kydsysfiles"), std::string::npos) << "drv64.exe's lines are missing";
  }
  // One drv64.exe run serves every step of the call on the native side.
  if (Is64BitPrefix()) {
    size_t starts = 0;
    for (size_t at = run.output.find("drv64.exe started"); at != std::string::npos;
         at = run.output.find("drv64.exe started", at + 1))
      ++starts;
    EXPECT_EQ(starts, 1u) << run.output;
  }
  // ... and the INF folder is read once for the call, on either side.
  size_t passes = 0;
  for (size_t at = run.output.find("INF folder read:"); at != std::string::npos;
       at = run.output.find("INF folder read:", at + 1))
    ++passes;
  EXPECT_LE(passes, 1u) << run.output;
  ReportAll(bench.Check(before, after), "real run", run);
  if (inUse) ReportAll(bench.CheckPending(), "real run", run);
  // A file held in a folder everyone may change is left in place, and said so.
  for (const fp::Item& open : footprint.items) {
    if (open.kind != fp::Kind::kDir || open.option != L"attr:open") continue;
    for (const fp::Item& item : footprint.items) {
      if (item.option != L"inuse:open" || item.where.rfind(open.where + L"\\", 0) != 0) continue;
      const std::string path = ToNarrow(fp::ResolveFolder(item.where));
      EXPECT_NE(run.output.find("left in place: in use below a folder others can change: " + path), std::string::npos)
          << run.output;
      EXPECT_NE(run.output.find("left in place, in use"), std::string::npos) << run.output;
    }
  }
  const std::vector<std::wstring> deviceKeys = bench.DeviceKeys(before);
  ReportAll(fp::ComparePlan(planFolder.path(), before, after, deviceKeys, shellKeys, journalFolder.path()),
            "plan against the real run", plan);

  ProcessResult restore = host.Restore(journalFolder.path());
  ASSERT_TRUE(restore.started);
  fp::Snapshot restored = fp::TakeSnapshot(bench.VolatileKeys());
  ReportAll(fp::CheckRestored(journalFolder.path(), before, restored, deviceKeys, shellKeys), "restore", restore);
  ReportAll(bench.CheckBack(before, restored), "restore", restore);
  ReportAll(bench.CheckContents(), "restore", restore);
  if (!inUse) return;
  EXPECT_NE(restore.output.find(" called off (those files stayed), 0 carried out at a restart"), std::string::npos)
      << restore.output;
  RestartRound(bench, host, c, before);
}

// What the shell adds when it starts (Wine's shell32 makes the Advanced key
// the first time it shows a file's name) is left out of the comparisons,
// and nothing else is: not a removal or a change there, not a key beside it,
// not the key once the footprint names something in it.
TEST(ShellStartupWrites, OnlyWhatTheShellAddsIsLeftOut) {
  const std::wstring advanced = L"HKCU\\Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Advanced";
  const fp::Snapshot none;
  const std::wstring key = fp::CanonicalKey(advanced, none), parent = key.substr(0, key.rfind(L'\\'));
  fp::Footprint unrelated, namesIt;
  std::string error;
  ASSERT_TRUE(fp::ParseFootprint("+ key | HKCU\\Software\\Contoso\n", unrelated, error)) << error;
  ASSERT_TRUE(fp::ParseFootprint("= value | " + ToNarrow(advanced) + "\\Contoso | Mode | dword:1\n", namesIt, error))
      << error;
  ASSERT_EQ(fp::ShellStartupKeys(unrelated, none), std::vector<std::wstring>{key});
  ASSERT_TRUE(fp::ShellStartupKeys(namesIt, none).empty());

  using Keys = std::map<std::wstring, std::map<std::wstring, std::wstring>>;
  const Keys plain = {{parent, {}}};
  const Keys withAdvanced = {{parent, {}}, {key, {{L"hidefileext", L"dword:00000000"}}}};
  struct Row {
    const char* what;
    Keys before, after;
    const fp::Footprint* footprint;
    size_t reported;
  } rows[] = {
      {"the key made, with a value and a subkey", plain,
       {{parent, {}}, {key, {{L"hidden", L"dword:00000001"}}}, {key + L"\\taskband", {}}}, &unrelated, 0},
      {"a value added to it", withAdvanced,
       {{parent, {}}, {key, {{L"hidefileext", L"dword:00000000"}, {L"hidden", L"dword:00000001"}}}}, &unrelated, 0},
      {"a value changed in it", withAdvanced, {{parent, {}}, {key, {{L"hidefileext", L"dword:00000001"}}}},
       &unrelated, 1},
      {"a value removed from it", withAdvanced, {{parent, {}}, {key, {}}}, &unrelated, 1},
      {"the key removed", withAdvanced, plain, &unrelated, 1},
      {"a key beside it made", plain, {{parent, {}}, {key + L"x", {}}}, &unrelated, 1},
      {"the key made while the footprint names something in it", plain, {{parent, {}}, {key, {}}}, &namesIt, 1},
  };
  for (const Row& row : rows) {
    fp::Snapshot before, after;
    before.keys = row.before;
    after.keys = row.after;
    std::vector<fp::Change> changes = fp::Diff(before, after, fp::ShellStartupKeys(*row.footprint, before));
    EXPECT_EQ(changes.size(), row.reported) << row.what;
  }
}

INSTANTIATE_TEST_SUITE_P(Vendors, Footprint, ::testing::ValuesIn(kCases),
                         [](const ::testing::TestParamInfo<FootprintCase>& info) {
                           return std::string(info.param.file) + (info.param.keepDevice ? "_keep" : "_remove") +
                                  (info.param.nativeSystem ? "_native" : "");
                         });

}  // namespace
