#include "platform/command_child.h"

#include <cstdlib>

#include "platform/utf8.h"

namespace kyd {
bool CommandChild::Start(const std::wstring& program, std::wstring commandLine) {
  Finish(0);
  SECURITY_ATTRIBUTES inherit{};
  inherit.nLength = sizeof inherit;
  inherit.bInheritHandle = TRUE;
  UniqueHandle childIn, childOut;
  if (!CreatePipe(childIn.put(), input_.put(), &inherit, 0) || !CreatePipe(output_.put(), childOut.put(), &inherit, 0))
    return false;
  // Our ends stay ours: a program started later (by us or by the child)
  // that held them would keep the child from ever seeing its input end.
  SetHandleInformation(input_.get(), HANDLE_FLAG_INHERIT, 0);
  SetHandleInformation(output_.get(), HANDLE_FLAG_INHERIT, 0);

  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdInput = childIn.get();
  startup.hStdOutput = childOut.get();
  startup.hStdError = childOut.get();
  job_.reset(CreateJobObjectW(nullptr, nullptr));
  if (job_) {
    JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits{};
    limits.BasicLimitInformation.LimitFlags = JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE;
    if (!SetInformationJobObject(job_.get(), JobObjectExtendedLimitInformation, &limits, sizeof limits))
      job_.reset();
  }
  PROCESS_INFORMATION process{};
  if (!CreateProcessW(program.c_str(), commandLine.data(), nullptr, nullptr, TRUE,
                      CREATE_NO_WINDOW | CREATE_SUSPENDED, nullptr, nullptr, &startup, &process)) {
    input_.reset();
    output_.reset();
    job_.reset();
    return false;
  }
  process_.reset(process.hProcess);
  UniqueHandle thread(process.hThread);
  // A host in a job that allows none inside it (before Windows 8): the
  // child still ends when its input closes, as it does when we end.
  if (job_ && !AssignProcessToJobObject(job_.get(), process_.get())) job_.reset();
  ResumeThread(thread.get());
  return true;
}

bool ReadPipeLine(HANDLE pipe, std::string& pending, std::string& line) {
  for (;;) {
    const size_t end = pending.find('\n');
    if (end != std::string::npos) {
      line = pending.substr(0, end);
      pending.erase(0, end + 1);
      if (!line.empty() && line.back() == '\r') line.pop_back();
      return true;
    }
    char buffer[4096];
    DWORD read = 0;
    if (!pipe || !ReadFile(pipe, buffer, sizeof buffer, &read, nullptr) || read == 0) return false;
    pending.append(buffer, read);
  }
}

bool CommandChild::ReadLine(std::string& line) { return ReadPipeLine(output_.get(), pending_, line); }

bool CommandChild::Ask(const std::wstring& command, DWORD& exitCode, std::vector<std::wstring>& output) {
  if (!running()) return false;
  const std::string line = ToUtf8(command) + "\n";
  DWORD written = 0;
  bool answered = false;
  if (WriteFile(input_.get(), line.data(), static_cast<DWORD>(line.size()), &written, nullptr) &&
      written == line.size()) {
    std::string text;
    while (ReadLine(text)) {
      if (text.rfind(kAnswerMark, 0) == 0) {
        exitCode = std::strtoul(text.c_str() + sizeof kAnswerMark - 1, nullptr, 10);
        answered = true;
        break;
      }
      output.push_back(FromUtf8(text));
    }
  }
  if (!answered) exitCode = Finish();
  return answered;
}

DWORD CommandChild::Finish(DWORD waitMs) {
  input_.reset();  // end of its commands
  DWORD code = ERROR_BROKEN_PIPE;
  if (process_) {
    if (WaitForSingleObject(process_.get(), waitMs) == WAIT_OBJECT_0) GetExitCodeProcess(process_.get(), &code);
  }
  job_.reset();  // whatever is left of it ends here
  process_.reset();
  output_.reset();
  pending_.clear();
  return code;
}

}  // namespace kyd
