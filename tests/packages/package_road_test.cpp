// The package road end to end: a staged host calls DrvUninst_UninstallDrv for
// a device whose companion package the catalogue describes and the Uninstall
// key lists; the package's uninstaller is one of ours (pkguninst.exe), which
// notes what it did in a file. Every case also holds that the device stays and
// the removal road (drv64.exe, or DIFx in process) never runs.
#include <gtest/gtest.h>

#include <windows.h>
#include <tlhelp32.h>

#include <cstdio>
#include <cwchar>
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

enum class Host { kCli, kWindowOwner, kJobWithoutBreakaway };
enum class Program {
  kSilent, kHang, kEmpty, kUnquoted, kWizard, kStuckWizard, kRestartWizard,
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
};

std::wstring Quote(const std::wstring& text) { return L"\"" + text + L"\""; }

std::wstring BaseName(const std::wstring& path) { return path.substr(path.rfind(L'\\') + 1); }

void CreateFolders(const std::wstring& path) {
  for (size_t at = path.find(L'\\', 3); at != std::wstring::npos; at = path.find(L'\\', at + 1))
    CreateDirectoryW(path.substr(0, at).c_str(), nullptr);
  CreateDirectoryW(path.c_str(), nullptr);
}

int Running(const std::wstring& exeName) {
  int count = 0;
  kyd::UniqueHandle snapshot(CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
  PROCESSENTRY32W entry{};
  entry.dwSize = sizeof entry;
  for (BOOL more = Process32FirstW(snapshot.get(), &entry); more; more = Process32NextW(snapshot.get(), &entry))
    if (_wcsicmp(entry.szExeFile, exeName.c_str()) == 0) ++count;
  return count;
}

BOOL CALLBACK FindTitle(HWND window, LPARAM parameter) {
  auto* search = reinterpret_cast<std::pair<const std::wstring*, bool>*>(parameter);
  wchar_t text[260] = {};
  GetWindowTextW(window, text, 260);
  if (std::wstring(text).find(*search->first) != std::wstring::npos) search->second = true;
  return TRUE;
}

// A top-level window of this (the default) desktop whose title holds text.
bool WindowOnOurDesktop(const std::wstring& text) {
  std::pair<const std::wstring*, bool> search{&text, false};
  EnumWindows(FindTitle, reinterpret_cast<LPARAM>(&search));
  return search.second;
}

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
  }
  static void TearDownTestSuite() {
    delete host_;
    host_ = nullptr;
  }

  // A copy of pkguninst.exe under this case's own name, in a folder whose
  // path holds a blank.
  std::wstring Uninstaller() {
    CreateDirectoryW(tools_.c_str(), nullptr);
    const std::wstring path = tools_ + L"\\" + exeName_;
    CopyFileW(Helper().c_str(), path.c_str(), FALSE);
    return path;
  }
  static std::wstring Helper() { return kydtest::TestExeDir() + L"\\pkguninst.exe"; }
  std::wstring EntryArguments(bool view64) const {
    return L" --entry " + token_ + L" --view " + (view64 ? L"64" : L"32");
  }
  std::wstring WizardTitle() const { return L"Kyd Audio " + token_ + L" - InstallShield Wizard"; }
  std::wstring DoneTitle() const { return L"卸载完成 " + token_; }

  std::wstring UninstallString(Program program, bool view64) {
    const std::wstring entry = EntryArguments(view64);
    switch (program) {
      case Program::kSilent: return Quote(Uninstaller()) + entry;
      case Program::kHang: return Quote(Uninstaller()) + L" --hang";
      case Program::kAmd:
      case Program::kAmdFallback: return Quote(Uninstaller()) + entry + L" --remove";
      case Program::kEmpty: return L"";
      case Program::kUnquoted:
        // Windows would try "...\Kyd.exe" first for this line.
        CopyFileW(Helper().c_str(), (scratch_ / L"Kyd.exe").c_str(), FALSE);
        return Uninstaller() + entry;
      case Program::kWizard:
      case Program::kStuckWizard:
      case Program::kRestartWizard: {
        std::wstring line = Quote(Uninstaller()) + L" --wizard --title " + Quote(WizardTitle()) +
                            L" --button \"下一步(&N)\" --done-title " + Quote(DoneTitle()) + L" --done-button " +
                            (program == Program::kRestartWizard ? L"\"是，立即重新启动计算机\"" : L"\"完成\"") + entry;
        if (program == Program::kStuckWizard) line += L" --stuck";
        if (program == Program::kRestartWizard) line += L" --restart";
        return line;
      }
    }
    return L"";
  }

  // One company, one package; the first window record is empty and must be
  // passed over. The confirmation title is configured in other letter case.
  void WriteCatalogue(const std::wstring& name, int timeout, bool restart) {
    std::wstring title = L"kyd audio " + token_;
    const std::wstring text =
        L"<?xml version=\"1.0\" encoding=\"utf-8\"?>\r\n<KYD><KYDUNSETUP timeout=\"0\"><company timeout=\"" +
        std::to_wstring(timeout) + L"\"><vid id=\"14F1\"/><dev guid=\"" + kMediaClass + L"\"><keyword name=\"" +
        name + L"\" main_exec=\"KydPanel.exe\"><windows><wnd/><wnd beginwnd_title=\"" + title +
        L"\" beginwnd_btn=\"下一步\" completewnd_title=\"" + DoneTitle() + L"\" completewnd_btn=\"" +
        (restart ? L"重新启动" : L"完成") + L"\"/></windows></keyword></dev></company></KYDUNSETUP></KYD>\r\n";
    ASSERT_TRUE(kydtest::WriteFileBytes(host_->folder() + L"\\Kydconfig\\unsetup.xml", kydtest::pkg::Utf8Of(text)));
  }

  kydtest::ProcessResult RunHost(Host host, std::vector<std::wstring> environment = {}) {
    environment.push_back(L"KYD_PKG_LOG=" + notes_);
    environment.push_back(L"KYD_EXITCODE_LOG=" + drv64Log_);
    const std::wstring device = Quote(hwid_) + L" " + kMediaClass;
    if (host == Host::kCli) return host_->Cli(L"uninstall " + device, environment);
    environment.push_back(L"KYD_DIFX_LOG=" + host_->difxLog());
    return kydtest::RunProgram(Quote(host_->folder() + L"\\pkghost.exe") + L" " + device +
                                   (host == Host::kJobWithoutBreakaway ? L" --job" : L""),
                               environment);
  }

  // The uninstallers' notes. "run <path>: <line>" becomes "run" and the path
  // below the scratch folder (this case's copy: "uninst"), with " -s" when
  // the line ends in it; the command lines themselves go to runLines.
  std::vector<std::string> Notes(std::vector<std::wstring>* runLines = nullptr) const {
    std::vector<std::string> notes;
    std::istringstream lines(kydtest::ReadFileBytes(notes_));
    for (std::string line; std::getline(lines, line);) {
      if (line.rfind("child ", 0) == 0) line = "child";
      if (line.rfind("run ", 0) == 0) {
        const std::wstring wide = kydtest::ToWide(line.substr(4));
        const size_t colon = wide.find(L": ");
        std::wstring path = wide.substr(0, colon);
        if (runLines) runLines->push_back(wide.substr(colon + 2));
        if (path.rfind(scratch_.path() + L"\\", 0) == 0) path.erase(0, scratch_.path().size() + 1);
        if (BaseName(path) == exeName_) path = L"uninst";
        const bool silent = wide.size() > 3 && wide.compare(wide.size() - 3, 3, L" -s") == 0;
        line = "run " + kydtest::ToNarrow(path) + (silent ? " -s" : "");
      }
      notes.push_back(line);
    }
    return notes;
  }

  // What a case expects, with AMD's folder for this Windows filled in.
  static std::vector<std::string> Expected(std::vector<std::string> notes) {
    for (std::string& note : notes)
      if (size_t at = note.find("$BIN"); at != std::string::npos)
        note.replace(at, 4, kydtest::Is64BitPrefix() ? "Bin64" : "Bin");
    return notes;
  }

  // AMD's install manager below an install location, below a program-files
  // folder, and planted below the current folder, where it must never run.
  // Returns the install location.
  std::wstring PlaceInstallManagers(std::vector<std::wstring>& environment) {
    const std::wstring bin = kydtest::Is64BitPrefix() ? L"\\Bin64" : L"\\Bin";
    const std::wstring location = scratch_ / L"AMD CIM";
    const std::wstring programFiles = scratch_ / L"pf";
    for (const std::wstring& folder : {location + bin, programFiles + L"\\ATI\\CIM" + bin, scratch_ / L"cwd" + bin}) {
      CreateFolders(folder);
      CopyFileW(Helper().c_str(), (folder + L"\\InstallManagerApp.exe").c_str(), FALSE);
    }
    // A 32-bit host on 64-bit Windows always gets the 32-bit folder as
    // ProgramFiles; there the install manager is found through ProgramW6432.
    environment.push_back(L"ProgramFiles=" + programFiles);
    environment.push_back(L"ProgramW6432=" + programFiles);
    return location;
  }

  bool EntryExists(bool view64) const {
    return kydtest::RegKeyExists(HKEY_LOCAL_MACHINE, std::wstring(kydtest::pkg::kUninstallKeyPath) + L"\\" + token_,
                                 view64);
  }

  // Whatever the outcome, the package road took the place of the removal
  // road: the device is still there and nothing removed it.
  void ExpectRemovalRoadNotTaken(const kydtest::SeededDevice& device) const {
    EXPECT_TRUE(kydtest::DevicePresent(device.instanceId()));
    EXPECT_FALSE(FileExists(drv64Log_));
    EXPECT_TRUE(host_->ReadDifxLog().empty());
  }

  void ExpectNothingLeftRunning() const {
    int left = 0;
    for (int wait = 0; wait < 20 && (left = Running(exeName_)) > 0; ++wait) Sleep(100);
    EXPECT_EQ(left, 0) << "processes of the uninstaller still running";
    EXPECT_FALSE(WindowOnOurDesktop(token_));
  }

  // New names for a case: its package entry, uninstaller copy, device.
  void NewCase() {
    token_ = UniqueName(L"KydRoad");
    exeName_ = L"un-" + token_ + L".exe";
    // A vendor without a cleaner of its own, so the package road is taken.
    // The leftover INF cleanup goes by the ID up to four characters after
    // "DEV_": those are this process's and case's own.
    static unsigned cases = 0;
    wchar_t device[8];
    swprintf(device, 8, L"%04X", ((GetCurrentProcessId() & 0xFFF) << 4 | (++cases & 0xF)) & 0xFFFF);
    hwid_ = L"HDAUDIO\\FUNC_01&VEN_14F1&DEV_" + std::wstring(device) + L"&SUBSYS_17AA3822&REV_1001";
    DeleteFileW(notes_.c_str());
    DeleteFileW(drv64Log_.c_str());
  }

  void Run(const RoadCase& c) {
    SCOPED_TRACE(c.what);
    NewCase();
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
    WriteCatalogue(std::wstring(c.name) + L" " + token_, c.timeout, c.program == Program::kRestartWizard);
    kydtest::SeededDevice device({hwid_}, {}, kMediaClass);
    ASSERT_TRUE(device.ok());
    kydtest::SeededInf inf(OemInfName(), L"[Models]\r\n\"Kyd\"=Install, " + hwid_ + L"\r\n");

    // The host starts in the folder where an install manager was planted.
    wchar_t ownFolder[MAX_PATH] = {};
    GetCurrentDirectoryW(MAX_PATH, ownFolder);
    if (amd) SetCurrentDirectoryW((scratch_ / L"cwd").c_str());
    const size_t logStart = kydtest::ReadFileBytes(LogFile()).size();
    const kydtest::ProcessResult run = RunHost(c.host, environment);
    SetCurrentDirectoryW(ownFolder);
    const std::string log = kydtest::ReadFileBytes(LogFile()).substr(logStart);

    ASSERT_TRUE(run.started);
    EXPECT_EQ(run.exitCode, c.result) << run.output;
    EXPECT_EQ(EntryExists(c.view64), c.entryStays);
    EXPECT_EQ(FileExists(inf.path()), c.result == 0) << "leftover INF";
    std::vector<std::wstring> lines;
    EXPECT_EQ(Notes(&lines), Expected(c.notes));
    if (amd && !lines.empty()) {
      EXPECT_EQ(kydtest::ToNarrow(lines.front().substr(lines.front().find(L"\" ") + 2)),
                "/IGNORE_UPGRADE /FORCE_HIDE_FIRST_RUN /UNATTENDED_UNINSTALL /AUTOACCEPT_ALL "
                "/FORCE_CLOSE_WHEN_DONE /ON_REBOOT_MESSAGE:NO");
    }
    EXPECT_NE(log.find(c.logLine), std::string::npos) << "not logged: " << c.logLine;
    ExpectRemovalRoadNotTaken(device);
    ExpectNothingLeftRunning();
  }

  // A name of this process's own: the suites run side by side in a prefix,
  // and a successful road deletes the INF naming its device.
  static std::wstring OemInfName() {
    static int counter = 0;
    wchar_t name[32];
    swprintf(name, 32, L"oem%05lu%03d.inf", GetCurrentProcessId() % 100000, ++counter % 1000);
    return name;
  }

  static std::wstring LogFile() { return host_->folder() + L"\\log\\KYDDrvUninst.log"; }

  static StagedHost* host_;
  ScratchDir scratch_{L"road"};
  std::wstring tools_ = scratch_ / L"Kyd Tools";
  std::wstring notes_ = scratch_ / L"notes.txt";
  std::wstring drv64Log_ = scratch_ / L"drv64.log";
  std::wstring token_, exeName_, hwid_;
};

