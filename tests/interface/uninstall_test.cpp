// The removal road end to end: drvuninst.exe in a staged host folder loads
// KYDDrvUninst.dll and calls its exports, as a driver-management tool would.
#include <gtest/gtest.h>

#include "platform/handle.h"
#include "support/engine_bench.h"
#include "support/staged_host.h"

namespace {

using kydtest::DevicePresent;
using kydtest::FileExists;
using kydtest::FreeOemInfName;
using kydtest::kSystemClass;
using kydtest::SeededDevice;
using kydtest::SeededInf;
using kydtest::StagedHost;

constexpr wchar_t kPolicyKey[] = L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\DriverSearching";
constexpr wchar_t kCurrentVersion[] = L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion";

std::wstring Quote(const std::wstring& s) { return L"\"" + s + L"\""; }

std::wstring InfFor(const std::wstring& hardwareId) {
  return L"[Version]\r\nSignature=\"$WINDOWS NT$\"\r\n[Models]\r\n\"Test\"=Install, " + hardwareId + L"\r\n";
}

class RemovalRoad : public ::testing::Test {
 protected:
  kydtest::ProcessResult Uninstall(const StagedHost& host, const std::wstring& hardwareId,
                                   std::vector<std::wstring> environment = {}) {
    return host.Cli(L"uninstall " + Quote(hardwareId) + L" " + kSystemClass, std::move(environment));
  }
};

// The whole road: policy, device removal (through drv64.exe on 64-bit
// Windows, in process on 32-bit), leftover INF with its PNF.
TEST_F(RemovalRoad, RemovesThePresentDeviceAndTheInfFilesNamingIt) {
  const std::wstring hwid = L"PCI\\VEN_1B21&DEV_1242&SUBSYS_87571043&REV_00";
  kydtest::RegDeleteTreeIfPresent(HKEY_LOCAL_MACHINE, kPolicyKey, true);
  StagedHost host;
  SeededDevice device({hwid});
  ASSERT_TRUE(device.ok());
  SeededInf naming(FreeOemInfName(), InfFor(L"pci\\ven_1b21&dev_1242&SUBSYS_00000000"));
  SeededInf wide(FreeOemInfName(), InfFor(hwid), /*utf16=*/true);
  SeededInf unrelated(FreeOemInfName(), InfFor(L"PCI\\VEN_1B21&DEV_1243"));
  // Seeded as a plain string: the road writes it back expandable.
  ASSERT_TRUE(kydtest::RegSetString(HKEY_LOCAL_MACHINE, kCurrentVersion, L"DevicePath", L"C:\\nowhere",
                                    REG_SZ, false));

  auto run = Uninstall(host, hwid);
  ASSERT_TRUE(run.started);
  EXPECT_EQ(run.exitCode, 0u) << run.output;
  EXPECT_FALSE(DevicePresent(device.instanceId()));
  EXPECT_FALSE(FileExists(naming.path()));
  EXPECT_FALSE(FileExists(naming.pnf()));
  EXPECT_FALSE(FileExists(wide.path()));
  EXPECT_TRUE(FileExists(unrelated.path()));
  EXPECT_TRUE(FileExists(unrelated.pnf()));
  DWORD value = 99;
  EXPECT_TRUE(kydtest::RegDwordValue(HKEY_LOCAL_MACHINE, kPolicyKey, L"SearchOrderConfig", value, true));
  EXPECT_EQ(value, 0u);
  kyd::UniqueKey key;
  ASSERT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, kCurrentVersion, 0, KEY_READ, key.put()), ERROR_SUCCESS);
  wchar_t devicePath[64] = {};
  DWORD type = 0, size = sizeof devicePath - sizeof(wchar_t);
  ASSERT_EQ(RegQueryValueExW(key.get(), L"DevicePath", nullptr, &type, reinterpret_cast<BYTE*>(devicePath), &size),
            ERROR_SUCCESS);
  EXPECT_EQ(type, static_cast<DWORD>(REG_EXPAND_SZ));  // %SystemRoot% is expanded where it is read
  EXPECT_STREQ(devicePath, L"%SystemRoot%\\inf");
}

