#include <gtest/gtest.h>

#include <map>
#include <sstream>

#include "platform/env.h"
#include "support/staged_host.h"

namespace {

using kydtest::RunAsWindowsVersion;

std::map<std::string, std::string> ParseProbe(const std::string& output) {
  std::map<std::string, std::string> values;
  std::istringstream lines(output);
  std::string line;
  while (std::getline(lines, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    size_t eq = line.find('=');
    if (eq != std::string::npos) values[line.substr(0, eq)] = line.substr(eq + 1);
  }
  return values;
}

std::map<std::string, std::string> ProbeAs(const wchar_t* version) {
  kydtest::ProcessResult run = RunAsWindowsVersion(L"envprobe", version, L"env");
  EXPECT_TRUE(run.started);
  EXPECT_EQ(run.exitCode, 0u) << run.output;
  return ParseProbe(run.output);
}

// Windows as Wine reports it to one program: version class and bitness.
TEST(OsVersionClassW64, FollowsTheReleaseInTheSixtyFourBitColumn) {
  EXPECT_EQ(ProbeAs(L"win7")["class"], "0x800");
  EXPECT_EQ(ProbeAs(L"win81")["class"], "0x8000");
  EXPECT_EQ(ProbeAs(L"win8")["class"], "0x2000");
  EXPECT_EQ(ProbeAs(L"winxp64")["class"], "0x20");  // XP x64 is NT 5.2
  EXPECT_EQ(ProbeAs(L"vista")["class"], "0x80");
  EXPECT_EQ(ProbeAs(L"win2008")["class"], "0x200");  // 6.0 server is not Vista
}

TEST(OsVersionClassW32, FollowsTheReleaseInTheThirtyTwoBitColumn) {
  EXPECT_EQ(ProbeAs(L"winxp")["class"], "0x4");
  EXPECT_EQ(ProbeAs(L"win7")["class"], "0x400");
  EXPECT_EQ(ProbeAs(L"win81")["class"], "0x4000");
  EXPECT_EQ(ProbeAs(L"win2008")["class"], "0x100");
}

TEST(OsVersionClass, WindowsTenHasNoClassAndIsAskedAgain) {
  auto values = ProbeAs(L"win10");
  EXPECT_EQ(values["class"], "0x0");
  EXPECT_EQ(values["class_again"], "0x0");
}

TEST(OsVersionClass, UnknownMinorsHaveNoClass) {
  EXPECT_EQ(kyd::VersionClassFor(4, 1, 0, false), 0u);
  EXPECT_EQ(kyd::VersionClassFor(5, 3, 0, true), 0u);
  EXPECT_EQ(kyd::VersionClassFor(6, 5, 0, true), 0u);
  EXPECT_EQ(kyd::VersionClassFor(6, 4, 0, true), 0x20000u);
  EXPECT_EQ(kyd::VersionClassFor(4, 90, 0, true), 0x1u);
}

TEST(EnvironmentW64, SeesWow64AndReportsASixtyFourBitSystem) {
  auto values = ProbeAs(L"win7");
  EXPECT_EQ(values["is32"], "0");
  EXPECT_EQ(values["wow64"], "1");
  EXPECT_FALSE(kyd::Is32BitSystem());
  EXPECT_TRUE(kyd::IsWow64());
}

TEST(EnvironmentW32, ReportsAThirtyTwoBitSystem) {
  auto values = ProbeAs(L"win7");
  EXPECT_EQ(values["is32"], "1");
  EXPECT_EQ(values["wow64"], "0");
}

TEST(Environment, FoldersAreTheWindowsOnes) {
  auto values = ProbeAs(L"win7");
  EXPECT_EQ(values["windows"], "C:\\windows");
  EXPECT_EQ(values["inf"], "C:\\windows\\inf");
  EXPECT_EQ(values["system"], "C:\\windows\\system32");
  ASSERT_FALSE(values["temp"].empty());
  EXPECT_EQ(values["temp"].back(), '\\');
  EXPECT_NE(values["appdata"].find("AppData\\Roaming"), std::string::npos) << values["appdata"];
  EXPECT_NE(values["common"].find("Common Files"), std::string::npos) << values["common"];
  EXPECT_EQ(kyd::GetInfDir(), kyd::GetWindowsDir() + L"\\inf");
}

// The debug privilege is held for a clean and the token is put back exactly
// as it was, so a second clean in the same process gets it again.
TEST(DebugPrivilege, IsHeldDuringEachScopeAndRestoredAfter) {
  const long before = kyd::DebugPrivilegeAttributes();
  ASSERT_NE(before, -1) << "the test token lacks SeDebugPrivilege";
  for (int round = 0; round < 2; ++round) {
    {
      kyd::DebugPrivilegeScope scope;
      EXPECT_TRUE(kyd::DebugPrivilegeAttributes() & SE_PRIVILEGE_ENABLED) << "round " << round;
    }
    EXPECT_EQ(kyd::DebugPrivilegeAttributes(), before) << "round " << round;
  }
}

TEST(DebugPrivilege, AnAlreadyEnabledPrivilegeStaysEnabled) {
  const long before = kyd::DebugPrivilegeAttributes();
  ASSERT_NE(before, -1);
  {
    kyd::DebugPrivilegeScope outer;
    const long enabled = kyd::DebugPrivilegeAttributes();
    { kyd::DebugPrivilegeScope inner; }
    EXPECT_EQ(kyd::DebugPrivilegeAttributes(), enabled);
  }
  EXPECT_EQ(kyd::DebugPrivilegeAttributes(), before);
}

}  // namespace
