#include <gtest/gtest.h>

#include <algorithm>

#include "machine/dir_tree.h"
#include "machine/pending.h"
#include "platform/handle.h"
#include "support/wine_bench.h"

namespace {

using kydtest::FileExists;
using kydtest::ScratchDir;
using kydtest::ToNarrow;
using kydtest::WriteFileBytes;

// Whether the folder holds exactly these entries.
bool FolderHolds(const std::wstring& folder, std::vector<std::wstring> names) {
  std::vector<std::wstring> found;
  WIN32_FIND_DATAW data;
  kyd::UniqueFind search(FindFirstFileW((folder + L"\\*").c_str(), &data));
  if (!search) return false;
  do {
    if (std::wstring(data.cFileName) != L"." && std::wstring(data.cFileName) != L"..") found.push_back(data.cFileName);
  } while (FindNextFileW(search.get(), &data));
  std::sort(found.begin(), found.end());
  std::sort(names.begin(), names.end());
  return found == names;
}

class RemoveTree : public ::testing::Test {
 protected:
  std::wstring MakeTree() {
    std::wstring root = dir_ / L"pkg";
    CreateDirectoryW(root.c_str(), nullptr);
    CreateDirectoryW((root + L"\\a").c_str(), nullptr);
    CreateDirectoryW((root + L"\\a\\b").c_str(), nullptr);
    WriteFileBytes(root + L"\\driver.sys", "sys");
    WriteFileBytes(root + L"\\a\\b\\deep.dll", "dll");
    WriteFileBytes(root + L"\\a\\ro.cat", "cat");
    SetFileAttributesW((root + L"\\a\\ro.cat").c_str(), FILE_ATTRIBUTE_READONLY);
    return root;
  }
  ScratchDir dir_{L"dirtree"};
};

TEST_F(RemoveTree, RemovesEverythingIncludingReadOnlyFiles) {
  std::wstring root = MakeTree();
  EXPECT_TRUE(kyd::RemoveDirectoryTree(root));
  EXPECT_FALSE(FileExists(root));
}

TEST_F(RemoveTree, MissingFolderIsAFailureAndEmptyFolderASuccess) {
  EXPECT_FALSE(kyd::RemoveDirectoryTree(dir_ / L"absent"));
  std::wstring empty = dir_ / L"empty";
  CreateDirectoryW(empty.c_str(), nullptr);
  EXPECT_TRUE(kyd::RemoveDirectoryTree(empty));
  EXPECT_FALSE(FileExists(empty));
}

// A file the running system holds goes at the next restart and its folders
// after it; the walk goes on (the list is edited back here).
TEST_F(RemoveTree, FileHeldOpenGoesAtTheRestartWithTheFoldersAbove) {
  std::wstring root = MakeTree();
  std::wstring held = root + L"\\a\\b\\deep.dll";
  kyd::UniqueFile handle(CreateFileW(held.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr));
  ASSERT_TRUE(handle.valid());
  EXPECT_TRUE(kyd::RemoveDirectoryTree(root));
  EXPECT_TRUE(FileExists(held));
  EXPECT_TRUE(FolderHolds(root + L"\\a\\b", {L"deep.dll"}));
  EXPECT_TRUE(FolderHolds(root + L"\\a", {L"b"}));
  EXPECT_TRUE(FolderHolds(root, {L"a"}));
  DWORD error = 0;
  for (const std::wstring& path : {held, root + L"\\a\\b", root + L"\\a", root})
    EXPECT_EQ(kyd::machine::pending::Withdraw(path, error), kyd::machine::pending::Withdrawal::kWithdrawn)
        << ToNarrow(path);
  handle.reset();
  EXPECT_TRUE(kyd::RemoveDirectoryTree(root));
  EXPECT_FALSE(FileExists(root));
}

// A link in a package folder, or a package folder that is itself a link,
// goes as a link: what it points to stays. Windows' RemoveDirectory takes the
// link and the walk goes on; Wine's applies to the folder a Unix symbolic
// link points to (an empty one would go), so there it fails and the walk
// stops at the link.
TEST_F(RemoveTree, FolderLinksAreRemovedAsLinksAndNeverWalked) {
  std::wstring outside = dir_ / L"outside", root = MakeTree();
  ASSERT_TRUE(CreateDirectoryW(outside.c_str(), nullptr) && WriteFileBytes(outside + L"\\keep.txt", "x"));
  for (const std::wstring& link : {root + L"\\a\\link", dir_ / L"package link"}) {
    ASSERT_TRUE(kydtest::MakeFolderLink(link, outside)) << "could not make a folder link";
    bool removed = kyd::RemoveDirectoryTree(link == root + L"\\a\\link" ? root : link);
    EXPECT_TRUE(FileExists(outside + L"\\keep.txt"));
    EXPECT_EQ(FileExists(link), !removed);
    kydtest::RemoveFolderLink(link);
  }
}

// Its descriptor (administrators and SYSTEM only) cannot be read back under
// Wine, which keeps no descriptor for a folder it creates.
TEST(PrivateFolder, IsNewEachTimeUnderANameOfItsOwn) {
  ScratchDir dir(L"private");
  std::wstring first = kyd::CreatePrivateFolder(dir.path());
  std::wstring second = kyd::CreatePrivateFolder(dir.path());
  ASSERT_FALSE(first.empty());
  EXPECT_NE(first, second);
  EXPECT_EQ(first.substr(0, dir.path().size() + 1), dir.path() + L"\\");
  EXPECT_GT(first.size(), dir.path().size() + 30);  // a GUID's worth of name
  EXPECT_EQ(kyd::CreatePrivateFolder(dir / L"missing"), L"");
}

}  // namespace
