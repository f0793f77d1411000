// drvuninst.exe as an administrator meets it: input checks, help, the device
// list, the library's log on a console, a machine busy with another
// uninstall, and the Windows shell after an uninstall. Exit codes of done,
// restart and nothing are in uninstall_test.
#include <gtest/gtest.h>

#include <windows.h>
#include <sddl.h>

#include <string>
#include <vector>

#include "interface/KYDDrvUninst.h"
#include "machine/journal.h"
#include "platform/handle.h"
#include "support/engine_bench.h"
#include "support/package_bench.h"
#include "support/staged_host.h"

namespace {

using kydtest::FileExists;
using kydtest::kSystemClass;
using kydtest::StagedHost;
using kydtest::ToNarrow;

std::wstring Quote(const std::wstring& s) { return L"\"" + s + L"\""; }

StagedHost::Options WithExitCodeDrv64() {
  StagedHost::Options options;
  options.exitCodeDrv64 = true;
  return options;
}

// ---------------------------------------------------------------- usage

TEST(DrvuninstUsage, BadInputIsRefusedWithExitTwoAndTheLibraryIsNotCalled) {
  StagedHost host;
  kydtest::WriteFileBytes(host.folder() + L"\\log.ini", "[log]\r\n");  // any library call would log
  const std::wstring guid = kSystemClass;
  const std::wstring id = L"PCI\\VEN_1B21&DEV_1500";
  struct Case {
    std::wstring args;
    const char* says;
  } cases[] = {
      {L"", "no command given"},
      {L"frobnicate", "unknown command frobnicate"},
      {L"--bogus list", "unknown command --bogus"},
      {L"uninstall", "uninstall needs HWID"},
      {L"query " + Quote(id), "query needs GUID"},
      {L"uninstall " + Quote(id) + L" " + guid + L" extra", "unexpected argument extra"},
      {L"list extra", "unexpected argument extra"},
      {L"query " + Quote(id) + L" " + guid + L" --keep-device", "query has no option --keep-device"},
      {L"uninstall " + Quote(id) + L" " + guid + L" --log --log", "--log is given twice"},
      {L"uninstall \"\" " + guid, "the hardware ID is empty"},
      {L"uninstall \"PCI\\VEN_1B21 DEV_1500\" " + guid, "(U+0020 at position 13)"},
      {L"uninstall \"PCI\\VEN_1B21\tDEV_1500\" " + guid, "(U+0009 at position 13)"},
      {L"uninstall \"PCI\\VEN_1B21,DEV_1500\" " + guid, "(U+002C at position 13)"},
      {L"uninstall \"PCI\\VEN_1B21&DEV_\u00E9\" " + guid, "(U+00E9 at position 18)"},
      {L"query " + Quote(L"PCI\\VEN_1B21&DEV_" + std::wstring(183, L'1')) + L" " + guid,
       "longer than a device ID can be (199 characters)"},
      {L"uninstall " + Quote(id) + L" 4D36E97D-E325-11CE-BFC1-08002BE10318", "is not a setup class GUID"},
      {L"uninstall " + Quote(id) + L" {4D36E97D-E325-11CE-BFC1-08002BE1031G}", "is not a setup class GUID"},
      {L"uninstall " + Quote(id) + L" {4D36E97D-E325-11CE-BFC1+08002BE10318}", "is not a setup class GUID"},
      {L"list --class", "--class needs GUID"},
      {L"list --class {4D36E97D}", "is not a setup class GUID"},
      {L"list --vendor 10DE", "is not a PCI vendor"},
      {L"list --vendor VEN_10DEF", "is not a PCI vendor"},
  };
  for (const Case& c : cases) {
    auto run = host.Cli(c.args);
    EXPECT_EQ(run.exitCode, 2u) << ToNarrow(c.args) << "\n" << run.output;
    EXPECT_NE(run.output.find(c.says), std::string::npos) << ToNarrow(c.args) << "\n" << run.output;
    EXPECT_NE(run.output.find("usage: drvuninst"), std::string::npos) << run.output;
  }
  EXPECT_FALSE(FileExists(host.folder() + L"\\log")) << "the library was called";
}

// What a device ID may hold, up to its limits, reaches the library.
TEST(DrvuninstUsage, WellFormedInputAtTheLimitsIsAccepted) {
  StagedHost host;
  const std::wstring lowerGuid = L"{4d36e97d-e325-11ce-bfc1-08002be10318}";
  for (const std::wstring& id : {L"PCI\\VEN_1B21&DEV_" + std::wstring(182, L'1'),  // 199 characters
                                 std::wstring(L"ROOT\\!#$%'()*+-./:;<=>?@[]^_`{|}~\x7F")}) {
    auto run = host.Cli(L"query " + Quote(id) + L" " + lowerGuid);
    EXPECT_EQ(run.exitCode, 1u) << ToNarrow(id) << "\n" << run.output;  // asked; not installed
    EXPECT_EQ(kydtest::LibraryResult(run), 0) << run.output;
  }
  auto run = host.Cli(L"list --vendor ven_1b2f --class " + lowerGuid);
  EXPECT_EQ(run.exitCode, 0u) << run.output;
}

TEST(DrvuninstUsage, HelpDescribesEveryCommandAndItsExitCodes) {
  StagedHost host;
  const char* synopses[] = {"drvuninst list [--class GUID] [--vendor VEN_xxxx]",
                            "drvuninst query HWID GUID [--log]",
                            "drvuninst uninstall HWID GUID [--keep-device] [--plan] [--journal DIR] [--native-system] [--no-wait] [--log] [--json]",
                            "drvuninst restore DIR [--forget] [--log]"};
  for (const wchar_t* args : {L"--help", L"/?", L"help"}) {
    auto run = host.Cli(args);
    EXPECT_EQ(run.exitCode, 0u) << ToNarrow(args);
    for (const char* synopsis : synopses) EXPECT_NE(run.output.find(synopsis), std::string::npos) << run.output;
    EXPECT_NE(run.output.find("3010"), std::string::npos) << run.output;
    EXPECT_NE(run.output.find("1618   busy"), std::string::npos) << run.output;
  }
  const wchar_t* commands[] = {L"list", L"query", L"uninstall", L"restore"};
  for (int i = 0; i < 4; ++i) {
    for (const std::wstring& args : {std::wstring(commands[i]) + L" --help", L"help " + std::wstring(commands[i]),
                                     std::wstring(commands[i]) + L" a b /?"}) {
      auto run = host.Cli(args);
      EXPECT_EQ(run.exitCode, 0u) << ToNarrow(args);
      EXPECT_NE(run.output.find(synopses[i]), std::string::npos) << ToNarrow(args) << "\n" << run.output;
      EXPECT_NE(run.output.find("  2      bad usage"), std::string::npos) << run.output;
    }
  }
}

// ---------------------------------------------------------------- list

TEST(DrvuninstList, ShowsTheDriverInfAndCompanionPackageOfTheVendorsDevices) {
  StagedHost host;
  const std::wstring token = kydtest::UniqueName(L"KydList");
  ASSERT_TRUE(kydtest::WriteFileBytes(
      host.folder() + L"\\Kydconfig\\unsetup.xml",
      ToNarrow(L"<?xml version=\"1.0\" encoding=\"utf-8\"?>\r\n<KYD><KYDUNSETUP timeout=\"60\"><company>"
               L"<vid id=\"1B2E\"/><dev guid=\"" + std::wstring(kSystemClass) + L"\"><keyword name=\"Kyd List " +
               token + L"\"/></dev></company></KYDUNSETUP></KYD>\r\n")));
  kydtest::pkg::SeededUninstallEntry entry(token, false, {{L"DisplayName", L"Kyd List " + token}});
  ASSERT_TRUE(entry.ok());
  const std::wstring withDriver = L"PCI\\VEN_1B2E&DEV_1530&SUBSYS_00000001";
  kydtest::SeededDevice device({withDriver, L"PCI\\VEN_1B2E&DEV_1530"});
  kydtest::SeededInf inf(kydtest::FreeOemInfName(), kydtest::DriverInfText(withDriver, L"Kyd List Bridge"));
  std::wstring infName = inf.path().substr(inf.path().rfind(L'\\') + 1);
  ASSERT_TRUE(kydtest::GiveDeviceADriver(device.instanceId(), infName, L"KydInstall", L"Kyd List Bridge",
                                         L"KydTest", L"KydTest Devices"));
  // Its driver of the Windows 10 kind: an extension INF for it, adding a
  // software component whose INF is published too.
  const std::wstring component = L"VEN_1B2E&AID_" + token;
  kydtest::SeededInf extension(
      kydtest::FreeOemInfName(),
      L"[Version]\r\nSignature=\"$WINDOWS NT$\"\r\nClass=Extension\r\n"
      L"ClassGuid={e2f84ce7-8efa-411c-aa69-97454ca4cb57}\r\n[Manufacturer]\r\nM=Mfg\r\n[Mfg]\r\nD=Ext, " +
          withDriver + L"\r\n[Ext.NT.Components]\r\nAddComponent=C,,CInst\r\n[CInst]\r\nComponentIDs=" + component +
          L"\r\n");
  kydtest::SeededInf componentInf(kydtest::FreeOemInfName(),
                                  L"[Version]\r\nSignature=\"$WINDOWS NT$\"\r\nClass=SoftwareComponent\r\n"
                                  L"[Manufacturer]\r\nM=Mfg\r\n[Mfg]\r\nD=C, SWC\\" + component + L"\r\n");
  auto nameOf = [](const kydtest::SeededInf& seeded) { return ToNarrow(seeded.path().substr(seeded.path().rfind(L'\\') + 1)); };
  kydtest::SeededDevice bare({L"PCI\\VEN_1B2E&DEV_1531"});
  kydtest::SeededDevice otherVendor({L"PCI\\VEN_1B2F&DEV_1530"});
  kydtest::SeededDevice longerVendor({L"PCI\\VEN_1B2E1&DEV_1530"});  // not VEN_1B2E

  auto run = host.Cli(L"list --vendor VEN_1b2e");
  ASSERT_EQ(run.exitCode, 0u) << run.output;
  auto block = [&](const std::wstring& instanceId) {
    size_t at = run.output.find("Instance ID:        " + ToNarrow(instanceId) + "\n");
    return at == std::string::npos ? std::string() : run.output.substr(at, run.output.find("\n\n", at) - at);
  };
  std::string listed = block(device.instanceId());
  EXPECT_NE(listed.find("Class:              System " + ToNarrow(kSystemClass)), std::string::npos) << listed;
  EXPECT_NE(listed.find("Hardware IDs:       " + ToNarrow(withDriver) +
                        "\n                    PCI\\VEN_1B2E&DEV_1530\n"),
            std::string::npos)
      << listed;
  EXPECT_NE(listed.find("Driver INF:         " + ToNarrow(infName)), std::string::npos) << listed;
  EXPECT_NE(listed.find("Companion package:  installed"), std::string::npos) << listed;
  auto line = [&](const std::string& text, const char* title) {
    size_t at = text.find(title);
    return at == std::string::npos ? std::string() : text.substr(at, text.find('\n', at) - at);
  };
  EXPECT_NE(line(listed, "Extension INFs:").find(nameOf(extension)), std::string::npos) << listed;
  EXPECT_NE(line(listed, "Component INFs:").find(nameOf(componentInf)), std::string::npos) << listed;
  std::string plain = block(bare.instanceId());
  EXPECT_NE(plain.find("Driver INF:         -"), std::string::npos) << run.output;
  EXPECT_EQ(plain.find("Extension INFs:"), std::string::npos) << run.output;
  EXPECT_TRUE(block(otherVendor.instanceId()).empty()) << run.output;
  EXPECT_TRUE(block(longerVendor.instanceId()).empty()) << run.output;
  EXPECT_NE(run.output.find("2 device(s) listed."), std::string::npos) << run.output;
}

// ---------------------------------------------------------------- held uninstall

// drvuninst started in the background with its output going to a file; the
// exit-code double standing in for drv64.exe holds the uninstall until the
// test releases it.
class HeldUninstall {
 public:
  HeldUninstall(const StagedHost& host, const std::wstring& arguments)
      : calls_(host.folder() + L"\\drv64-calls.log"),
        release_(host.folder() + L"\\release"),
        output_(host.folder() + L"\\output.txt") {
    SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
    kyd::UniqueFile out(CreateFileW(output_.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                    &inherit, CREATE_ALWAYS, 0, nullptr));
    const std::vector<std::pair<const wchar_t*, std::wstring>> environment = {
        {L"KYD_EXIT_CODE", L"2"}, {L"KYD_EXITCODE_LOG", calls_}, {L"KYD_EXITCODE_WAIT", release_},
        {L"KYD_DIFX_LOG", host.difxLog()}};
    for (const auto& [name, value] : environment) SetEnvironmentVariableW(name, value.c_str());
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdOutput = out.get();
    startup.hStdError = out.get();
    std::wstring line = Quote(host.cli()) + L" " + arguments;
    PROCESS_INFORMATION info{};
    if (out && CreateProcessW(nullptr, line.data(), nullptr, nullptr, TRUE, DETACHED_PROCESS, nullptr, nullptr,
                              &startup, &info)) {
      process_.reset(info.hProcess);
      kyd::UniqueHandle thread(info.hThread);
    }
    for (const auto& [name, value] : environment) SetEnvironmentVariableW(name, nullptr);
  }
  ~HeldUninstall() {
    Finish();
    if (process_ && WaitForSingleObject(process_.get(), 0) == WAIT_TIMEOUT) TerminateProcess(process_.get(), 1);
  }

