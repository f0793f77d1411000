// Files the running system holds: deleted at the next restart under the name
// a 64-bit system process finds them by, their folders after them; the list
// Windows carries out at start edited for our entries only; the removal
// road's answer when its package folder holds such files; plans, journals
// and restores of such deletions.
#include <gtest/gtest.h>

#include <algorithm>

#include "machine/dir_tree.h"
#include "machine/journal.h"
#include "machine/machine.h"
#include "machine/pending.h"
#include "platform/env.h"
#include "platform/handle.h"
#include "removal/driver_removal.h"
#include "support/engine_bench.h"
#include "support/log_capture.h"
#include "support/wine_bench.h"

namespace {

using namespace kydtest;
namespace machine = kyd::machine;
namespace pending = kyd::machine::pending;
using Ops = std::vector<pending::Operation>;

std::vector<BYTE> Bytes(const std::wstring& text) {
  std::vector<BYTE> data(text.size() * sizeof(wchar_t));
  std::copy_n(reinterpret_cast<const BYTE*>(text.data()), data.size(), data.data());
  return data;
}

// ------------------------------------------------------------- the list

TEST(PendingList, OnlyOurDeletionIsTakenOutAndEveryOtherOperationKeepsItsPlace) {
  const std::wstring ours = L"C:\\Windows\\SysWOW64\\kyd.dll";
  struct Row {
    const char* what;
    Ops before;
    bool found;
    Ops after;
  } rows[] = {
      {"between others' operations",
       {{L"\\??\\C:\\a.tmp", L""}, {L"\\??\\C:\\Windows\\SysWOW64\\kyd.dll", L""}, {L"\\??\\C:\\b", L"!\\??\\C:\\c"}},
       true,
       {{L"\\??\\C:\\a.tmp", L""}, {L"\\??\\C:\\b", L"!\\??\\C:\\c"}}},
      {"named twice: the last one goes",
       {{L"\\??\\C:\\Windows\\SysWOW64\\kyd.dll", L""}, {L"\\??\\C:\\x", L""},
        {L"\\??\\c:\\windows\\syswow64\\KYD.DLL", L""}},
       true,
       {{L"\\??\\C:\\Windows\\SysWOW64\\kyd.dll", L""}, {L"\\??\\C:\\x", L""}}},
      {"without the prefix", {{L"C:\\Windows\\SysWOW64\\kyd.dll", L""}}, true, {}},
      {"a rename of the same file is no deletion",
       {{L"\\??\\C:\\Windows\\SysWOW64\\kyd.dll", L"\\??\\C:\\kyd.old"}}, false,
       {{L"\\??\\C:\\Windows\\SysWOW64\\kyd.dll", L"\\??\\C:\\kyd.old"}}},
      {"the native namesake is another file", {{L"\\??\\C:\\Windows\\System32\\kyd.dll", L""}}, false,
       {{L"\\??\\C:\\Windows\\System32\\kyd.dll", L""}}},
  };
  for (const Row& row : rows) {
    Ops ops = row.before;
    EXPECT_EQ(pending::DropDeletion(ops, ours), row.found) << row.what;
    EXPECT_EQ(ops, row.after) << row.what;
    Ops reread;
    ASSERT_TRUE(pending::Parse(pending::Format(ops), reread)) << row.what;
    EXPECT_EQ(reread, ops) << row.what;
  }
}

TEST(PendingList, ReadsWhatWindowsWritesAndLeavesAloneWhatItCannotRead) {
  using namespace std::string_literals;
  struct Row {
    const char* what;
    std::wstring data;
    bool ok;
    size_t operations;
  } rows[] = {
      {"empty", L""s, true, 0},
      {"two deletions and the closing string", L"\\??\\C:\\a\0\0\\??\\C:\\b\0\0\0"s, true, 2},
      {"without the closing string", L"\\??\\C:\\a\0\0"s, true, 1},
      {"a rename", L"\\??\\C:\\a\0!\\??\\C:\\b\0\0"s, true, 1},
      {"a name without its pair", L"\\??\\C:\\a\0\0\\??\\C:\\b\0"s, false, 0},
      {"an operation on no name", L"\0\0\0"s, false, 0},
      {"not closed", L"\\??\\C:\\a"s, false, 0},
  };
  for (const Row& row : rows) {
    Ops ops;
    EXPECT_EQ(pending::Parse(Bytes(row.data), ops), row.ok) << row.what;
    if (row.ok) {
      EXPECT_EQ(ops.size(), row.operations) << row.what;
    }
  }
  std::vector<BYTE> odd = {'a', 0, 0};
  Ops ops;
  EXPECT_FALSE(pending::Parse(odd, ops));
}

// What a 32-bit program reached with redirection on, as the 64-bit system
// process that deletes at start names it.
TEST(RealName, SystemFolderOfA32BitProgramIsSysWow64ApartFromWhatWow64LeavesAlone) {
  const std::wstring system = L"C:\\Windows\\system32", wow64 = L"C:\\Windows\\SysWOW64";
  const std::pair<const wchar_t*, const wchar_t*> rows[] = {
      {L"C:\\Windows\\system32\\kyd.dll", L"C:\\Windows\\SysWOW64\\kyd.dll"},
      {L"c:\\WINDOWS\\System32\\Drivers\\kyd.sys", L"C:\\Windows\\SysWOW64\\Drivers\\kyd.sys"},
      {L"C:\\Windows\\system32", L"C:\\Windows\\SysWOW64"},
      {L"C:\\Windows\\Sysnative\\kyd.dll", L"C:\\Windows\\system32\\kyd.dll"},
      {L"C:\\Windows\\system32\\drivers\\etc\\hosts", L"C:\\Windows\\system32\\drivers\\etc\\hosts"},
      {L"C:\\Windows\\system32\\DriverStore\\FileRepository\\k.inf_x\\k.dll",
       L"C:\\Windows\\system32\\DriverStore\\FileRepository\\k.inf_x\\k.dll"},
      {L"C:\\Windows\\system32\\catroot2\\k.cat", L"C:\\Windows\\system32\\catroot2\\k.cat"},
      {L"C:\\Windows\\system32x\\kyd.dll", L"C:\\Windows\\system32x\\kyd.dll"},
      {L"C:\\Windows\\kyd.dll", L"C:\\Windows\\kyd.dll"},
      {L"C:\\Windows\\SysWOW64\\kyd.dll", L"C:\\Windows\\SysWOW64\\kyd.dll"},
  };
  for (const auto& [path, real] : rows) EXPECT_EQ(pending::NativeNameOf(path, system, wow64), real) << ToNarrow(path);
}

// ------------------------------------------------------------- deletions

constexpr wchar_t kSessionManager[] = L"SYSTEM\\CurrentControlSet\\Control\\Session Manager";
constexpr wchar_t kPendingValue[] = L"PendingFileRenameOperations";

Ops ReadPending() {
  kyd::UniqueKey key;
  Ops ops;
  if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, kSessionManager, 0, KEY_QUERY_VALUE | KEY_WOW64_64KEY, key.put()) != 0)
    return ops;
  DWORD size = 0;
  if (RegQueryValueExW(key.get(), kPendingValue, nullptr, nullptr, nullptr, &size) != ERROR_SUCCESS) return ops;
  std::vector<BYTE> data(size);
  RegQueryValueExW(key.get(), kPendingValue, nullptr, nullptr, data.data(), &size);
  EXPECT_TRUE(pending::Parse(data, ops));
  return ops;
}

