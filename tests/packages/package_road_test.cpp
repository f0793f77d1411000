// The package road end to end: a staged host calls DrvUninst_UninstallDrv for
// a device whose companion package the catalogue describes and the Uninstall
// key lists; the package's uninstaller is one of ours (pkguninst.exe), which
// notes what it did in a file. Every case also holds that the device stays and
// the removal road (drv64.exe, or DIFx in process) never runs.
#include <gtest/gtest.h>

#include <windows.h>
#include <shlobj.h>

#include <cstdio>
#include <cwchar>
#include <cwctype>
#include <sstream>
#include <string>
#include <vector>

#include "platform/handle.h"
#include "support/package_bench.h"
#include "support/staged_host.h"

namespace {

using kydtest::FileExists;
using kydtest::kMediaClass;
using kydtest::ScratchDir;
using kydtest::StagedHost;
using kydtest::pkg::SeededUninstallEntry;
using kydtest::pkg::UniqueName;

enum class Host { kCli, kCliPlan, kWindowOwner, kJobWithoutBreakaway };
enum class Program {
  kSilent, kHang, kEmpty, kUnquoted, kWizard, kStuckWizard, kRestartWizard,
  kEnglishRestartWizard,  // the completion page's restart choice in English
  kStallingWizard,        // every page has the completion title; stalls after the confirm
  kVanishingWizard,       // removes its entry and closes itself after the confirm
  kAmd,          // install manager below the install location
  kAmdFallback,  // no install location: the one below program files
};

struct RoadCase {
  const char* what;
  Host host;
  const wchar_t* name;  // the catalogue's package name, which picks the variant
  Program program;
  int timeout;          // seconds
  bool view64;          // the view the package is registered in
  DWORD result;
  bool entryStays;
  std::vector<std::string> notes;  // what the uninstallers noted ("run" lines shortened, "$BIN"
                                   // standing for AMD's Bin64 or Bin folder)
  const char* logLine;             // a line the library must have logged in this run
  int withinSeconds = 0;           // the host's run took less (0: not measured)
  const wchar_t* doneButton = nullptr;  // the last page's button; null: the program's own. The
                                        // catalogue names it in the other letter case.
};

std::wstring Quote(const std::wstring& text) { return L"\"" + text + L"\""; }

class PackageRoad : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    StagedHost::Options options;
    options.exitCodeDrv64 = true;  // drv64.exe notes any call
    host_ = new StagedHost(options);
    // The library logs everything beside itself, in log\KYDDrvUninst.log.
    kydtest::WriteFileBytes(host_->folder() + L"\\log.ini", "[log]\r\nfilter=65535\r\n");
    CopyFileW((kydtest::TestExeDir() + L"\\pkghost.exe").c_str(), (host_->folder() + L"\\pkghost.exe").c_str(),
              FALSE);
    desktop_ = kydtest::pkg::HoldUninstallDesktop();
  }
  static void TearDownTestSuite() {
    delete host_;
    host_ = nullptr;
    desktop_.reset();
  }

  // A copy of pkguninst.exe; the case's uninstaller has a name of its own
  // and lies in a folder whose path holds a blank.
  std::wstring Copy(const std::wstring& folder, const std::wstring& name) const {
    SHCreateDirectoryExW(nullptr, folder.c_str(), nullptr);
    CopyFileW((kydtest::TestExeDir() + L"\\pkguninst.exe").c_str(), (folder + L"\\" + name).c_str(), FALSE);
    return folder + L"\\" + name;
  }

  std::wstring UninstallString(Program program, bool view64) const {
    const std::wstring exe = Copy(scratch_ / L"Kyd Tools", exeName_);
    const std::wstring entry = L" --entry " + token_ + L" --view " + (view64 ? L"64" : L"32");
    const bool restart = program == Program::kRestartWizard || program == Program::kEnglishRestartWizard;
    const wchar_t* ending = program == Program::kStuckWizard       ? L" --stuck"
                            : program == Program::kStallingWizard  ? L" --stall"
                            : program == Program::kVanishingWizard ? L" --vanish"
                                                                   : L"";
    switch (program) {
      case Program::kSilent: return Quote(exe) + entry;
      case Program::kHang: return Quote(exe) + L" --hang";
      case Program::kEmpty: return L"";
      case Program::kAmd:
      case Program::kAmdFallback: return Quote(exe) + entry + L" --remove";
      case Program::kUnquoted:
        Copy(scratch_.path(), L"Kyd.exe");  // what Windows would try first for the line
        return exe + entry;
      default:
        return Quote(exe) + L" --wizard --title \"Kyd Audio " + token_ + L" - InstallShield Wizard\" --button " +
               L"\"下一步(&N)\" --done-title \"卸载完成 " + token_ + L"\" --done-button \"" +
               (doneButton_.empty() ? CompletionButton(program) : doneButton_) + L"\"" +
               (restart ? L" --restart" : L"") + ending + entry;
    }
  }

  static std::wstring OtherCase(std::wstring text) {
    for (wchar_t& c : text) c = iswupper(c) ? towlower(c) : towupper(c);
    return text;
  }

  static std::wstring CompletionButton(Program program) {
    if (program == Program::kEnglishRestartWizard) return L"Yes, I want to restart my computer now.";
    return program == Program::kRestartWizard || program == Program::kStallingWizard ? L"是，立即重新启动计算机"
                                                                                     : L"完成";
  }

  // One company, one package; the first window record is empty and must be
  // passed over, the confirmation title is configured in other letter case.
  // The stalling wizard's record gives its first page's title as the
  // completion title, as NVIDIA's does.
  void WriteCatalogue(const std::wstring& name, int timeout, Program program) const {
    const std::wstring doneTitle =
        program == Program::kStallingWizard ? L"kyd audio " + token_ : L"卸载完成 " + token_;
    const std::wstring text =
        L"<?xml version=\"1.0\" encoding=\"utf-8\"?>\r\n<KYD><KYDUNSETUP timeout=\"0\"><company timeout=\"" +
        std::to_wstring(timeout) + L"\"><vid id=\"14F1\"/><dev guid=\"" + kMediaClass + L"\"><keyword name=\"" +
        name + L"\"><windows><wnd/><wnd beginwnd_title=\"kyd audio " + token_ +
        L"\" beginwnd_btn=\"下一步\" completewnd_title=\"" + doneTitle + L"\" completewnd_btn=\"" +
        (doneButton_.empty() ? CompletionButton(program) : OtherCase(doneButton_)) +
        L"\"/></windows></keyword></dev></company></KYDUNSETUP></KYD>\r\n";
    ASSERT_TRUE(kydtest::WriteFileBytes(host_->folder() + L"\\Kydconfig\\unsetup.xml", kydtest::ToNarrow(text)));
  }

  // AMD's install manager below an install location, below a program-files
  // folder, and planted below the host's current folder, where it must never
  // run. A 32-bit host on 64-bit Windows always gets the 32-bit folder as
  // ProgramFiles; there the one below ProgramW6432 is taken.
  std::wstring PlaceInstallManagers(std::vector<std::wstring>& environment) const {
    const std::wstring bin = kydtest::Is64BitPrefix() ? L"\\Bin64" : L"\\Bin";
    for (const wchar_t* folder : {L"AMD CIM", L"pf\\ATI\\CIM", L"cwd"}) Copy(scratch_ / folder + bin, L"InstallManagerApp.exe");
    environment.push_back(L"ProgramFiles=" + scratch_ / L"pf");
    environment.push_back(L"ProgramW6432=" + scratch_ / L"pf");
    return scratch_ / L"AMD CIM";
  }

  kydtest::ProcessResult RunHost(Host host, std::vector<std::wstring> environment) const {
    environment.push_back(L"KYD_PKG_LOG=" + notes_);
    environment.push_back(L"KYD_EXITCODE_LOG=" + drv64Log_);
    environment.push_back(L"KYD_EXITCODE_PASS=kydleftover");  // leftover INFs, on 64-bit Windows
    const std::wstring device = Quote(hwid_) + L" " + kMediaClass;
    if (host == Host::kCli || host == Host::kCliPlan)
      return host_->Cli(L"uninstall " + device + (host == Host::kCliPlan ? L" --plan" : L""), environment);
    environment.push_back(L"KYD_DIFX_LOG=" + host_->difxLog());
    return kydtest::RunProgram(Quote(host_->folder() + L"\\pkghost.exe") + L" " + device +
                                   (host == Host::kJobWithoutBreakaway ? L" --job" : L""),
                               environment);
  }

  // The uninstallers' notes; "desktop fresh" is a desktop other than the
  // suite's "kyd_instdrv"; "run <path>: <command line>" becomes "run
  // uninst" (this case's copy, " -s" added when the line ends in it) or "run"
  // with the path below the scratch folder and the arguments.
  std::vector<std::string> Notes() const {
    std::vector<std::string> notes;
    std::istringstream lines(kydtest::ReadFileBytes(notes_));
    for (std::string line; std::getline(lines, line);) {
      if (line.rfind("child ", 0) == 0) line = "child";
      if (line.rfind("desktop kyd_instdrv-", 0) == 0) line = "desktop fresh";
      const size_t colon = line.find(": ");
      if (line.rfind("run ", 0) == 0 && colon != std::string::npos) {
        std::string path = line.substr(4, colon - 4), command = line.substr(colon + 2);
        path.erase(0, path.rfind(kydtest::ToNarrow(scratch_.path())) == 0 ? scratch_.path().size() + 1 : 0);
        const bool silent = command.size() > 3 && command.compare(command.size() - 3, 3, " -s") == 0;
        line = path.find(kydtest::ToNarrow(exeName_)) != std::string::npos
                   ? std::string("run uninst") + (silent ? " -s" : "")
                   : "run " + path + command.substr(command.find("\" ") + 1);
      }
      notes.push_back(line);
    }
    return notes;
  }

  // What a case expects, with AMD's folder for this Windows and its install
  // manager's arguments filled in.
  static std::vector<std::string> Expected(std::vector<std::string> notes) {
    const std::pair<std::string, std::string> fills[] = {
        {"$BIN", kydtest::Is64BitPrefix() ? "Bin64" : "Bin"},
        {"$ARGS", "/IGNORE_UPGRADE /FORCE_HIDE_FIRST_RUN /UNATTENDED_UNINSTALL /AUTOACCEPT_ALL "
                  "/FORCE_CLOSE_WHEN_DONE /ON_REBOOT_MESSAGE:NO"}};
    for (std::string& note : notes)
      for (const auto& [mark, text] : fills)
        if (size_t at = note.find(mark); at != std::string::npos) note.replace(at, mark.size(), text);
    return notes;
  }

  // New names for a case. The device's vendor has no cleaner of its own, so
  // the package road is taken; the leftover INF cleanup goes by the ID up to
  // four characters after "DEV_", which are this process's and case's own,
  // as is the INF's name (the suites run side by side in a prefix).
  void NewCase() {
    static unsigned cases = 0;
    ++cases;
    token_ = UniqueName(L"KydRoad");
    exeName_ = L"un-" + token_ + L".exe";
    wchar_t device[40], inf[40];
    swprintf(device, 40, L"%04X", ((GetCurrentProcessId() & 0xFFF) << 4 | (cases & 0xF)) & 0xFFFF);
    swprintf(inf, 40, L"oem%05lu%03u.inf", GetCurrentProcessId() % 100000, cases % 1000);
    hwid_ = L"HDAUDIO\\FUNC_01&VEN_14F1&DEV_" + std::wstring(device) + L"&SUBSYS_17AA3822&REV_1001";
    infName_ = inf;
    DeleteFileW(notes_.c_str());
    DeleteFileW(drv64Log_.c_str());
  }

  void Run(const RoadCase& c) {
    SCOPED_TRACE(c.what);
    NewCase();
    doneButton_ = c.doneButton ? c.doneButton : L"";
    SeededUninstallEntry::Values values = {{L"DisplayName", std::wstring(c.name) + L" " + token_},
                                           {L"UninstallString", UninstallString(c.program, c.view64)}};
    std::vector<std::wstring> environment;
    const bool amd = c.program == Program::kAmd || c.program == Program::kAmdFallback;
    if (amd) {
      const std::wstring location = PlaceInstallManagers(environment);
      values.push_back({L"InstallLocation", c.program == Program::kAmd ? location : L""});
    }
    SeededUninstallEntry entry(token_, c.view64, values);
    ASSERT_TRUE(entry.ok());
    WriteCatalogue(std::wstring(c.name) + L" " + token_, c.timeout, c.program);
    kydtest::SeededDevice device({hwid_}, {}, kMediaClass);
    ASSERT_TRUE(device.ok());
    kydtest::SeededInf inf(infName_, L"[Models]\r\n\"Kyd\"=Install, " + hwid_ + L"\r\n");

    wchar_t ownFolder[MAX_PATH] = {};
    GetCurrentDirectoryW(MAX_PATH, ownFolder);
    if (amd) SetCurrentDirectoryW((scratch_ / L"cwd").c_str());
    const std::wstring logFile = host_->folder() + L"\\log\\KYDDrvUninst.log";
    const size_t logStart = kydtest::ReadFileBytes(logFile).size();
    const DWORD started = GetTickCount();
    const kydtest::ProcessResult run = RunHost(c.host, environment);
    const DWORD seconds = (GetTickCount() - started) / 1000;
    SetCurrentDirectoryW(ownFolder);
    if (c.withinSeconds > 0) {
      EXPECT_LT(seconds, static_cast<DWORD>(c.withinSeconds));
    }

    ASSERT_TRUE(run.started);
    const bool plan = c.host == Host::kCliPlan;
    // drvuninst prints the library's result; our own host exits with it.
    const int result = c.host == Host::kCli || plan ? kydtest::LibraryResult(run) : static_cast<int>(run.exitCode);
    EXPECT_EQ(result, static_cast<int>(c.result)) << run.output;
    // A plan names the uninstaller it would run and runs nothing.
    if (plan) {
      EXPECT_NE(run.output.find("uninstall package "), std::string::npos) << run.output;
    }
    EXPECT_EQ(kydtest::RegKeyExists(HKEY_LOCAL_MACHINE, std::wstring(kydtest::pkg::kUninstallKeyPath) + L"\\" + token_,
                                    c.view64),
              c.entryStays);
    EXPECT_EQ(FileExists(inf.path()), c.result == 0 || plan) << "leftover INF";
    EXPECT_EQ(Notes(), Expected(c.notes));
    const std::string log = kydtest::ReadFileBytes(logFile);
    EXPECT_NE(log.find(c.logLine, logStart), std::string::npos) << c.logLine << "\n" << log.substr(logStart);
    // Whatever the outcome, the removal road was not taken as well: drv64.exe
    // ran at most for the leftover INFs.
    EXPECT_TRUE(kydtest::DevicePresent(device.instanceId()));
    const std::string calls = kydtest::ReadFileBytes(drv64Log_);
    const std::wstring called(reinterpret_cast<const wchar_t*>(calls.data()), calls.size() / sizeof(wchar_t));
    for (const wchar_t* command : {L" kydremove ", L" kydcomponents "})
      EXPECT_EQ(called.find(command), std::wstring::npos) << kydtest::ToNarrow(called);
    EXPECT_TRUE(host_->ReadDifxLog().empty());
    EXPECT_TRUE(kydtest::ProcessIdsNamed(exeName_, 2000).empty()) << "processes of the uninstaller still running";
  }

  static StagedHost* host_;
  static kyd::UniqueDesktop desktop_;
  ScratchDir scratch_{L"road"};
  std::wstring notes_ = scratch_ / L"notes.txt";
  std::wstring drv64Log_ = scratch_ / L"drv64.log";
  std::wstring token_, exeName_, hwid_, infName_, doneButton_;
};

