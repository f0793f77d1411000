// File and folder cleanup on trees the tests build in their own folders, and
// on files of their own in Windows' system folders.
#include <gtest/gtest.h>

#include <algorithm>

#include "machine/pending.h"
#include "platform/handle.h"
#include "support/engine_bench.h"
#include "support/wine_bench.h"

using namespace kydtest;

namespace {

std::string N(const std::wstring& text) { return ToNarrow(text); }

bool MakeFile(const std::wstring& path, bool readOnly = false) {
  if (!WriteFileBytes(path, "data")) return false;
  return !readOnly || SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_READONLY);
}

bool MakeDir(const std::wstring& path) { return CreateDirectoryW(path.c_str(), nullptr) != FALSE; }

bool Contains(const std::vector<std::string>& lines, const std::string& line) {
  return std::find(lines.begin(), lines.end(), line) != lines.end();
}

size_t IndexOf(const std::vector<std::string>& lines, const std::string& line) {
  return static_cast<size_t>(std::find(lines.begin(), lines.end(), line) - lines.begin());
}

// Each folder's "delete dir <folder> <outcome>" line is there, deepest first.
void ExpectDeepestFirst(const std::vector<std::string>& lines, const std::vector<std::wstring>& folders,
                        const std::string& outcome) {
  size_t previous = 0;
  for (const std::wstring& folder : folders) {
    size_t at = IndexOf(lines, "delete dir " + N(folder) + " " + outcome);
    ASSERT_LT(at, lines.size()) << N(folder);
    if (&folder != &folders.front()) {
      EXPECT_LT(previous, at) << N(folder);
    }
    previous = at;
  }
}

class FolderCleanup : public ::testing::Test {
 protected:
  ~FolderCleanup() override {
    // Read-only leftovers of a failed test must not keep the folder.
    for (const std::wstring& path : readOnly_) SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_NORMAL);
  }
  std::wstring ReadOnlyFile(const std::wstring& path) {
    readOnly_.push_back(path);
    EXPECT_TRUE(MakeFile(path, true));
    return path;
  }

  ScratchDir dir_{L"folders"};
  std::vector<std::wstring> readOnly_;
  TestEngine engine_;
  LogCapture log_;
};

TEST_F(FolderCleanup, TreeWithReadOnlyFilesGoesDeepestFoldersFirst) {
  std::wstring root = dir_ / L"Vendor", a = root + L"\\A", b = a + L"\\B";
  ASSERT_TRUE(MakeDir(root) && MakeDir(a) && MakeDir(b) && MakeDir(root + L"\\Empty"));
  ReadOnlyFile(b + L"\\deep.dll");
  ReadOnlyFile(root + L"\\top.dll");
  ASSERT_TRUE(MakeFile(a + L"\\plain.txt"));

  EXPECT_TRUE(engine_.DeleteFolderTree(root));

  EXPECT_FALSE(FileExists(root));
  std::vector<std::string> lines = log_.Messages();
  EXPECT_TRUE(Contains(lines, "delete file " + N(b + L"\\deep.dll") + " success"));
  EXPECT_TRUE(Contains(lines, "delete file " + N(root + L"\\top.dll") + " success"));
  ExpectDeepestFirst(lines, {b, a, root}, "success");
  EXPECT_TRUE(Contains(lines, "delete dir " + N(root + L"\\Empty") + " success"));
}

// A file the running system holds no longer stops its folders: it goes at
// the next restart, and they after it (the list is edited back here).
TEST_F(FolderCleanup, FileHeldOpenGoesAtTheRestartAndTakesItsFoldersThen) {
  std::wstring root = dir_ / L"Vendor", a = root + L"\\A", b = a + L"\\B";
  ASSERT_TRUE(MakeDir(root) && MakeDir(a) && MakeDir(b));
  std::wstring held = b + L"\\inuse.dll", beside = b + L"\\beside.dll";
  ASSERT_TRUE(MakeFile(held) && MakeFile(beside));
  {
    kyd::UniqueFile open(CreateFileW(held.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                     OPEN_EXISTING, 0, nullptr));
    ASSERT_TRUE(open.valid());
    EXPECT_TRUE(engine_.DeleteFolderTree(root));
  }
  EXPECT_TRUE(FileExists(held));
  EXPECT_FALSE(FileExists(beside));  // a file that stays does not stop its own folder's walk
  EXPECT_TRUE(FileExists(b));
  EXPECT_TRUE(FileExists(root));
  std::vector<std::string> lines = log_.Messages();
  EXPECT_TRUE(Contains(lines, "delete file " + N(held) + " at the next restart"));
  ExpectDeepestFirst(lines, {b, a, root}, "at the next restart");
  DWORD error = 0;
  for (const std::wstring& path : {root, a, b, held})
    EXPECT_EQ(kyd::machine::pending::Withdraw(path, error), kyd::machine::pending::Withdrawal::kWithdrawn);
}