void WritePending(const Ops& ops) {
  kyd::UniqueKey key;
  ASSERT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, kSessionManager, 0, KEY_SET_VALUE | KEY_WOW64_64KEY, key.put()), 0);
  if (ops.empty()) {
    RegDeleteValueW(key.get(), kPendingValue);
    return;
  }
  std::vector<BYTE> data = pending::Format(ops);
  ASSERT_EQ(RegSetValueExW(key.get(), kPendingValue, 0, REG_MULTI_SZ, data.data(), static_cast<DWORD>(data.size())), 0);
}

std::wstring Due(const std::wstring& realPath) { return L"\\??\\" + realPath; }

// A vendor tree with a file held open without delete sharing, a DLL this
// program has loaded, a file beside them and another program's operation in
// the list; the list as it was is put back afterwards.
class FilesInUse : public ::testing::Test {
 protected:
  void SetUp() override {
    saved_ = ReadPending();
    WritePending({others_});
    root_ = dir_ / L"Vendor";
    b_ = root_ + L"\\A\\B";
    ASSERT_TRUE(CreateDirectoryW(root_.c_str(), nullptr) && CreateDirectoryW((root_ + L"\\A").c_str(), nullptr) &&
                CreateDirectoryW(b_.c_str(), nullptr));
    held_ = b_ + L"\\held.log";
    loaded_ = root_ + L"\\A\\kydloaded.dll";
    ASSERT_TRUE(WriteFileBytes(held_, "held") && WriteFileBytes(b_ + L"\\beside.txt", "beside"));
    ASSERT_TRUE(CopyFileW((kyd::GetSystemDir() + L"\\msvcrt.dll").c_str(), loaded_.c_str(), FALSE));
    Hold();
  }
  void TearDown() override {
    Release();
    WritePending(saved_);
  }
  // The file held here, the DLL loaded by another program (one that can end
  // as at a restart).
  void Hold() {
    holder_.reset(CreateFileW(held_.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
    loader_ = programs_.StartHolding(L"kydloader.exe", {}, {loaded_});
    ASSERT_TRUE(holder_.valid() && loader_ >= 0);
  }
  void Release() {
    holder_.reset();
    programs_.End(loader_);
  }
  // What the list holds besides the other program's operation.
  Ops Ours() {
    Ops ops = ReadPending();
    EXPECT_FALSE(ops.empty());
    if (!ops.empty()) {
      EXPECT_EQ(ops.front(), others_) << "another program's operation moved or changed";
      ops.erase(ops.begin());
    }
    return ops;
  }
  // The order the restart must keep: each file before the folders above it.
  Ops Expected() const {
    return {{Due(loaded_), L""}, {Due(held_), L""}, {Due(b_), L""}, {Due(root_ + L"\\A"), L""}, {Due(root_), L""}};
  }

  ScratchDir dir_{L"inuse"};
  std::wstring root_, b_, held_, loaded_;
  kyd::UniqueFile holder_;
  SleeperProcesses programs_{dir_.path()};
  int loader_ = -1;
  const pending::Operation others_{L"\\??\\C:\\other\\update.tmp", L"!\\??\\C:\\other\\update.dll"};
  Ops saved_;
  TestEngine engine_;
  LogCapture log_;
};

// The list holds exactly `expected`, each file before the folders above it
// (within a folder the walk meets entries in the file system's order).
void ExpectRestartOrder(const Ops& ours, const Ops& expected) {
  Ops a = ours, b = expected;
  auto byName = [](const pending::Operation& x, const pending::Operation& y) { return x.from < y.from; };
  std::sort(a.begin(), a.end(), byName);
  std::sort(b.begin(), b.end(), byName);
  ASSERT_EQ(a, b);
  auto at = [&](const pending::Operation& op) { return std::find(ours.begin(), ours.end(), op) - ours.begin(); };
  // loaded, held, B, A, root: loaded before A, held before B before A before root.
  EXPECT_LT(at(expected[0]), at(expected[3]));
  EXPECT_LT(at(expected[1]), at(expected[2]));
  EXPECT_LT(at(expected[2]), at(expected[3]));
  EXPECT_LT(at(expected[3]), at(expected[4]));
}

TEST_F(FilesInUse, HeldAndLoadedFilesGoAtTheRestartAndTheirFoldersAfterThem) {
  const long before = machine::ScheduledDeletions();
  EXPECT_TRUE(engine_.DeleteFolderTree(root_));

  EXPECT_FALSE(FileExists(b_ + L"\\beside.txt"));
  EXPECT_TRUE(FileExists(held_) && FileExists(loaded_));
  EXPECT_EQ(machine::ScheduledDeletions() - before, 5);
  ExpectRestartOrder(Ours(), Expected());
  for (const std::wstring& path : {held_, loaded_})
    EXPECT_EQ(log_.Count("delete file " + ToNarrow(path) + " at the next restart"), 1) << ToNarrow(path);
  for (const std::wstring& path : {b_, root_ + L"\\A", root_})
    EXPECT_EQ(log_.Count("delete dir " + ToNarrow(path) + " at the next restart"), 1) << ToNarrow(path);
}

// The removal road deletes the device's package folder in the driver store
// whole; a file of it that the running system holds goes at the next
// restart, and so the removal program's answer asks for a restart, whether
// the removal itself asked for one or not.
TEST_F(FilesInUse, AFolderOfThePackageInUseMakesTheRemovalAskForARestart) {
  const long before = machine::ScheduledDeletions();
  const unsigned long restart = kyd::kRemovalDone | kyd::kRemovalRebootFlag;
  EXPECT_EQ(kyd::RemovalDoneCode(false, before), kyd::kRemovalDone) << "nothing left for the restart yet";
  EXPECT_EQ(kyd::RemovalDoneCode(true, before), restart);
  EXPECT_TRUE(kyd::RemoveDirectoryTree(root_));
  EXPECT_TRUE(FileExists(held_) && FileExists(loaded_));
  EXPECT_EQ(kyd::RemovalDoneCode(false, before), restart);
  EXPECT_EQ(kyd::RemovalDoneCode(true, before), restart);
  ExpectRestartOrder(Ours(), Expected());
}

// The 32-bit library reaches the system folder of 64-bit Windows through
// redirection: the restart must delete the file it met, not the native one
// of the same name.
TEST_F(FilesInUse, ASystemFileGoesWhereItReallyIs) {
  const std::wstring name = UniqueName(L"kydinuse") + L".dll", path = kyd::GetSystemDir() + L"\\" + name;
  ASSERT_TRUE(WriteFileBytes(path, "system"));
  kyd::UniqueFile open(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
  wchar_t wow64[MAX_PATH] = {};
  const bool wow = Is64BitPrefix() && GetSystemWow64DirectoryW(wow64, MAX_PATH);
  const std::wstring real = wow ? std::wstring(wow64) + L"\\" + name : path;
  const wchar_t* names[] = {name.c_str()};
  engine_.DeleteFilesInFolder(kyd::NameList(names, 1), kyd::GetSystemDir());
  // The system files' sweep meets it again as SysWOW64's: Windows needs it once.
  if (wow) engine_.DeleteFilesInFolder(kyd::NameList(names, 1), wow64);
  open.reset();
  DeleteFileW(path.c_str());

  EXPECT_EQ(Ours(), (Ops{{Due(real), L""}}));
  EXPECT_EQ(log_.Count("delete file " + ToNarrow(real) + " at the next restart"), wow ? 2 : 1);
}

// What may not be deleted stays a failure: nothing is scheduled for it, and
// its folder stays.
TEST_F(FilesInUse, AReadOnlyFileIsNotInUse) {
  const std::wstring ro = dir_ / L"ro.dll";
  ASSERT_TRUE(WriteFileBytes(ro, "ro") && SetFileAttributesW(ro.c_str(), FILE_ATTRIBUTE_READONLY));
  const wchar_t* names[] = {L"ro.dll"};
  const long before = machine::ScheduledDeletions();
  engine_.DeleteFilesInFolder(kyd::NameList(names, 1), dir_.path());
  EXPECT_EQ(log_.Count("delete file " + ToNarrow(ro) + " failed"), 1);
  EXPECT_EQ(machine::ScheduledDeletions(), before);
  EXPECT_EQ(ReadPending(), (Ops{others_}));
  SetFileAttributesW(ro.c_str(), FILE_ATTRIBUTE_NORMAL);
}

TEST_F(FilesInUse, APlanNamesTheDeletionsAndSchedulesNothing) {
  ScratchDir plan(L"inuse-plan");
  const long before = machine::ScheduledDeletions();
  {
    machine::Session session(machine::Mode::kPlan, plan.path());
    ASSERT_TRUE(session.ok());
    engine_.DeleteFolderTree(root_);
  }
  EXPECT_EQ(machine::ScheduledDeletions(), before);
  EXPECT_EQ(ReadPending(), (Ops{others_}));
  machine::journal::Manifest manifest;
  ASSERT_TRUE(machine::journal::ReadManifest(plan.path(), manifest));
  auto has = [&](const wchar_t* verb, const std::wstring& target) {
    return std::any_of(manifest.lines.begin(), manifest.lines.end(),
                       [&](const auto& l) { return l.verb == verb && l.target == target; });
  };
  EXPECT_TRUE(has(L"delete-file", held_) && has(L"delete-file", loaded_) && has(L"remove-folder", root_));
  EXPECT_TRUE(std::none_of(manifest.lines.begin(), manifest.lines.end(),
                           [](const auto& l) { return l.verb == L"delete-at-restart"; }));
}

// A journal saves each file before its deletion is scheduled and marks the
// deletion line. A restore before the restart calls off our deletions only
// (the files stay); one after it brings the files and folders back.
TEST_F(FilesInUse, JournalRoundTripBeforeAndAfterTheRestart) {
  for (bool restarted : {false, true}) {
    SCOPED_TRACE(restarted ? "after the restart" : "before the restart");
    ScratchDir journal(restarted ? L"inuse-after" : L"inuse-before");
    {
      machine::Session session(machine::Mode::kJournal, journal.path());
      ASSERT_TRUE(session.ok());
      engine_.DeleteFolderTree(root_);
    }
    machine::journal::Manifest manifest;
    ASSERT_TRUE(machine::journal::ReadManifest(journal.path(), manifest));
    int marks = 0;
    for (const auto& line : manifest.lines) {
      if (line.verb != L"delete-at-restart") continue;
      ++marks;
      auto of = std::find_if(manifest.lines.begin(), manifest.lines.end(),
                             [&](const auto& l) { return std::to_wstring(l.number) == line.Get(L"of"); });
      ASSERT_NE(of, manifest.lines.end());
      EXPECT_EQ(of->verb, line.Get(L"item") == L"file" ? L"delete-file" : L"remove-folder");
      EXPECT_EQ(of->target, line.Get(L"path"));
      EXPECT_TRUE(of->Has(L"material"));
    }
    EXPECT_EQ(marks, 5);
    ExpectRestartOrder(Ours(), Expected());
    if (restarted) {
      // What Windows does at start: the list carried out in order, then gone.
      Release();
      for (const pending::Operation& op : Ours()) {
        const std::wstring path = op.from.substr(4);
        EXPECT_TRUE(DeleteFileW(path.c_str()) || RemoveDirectoryW(path.c_str())) << ToNarrow(path);
      }
      WritePending({others_});
    }
    EXPECT_EQ(machine::Restore(journal.path()), machine::kRestoreComplete);
    EXPECT_EQ(ReadPending(), (Ops{others_}));
    EXPECT_EQ(ReadFileBytes(held_), "held");
    EXPECT_TRUE(FileExists(loaded_));
    EXPECT_EQ(ReadFileBytes(b_ + L"\\beside.txt"), "beside");
    const std::string report = ReadFileBytes(journal / L"restore.txt");
    const char* said = restarted ? "\tpresent\tdelete-at-restart\t" : "\trestored\tdelete-at-restart\t";
    const char* why = restarted ? "deleted at a restart" : "called off before the restart";
    size_t count = 0;
    for (size_t at = report.find(said); at != std::string::npos; at = report.find(said, at + 1)) ++count;
    EXPECT_EQ(count, 5u) << report;
    EXPECT_NE(report.find(why), std::string::npos) << report;
  }
}

}  // namespace
