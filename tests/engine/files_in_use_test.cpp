// Files the running system holds: deleted at the next restart under the name
// a 64-bit system process finds them by, their folders after them; the list
// Windows carries out at start edited for our entries only; the removal
// road's answer when its package folder holds such files; plans, journals
// and restores of such deletions.
#include <gtest/gtest.h>

#include <algorithm>
#include <optional>
#include <set>

#include "machine/dir_tree.h"
#include "machine/journal.h"
#include "machine/machine.h"
#include "machine/pending.h"
#include "platform/env.h"
#include "platform/handle.h"
#include "removal/driver_removal.h"

#include <sddl.h>
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

bool SetDacl(const std::wstring& path, const wchar_t* sddl) {
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  if (!ConvertStringSecurityDescriptorToSecurityDescriptorW(sddl, SDDL_REVISION_1, &descriptor, nullptr)) return false;
  kyd::UniqueLocal owned(descriptor);
  return SetFileSecurityW(path.c_str(), DACL_SECURITY_INFORMATION, descriptor) != FALSE;
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
        {L"*1\\??\\c:\\windows\\syswow64\\KYD.DLL", L""}},
       true,
       {{L"\\??\\C:\\Windows\\SysWOW64\\kyd.dll", L""}, {L"\\??\\C:\\x", L""}}},
      {"without the prefix", {{L"C:\\Windows\\SysWOW64\\kyd.dll", L""}}, true, {}},
      {"as Windows 11 writes it", {{L"*2\\??\\C:\\Windows\\SysWOW64\\kyd.dll", L""}}, true, {}},
      {"a rename of the same file is no deletion",
       {{L"*1\\??\\C:\\Windows\\SysWOW64\\kyd.dll", L"\\??\\C:\\kyd.old"}}, false,
       {{L"*1\\??\\C:\\Windows\\SysWOW64\\kyd.dll", L"\\??\\C:\\kyd.old"}}},
      {"the native namesake is another file", {{L"*1\\??\\C:\\Windows\\System32\\kyd.dll", L""}}, false,
       {{L"*1\\??\\C:\\Windows\\System32\\kyd.dll", L""}}},
  };
  for (const Row& row : rows) {
    pending::List list{row.before};
    EXPECT_EQ(pending::DropDeletion(list, ours), row.found) << row.what;
    EXPECT_EQ(list.operations, row.after) << row.what;
    pending::List reread;
    ASSERT_TRUE(pending::Parse(pending::Format(list), reread)) << row.what;
    EXPECT_EQ(reread, list) << row.what;
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
      {"two deletions and the closing string", L"\\??\\C:\\a\0\0*1\\??\\C:\\b\0\0\0"s, true, 2},
      {"without the closing string", L"\\??\\C:\\a\0\0"s, true, 1},
      {"padded", L"*1\\??\\C:\\a\0\0\0\0\0"s, true, 1},
      {"a rename", L"\\??\\C:\\a\0!\\??\\C:\\b\0\0"s, true, 1},
      {"a name without its pair", L"\\??\\C:\\a\0\0\\??\\C:\\b\0"s, false, 0},
      {"an operation on no name", L"\0\0\\??\\C:\\a\0\0\0"s, false, 0},
      {"not closed", L"\\??\\C:\\a"s, false, 0},
  };
  for (const Row& row : rows) {
    pending::List list;
    EXPECT_EQ(pending::Parse(Bytes(row.data), list), row.ok) << row.what;
    if (row.ok) {
      EXPECT_EQ(list.operations.size(), row.operations) << row.what;
      EXPECT_EQ(pending::Format(list), Bytes(row.data)) << row.what << ": not written back as it was";
    }
  }
  std::vector<BYTE> odd = {'a', 0, 0};
  pending::List list;
  EXPECT_FALSE(pending::Parse(odd, list));
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
  // A long path is mapped the same; Vista and Server 2008 redirect DriverStore.
  EXPECT_EQ(pending::NativeNameOf(L"\\\\?\\C:\\Windows\\System32\\kyd.dll", system, wow64),
            L"\\\\?\\C:\\Windows\\SysWOW64\\kyd.dll");
  EXPECT_EQ(pending::NativeNameOf(L"C:\\Windows\\system32\\DriverStore\\k.inf", system, wow64, false),
            L"C:\\Windows\\SysWOW64\\DriverStore\\k.inf");
}