StagedHost* PackageRoad::host_ = nullptr;
kyd::UniqueDesktop PackageRoad::desktop_;

class PackageRoadConsole : public PackageRoad {};
class PackageRoadWizard : public PackageRoad {};
class PackageRoadAmd : public PackageRoad {};

TEST_F(PackageRoadConsole, SilentUninstallersRunInAJobUnderTheirTimeLimit) {
  const std::vector<RoadCase> cases = {
      {"silent switch honoured", Host::kCli, L"Kyd Audio Panel", Program::kSilent, 10, true, 1, false,
       {"run uninst -s", "removed 0"}, "] Wait for Job Complete!"},
      {"hung uninstaller and its child ended after limit and grace", Host::kCli, L"Kyd Audio Panel",
       Program::kHang, 2, false, 0, true, {"run uninst -s", "child"}, "] Wait for Job timeout!"},
      {"time limit 0: ended after the grace period", Host::kCli, L"Kyd Audio Panel", Program::kHang, 0, false, 0,
       true, {"run uninst -s", "child"}, "] Wait for Job timeout!"},
      {"empty uninstall string starts nothing", Host::kCli, L"Kyd Audio Panel", Program::kEmpty, 10, false, 0,
       true, {}, "] CreateProcess error = "},
      {"unquoted path with blanks runs the registered program", Host::kCli, L"Kyd Audio Panel",
       Program::kUnquoted, 10, false, 1, false, {"run uninst -s", "removed 0"}, "] 卸载进程结束"},
      {"a plan runs nothing and expects the package gone", Host::kCliPlan, L"Kyd Audio Panel", Program::kSilent,
       10, false, 1, true, {}, "KYDRemoveDriverEx result=1"},
      {"host in a job that forbids breaking away", Host::kJobWithoutBreakaway, L"Kyd Audio Panel",
       Program::kSilent, 10, false, 1, false, {"run uninst -s", "removed 0"}, "] TerminateJobObject!"},
  };
  for (const RoadCase& c : cases) Run(c);
}