// A folder link inside a tree (profiles carry junctions, some pointing at
// themselves or elsewhere) is removed as a link; what it points to stays.
TEST_F(FolderCleanup, FolderLinkIsRemovedNotWalked) {
  std::wstring outside = dir_ / L"Outside", root = dir_ / L"Vendor";
  ASSERT_TRUE(MakeDir(outside) && MakeDir(root) && MakeFile(outside + L"\\keep.txt"));
  ASSERT_TRUE(MakeFolderLink(root + L"\\Link", outside)) << "could not make a folder link";

  engine_.DeleteFolderTree(root);

  EXPECT_TRUE(FileExists(outside + L"\\keep.txt"));
  // On Windows RemoveDirectory takes the link itself and then the emptied
  // root. Wine's RemoveDirectory applies to the folder a Unix symbolic link
  // points to, which is not empty, so there the link stays, its removal is
  // logged as failed and the root stays too.
  std::vector<std::string> lines = log_.Messages();
  std::string link = N(root + L"\\Link");
  bool removed = Contains(lines, "delete dir " + link + " success");
  EXPECT_TRUE(removed || Contains(lines, "delete dir " + link + " failed"));
  EXPECT_EQ(FileExists(root + L"\\Link"), !removed);
  RemoveFolderLink(root + L"\\Link");
}

TEST_F(FolderCleanup, MissingFolderIsFalseAndSilent) {
  EXPECT_FALSE(engine_.DeleteFolderTree(dir_ / L"Nowhere"));
  engine_.DeleteMatchingSubfolders(L"ace", dir_ / L"Nowhere");
  engine_.DeleteMatchingEntries(L"\\coinst_*.*", dir_ / L"Nowhere");
  EXPECT_TRUE(log_.Messages().empty());
}

TEST_F(FolderCleanup, MatchingSubfoldersAnyCaseThenTheEmptiedParent) {
  std::wstring mixed = dir_ / L"ATI", only = dir_ / L"ATI2";
  ASSERT_TRUE(MakeDir(mixed) && MakeDir(only));
  // "ace" anywhere and in any case: "ACE", "SurfaceCache"; not "Cache".
  for (const std::wstring& parent : {mixed, only}) {
    ASSERT_TRUE(MakeDir(parent + L"\\ACE") && MakeDir(parent + L"\\SurfaceCache"));
    ReadOnlyFile(parent + L"\\SurfaceCache\\cache.bin");
  }
  ASSERT_TRUE(MakeDir(mixed + L"\\Cache"));
  ASSERT_TRUE(MakeDir(mixed + L"\\Other"));
  ASSERT_TRUE(MakeFile(mixed + L"\\ace.txt"));  // files are left, whatever their name

  engine_.DeleteMatchingSubfolders(L"ace", mixed);
  engine_.DeleteMatchingSubfolders(L"ace", only);

  EXPECT_FALSE(FileExists(mixed + L"\\ACE"));
  EXPECT_FALSE(FileExists(mixed + L"\\SurfaceCache"));
  EXPECT_TRUE(FileExists(mixed + L"\\Cache"));
  EXPECT_TRUE(FileExists(mixed + L"\\Other"));
  EXPECT_TRUE(FileExists(mixed + L"\\ace.txt"));
  EXPECT_FALSE(FileExists(only));  // emptied, so it went too
  std::vector<std::string> lines = log_.Messages();
  EXPECT_TRUE(Contains(lines, "delete dir(" + N(mixed + L"\\ACE") + ")"));
  EXPECT_TRUE(Contains(lines, "delete dir(" + N(mixed + L"\\SurfaceCache") + ")"));
  EXPECT_TRUE(Contains(lines, "delete dir(" + N(only + L"\\SurfaceCache") + ")"));
  EXPECT_FALSE(Contains(lines, "delete dir(" + N(mixed + L"\\Cache") + ")"));
}

