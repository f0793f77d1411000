// The package road with real uninstallers: packages built by NSIS and as
// Windows Installer packages (tests/packages/real), installed into the prefix
// by their own installers, and our wizard whose button opens a modal box.
// Each is uninstalled through drvuninst; afterwards the package must be
// either fully removed (files and registration) or fully intact, nothing of
// it may be running, and the call must have ended in bounded time. Once the
// package is gone, with a restart to come or not, an OEM INF still naming
// the device goes too.
#include <gtest/gtest.h>

#include <windows.h>
#include <shlobj.h>

#include <cstdlib>
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

struct RealCase {
  const char* what;
  Kit kit;
  const wchar_t* file;        // the installer, in the real packages' folder
  const wchar_t* name;        // display name and catalogue keyword ("IDT": the windowed variant)
  const wchar_t* key;         // Uninstall subkey (a product code for Windows Installer)
  bool plan;
  int timeout;                // the catalogue's seconds
  int result;                 // the library's
  bool removed;               // else intact
  std::wstring commandLine;   // run (or planned); $DIR install folder, $SYS system folder, $KEY the key
  int promisedSeconds;        // what the library promises for the call: time limit and grace
};

// What a busy machine adds to a call beyond the library's promise: starting
// drvuninst and the uninstaller under Wine, the lookup, the private desktop.
constexpr int kBusyMarginSeconds = 20;
// After a click the library waits 3 s for the page to change, after sending
// the button's two mouse messages (1 s each at most).
constexpr int kClickCheckSeconds = 3 + 1 + 1;

// What a package installs below Program Files and which of its programs
// (NSIS's copy of itself in the temp folder included) must not outlive the call.
struct Footprint {
  std::wstring folder;
  std::vector<const wchar_t*> files, programs;
};
Footprint FootprintOf(const RealCase& c) {
  switch (c.kit) {
    case Kit::kNsis: return {c.key, {L"panel.txt", L"uninst.exe"}, {L"uninst.exe", L"Un.exe", L"Un_A.exe"}};
    case Kit::kMsi: return {c.name, {L"panel.txt"}, {L"msiexec.exe"}};
    case Kit::kStaleMsi: return {L"", {}, {L"msiexec.exe"}};
    default: return {c.key, {L"kydmodal.exe"}, {L"kydmodal.exe"}};
  }
}

std::wstring Quote(const std::wstring& text) { return L"\"" + text + L"\""; }

std::wstring Fill(std::wstring text, const std::wstring& mark, const std::wstring& value) {
  for (size_t at = text.find(mark); at != std::wstring::npos; at = text.find(mark, at + value.size()))
    text.replace(at, mark.size(), value);
  return text;
}

std::wstring SystemFolder() {
  wchar_t system[MAX_PATH] = {};
  GetSystemDirectoryW(system, MAX_PATH);
  return system;
}

