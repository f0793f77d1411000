// One read per key: within a run a listing is read once and reused, stays
// true after the seam's own deletions whichever path named the key, and is
// read afresh after another program ran.
#include <gtest/gtest.h>

#include <shlwapi.h>

#include <algorithm>
#include <string>
#include <thread>
#include <vector>

#include "engine/base_drv_uninst.h"
#include "machine/machine.h"
#include "machine/journal.h"
#include "support/engine_bench.h"
#include "support/wine_bench.h"

namespace {

namespace machine = kyd::machine;
using Names = std::vector<std::wstring>;

// A path to the test's keys: a root and what comes before the key's name.
struct Road {
  HKEY root;
  std::wstring base;
};

class TestKeys {
 public:
  // Keys below the machine's classes, in the shared application IDs on
  // 64-bit Windows (HKCR\Wow6432Node\AppID is a link to HKCR\AppID there).
  explicit TestKeys(const std::wstring& below) {
    leaf_ = L"KydReads" + std::to_wstring(GetCurrentProcessId());
    name_ = below + leaf_;
    SHDeleteKeyW(HKEY_CLASSES_ROOT, name_.c_str());
    for (const wchar_t* child : {L"A", L"B"}) Create(child);
    Set(L"A", L"v", L"a");
    Set(L"B", L"w", L"b");
  }
  ~TestKeys() { SHDeleteKeyW(HKEY_CLASSES_ROOT, name_.c_str()); }

  // Made behind the run's back, as another program would.
  void Create(const std::wstring& child) {
    HKEY key = nullptr;
    ASSERT_EQ(RegCreateKeyExW(HKEY_CLASSES_ROOT, (name_ + L"\\" + child).c_str(), 0, nullptr, 0,
                              KEY_ALL_ACCESS | KEY_WOW64_64KEY, nullptr, &key, nullptr),
              ERROR_SUCCESS);
    RegCloseKey(key);
  }
  void Set(const std::wstring& child, const wchar_t* name, const wchar_t* text) {
    ASSERT_EQ(SHSetValueW(HKEY_CLASSES_ROOT, (name_ + L"\\" + child).c_str(), name, REG_SZ, text,
                          static_cast<DWORD>((wcslen(text) + 1) * sizeof(wchar_t))),
              ERROR_SUCCESS);
  }
  std::wstring Path(const Road& road, const std::wstring& child = {}) const {
    return road.base + leaf_ + (child.empty() ? L"" : L"\\" + child);
  }
  Names List(const Road& road) const {
    Names names;
    EXPECT_EQ(machine::ReadSubKeys(road.root, Path(road), KEY_WOW64_64KEY, names), ERROR_SUCCESS);
    std::sort(names.begin(), names.end());
    return names;
  }