TEST_F(FolderCleanup, MatchingEntriesTakeEveryMatchFilesAndFoldersAlike) {
  std::wstring windows = dir_ / L"Windows";
  ASSERT_TRUE(MakeDir(windows));
  std::vector<std::wstring> matches = {windows + L"\\coinst_1.dll", windows + L"\\coinst_2.dll",
                                       windows + L"\\COINST_3.DLL"};
  ReadOnlyFile(matches[0]);
  ASSERT_TRUE(MakeFile(matches[1]) && MakeFile(matches[2]));
  std::wstring folder = windows + L"\\coinst_data";
  ASSERT_TRUE(MakeDir(folder) && MakeFile(folder + L"\\inner.txt"));
  ASSERT_TRUE(MakeFile(windows + L"\\coinstaller.dll") && MakeFile(windows + L"\\other.dll"));

  engine_.DeleteMatchingEntries(L"\\coinst_*.*", windows);

  for (const std::wstring& path : matches) {
    EXPECT_FALSE(FileExists(path)) << N(path);
    EXPECT_EQ(log_.Count("delete file(" + N(path) + ")"), 1);
  }
  EXPECT_FALSE(FileExists(folder));
  EXPECT_EQ(log_.Count("delete dir(" + N(folder) + ")"), 1);
  EXPECT_TRUE(FileExists(windows + L"\\coinstaller.dll"));
  EXPECT_TRUE(FileExists(windows + L"\\other.dll"));
  EXPECT_TRUE(FileExists(windows));
}

TEST_F(FolderCleanup, NamedFilesInAFolderReadOnlyOnesStay) {
  std::wstring plain = dir_ / L"plain.dll", locked = ReadOnlyFile(dir_ / L"readonly.dll");
  ASSERT_TRUE(MakeFile(plain));
  const wchar_t* const names[] = {L"plain.dll", L"readonly.dll", L"missing.dll"};

  engine_.DeleteFilesInFolder(names, dir_.path());

  EXPECT_FALSE(FileExists(plain));
  EXPECT_TRUE(FileExists(locked));
  // A name the folder does not hold is not tried.
  std::vector<std::string> expected = {
      "delete file " + N(plain) + " success",   "delete file(" + N(plain) + ")",
      "delete file " + N(locked) + " failed",   "delete file(" + N(locked) + ")"};
  EXPECT_EQ(log_.Messages(), expected);
}

// ---------------------------------------------------------------- system folders

class SystemFiles : public ::testing::Test {
 protected:
  // Folders a fresh Wine prefix lacks (Prefetch, the 32-bit Drivers) are
  // made for the test and removed after it.
  void SetUp() override {
    prefetch_ = WindowsDir() + L"\\Prefetch";
    for (const std::wstring& folder : Folders(Is64BitPrefix()))
      if (CreateDirectoryW(folder.c_str(), nullptr)) made_.push_back(folder);
  }
  void TearDown() override {
    for (const std::wstring& folder : Folders(true)) DeleteFileW((folder + L"\\" + name_).c_str());
    for (auto it = made_.rbegin(); it != made_.rend(); ++it) RemoveDirectoryW(it->c_str());
  }
  // The folders a 32-bit module cleans, in order (the last two on 64-bit Windows).
  std::vector<std::wstring> Folders(bool wow) const {
    std::vector<std::wstring> folders = {SystemDir(), SystemDir() + L"\\Drivers", WindowsDir(),
                                         prefetch_};
    if (wow) {
      folders.push_back(WindowsDir() + L"\\SysWOW64");
      folders.push_back(WindowsDir() + L"\\SysWOW64\\Drivers");
    }
    return folders;
  }
  std::vector<std::string> Visited() const {
    std::vector<std::string> visited;
    for (const std::string& line : log_.Messages())
      if (line.rfind("delete file(", 0) == 0) visited.push_back(line);
    return visited;
  }
  void Check(bool wow) {
    for (const std::wstring& folder : Folders(Is64BitPrefix()))
      ASSERT_TRUE(MakeFile(folder + L"\\" + name_)) << N(folder);
    const wchar_t* const names[] = {name_.c_str()};
    engine_.isWow64 = wow;

    engine_.DeleteSystemFiles(names);

    // One deletion in each folder that still held the file when its turn
    // came: the system folder a 32-bit module sees on 64-bit Windows is
    // SysWOW64 already (redirection stays on), so SysWOW64's own turn finds
    // nothing left there.
    std::vector<std::string> expected;
    for (const std::wstring& folder : Folders(false)) expected.push_back("delete file(" + N(folder + L"\\" + name_) + ")");
    EXPECT_EQ(Visited(), expected);
    for (const std::wstring& folder : Folders(wow))
      EXPECT_FALSE(FileExists(folder + L"\\" + name_)) << N(folder);
  }

  std::wstring name_ = UniqueName(L"kydsys") + L".tmp";  // never a real system file
  std::wstring prefetch_;
  std::vector<std::wstring> made_;
  TestEngine engine_;
  LogCapture log_;
};

TEST_F(SystemFiles, EveryFolderLosesTheFile) { Check(Is64BitPrefix()); }