StagedHost* PackageRoad::host_ = nullptr;

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
       {"run AMD CIM\\$BIN\\InstallManagerApp.exe", "run uninst", "removed 0"}, "] AMD install Path:"},
      {"no install location: the one below program files", Host::kCli, L"amd Kyd Install Manager",
       Program::kAmdFallback, 10, true, 1, false,
       {"run pf\\ATI\\CIM\\$BIN\\InstallManagerApp.exe", "run uninst", "removed 0"}, "] CheckFileExits entry"},
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
  const std::vector<std::string> toTheEnd = {"run uninst", "desktop kyd_instdrv", "confirmed", "complete",
                                             "removed 0"};
  const std::vector<RoadCase> cases = {
      {"driven to the end", Host::kCli, L"Realtek Kyd Wizard", Program::kWizard, 20, true, 1, false, toTheEnd,
       "] EnumWindows Succeed!"},
      {"from a host thread that owns a window", Host::kWindowOwner, L"IDT Kyd Wizard", Program::kWizard, 20,
       false, 1, false, toTheEnd, "] EnumWindows Succeed!"},
      {"confirmation button that stays: ended", Host::kCli, L"Realtek Kyd Wizard", Program::kStuckWizard, 20,
       false, 0, true, {"run uninst", "desktop kyd_instdrv"}, "] 强制TerminateJobObject!"},
      // The entry stays for the restart: only the restart flag, and no
      // second lookup, can make this a success.
      {"restart prompt put off, restart asked for", Host::kCli, L"NVIDIA Kyd Wizard", Program::kRestartWizard,
       20, false, 1, true, {"run uninst", "desktop kyd_instdrv", "confirmed", "restart later", "complete"},
       "] 卸载成功并要求重启"},
  };
  for (const RoadCase& c : cases) Run(c);
}

}  // namespace