// Runs an installer and waits for it. No handle is handed down: Wine may
// start a desktop manager from the first windowed program, and one holding
// an output pipe of ours would never let it close.
void RunInstaller(std::wstring line) {
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION started{};
  ASSERT_TRUE(CreateProcessW(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &started));
  kyd::UniqueHandle process(started.hProcess), thread(started.hThread);
  EXPECT_EQ(WaitForSingleObject(process.get(), 120000), static_cast<DWORD>(WAIT_OBJECT_0));
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

  static std::wstring InstallFolder(const Footprint& f) {
    wchar_t programFiles[MAX_PATH] = {};
    SHGetFolderPathW(nullptr, CSIDL_PROGRAM_FILES, nullptr, 0, programFiles);
    return std::wstring(programFiles) + L"\\" + f.folder;
  }

  // How much of the package is there: files and entry, none of them, or part.
  enum class State { kIntact, kRemoved, kHalf };
  static State StateOf(const RealCase& c) {
    const Footprint f = FootprintOf(c);
    int present = kydtest::RegKeyExists(HKEY_LOCAL_MACHINE, kydtest::pkg::kUninstallKeyPath + (L"\\" + std::wstring(c.key)),
                                        false);
    for (const wchar_t* file : f.files) present += FileExists(InstallFolder(f) + L"\\" + file);
    if (present == 0 && (f.files.empty() || !FileExists(InstallFolder(f)))) return State::kRemoved;
    return present == 1 + static_cast<int>(f.files.size()) ? State::kIntact : State::kHalf;
  }

  // Installs the package with its own installer (or seeds what stands for it).
  void Install(const RealCase& c) {
    const std::wstring real = kydtest::WinPath(KYD_REAL_PACKAGES_DIR) + L"\\" + c.file;
    const std::wstring modal = InstallFolder(FootprintOf(c)) + L"\\kydmodal.exe";
    const std::wstring name = c.name, key = c.key;
    if (c.kit == Kit::kNsis) RunInstaller(Quote(real) + L" /S");
    if (c.kit == Kit::kMsi) RunInstaller(Quote(SystemFolder() + L"\\msiexec.exe") + L" /i " + Quote(real) + L" /qn");
    if (c.kit == Kit::kStaleMsi)
      seeded_.emplace_back(key, false, Values{{L"DisplayName", name}, {L"UninstallString", L"MsiExec.exe /X" + key}});
    if (c.kit != Kit::kModalWizard) return;
    CreateDirectoryW(InstallFolder(FootprintOf(c)).c_str(), nullptr);
    CopyFileW((kydtest::TestExeDir() + L"\\pkguninst.exe").c_str(), modal.c_str(), FALSE);
    const std::wstring title = Quote(name + L" Uninstall");
    seeded_.emplace_back(key, false,
                         Values{{L"DisplayName", name},
                                {L"UninstallString", Quote(modal) + L" --wizard --modal --title " + title +
                                                         L" --button &Uninstall --done-title " + title +
                                                         L" --done-button &Close --entry " + key + L" --view 32"}});
  }

  // The windowed variant gets the wizard's pages: NSIS's own and ours alike.
  void WriteCatalogue(const RealCase& c) const {
    const std::wstring title = std::wstring(c.name) + L" Uninstall";
    const std::wstring windows = L"<windows><wnd beginwnd_title=\"" + title + L"\" beginwnd_btn=\"&amp;Uninstall\" "
                                 L"completewnd_title=\"" + title + L"\" completewnd_btn=\"&amp;Close\"/></windows>";
    const std::wstring text = L"<?xml version=\"1.0\" encoding=\"utf-8\"?>\r\n<KYD><KYDUNSETUP timeout=\"0\">"
                              L"<company timeout=\"" + std::to_wstring(c.timeout) + L"\"><vid id=\"14F2\"/><dev guid=\"" +
                              kMediaClass + L"\"><keyword name=\"" + c.name + L"\">" +
                              (wcsstr(c.name, L"IDT") ? windows : L"") + L"</keyword></dev></company></KYDUNSETUP></KYD>";
    ASSERT_TRUE(kydtest::WriteFileBytes(host_->folder() + L"\\Kydconfig\\unsetup.xml", kydtest::ToNarrow(text)));
  }

  void Run(const RealCase& c) {
    SCOPED_TRACE(c.what);
    Install(c);
    ASSERT_EQ(StateOf(c), State::kIntact) << "not installed";
    WriteCatalogue(c);
    const std::wstring logFile = host_->folder() + L"\\log\\KYDDrvUninst.log";
    const size_t logStart = kydtest::ReadFileBytes(logFile).size();

    const std::wstring notes = host_->folder() + L"\\uninstaller notes.txt";
    DeleteFileW(notes.c_str());
    kydtest::SeededInf leftover(kydtest::FreeOemInfName(),
                                L"[Models]\r\n\"Kyd\"=Install, HDAUDIO\\FUNC_01&VEN_14F2&DEV_7E57\r\n");
    const DWORD start = GetTickCount();
    const kydtest::ProcessResult run = host_->Cli(L"uninstall \"HDAUDIO\\FUNC_01&VEN_14F2&DEV_7E57\" " +
                                                  std::wstring(kMediaClass) + (c.plan ? L" --plan" : L""),
                                              {L"KYD_PKG_LOG=" + notes});
    const DWORD end = GetTickCount();
    EXPECT_LE((end - start) / 1000, static_cast<DWORD>(c.promisedSeconds + kBusyMarginSeconds))
        << "the call took too long";
    if (c.kit == Kit::kModalWizard) {
      // Once the box is up, the click is given up within the click's check.
      const std::string text = kydtest::ReadFileBytes(notes);
      const size_t at = text.find("asked at ");
      ASSERT_NE(at, std::string::npos) << text;
      const DWORD asked = std::strtoul(text.c_str() + at + 9, nullptr, 10);
      EXPECT_LE((end - asked) / 1000, static_cast<DWORD>(kClickCheckSeconds + kBusyMarginSeconds)) << text;
    }

    ASSERT_TRUE(run.started);
    EXPECT_EQ(kydtest::LibraryResult(run), c.result) << run.output;
    EXPECT_EQ(StateOf(c), c.removed ? State::kRemoved : State::kIntact);
    EXPECT_EQ(FileExists(leftover.path()), c.result == 0 || c.plan) << "leftover INF";
    const std::wstring line = Fill(Fill(Fill(c.commandLine, L"$DIR", InstallFolder(FootprintOf(c))), L"$SYS",
                                        SystemFolder()), L"$KEY", c.key);
    // A plan names the command line it would run; a run logs the one it ran.
    const std::string text = c.plan ? run.output : kydtest::ReadFileBytes(logFile).substr(logStart);
    EXPECT_NE(text.find((c.plan ? "" : "] Uninst String: ") + kydtest::ToNarrow(line)), std::string::npos)
        << kydtest::ToNarrow(line);
    for (const wchar_t* program : FootprintOf(c).programs)
      EXPECT_TRUE(kydtest::ProcessIdsNamed(program, 2000).empty()) << kydtest::ToNarrow(program) << " still running";
  }

  using Values = kydtest::pkg::SeededUninstallEntry::Values;
  static kydtest::StagedHost* host_;
  static kyd::UniqueDesktop desktop_;
  std::list<kydtest::pkg::SeededUninstallEntry> seeded_;
};