TEST_F(RemovalRoad, DeviceWithoutAMatchIsNotUninstalledAndNothingIsDeleted) {
  const std::wstring hwid = L"PCI\\VEN_1B21&DEV_1250";
  StagedHost host;
  SeededDevice other({L"PCI\\VEN_1B21&DEV_1251"});
  SeededInf naming(FreeOemInfName(), InfFor(hwid));
  auto run = Uninstall(host, hwid);
  EXPECT_EQ(run.exitCode, 1u) << run.output;
  EXPECT_TRUE(DevicePresent(other.instanceId()));
  EXPECT_TRUE(FileExists(naming.path()));
}

TEST_F(RemovalRoad, OnlyTheFirstOfTwoMatchingDevicesIsRemoved) {
  const std::wstring hwid = L"PCI\\VEN_1B21&DEV_1260";
  StagedHost host;
  SeededDevice first({hwid});
  SeededDevice second({hwid});
  auto run = Uninstall(host, hwid);
  EXPECT_EQ(run.exitCode, 0u) << run.output;
  EXPECT_EQ(kydtest::PresentDevicesWithId(hwid).size(), 1u);
}

TEST_F(RemovalRoad, AHostFolderWithBlanksStillFindsItsRemovalProgram) {
  const std::wstring hwid = L"PCI\\VEN_1B21&DEV_1270";
  StagedHost::Options options;
  options.folderName = L"Program Files";
  StagedHost host(options);
  SeededDevice device({hwid});
  auto run = Uninstall(host, hwid);
  EXPECT_EQ(run.exitCode, 0u) << run.output;
  EXPECT_FALSE(DevicePresent(device.instanceId()));
}

// On 64-bit Windows everything hangs on drv64.exe's exit code. drvuninst
// prints the library's result and exits as the system's device tools do:
// 0 done, 3010 done and a restart is needed, 1 nothing uninstalled. Once
// the device is uninstalled, with a restart to come or not, the OEM INFs
// still naming it go (through the real drv64.exe), so that Windows cannot
// install the driver again from them; otherwise they stay.
TEST(RemovalProgramW64, ExitCodesMapToResults) {
  StagedHost::Options options;
  options.exitCodeDrv64 = true;
  StagedHost host(options);
  const std::wstring log = host.folder() + L"\\drv64-calls.log";
  struct Case { const wchar_t* code; int result; DWORD exitCode; } cases[] = {
      {L"2", 1, 0}, {L"0x10000002", 2, 3010}, {L"0", 0, 1}, {L"1", 0, 1}, {L"0x10000001", 0, 1}};
  for (const Case& c : cases) {
    SeededInf leftover(FreeOemInfName(), InfFor(L"PCI\\VEN_1B21&DEV_1280&SUBSYS_00000000"));
    auto run = host.Cli(L"uninstall \"PCI\\VEN_1B21&DEV_1280\" " + std::wstring(kSystemClass),
                        {std::wstring(L"KYD_EXIT_CODE=") + c.code, L"KYD_EXITCODE_LOG=" + log,
                         L"KYD_EXITCODE_PASS=kydleftover"});
    EXPECT_EQ(kydtest::LibraryResult(run), c.result) << "exit code " << kydtest::ToNarrow(c.code) << "\n" << run.output;
    EXPECT_EQ(run.exitCode, c.exitCode) << "exit code " << kydtest::ToNarrow(c.code) << "\n" << run.output;
    EXPECT_EQ(FileExists(leftover.path()), c.result == 0) << "leftover INF, exit code " << kydtest::ToNarrow(c.code);
  }
  // The program gets the two quoted arguments.
  std::string calls = kydtest::ReadFileBytes(log);
  std::wstring first(reinterpret_cast<const wchar_t*>(calls.data()), calls.size() / 2);
  EXPECT_NE(first.find(L"\\drv64\\drv64.exe\" \"kydremove\" \"PCI\\VEN_1B21&DEV_1280\""), std::wstring::npos)
      << kydtest::ToNarrow(first);
}

