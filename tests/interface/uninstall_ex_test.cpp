// Plans, journals and restores through the exports, as a host calls them
// (drvuninst.exe in a staged host folder), on the removal road; and one
// uninstall at a time on a machine.
#include <gtest/gtest.h>

#include <aclapi.h>
#include <sddl.h>

#include <set>
#include <thread>

#include "interface/KYDDrvUninst.h"
#include "interface/uninstall_lock.h"
#include "platform/handle.h"
#include "support/log_capture.h"
#include "support/engine_bench.h"
#include "support/machine_snapshot.h"
#include "support/staged_host.h"

namespace {

using namespace kydtest;

constexpr wchar_t kPolicyKey[] = L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\DriverSearching";
constexpr wchar_t kCurrentVersion[] = L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion";

std::wstring Quote(const std::wstring& s) { return L"\"" + s + L"\""; }

std::string Join(const std::vector<std::string>& lines) {
  std::string text;
  for (const std::string& line : lines) text += "  " + line + "\n";
  return text;
}

std::wstring InfFor(const std::wstring& hardwareId) {
  return L"[Version]\r\nSignature=\"$WINDOWS NT$\"\r\n[Models]\r\n\"Test\"=Install, " + hardwareId + L"\r\n";
}

// A device for the removal road with an INF naming it and one that does not;
// the policy key missing and DevicePath changed, so that the run writes both.
class SeamRemovalRoad : public ::testing::Test {
 protected:
  void Seed(const std::wstring& hardwareId) {
    hardwareId_ = hardwareId;
    RegDeleteTreeIfPresent(HKEY_LOCAL_MACHINE, kPolicyKey, true);
    // DevicePath is written without a registry view: a 32-bit library on
    // 64-bit Windows writes the 32-bit one.
    kyd::UniqueKey key;
    RegOpenKeyExW(HKEY_LOCAL_MACHINE, kCurrentVersion, 0, KEY_ALL_ACCESS, key.put());
    wchar_t old[1024] = {};
    DWORD size = sizeof old - sizeof(wchar_t);
    hadDevicePath_ = RegQueryValueExW(key.get(), L"DevicePath", nullptr, nullptr, reinterpret_cast<BYTE*>(old),
                                      &size) == ERROR_SUCCESS;
    oldDevicePath_ = old;
    RegSetString(HKEY_LOCAL_MACHINE, kCurrentVersion, L"DevicePath", L"%SystemRoot%\\inf;C:\\Kyd", REG_EXPAND_SZ,
                 false);
    device_ = std::make_unique<SeededDevice>(std::vector<std::wstring>{hardwareId});
    ASSERT_TRUE(device_->ok());
    naming_ = std::make_unique<SeededInf>(FreeOemInfName(), InfFor(hardwareId));
    unrelated_ = std::make_unique<SeededInf>(FreeOemInfName(), InfFor(L"PCI\\VEN_1B21&DEV_9999"));
    watch_.Device(device_->instanceId());
    for (const auto* inf : {naming_.get(), unrelated_.get()}) {
      std::wstring name = inf->path().substr(inf->path().rfind(L'\\') + 1);
      watch_.Files(InfDir(), name.substr(0, name.size() - 3) + L"*");
    }
    watch_.Tree(std::wstring(L"HKLM\\") + kPolicyKey);
    watch_.Value(Is64BitPrefix() ? L"HKLM\\SOFTWARE\\Wow6432Node\\Microsoft\\Windows\\CurrentVersion"
                                 : std::wstring(L"HKLM\\") + kCurrentVersion,
                 L"DevicePath");
  }
  void TearDown() override {
    if (hadDevicePath_)
      RegSetString(HKEY_LOCAL_MACHINE, kCurrentVersion, L"DevicePath", oldDevicePath_, REG_EXPAND_SZ, false);
  }
  ProcessResult Uninstall(const std::wstring& options, std::vector<std::wstring> environment = {}) {
    return host_.Cli(L"uninstall " + Quote(hardwareId_) + L" " + kSystemClass + L" " + options,
                     std::move(environment));
  }

