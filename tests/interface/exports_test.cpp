// The exports called in process with hostile input, the driver-search
// policy, the log switch, and the host CLI's argument handling.
#include <gtest/gtest.h>

#include <string>

#include "platform/handle.h"
#include "support/staged_host.h"

namespace {

using kydtest::FileExists;
using kydtest::FreeOemInfName;
using kydtest::ReadFileBytes;
using kydtest::SeededDevice;
using kydtest::SeededInf;
using kydtest::StagedHost;

constexpr wchar_t kPolicyKey[] = L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\DriverSearching";
constexpr wchar_t kXpPolicyKey[] = L"SOFTWARE\\Policies\\Microsoft\\Windows\\DriverSearching";

class Exports : public ::testing::Test {
 protected:
  using QueryFn = int(__stdcall*)(const wchar_t*, const wchar_t*);
  using UninstallFn = int(__stdcall*)(const wchar_t*, const wchar_t*, int);
  using InitFn = void(__stdcall*)();

  void SetUp() override {
    library_.reset(LoadLibraryW(host_.dll().c_str()));
    ASSERT_TRUE(library_.valid());
    query_ = reinterpret_cast<QueryFn>(reinterpret_cast<void*>(GetProcAddress(library_.get(), "DrvUninst_IsDrvAppInstall")));
    uninstall_ = reinterpret_cast<UninstallFn>(reinterpret_cast<void*>(GetProcAddress(library_.get(), "DrvUninst_UninstallDrv")));
    init_ = reinterpret_cast<InitFn>(reinterpret_cast<void*>(GetProcAddress(library_.get(), "DrvUninst_Init")));
    unit_ = reinterpret_cast<InitFn>(reinterpret_cast<void*>(GetProcAddress(library_.get(), "DrvUninst_Unit")));
    ASSERT_TRUE(query_ && uninstall_ && init_ && unit_);
  }

