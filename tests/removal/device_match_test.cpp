#include <gtest/gtest.h>

#include "platform/base_log.h"
#include "removal/device_match.h"
#include "support/wine_bench.h"

namespace {

using kydtest::SeededDevice;

// Calls act(set, device) on the present device with this instance ID.
template <typename Act>
void OnDevice(const std::wstring& instanceId, Act act) {
  kyd::ForEachPresentDevice([&](HDEVINFO set, SP_DEVINFO_DATA* device) {
    wchar_t id[512] = {};
    SetupDiGetDeviceInstanceIdW(set, device, id, 512, nullptr);
    if (_wcsicmp(id, instanceId.c_str()) != 0) return true;
    act(set, device);
    return false;
  });
}

kyd::IdList IdsOf(const std::wstring& instanceId, DWORD property) {
  kyd::IdList result;
  OnDevice(instanceId, [&](HDEVINFO set, SP_DEVINFO_DATA* device) {
    result = kyd::GetDeviceIdList(set, device, property);
  });
  return result;
}

// A present device and an oem INF in the INF folder with a driver for it.
struct DeviceWithInf {
  explicit DeviceWithInf(const std::wstring& hwid)
      : device({hwid}),
        infName(kydtest::FreeOemInfName()),
        inf(infName, kydtest::DriverInfText(hwid, L"Kyd Test Bridge")) {}
  SeededDevice device;
  std::wstring infName;
  kydtest::SeededInf inf;
};

TEST(DeviceIdLists, ReadHardwareAndCompatibleIdsAndTellAbsenceFromEmptiness) {
  SeededDevice device({L"PCI\\VEN_1AF4&DEV_1000&SUBSYS_00011AF4&REV_00", L"PCI\\VEN_1AF4&DEV_1000&SUBSYS_00011AF4"},
                      {L"PCI\\VEN_1AF4&DEV_1000&REV_00", L"PCI\\VEN_1AF4&DEV_1000"});
  ASSERT_TRUE(device.ok());
  kyd::IdList hardware = IdsOf(device.instanceId(), SPDRP_HARDWAREID);
  ASSERT_TRUE(hardware.has_value());
  ASSERT_EQ(hardware->size(), 2u);
  EXPECT_EQ((*hardware)[1], L"PCI\\VEN_1AF4&DEV_1000&SUBSYS_00011AF4");

  // A vendor-and-device ID is exact text, not a prefix: only the compatible
  // list, which holds it whole, matches it.
  kyd::IdList compatible = IdsOf(device.instanceId(), SPDRP_COMPATIBLEIDS);
  EXPECT_FALSE(kyd::MatchAnyId(hardware, L"PCI\\VEN_1AF4&DEV_1000"));
  EXPECT_TRUE(kyd::MatchAnyId(compatible, L"pci\\ven_1af4&dev_1000"));
  EXPECT_FALSE(kyd::MatchAnyId(std::nullopt, L"PCI\\VEN_1AF4&DEV_1000"));

  SeededDevice bare({L"PCI\\VEN_1AF4&DEV_1001"});
  EXPECT_FALSE(IdsOf(bare.instanceId(), SPDRP_COMPATIBLEIDS).has_value());
}

TEST(DeviceIdLists, LongListsAreReadWhole) {
  std::vector<std::wstring> ids;
  for (int i = 0; i < 200; ++i) ids.push_back(L"PCI\\VEN_1AF4&DEV_2000&SUBSYS_" + std::to_wstring(10000000 + i) + L"&REV_00");
  SeededDevice device(ids);  // about 17 KB of IDs, past the first 8 KB read
  kyd::IdList read = IdsOf(device.instanceId(), SPDRP_HARDWAREID);
  ASSERT_TRUE(read.has_value());
  EXPECT_EQ(*read, ids);
}

TEST(FindInstanceIdByIds, TakesTheFirstPresentDeviceWhoseInstanceIdHoldsAnId) {
  SeededDevice first({L"PCI\\VEN_1AF4&DEV_3000"});
  SeededDevice second({L"PCI\\VEN_1AF4&DEV_3000"});
  ASSERT_TRUE(first.ok() && second.ok());
  std::wstring found;
  // An ID cut inside its enumerator part ("ROOT\\KYD12" of "ROOT\\KYD123\\0000")
  // names another device, not these.
  std::wstring cut = second.instanceId().substr(0, second.instanceId().rfind(L'\\') - 1);
  kyd::IdList list = std::vector<std::wstring>{L"no-such-instance", cut, second.instanceId()};
  ASSERT_TRUE(kyd::FindInstanceIdByIds(list, found));
  EXPECT_EQ(found, second.instanceId());
  EXPECT_FALSE(kyd::FindInstanceIdByIds(std::vector<std::wstring>{}, found));
  EXPECT_FALSE(kyd::FindInstanceIdByIds(std::nullopt, found));
}

TEST(CurrentDriver, DeviceOfTheOtherDevicesClassHasNone) {
  SeededDevice device({L"PCI\\VEN_1AF4&DEV_4000"}, {}, L"{4D36E97E-E325-11CE-BFC1-08002BE10318}");
  ASSERT_TRUE(device.ok());
  kyd::DriverFileInfo file;
  kyd::DriverInfo info;
  EXPECT_FALSE(kyd::GetCurrentDriverInfo(device.instanceId(), file, info));
}

TEST(DriverTexts, DatesHaveAFloorAndVersionsFourParts) {
  std::wstring date;
  FILETIME zero{0, 0};
  ASSERT_TRUE(kyd::FormatDriverDate(zero, L"yyyy-mm-dd", date));
  EXPECT_EQ(date, L"1601-1-1");
  SYSTEMTIME st{2015, 8, 0, 10, 9, 5, 3, 0};
  FILETIME ft;
  SystemTimeToFileTime(&st, &ft);
  std::wstring styled;
  EXPECT_TRUE(kyd::FormatDriverDate(ft, L"yyyy\\mm\\dd", styled));
  EXPECT_EQ(styled, L"2015\\8\\10");
  std::wstring untouched = L"keep";
  EXPECT_FALSE(kyd::FormatDriverDate(ft, L"dd.mm.yyyy", untouched));
  EXPECT_EQ(untouched, L"keep");
  std::wstring version;
  kyd::FormatDriverVersion(0x0001000200030004ULL, version);
  EXPECT_EQ(version, L"1.2.3.4");
}

}  // namespace