TEST_F(PackageRoadAmd, InstallManagerRunsBeforeTheRegisteredUninstaller) {
  const std::vector<RoadCase> cases = {
      // The registered command runs without " -s" after the install manager.
      {"install manager below the install location", Host::kCli, L"AMD Kyd Install Manager",
       Program::kAmd, 10, false, 1, false,
       {"run AMD CIM\\$BIN\\InstallManagerApp.exe $ARGS", "run uninst", "removed 0"}, "] AMD install Path:"},
      {"no install location: the one below program files", Host::kCli, L"amd Kyd Install Manager",
       Program::kAmdFallback, 10, true, 1, false,
       {"run pf\\ATI\\CIM\\$BIN\\InstallManagerApp.exe $ARGS", "run uninst", "removed 0"},
       "] CheckFileExits entry"},
  };
  for (const RoadCase& c : cases) Run(c);
}

// Another program's job that happens to be called "Job" is not ours to end.
TEST_F(PackageRoadConsole, NamedJobOfAnotherProgramSurvivesWithItsProcess) {
  kyd::UniqueHandle job(CreateJobObjectW(nullptr, L"Job"));
  ASSERT_TRUE(job);
  std::wstring line = Quote(kydtest::TestExeDir() + L"\\sleeper.exe") + L" 60";
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION started{};
  ASSERT_TRUE(CreateProcessW(nullptr, line.data(), nullptr, nullptr, FALSE, CREATE_SUSPENDED, nullptr, nullptr,
                             &startup, &started));
  kyd::UniqueHandle sleeper(started.hProcess), thread(started.hThread);
  ASSERT_TRUE(AssignProcessToJobObject(job.get(), sleeper.get()));
  ResumeThread(thread.get());

  Run({"silent uninstall beside a job named Job", Host::kCli, L"Kyd Audio Panel", Program::kSilent, 3, false, 1,
       false, {"run uninst -s", "removed 0"}, "] 卸载成功"});
  EXPECT_EQ(WaitForSingleObject(sleeper.get(), 0), static_cast<DWORD>(WAIT_TIMEOUT));
  TerminateProcess(sleeper.get(), 0);
}

