// In process: how a registered uninstall command is started, and where
// AMD's install manager may be looked for.
#include <gtest/gtest.h>

#include <windows.h>

#include <string>

#include "packages/app_package.h"
#include "packages/silent_runner.h"
#include "packages/window_automation.h"
#include "platform/handle.h"
#include "support/wine_bench.h"

namespace {

TEST(UninstallCommand, UnquotedPathWithBlanksIsQuotedAndNamed) {
  kydtest::ScratchDir dir(L"command");
  const std::wstring folder = dir / L"Kyd Tools";
  CreateDirectoryW(folder.c_str(), nullptr);
  CreateDirectoryW((folder + L"\\setup.exe").c_str(), nullptr);
  const std::wstring exe = folder + L"\\uninst.exe";
  ASSERT_TRUE(kydtest::WriteFileBytes(exe, "MZ"));

  const struct {
    std::wstring registered, application, line;
  } cases[] = {
      {exe + L" /x -s", exe, L"\"" + exe + L"\" /x -s"},
      {exe, exe, L"\"" + exe + L"\""},
      {L"\"" + exe + L"\" /x", L"", L"\"" + exe + L"\" /x"},
      // A folder named like a program is not one.
      {folder + L"\\setup.exe /y", L"", folder + L"\\setup.exe /y"},
      {folder + L"\\missing.exe /x", L"", folder + L"\\missing.exe /x"},
      {exe + L"x /y", L"", exe + L"x /y"},
      // Bare names are left to Windows' own search.
      {L"MsiExec.exe /X{6F1D3C20-0000-0000-0000-000000000000}", L"",
       L"MsiExec.exe /X{6F1D3C20-0000-0000-0000-000000000000}"},
      {L"", L"", L""},
  };
  for (const auto& c : cases) {
    const kyd::ProgramCommand program = kyd::ResolveUninstallCommand(c.registered);
    EXPECT_EQ(program.applicationName, c.application) << kydtest::ToNarrow(c.registered);
    EXPECT_EQ(program.commandLine, c.line) << kydtest::ToNarrow(c.registered);
  }
}

TEST(AmdInstallManager, PathBelowAnAbsoluteInstallLocationOnly) {
  const struct {
    const wchar_t* location;
    bool is64;
    const wchar_t* path;
  } cases[] = {
      {L"C:\\Program Files\\AMD\\CIM\\", true, L"C:\\Program Files\\AMD\\CIM\\Bin64\\InstallManagerApp.exe"},
      {L"C:\\Program Files\\AMD\\CIM", false, L"C:\\Program Files\\AMD\\CIM\\Bin\\InstallManagerApp.exe"},
      {L"\\\\server\\share\\CIM", true, L"\\\\server\\share\\CIM\\Bin64\\InstallManagerApp.exe"},
      {L"", true, L""},
      {L"AMD\\CIM", true, L""},
      {L"\\AMD\\CIM", false, L""},
      {L"C:AMD", false, L""},
  };
  for (const auto& c : cases)
    EXPECT_EQ(kyd::AmdInstallManagerPath(c.location, c.is64), c.path) << kydtest::ToNarrow(c.location);
}

// A desktop of the uninstaller's name that already exists was made by
// someone else: the uninstaller gets a fresh one, never theirs.
TEST(PrivateDesktop, AnExistingDesktopOfTheNameIsPassedOver) {
  static int calls = 0;
  const std::wstring stem = L"kyd_probe_" + std::to_wstring(GetCurrentProcessId()) + L"_";
  const std::wstring free = stem + std::to_wstring(++calls), taken = stem + std::to_wstring(++calls);
  std::wstring name;
  kyd::UniqueDesktop own = kyd::MakePrivateDesktop(free, name);
  EXPECT_TRUE(own);
  EXPECT_EQ(name, free);

  kyd::UniqueDesktop theirs(CreateDesktopW(taken.c_str(), nullptr, nullptr, 0, GENERIC_ALL, nullptr));
  ASSERT_TRUE(theirs);
  std::wstring first, second;
  kyd::UniqueDesktop fresh = kyd::MakePrivateDesktop(taken, first);
  kyd::UniqueDesktop again = kyd::MakePrivateDesktop(taken, second);
  EXPECT_TRUE(fresh && again);
  EXPECT_EQ(first.rfind(taken + L"-", 0), 0u) << kydtest::ToNarrow(first);
  EXPECT_EQ(second.rfind(taken + L"-", 0), 0u) << kydtest::ToNarrow(second);
  EXPECT_NE(first, second);
}

}  // namespace
