// The parts of a DCH driver: INFs read through SetupAPI, the device's ID
// family, and what a plan names for a device with extension and component
// packages and software devices.
#include <gtest/gtest.h>

#include <algorithm>

#include "machine/journal.h"
#include "machine/machine.h"
#include "platform/handle.h"
#include "removal/components.h"
#include "support/wine_bench.h"

namespace {

using namespace kydtest;
namespace journal = kyd::machine::journal;

constexpr wchar_t kExtensionHead[] =
    L"[Version]\r\nSignature=\"$WINDOWS NT$\"\r\nClass=Extension\r\n"
    L"ClassGuid={e2f84ce7-8efa-411c-aa69-97454ca4cb57}\r\nExtensionId={11111111-2222-3333-4444-555555555555}\r\n";
constexpr wchar_t kDisplayHead[] =
    L"[Version]\r\nSignature=\"$WINDOWS NT$\"\r\nClass=Display\r\n"
    L"ClassGuid={4d36e968-e325-11ce-bfc1-08002be10318}\r\n";

std::wstring ComponentInf(const std::wstring& id) {
  return L"[Version]\r\nSignature=\"$WINDOWS NT$\"\r\nClass=SoftwareComponent\r\n"
         L"ClassGuid={5c4c3332-344d-483c-8739-259e934c9cc8}\r\n[Manufacturer]\r\nV=M,NTamd64,NTx86\r\n"
         L"[M.NTamd64]\r\nD=C, SWC\\" + id + L"\r\n[M.NTx86]\r\nD=C, SWC\\" + id + L"\r\n[C.NT]\r\n";
}

// One INF, the device IDs asked about, and what SetupAPI must read from it.
struct InfRow {
  const char* what;
  const wchar_t* head;
  const wchar_t* body;
  std::vector<std::wstring> deviceIds;
  kyd::InfClass infClass;
  std::vector<std::wstring> components;
};

TEST(ReadInf, ClassModelsAndTheComponentsOfTheDevicesModelLines) {
  const std::vector<std::wstring> dev = {L"PCI\\VEN_1002&DEV_6798&SUBSYS_30001002",
                                         L"PCI\\VEN_1002&DEV_6798"};
  const InfRow rows[] = {
      {"components of an undecorated install section, through [Strings]", kDisplayHead,
       L"[Manufacturer]\r\n%M%=Mfg\r\n[Mfg]\r\n%D%=Inst, PCI\\VEN_1002&DEV_6798\r\n"
       L"[Inst.Components]\r\nAddComponent=Events,,EventsInst\r\n[EventsInst]\r\nComponentIDs=%Id%\r\n"
       L"[Strings]\r\nM=\"AMD\"\r\nD=\"Radeon\"\r\nId=\"VEN_1002&AID_0007\"\r\n",
       dev, kyd::InfClass::kOther, {L"VEN_1002&AID_0007"}},
      {"a decorated models section and install section; two components, one added twice", kExtensionHead,
       L"[Manufacturer]\r\nM=Mfg,NTamd64\r\n[Mfg.NTamd64]\r\nD=Ext, pci\\ven_1002&dev_6798&subsys_30001002\r\n"
       L"[Ext.NTamd64.Components]\r\nAddComponent=A,,SecA\r\nAddComponent=B,,SecB\r\nAddComponent=A2,,SecA\r\n"
       L"[SecA]\r\nComponentIDs=VEN_1002&AID_0008\r\n[SecB]\r\nComponentIDs=VEN_1002&AID_0009\r\n",
       dev, kyd::InfClass::kExtension, {L"VEN_1002&AID_0008", L"VEN_1002&AID_0009"}},
      {"an INF for 32-bit Windows only: models and components decorated .NTx86", kDisplayHead,
       L"[Manufacturer]\r\nM=Mfg,NTx86\r\n[Mfg.NTx86]\r\nD=Inst, PCI\\VEN_1002&DEV_6798\r\n"
       L"[Inst.NTx86.Components]\r\nAddComponent=A,,SecA\r\n[SecA]\r\nComponentIDs=VEN_1002&AID_0010\r\n",
       dev, kyd::InfClass::kOther, {L"VEN_1002&AID_0010"}},
      {"a component each from the ARM64 and Itanium install sections", kExtensionHead,
       L"[Manufacturer]\r\nM=Mfg\r\n[Mfg]\r\nD=Ext, PCI\\VEN_1002&DEV_6798\r\n"
       L"[Ext.NTarm64.Components]\r\nAddComponent=A,,SecA\r\n[Ext.NTia64.Components]\r\nAddComponent=B,,SecB\r\n"
       L"[SecA]\r\nComponentIDs=VEN_1002&AID_0011\r\n[SecB]\r\nComponentIDs=VEN_1002&AID_0012\r\n",
       dev, kyd::InfClass::kExtension, {L"VEN_1002&AID_0011", L"VEN_1002&AID_0012"}},
      {"another device's model line adds nothing for ours", kDisplayHead,
       L"[Manufacturer]\r\nM=Mfg\r\n[Mfg]\r\nD=Ours, PCI\\VEN_1002&DEV_6798\r\nO=Other, PCI\\VEN_1002&DEV_67DF\r\n"
       L"[Ours.NT.Components]\r\nAddComponent=A,,SecA\r\n[Other.NT.Components]\r\nAddComponent=B,,SecB\r\n"
       L"[SecA]\r\nComponentIDs=VEN_1002&AID_0007\r\n[SecB]\r\nComponentIDs=VEN_1002&AID_0099\r\n",
       dev, kyd::InfClass::kOther, {L"VEN_1002&AID_0007"}},
      {"an ID that only begins like the device's is not the device", kExtensionHead,
       L"[Manufacturer]\r\nM=Mfg\r\n[Mfg]\r\nD=Ext, PCI\\VEN_1002&DEV_67981\r\n"
       L"[Ext.Components]\r\nAddComponent=A,,SecA\r\n[SecA]\r\nComponentIDs=VEN_1002&AID_0007\r\n",
       dev, kyd::InfClass::kExtension, {}},
      {"a component INF, known by its class GUID alone",
       L"[Version]\r\nSignature=\"$WINDOWS NT$\"\r\nClassGuid={5C4C3332-344D-483C-8739-259E934C9CC8}\r\n",
       L"[Manufacturer]\r\nM=Mfg\r\n[Mfg]\r\nD=C, SWC\\VEN_1002&AID_0007\r\n", {L"SWC\\VEN_1002&AID_0007"},
       kyd::InfClass::kSoftwareComponent, {}},
  };
  for (const InfRow& row : rows) {
    SeededInf seeded(FreeOemInfName(), std::wstring(row.head) + row.body);
    kyd::InfReading reading = kyd::ReadInf(seeded.path());
    ASSERT_TRUE(reading.opened) << row.what;
    EXPECT_EQ(reading.infClass, row.infClass) << row.what;
    EXPECT_TRUE(kyd::ModelsName(reading.models, row.deviceIds) || row.components.empty()) << row.what;
    kyd::UniqueInf inf(SetupOpenInfFileW(seeded.path().c_str(), nullptr, INF_STYLE_WIN4, nullptr));
    EXPECT_EQ(kyd::ComponentIdsFor(inf.get(), reading.models, row.deviceIds), row.components) << row.what;
  }
}

TEST(DeviceIdFamily, TheIdAndItsShorterFormsDownToTheDevicePart) {
  const struct {
    const wchar_t* id;
    std::vector<std::wstring> family;
  } rows[] = {
      {L"PCI\\VEN_F00D&DEV_6798&SUBSYS_30001002&REV_00",
       {L"PCI\\VEN_F00D&DEV_6798&SUBSYS_30001002&REV_00", L"PCI\\VEN_F00D&DEV_6798&SUBSYS_30001002",
        L"PCI\\VEN_F00D&DEV_6798"}},
      {L"USB\\VID_F00D&PID_3C4D&REV_0100&MI_00",
       {L"USB\\VID_F00D&PID_3C4D&REV_0100&MI_00", L"USB\\VID_F00D&PID_3C4D&REV_0100", L"USB\\VID_F00D&PID_3C4D"}},
      // No device part: the ID alone, never its vendor part.
      {L"HDAUDIO\\FUNC_01&VEN_F00D", {L"HDAUDIO\\FUNC_01&VEN_F00D"}},
      {L"", {}},
  };
  for (const auto& row : rows) EXPECT_EQ(kyd::DeviceIdFamily(row.id), row.family) << ToNarrow(row.id);
}

// A plan for a device with a base INF, an extension INF and their components:
// the software devices, then the component packages, then the extension
// package, each named once; what resembles them stays out of it.
TEST(DeviceComponents, PlanNamesDevicesThenComponentPackagesThenExtensions) {
  const std::wstring device = L"PCI\\VEN_F00D&DEV_" + std::to_wstring(1000 + GetCurrentProcessId() % 8999);
  const std::wstring cid = L"VEN_F00D&AID_" + std::to_wstring(1000 + GetCurrentProcessId() % 8999);
  auto models = [](const std::wstring& id, const std::wstring& component) {
    return L"[Manufacturer]\r\nM=Mfg,NTx86,NTamd64\r\n[Mfg.NTx86]\r\nD=I, " + id + L"\r\n[Mfg.NTamd64]\r\nD=I, " + id +
           L"\r\n[I.NT.Components]\r\nAddComponent=C,,S\r\n[S]\r\nComponentIDs=" + component + L"\r\n";
  };
  SeededInf base(FreeOemInfName(), kDisplayHead + models(device, cid + L"1"));
  SeededInf extension(FreeOemInfName(), kExtensionHead + models(device + L"&SUBSYS_00000001", cid + L"2"));
  SeededInf otherExtension(FreeOemInfName(), kExtensionHead + models(device + L"1", cid + L"3"));
  SeededInf component1(FreeOemInfName(), ComponentInf(cid + L"1"));
  SeededInf component2(FreeOemInfName(), ComponentInf(cid + L"2"));
  SeededInf longer(FreeOemInfName(), ComponentInf(cid + L"10"));
  SeededInf other(FreeOemInfName(), ComponentInf(cid + L"3"));
  const wchar_t* kSwc = L"{5c4c3332-344d-483c-8739-259e934c9cc8}";
  SeededDevice swc1({L"SWC\\" + cid + L"1"}, {}, kSwc), swc2({L"swc\\" + cid + L"2"}, {}, kSwc);
  SeededDevice swcLonger({L"SWC\\" + cid + L"10"}, {}, kSwc), swcOther({L"SWC\\" + cid + L"3"}, {}, kSwc);
  ASSERT_TRUE(swc1.ok() && swc2.ok() && swcLonger.ok() && swcOther.ok());

  ScratchDir folder(L"components-plan");
  {
    kyd::machine::Session plan(kyd::machine::Mode::kPlan, folder.path());
    ASSERT_TRUE(plan.ok());
    kyd::CleanDeviceComponentsHere((device + L"&SUBSYS_00000001&REV_00").c_str());
  }
  journal::Manifest manifest;
  ASSERT_TRUE(journal::ReadManifest(folder.path(), manifest));
  std::vector<std::wstring> planned;
  for (const journal::Line& line : manifest.lines) planned.push_back(line.verb + L" " + journal::UpperCase(line.target));
  std::vector<std::wstring> expected = {
      L"remove-device " + journal::UpperCase(swc1.instanceId()),
      L"remove-device " + journal::UpperCase(swc2.instanceId()),
      L"remove-driver-package " + journal::UpperCase(component1.path()),
      L"remove-driver-package " + journal::UpperCase(component2.path()),
      L"remove-driver-package " + journal::UpperCase(extension.path()),
  };
  // Within a kind, the order is the INF folder's and SetupAPI's.
  for (auto* list : {&planned, &expected})
    if (list->size() >= 4) {
      std::sort(list->begin(), list->begin() + 2);
      std::sort(list->begin() + 2, list->begin() + 4);
    }
  EXPECT_EQ(planned, expected);
  EXPECT_TRUE(FileExists(extension.path()) && FileExists(component1.path()));  // a plan changes nothing
}

}  // namespace
