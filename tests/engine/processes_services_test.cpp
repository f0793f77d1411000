// Process termination and service stopping against real processes and
// services of our own in the test's Wine prefix.
#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>

#include "engine/base_drv_uninst.h"
#include "support/engine_bench.h"
#include "support/wine_bench.h"

using kyd::CBaseDrvUninst;
using kyd::NameList;
using namespace kydtest;

namespace {

std::string Narrow(const std::wstring& text) { return ToNarrow(text); }

class ProcessKill : public ::testing::Test {
 protected:
  // Names of our own, unique to this test process.
  std::wstring Exe(const std::wstring& stem) { return UniqueName(L"KydSlp") + stem + L".exe"; }

  ScratchDir dir_{L"kill"};          // outlives the processes started from it
  SleeperProcesses sleepers_{dir_.path()};
  LogCapture log_;
};

TEST_F(ProcessKill, EveryInstanceOfAListedNameEndsAndIsLoggedOnce) {
  std::wstring tool = Exe(L"Tool"), other = Exe(L"Other");
  int first = sleepers_.Start(tool), second = sleepers_.Start(tool), bystander = sleepers_.Start(other);
  ASSERT_GE(first, 0);
  ASSERT_GE(second, 0);
  ASSERT_GE(bystander, 0);

  const wchar_t* const names[] = {L"KydNoSuchProgram.exe", tool.c_str()};
  EXPECT_TRUE(CBaseDrvUninst::KillProcesses(names));

  EXPECT_TRUE(sleepers_.Ended(first));
  EXPECT_TRUE(sleepers_.Ended(second));
  EXPECT_EQ(sleepers_.ExitCode(first), 0u);  // TerminateProcess with exit code 0
  EXPECT_FALSE(sleepers_.Ended(bystander, 300));
  EXPECT_EQ(log_.Count("kill process " + Narrow(tool)), 2);
  EXPECT_EQ(log_.Count("kill process " + Narrow(other)), 0);
}

TEST_F(ProcessKill, NameInOtherLetterCaseEndsButPartOfTheNameDoesNot) {
  std::wstring gui = Exe(L"Gui64");
  int process = sleepers_.Start(gui);
  ASSERT_GE(process, 0);

  // Parts of the name: without the "64" suffix, without the extension, the tail.
  std::wstring withoutSuffix = Exe(L"Gui");
  std::wstring withoutExtension = gui.substr(0, gui.size() - 4);
  const wchar_t* const parts[] = {withoutSuffix.c_str(), withoutExtension.c_str(), L"Gui64.exe"};
  CBaseDrvUninst::KillProcesses(parts);
  EXPECT_FALSE(sleepers_.Ended(process, 500));
  EXPECT_TRUE(log_.Messages().empty());

  std::wstring upper = gui;
  for (wchar_t& c : upper) c = static_cast<wchar_t>(towupper(c));
  const wchar_t* const other[] = {upper.c_str()};
  CBaseDrvUninst::KillProcesses(other);
  EXPECT_TRUE(sleepers_.Ended(process));
}

TEST_F(ProcessKill, KillProcessByNameEndsEveryInstanceSilently) {
  std::wstring shell = Exe(L"Shell");
  int first = sleepers_.Start(shell), second = sleepers_.Start(shell);
  ASSERT_GE(second, 0);

  CBaseDrvUninst::KillProcessByName(nullptr);
  EXPECT_FALSE(sleepers_.Ended(first, 200));

  std::wstring lower = shell;
  for (wchar_t& c : lower) c = static_cast<wchar_t>(towlower(c));
  CBaseDrvUninst::KillProcessByName(lower.c_str());
  EXPECT_TRUE(sleepers_.Ended(first));
  EXPECT_TRUE(sleepers_.Ended(second));
  EXPECT_TRUE(log_.Messages().empty());
}

TEST_F(ProcessKill, EmptyListEndsNothing) {
  int process = sleepers_.Start(Exe(L"Idle"));
  ASSERT_GE(process, 0);
  EXPECT_TRUE(CBaseDrvUninst::KillProcesses(NameList()));
  EXPECT_TRUE(CBaseDrvUninst::KillProcesses(NameList(nullptr, 3)));
  EXPECT_FALSE(sleepers_.Ended(process, 300));
}

// ---------------------------------------------------------------- services

class ServiceStop : public ::testing::Test {
 protected:
  std::wstring Name(const std::wstring& stem) { return UniqueName(L"KydSvc") + stem; }
  LogCapture log_;
};

TEST_F(ServiceStop, StoppedAndPausedAreReleasedAndOneThatIgnoresTheRequestIsLeftAfterFiveSeconds) {
  TestService stops(Name(L"Stops"), "stop");
  TestService pauses(Name(L"Pauses"), "pause");
  TestService ignores(Name(L"Ignores"), "ignore");
  ASSERT_TRUE(stops.running());
  ASSERT_TRUE(pauses.running());
  ASSERT_TRUE(ignores.running());
  std::wstring missing = Name(L"Missing");
  const wchar_t* const names[] = {missing.c_str(), stops.name().c_str(), pauses.name().c_str(),
                                  ignores.name().c_str()};

  DWORD start = GetTickCount();
  EXPECT_TRUE(CBaseDrvUninst::StopServices(names));
  DWORD elapsed = GetTickCount() - start;

  EXPECT_GE(elapsed, 4900u);   // 50 passes of 100 ms
  EXPECT_LT(elapsed, 20000u);
  EXPECT_EQ(stops.State(SERVICE_STOPPED, 10000), static_cast<DWORD>(SERVICE_STOPPED));
  EXPECT_EQ(pauses.State(SERVICE_PAUSED, 10000), static_cast<DWORD>(SERVICE_PAUSED));
  EXPECT_EQ(ignores.State(), static_cast<DWORD>(SERVICE_RUNNING));
  std::vector<std::string> expected = {"kill service " + Narrow(stops.name()),
                                       "kill service " + Narrow(pauses.name()),
                                       "kill service " + Narrow(ignores.name())};
  EXPECT_EQ(log_.Messages(), expected);  // nothing for the name that is not installed
}

// How fast Wine's services answer is not the engine's to promise: the test
// watches for the moment both have answered and bounds the return from then
// (one 100 ms pass, and a margin a busy machine cannot eat), while a call
// that sat out its full five seconds after quick answers fails.
TEST_F(ServiceStop, ReturnsSoonOnceEveryServiceHasStoppedOrPaused) {
  TestService stops(Name(L"Quick"), "stop");
  TestService pauses(Name(L"QuickPause"), "pause");
  ASSERT_TRUE(stops.running());
  ASSERT_TRUE(pauses.running());
  const wchar_t* const names[] = {pauses.name().c_str(), stops.name().c_str()};

  // The watch reads both states through handles of its own, held for the
  // whole call as the engine holds its, and keeps each change it saw (a
  // read that fails shows as "e" and its error), for a failure to show.
  kyd::UniqueService manager(OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT));
  ASSERT_TRUE(manager);
  kyd::UniqueService watched[2] = {
      kyd::UniqueService(OpenServiceW(manager.get(), stops.name().c_str(), SERVICE_QUERY_STATUS)),
      kyd::UniqueService(OpenServiceW(manager.get(), pauses.name().c_str(), SERVICE_QUERY_STATUS))};
  ASSERT_TRUE(watched[0] && watched[1]);
  auto read = [&](int i) {
    SERVICE_STATUS status{};
    const bool ok = QueryServiceStatus(watched[i].get(), &status) != FALSE;
    std::string text = ok ? "" : "e";
    text += std::to_string(ok ? status.dwCurrentState : GetLastError());
    return text;
  };
  std::atomic<bool> returned{false};
  std::atomic<DWORD> answeredAt{0};
  std::string seen;
  const DWORD start = GetTickCount();
  const std::string stopped = std::to_string(SERVICE_STOPPED), paused = std::to_string(SERVICE_PAUSED);
  std::thread watch([&] {
    std::string last[2];
    DWORD slowest = 0;
    while (!returned) {
      const DWORD asked = GetTickCount();
      const std::string now[2] = {read(0), read(1)};
      if (GetTickCount() - asked > slowest) {
        slowest = GetTickCount() - asked;
        if (slowest >= 500)  // the service manager kept the watch waiting too
          seen += " (+" + std::to_string(asked - start) + "ms reads took " + std::to_string(slowest) + "ms)";
      }
      if (now[0] != last[0] || now[1] != last[1])
        seen += " +" + std::to_string(GetTickCount() - start) + "ms " + now[0] + "/" + now[1];
      last[0] = now[0];
      last[1] = now[1];
      if (answeredAt == 0 && now[0] == stopped && now[1] == paused) answeredAt = GetTickCount();
      Sleep(10);
    }
  });
  CBaseDrvUninst::StopServices(names);
  const DWORD end = GetTickCount();
  returned = true;
  watch.join();
  EXPECT_LT(end - start, 5000u + 3000u);  // 50 passes at most
  EXPECT_EQ(stops.State(), static_cast<DWORD>(SERVICE_STOPPED));
  EXPECT_EQ(pauses.State(), static_cast<DWORD>(SERVICE_PAUSED));
  std::vector<std::string> asked = {"kill service " + Narrow(pauses.name()),
                                    "kill service " + Narrow(stops.name())};
  EXPECT_EQ(log_.Messages(), asked);
  // Seen by the watch while the call still ran (else it returned first).
  if (answeredAt != 0) {
    EXPECT_LT(static_cast<LONG>(end - answeredAt), 100 + 2000) << "stop/pause states seen:" << seen;
  }
}