  StagedHost host_;
  kyd::UniqueModule library_;
  QueryFn query_ = nullptr;
  UninstallFn uninstall_ = nullptr;
  InitFn init_ = nullptr, unit_ = nullptr;
};

TEST_F(Exports, NullHardwareIdUninstallsNothingAndLeavesThePolicyAlone) {
  kydtest::RegDeleteTreeIfPresent(HKEY_LOCAL_MACHINE, kPolicyKey, true);
  kydtest::RegDeleteTreeIfPresent(HKEY_LOCAL_MACHINE, kPolicyKey, false);
  init_();
  EXPECT_EQ(uninstall_(nullptr, kydtest::kSystemClass, 0), 0);
  EXPECT_EQ(uninstall_(nullptr, nullptr, 1), 0);
  unit_();
  EXPECT_FALSE(kydtest::RegKeyExists(HKEY_LOCAL_MACHINE, kPolicyKey, true));
  EXPECT_EQ(query_(nullptr, kydtest::kDisplayClass), 0);
  EXPECT_EQ(query_(L"PCI\\VEN_10DE&DEV_0DE1", nullptr), 0);
}

// Whatever the host passes, it gets a result code back and nothing that
// does not carry the ID is touched.
TEST_F(Exports, HostileIdsGetAResultAndTouchNothingUnrelated) {
  SeededDevice bystander({L"PCI\\VEN_1B21&DEV_1300"});
  SeededInf bystanderInf(FreeOemInfName(), L"[Models]\r\n\"x\"=i, PCI\\VEN_1B21&DEV_1300\r\n");
  std::wstring huge(65536, L'A');
  std::wstring nonBmp = L"PCI\\VEN_\U0001F600&DEV_\U00010437";
  const wchar_t* ids[] = {L"", huge.c_str(), nonBmp.c_str(), L"\"", L"PCI\\VEN_1B21\" \"&DEV_1300",
                          L"%PATH%&DEV_1300", L"PCI\\VEN_1B36&DEV_\"&calc&\"", L"\r\n\t"};
  const wchar_t* guids[] = {nullptr, L"", huge.c_str(), nonBmp.c_str(), L"{\"}",
                            kydtest::kDisplayClass, kydtest::kMediaClass, kydtest::kSystemClass};
  for (const wchar_t* id : ids) {
    for (const wchar_t* guid : guids) {
      int result = uninstall_(id, guid, 0);
      EXPECT_TRUE(result >= 0 && result <= 2) << result;
      int answer = query_(id, guid);
      EXPECT_TRUE(answer == 0 || answer == 1) << answer;
    }
  }
  EXPECT_TRUE(kydtest::DevicePresent(bystander.instanceId()));
  EXPECT_TRUE(FileExists(bystanderInf.path()));
  EXPECT_TRUE(FileExists(bystanderInf.pnf()));
}

TEST_F(Exports, LowerCaseDisplayClassAndVendorWithoutCleanerTakeTheRemovalRoad) {
  const std::wstring hwid = L"PCI\\VEN_1B36&DEV_1301";  // a vendor without a cleaner
  SeededDevice device({hwid}, {}, kydtest::kSystemClass);
  std::wstring lower = kydtest::kDisplayClass;
  for (wchar_t& c : lower) c = static_cast<wchar_t>(towlower(c));
  int result = uninstall_(hwid.c_str(), lower.c_str(), 1);  // keepDevice only counts on the vendor road
  if (kydtest::Is64BitPrefix()) {
    EXPECT_EQ(result, 0);  // no drv64\drv64.exe beside this test program
  } else {
    EXPECT_EQ(result, 1);
    EXPECT_FALSE(kydtest::DevicePresent(device.instanceId()));
  }
}

// Windows reads the driver-search policy from the 64-bit view.
TEST(DriverSearchPolicyW64, LandsInTheSixtyFourBitViewOnly) {
  kydtest::RegDeleteTreeIfPresent(HKEY_LOCAL_MACHINE, kPolicyKey, true);
  kydtest::RegDeleteTreeIfPresent(HKEY_LOCAL_MACHINE, kPolicyKey, false);
  for (int round = 0; round < 2; ++round) {
    auto run = kydtest::RunAsWindowsVersion(L"envprobe", L"win10", L"policy");
    EXPECT_EQ(run.exitCode, 0u) << run.output;
  }
  DWORD value = 99;
  EXPECT_TRUE(kydtest::RegDwordValue(HKEY_LOCAL_MACHINE, kPolicyKey, L"SearchOrderConfig", value, true));
  EXPECT_EQ(value, 0u);
  EXPECT_FALSE(kydtest::RegKeyExists(HKEY_LOCAL_MACHINE, kPolicyKey, false));  // not under Wow6432Node
  EXPECT_FALSE(kydtest::RegKeyExists(HKEY_LOCAL_MACHINE, kXpPolicyKey, true));
}

TEST(DriverSearchPolicy, WindowsXpGetsThePolicyValuesInstead) {
  const bool w64 = kydtest::Is64BitPrefix();
  kydtest::RegDeleteTreeIfPresent(HKEY_LOCAL_MACHINE, kPolicyKey, w64);
  kydtest::RegDeleteTreeIfPresent(HKEY_LOCAL_MACHINE, kXpPolicyKey, w64);
  auto run = kydtest::RunAsWindowsVersion(L"envprobe", w64 ? L"winxp64" : L"winxp", L"policy");
  EXPECT_EQ(run.exitCode, 0u) << run.output;
  DWORD search = 0, prompt = 0;
  EXPECT_TRUE(kydtest::RegDwordValue(HKEY_LOCAL_MACHINE, kXpPolicyKey, L"DontSearchWindowsUpdate", search, w64));
  EXPECT_TRUE(kydtest::RegDwordValue(HKEY_LOCAL_MACHINE, kXpPolicyKey, L"DontPromptForWindowsUpdate", prompt, w64));
  EXPECT_EQ(search, 1u);
  EXPECT_EQ(prompt, 1u);
  EXPECT_FALSE(kydtest::RegKeyExists(HKEY_LOCAL_MACHINE, kPolicyKey, w64));
  kydtest::RegDeleteTreeIfPresent(HKEY_LOCAL_MACHINE, kXpPolicyKey, w64);
}

// log.ini beside the library switches its log on.
TEST(LogSwitch, LogIniBesideTheLibraryTurnsTheLogOnWithItsFilter) {
  StagedHost host;
  const std::wstring logFile = host.folder() + L"\\log\\KYDDrvUninst.log";
  auto quiet = host.Cli(L"query \"PCI\\VEN_1B21&DEV_1310\" " + std::wstring(kydtest::kSystemClass));
  EXPECT_EQ(quiet.exitCode, 1u);  // not installed
  EXPECT_FALSE(FileExists(host.folder() + L"\\log"));

  kydtest::WriteFileBytes(host.folder() + L"\\log.ini", "[log]\r\nfilter=8\r\n");
  auto run = host.Cli(L"uninstall \"PCI\\VEN_1B21&DEV_1311\" " + std::wstring(kydtest::kSystemClass));
  EXPECT_EQ(run.exitCode, 1u) << run.output;  // nothing uninstalled
  std::string log = ReadFileBytes(logFile);
  EXPECT_NE(log.find("(DrvUninstMangement:"), std::string::npos) << log;
  EXPECT_NE(log.find("] KYDRemoveDriverEx result=0\r\n\n"), std::string::npos) << log;
  EXPECT_NE(log.find("] KYDRemove HwID PCI\\VEN_1B21&DEV_1311 \n"), std::string::npos) << log;
  EXPECT_EQ(log.find("[TRACE|"), std::string::npos) << "filter 8 keeps INFO lines only";

  kydtest::WriteFileBytes(host.folder() + L"\\log.ini", "[log]\r\n");
  host.Cli(L"query \"PCI\\VEN_1B21&DEV_1312\" " + std::wstring(kydtest::kSystemClass));
  log = ReadFileBytes(logFile);
  EXPECT_NE(log.find("Function CDrvUninstMangement::IsDrvAppInstall Entry"), std::string::npos) << log;
  EXPECT_NE(log.find("(KYDDrvUninst:"), std::string::npos) << log;
}

TEST(HostCli, BadArgumentsGiveUsageAndExitCodeTwo) {
  StagedHost host;
  for (const wchar_t* args : {L"", L"frobnicate", L"query onlyone", L"uninstall a b c",
                              L"list --class", L"query a b --keep-device", L"--bogus list"}) {
    auto run = host.Cli(args);
    EXPECT_EQ(run.exitCode, 2u) << kydtest::ToNarrow(args);
    EXPECT_NE(run.output.find("usage:"), std::string::npos) << run.output;
  }
}

TEST(HostCli, ListsPresentDevicesOfAClass) {
  StagedHost host;
  SeededDevice device({L"PCI\\VEN_1B21&DEV_1320&SUBSYS_00000001"}, {}, kydtest::kMediaClass);
  auto run = host.Cli(L"list --class " + std::wstring(kydtest::kMediaClass));
  EXPECT_EQ(run.exitCode, 0u);
  EXPECT_NE(run.output.find(kydtest::ToNarrow(device.instanceId())), std::string::npos) << run.output;
  EXPECT_NE(run.output.find("PCI\\VEN_1B21&DEV_1320&SUBSYS_00000001"), std::string::npos);
  EXPECT_EQ(run.output.find("ROOT\\WINE\\WINEBUS"), std::string::npos) << "other classes are left out";
}

}  // namespace
