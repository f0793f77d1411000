// Looking described packages up among the installed programs (the Uninstall
// keys of both registry views), in-process.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "packages/analyse_package.h"
#include "support/engine_bench.h"
#include "support/package_bench.h"

namespace {

using kyd::APP_UNSETUP_PACKAGE;
using kyd::CAnalysePackage;
using kydtest::kMediaClass;
using kydtest::pkg::LogCapture;
using kydtest::pkg::SeededUninstallEntry;
using kydtest::pkg::UniqueName;

constexpr bool kView32 = false;  // seeding: the 32-bit view
constexpr bool kView64 = true;

APP_UNSETUP_PACKAGE Package(const std::wstring& name, const std::wstring& guid = L"") {
  APP_UNSETUP_PACKAGE package;
  package.wsName = name;
  package.wsGuid = guid;
  return package;
}

TEST(PackageVendorId, TakesTheTextAfterVenUpToTheNextAmpersand) {
  EXPECT_EQ(kyd::VendorIdOf(L"PCI\\VEN_10DE&DEV_0001"), L"10DE");
  EXPECT_EQ(kyd::VendorIdOf(L"pci\\ven_10de&dev_1c82&subsys_11bf10de"), L"10DE");
  EXPECT_EQ(kyd::VendorIdOf(L"HDAUDIO\\FUNC_01&VEN_10EC&DEV_0662&SUBSYS_17AA3822&REV_1003"), L"10EC");
  EXPECT_EQ(kyd::VendorIdOf(L"PCI\\VEN_8086"), L"8086");
  // Only the first "VEN_" counts.
  EXPECT_EQ(kyd::VendorIdOf(L"X\\VEN_1002&SUB_VEN_10DE"), L"1002");
  // Without a vendor part the whole ID stands, in upper case.
  EXPECT_EQ(kyd::VendorIdOf(L"usb\\vid_046d&pid_c52b"), L"USB\\VID_046D&PID_C52B");
  EXPECT_EQ(kyd::VendorIdOf(L"PCI\\VEN_&DEV_1234"), L"PCI\\VEN_&DEV_1234");
  EXPECT_EQ(kyd::VendorIdOf(L"root\\ven_"), L"ROOT\\VEN_");
  EXPECT_EQ(kyd::VendorIdOf(L""), L"");
}

// Entries are seeded in the 32-bit view, the one looked at first.
class UninstallLookup : public ::testing::Test {
 protected:
  int Lookup32(APP_UNSETUP_PACKAGE& package) { return packages_.LookupUninstallKey(package, true); }