  // True once the removal program has started and waits.
  bool WaitUntilHeld() const {
    for (int i = 0; i < 600 && process_; ++i) {
      if (FileExists(calls_)) return true;
      Sleep(50);
    }
    return false;
  }
  std::string Output() const { return kydtest::ReadFileBytes(output_); }
  DWORD Finish() {
    kydtest::WriteFileBytes(release_, "go");
    DWORD code = 0xFFFFFFFF;
    if (process_ && WaitForSingleObject(process_.get(), 60000) == WAIT_OBJECT_0)
      GetExitCodeProcess(process_.get(), &code);
    return code;
  }

 private:
  std::wstring calls_, release_, output_;
  kyd::UniqueHandle process_;
};

// ---------------------------------------------------------------- the log

TEST(DrvuninstLogW64, LinesAreShownWhileTheUninstallRuns) {
  StagedHost host(WithExitCodeDrv64());
  HeldUninstall run(host, L"uninstall \"PCI\\VEN_1B21&DEV_1610\" " + std::wstring(kSystemClass) + L" --log");
  ASSERT_TRUE(run.WaitUntilHeld());
  std::string early;
  for (int i = 0; i < 100 && early.find("KYDRemove HwID") == std::string::npos; ++i, Sleep(50))
    early = run.Output();
  EXPECT_NE(early.find("Function CDrvUninstMangement::UninstallDrv Entry"), std::string::npos) << early;
  EXPECT_NE(early.find("KYDRemove HwID PCI\\VEN_1B21&DEV_1610"), std::string::npos) << early;
  EXPECT_EQ(early.find("KYDRemoveDriverEx result="), std::string::npos) << early;
  EXPECT_EQ(run.Finish(), 0u);
  EXPECT_NE(run.Output().find("KYDRemoveDriverEx result=1"), std::string::npos) << run.Output();
  EXPECT_FALSE(FileExists(host.folder() + L"\\log.ini")) << "the log is switched off again";
}

// The library writes its Chinese texts in code page 936. On a console whose
// code page has no Chinese (437) they must still read right on screen, and
// redirected output carries them as UTF-8.
TEST(DrvuninstLogW64, ChineseLinesReadRightOnAConsoleInAnotherCodePage) {
  StagedHost host(WithExitCodeDrv64());
  const std::string line = ToNarrow(L"[UNINSTALL]:64\u4F4D\u9A71\u52A8\u5378\u8F7D\u8FD4\u56DE\u4EE3\u7801 2");
  const std::wstring args = L"uninstall \"PCI\\VEN_1B21&DEV_1620\" " + std::wstring(kSystemClass) + L" --log";
  auto screen = kydtest::RunProgram(Quote(kydtest::TestExeDir() + L"\\consoleshot.exe") + L" 437 " +
                                        Quote(host.cli()) + L" " + args,
                                    {L"KYD_EXIT_CODE=2", L"KYD_DIFX_LOG=" + host.difxLog()});
  EXPECT_EQ(screen.exitCode, 0u) << screen.output;
  EXPECT_NE(screen.output.find(line), std::string::npos) << screen.output;
  auto redirected = host.Cli(args, {L"KYD_EXIT_CODE=2"});
  EXPECT_NE(redirected.output.find(line + "\n"), std::string::npos) << redirected.output;
}

// ---------------------------------------------------------------- a busy machine

// While one uninstall holds the machine, a call that may not wait answers
// busy at once and changes nothing: through drvuninst (its own exit code)
// and through the export (its own result, the plan folder left empty).
// Once the first is done, the same call runs.
TEST(DrvuninstBusyW64, ACallThatMayNotWaitAnswersBusyWhileAnotherUninstallRuns) {
  StagedHost host(WithExitCodeDrv64());
  const std::wstring guid = kSystemClass, second = L"PCI\\VEN_1B21&DEV_1640";
  HeldUninstall first(host, L"uninstall \"PCI\\VEN_1B21&DEV_1641\" " + guid);
  ASSERT_TRUE(first.WaitUntilHeld());

  auto busy = host.Cli(L"uninstall " + Quote(second) + L" " + guid + L" --no-wait", {L"KYD_EXIT_CODE=2"});
  EXPECT_EQ(busy.exitCode, 1618u) << busy.output;
  EXPECT_NE(busy.output.find("Result: busy:"), std::string::npos) << busy.output;
  EXPECT_EQ(kydtest::LibraryResult(busy), KYD_RESULT_BUSY) << busy.output;
  // --json alike; a plan folder that holds an older plan is not reported as this call's.
  kydtest::ScratchDir older(L"busy-older-plan");
  kyd::machine::journal::Line planned;
  planned.number = 1;
  planned.verb = L"remove-device";
  planned.target = L"ROOT\\OLDER\\0000";
  ASSERT_TRUE(kydtest::WriteFileBytes(older / L"manifest.txt", "# KYDDrvUninst journal\r\n# mode\tplan\r\n" +
                                                                   kyd::machine::journal::Format(planned) + "\r\n"));
  auto busyJson = host.Cli(L"uninstall " + Quote(second) + L" " + guid + L" --plan --journal " + Quote(older.path()) +
                           L" --no-wait --json");
  EXPECT_EQ(busyJson.exitCode, 1618u) << busyJson.output;
  EXPECT_NE(busyJson.output.find("\"exitCode\": 1618"), std::string::npos) << busyJson.output;
  EXPECT_NE(busyJson.output.find("\"summary\": null"), std::string::npos) << busyJson.output;
  EXPECT_EQ(busyJson.output.find("OLDER"), std::string::npos) << busyJson.output;

  kydtest::ScratchDir plan(L"busy-plan");
  kyd::UniqueModule library(LoadLibraryW(host.dll().c_str()));
  auto uninstallEx = reinterpret_cast<KYD_UNINSTALLDRVEX_FN>(
      reinterpret_cast<void*>(GetProcAddress(library.get(), "DrvUninst_UninstallDrvEx")));
  ASSERT_NE(uninstallEx, nullptr);
  EXPECT_EQ(uninstallEx(second.c_str(), guid.c_str(), KYD_REMOVE_DEVICE, KYD_UNINSTALL_NO_WAIT, nullptr),
            KYD_RESULT_BUSY);
  EXPECT_EQ(uninstallEx(second.c_str(), guid.c_str(), KYD_REMOVE_DEVICE, KYD_UNINSTALL_PLAN | KYD_UNINSTALL_NO_WAIT,
                        plan.path().c_str()),
            KYD_RESULT_BUSY);
  EXPECT_FALSE(FileExists(plan.path() + L"\\manifest.txt"));

  EXPECT_EQ(first.Finish(), 0u) << first.Output();
  auto after = host.Cli(L"uninstall " + Quote(second) + L" " + guid + L" --no-wait", {L"KYD_EXIT_CODE=2"});
  EXPECT_EQ(after.exitCode, 0u) << after.output;
  EXPECT_EQ(kydtest::LibraryResult(after), 1) << after.output;
}

// ---------------------------------------------------------------- the shell

// A stand-in for the Windows shell: a copy of the sleeper in the Windows
// folder under a name of this test's, named as the shell in Winlogon's
// "Shell" value for the test's lifetime.
class ShellStandIn {
 public:
  ShellStandIn() : name_(kydtest::UniqueName(L"kydshell") + L".exe"), sleepers_(kydtest::WindowsDir()) {
    CopyFileW((kydtest::TestExeDir() + L"\\sleeper.exe").c_str(), path().c_str(), FALSE);  // there, not running
    hadShell_ = kyd::CBaseDrvUninst::ReadStringValue(HKEY_LOCAL_MACHINE, kWinlogon, L"Shell", oldShell_);
    kydtest::RegSetString(HKEY_LOCAL_MACHINE, kWinlogon, L"Shell", name_);
  }
  ~ShellStandIn() {
    EndAll();
    if (hadShell_) kydtest::RegSetString(HKEY_LOCAL_MACHINE, kWinlogon, L"Shell", oldShell_);
    else kydtest::RegDeleteValueIfPresent(HKEY_LOCAL_MACHINE, kWinlogon, L"Shell");
    DeleteFileW(path().c_str());
  }
  std::wstring path() const { return kydtest::WindowsDir() + L"\\" + name_; }
  bool Start() { return sleepers_.Start(name_) >= 0; }