// In the 64-bit prefix, the same engine told it is not on WOW64 visits four.
// (The system folder of a 32-bit program there is SysWOW64 already, through
// the file-system redirection the library leaves on.)
class SystemFilesW64 : public SystemFiles {};

TEST_F(SystemFilesW64, WithoutWow64OnlyFourFolders) {
  ASSERT_TRUE(Is64BitPrefix());
  Check(false);
}

}  // namespace

// ---------------------------------------------------------------- the OpenCL loader's guard

// What keeps the loader of this process's bitness: one row per machine,
// built from registrations under Khronos and in display adapter keys.
struct OpenClRow {
  const char* what;
  const wchar_t* khronosDriver;  // a value under Khronos\OpenCL\Vendors, or null
  struct Adapter {
    const wchar_t* matchingDeviceId;  // null: the key names no device
    const wchar_t* driver;            // OpenCLDriverName(Wow) for the loader asked about
  } adapters[2];
  const wchar_t* device;  // the device being uninstalled, or null when none was set
  bool kept;
};

const OpenClRow kOpenClRows[] = {
    {"nothing registered", nullptr, {}, L"PCI\\VEN_10DE&DEV_1B80", false},
    {"another vendor's driver under Khronos", L"C:\\Windows\\System32\\amdocl64.dll", {},
     L"PCI\\VEN_10DE&DEV_1B80", true},
    {"only the device's own adapter", nullptr, {{L"pci\\ven_10de&dev_1b80&subsys_119e10de", L"nvopencl64.dll"}},
     L"PCI\\VEN_10DE&DEV_1B80", false},
    {"the own adapter and another vendor's",
     nullptr,
     {{L"pci\\ven_10de&dev_1b80", L"nvopencl64.dll"}, {L"pci\\ven_8086&dev_3e9b", L"igdrcl64.dll"}},
     L"PCI\\VEN_10DE&DEV_1B80",
     true},
    {"an adapter naming no device", nullptr, {{nullptr, L"amdocl64.dll"}}, L"PCI\\VEN_10DE&DEV_1B80", true},
    {"an adapter that registers nothing for this loader", nullptr, {{L"pci\\ven_1002&dev_687f", L""}},
     L"PCI\\VEN_10DE&DEV_1B80", false},
    {"the own adapter, no device told", nullptr, {{L"pci\\ven_10de&dev_1b80", L"nvopencl64.dll"}}, nullptr, true},
};

TEST(OpenClLoaderGuard, KeptWhileAnotherGpusDriverIsRegistered) {
  const std::wstring khronos = L"Software\\Khronos\\OpenCL\\Vendors";
  const std::wstring display = L"SYSTEM\\CurrentControlSet\\Control\\Class\\{4d36e968-e325-11ce-bfc1-08002be10318}";
  ASSERT_TRUE(RegSubKeys(HKEY_LOCAL_MACHINE, L"Software\\Khronos\\OpenCL").empty() &&
              !RegValueExists(HKEY_LOCAL_MACHINE, khronos, L"C:\\Windows\\System32\\amdocl64.dll"))
      << "the prefix registers OpenCL drivers of its own";
  for (const OpenClRow& row : kOpenClRows) {
    SCOPED_TRACE(row.what);
    TestEngine engine;
    engine.isWow64 = false;  // the native loader: Khronos's own view, OpenCLDriverName
    engine.SetDevice(row.device);
    SeededKeys keys;
    if (row.khronosDriver) {
      keys.Add(HKEY_LOCAL_MACHINE, L"Software\\Khronos\\OpenCL");
      ASSERT_TRUE(RegSetDword(HKEY_LOCAL_MACHINE, khronos, row.khronosDriver, 0));
    }
    int index = 0;
    for (const OpenClRow::Adapter& adapter : row.adapters) {
      if (!adapter.driver) continue;
      const std::wstring& key =
          keys.Add(HKEY_LOCAL_MACHINE, display + L"\\" + UniqueName(L"9") + L"_" + std::to_wstring(index++));
      if (adapter.matchingDeviceId) {
        ASSERT_TRUE(RegSetString(HKEY_LOCAL_MACHINE, key, L"MatchingDeviceId", adapter.matchingDeviceId));
      }
      if (*adapter.driver) {
        ASSERT_TRUE(RegSetString(HKEY_LOCAL_MACHINE, key, L"OpenCLDriverName", adapter.driver, REG_MULTI_SZ));
      }
      ASSERT_TRUE(RegSetString(HKEY_LOCAL_MACHINE, key, L"OpenCLDriverNameWow", L"decoy32.dll", REG_MULTI_SZ));
    }
    EXPECT_EQ(engine.OtherOpenClDriversRemain(), row.kept);
  }
}
