#include "interface/uninstall_lock.h"

#include <sddl.h>

#include "platform/base_log.h"

namespace kyd {
namespace {
constexpr char kLogUnit[] = "KYDDrvUninst";

// Full access for SYSTEM and the Administrators, nothing inherited, nobody
// else: without it the lock would carry its maker's default DACL (its own
// account and SYSTEM), and an administrator's process could not open the
// lock of a host running as SYSTEM, or of another administrator.
constexpr wchar_t kLockSecurity[] = L"D:P(A;;GA;;;SY)(A;;GA;;;BA)";
}  // namespace

UninstallLock::UninstallLock(DWORD waitMs) {
  UniqueLocal descriptor;
  SECURITY_ATTRIBUTES attributes{};
  attributes.nLength = sizeof attributes;
  if (ConvertStringSecurityDescriptorToSecurityDescriptorW(
          kLockSecurity, SDDL_REVISION_1, reinterpret_cast<PSECURITY_DESCRIPTOR*>(descriptor.put()), nullptr))
    attributes.lpSecurityDescriptor = descriptor.get();
  else
    KLOG(base::LOG_WARNING, "uninstall lock: its security descriptor cannot be made (%d)",
         static_cast<int>(GetLastError()));
  mutex_.reset(CreateMutexW(&attributes, FALSE, kUninstallLockName));
  // Made by an older build or another account with a narrower grant: waiting
  // and releasing need no more than these two rights.
  if (!mutex_) mutex_.reset(OpenMutexW(SYNCHRONIZE | MUTEX_MODIFY_STATE, FALSE, kUninstallLockName));
  if (!mutex_) {
    KLOG(base::LOG_WARNING, "uninstall lock: the global name was refused (%d), the session's is used",
         static_cast<int>(GetLastError()));
    mutex_.reset(CreateMutexW(&attributes, FALSE, kUninstallLockLocalName));
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
  } else if (waited != WAIT_OBJECT_0 && waitMs == 0) {
    KLOG(base::LOG_ERROR, "another uninstall is running; this call was asked not to wait");
    return;
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