  std::vector<DWORD> Running() const { return kydtest::ProcessIdsNamed(name_); }
  // What a vendor deep clean does to the shell. Every process of this name
  // is ours: the name holds the test's process ID.
  void EndAll() {
    for (DWORD id : Running()) kydtest::EndProcess(id);
  }

 private:
  static constexpr wchar_t kWinlogon[] = L"SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\Winlogon";
  std::wstring name_;
  kydtest::SleeperProcesses sleepers_;
  bool hadShell_ = false;
  std::wstring oldShell_;
};

// The token of a running process, opened with the given rights.
kyd::UniqueHandle ProcessToken(DWORD processId, DWORD access) {
  kyd::UniqueHandle process(OpenProcess(PROCESS_QUERY_INFORMATION, FALSE, processId)), token;
  if (!process || !OpenProcessToken(process.get(), access, token.put())) token.reset();
  return token;
}

// The attributes of a privilege in a token; -1 when the token lacks it.
long PrivilegeState(HANDLE token, const wchar_t* name) {
  LUID luid{};
  std::vector<BYTE> buffer(4096);
  DWORD size = 0;
  if (!LookupPrivilegeValueW(nullptr, name, &luid) ||
      !GetTokenInformation(token, TokenPrivileges, buffer.data(), static_cast<DWORD>(buffer.size()), &size))
    return -1;
  const auto* privileges = reinterpret_cast<const TOKEN_PRIVILEGES*>(buffer.data());
  for (DWORD i = 0; i < privileges->PrivilegeCount; ++i)
    if (privileges->Privileges[i].Luid.LowPart == luid.LowPart &&
        privileges->Privileges[i].Luid.HighPart == luid.HighPart)
      return static_cast<long>(privileges->Privileges[i].Attributes);
  return -1;
}

// Wine runs every process as one user, so the shell's user cannot differ
// from drvuninst's. The stand-in's own token is told apart instead: the test
// switches on a privilege in it that drvuninst's token (inherited from the
// test's) holds switched off. Started again with the ended shell's token,
// the new shell has it on; started with drvuninst's, off. The shell is ended
// while the uninstall runs, so its token can only have been taken before.
TEST(ShellRestartW64, TheShellEndedDuringTheUninstallIsStartedAgainWithItsOwnToken) {
  ShellStandIn shell;
  StagedHost host(WithExitCodeDrv64());
  ASSERT_TRUE(shell.Start());
  ASSERT_EQ(shell.Running().size(), 1u);
  // A privilege present and off in the test's token that neither drvuninst
  // nor the library switches on.
  const wchar_t* kMark = nullptr;
  {
    kyd::UniqueHandle own;
    ASSERT_TRUE(OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, own.put()));
    for (const wchar_t* candidate : {L"SeShutdownPrivilege", L"SeUndockPrivilege", L"SeTimeZonePrivilege",
                                     L"SeSystemtimePrivilege", L"SeProfileSingleProcessPrivilege"})
      if (!kMark && PrivilegeState(own.get(), candidate) == 0) kMark = candidate;
    ASSERT_NE(kMark, nullptr) << "no privilege to mark the shell's token with";
    kyd::UniqueHandle token = ProcessToken(shell.Running()[0], TOKEN_ADJUST_PRIVILEGES | TOKEN_QUERY);
    ASSERT_TRUE(token);
    TOKEN_PRIVILEGES on{1, {{{0, 0}, SE_PRIVILEGE_ENABLED}}};
    ASSERT_TRUE(LookupPrivilegeValueW(nullptr, kMark, &on.Privileges[0].Luid));
    ASSERT_TRUE(AdjustTokenPrivileges(token.get(), FALSE, &on, 0, nullptr, nullptr));
    ASSERT_EQ(PrivilegeState(token.get(), kMark), SE_PRIVILEGE_ENABLED);
  }
  HeldUninstall run(host, L"uninstall \"PCI\\VEN_1B21&DEV_1630\" " + std::wstring(kSystemClass));
  ASSERT_TRUE(run.WaitUntilHeld());
  shell.EndAll();
  ASSERT_TRUE(shell.Running().empty());
  EXPECT_EQ(run.Finish(), 0u) << run.Output();
  std::vector<DWORD> again = shell.Running();
  ASSERT_EQ(again.size(), 1u) << run.Output();
  kyd::UniqueHandle token = ProcessToken(again[0], TOKEN_QUERY);
  ASSERT_TRUE(token);
  const long state = PrivilegeState(token.get(), kMark);
  EXPECT_TRUE(state >= 0 && (state & SE_PRIVILEGE_ENABLED)) << "started with another token: " << state;
  wchar_t user[256] = {};
  DWORD size = 256;
  GetUserNameW(user, &size);
  EXPECT_NE(run.Output().find("started " + ToNarrow(shell.path()) + " again as "), std::string::npos)
      << run.Output();
  EXPECT_NE(run.Output().find(ToNarrow(user) + ".\n"), std::string::npos) << run.Output();
}

