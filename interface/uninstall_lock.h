// One uninstall at a time on a machine. Two uninstalls at once would clean
// the same keys and files together, and share the device-console tool's
// fixed temp path; so every uninstall and restore export holds this lock,
// a named mutex that every process of the machine sees, for its whole call.
#pragma once

#include <windows.h>

#include "platform/handle.h"

namespace kyd {

// How long a call waits for the uninstall running before it: a vendor clean
// with its service stops and tool runs takes minutes, a package uninstaller
// up to its own time limit; past twenty minutes the other call is taken to
// hang, and this one gives up (the export answers that the machine is busy).
constexpr DWORD kUninstallWaitMs = 20 * 60 * 1000;

// "Global\" reaches every session of the machine (terminal services, fast
// user switching). Where that namespace is refused (no right to create
// global objects), the session's own namespace is taken, which still keeps
// the calls of one session apart. Windows XP without terminal services
// accepts the prefix and ignores it. The mutex grants SYSTEM and the
// Administrators full access, so that the calls of every administrator and
// of a host running as SYSTEM meet on the one global lock.
constexpr wchar_t kUninstallLockName[] = L"Global\\KYDDrvUninst.Uninstall";
constexpr wchar_t kUninstallLockLocalName[] = L"KYDDrvUninst.Uninstall";

class UninstallLock {
 public:
  // waitMs 0: the call does not wait for another uninstall at all.
  explicit UninstallLock(DWORD waitMs = kUninstallWaitMs);
  ~UninstallLock();
  UninstallLock(const UninstallLock&) = delete;
  UninstallLock& operator=(const UninstallLock&) = delete;

  // False when another uninstall held the lock for the whole wait.
  bool held() const { return held_; }

 private:
  UniqueHandle mutex_;
  bool held_ = false;
  bool owned_ = false;
};

}  // namespace kyd
