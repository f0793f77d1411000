// The local accounts whose profiles the cleaners visit.
//
// Wine's NetUserEnum answers information level 1 with ERROR_INVALID_LEVEL
// (levels 0 and 20 list only "root"), so Windows' answer is played by a test
// double of netapi32.dll (tests/programs/netapi_double): a copy of this
// test program runs beside it and prints what GetAllUserName returned. The
// copy's name gets a DLL override of its own in the prefix (Wine reads
// WINEDLLOVERRIDES from the Unix environment only, so a Windows environment
// entry would not reach the child).
#include <gtest/gtest.h>

#include <cstdlib>
#include <sstream>

#include "support/engine_bench.h"
#include "support/wine_bench.h"

using namespace kydtest;

namespace {

struct ChildResult {
  std::vector<std::string> users;
  std::vector<std::string> errors;
  bool ran = false;
};

class UserAccounts : public ::testing::Test {
 protected:
  void SetUp() override {
    wchar_t self[MAX_PATH] = {};
    GetModuleFileNameW(nullptr, self, MAX_PATH);
    std::wstring childName = UniqueName(L"kydaccounts") + L".exe";
    child_ = dir_ / childName;
    ASSERT_TRUE(CopyFileW(self, child_.c_str(), FALSE));
    std::wstring app = keys_.Add(HKEY_CURRENT_USER, L"Software\\Wine\\AppDefaults\\" + childName, false);
    ASSERT_TRUE(RegSetString(HKEY_CURRENT_USER, app + L"\\DllOverrides", L"netapi32",
                             L"native,builtin", REG_SZ, false));
    ASSERT_TRUE(MakeNetapiDouble(dir_ / L"netapi32.dll"));
  }
  ChildResult RunChild(const std::wstring& users, const std::wstring& status = L"0") {
    ProcessResult run = RunProgram(L"\"" + child_ + L"\" --gtest_filter=UserAccountsChild.*",
                                   {L"KYD_NETAPI_USERS=" + users,
                                    L"KYD_NETAPI_STATUS=" + status});
    ChildResult result;
    result.ran = run.started && run.exitCode == 0;
    std::istringstream lines(run.output);
    std::string line;
    while (std::getline(lines, line)) {
      if (!line.empty() && line.back() == '\r') line.pop_back();
      if (line.rfind("USER=", 0) == 0) result.users.push_back(line.substr(5));
      if (line.rfind("ERROR=", 0) == 0) result.errors.push_back(line.substr(6));
    }
    if (!result.ran) ADD_FAILURE() << run.output;
    return result;
  }

  ScratchDir dir_{L"accounts"};
  SeededKeys keys_;
  std::wstring child_;
};

TEST_F(UserAccounts, AdministratorsAndUsersButNeverGuestsOrAspnetUsers) {
  ChildResult result = RunChild(L"Administrator:2;Guest:0;ASPNET:1;alice:1;Bob:2;AspNet:1");
  EXPECT_EQ(result.users, (std::vector<std::string>{"Administrator", "alice", "Bob"}));
  EXPECT_TRUE(result.errors.empty());

  // An administrator named ASPNET is listed.
  result = RunChild(L"aspnet:2;carol:1");
  EXPECT_EQ(result.users, (std::vector<std::string>{"aspnet", "carol"}));
}

TEST_F(UserAccounts, MoreDataStillListsWhatCameAndFailuresListNothing) {
  ChildResult result = RunChild(L"dave:1", L"234");
  EXPECT_EQ(result.users, std::vector<std::string>{"dave"});
  EXPECT_TRUE(result.errors.empty());

  result = RunChild(L"erin:1", L"5");
  EXPECT_TRUE(result.users.empty());
  EXPECT_EQ(result.errors, std::vector<std::string>{"GetAllUserName failed(5)"});
}

// Wine's own answer: level 1 is refused, the failure is logged as an error
// and nothing is listed (Windows lists the accounts, as above).
TEST_F(UserAccounts, WineRefusesLevelOneAndTheFailureIsLogged) {
  LogCapture log;
  std::vector<std::wstring> names = {L"kept"};
  kydtest::TestEngine::GetAllUserName(names);
  if (names.size() > 1) GTEST_SKIP() << "this Wine lists accounts at level 1";
  EXPECT_EQ(names, std::vector<std::wstring>{L"kept"});
  std::vector<LogCapture::Line> lines = log.Lines();
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_EQ(lines[0].level, "ERROR");
  EXPECT_EQ(lines[0].message, "GetAllUserName failed(124)");  // ERROR_INVALID_LEVEL
}

// Not a suite of its own: runs only as the child of the tests above (the
// macro keeps it out of the suite list the build registers).
#define KYD_CHILD_TEST TEST
KYD_CHILD_TEST(UserAccountsChild, PrintAccounts) {
  if (!std::getenv("KYD_NETAPI_USERS")) GTEST_SKIP() << "run by UserAccounts only";
  LogCapture log;
  std::vector<std::wstring> names;
  kydtest::TestEngine::GetAllUserName(names);
  for (const std::wstring& name : names) std::printf("USER=%s\n", ToNarrow(name).c_str());
  for (const LogCapture::Line& line : log.Lines())
    if (line.level == "ERROR") std::printf("ERROR=%s\n", line.message.c_str());
  std::fflush(stdout);
}

}  // namespace
