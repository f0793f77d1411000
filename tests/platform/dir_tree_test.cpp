#include <gtest/gtest.h>

#include "platform/dir_tree.h"
#include "platform/handle.h"
#include "support/wine_bench.h"

namespace {

using kydtest::FileExists;
using kydtest::ScratchDir;
using kydtest::WriteFileBytes;

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

TEST_F(RemoveTree, FileHeldOpenStopsTheWalkAndKeepsTheFoldersAbove) {
  std::wstring root = MakeTree();
  std::wstring held = root + L"\\a\\b\\deep.dll";
  kyd::UniqueFile handle(CreateFileW(held.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr));
  ASSERT_TRUE(handle.valid());
  EXPECT_FALSE(kyd::RemoveDirectoryTree(root));
  EXPECT_TRUE(FileExists(held));
  EXPECT_TRUE(FileExists(root + L"\\a\\b"));
  EXPECT_TRUE(FileExists(root));
  handle.reset();
  EXPECT_TRUE(kyd::RemoveDirectoryTree(root));
}

}  // namespace
