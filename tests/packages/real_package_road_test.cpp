// The package road with real uninstallers: packages built by NSIS and as
// Windows Installer packages (tests/packages/real), installed into the prefix
// by their own installers, and our wizard whose button opens a modal box.
// Each is uninstalled through drvuninst; afterwards the package must be
// either fully removed (files and registration) or fully intact, nothing of
// it may be running, and the call must have ended in bounded time.
#include <gtest/gtest.h>

#include <windows.h>
#include <shlobj.h>

#include <list>
#include <string>
#include <vector>

#include "platform/handle.h"
#include "support/package_bench.h"
#include "support/staged_host.h"

namespace {

using kydtest::FileExists;
using kydtest::kMediaClass;

enum class Kit { kNsis, kMsi, kStaleMsi, kModalWizard };

// One package: how it is installed, what it leaves, what runs of it.
struct Package {
  Kit kit;
  const wchar_t* file;       // in the real packages' folder
  const wchar_t* name;       // display name, the catalogue's keyword
  const wchar_t* key;        // Uninstall subkey
  const wchar_t* folder;     // below Program Files
  std::vector<const wchar_t*> files;
  std::vector<const wchar_t*> programs;  // image names that must not outlive the call
  bool wizard;                           // the catalogue describes its windows
};

const Package kNsisWizard{Kit::kNsis, L"nsis-wizard.exe", L"IDT Kyd Nsis Wizard", L"KydNsisWizard",
                          L"KydNsisWizard", {L"panel.txt", L"uninst.exe"}, {L"uninst.exe", L"Un.exe", L"Un_A.exe"},
                          true};
const Package kNsisQuiet{Kit::kNsis, L"nsis-quiet.exe", L"Kyd Nsis Quiet", L"KydNsisQuiet", L"KydNsisQuiet",
                         {L"panel.txt", L"uninst.exe"}, {L"uninst.exe", L"Un.exe", L"Un_A.exe"}, false};
const Package kNsisPlain{Kit::kNsis, L"nsis-plain.exe", L"Kyd Nsis Plain", L"KydNsisPlain", L"KydNsisPlain",
                         {L"panel.txt", L"uninst.exe"}, {L"uninst.exe", L"Un.exe", L"Un_A.exe"}, false};
const Package kMsiPanel{Kit::kMsi, L"msi-panel.msi", L"Kyd Msi Panel", L"{6B1B5A3E-3C1D-4C55-9E8A-4B7D2F0C1A31}",
                        L"Kyd Msi Panel", {L"panel.txt"}, {L"msiexec.exe"}, false};
const Package kMsiRestart{Kit::kMsi, L"msi-restart.msi", L"Kyd Msi Restart",
                          L"{6B1B5A3E-3C1D-4C55-9E8A-4B7D2F0C1A32}", L"Kyd Msi Restart", {L"panel.txt"},
                          {L"msiexec.exe"}, false};
// An entry whose product Windows Installer does not know (msiexec: 1605).
const Package kMsiStale{Kit::kStaleMsi, L"", L"Kyd Msi Stale", L"{6B1B5A3E-3C1D-4C55-9E8A-4B7D2F0C1A3F}", L"",
                        {}, {L"msiexec.exe"}, false};
const Package kModalWizard{Kit::kModalWizard, L"", L"IDT Kyd Modal Wizard", L"KydModalWizard", L"KydModalWizard",
                           {L"kydmodal.exe"}, {L"kydmodal.exe"}, true};

struct RealCase {
  const char* what;
  const Package* package;
  bool plan;
  int timeout;                // the catalogue's seconds
  int result;                 // the library's
  bool removed;               // else intact
  std::wstring commandLine;   // run (or planned); $DIR the install folder, $SYS the system folder
  int maxSeconds;             // the call's bound
};

std::wstring Quote(const std::wstring& text) { return L"\"" + text + L"\""; }

std::wstring Fill(std::wstring text, const std::wstring& mark, const std::wstring& value) {
  for (size_t at = text.find(mark); at != std::wstring::npos; at = text.find(mark, at + value.size()))
    text.replace(at, mark.size(), value);
  return text;
}

class RealPackageRoad : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    host_ = new kydtest::StagedHost();
    kydtest::WriteFileBytes(host_->folder() + L"\\log.ini", "[log]\r\nfilter=65535\r\n");
    desktop_ = kydtest::pkg::HoldUninstallDesktop();
  }
  static void TearDownTestSuite() {
    delete host_;
    host_ = nullptr;
    desktop_.reset();
  }

  static std::wstring InstallFolder(const Package& p) {
    wchar_t programFiles[MAX_PATH] = {};
    SHGetFolderPathW(nullptr, CSIDL_PROGRAM_FILES, nullptr, 0, programFiles);
    return std::wstring(programFiles) + L"\\" + p.folder;
  }
  static std::wstring EntryPath(const Package& p) {
    return std::wstring(kydtest::pkg::kUninstallKeyPath) + L"\\" + p.key;
  }

  // How much of the package is there: files and entry, none of them, or part.
  enum class State { kIntact, kRemoved, kHalf };
  static State StateOf(const Package& p) {
    int present = kydtest::RegKeyExists(HKEY_LOCAL_MACHINE, EntryPath(p), false) ? 1 : 0;
    for (const wchar_t* file : p.files) present += FileExists(InstallFolder(p) + L"\\" + file);
    const int parts = 1 + static_cast<int>(p.files.size());
    if (present == 0 && (p.files.empty() || !FileExists(InstallFolder(p)))) return State::kRemoved;
    return present == parts ? State::kIntact : State::kHalf;
  }

  // Installs the package with its own installer (or seeds what stands for it).
  void Install(const Package& p) {
    const std::wstring real = kydtest::WinPath(KYD_REAL_PACKAGES_DIR) + L"\\" + p.file;
    wchar_t system[MAX_PATH] = {};
    GetSystemDirectoryW(system, MAX_PATH);
    switch (p.kit) {
      case Kit::kNsis:
        kydtest::RunProgram(Quote(real) + L" /S");
        break;
      case Kit::kMsi:
        kydtest::RunProgram(Quote(std::wstring(system) + L"\\msiexec.exe") + L" /i " + Quote(real) + L" /qn");
        break;
      case Kit::kStaleMsi:
        seeded_.emplace_back(p.key, false,
                             kydtest::pkg::SeededUninstallEntry::Values{
                                 {L"DisplayName", p.name}, {L"UninstallString", L"MsiExec.exe /X" + std::wstring(p.key)}});
        break;
      case Kit::kModalWizard: {
        const std::wstring folder = InstallFolder(p);
        CreateDirectoryW(folder.c_str(), nullptr);
        CopyFileW((kydtest::TestExeDir() + L"\\pkguninst.exe").c_str(), (folder + L"\\kydmodal.exe").c_str(), FALSE);
        seeded_.emplace_back(
            p.key, false,
            kydtest::pkg::SeededUninstallEntry::Values{
                {L"DisplayName", p.name},
                {L"UninstallString", Quote(folder + L"\\kydmodal.exe") + L" --wizard --modal --title \"" + p.name +
                                         L" Uninstall\" --button \"&Uninstall\" --done-title \"" + p.name +
                                         L" Uninstall\" --done-button \"&Close\" --entry " + p.key + L" --view 32"}});
        break;
      }
    }
  }

  void WriteCatalogue(const Package& p, int timeout) const {
    const std::wstring title = std::wstring(p.name) + L" Uninstall";
    const std::wstring windows = p.wizard ? L"<windows><wnd beginwnd_title=\"" + title +
                                                L"\" beginwnd_btn=\"&amp;Uninstall\" completewnd_title=\"" + title +
                                                L"\" completewnd_btn=\"&amp;Close\"/></windows>"
                                          : L"";
    const std::wstring text = L"<?xml version=\"1.0\" encoding=\"utf-8\"?>\r\n<KYD><KYDUNSETUP timeout=\"0\">"
                              L"<company timeout=\"" + std::to_wstring(timeout) + L"\"><vid id=\"14F2\"/><dev guid=\"" +
                              kMediaClass + L"\"><keyword name=\"" + p.name + L"\">" + windows +
                              L"</keyword></dev></company></KYDUNSETUP></KYD>\r\n";
    ASSERT_TRUE(kydtest::WriteFileBytes(host_->folder() + L"\\Kydconfig\\unsetup.xml", kydtest::pkg::Utf8Of(text)));
  }

  void Run(const RealCase& c) {
    SCOPED_TRACE(c.what);
    const Package& p = *c.package;
    Install(p);
    ASSERT_EQ(StateOf(p), State::kIntact) << "not installed";
    WriteCatalogue(p, c.timeout);
    const std::wstring logFile = host_->folder() + L"\\log\\KYDDrvUninst.log";
    const size_t logStart = kydtest::ReadFileBytes(logFile).size();

    const DWORD start = GetTickCount();
    const kydtest::ProcessResult run = host_->Cli(
        L"uninstall \"HDAUDIO\\FUNC_01&VEN_14F2&DEV_7E57&SUBSYS_17AA3822\" " + std::wstring(kMediaClass) +
        (c.plan ? L" --plan" : L""));
    const DWORD seconds = (GetTickCount() - start) / 1000;

    ASSERT_TRUE(run.started);
    EXPECT_LE(seconds, static_cast<DWORD>(c.maxSeconds)) << "the call took too long";
    EXPECT_EQ(kydtest::LibraryResult(run), c.result) << run.output;
    EXPECT_EQ(StateOf(p), c.removed ? State::kRemoved : State::kIntact);
    wchar_t system[MAX_PATH] = {};
    GetSystemDirectoryW(system, MAX_PATH);
    const std::string line =
        kydtest::ToNarrow(Fill(Fill(c.commandLine, L"$DIR", InstallFolder(p)), L"$SYS", system));
    // A plan names the command line it would run; a run logs the one it ran.
    if (c.plan)
      EXPECT_NE(run.output.find(line), std::string::npos) << line << "\n" << run.output;
    else
      EXPECT_NE(kydtest::ReadFileBytes(logFile).find("] Uninst String: " + line, logStart), std::string::npos)
          << line;
    for (const wchar_t* program : p.programs) {
      int left = kydtest::pkg::RunningProcesses(program);
      for (int wait = 0; wait < 20 && left > 0; ++wait, left = kydtest::pkg::RunningProcesses(program)) Sleep(100);
      EXPECT_EQ(left, 0) << kydtest::ToNarrow(program) << " still running";
    }
  }

  static kydtest::StagedHost* host_;
  static kyd::UniqueDesktop desktop_;
  std::list<kydtest::pkg::SeededUninstallEntry> seeded_;
};