TEST_F(ServiceStop, RefusedStopIsLoggedAsErrorWithItsCode) {
  TestService idle(Name(L"NotStarted"), "stop", /*start=*/false);
  ASSERT_TRUE(idle.installed());
  const wchar_t* const names[] = {idle.name().c_str()};

  CBaseDrvUninst::StopServices(names);

  std::vector<LogCapture::Line> lines = log_.Lines();
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_EQ(lines[0].level, "ERROR");
  EXPECT_EQ(lines[0].unit, "BaseDrvUninst");
  // A service that is not running refuses the stop with ERROR_SERVICE_NOT_ACTIVE.
  EXPECT_EQ(lines[0].message,
            "ControlService stop failed " + Narrow(idle.name()) + " errorid(1062)");
}

TEST_F(ServiceStop, EmptyListOrUnknownNamesSleepOnceAndLogNothing) {
  std::wstring missing = Name(L"Nowhere");
  const wchar_t* const names[] = {missing.c_str()};
  for (NameList list : {NameList(), NameList(names)}) {
    DWORD start = GetTickCount();
    EXPECT_TRUE(CBaseDrvUninst::StopServices(list));
    DWORD elapsed = GetTickCount() - start;
    EXPECT_GE(elapsed, 90u);
    EXPECT_LT(elapsed, 1500u);
  }
  EXPECT_TRUE(log_.Messages().empty());
}

}  // namespace