// ------------------------------------------------------------- deletions

constexpr wchar_t kSessionManager[] = L"SYSTEM\\CurrentControlSet\\Control\\Session Manager";

// A list's value as stored; nullopt when there is none.
std::optional<std::vector<BYTE>> ReadValue(int which) {
  kyd::UniqueKey key;
  DWORD size = 0;
  if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, kSessionManager, 0, KEY_QUERY_VALUE | KEY_WOW64_64KEY, key.put()) != 0 ||
      RegQueryValueExW(key.get(), pending::kValues[which], nullptr, nullptr, nullptr, &size) != ERROR_SUCCESS)
    return std::nullopt;
  std::vector<BYTE> data(size);
  RegQueryValueExW(key.get(), pending::kValues[which], nullptr, nullptr, data.data(), &size);
  data.resize(size);
  return data;
}

void WriteValue(int which, const std::optional<std::vector<BYTE>>& data) {
  kyd::UniqueKey key;
  ASSERT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, kSessionManager, 0, KEY_SET_VALUE | KEY_WOW64_64KEY, key.put()), 0);
  if (!data) {
    RegDeleteValueW(key.get(), pending::kValues[which]);
    return;
  }
  ASSERT_EQ(RegSetValueExW(key.get(), pending::kValues[which], 0, REG_MULTI_SZ, data->data(),
                           static_cast<DWORD>(data->size())),
            0);
}

Ops ReadPending() {
  pending::List list;
  if (auto data = ReadValue(0)) {
    EXPECT_TRUE(pending::Parse(*data, list));
  }
  return list.operations;
}

void WritePending(const Ops& ops) {
  WriteValue(0, ops.empty() ? std::nullopt : std::optional(pending::Format(pending::List{ops})));
}

// Both lists written as given, then read, called off and read again for one
// path of ours; everything else must come back byte for byte.
TEST(PendingList, EveryFormIsReadAndOnlyOurEntryIsCalledOff) {
  using namespace std::string_literals;
  const std::wstring ours = L"C:\\kyd\\held.dll", others = L"\\??\\C:\\o\\a\0\0*1\\??\\C:\\o\\b\0!\\??\\C:\\o\\c\0"s;
  struct Row {
    const char* what;
    std::wstring first, second;  // "-": no such value
    bool due;
    std::wstring firstAfter, secondAfter;
  } rows[] = {
      {"\\??\\ source", L"\\??\\C:\\kyd\\held.dll\0\0\0"s, L"-", true, L"-", L"-"},
      {"*1 source among others", others + L"*1\\??\\C:\\KYD\\held.dll\0\0C:\\o\\d\0\\??\\C:\\o\\e\0\0"s, L"-", true,
       others + L"C:\\o\\d\0\\??\\C:\\o\\e\0\0"s, L"-"},
      {"*2 source, padded", L"*2\\??\\c:\\kyd\\held.dll\0\0"s + others + L"\0\0\0"s, L"-", true,
       others + L"\0\0\0"s, L"-"},
      {"plain source, no closing string", others + L"C:\\kyd\\held.dll\0\0"s, L"-", true, others, L"-"},
      {"in the second list", others + L"\0"s, L"*1\\??\\C:\\kyd\\held.dll\0\0"s + others + L"\0"s, true,
       others + L"\0"s, others + L"\0"s},
      {"a rename of ours is no deletion", L"*1\\??\\C:\\kyd\\held.dll\0!\\??\\C:\\kyd\\x\0\0"s, L"-", false,
       L"*1\\??\\C:\\kyd\\held.dll\0!\\??\\C:\\kyd\\x\0\0"s, L"-"},
      {"an unreadable first list", L"\\??\\C:\\o\0"s, L"\\??\\C:\\kyd\\held.dll\0\0\0"s, true,
       L"\\??\\C:\\o\0"s, L"-"},
  };
  const auto saved = std::make_pair(ReadValue(0), ReadValue(1));
  auto value = [](const std::wstring& text) {
    return text == L"-" ? std::nullopt : std::optional(Bytes(text));
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.what);
    WriteValue(0, value(row.first));
    WriteValue(1, value(row.second));
    EXPECT_EQ(pending::Due(ours), row.due);
    DWORD error = 0;
    EXPECT_EQ(pending::Withdraw(ours, error), row.due ? pending::Withdrawal::kWithdrawn
                                                       : pending::Withdrawal::kAbsent);
    EXPECT_FALSE(pending::Due(ours));
    EXPECT_EQ(ReadValue(0), value(row.firstAfter));
    EXPECT_EQ(ReadValue(1), value(row.secondAfter));
  }
  WriteValue(0, saved.first);
  WriteValue(1, saved.second);
}

