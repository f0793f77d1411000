// The package classes' pure parts, in process: which variant a catalogue
// name picks, how a registered command is started, where AMD's install
// manager is looked for.
#include <gtest/gtest.h>

#include <windows.h>

#include <string>
#include <typeinfo>

#include "packages/app_package.h"
#include "packages/silent_runner.h"
#include "support/wine_bench.h"

namespace {

using kyd::CAmdDisplayPackage;
using kyd::CAppPackage;
using kyd::CIdtPackage;
using kyd::CNvDisplayPackage;
using kyd::CRealtekPackage;

TEST(PackageVariant, FirstVendorWordInTheNameDecides) {
  const struct {
    const wchar_t* name;
    const std::type_info& variant;
  } cases[] = {
      {L"AMD Catalyst Install Manager", typeid(CAmdDisplayPackage)},
      {L"NVIDIA Control Panel", typeid(CNvDisplayPackage)},
      {L"nvidia graphics driver", typeid(CNvDisplayPackage)},
      {L"Realtek High Definition Audio Driver", typeid(CRealtekPackage)},
      {L"IDT Audio", typeid(CIdtPackage)},
      {L"NVIDIA and AMD together", typeid(CAmdDisplayPackage)},
      {L"Kyd Audio Panel", typeid(CAppPackage)},
      {L"", typeid(CAppPackage)},
  };
  for (const auto& c : cases) {
    auto package = kyd::CreateAppPackage(c.name);
    ASSERT_TRUE(package);
    EXPECT_EQ(typeid(*package), c.variant) << kydtest::ToNarrow(c.name);
    EXPECT_EQ(package->timeOut, 0);
    EXPECT_EQ(package->restart, 0);
  }
}

TEST(UninstallCommand, UnquotedPathWithBlanksIsQuotedAndNamed) {
  kydtest::ScratchDir dir(L"command");
  const std::wstring folder = dir / L"Kyd Tools";
  CreateDirectoryW(folder.c_str(), nullptr);
  CreateDirectoryW((folder + L"\\setup.exe").c_str(), nullptr);
  const std::wstring exe = folder + L"\\uninst.exe";
  ASSERT_TRUE(kydtest::WriteFileBytes(exe, "MZ"));
  ASSERT_TRUE(kydtest::WriteFileBytes(dir / L"Kyd.exe", "MZ"));

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

// The environment is this process's own; each case sets both variables.
TEST(AmdInstallManager, FallbackBelowTheProgramFilesFolders) {
  kydtest::ScratchDir dir(L"amdcim");
  const std::wstring found = dir / L"pf";
  const std::wstring tool = found + L"\\ATI\\CIM\\Bin64\\InstallManagerApp.exe";
  CreateDirectoryW(found.c_str(), nullptr);
  for (const wchar_t* sub : {L"\\ATI", L"\\ATI\\CIM", L"\\ATI\\CIM\\Bin64"})
    CreateDirectoryW((found + sub).c_str(), nullptr);
  ASSERT_TRUE(kydtest::WriteFileBytes(tool, "MZ"));
  const std::wstring other = dir / L"other";
  wchar_t savedFiles[MAX_PATH] = {}, saved6432[MAX_PATH] = {};
  const bool hadFiles = GetEnvironmentVariableW(L"ProgramFiles", savedFiles, MAX_PATH) > 0;
  const bool had6432 = GetEnvironmentVariableW(L"ProgramW6432", saved6432, MAX_PATH) > 0;

  const struct {
    std::wstring given, programFiles, programW6432, path;
  } cases[] = {
      {tool, other, other, tool},                      // an existing tool stays
      {L"", found, other, tool},                       // programfiles first
      {L"", other, found, tool},                       // then programw6432
      {L"", other, L"", other + L"\\ATI\\CIM\\Bin64\\InstallManagerApp.exe"},
      {L"", L"pf", found, tool},                       // a relative folder is passed over
      {L"", L"", L"..\\pf", L""},
  };
  for (const auto& c : cases) {
    SetEnvironmentVariableW(L"ProgramFiles", c.programFiles.empty() ? nullptr : c.programFiles.c_str());
    SetEnvironmentVariableW(L"ProgramW6432", c.programW6432.empty() ? nullptr : c.programW6432.c_str());
    std::wstring path = c.given;
    kyd::CheckFileExits(path, true);
    EXPECT_EQ(path, c.path) << kydtest::ToNarrow(c.programFiles) << " / " << kydtest::ToNarrow(c.programW6432);
  }
  SetEnvironmentVariableW(L"ProgramFiles", hadFiles ? savedFiles : nullptr);
  SetEnvironmentVariableW(L"ProgramW6432", had6432 ? saved6432 : nullptr);
}

}  // namespace
