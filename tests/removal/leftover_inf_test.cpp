#include <gtest/gtest.h>

#include <memory>
#include <vector>

#include "machine/journal.h"
#include "machine/machine.h"
#include "platform/handle.h"
#include "removal/leftover_inf.h"
#include "support/device_tool_bench.h"
#include "support/wine_bench.h"

namespace {

using kydtest::FileExists;
using kydtest::FreeOemInfName;
using kydtest::InfDir;
using kydtest::SeededInf;
namespace journal = kyd::machine::journal;

// What a plan does when a step before the leftover one removes the device.
void PlanDeviceRemoval(const std::wstring& instanceId) {
  kyd::UniqueDevInfo set(SetupDiCreateDeviceInfoList(nullptr, nullptr));
  SP_DEVINFO_DATA device{};
  device.cbSize = sizeof device;
  ASSERT_TRUE(set && SetupDiOpenDeviceInfoW(set.get(), instanceId.c_str(), nullptr, 0, &device));
  EXPECT_TRUE(kyd::machine::RemoveDevice(set.get(), &device, [] { return false; }));
}

TEST(LeftoverInfKey, EndsFourCharactersAfterTheDeviceOrProductPart) {
  EXPECT_EQ(kyd::LeftoverInfKey(L"PCI\\VEN_10DE&DEV_0DE1&SUBSYS_12345678&REV_A1"), L"PCI\\VEN_10DE&DEV_0DE1");
  EXPECT_EQ(kyd::LeftoverInfKey(L"USB\\VID_046D&PID_C52B&REV_1201&MI_00"), L"USB\\VID_046D&PID_C52B");
  // Nothing after the four characters, no device part, or a lower-case one:
  // the whole ID is the key.
  EXPECT_EQ(kyd::LeftoverInfKey(L"PCI\\VEN_10DE&DEV_0DE1"), L"PCI\\VEN_10DE&DEV_0DE1");
  EXPECT_EQ(kyd::LeftoverInfKey(L"ACPI\\PNP0A08"), L"ACPI\\PNP0A08");
  EXPECT_EQ(kyd::LeftoverInfKey(L"pci\\ven_10de&dev_0de1&subsys_1"), L"pci\\ven_10de&dev_0de1&subsys_1");
  EXPECT_EQ(kyd::LeftoverInfKey(L""), L"");
}

TEST(DeleteLeftoverInf, DeletesEveryOemInfNamingTheChipWithItsPnf) {
  const std::wstring hwid = L"PCI\\VEN_8086&DEV_0166&SUBSYS_21FA17AA&REV_09";
  SeededInf mixedCase(FreeOemInfName(), L"[Models]\r\n\"x\"=i, pci\\ven_8086&DEV_0166&SUBSYS_00000000\r\n");
  SeededInf wide(FreeOemInfName(), L"[Models]\r\n\"x\"=i, PCI\\VEN_8086&DEV_0166\r\n", /*utf16=*/true);
  SeededInf otherChip(FreeOemInfName(), L"[Models]\r\n\"x\"=i, PCI\\VEN_8086&DEV_0167\r\n");
  SeededInf vendorOnly(FreeOemInfName(), L"[Models]\r\n\"x\"=i, PCI\\VEN_8086\r\n");
  SeededInf inbox(L"kydinbox0166.inf", L"[Models]\r\n\"x\"=i, PCI\\VEN_8086&DEV_0166\r\n");
  // Found by oem*.inf through its short name (OEM1~1.INF), but no INF.
  SeededInf notInf(FreeOemInfName() + L"x", L"[Models]\r\n\"x\"=i, PCI\\VEN_8086&DEV_0166\r\n", false, false);

  kyd::DeleteLeftoverInfHere(hwid.c_str());
  EXPECT_FALSE(FileExists(mixedCase.path()));
  EXPECT_FALSE(FileExists(mixedCase.pnf()));
  EXPECT_FALSE(FileExists(wide.path()));
  EXPECT_FALSE(FileExists(wide.pnf()));
  EXPECT_TRUE(FileExists(otherChip.path()));
  EXPECT_TRUE(FileExists(vendorOnly.path()));
  EXPECT_TRUE(FileExists(inbox.path()));
  EXPECT_TRUE(FileExists(notInf.path()));
}

// A key without a device part is the whole ID, and a longer ID that begins
// with it is another device's.
TEST(DeleteLeftoverInf, MatchesTheKeyOnlyWhereTheIdEnds) {
  SeededInf hub(FreeOemInfName(), L"[Models]\r\n\"x\"=i, USB\\ROOT_HUB30, usb\\root_hub\r\n");
  SeededInf hub30(FreeOemInfName(), L"[Models]\r\n\"x\"=i, USB\\ROOT_HUB30\r\n", /*utf16=*/true);
  SeededInf hubX(FreeOemInfName(), L"[Models]\r\n\"x\"=i, USB\\ROOT_HUB_X\r\n");
  kyd::DeleteLeftoverInfHere(L"USB\\ROOT_HUB");
  EXPECT_FALSE(FileExists(hub.path()));
  EXPECT_TRUE(FileExists(hub30.path()));
  EXPECT_TRUE(FileExists(hubX.path()));
}

TEST(DeleteLeftoverInf, ReadsUtf16OnlyWithAMarkAndSkipsFilesHeldOpen) {
  const std::wstring hwid = L"PCI\\VEN_8086&DEV_0170&SUBSYS_1";
  std::wstring noMarkName = FreeOemInfName();
  std::wstring text = L"[Models]\r\n\"x\"=i, PCI\\VEN_8086&DEV_0170\r\n";
  SeededInf noMark(noMarkName, L"");
  kydtest::WriteFileBytes(noMark.path(), std::string(reinterpret_cast<const char*>(text.data()), text.size() * 2));
  SeededInf held(FreeOemInfName(), text);
  kyd::UniqueFile handle(CreateFileW(held.path().c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
  ASSERT_TRUE(handle.valid());

  kyd::DeleteLeftoverInfHere(hwid.c_str());
  EXPECT_TRUE(FileExists(noMark.path()));
  EXPECT_TRUE(FileExists(held.path()));
  handle.reset();
  kyd::DeleteLeftoverInfHere(hwid.c_str());
  EXPECT_FALSE(FileExists(held.path()));
}

// A package that a present device is installed from stays, named in the
// log: another card of the chip, or the device the host keeps. A package no
// device uses goes, in a run and in a plan that removed its device first.
TEST(DeleteLeftoverInf, KeepsThePackagesOfPresentDevices) {
  const std::wstring chip = L"PCI\\VEN_F00D&DEV_" + std::to_wstring(1000 + GetCurrentProcessId() % 8999);
  const struct {
    const char* what;
    const wchar_t* device;  // the device installed from the package, if any
    bool planRemoved, stays;
    bool capitals = false;  // the driver key names the INF in capitals
  } rows[] = {
      {"a second card of the chip", L"&SUBSYS_00000002", false, true},
      {"the device the host keeps", L"&SUBSYS_00000001&REV_00", false, true},
      {"no device", nullptr, false, false},
      {"a device the plan removed", L"&SUBSYS_00000003", true, false},
      {"a card whose driver key names the INF in capitals", L"&SUBSYS_00000004", false, true, true},
  };
  for (bool plan : {false, true}) {
    std::vector<std::unique_ptr<SeededInf>> infs;
    std::vector<std::unique_ptr<kydtest::SeededDevice>> devices;
    for (const auto& row : rows) {
      infs.push_back(std::make_unique<SeededInf>(FreeOemInfName(), L"[M]\r\n\"x\"=i, " + chip + L"&SUBSYS_0\r\n"));
      devices.push_back(row.device ? std::make_unique<kydtest::SeededDevice>(std::vector{chip + row.device}) : nullptr);
      std::wstring from = infs.back()->path();
      if (row.capitals) CharUpperBuffW(from.data(), static_cast<DWORD>(from.size()));
      ASSERT_TRUE(!row.device || devices.back()->InstallFrom(from)) << row.what;
    }
    kydtest::ScratchDir scratch(L"leftover-users"), planFolder(L"leftover-users-plan");
    kydtest::LogToFile log(scratch / L"log.txt");
    {
      std::unique_ptr<kyd::machine::Session> session;
      if (plan) session = std::make_unique<kyd::machine::Session>(kyd::machine::Mode::kPlan, planFolder.path());
      for (size_t i = 0; i < std::size(rows); ++i)
        if (rows[i].planRemoved && plan) PlanDeviceRemoval(devices[i]->instanceId());
        else if (rows[i].planRemoved) devices[i].reset();
      kyd::DeleteLeftoverInfHere((chip + L"&SUBSYS_00000001&REV_00").c_str());
    }
    std::string text = log.Finish();
    CharLowerBuffA(text.data(), static_cast<DWORD>(text.size()));
    journal::Manifest manifest;
    ASSERT_TRUE(!plan || journal::ReadManifest(planFolder.path(), manifest));
    for (size_t i = 0; i < std::size(rows); ++i) {
      SCOPED_TRACE(std::string(rows[i].what) + (plan ? " (plan)" : ""));
      std::string kept = "kept: " + kydtest::ToNarrow(infs[i]->path()) + " is the driver of " +
                         (devices[i] ? kydtest::ToNarrow(devices[i]->instanceId()) : "");
      CharLowerBuffA(kept.data(), static_cast<DWORD>(kept.size()));
      bool gone = !plan && !FileExists(infs[i]->path());
      for (const journal::Line& line : manifest.lines)
        gone = gone || (line.verb == L"remove-driver-package" && _wcsicmp(line.target.c_str(), infs[i]->path().c_str()) == 0);
      EXPECT_EQ(gone, !rows[i].stays);
      EXPECT_EQ(text.find(kept) != std::string::npos, rows[i].stays) << text;
    }
  }
}

TEST(DeleteLeftoverInf, EmptyOrNullIdDeletesNothing) {
  SeededInf any(FreeOemInfName(), L"[Models]\r\n");
  kyd::DeleteLeftoverInfHere(nullptr);
  kyd::DeleteLeftoverInfHere(L"");
  EXPECT_TRUE(FileExists(any.path()));
}

}  // namespace
