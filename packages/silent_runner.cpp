#include "packages/silent_runner.h"

#include <windows.h>

#include <optional>

#include "engine/child_job.h"
#include "machine/machine.h"
#include "packages/window_automation.h"
#include "platform/base_log.h"
#include "platform/handle.h"

namespace kyd {
namespace {

constexpr char kLogUnit[] = "AppPackage";

constexpr wchar_t kDesktopName[] = L"kyd_instdrv";

constexpr wchar_t kSilentSwitch[] = L" -s";
constexpr DWORD kPollMs = 1000;
// Time a finished uninstaller gets to close by itself before its job ends.
constexpr DWORD kGraceMs = 5000;
constexpr DWORD kWizardGraceMs = 8000;
constexpr UINT kEndedExitCode = 1;

enum class Begun { kNotStarted, kRunning, kNotInJob };

// One uninstaller run: the private desktop, the job and the started program.
// The program's handles and the job are closed before the desktop.
class UninstallRun {
 public:
  // Everything up to the running program; failures are logged.
  Begun Begin(const std::wstring& commandLine) {
    if (!job_.CreateJob()) {
      KLOG(base::LOG_ERROR, "CreateJobObject Failed!");
      return Begun::kNotStarted;
    }
    // Without a desktop of its own the uninstaller starts on the caller's.
    desktop_ = MakePrivateDesktop(kDesktopName, desktopName_);
    if (desktop_) presence_.emplace(desktop_.get());
    const ProgramCommand program = ResolveUninstallCommand(commandLine);
    switch (job_.Start(program.applicationName, program.commandLine, desktop_ ? desktopName_.c_str() : nullptr)) {
      case ChildStart::kNotStarted:
        KLOG(base::LOG_ERROR, "CreateProcess error = %d", static_cast<int>(job_.error()));
        return Begun::kNotStarted;
      case ChildStart::kNotInJob:
        KLOG(base::LOG_TRACE, "CreateProcess Succeed!");
        KLOG(base::LOG_ERROR, "AssignProcessToJobObject error = %d", static_cast<int>(job_.error()));
        return Begun::kNotInJob;
      case ChildStart::kRunning:
        break;
    }
    KLOG(base::LOG_TRACE, "CreateProcess Succeed!");
    KLOG(base::LOG_TRACE, "AssignProcessToJobObject Succeed!");
    return Begun::kRunning;
  }

  // A failed query is logged and never counts as an empty job.
  bool JobEmpty() const {
    DWORD error = 0;
    if (job_.Empty(error)) return true;
    if (error != 0) KLOG(base::LOG_ERROR, "QueryInformationJobObject Error  :%d", static_cast<int>(error));
    return false;
  }

  void EndJob() { job_.End(kEndedExitCode); }

  void EndAfterGrace(DWORD graceMs) {
    Sleep(graceMs);
    EndJob();
    KLOG(base::LOG_TRACE, "TerminateJobObject!");
  }

  HDESK desktop() const { return desktop_.get(); }

  std::optional<DWORD> ExitCode() const {
    DWORD code = 0;
    if (!job_.ExitCode(code)) return std::nullopt;
    return code;
  }