std::wstring Due(const std::wstring& realPath) { return L"\\??\\" + realPath; }

// A vendor tree on the simulated machine's drive (a DLL moved aside goes to
// a holding folder on its own volume) with a file held open without delete
// sharing, a DLL another program has loaded, a file beside them and another
// program's operation in the list; the list as it was is put back afterwards.
class FilesInUse : public ::testing::Test {
 protected:
  void SetUp() override {
    saved_ = ReadPending();
    WritePending({others_});
    root_ = kyd::GetSystemDriveRoot() + UniqueName(L"kydinuse");
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
    kyd::RemoveDirectoryTree(root_);
    for (const std::wstring& folder : holding_) kyd::RemoveDirectoryTree(folder);
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
  // Where the loaded DLL went: the one deletion of a file in a holding
  // folder of the drive, under a name of its own that ends in its name.
  std::wstring Moved() {
    const std::wstring holding = machine::journal::UpperCase(kyd::GetSystemDriveRoot() + L"KYDDrvUninst.pending\\");
    std::wstring moved;
    for (const pending::Operation& op : Ours()) {
      const std::wstring path = pending::PathOf(op.from), lower = machine::journal::UpperCase(path);
      if (lower.rfind(holding, 0) != 0) continue;
      EXPECT_TRUE(moved.empty()) << "moved twice";
      EXPECT_TRUE(op.to.empty());
      EXPECT_NE(lower.find(L"}\\"), std::wstring::npos) << "not in a run's own folder";
      EXPECT_EQ(lower.size() - lower.rfind(L".KYDLOADED.DLL"), 14u) << ToNarrow(path);
      moved = path;
      holding_.insert(path.substr(0, path.rfind(L'\\')));
    }
    EXPECT_FALSE(moved.empty()) << "the loaded DLL was not moved aside";
    return moved;
  }
  // The order the restart must keep: each file before the folders above it.
  Ops Expected() {
    return {{Due(Moved()), L""}, {Due(held_), L""}, {Due(b_), L""}, {Due(root_ + L"\\A"), L""}, {Due(root_), L""}};
  }

  ScratchDir dir_{L"inuse"};
  std::wstring root_, b_, held_, loaded_;
  std::set<std::wstring> holding_;
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
  // held, B, A, root: held before B before A before root.
  EXPECT_LT(at(expected[1]), at(expected[2]));
  EXPECT_LT(at(expected[2]), at(expected[3]));
  EXPECT_LT(at(expected[3]), at(expected[4]));
}

// What Windows does at start: the list carried out in order, then gone.
void CarryOut(const Ops& ops) {
  for (const pending::Operation& op : ops) {
    const std::wstring path = pending::PathOf(op.from);
    EXPECT_TRUE(DeleteFileW(path.c_str()) || RemoveDirectoryW(path.c_str())) << ToNarrow(path);
  }
}

// The loaded DLL is moved aside and goes under its new name, so that a
// driver installed again before the restart keeps its file; the held file,
// which cannot be moved, goes by name, its folders after it.
TEST_F(FilesInUse, HeldAndLoadedFilesGoAtTheRestartAndTheirFoldersAfterThem) {
  const long before = machine::ScheduledDeletions();
  EXPECT_TRUE(engine_.DeleteFolderTree(root_));

  EXPECT_FALSE(FileExists(b_ + L"\\beside.txt"));
  EXPECT_TRUE(FileExists(held_));
  EXPECT_FALSE(FileExists(loaded_));
  const std::wstring moved = Moved();
  EXPECT_TRUE(FileExists(moved));
  EXPECT_EQ(machine::ScheduledDeletions() - before, 5);
  ExpectRestartOrder(Ours(), Expected());
  for (const std::wstring& path : {held_, loaded_})
    EXPECT_EQ(log_.Count("delete file " + ToNarrow(path) + " at the next restart"), 1) << ToNarrow(path);
  EXPECT_EQ(log_.Count("moved " + ToNarrow(loaded_) + " aside to " + ToNarrow(moved) + ": it goes at the next restart"),
            1);
  for (const std::wstring& path : {b_, root_ + L"\\A", root_})
    EXPECT_EQ(log_.Count("delete dir " + ToNarrow(path) + " at the next restart"), 1) << ToNarrow(path);

  // Installed again before the restart: the new file stays.
  ASSERT_TRUE(CreateDirectoryW(root_.c_str(), nullptr) || GetLastError() == ERROR_ALREADY_EXISTS);
  ASSERT_TRUE(WriteFileBytes(loaded_, "new driver"));
  Release();
  CarryOut({{Due(moved), L""}, {Due(held_), L""}});
  EXPECT_FALSE(FileExists(moved));
  EXPECT_EQ(ReadFileBytes(loaded_), "new driver");
}

// Below a folder others can change, a file that cannot be moved is left in
// place (a user could put a link in its way before the restart); a loaded DLL
// is still moved aside, and nothing else is due.
TEST_F(FilesInUse, BelowAFolderOthersCanChangeAHeldFileIsLeftInPlace) {
  ASSERT_TRUE(SetDacl(root_ + L"\\A", L"D:(A;OICI;FA;;;WD)"));
  const long before = machine::ScheduledDeletions(), left = machine::LeftInPlace();
  ScratchDir journal(L"inuse-left");
  {
    machine::Session session(machine::Mode::kJournal, journal.path());
    ASSERT_TRUE(session.ok());
    engine_.DeleteFolderTree(root_);
  }
  EXPECT_TRUE(FileExists(held_));
  EXPECT_FALSE(FileExists(loaded_));
  EXPECT_EQ(Ours(), (Ops{{Due(Moved()), L""}}));
  EXPECT_EQ(machine::ScheduledDeletions() - before, 1);
  EXPECT_EQ(machine::LeftInPlace() - left, 1);
  EXPECT_EQ(log_.Count("left in place: in use below a folder others can change: " + ToNarrow(held_)), 1) << log_.Text();
  EXPECT_EQ(log_.Count("delete file " + ToNarrow(held_) + " at the next restart"), 0);
  machine::journal::Manifest manifest;
  ASSERT_TRUE(machine::journal::ReadManifest(journal.path(), manifest));
  EXPECT_EQ(std::count_if(manifest.lines.begin(), manifest.lines.end(),
                          [&](const auto& l) { return l.verb == L"left-in-use" && l.target == held_; }),
            1);
  EXPECT_EQ(machine::Restore(journal.path()), machine::kRestoreComplete);
  EXPECT_EQ(ReadFileBytes(held_), "held");
  EXPECT_TRUE(FileExists(loaded_));
  EXPECT_EQ(ReadPending(), (Ops{others_}));
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
  EXPECT_TRUE(FileExists(held_) && FileExists(Moved()));
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
    EXPECT_FALSE(FileExists(loaded_));
    if (restarted) {
      Release();
      CarryOut(Ours());
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
