#include "interface/uninstall_lock.h"

#include "platform/base_log.h"

namespace kyd {
namespace {
constexpr char kLogUnit[] = "KYDDrvUninst";
}

UninstallLock::UninstallLock(DWORD waitMs) {
  mutex_.reset(CreateMutexW(nullptr, FALSE, kUninstallLockName));
  // Made by another account with a narrower grant: waiting and releasing
  // need no more than these two rights.
  if (!mutex_) mutex_.reset(OpenMutexW(SYNCHRONIZE | MUTEX_MODIFY_STATE, FALSE, kUninstallLockName));
  if (!mutex_) {
    KLOG(base::LOG_WARNING, "uninstall lock: the global name was refused (%d), the session's is used",
         static_cast<int>(GetLastError()));
    mutex_.reset(CreateMutexW(nullptr, FALSE, kUninstallLockLocalName));
  }
  if (!mutex_) {
    // Without a lock the call runs as it always did, unguarded.
    KLOG(base::LOG_ERROR, "uninstall lock cannot be made (%d); going on without it",
         static_cast<int>(GetLastError()));
    held_ = true;
    return;
  }
  DWORD waited = WaitForSingleObject(mutex_.get(), waitMs);
  if (waited == WAIT_ABANDONED) {
    KLOG(base::LOG_WARNING, "uninstall lock: the uninstall before this one ended without finishing");
  } else if (waited != WAIT_OBJECT_0) {
    KLOG(base::LOG_ERROR, "another uninstall is still running after %u seconds; this call gives up",
         static_cast<unsigned>(waitMs / 1000));
    return;
  }
  held_ = owned_ = true;
}

UninstallLock::~UninstallLock() {
  if (owned_) ReleaseMutex(mutex_.get());
}

}  // namespace kyd