kydtest::StagedHost* RealPackageRoad::host_ = nullptr;
kyd::UniqueDesktop RealPackageRoad::desktop_;

TEST_F(RealPackageRoad, EachPackageEndsFullyRemovedOrIntactInBoundedTime) {
  const std::wstring nsis = L"\"$DIR\\uninst.exe\"", msi = L"\"$SYS\\msiexec.exe\" /x $KEY /qn /norestart";
  const std::vector<RealCase> cases = {
      // NSIS keeps its button (it becomes "Close", greyed out while the
      // uninstaller works for longer than the grace period).
      {"NSIS wizard driven by a windowed variant", Kit::kNsis, L"nsis-wizard.exe", L"IDT Kyd Nsis Wizard",
       L"KydNsisWizard", false, 60, 1, true, nsis, 60 + 8},
      {"NSIS package with a QuietUninstallString", Kit::kNsis, L"nsis-quiet.exe", L"Kyd Nsis Quiet", L"KydNsisQuiet",
       false, 30, 1, true, nsis + L" /NCRC /S", 30 + 5},
      {"a plan lists the NSIS switch and changes nothing", Kit::kNsis, L"nsis-plain.exe", L"Kyd Nsis Plain",
       L"KydNsisPlain", true, 30, 1, false, nsis + L" /S", 0},
      {"NSIS package recognised from its uninstaller", Kit::kNsis, L"nsis-plain.exe", L"Kyd Nsis Plain",
       L"KydNsisPlain", false, 30, 1, true, nsis + L" /S", 30 + 5},
      {"Windows Installer package", Kit::kMsi, L"msi-panel.msi", L"Kyd Msi Panel",
       L"{6B1B5A3E-3C1D-4C55-9E8A-4B7D2F0C1A31}", false, 60, 1, true, msi, 60 + 5},
      {"Windows Installer package asking for a restart", Kit::kMsi, L"msi-restart.msi", L"Kyd Msi Restart",
       L"{6B1B5A3E-3C1D-4C55-9E8A-4B7D2F0C1A32}", false, 60, 2, true, msi, 60 + 5},
      // msiexec answers 1605: nothing is removed, nothing is waited for but
      // the grace a finished uninstaller gets.
      {"Windows Installer entry of an unknown product", Kit::kStaleMsi, L"", L"Kyd Msi Stale",
       L"{6B1B5A3E-3C1D-4C55-9E8A-4B7D2F0C1A3F}", false, 60, 0, false, msi, 5},
      // Nobody answers the box: the click is not taken, the wizard is ended.
      // The library looks for the wizard's first page for up to 120 s.
      {"wizard whose button opens a modal box", Kit::kModalWizard, L"", L"IDT Kyd Modal Wizard", L"KydModalWizard",
       false, 20, 0, false, L"\"$DIR\\kydmodal.exe\"", 120 + kClickCheckSeconds},
  };
  for (const RealCase& c : cases) Run(c);
}

}  // namespace