  CAnalysePackage packages_{L"unused.xml"};
  std::wstring token_ = UniqueName(L"KydLookup");
};

TEST_F(UninstallLookup, DisplayNameContainingTheNameInAnyAsciiCaseFillsTheRecord) {
  SeededUninstallEntry entry(token_, kView32,
                             {{L"DisplayName", L"Kyd Sound Panel 2.1 (" + token_ + L")"},
                              {L"UninstallString", L"\"C:\\Program Files\\Kyd\\uninst.exe\" /remove"},
                              {L"InstallLocation", L"C:\\Program Files\\Kyd\\"}});
  ASSERT_TRUE(entry.ok());
  APP_UNSETUP_PACKAGE package = Package(L"sound PANEL 2.1 (" + token_);
  EXPECT_EQ(Lookup32(package), kyd::kPackageInstalled);
  EXPECT_EQ(package.wsUninstString, L"\"C:\\Program Files\\Kyd\\uninst.exe\" /remove");
  EXPECT_EQ(package.wsInstallLocation, L"C:\\Program Files\\Kyd\\");

  APP_UNSETUP_PACKAGE absent = Package(L"Kyd Sound Panel 2.2 (" + token_);
  EXPECT_EQ(Lookup32(absent), kyd::kPackageNotInstalled);
  EXPECT_TRUE(absent.wsUninstString.empty());
  EXPECT_TRUE(absent.wsInstallLocation.empty());
}

TEST_F(UninstallLookup, AbsentValuesLeaveTheFieldsAsTheyWere) {
  SeededUninstallEntry entry(token_, kView32, {{L"DisplayName", L"Bare " + token_}});
  ASSERT_TRUE(entry.ok());
  APP_UNSETUP_PACKAGE package = Package(L"bare " + token_);
  package.wsUninstString = L"kept";
  package.wsInstallLocation = L"kept too";
  EXPECT_EQ(Lookup32(package), kyd::kPackageInstalled);
  EXPECT_EQ(package.wsUninstString, L"kept");
  EXPECT_EQ(package.wsInstallLocation, L"kept too");
}

TEST_F(UninstallLookup, KeywordGuidMatchesTheBeginningOfTheKeyName) {
  const std::wstring guid = L"{6F1D3C20-" + token_ + L"}";
  SeededUninstallEntry entry(guid + L"_is1", kView32,
                             {{L"DisplayName", L"Renamed Product"}, {L"UninstallString", L"uninst.exe"}});
  ASSERT_TRUE(entry.ok());

  // The key exists: installed, even though the display name differs (the
  // uninstall command is then not read).
  APP_UNSETUP_PACKAGE byKey = Package(L"Original Product", L"{6f1d3c20-" + token_ + L"}");
  EXPECT_EQ(Lookup32(byKey), kyd::kPackageInstalled);
  EXPECT_TRUE(byKey.wsUninstString.empty());

  APP_UNSETUP_PACKAGE both = Package(L"renamed", guid);
  EXPECT_EQ(Lookup32(both), kyd::kPackageInstalled);
  EXPECT_EQ(both.wsUninstString, L"uninst.exe");

  // Other keys are not looked at, whatever their display names say.
  APP_UNSETUP_PACKAGE longer = Package(L"Renamed Product", guid + L"_is12");
  EXPECT_EQ(Lookup32(longer), kyd::kPackageNotInstalled);
}

// A record that names nothing must not take whichever program comes first:
// the package road would uninstall it.
TEST_F(UninstallLookup, EmptyNameWithoutGuidMatchesNothing) {
  SeededUninstallEntry entry(token_, kView32, {{L"UninstallString", L"first.exe"}});
  ASSERT_TRUE(entry.ok());
  ASSERT_FALSE(kydtest::RegSubKeys(HKEY_LOCAL_MACHINE, kydtest::pkg::kUninstallKeyPath, kView32).empty());
  APP_UNSETUP_PACKAGE any = Package(L"");
  EXPECT_EQ(Lookup32(any), kyd::kPackageNotInstalled);
  EXPECT_TRUE(any.wsUninstString.empty());
  // With a key name it still matches that key.
  APP_UNSETUP_PACKAGE byKey = Package(L"", token_);
  EXPECT_EQ(Lookup32(byKey), kyd::kPackageInstalled);
  EXPECT_EQ(byKey.wsUninstString, L"first.exe");
}

// 64-bit Windows: a 64-bit installer registers in the 64-bit view only.
TEST(UninstallViewsW64, SixtyFourBitViewIsLookedAtSecond) {
  CAnalysePackage packages(L"unused.xml");
  const std::wstring token = UniqueName(L"KydView");
  SeededUninstallEntry entry(token, kView64,
                             {{L"DisplayName", L"Kyd x64 Tool " + token}, {L"UninstallString", L"x64.exe"}});
  ASSERT_TRUE(entry.ok());
  APP_UNSETUP_PACKAGE package = Package(L"x64 tool " + token);
  EXPECT_NE(packages.LookupUninstallKey(package, true), kyd::kPackageInstalled);
  EXPECT_TRUE(package.wsUninstString.empty());
  EXPECT_EQ(packages.LookupUninstallKey(package, false), kyd::kPackageInstalled);
  EXPECT_EQ(package.wsUninstString, L"x64.exe");

  APP_UNSETUP_PACKAGE again = Package(L"x64 tool " + token);
  EXPECT_EQ(packages.IsPackageInstalled(again), kyd::kPackageInstalled);
  EXPECT_EQ(again.wsUninstString, L"x64.exe");
}

TEST(UninstallViewsW64, ThirtyTwoBitViewWinsWhenBothHoldThePackage) {
  CAnalysePackage packages(L"unused.xml");
  const std::wstring token = UniqueName(L"KydBoth");
  SeededUninstallEntry in32(token, kView32, {{L"DisplayName", token}, {L"UninstallString", L"x86.exe"}});
  SeededUninstallEntry in64(token, kView64, {{L"DisplayName", token}, {L"UninstallString", L"x64.exe"}});
  ASSERT_TRUE(in32.ok() && in64.ok());
  APP_UNSETUP_PACKAGE package = Package(token);
  EXPECT_EQ(packages.IsPackageInstalled(package), kyd::kPackageInstalled);
  EXPECT_EQ(package.wsUninstString, L"x86.exe");
}

// 32-bit Windows has one registry view: both access flags reach it, so the
// single lookup finds what a "64-bit view" seed wrote.
TEST(UninstallViewsW32, OneViewServesBothFlags) {
  CAnalysePackage packages(L"unused.xml");
  const std::wstring token = UniqueName(L"KydOneView");
  SeededUninstallEntry entry(token, kView64, {{L"DisplayName", token}, {L"UninstallString", L"one.exe"}});
  ASSERT_TRUE(entry.ok());
  APP_UNSETUP_PACKAGE package = Package(token);
  EXPECT_EQ(packages.LookupUninstallKey(package, true), kyd::kPackageInstalled);
  EXPECT_EQ(package.wsUninstString, L"one.exe");
}

// FindPackage from a catalogue file, with its log.
class FindPackageLookup : public ::testing::Test {
 protected:
  void Write(const std::wstring& keywords) {
    ASSERT_TRUE(kydtest::WriteFileBytes(
        path_, kydtest::ToNarrow(L"<KYD><KYDUNSETUP timeout=\"30\"><company timeout=\"20\"><vid id=\"10EC\"/>"
                               L"<dev guid=\"" + std::wstring(kMediaClass) + L"\">" + keywords +
                               L"</dev></company></KYDUNSETUP></KYD>")));
  }
  // The lines of one unit, in order.
  static std::vector<std::string> Of(const std::vector<std::string>& lines, const std::string& unit) {
    std::vector<std::string> selected;
    for (const auto& line : lines)
      if (line.find(" " + unit + ": ") != std::string::npos) selected.push_back(line);
    return selected;
  }

