// In process: which quiet command a registered uninstaller gets, recognised
// from the entry, the command line and the uninstaller's own files.
#include <gtest/gtest.h>

#include <windows.h>

#include <string>

#include "packages/silent_command.h"
#include "support/wine_bench.h"

namespace {

using kyd::UninstallerKind;

constexpr wchar_t kCode[] = L"{6B1B5A3E-3C1D-4C55-9E8A-4B7D2F0C1A99}";

// A copy of a real NSIS installer with its data header's flags set to
// flags (1: an uninstaller, as NSIS writes it when installing).
bool NsisCopy(const std::wstring& path, unsigned char flags) {
  std::string bytes = kydtest::ReadFileBytes(kydtest::WinPath(KYD_REAL_PACKAGES_DIR) + L"\\nsis-plain.exe");
  const size_t magic = bytes.find("NullsoftInst");
  if (magic == std::string::npos || magic < 8) return false;
  bytes[magic - 8] = static_cast<char>(flags);
  return kydtest::WriteFileBytes(path, bytes);
}

TEST(SilentCommand, EachKindOfUninstallerGetsItsDocumentedQuietSwitch) {
  kydtest::ScratchDir dir(L"silent");
  const std::wstring folder = dir / L"Kyd Tools";
  CreateDirectoryW(folder.c_str(), nullptr);
  const std::wstring nsis = folder + L"\\uninst.exe", nsisSetup = folder + L"\\setup.exe";
  ASSERT_TRUE(NsisCopy(nsis, 1));
  ASSERT_TRUE(NsisCopy(nsisSetup, 0));
  const std::string pe = kydtest::ReadFileBytes(kydtest::TestExeDir() + L"\\pkguninst.exe");
  ASSERT_FALSE(pe.empty());
  for (const wchar_t* name : {L"unins000", L"unins001", L"unins002"})
    ASSERT_TRUE(kydtest::WriteFileBytes(folder + L"\\" + name + L".exe", pe));
  ASSERT_TRUE(kydtest::WriteFileBytes(folder + L"\\unins000.dat", std::string("Inno Setup Uninstall Log (u)") +
                                                                       std::string(36, '\0')));
  ASSERT_TRUE(kydtest::WriteFileBytes(folder + L"\\unins002.dat", "Kyd Uninstall Log (u)"));
  // Not a program image, though it carries NSIS's marker.
  ASSERT_TRUE(kydtest::WriteFileBytes(folder + L"\\text.exe", std::string(1024, ' ') + "NullsoftInst"));

  wchar_t system[MAX_PATH] = {};
  GetSystemDirectoryW(system, MAX_PATH);
  const std::wstring msiexec = L"\"" + std::wstring(system) + L"\\msiexec.exe\" /x ";
  const std::wstring quoted = L"\"" + nsis + L"\"";
  const std::wstring inno = L"\"" + folder + L"\\unins000.exe\"";
  const std::wstring innoSwitches = L" /VERYSILENT /SUPPRESSMSGBOXES /NORESTART";
  const std::wstring code = kCode;

  const struct {
    std::wstring quiet, registered;
    UninstallerKind kind;
    std::wstring line;
  } cases[] = {
      // A registered quiet command wins over everything, as registered.
      {L"MsiExec.exe /X" + code + L" /qn", quoted, UninstallerKind::kQuietCommand, L"MsiExec.exe /X" + code + L" /qn"},
      {quoted + L" /quiet", L"MsiExec.exe /X" + code, UninstallerKind::kQuietCommand, quoted + L" /quiet"},
      // Windows Installer: whatever the spelling, the system's msiexec removes the product quietly.
      {L"", L"MsiExec.exe /I" + code, UninstallerKind::kWindowsInstaller, msiexec + code + L" /qn /norestart"},
      {L"", L"\"C:\\Windows\\System32\\MSIEXEC.EXE\" /x \"" + code + L"\"", UninstallerKind::kWindowsInstaller,
       msiexec + code + L" /qn /norestart"},
      {L"", L"msiexec /qb -X " + code, UninstallerKind::kWindowsInstaller, msiexec + code + L" /qn /norestart"},
      {L"", L"MsiExec.exe /UNINSTALL " + code, UninstallerKind::kWindowsInstaller, msiexec + code + L" /qn /norestart"},
      // Any other msiexec line runs as registered: msiexec knows no " -s".
      {L"", L"msiexec /i \"C:\\Kyd\\panel.msi\"", UninstallerKind::kInstallerAsRegistered,
       L"msiexec /i \"C:\\Kyd\\panel.msi\""},
      {L"", L"msiexec /x{6B1B5A3E-3C1D-4C55-9E8A}", UninstallerKind::kInstallerAsRegistered,
       L"msiexec /x{6B1B5A3E-3C1D-4C55-9E8A}"},
      {L"", L"msiexec.exe /uninstall \"C:\\Kyd\\panel.msi\"", UninstallerKind::kInstallerAsRegistered,
       L"msiexec.exe /uninstall \"C:\\Kyd\\panel.msi\""},
      {L"", L"MsiExec.exe /package " + code, UninstallerKind::kInstallerAsRegistered, L"MsiExec.exe /package " + code},
      {L"", L"C:\\Kyd\\msiexec2.exe /x" + code, UninstallerKind::kUnknown, L"C:\\Kyd\\msiexec2.exe /x" + code + L" -s"},
      // NSIS, from its data header; "/S" goes before "_?=", which takes the rest of the line.
      {L"", quoted, UninstallerKind::kNsis, quoted + L" /S"},
      {L"", nsis + L" _?=" + folder, UninstallerKind::kNsis, nsis + L" /S _?=" + folder},
      {L"", L"\"" + nsisSetup + L"\" /uninstall", UninstallerKind::kUnknown, L"\"" + nsisSetup + L"\" /uninstall -s"},
      // Inno Setup, from the uninstall log beside the program.
      {L"", inno, UninstallerKind::kInnoSetup, inno + innoSwitches},
      {L"", L"\"" + folder + L"\\unins001.exe\"", UninstallerKind::kUnknown, L"\"" + folder + L"\\unins001.exe\" -s"},
      {L"", L"\"" + folder + L"\\unins002.exe\"", UninstallerKind::kUnknown, L"\"" + folder + L"\\unins002.exe\" -s"},
      {L"", L"\"" + folder + L"\\text.exe\"", UninstallerKind::kUnknown, L"\"" + folder + L"\\text.exe\" -s"},
      // A bare name is not looked for.
      {L"", L"uninst.exe /remove", UninstallerKind::kUnknown, L"uninst.exe /remove -s"},
  };
  for (const auto& c : cases) {
    kyd::APP_UNSETUP_PACKAGE record;
    record.wsUninstString = c.registered;
    record.wsQuietUninstString = c.quiet;
    const kyd::SilentCommand silent = kyd::MakeSilentCommand(record);
    EXPECT_EQ(silent.kind, c.kind) << kydtest::ToNarrow(c.registered);
    EXPECT_EQ(silent.commandLine, c.line) << kydtest::ToNarrow(c.registered);
  }
}

}  // namespace
