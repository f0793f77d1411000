// Vendor programs the library runs itself: a companion package's registered
// uninstaller, AMD's install manager. Each runs in a job object of its own,
// so that whatever it starts (an InstallShield engine, a cleanup child) can be
// ended together with it. Start and End are the only places where such a
// program is started or ended.
#pragma once

#include <windows.h>

#include <string>

#include "platform/handle.h"

namespace kyd {

enum class ChildStart {
  kNotStarted,  // CreateProcess refused; error() says why
  kRunning,     // inside the job and running
  kNotInJob,    // started, but the job would not take it: ended again at once
};

class CChildJob {
 public:
  CChildJob() = default;
  CChildJob(const CChildJob&) = delete;
  CChildJob& operator=(const CChildJob&) = delete;

  // Creates the job. It has no name: a named job that another program had
  // already made would be opened instead, and ending "our" job would end
  // that program's processes.
  bool CreateJob();

  // Starts the program suspended, with a console of its own, on the named
  // desktop (null: the caller's), and leaves the host's own job where that
  // job allows it. applicationName may be empty (the command line's first
  // word names the program). The program runs only once it is inside the
  // job, so that everything it starts is in the job too; one the job does
  // not take is ended before it ever ran.
  ChildStart Start(const std::wstring& applicationName, const std::wstring& commandLine,
                   const wchar_t* desktop);
  DWORD error() const { return error_; }

  // Whether no process is left in the job; false also when the job cannot
  // be asked (queryError then holds the system error, else 0).
  bool Empty(DWORD& queryError) const;

  // Ends every process still in the job with the exit code (the started
  // program alone when the job would not take it).
  void End(UINT exitCode);

  // The started program's own exit code, once it has ended; false while it
  // runs or when no program was started.
  bool ExitCode(DWORD& code) const;

 private:
  UniqueHandle job_;
  UniqueHandle process_;
  UniqueHandle thread_;
  bool inJob_ = false;
  DWORD error_ = 0;
};

}  // namespace kyd