namespace {

// Wine 8 answers SetupDiBuildDriverInfoList(SPDIT_CLASSDRIVER) with
// ERROR_CALL_NOT_IMPLEMENTED, so the installed driver cannot be found there.
bool ClassDriverListsWork(const std::wstring& instanceId) {
  bool works = true;
  OnDevice(instanceId, [&](HDEVINFO set, SP_DEVINFO_DATA* device) {
    works = SetupDiBuildDriverInfoList(set, device, SPDIT_CLASSDRIVER) ||
            GetLastError() != ERROR_CALL_NOT_IMPLEMENTED;
  });
  return works;
}

// Wine builds no class driver list, but it does build the compatible list
// from the INF folder: the detail read is shown on that list's node, with the
// hardware IDs that lie past the record's fixed part. (The 64-bit record of
// drv64.exe is larger; its size comes from the same sizeof, checked when
// that build compiles.)
TEST(DriverDetail, IsReadWholeWithTheHardwareIdsPastTheFixedPart) {
  const std::wstring hwid = L"PCI\\VEN_1AF4&DEV_4101&SUBSYS_00011AF4";
  DeviceWithInf seeded(hwid);
  ASSERT_TRUE(seeded.device.ok());
  std::vector<BYTE> detail;
  OnDevice(seeded.device.instanceId(), [&](HDEVINFO set, SP_DEVINFO_DATA* dev) {
    if (!SetupDiBuildDriverInfoList(set, dev, SPDIT_COMPATDRIVER)) return;
    kyd::UniqueDriverList list(set, dev, SPDIT_COMPATDRIVER);
    SP_DRVINFO_DATA_V2_W node{};
    node.cbSize = sizeof node;
    if (!SetupDiEnumDriverInfoW(set, dev, SPDIT_COMPATDRIVER, 0, reinterpret_cast<SP_DRVINFO_DATA_W*>(&node)) ||
        !kyd::ReadDriverDetail(set, dev, &node, detail))
      detail.clear();
  });
  ASSERT_GT(detail.size(), sizeof(SP_DRVINFO_DETAIL_DATA_W)) << "no compatible driver detail";
  const auto* record = reinterpret_cast<const SP_DRVINFO_DETAIL_DATA_W*>(detail.data());
  EXPECT_STREQ(record->SectionName, L"KydInstall");
  EXPECT_STREQ(record->HardwareID, hwid.c_str());
  std::wstring infFile = record->InfFileName;  // Wine: "C:/windows/inf\oemN.inf"
  EXPECT_EQ(_wcsicmp(infFile.substr(infFile.find_last_of(L"\\/") + 1).c_str(), seeded.infName.c_str()), 0);
}

TEST(CurrentDriver, InstalledDriverGivesItsInfAndDescriptions) {
  const std::wstring hwid = L"PCI\\VEN_1AF4&DEV_4100&SUBSYS_00011AF4";
  DeviceWithInf seeded(hwid);
  const SeededDevice& device = seeded.device;
  const kydtest::SeededInf& inf = seeded.inf;
  ASSERT_TRUE(device.ok());
  ASSERT_TRUE(kydtest::GiveDeviceADriver(device.instanceId(), seeded.infName, L"KydInstall", L"Kyd Test Bridge",
                                         L"KydTest", L"KydTest Devices"));
  kydtest::ScratchDir logDir(L"driverlog");
  base::BaseLog::Instance()->Enable(logDir / L"raw.log", base::LOG_ALL);
  kyd::DriverFileInfo file;
  kyd::DriverInfo info;
  bool found = kyd::GetCurrentDriverInfo(device.instanceId(), file, info);
  base::BaseLog::Instance()->Disable();
  if (!found && !ClassDriverListsWork(device.instanceId()))
    GTEST_SKIP() << "Wine builds no class driver list (ERROR_CALL_NOT_IMPLEMENTED); "
                    "the installed driver can only be found on Windows";
  ASSERT_TRUE(found) << kydtest::ReadFileBytes(logDir / L"raw.log");
  EXPECT_EQ(_wcsicmp(file.InfFileName.c_str(), inf.path().c_str()), 0) << file.InfFileName;
  EXPECT_EQ(file.SectionName, L"KydInstall");
  EXPECT_EQ(file.HardwareID, hwid);
  EXPECT_EQ(info.Description, L"Kyd Test Bridge");
  EXPECT_EQ(info.ProviderName, L"KydTest");
  EXPECT_EQ(info.DriverDate, L"2015-1-2");
  EXPECT_EQ(info.DriverVersion, L"1.2.3.4");
}

}  // namespace
