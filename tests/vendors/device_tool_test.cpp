// The device-console tool's four builds, run as the library runs them.
#include <gtest/gtest.h>
#include <windows.h>

#include <string>
#include <vector>

#include "support/device_tool_bench.h"
#include "support/wine_bench.h"

namespace {

using kydtest::ProcessResult;
using kydtest::SeededDevice;

ProcessResult Tool(WORD build, const std::wstring& arguments) {
  return kydtest::RunProgram(L"\"" + kydtest::DeviceToolBuildFile(build) + L"\" " + arguments);
}

// A hardware ID no other test seeds.
std::wstring UniqueId(const wchar_t* tag) {
  static int counter = 0;
  return L"KYDTEST\\VEN_F00D&DEV_" + std::to_wstring(GetCurrentProcessId()) + L"_" + tag +
         std::to_wstring(counter++);
}

void StartsAndAnswersUsage(WORD build) {
  SCOPED_TRACE(build);
  ProcessResult run = Tool(build, L"");
  ASSERT_TRUE(run.started);
  EXPECT_EQ(run.exitCode, 3u) << run.output;
  EXPECT_EQ(Tool(build, L"findall =printer").exitCode, 3u);
  EXPECT_EQ(Tool(build, L"remove =display \"\"").exitCode, 3u);  // would match every device
}

void ListsSeededDisplayDeviceWithItsHardwareIds(WORD build) {
  SCOPED_TRACE(build);
  std::wstring first = UniqueId(L"LIST"), second = first + L"&REV_01";
  SeededDevice device({first, second}, {}, kydtest::kDisplayClass);
  SeededDevice media({UniqueId(L"MEDIA")}, {}, kydtest::kMediaClass);
  ASSERT_TRUE(device.ok() && media.ok());
  ProcessResult run = Tool(build, L"findall =display");
  EXPECT_EQ(run.exitCode, 0u);
  std::string line = kydtest::ToNarrow(device.instanceId() + L": " + first + L", " + second) + "\r\n";
  EXPECT_NE(run.output.find(line), std::string::npos) << run.output;
  EXPECT_EQ(run.output.find(kydtest::ToNarrow(media.instanceId())), std::string::npos);
  EXPECT_NE(run.output.find("device(s) of the display class found."), std::string::npos);
  // Neither word the library looks for after a removal appears in a listing.
  EXPECT_EQ(run.output.find("emoved"), std::string::npos);
  EXPECT_EQ(run.output.find("eboot"), std::string::npos);

  ProcessResult mediaRun = Tool(build, L"findall =media");
  EXPECT_NE(mediaRun.output.find(kydtest::ToNarrow(media.instanceId())), std::string::npos);
}

// Wine answers FALSE to SetupDiSetClassInstallParamsW with the DIF_REMOVE
// parameters, where Windows takes them; its class installer removes the
// device all the same, which is what the tool relies on.
void RemovesEveryDeviceCarryingTheIdAndNothingElse(WORD build) {
  SCOPED_TRACE(build);
  std::wstring id = UniqueId(L"REMOVE");
  SeededDevice byHardwareId({id}, {}, kydtest::kDisplayClass);
  SeededDevice byCompatibleId({UniqueId(L"OTHER")}, {id}, kydtest::kDisplayClass);
  SeededDevice similar({id + L"0"}, {}, kydtest::kDisplayClass);
  SeededDevice otherClass({id}, {}, kydtest::kMediaClass);
  ASSERT_TRUE(byHardwareId.ok() && byCompatibleId.ok() && similar.ok() && otherClass.ok());

  std::wstring lower = id;
  for (wchar_t& c : lower) c = static_cast<wchar_t>(towlower(c));
  ProcessResult run = Tool(build, L"remove =display \"" + lower + L"\"");
  EXPECT_EQ(run.exitCode, 0u) << run.output;
  for (const SeededDevice* gone : {&byHardwareId, &byCompatibleId}) {
    EXPECT_NE(run.output.find(kydtest::ToNarrow(gone->instanceId()) + ": Removed"), std::string::npos)
        << run.output;
  }
  // Presence by the IDs only this test uses: instance numbers of removed
  // devices are handed out again to the devices other tests seed meanwhile.
  EXPECT_EQ(kydtest::PresentDevicesWithId(id), std::vector<std::wstring>{otherClass.instanceId()});
  EXPECT_EQ(kydtest::PresentDevicesWithId(id + L"0").size(), 1u);
  EXPECT_EQ(kydtest::CountOf(run.output, "Removed"), 2u);
}

void RemovesByInstanceIdPrefix(WORD build) {
  SCOPED_TRACE(build);
  std::wstring id = UniqueId(L"INSTANCE");
  SeededDevice device({id}, {}, kydtest::kDisplayClass);
  ASSERT_TRUE(device.ok());
  // ROOT\KYD<pid>\000 is not the beginning of ROOT\KYD<pid>\0000: the ID
  // goes on with a digit.
  const std::wstring& instance = device.instanceId();
  ProcessResult cut = Tool(build, L"remove =display \"" + instance.substr(0, instance.size() - 1) + L"\"");
  EXPECT_EQ(cut.output.find("Removed"), std::string::npos) << cut.output;
  EXPECT_EQ(kydtest::PresentDevicesWithId(id).size(), 1u);
  ProcessResult run = Tool(build, L"remove =display \"" + device.instanceId() + L"\"");
  EXPECT_EQ(run.exitCode, 0u) << run.output;
  EXPECT_TRUE(kydtest::PresentDevicesWithId(id).empty()) << kydtest::ToNarrow(device.instanceId());
  EXPECT_NE(run.output.find("Removed"), std::string::npos) << run.output;
}

void RemoveWithoutAMatchSaysNeitherWord(WORD build) {
  SCOPED_TRACE(build);
  ProcessResult run = Tool(build, L"remove =display \"" + UniqueId(L"ABSENT") + L"\"");
  EXPECT_EQ(run.exitCode, 0u);
  EXPECT_EQ(run.output.find("emoved"), std::string::npos) << run.output;
  EXPECT_EQ(run.output.find("eboot"), std::string::npos) << run.output;
}

void DeletesPublishedPackageWithItsPnf(WORD build) {
  SCOPED_TRACE(build);
  kydtest::SeededInf inf(kydtest::FreeOemInfName(), L"[Version]\r\nSignature=\"$Windows NT$\"\r\n");
  ASSERT_TRUE(kydtest::FileExists(inf.path()) && kydtest::FileExists(inf.pnf()));
  // Wine's SetupUninstallOEMInfW deletes the INF but leaves the PNF, which
  // Windows deletes with it: the tool takes the PNF itself.
  ProcessResult run = Tool(build, L"-f dp_delete \"" + inf.path() + L"\"");
  EXPECT_EQ(run.exitCode, 0u) << run.output;
  EXPECT_FALSE(kydtest::FileExists(inf.path()));
  EXPECT_FALSE(kydtest::FileExists(inf.pnf()));
}

void RefusesAnInfThatIsNotAPublishedPackage(WORD build) {
  SCOPED_TRACE(build);
  std::wstring name = L"kydinbox" + std::to_wstring(GetCurrentProcessId()) + L".inf";
  kydtest::SeededInf inbox(name, L"[Version]\r\n");
  ProcessResult run = Tool(build, L"-f dp_delete \"" + inbox.path() + L"\"");
  EXPECT_EQ(run.exitCode, 2u) << run.output;
  EXPECT_TRUE(kydtest::FileExists(inbox.path()));
  EXPECT_TRUE(kydtest::FileExists(inbox.pnf()));
}

// The x86 builds run in both prefixes (on 64-bit Windows under WOW64).
TEST(DeviceToolX86, BothBuildsStartAndAnswerBadCommandLinesWithUsage) {
  for (WORD build : {102, 104}) StartsAndAnswersUsage(build);
}
TEST(DeviceToolX86, FindAllListsEveryDeviceOfTheClassWithItsHardwareIds) {
  for (WORD build : {102, 104}) ListsSeededDisplayDeviceWithItsHardwareIds(build);
}
TEST(DeviceToolX86, RemoveTakesOutTheDevicesCarryingTheIdInAnyCase) {
  for (WORD build : {102, 104}) RemovesEveryDeviceCarryingTheIdAndNothingElse(build);
}
TEST(DeviceToolX86, RemoveAcceptsTheBeginningOfAnInstanceId) {
  for (WORD build : {102, 104}) RemovesByInstanceIdPrefix(build);
}
TEST(DeviceToolX86, RemoveWithoutAMatchSaysNeitherRemovedNorReboot) {
  for (WORD build : {102, 104}) RemoveWithoutAMatchSaysNeitherWord(build);
}
TEST(DeviceToolX86, DpDeleteDeletesThePublishedInfWithItsPnf) {
  for (WORD build : {102, 104}) DeletesPublishedPackageWithItsPnf(build);
}
TEST(DeviceToolX86, DpDeleteRefusesAnInfThatIsNotAPublishedPackage) {
  for (WORD build : {102, 104}) RefusesAnInfThatIsNotAPublishedPackage(build);
}

// The x64 builds run only on 64-bit Windows.
TEST(DeviceToolX64W64, BothBuildsStartAndAnswerBadCommandLinesWithUsage) {
  for (WORD build : {103, 105}) StartsAndAnswersUsage(build);
}
TEST(DeviceToolX64W64, FindAllListsEveryDeviceOfTheClassWithItsHardwareIds) {
  for (WORD build : {103, 105}) ListsSeededDisplayDeviceWithItsHardwareIds(build);
}
TEST(DeviceToolX64W64, RemoveTakesOutTheDevicesCarryingTheIdInAnyCase) {
  for (WORD build : {103, 105}) RemovesEveryDeviceCarryingTheIdAndNothingElse(build);
}
TEST(DeviceToolX64W64, RemoveAcceptsTheBeginningOfAnInstanceId) {
  for (WORD build : {103, 105}) RemovesByInstanceIdPrefix(build);
}
TEST(DeviceToolX64W64, RemoveWithoutAMatchSaysNeitherRemovedNorReboot) {
  for (WORD build : {103, 105}) RemoveWithoutAMatchSaysNeitherWord(build);
}
TEST(DeviceToolX64W64, DpDeleteDeletesThePublishedInfWithItsPnf) {
  for (WORD build : {103, 105}) DeletesPublishedPackageWithItsPnf(build);
}
TEST(DeviceToolX64W64, DpDeleteRefusesAnInfThatIsNotAPublishedPackage) {
  for (WORD build : {103, 105}) RefusesAnInfThatIsNotAPublishedPackage(build);
}

}  // namespace