// A shell whose token drvuninst may not take (its DACL grants nobody
// anything) is left stopped, and drvuninst says why: it never falls back to
// its own token.
TEST(ShellRestartW64, AShellWhoseTokenCannotBeTakenStaysStopped) {
  ShellStandIn shell;
  StagedHost host(WithExitCodeDrv64());
  ASSERT_TRUE(shell.Start());
  ASSERT_EQ(shell.Running().size(), 1u);
  {
    kyd::UniqueHandle token = ProcessToken(shell.Running()[0], WRITE_DAC);
    kyd::UniqueLocal nobody;
    ASSERT_TRUE(token);
    ASSERT_TRUE(ConvertStringSecurityDescriptorToSecurityDescriptorW(
        L"D:P", SDDL_REVISION_1, reinterpret_cast<PSECURITY_DESCRIPTOR*>(nobody.put()), nullptr));
    ASSERT_TRUE(SetKernelObjectSecurity(token.get(), DACL_SECURITY_INFORMATION, nobody.get()));
    ASSERT_FALSE(ProcessToken(shell.Running()[0], TOKEN_DUPLICATE)) << "the token is still open to all";
  }
  HeldUninstall run(host, L"uninstall \"PCI\\VEN_1B21&DEV_1632\" " + std::wstring(kSystemClass));
  ASSERT_TRUE(run.WaitUntilHeld());
  shell.EndAll();
  EXPECT_EQ(run.Finish(), 0u) << run.Output();
  EXPECT_TRUE(shell.Running().empty()) << run.Output();
  EXPECT_NE(run.Output().find("The uninstall ended the Windows shell; it stays stopped: the token of its user "
                              "could not be taken before the uninstall (error 5)"),
            std::string::npos)
      << run.Output();
}

TEST(ShellRestartW64, AShellThatNeverRanOrStillRunsIsLeftAlone) {
  ShellStandIn shell;
  StagedHost host(WithExitCodeDrv64());
  const std::wstring args = L"uninstall \"PCI\\VEN_1B21&DEV_1631\" " + std::wstring(kSystemClass);
  auto run = host.Cli(args, {L"KYD_EXIT_CODE=2"});
  EXPECT_EQ(run.exitCode, 0u) << run.output;
  EXPECT_TRUE(shell.Running().empty()) << run.output;
  ASSERT_TRUE(shell.Start());
  run = host.Cli(args, {L"KYD_EXIT_CODE=2"});
  EXPECT_EQ(run.exitCode, 0u) << run.output;
  EXPECT_EQ(shell.Running().size(), 1u) << run.output;
  EXPECT_EQ(run.output.find("again"), std::string::npos) << run.output;
}

}  // namespace