  StagedHost host_;
  std::wstring hardwareId_;
  std::unique_ptr<SeededDevice> device_;
  std::unique_ptr<SeededInf> naming_, unrelated_;
  MachineWatch watch_;
  bool hadDevicePath_ = false;
  std::wstring oldDevicePath_;
};

// On 64-bit Windows the plan goes on in drv64.exe: the device it would
// remove is in the plan, and the library's own leftover INF sweep after it
// sees what drv64.exe planned.
TEST_F(SeamRemovalRoad, PlanChangesNothingAndEqualsWhatTheRealRunChanges) {
  Seed(L"PCI\\VEN_1B21&DEV_1401");
  ScratchDir plan(L"plan");
  const MachineState before = watch_.Take();
  ProcessResult run = Uninstall(L"--plan --journal " + Quote(plan.path()));
  EXPECT_EQ(LibraryResult(run), 1) << run.output;  // what the real run returns
  EXPECT_NE(run.output.find("remove-device\t" + ToNarrow(device_->instanceId())), std::string::npos) << run.output;
  EXPECT_EQ(Join(Differences(before, watch_.Take())), "") << "the plan changed the machine";

  MachineState planned = before;
  std::string problem;
  ASSERT_TRUE(ApplyPlan(plan.path(), watch_, planned, problem)) << problem;
  EXPECT_EQ(Differences(before, planned).size(), 6u) << Join(Differences(before, planned));
  // Without a folder of the caller's the plan is printed from one of its own
  // that does not stay behind.
  ScratchDir temp(L"plan temp");
  ProcessResult printed = Uninstall(L"--plan", {L"TMP=" + temp.path(), L"TEMP=" + temp.path()});
  EXPECT_EQ(LibraryResult(printed), 1) << printed.output;
  EXPECT_NE(printed.output.find("\tremove-device\t"), std::string::npos) << printed.output;
  WIN32_FIND_DATAW entry;
  EXPECT_FALSE(kyd::UniqueFind(FindFirstFileW((temp / L"drvuninst-plan-*").c_str(), &entry)).valid());

  ProcessResult real = Uninstall(L"");
  EXPECT_EQ(LibraryResult(real), 1) << real.output;
  EXPECT_EQ(Join(Differences(planned, watch_.Take())), "") << "planned (left) against real (right)";
}

TEST_F(SeamRemovalRoad, JournalAndRestoreGiveBackAllButTheDevice) {
  Seed(L"PCI\\VEN_1B21&DEV_1402");
  ScratchDir journal(L"journal");
  const MachineState before = watch_.Take();
  ProcessResult run = Uninstall(L"--journal " + Quote(journal.path()));
  EXPECT_EQ(LibraryResult(run), 1) << run.output;
  EXPECT_FALSE(DevicePresent(device_->instanceId()));
  EXPECT_FALSE(FileExists(naming_->path()));

  ProcessResult restore = host_.Cli(L"restore " + Quote(journal.path()));
  EXPECT_EQ(LibraryResult(restore), 1) << restore.output;
  EXPECT_NE(restore.output.find("\tnot restorable\tremove-device\t"), std::string::npos) << restore.output;
  std::vector<std::string> left = Differences(before, watch_.Take());
  ASSERT_EQ(left.size(), 1u) << Join(left);
  EXPECT_EQ(left[0].rfind("DEVICE ", 0), 0u) << left[0];
}

TEST_F(SeamRemovalRoad, UnusableJournalFolderIsRefusedBeforeAnythingChanges) {
  Seed(L"PCI\\VEN_1B21&DEV_1403");
  ScratchDir dir(L"refusals");
  ASSERT_TRUE(WriteFileBytes(dir / L"a file", "x"));
  ASSERT_TRUE(CreateDirectoryW((dir / L"busy").c_str(), nullptr) && WriteFileBytes(dir / L"busy\\old.txt", "x"));
  // Where restore would refuse a journal, none is written (a plan is not
  // restored: it may go there).
  // drvuninst makes the one below, protected as a journal folder. An empty
  // folder others could change is refused too: one of them may hold it open.
  ScratchDir above(L"open above", ScratchDir::kMachine), open(L"open journal", ScratchDir::kMachine);
  ASSERT_TRUE(OpenToAllOnUnix(above.path()) && OpenToAllOnUnix(open.path()));
  const std::string everyone = ToNarrow(above.path()) + ": S-1-1-0 may change it";
  struct Case {
    std::wstring folder;
    std::string reason;
    bool journalOnly = false;
  } cases[] = {{dir / L"a file", "it is not a folder"},
               {dir / L"busy", "it is not empty"},
               {above / L"below", "others can change a folder above it: " + everyone, true},
               {open.path(), "others can change the journal folder: ", true}};
  // (A missing folder drvuninst makes; the export refuses it: drvuninst_json_test.)
  const MachineState before = watch_.Take();
  for (const Case& c : cases) {
    for (const wchar_t* mode : {L"--plan", L""}) {
      if (c.journalOnly && *mode) continue;
      SCOPED_TRACE(ToNarrow(c.folder + L" " + mode));
      ProcessResult run = Uninstall(std::wstring(mode) + L" --journal " + Quote(c.folder) + L" --log");
      EXPECT_EQ(LibraryResult(run), 0);
      EXPECT_NE(run.output.find("journal folder (" + ToNarrow(c.folder) + ") refused: " + c.reason),
                std::string::npos)
          << run.output;
      if (c.journalOnly) {  // drvuninst tells it too, not only the log
        EXPECT_NE(run.output.find("no journal was written in " + ToNarrow(c.folder) + ": " + c.reason),
                  std::string::npos)
            << run.output;
      }
    }
  }
  // Flags the library does not know are refused too.
  kyd::UniqueModule library(LoadLibraryW(host_.dll().c_str()));
  auto uninstallEx = reinterpret_cast<decltype(&DrvUninst_UninstallDrvEx)>(
      reinterpret_cast<void*>(GetProcAddress(library.get(), "DrvUninst_UninstallDrvEx")));
  ASSERT_NE(uninstallEx, nullptr);
  EXPECT_EQ(uninstallEx(hardwareId_.c_str(), kSystemClass, 0, 16 | KYD_UNINSTALL_JOURNAL, (dir / L"new").c_str()), 0);
  EXPECT_EQ(Join(Differences(before, watch_.Take())), "");
}

// A plan whose lines drv64.exe could not all write (its exit code says so)
// fails the call with a log line, and drvuninst exits 1; the same plan
// written in full answers as the run would.
TEST(SeamPlanW64, APlanThatLostLinesFailsTheCall) {
  StagedHost::Options options;
  options.exitCodeDrv64 = true;
  StagedHost host(options);
  struct Case {
    const wchar_t* exitCode;
    int result;
    DWORD exit;
    bool said;
  } cases[] = {{L"2", 1, 0, false}, {L"4", 0, 1, true}};
  for (const Case& c : cases) {
    SCOPED_TRACE(ToNarrow(c.exitCode));
    ScratchDir plan(L"lost plan");
    ProcessResult run = host.Cli(L"uninstall \"PCI\\VEN_1B21&DEV_1405\" " + std::wstring(kSystemClass) +
                                     L" --plan --journal " + Quote(plan.path()) + L" --log",
                                 {std::wstring(L"KYD_EXIT_CODE=") + c.exitCode});
    EXPECT_EQ(LibraryResult(run), c.result) << run.output;
    EXPECT_EQ(run.exitCode, c.exit) << run.output;
    EXPECT_EQ(run.output.find("plan: some of its lines could not be written") != std::string::npos, c.said)
        << run.output;
  }
}

std::wstring HeaderTime(const std::wstring& journal, const wchar_t* label) {
  std::wstring text = ReadUtf8(journal + L"\\manifest.txt");
  size_t at = text.find(std::wstring(L"# ") + label + L"\t");
  if (at == std::wstring::npos) return {};
  at += 3 + std::wcslen(label);
  return text.substr(at, 24);  // 2024-01-02T03:04:05.678Z
}

// Two hosts uninstall the same device at once: the second waits for the
// first, both finish, and the leftover INF is deleted once. (drv64.exe's
// removal is replaced by a double that takes its time, so that the two calls
// overlap; the leftover INFs go through the real program.)
TEST(OneUninstallAtATimeW64, ASecondCallWaitsAndNothingIsCleanedTwice) {
  StagedHost::Options options;
  options.exitCodeDrv64 = true;
  StagedHost host(options);
  const std::wstring hardwareId = L"PCI\\VEN_1B21&DEV_1404";
  SeededInf first(FreeOemInfName(), InfFor(hardwareId)), second(FreeOemInfName(), InfFor(hardwareId));
  ScratchDir journals[2] = {ScratchDir(L"journal a"), ScratchDir(L"journal b")};
  ProcessResult runs[2];
  std::thread calls[2];
  for (int i = 0; i < 2; ++i) {
    calls[i] = std::thread([&, i] {
      runs[i] = host.Cli(L"uninstall " + Quote(hardwareId) + L" " + kSystemClass + L" --journal " +
                             Quote(journals[i].path()),
                         {L"KYD_EXIT_CODE=2", L"KYD_EXIT_SLEEP_MS=1500", L"KYD_EXITCODE_PASS=kydleftover"});
    });
  }
  for (std::thread& call : calls) call.join();
  EXPECT_EQ(LibraryResult(runs[0]), 1) << runs[0].output;
  EXPECT_EQ(LibraryResult(runs[1]), 1) << runs[1].output;
  std::wstring begun[2], ended[2];
  for (int i = 0; i < 2; ++i) {
    begun[i] = HeaderTime(journals[i].path(), L"begun");
    ended[i] = HeaderTime(journals[i].path(), L"ended");
    ASSERT_FALSE(begun[i].empty() || ended[i].empty());
  }
  EXPECT_TRUE(ended[0] <= begun[1] || ended[1] <= begun[0])
      << ToNarrow(begun[0] + L" - " + ended[0] + L" and " + begun[1] + L" - " + ended[1]);
  for (const SeededInf* inf : {&first, &second}) {
    EXPECT_FALSE(FileExists(inf->path()));
    // Which calls removed it: as a driver package, or (Windows XP) as a
    // file; the INF and PNF Wine leaves behind a package removal go after it
    // in the same call.
    int deletions = 0;
    std::wstring seen;
    for (const ScratchDir& journal : journals) {
      bool removed = false;
      for (const std::wstring& line : ManifestLines(journal.path()))
        if (line.find(L"\tremove-driver-package\t" + inf->path() + L"\t") != std::wstring::npos ||
            (line.find(L"\tdelete-inf\t" + inf->path() + L"\t") != std::wstring::npos &&
             line.find(L"\tinf=yes") != std::wstring::npos))
          removed = true, seen += L"\n" + journal.path() + L": " + line;
      deletions += removed;
    }
    EXPECT_EQ(deletions, 1) << ToNarrow(inf->path() + seen);
  }
}

TEST(UninstallLock, ASecondCallGivesUpAfterItsWaitAndGetsTheLockOnceItIsFree) {
  LogCapture log;
  kyd::UniqueHandle ready(CreateEventW(nullptr, TRUE, FALSE, nullptr)), done(CreateEventW(nullptr, TRUE, FALSE, nullptr));
  std::thread holder([&] {
    kyd::UninstallLock lock;
    EXPECT_TRUE(lock.held());
    SetEvent(ready.get());
    WaitForSingleObject(done.get(), 20000);
  });
  ASSERT_EQ(WaitForSingleObject(ready.get(), 20000), WAIT_OBJECT_0);
  {
    kyd::UninstallLock waiting(300);
    EXPECT_FALSE(waiting.held());
  }
  EXPECT_EQ(log.Count("another uninstall is still running after 0 seconds; this call gives up"), 1);
  SetEvent(done.get());
  holder.join();
  kyd::UninstallLock free(3000);
  EXPECT_TRUE(free.held());
}

// The lock is the global one, and its DACL grants full access to SYSTEM and
// the Administrators and to nobody else, whoever made it: so an
// administrator's host and a host running as SYSTEM wait on one lock.
TEST(UninstallLock, TheGlobalLockGrantsSystemAndAdministratorsFullAccess) {
  kyd::UninstallLock lock(0);
  ASSERT_TRUE(lock.held());
  kyd::UniqueHandle mutex(OpenMutexW(READ_CONTROL, FALSE, kyd::kUninstallLockName));
  ASSERT_TRUE(mutex) << "not the global lock";
  PACL dacl = nullptr;
  kyd::UniqueLocal descriptor;
  ASSERT_EQ(GetSecurityInfo(mutex.get(), SE_KERNEL_OBJECT, DACL_SECURITY_INFORMATION, nullptr, nullptr, &dacl,
                            nullptr, reinterpret_cast<PSECURITY_DESCRIPTOR*>(descriptor.put())),
            static_cast<DWORD>(ERROR_SUCCESS));
  ASSERT_NE(dacl, nullptr);
  SECURITY_DESCRIPTOR_CONTROL control = 0;
  DWORD revision = 0;
  ASSERT_TRUE(GetSecurityDescriptorControl(descriptor.get(), &control, &revision));
  EXPECT_TRUE(control & SE_DACL_PROTECTED);
  std::set<std::wstring> granted;
  for (DWORD i = 0; i < dacl->AceCount; ++i) {
    ACCESS_ALLOWED_ACE* ace = nullptr;
    ASSERT_TRUE(GetAce(dacl, i, reinterpret_cast<void**>(&ace)));
    ASSERT_EQ(ace->Header.AceType, ACCESS_ALLOWED_ACE_TYPE);
    EXPECT_TRUE(ace->Mask == GENERIC_ALL || (ace->Mask & MUTEX_ALL_ACCESS) == MUTEX_ALL_ACCESS) << ace->Mask;
    kyd::UniqueLocal sid;
    ASSERT_TRUE(ConvertSidToStringSidW(&ace->SidStart, reinterpret_cast<wchar_t**>(sid.put())));
    granted.insert(static_cast<const wchar_t*>(sid.get()));
  }
  EXPECT_EQ(granted, (std::set<std::wstring>{L"S-1-5-18", L"S-1-5-32-544"}));
}

}  // namespace
