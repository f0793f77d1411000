#include "engine/child_job.h"

#include <cstddef>

namespace kyd {
namespace {

// CREATE_SUSPENDED | CREATE_NEW_CONSOLE | CREATE_BREAKAWAY_FROM_JOB
constexpr DWORD kCreationFlags = 0x01000014;
static_assert(kCreationFlags == (CREATE_SUSPENDED | CREATE_NEW_CONSOLE | CREATE_BREAKAWAY_FROM_JOB));

// The process list is read into room for 21 IDs (92 bytes in the 32-bit
// library); a larger job answers ERROR_MORE_DATA with its count filled in.
constexpr size_t kListedIds = 21;
struct ProcessIdList {
  JOBOBJECT_BASIC_PROCESS_ID_LIST head;
  ULONG_PTR more[kListedIds - 1];
};
static_assert(sizeof(void*) != 4 || sizeof(ProcessIdList) == 92);

}  // namespace

bool CChildJob::CreateJob() {
  job_.reset(CreateJobObjectW(nullptr, nullptr));
  return job_.valid();
}

ChildStart CChildJob::Start(const std::wstring& applicationName, const std::wstring& commandLine,
                            const wchar_t* desktop) {
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  std::wstring desktopName = desktop ? desktop : L"";
  if (desktop) startup.lpDesktop = desktopName.data();
  std::wstring line = commandLine;
  const wchar_t* application = applicationName.empty() ? nullptr : applicationName.c_str();
  PROCESS_INFORMATION process{};
  DWORD flags = kCreationFlags;
  BOOL created = CreateProcessW(application, line.data(), nullptr, nullptr, FALSE, flags, nullptr,
                                nullptr, &startup, &process);
  if (!created && GetLastError() == ERROR_ACCESS_DENIED) {
    // The host runs in a job that forbids leaving it (some launchers, the
    // program compatibility assistant): the program then starts inside that
    // job and ours nests below it.
    line = commandLine;
    flags &= ~static_cast<DWORD>(CREATE_BREAKAWAY_FROM_JOB);
    created = CreateProcessW(application, line.data(), nullptr, nullptr, FALSE, flags, nullptr, nullptr,
                             &startup, &process);
  }
  if (!created) {
    error_ = GetLastError();
    return ChildStart::kNotStarted;
  }
  process_.reset(process.hProcess);
  thread_.reset(process.hThread);
  inJob_ = AssignProcessToJobObject(job_.get(), process_.get()) != FALSE;
  if (!inJob_) {
    // Left suspended it would stay for ever; it has not run a single
    // instruction of its own yet.
    error_ = GetLastError();
    End(1);
    thread_.reset();
    process_.reset();
    return ChildStart::kNotInJob;
  }
  ResumeThread(thread_.get());
  return ChildStart::kRunning;
}

bool CChildJob::Empty(DWORD& queryError) const {
  ProcessIdList list{};
  queryError = 0;
  if (!QueryInformationJobObject(job_.get(), JobObjectBasicProcessIdList, &list, sizeof list, nullptr)) {
    queryError = GetLastError();
    return false;
  }
  return list.head.NumberOfAssignedProcesses == 0 && list.head.NumberOfProcessIdsInList == 0;
}

bool CChildJob::ExitCode(DWORD& code) const {
  // Asked of the process's state, not of the code: a program may exit with
  // the value that stands for "still running".
  if (!process_ || WaitForSingleObject(process_.get(), 0) != WAIT_OBJECT_0) return false;
  return GetExitCodeProcess(process_.get(), &code) != FALSE;
}

void CChildJob::End(UINT exitCode) {
  if (inJob_) {
    TerminateJobObject(job_.get(), exitCode);
  } else if (process_) {
    TerminateProcess(process_.get(), exitCode);
    WaitForSingleObject(process_.get(), 5000);
  }
}

}  // namespace kyd
