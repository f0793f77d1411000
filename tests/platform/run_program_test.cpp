// The bench's program runner: its time limit holds whatever the program
// does with its output pipe, so a hung child fails its test instead of
// holding it until ctest's own timeout.
#include <gtest/gtest.h>
#include <windows.h>

#include <cstdlib>
#include <string>

#include "platform/handle.h"
#include "support/wine_bench.h"

namespace {

struct RunCase {
  const char* what;
  const wchar_t* sleeperArgs;  // sleeper [SECONDS [HOLDER_SECONDS]]
  DWORD limitMs;
  bool timedOut;
  bool holder;      // a program the child started holds the pipe
  DWORD returnsMs;  // the runner promises to be back by then
};

// What must never happen is a wait for the 60 s the sleepers would last.
constexpr DWORD kMarginMs = 20000;

const RunCase kCases[] = {
    {"child sleeps with the pipe open", L"60", 2000, true, false, 2000},
    {"child and its child hold the pipe past the limit", L"60 60", 2000, true, true, 2000},
    {"child ends while its child holds the pipe", L"0 60", 60000, false, true, 2000},
    {"child ends within the limit", L"1", 60000, false, false, 60000},
};

// The holder's process ID from "holder <pid>".
DWORD HolderId(const std::string& output) {
  size_t at = output.find("holder ");
  return at == std::string::npos ? 0 : std::strtoul(output.c_str() + at + 7, nullptr, 10);
}

TEST(RunProgramBound, ReturnsWithinItsLimitWhateverTheChildDoesWithThePipe) {
  const std::wstring sleeper = L"\"" + kydtest::TestExeDir() + L"\\sleeper.exe\" ";
  for (const RunCase& c : kCases) {
    SCOPED_TRACE(c.what);
    const DWORD start = GetTickCount();
    kydtest::ProcessResult run = kydtest::RunProgram(sleeper + c.sleeperArgs, {}, c.limitMs);
    const DWORD took = GetTickCount() - start;
    ASSERT_TRUE(run.started);
    EXPECT_LT(took, c.returnsMs + kMarginMs);
    EXPECT_EQ(run.timedOut, c.timedOut);
    EXPECT_EQ(run.exitCode, c.timedOut ? 0xDEADu : 0u);
    if (!c.holder) continue;
    // Output written before the child hung or ended is kept.
    const DWORD holderId = HolderId(run.output);
    ASSERT_NE(holderId, 0u) << run.output;
    kyd::UniqueHandle holder(OpenProcess(SYNCHRONIZE, FALSE, holderId));
    // The limit ends what the child started too.
    if (c.timedOut) {
      EXPECT_TRUE(!holder || WaitForSingleObject(holder.get(), 5000) == WAIT_OBJECT_0);
    }
    kydtest::EndProcess(holderId);
  }
}

}  // namespace