kydtest::StagedHost* RealPackageRoad::host_ = nullptr;
kyd::UniqueDesktop RealPackageRoad::desktop_;

TEST_F(RealPackageRoad, EachPackageEndsFullyRemovedOrIntactInBoundedTime) {
  const std::wstring nsis = L"\"$DIR\\uninst.exe\"";
  const std::wstring msi = L"\"$SYS\\msiexec.exe\" /x ";
  const std::vector<RealCase> cases = {
      // NSIS keeps its button (it becomes "Close", greyed out while the
      // uninstaller works for longer than the grace period).
      {"NSIS wizard driven by a windowed variant", &kNsisWizard, false, 60, 1, true, nsis, 60 + 8 + 15},
      {"NSIS package with a QuietUninstallString", &kNsisQuiet, false, 30, 1, true, nsis + L" /NCRC /S", 30 + 5 + 5},
      {"a plan lists the NSIS switch and changes nothing", &kNsisPlain, true, 30, 1, false, nsis + L" /S", 20},
      {"NSIS package recognised from its uninstaller", &kNsisPlain, false, 30, 1, true, nsis + L" /S", 30 + 5 + 5},
      {"Windows Installer package", &kMsiPanel, false, 60, 1, true,
       msi + L"{6B1B5A3E-3C1D-4C55-9E8A-4B7D2F0C1A31} /qn /norestart", 60 + 5 + 5},
      {"Windows Installer package asking for a restart", &kMsiRestart, false, 60, 2, true,
       msi + L"{6B1B5A3E-3C1D-4C55-9E8A-4B7D2F0C1A32} /qn /norestart", 60 + 5 + 5},
      {"Windows Installer entry of an unknown product", &kMsiStale, false, 60, 0, false,
       msi + L"{6B1B5A3E-3C1D-4C55-9E8A-4B7D2F0C1A3F} /qn /norestart", 30},
      // Nobody answers the box: the click is not taken, the wizard is ended.
      {"wizard whose button opens a modal box", &kModalWizard, false, 20, 0, false, L"\"$DIR\\kydmodal.exe\"", 30},
  };
  for (const RealCase& c : cases) Run(c);
}

}  // namespace