 private:
  std::wstring leaf_, name_;  // the test's key, and its path below HKCR
};

BOOL IsWow64() {
  BOOL wow64 = FALSE;
  IsWow64Process(GetCurrentProcess(), &wow64);
  return wow64;
}

const Road kClassesRoot{HKEY_CLASSES_ROOT, L""};
const Road kMachineClasses{HKEY_LOCAL_MACHINE, L"Software\\Classes\\"};

struct DeletionCase {
  const char* what;
  const wchar_t* below;  // where the test's keys are made, below HKCR
  Road read, change;
  bool wow64Only;
};

const DeletionCase kDeletionCases[] = {
    {"read and deleted through HKCR", L"", kClassesRoot, kClassesRoot, false},
    {"read through HKLM\\Software\\Classes, deleted through HKCR", L"", kMachineClasses, kClassesRoot, false},
    {"read through HKCR, deleted through HKLM\\Software\\Classes", L"", kClassesRoot, kMachineClasses, false},
    {"read through a link, deleted where it leads", L"AppID\\", {HKEY_CLASSES_ROOT, L"Wow6432Node\\AppID\\"},
     {HKEY_CLASSES_ROOT, L"AppID\\"}, true},
};

TEST(RunReads, AListingReusedAfterTheSeamsOwnDeletionLacksWhatItDeleted) {
  using Base = kyd::CBaseDrvUninst;
  for (const DeletionCase& c : kDeletionCases) {
    if (c.wow64Only && !IsWow64()) continue;
    SCOPED_TRACE(c.what);
    {
      // Values read, then deleted through the other path (their keys never listed).
      TestKeys keys(c.below);
      machine::RunReads reads;
      std::wstring text;
      Names values;
      EXPECT_TRUE(Base::ReadStringValue(c.read.root, keys.Path(c.read, L"A"), L"v", text));
      EXPECT_TRUE(Base::ReadStringValue(c.read.root, keys.Path(c.read, L"B"), L"w", text));
      EXPECT_TRUE(Base::EnumValueNames(c.read.root, keys.Path(c.read, L"B"), values));
      EXPECT_TRUE(Base::DeleteKey(c.change.root, keys.Path(c.change, L"A")));
      EXPECT_TRUE(Base::DeleteValueAt(c.change.root, keys.Path(c.change, L"B"), L"w"));
      EXPECT_FALSE(Base::ReadStringValue(c.read.root, keys.Path(c.read, L"A"), L"v", text));
      EXPECT_FALSE(Base::ReadStringValue(c.read.root, keys.Path(c.read, L"B"), L"w", text)) << "a deleted value";
      values.clear();
      EXPECT_TRUE(Base::EnumValueNames(c.read.root, keys.Path(c.read, L"B"), values));
      EXPECT_EQ(values, Names{});
    }
    TestKeys keys(c.below);
    machine::RunReads reads;
    EXPECT_EQ(keys.List(c.read), (Names{L"A", L"B"}));
    // The listing is reused: a key made behind the run's back is not seen.
    keys.Create(L"C");
    EXPECT_EQ(keys.List(c.read), (Names{L"A", L"B"}));
    const machine::RunReads::Counts before = reads.counts();
    EXPECT_TRUE(Base::DeleteKey(c.change.root, keys.Path(c.change, L"A")));
    EXPECT_EQ(keys.List(c.read), (Names{L"B"}));
    EXPECT_EQ(reads.counts().listed, before.listed);  // answered from memory
    EXPECT_GT(reads.counts().served, before.served);
  }
}

struct ProgramCase {
  const char* what;
  void (*run)(TestKeys& keys);
};

// A service of ours asked to stop through the seam: what it writes while it
// stops must not be answered from what was read before.
class Stopping {
 public:
  explicit Stopping(const char* mode) : service_(kydtest::UniqueName(L"KydReadsSvc"), mode) {
    manager_.reset(OpenSCManagerW(nullptr, nullptr, SC_MANAGER_ALL_ACCESS));
    if (manager_) handle_.reset(OpenServiceW(manager_.get(), service_.name().c_str(), SERVICE_ALL_ACCESS));
  }
  // Asks for the stop, then lists, so that the listing is held from after
  // the acceptance on.
  void StopThenList(TestKeys& keys) {
    ASSERT_TRUE(service_.running());
    ASSERT_TRUE(handle_);
    SERVICE_STATUS status{};
    ASSERT_TRUE(machine::StopService(handle_.get(), service_.name().c_str(), &status));
    EXPECT_EQ(keys.List(kClassesRoot), (Names{L"A", L"B"}));
  }
  // Polls through the seam until the service reports it has stopped.
  void AwaitStopped() {
    SERVICE_STATUS status{};
    for (int i = 0; i < 200; ++i, Sleep(50))
      if (machine::ServiceStatus(handle_.get(), &status) && status.dwCurrentState == SERVICE_STOPPED) return;
    ADD_FAILURE() << "the service did not stop";
  }

