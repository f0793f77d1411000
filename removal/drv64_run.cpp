#include "removal/drv64_run.h"

#include <memory>
#include <new>

#include "machine/machine.h"
#include "platform/base_log.h"
#include "platform/command_child.h"
#include "platform/command_line.h"
#include "platform/console_runner.h"
#include "platform/env.h"

namespace kyd {
namespace {

constexpr char kLogUnit[] = "KYDRemoveDriver";

struct CallRun {
  DWORD thread = 0;
  std::unique_ptr<CommandChild> child;  // started on first use
};
CallRun* g_call = nullptr;
long g_starts = 0;

std::wstring Program() {
  const std::wstring host = GetHostFolder();
  return host.empty() ? host : host + L"drv64\\drv64.exe";
}

// The arguments as one line that drv64.exe splits back (a first word stands
// where a program's name would).
std::wstring Line(const std::vector<std::wstring>& arguments) {
  std::wstring line;
  for (const std::wstring& argument : arguments) line += (line.empty() ? L"" : L" ") + QuoteArgument(argument);
  return line;
}

bool RunAlone(const std::wstring& program, const std::vector<std::wstring>& arguments, DWORD& exitCode) {
  // A plan or journal goes on in the removal program.
  const std::wstring commandLine = L"\"" + program + L"\" " + Line(arguments) + machine::ChildArguments();
  exitCode = 0;
  ++g_starts;
  if (!RunAndWait(program, commandLine, true, exitCode)) return false;
  machine::ChildFinished(exitCode);  // what it planned or journaled is ours now
  return true;
}

}  // namespace

Drv64Call::Drv64Call() {
  if (g_call) {
    outer_ = false;
    return;
  }
  g_call = new (std::nothrow) CallRun{GetCurrentThreadId(), nullptr};
  outer_ = g_call != nullptr;
}

Drv64Call::~Drv64Call() {
  if (!outer_) return;
  CallRun* call = g_call;
  g_call = nullptr;
  if (call->child) {
    const DWORD code = call->child->Finish();
    KLOG(base::LOG_INFO, "drv64.exe ended (%d)", static_cast<int>(code));
  }
  delete call;
}

bool RunDrv64Command(const std::vector<std::wstring>& arguments, DWORD& exitCode, std::vector<std::wstring>* output) {
  const std::wstring program = Program();
  if (program.empty() || arguments.empty()) return false;
  if (!g_call || g_call->thread != GetCurrentThreadId()) return RunAlone(program, arguments, exitCode);
  std::unique_ptr<CommandChild>& run = g_call->child;
  if (!run || !run->running()) {
    // A run that ended before answering failed that command only: the next
    // command gets a new run.
    run = std::make_unique<CommandChild>();
    ++g_starts;
    if (!run->Start(program, L"\"" + program + L"\" \"kydserve\"" + machine::ChildArguments())) {
      run.reset();
      return false;
    }
  }
  std::vector<std::wstring> lines;
  const bool answered = run->Ask(Line(arguments), exitCode, lines);
  machine::ChildFinished(answered ? exitCode : 0);  // what it planned or journaled is ours now
  for (const std::wstring& line : lines) KLOG(base::LOG_INFO, "drv64.exe: %S", line.c_str());
  if (output) *output = std::move(lines);
  if (!answered) {
    KLOG(base::LOG_ERROR, "drv64.exe ended (%d) before it answered %S", static_cast<int>(exitCode),
         arguments.front().c_str());
    run.reset();
  }
  return answered;
}

bool AskRunningDrv64(const std::vector<std::wstring>& arguments, DWORD& exitCode, std::vector<std::wstring>& output) {
  if (!g_call || g_call->thread != GetCurrentThreadId() || !g_call->child || !g_call->child->running()) return false;
  return RunDrv64Command(arguments, exitCode, &output);
}

long Drv64Starts() { return g_starts; }

}  // namespace kyd