TEST_F(PackageRoadWizard, WizardsAreDrivenOnThePrivateDesktop) {
  const std::vector<std::string> toTheEnd = {"run uninst", "desktop fresh", "confirmed", "complete",
                                             "removed 0"};
  const std::vector<RoadCase> cases = {
      {"driven to the end", Host::kCli, L"Realtek Kyd Wizard", Program::kWizard, 20, true, 1, false, toTheEnd,
       "] EnumWindows Succeed!"},
      {"from a host thread that owns a window", Host::kWindowOwner, L"IDT Kyd Wizard", Program::kWizard, 20,
       false, 1, false, toTheEnd, "] EnumWindows Succeed!"},
      {"confirmation button that stays: ended", Host::kCli, L"Realtek Kyd Wizard", Program::kStuckWizard, 20,
       false, 0, true, {"run uninst", "desktop fresh"}, "] 强制TerminateJobObject!"},
      // The entry stays for the restart: only the restart flag, and no
      // second lookup, can make this a success.
      {"restart prompt put off, restart asked for", Host::kCli, L"NVIDIA Kyd Wizard", Program::kRestartWizard,
       20, false, 1, true, {"run uninst", "desktop fresh", "confirmed", "restart later", "complete"},
       "] 卸载成功并要求重启"},
      {"restart choice in English on the last page", Host::kCli, L"Realtek Kyd Wizard",
       Program::kEnglishRestartWizard, 20, false, 1, true,
       {"run uninst", "desktop fresh", "confirmed", "restart later", "complete"}, "] 卸载成功并要求重启"},
      // Any letter case, "reboot" as well, and traditional Chinese tell a
      // restart too.
      {"\"Restart now\" on the last page", Host::kCli, L"Realtek Kyd Wizard", Program::kRestartWizard, 20, false, 1,
       true, {"run uninst", "desktop fresh", "confirmed", "restart later", "complete"}, "] 卸载成功并要求重启", 0,
       L"Restart now"},
      {"\"Reboot\" on the last page", Host::kCli, L"Realtek Kyd Wizard", Program::kRestartWizard, 20, false, 1,
       true, {"run uninst", "desktop fresh", "confirmed", "restart later", "complete"}, "] 卸载成功并要求重启", 0,
       L"Reboot"},
      {"restart choice in traditional Chinese", Host::kCli, L"Realtek Kyd Wizard", Program::kRestartWizard, 20,
       false, 1, true, {"run uninst", "desktop fresh", "confirmed", "restart later", "complete"},
       "] 卸载成功并要求重启", 0, L"是，立即重新啟動電腦"},
      // The first page's title is the completion title: only the last
      // page's button may count, so a stall is a failure, restart or not.
      {"stall after the confirm under the completion title", Host::kCli, L"NVIDIA Kyd Wizard",
       Program::kStallingWizard, 4, false, 0, true, {"run uninst", "desktop fresh", "confirmed"},
       "] Wait for Job timeout!"},
      // Gone without a last page: the lookup decides, and nobody waits out
      // the time limit.
      {"wizard that closes itself after the confirm", Host::kCli, L"IDT Kyd Wizard", Program::kVanishingWizard,
       60, false, 1, false, {"run uninst", "desktop fresh", "confirmed", "removed 0"},
       "] Wait for Job Complete!", 40},
  };
  for (const RoadCase& c : cases) Run(c);
}

}  // namespace