 private:
  kydtest::TestService service_;
  kyd::UniqueService manager_, handle_;
};

const ProgramCase kProgramCases[] = {
    {"an uninstaller or other program",
     [](TestKeys& keys) { machine::RunProgram(L"a program", [&] { keys.Create(L"C"); return true; }); }},
    {"the removal program started as a child",
     [](TestKeys& keys) {
       keys.Create(L"C");
       machine::ChildFinished(0);
     }},
    {"a process ended (it wrote as it went)",
     [](TestKeys& keys) {
       kydtest::ScratchDir folder(L"reads-kill");
       kydtest::SleeperProcesses sleepers(folder.path());
       const std::wstring exe = kydtest::UniqueName(L"KydReads") + L".exe";
       const int index = sleepers.Start(exe);
       ASSERT_GE(index, 0);
       keys.Create(L"C");
       const wchar_t* const names[] = {exe.c_str()};
       kyd::CBaseDrvUninst::KillProcesses(names);
       EXPECT_TRUE(sleepers.Ended(index));
     }},
    {"a service that wrote while it stopped, seen stopped",
     [](TestKeys& keys) {
       Stopping service("stop");
       service.StopThenList(keys);
       keys.Create(L"C");
       service.AwaitStopped();
     }},
    {"a service that accepted the stop and never finished it, the wait over",
     [](TestKeys& keys) {
       Stopping service("ignore");
       service.StopThenList(keys);
       keys.Create(L"C");
       machine::ServiceStopsAwaited();
     }},
};

TEST(RunReads, AfterAProgramRanListingsAreReadAfresh) {
  for (const ProgramCase& c : kProgramCases) {
    SCOPED_TRACE(c.what);
    TestKeys keys(L"");
    machine::RunReads reads;
    EXPECT_EQ(keys.List(kClassesRoot), (Names{L"A", L"B"}));
    c.run(keys);
    EXPECT_EQ(keys.List(kClassesRoot), (Names{L"A", L"B", L"C"}));
    EXPECT_EQ(keys.List(kMachineClasses), (Names{L"A", L"B", L"C"}));
  }
}

// The user's class registrations as Windows keeps them: their own hive
// HKU\<SID>_Classes, which HKCU\Software\Classes links to. Wine has neither,
// so the test makes both (and takes them away again).
class UserClasses {
 public:
  UserClasses() {
    kyd::UniqueKey user;
    if (RegOpenCurrentUser(KEY_QUERY_VALUE, user.put()) != ERROR_SUCCESS) return;
    sid_ = machine::journal::KeyName(user.get());
    sid_.erase(0, sid_.rfind(L'\\') + 1);
    kyd::UniqueKey existing, link;
    if (sid_.empty() || RegOpenKeyExW(HKEY_CURRENT_USER, L"Software\\Classes", 0, KEY_READ, existing.put()) == 0)
      return;  // there already: a Windows of its own, left alone
    if (RegCreateKeyExW(HKEY_USERS, hive().c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, hive_.put(), nullptr) ||
        RegCreateKeyExW(HKEY_CURRENT_USER, L"Software\\Classes", 0, nullptr, REG_OPTION_CREATE_LINK,
                        KEY_ALL_ACCESS | KEY_CREATE_LINK, nullptr, link.put(), nullptr))
      return;
    made_ = true;
    const std::wstring target = L"\\REGISTRY\\User\\" + hive();
    ready_ = RegSetValueExW(link.get(), L"SymbolicLinkValue", 0, REG_LINK, reinterpret_cast<const BYTE*>(target.data()),
                            static_cast<DWORD>(target.size() * sizeof(wchar_t))) == ERROR_SUCCESS;
  }
  ~UserClasses() {
    if (!made_) return;
    using DeleteKeyFn = LONG(WINAPI*)(HANDLE);
    const auto deleteKey = reinterpret_cast<DeleteKeyFn>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "NtDeleteKey")));
    kyd::UniqueKey link;
    if (deleteKey && RegOpenKeyExW(HKEY_CURRENT_USER, L"Software\\Classes", REG_OPTION_OPEN_LINK, DELETE,
                                   link.put()) == ERROR_SUCCESS)
      deleteKey(link.get());
    SHDeleteKeyW(HKEY_USERS, hive().c_str());
  }
  bool ready() const { return ready_; }
  std::wstring hive() const { return sid_ + L"_Classes"; }
  const std::wstring& sid() const { return sid_; }

 private:
  std::wstring sid_;
  kyd::UniqueKey hive_;
  bool made_ = false, ready_ = false;
};

// The three names of one key of the user's classes: a value read through
// one and its key deleted through another is gone through the first.
TEST(RunReads, TheUsersClassesAreOneKeyWhicheverNameReachesThem) {
  using Base = kyd::CBaseDrvUninst;
  UserClasses classes;
  if (!classes.ready()) GTEST_SKIP() << "the user's classes cannot be laid out as Windows has them";
  const std::wstring leaf = L"KydReads" + std::to_wstring(GetCurrentProcessId());
  const Road throughHkcu{HKEY_CURRENT_USER, L"Software\\Classes\\" + leaf + L"\\"},
      throughUser{HKEY_USERS, classes.sid() + L"\\Software\\Classes\\" + leaf + L"\\"},
      hive{HKEY_USERS, classes.hive() + L"\\" + leaf + L"\\"};
  const struct {
    const char* what;
    const Road &read, &change;
  } rows[] = {
      {"read through HKCU, deleted in the hive", throughHkcu, hive},
      {"read through the user's Software\\Classes, deleted through HKCU", throughUser, throughHkcu},
      {"read in the hive, deleted through the user's Software\\Classes", hive, throughUser},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.what);
    ASSERT_EQ(SHSetValueW(HKEY_USERS, (hive.base + L"A").c_str(), L"v", REG_SZ, L"a", 2 * sizeof(wchar_t)),
              ERROR_SUCCESS);
    machine::RunReads reads;
    std::wstring text;
    EXPECT_TRUE(Base::ReadStringValue(row.read.root, row.read.base + L"A", L"v", text));
    EXPECT_TRUE(Base::DeleteKey(row.change.root, row.change.base + L"A"));
    EXPECT_FALSE(Base::ReadStringValue(row.read.root, row.read.base + L"A", L"v", text));
  }
  SHDeleteKeyW(HKEY_USERS, (classes.hive() + L"\\" + leaf).c_str());
}

// The run's reads belong to the thread that runs the uninstall; a host
// thread asking meanwhile (IsDrvAppInstall, say) reads the registry itself.
TEST(RunReads, AnotherThreadReadsTheRegistryItself) {
  TestKeys keys(L"");
  machine::RunReads reads;
  EXPECT_EQ(keys.List(kClassesRoot), (Names{L"A", L"B"}));
  keys.Create(L"C");
  Names seen;
  std::thread([&] { seen = keys.List(kClassesRoot); }).join();
  EXPECT_EQ(seen, (Names{L"A", L"B", L"C"}));
  EXPECT_EQ(keys.List(kClassesRoot), (Names{L"A", L"B"}));
}

}  // namespace