// One drv64.exe run serves the call's steps on the native side, in order:
// the removal, then the leftover INFs. A run that ends without answering a
// command fails that step only (its exit code is no answer): a removal
// answered before stays a removal.
TEST(RemovalProgramW64, OneRunServesTheCallAndAnUnansweredStepAloneFails) {
  StagedHost::Options options;
  options.exitCodeDrv64 = true;
  StagedHost host(options);
  const std::wstring log = host.folder() + L"\\drv64-calls.log";
  struct Case { const wchar_t* dies; int result; std::vector<std::wstring> commands; } cases[] = {
      {L"", 1, {L"kydserve", L"kydremove", L"kydleftover"}},
      {L"kydleftover", 1, {L"kydserve", L"kydremove", L"kydleftover"}},
      {L"kydremove", 0, {L"kydserve", L"kydremove"}},
  };
  for (const Case& c : cases) {
    DeleteFileW(log.c_str());
    auto run = host.Cli(L"uninstall \"PCI\\VEN_1B21&DEV_1281\" " + std::wstring(kSystemClass),
                        {L"KYD_EXIT_CODE=2", L"KYD_EXITCODE_LOG=" + log, std::wstring(L"KYD_EXITCODE_DIE=") + c.dies});
    EXPECT_EQ(kydtest::LibraryResult(run), c.result) << kydtest::ToNarrow(c.dies) << "\n" << run.output;
    const std::string calls = kydtest::ReadFileBytes(log);
    std::wstring text(reinterpret_cast<const wchar_t*>(calls.data()), calls.size() / sizeof(wchar_t));
    std::vector<std::wstring> commands;
    for (size_t at = 0, end; (end = text.find(L'\n', at)) != std::wstring::npos; at = end + 1) {
      const size_t word = text.find(L"\" \"", at);
      if (word < end) commands.push_back(text.substr(word + 3, text.find(L'"', word + 3) - word - 3));
    }
    EXPECT_EQ(commands, c.commands) << kydtest::ToNarrow(c.dies) << "\n" << kydtest::ToNarrow(text);
  }
}

// In process on 32-bit Windows: DIFx's restart request is replaced by what
// the device's install parameters say after the removal. Windows keeps the
// removed device's parameters readable (no restart flag here: result 1);
// Wine forgets the device at once (ERROR_NO_SUCH_DEVINST), so DIFx's answer
// stands there (result 2).
TEST(RemovalInProcessW32, DifxRestartIsReplacedByTheDeviceParameters) {
  const bool wine = GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "wine_get_version") != nullptr;
  const std::wstring hwid = L"PCI\\VEN_1B21&DEV_1290";
  StagedHost host;
  SeededDevice device({hwid});
  SeededInf leftover(FreeOemInfName(), InfFor(hwid));
  // Wine cannot name the device's INF, so DIFx is told to answer for none.
  auto run = host.Cli(L"uninstall " + Quote(hwid) + L" " + kSystemClass,
                      {L"KYD_DIFX_MODE=restart", L"KYD_DIFX_ACCEPT_EMPTY=1"});
  EXPECT_EQ(run.exitCode, wine ? 3010u : 0u) << run.output;
  EXPECT_FALSE(DevicePresent(device.instanceId()));
  // Uninstalled, with a restart to come or not: the OEM INF naming it goes.
  EXPECT_FALSE(FileExists(leftover.path()));
  // Called once, with DRIVER_PACKAGE_DELETE_FILES | DRIVER_PACKAGE_FORCE.
  EXPECT_EQ(host.ReadDifxLog(), L"uninstall||36\r\n");
}

TEST(RemovalInProcessW32, MissingDifxSkipsThePackageButRemovesTheDevice) {
  const std::wstring hwid = L"PCI\\VEN_1B21&DEV_1291";
  StagedHost::Options options;
  options.difxDouble = false;
  StagedHost host(options);
  SeededDevice device({hwid});
  // No double beside the host: Wine's own stub in the system folder answers.
  auto run = host.Cli(L"uninstall " + Quote(hwid) + L" " + kSystemClass);
  EXPECT_EQ(run.exitCode, 0u) << run.output;
  EXPECT_FALSE(DevicePresent(device.instanceId()));
  EXPECT_TRUE(host.ReadDifxLog().empty());
}

TEST(RemovalInProcessW32, DeviceMatchedThroughACompatibleIdIsRemovedWithoutAPackage) {
  const std::wstring compat = L"PCI\\VEN_1B21&DEV_1292";
  StagedHost host;
  SeededDevice device({}, {compat});
  auto run = host.Cli(L"uninstall " + Quote(compat) + L" " + kSystemClass, {L"KYD_DIFX_MODE=restart"});
  EXPECT_EQ(run.exitCode, 0u) << run.output;
  EXPECT_FALSE(DevicePresent(device.instanceId()));
}

}  // namespace
