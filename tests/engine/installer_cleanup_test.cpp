// Windows Installer registrations seeded with product codes of their own.
#include <gtest/gtest.h>

#include "support/engine_bench.h"
#include "support/wine_bench.h"

using namespace kydtest;

namespace {

constexpr wchar_t kUserData[] = L"Software\\Microsoft\\Windows\\CurrentVersion\\Installer\\UserData";
constexpr wchar_t kFolders[] = L"Software\\Microsoft\\Windows\\CurrentVersion\\Installer\\Folders";
constexpr wchar_t kUpgradeCodes[] = L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Installer\\UpgradeCodes";
constexpr wchar_t kRun[] = L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Run";

class InstallerCleanup : public ::testing::Test {
 protected:
  void SetUp() override {
    // Per-machine product of the local system account, with its cached
    // package, a startup entry naming the package, a component, an upgrade
    // code shared with another product, and folder entries.
    std::wstring system = std::wstring(kUserData) + L"\\S-1-5-18";
    machineProduct_ = keys_.Add(HKEY_LOCAL_MACHINE, system + L"\\Products\\" + packed1_);
    std::wstring props = machineProduct_ + L"\\InstallProperties";
    ASSERT_TRUE(RegSetString(HKEY_LOCAL_MACHINE, props, L"DisplayName", Lower(tag_) + L" Control Center"));
    ASSERT_TRUE(WriteFileBytes(package_, "msi"));
    ASSERT_TRUE(RegSetString(HKEY_LOCAL_MACHINE, props, L"LocalPackage", package_));
    ASSERT_TRUE(RegSetString(HKEY_LOCAL_MACHINE, props, L"UninstallString", L"MsiExec.exe /X" + code1_));
    runValue_ = UniqueName(L"KydRunMsi");
    ASSERT_TRUE(RegSetString(HKEY_LOCAL_MACHINE, kRun, runValue_, L"msiexec /i \"" + package_ + L"\""));
    component_ = keys_.Add(HKEY_LOCAL_MACHINE, system + L"\\Components\\" + NewPackedCode());
    ASSERT_TRUE(RegSetString(HKEY_LOCAL_MACHINE, component_, packed1_, L"C:\\x\\a.dll"));
    otherComponent_ = keys_.Add(HKEY_LOCAL_MACHINE, system + L"\\Components\\" + NewPackedCode());
    ASSERT_TRUE(RegSetString(HKEY_LOCAL_MACHINE, otherComponent_, NewPackedCode(), L"C:\\x\\b.dll"));
    upgrade_ = keys_.Add(HKEY_LOCAL_MACHINE, std::wstring(kUpgradeCodes) + L"\\" + NewPackedCode());
    ASSERT_TRUE(RegSetString(HKEY_LOCAL_MACHINE, upgrade_, packed1_, L""));
    ASSERT_TRUE(RegSetString(HKEY_LOCAL_MACHINE, upgrade_, NewPackedCode(), L""));
    madeFolders_ = !RegKeyExists(HKEY_LOCAL_MACHINE, kFolders, true);
    folder1_ = L"C:\\ProgramData\\" + tag_ + L"\\" + Lower(code1_) + L"\\";
    folderKept_ = L"C:\\Program Files\\" + tag_ + L"\\";
    for (const std::wstring& folder : {folder1_, folderKept_})
      ASSERT_TRUE(RegSetString(HKEY_LOCAL_MACHINE, kFolders, folder, L""));

    // The same kind of product under a user ID that is not a security ID.
    notSid_ = keys_.Add(HKEY_LOCAL_MACHINE, std::wstring(kUserData) + L"\\" + tag_ + L"NotSid");
    ASSERT_TRUE(RegSetString(HKEY_LOCAL_MACHINE, notSid_ + L"\\Products\\" + packed2_ + L"\\InstallProperties",
                             L"DisplayName", tag_));

    // An advertised product as the classes root shows it.
    classesProduct_ = keys_.Add(HKEY_CLASSES_ROOT, L"Installer\\Products\\" + packed3_);
    ASSERT_TRUE(RegSetString(HKEY_CLASSES_ROOT, classesProduct_, L"ProductName", Upper(tag_) + L" Tools"));
    ASSERT_TRUE(RegSetString(HKEY_CLASSES_ROOT, classesProduct_, L"ProductIcon",
                             L"C:\\Windows\\Installer\\" + code3_ + L"\\icon.exe"));
    classesFeatures_ = keys_.Add(HKEY_CLASSES_ROOT, L"Installer\\Features\\" + packed3_);
    classesUpgrade_ = keys_.Add(HKEY_CLASSES_ROOT, L"Installer\\UpgradeCodes\\" + NewPackedCode());
    ASSERT_TRUE(RegSetString(HKEY_CLASSES_ROOT, classesUpgrade_, packed3_, L""));
    folder3_ = L"C:\\Program Files\\" + tag_ + L"\\" + code3_ + L"\\";
    ASSERT_TRUE(RegSetString(HKEY_LOCAL_MACHINE, kFolders, folder3_, L""));

    // A per-user product under a profile key without "s-1-5" (".DEFAULT").
    std::wstring classes = L".DEFAULT\\Software\\Classes\\Installer";
    userProduct_ = keys_.Add(HKEY_USERS, classes + L"\\Products\\" + packed4_);
    ASSERT_TRUE(RegSetString(HKEY_USERS, userProduct_, L"ProductName", tag_ + L" Per User"));
    userFeatures_ = keys_.Add(HKEY_USERS, classes + L"\\Features\\" + packed4_);
    userUpgrade_ = keys_.Add(HKEY_USERS, L".DEFAULT\\Installer\\UpgradeCodes\\" + NewPackedCode());
    ASSERT_TRUE(RegSetString(HKEY_USERS, userUpgrade_, packed4_, L""));
  }
  void TearDown() override {
    RegDeleteValueIfPresent(HKEY_LOCAL_MACHINE, kRun, runValue_);
    for (const std::wstring& folder : {folder1_, folderKept_, folder3_})
      RegDeleteValueIfPresent(HKEY_LOCAL_MACHINE, kFolders, folder);
    if (madeFolders_) RegDeleteTreeIfPresent(HKEY_LOCAL_MACHINE, kFolders, true);
  }
  static std::wstring Lower(std::wstring text) {
    for (wchar_t& c : text) c = static_cast<wchar_t>(towlower(c));
    return text;
  }
  static std::wstring Upper(std::wstring text) {
    for (wchar_t& c : text) c = static_cast<wchar_t>(towupper(c));
    return text;
  }
  bool Key(HKEY root, const std::wstring& path) { return RegKeyExists(root, path, true); }

