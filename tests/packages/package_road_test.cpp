// The package road end to end: a staged host calls DrvUninst_UninstallDrv for
// a device whose companion package the catalogue describes and the Uninstall
// key lists; the package's uninstaller is one of ours (pkguninst.exe), which
// notes what it did in a file. Every case also holds that the device stays and
// the removal road (drv64.exe, or DIFx in process) never runs.
#include <gtest/gtest.h>

#include <windows.h>
#include <tlhelp32.h>

#include <cstdio>
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
enum class Program { kSilent, kHang, kEmpty, kUnquoted, kWizard, kStuckWizard, kRestartWizard };

struct RoadCase {
  const char* what;
  Host host;
  const wchar_t* name;  // the catalogue's package name, which picks the variant
  Program program;
  int timeout;          // seconds
  bool view64;          // the view the package is registered in
  DWORD result;
  bool entryStays;
  std::vector<std::string> notes;  // what the uninstaller noted ("run" lines shortened)
};

std::wstring Quote(const std::wstring& text) { return L"\"" + text + L"\""; }

std::wstring BaseName(const std::wstring& path) { return path.substr(path.rfind(L'\\') + 1); }

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

  // The uninstallers' notes; "run <path>: <line>" becomes "run <file name>"
  // (this case's copy as "uninst") and " -s" when the line ends in it.
  std::vector<std::string> Notes(std::vector<std::wstring>* runLines = nullptr) const {
    std::vector<std::string> notes;
    std::istringstream lines(kydtest::ReadFileBytes(notes_));
    for (std::string line; std::getline(lines, line);) {
      if (line.rfind("child ", 0) == 0) line = "child";
      if (line.rfind("run ", 0) == 0) {
        const std::wstring wide = kydtest::ToWide(line.substr(4));
        if (runLines) runLines->push_back(wide);
        const std::wstring path = wide.substr(0, wide.find(L": "));
        const std::wstring name = BaseName(path) == exeName_ ? L"uninst" : BaseName(path);
        const bool silent = wide.size() > 3 && wide.compare(wide.size() - 3, 3, L" -s") == 0;
        line = "run " + kydtest::ToNarrow(name) + (silent ? " -s" : "");
      }
      notes.push_back(line);
    }
    return notes;
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
    hwid_ = L"HDAUDIO\\FUNC_01&VEN_14F1&DEV_" + token_ + L"X&SUBSYS_17AA3822";
    DeleteFileW(notes_.c_str());
    DeleteFileW(drv64Log_.c_str());
  }

  void Run(const RoadCase& c) {
    SCOPED_TRACE(c.what);
    NewCase();
    const bool restart = c.program == Program::kRestartWizard;
    SeededUninstallEntry entry(token_, c.view64,
                               {{L"DisplayName", std::wstring(c.name) + L" " + token_},
                                {L"UninstallString", UninstallString(c.program, c.view64)}});
    ASSERT_TRUE(entry.ok());
    WriteCatalogue(std::wstring(c.name) + L" " + token_, c.timeout, restart);
    kydtest::SeededDevice device({hwid_}, {}, kMediaClass);
    ASSERT_TRUE(device.ok());
    kydtest::SeededInf inf(kydtest::FreeOemInfName(), L"[Models]\r\n\"Kyd\"=Install, " + hwid_ + L"\r\n");

    const kydtest::ProcessResult run = RunHost(c.host);
    ASSERT_TRUE(run.started);
    EXPECT_EQ(run.exitCode, c.result) << run.output;
    EXPECT_EQ(EntryExists(c.view64), c.entryStays);
    EXPECT_EQ(FileExists(inf.path()), c.result == 0) << "leftover INF";
    EXPECT_EQ(Notes(), c.notes);
    ExpectRemovalRoadNotTaken(device);
    ExpectNothingLeftRunning();
  }

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

TEST_F(PackageRoadConsole, SilentUninstallersRunInAJobUnderTheirTimeLimit) {
  const std::vector<RoadCase> cases = {
      {"silent switch honoured", Host::kCli, L"Kyd Audio Panel", Program::kSilent, 10, true, 1, false,
       {"run uninst -s", "removed 0"}},
      {"hung uninstaller and its child ended after limit and grace", Host::kCli, L"Kyd Audio Panel",
       Program::kHang, 2, false, 0, true, {"run uninst -s", "child"}},
      {"time limit 0: ended after the grace period", Host::kCli, L"Kyd Audio Panel", Program::kHang, 0, false, 0,
       true, {"run uninst -s", "child"}},
      {"empty uninstall string starts nothing", Host::kCli, L"Kyd Audio Panel", Program::kEmpty, 10, false, 0,
       true, {}},
      {"unquoted path with blanks runs the registered program", Host::kCli, L"Kyd Audio Panel",
       Program::kUnquoted, 10, false, 1, false, {"run uninst -s", "removed 0"}},
      {"host in a job that forbids breaking away", Host::kJobWithoutBreakaway, L"Kyd Audio Panel",
       Program::kSilent, 10, false, 1, false, {"run uninst -s", "removed 0"}},
  };
  for (const RoadCase& c : cases) Run(c);
}

TEST_F(PackageRoadWizard, WizardsAreDrivenOnThePrivateDesktop) {
  const std::vector<std::string> toTheEnd = {"run uninst", "desktop kyd_instdrv", "confirmed", "complete",
                                             "removed 0"};
  const std::vector<RoadCase> cases = {
      {"driven to the end", Host::kCli, L"Realtek Kyd Wizard", Program::kWizard, 20, true, 1, false, toTheEnd},
      {"from a host thread that owns a window", Host::kWindowOwner, L"IDT Kyd Wizard", Program::kWizard, 20,
       false, 1, false, toTheEnd},
      {"confirmation button that stays: ended", Host::kCli, L"Realtek Kyd Wizard", Program::kStuckWizard, 20,
       false, 0, true, {"run uninst", "desktop kyd_instdrv"}},
      // The entry stays for the restart: only the restart flag, and no
      // second lookup, can make this a success.
      {"restart prompt put off, restart asked for", Host::kCli, L"NVIDIA Kyd Wizard", Program::kRestartWizard,
       20, false, 1, true, {"run uninst", "desktop kyd_instdrv", "confirmed", "restart later", "complete"}},
  };
  for (const RoadCase& c : cases) Run(c);
}

}  // namespace
