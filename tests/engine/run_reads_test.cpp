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
      EXPECT_TRUE(Base::EnumValueNames(c.read.root, keys.Path(c.read, L"B"), values));
      EXPECT_TRUE(Base::DeleteKey(c.change.root, keys.Path(c.change, L"A")));
      EXPECT_TRUE(Base::DeleteValueAt(c.change.root, keys.Path(c.change, L"B"), L"w"));
      EXPECT_FALSE(Base::ReadStringValue(c.read.root, keys.Path(c.read, L"A"), L"v", text));
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

const ProgramCase kProgramCases[] = {
    {"an uninstaller or other program",
     [](TestKeys& keys) { machine::RunProgram(L"a program", [&] { keys.Create(L"C"); return true; }); }},
    {"the removal program started as a child",
     [](TestKeys& keys) {
       keys.Create(L"C");
       machine::ChildFinished(0);
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