  std::wstring tag_ = UniqueName(L"KydProduct");
  std::wstring packed1_ = NewPackedCode(), packed2_ = NewPackedCode(), packed3_ = NewPackedCode(),
               packed4_ = NewPackedCode();
  std::wstring code1_ = NewGuid(), code3_ = NewGuid();
  ScratchDir dir_{L"installer"};
  std::wstring package_ = dir_ / L"1a2b3c.msi";
  std::wstring runValue_, machineProduct_, component_, otherComponent_, upgrade_, folder1_,
      folderKept_, notSid_, classesProduct_, classesFeatures_, classesUpgrade_, folder3_,
      userProduct_, userFeatures_, userUpgrade_;
  bool madeFolders_ = false;
  SeededKeys keys_;
  TestEngine engine_;
  LogCapture log_;
};

TEST_F(InstallerCleanup, ProductsFoundByNameGoWithEverythingThatRefersToThem) {
  ASSERT_TRUE(engine_.SnapshotRunEntries());
  const wchar_t* const list[] = {L"KydNoSuchProduct", tag_.c_str()};

  EXPECT_TRUE(engine_.BaseCleanInstaller(list));

  // Per-machine data: product, cached package and its startup entry,
  // component, the upgrade code that also lists another product, folder entry.
  EXPECT_FALSE(Key(HKEY_LOCAL_MACHINE, machineProduct_));
  EXPECT_FALSE(FileExists(package_));
  EXPECT_FALSE(RegValueExists(HKEY_LOCAL_MACHINE, kRun, runValue_));
  EXPECT_FALSE(Key(HKEY_LOCAL_MACHINE, component_));
  EXPECT_TRUE(Key(HKEY_LOCAL_MACHINE, otherComponent_));
  EXPECT_FALSE(Key(HKEY_LOCAL_MACHINE, upgrade_));
  EXPECT_FALSE(RegValueExists(HKEY_LOCAL_MACHINE, kFolders, folder1_));  // code in other case
  EXPECT_TRUE(RegValueExists(HKEY_LOCAL_MACHINE, kFolders, folderKept_));
  // Not a security ID: not visited.
  EXPECT_TRUE(Key(HKEY_LOCAL_MACHINE, notSid_ + L"\\Products\\" + packed2_));
  // Advertised product, by its icon's product code.
  EXPECT_FALSE(Key(HKEY_CLASSES_ROOT, classesProduct_));
  EXPECT_FALSE(Key(HKEY_CLASSES_ROOT, classesFeatures_));
  EXPECT_FALSE(Key(HKEY_CLASSES_ROOT, classesUpgrade_));
  EXPECT_FALSE(RegValueExists(HKEY_LOCAL_MACHINE, kFolders, folder3_));
  // Every profile key is visited for per-user registrations.
  EXPECT_FALSE(Key(HKEY_USERS, userProduct_));
  EXPECT_FALSE(Key(HKEY_USERS, userFeatures_));
  EXPECT_FALSE(Key(HKEY_USERS, userUpgrade_));

  std::vector<std::string> lines = log_.Messages();
  ASSERT_FALSE(lines.empty());
  EXPECT_EQ(lines.front(), "BaseCleanInstaller");
  EXPECT_EQ(log_.Count("delete file " + ToNarrow(package_) + " success"), 1);
  EXPECT_EQ(log_.Count("delete key " + ToNarrow(machineProduct_)), 1);
}

TEST_F(InstallerCleanup, EmptyListDeletesNothing) {
  EXPECT_TRUE(engine_.BaseCleanInstaller(kyd::NameList()));

  EXPECT_TRUE(Key(HKEY_LOCAL_MACHINE, machineProduct_));
  EXPECT_TRUE(FileExists(package_));
  EXPECT_TRUE(Key(HKEY_LOCAL_MACHINE, upgrade_));
  EXPECT_TRUE(RegValueExists(HKEY_LOCAL_MACHINE, kFolders, folder1_));
  EXPECT_TRUE(Key(HKEY_CLASSES_ROOT, classesProduct_));
  EXPECT_TRUE(Key(HKEY_USERS, userProduct_));
  EXPECT_EQ(log_.Messages(), std::vector<std::string>{"BaseCleanInstaller"});
}

TEST_F(InstallerCleanup, CommandWithoutABracedCodeDeletesNoFolderEntries) {
  std::wstring props = machineProduct_ + L"\\InstallProperties";
  // "}" before "{", and a braced text too short to be a product code.
  ASSERT_TRUE(RegSetString(HKEY_LOCAL_MACHINE, props, L"UninstallString",
                           L"MsiExec.exe /X}" + code1_.substr(1, 36) + L"{short}"));
  const wchar_t* const list[] = {tag_.c_str()};

  engine_.BaseCleanInstaller(list);

  EXPECT_FALSE(Key(HKEY_LOCAL_MACHINE, machineProduct_));
  EXPECT_TRUE(RegValueExists(HKEY_LOCAL_MACHINE, kFolders, folder1_));
}

}  // namespace