 private:
  UniqueDesktop desktop_;  // declared first: closed last
  std::wstring desktopName_;
  std::optional<DesktopPresence> presence_;  // leaves the desktop before it is closed
  CChildJob job_;
};

bool EndsWithExe(const std::wstring& text) {
  return text.size() >= 4 && _wcsicmp(text.c_str() + text.size() - 4, L".exe") == 0;
}

bool IsFile(const std::wstring& path) {
  const DWORD attributes = GetFileAttributesW(path.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
}

// What both runners share: the uninstaller started in its job on the private
// desktop, drive(run) while it runs (false: the run failed), its exit code
// kept in the package, and everything closed. 1 when the uninstaller was
// started and drive did not fail. Running a vendor's uninstaller is a change
// no journal can take back: a plan lists the command line and runs nothing.
template <typename Drive>
int RunUninstaller(const std::wstring& commandLine, CAppPackage& package, Drive drive) {
  KLOG(base::LOG_TRACE, "Uninst String: %S", commandLine.c_str());
  package.exitCode.reset();
  int result = 1;
  machine::RunProgram(L"uninstall package " + package.record.wsName + L": " + commandLine, [&] {
    {
      UninstallRun run;
      const Begun begun = run.Begin(commandLine);
      if (begun == Begun::kNotStarted || (begun == Begun::kRunning && !drive(run))) result = 0;
      if (begun != Begun::kNotStarted) package.exitCode = run.ExitCode();
      if (result == 0) return false;
    }
    KLOG(base::LOG_TRACE, "卸载进程结束");
    return true;
  });
  return result;
}

}  // namespace

ProgramCommand ResolveUninstallCommand(const std::wstring& command) {
  ProgramCommand program{L"", command};
  if (command.empty() || command[0] == L'"' || command.find(L' ') == std::wstring::npos) return program;
  for (size_t end = command.size(); end > 0; --end) {
    if (end < command.size() && command[end] != L' ' && command[end] != L'\t') continue;
    const std::wstring candidate = command.substr(0, end);
    // Only a full path: a bare name is left to Windows' own search.
    if (!EndsWithExe(candidate) || !IsAbsolutePath(candidate) || !IsFile(candidate)) continue;
    program.applicationName = candidate;
    program.commandLine = L"\"" + candidate + L"\"" + command.substr(end);
    break;
  }
  return program;
}

int UninstallSlient(std::wstring commandLine, CAppPackage& package, int mode) {
  KLOG(base::LOG_TRACE, "UninstallSlient Entry!");
  if (mode == 1) commandLine += kSilentSwitch;
  return RunUninstaller(commandLine, package, [&](UninstallRun& run) {
    bool empty = false;
    for (int poll = 0; poll < package.timeOut && !empty; ++poll) {
      if ((empty = run.JobEmpty()))
        KLOG(base::LOG_TRACE, "Wait for Job Complete!");
      else
        Sleep(kPollMs);
    }
    if (!empty) KLOG(base::LOG_TRACE, "Wait for Job timeout!");
    run.EndAfterGrace(kGraceMs);
    return true;
  });
}

int UninstallSlientWnd(const std::wstring& commandLine, CAppPackage& package) {
  return RunUninstaller(commandLine, package, [&](UninstallRun& run) {
    bool confirmed = false;
    bool completed = false;
    bool gone = false;
    // The wizard's windows live on the private desktop; only a thread of
    // that desktop finds them.
    RunOnDesktop(run.desktop(), [&] {
      if (!(confirmed = ClickBeginButton(package.record.vWindows))) return;
      for (int poll = 0; poll < package.timeOut && !completed; ++poll) {
        // A wizard that closed itself shows no last page: nothing is left
        // to wait for, and the package lookup that follows tells whether
        // it did its work.
        if ((gone = run.JobEmpty())) {
          KLOG(base::LOG_TRACE, "Wait for Job Complete!");
          return;
        }
        Sleep(kPollMs);
        DismissRestartPrompt();
        const CompletionPage page = FindCompleteWindow(package.record.vWindows);
        if ((completed = page.window != nullptr)) {
          if (page.restart) package.restart = kRestartAsked;
          KLOG(base::LOG_TRACE, "EnumWindows Succeed!");
        }
      }
    });
    if (!confirmed) {
      KLOG(base::LOG_ERROR, "查找卸载确认按钮失败,可能原因（查找超时）");
      run.EndJob();
      KLOG(base::LOG_TRACE, "强制TerminateJobObject!");
      return false;
    }
    if (gone) {
      run.EndAfterGrace(0);
      return true;
    }
    if (!completed) KLOG(base::LOG_TRACE, "Wait for Job timeout!");
    run.EndAfterGrace(kWizardGraceMs);
    return true;
  });
}

}  // namespace kyd