  kydtest::ScratchDir dir_{L"find"};
  std::wstring path_ = dir_ / L"unsetup.xml";
  std::wstring token_ = UniqueName(L"KydFind");
  const wchar_t* hwid_ = L"hdaudio\\func_01&ven_10ec&dev_0662&subsys_17aa3822";
};

TEST_F(FindPackageLookup, InstalledPackageIsFoundAndLogged) {
  SeededUninstallEntry entry(token_, kView32, {{L"DisplayName", L"Panel " + token_}, {L"UninstallString", L"u.exe"}});
  ASSERT_TRUE(entry.ok());
  Write(L"<keyword name=\"absent " + token_ + L"\"/><keyword name=\"panel " + token_ + L"\"/>");
  CAnalysePackage packages(path_);
  const std::string name = kydtest::ToNarrow(token_);
  {
    LogCapture log;
    EXPECT_EQ(packages.FindPackage(L"{4d36e96c-e325-11ce-bfc1-08002be10318}", hwid_), kyd::kPackageInstalled);
    EXPECT_EQ(log.Summary(),
              (std::vector<std::string>{
                  "TRACE AnalysePackage: FindPackage",
                  "TRACE Xml: DRV_APP_UNSETUP_PARAMS : GUID {4d36e96c-e325-11ce-bfc1-08002be10318}",
                  "TRACE Xml: DRV_APP_UNSETUP_PARAMS : VID 10EC",
                  "TRACE Xml: XML Path: " + kydtest::ToNarrow(path_),
                  "TRACE AnalysePackage: package :0  key :absent " + name + " ",
                  "TRACE AnalysePackage: package :1  key :panel " + name + " ",
                  "TRACE AnalysePackage: LookupRegister",
                  "TRACE AnalysePackage: LookupRegister: QUERY_EXIST",
              }));
  }
  ASSERT_EQ(packages.packages().size(), 2u);
  EXPECT_EQ(packages.packages()[1].wsUninstString, L"u.exe");
  EXPECT_EQ(packages.packages()[1].nTimeOut, 20);
  // Each call rebuilds the list from the file.
  EXPECT_EQ(packages.FindPackage(kMediaClass, hwid_), kyd::kPackageInstalled);
  EXPECT_EQ(packages.packages().size(), 2u);
}

TEST_F(FindPackageLookup, DescribedButNotInstalledReportsTheLastLookup) {
  // Something in both views, so that each view's lookup answers 0.
  SeededUninstallEntry in32(token_, kView32, {{L"DisplayName", L"Unrelated"}});
  SeededUninstallEntry in64(token_, kView64, {{L"DisplayName", L"Unrelated"}});
  ASSERT_TRUE(in32.ok() && in64.ok());
  Write(L"<keyword name=\"absent " + token_ + L"\"/>");
  CAnalysePackage packages(path_);
  LogCapture log;
  EXPECT_EQ(packages.FindPackage(kMediaClass, hwid_), kyd::kPackageNotInstalled);
  EXPECT_EQ(Of(log.Summary(), "AnalysePackage"),
            (std::vector<std::string>{
                "TRACE AnalysePackage: FindPackage",
                "TRACE AnalysePackage: package :0  key :absent " + kydtest::ToNarrow(token_) + " ",
                "TRACE AnalysePackage: LookupRegister",
                "TRACE AnalysePackage: LookupRegister: 0",
            }));
}

TEST_F(FindPackageLookup, NothingDescribedOrNoFileIsMinusOne) {
  Write(L"<keyword name=\"x\"/>");
  CAnalysePackage packages(path_);
  {
    LogCapture log;
    EXPECT_EQ(packages.FindPackage(kMediaClass, L"PCI\\VEN_10DE&DEV_1"), kyd::kPackageNotDescribed);
    EXPECT_EQ(Of(log.Summary(), "AnalysePackage"),
              (std::vector<std::string>{"TRACE AnalysePackage: FindPackage",
                                        "ERROR AnalysePackage: ParseXml Failed!"}));
    EXPECT_NE(log.Text().find("] ParseXml Failed!\n\n"), std::string::npos);
  }
  DeleteFileW(path_.c_str());
  LogCapture log;
  EXPECT_EQ(packages.FindPackage(kMediaClass, hwid_), kyd::kPackageNotDescribed);
  EXPECT_TRUE(packages.packages().empty());
  const auto lines = log.Summary();
  ASSERT_GE(lines.size(), 2u);
  EXPECT_EQ(lines[lines.size() - 2], "ERROR Xml: XML Load Err");
  EXPECT_EQ(lines.back(), "ERROR AnalysePackage: ParseXml Failed!");
}

}  // namespace
