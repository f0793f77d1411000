#include "interface/driver_search.h"

#include "machine/machine.h"
#include "platform/env.h"
#include "platform/handle.h"

namespace kyd {

bool WriteRegDword(const wchar_t* keyPath, const wchar_t* valueName, const DWORD* data,
                   const DWORD* size, bool is32BitSystem) {
  // Windows reads the policy from the 64-bit view; under WOW64 we must write
  // there and not to the redirected Wow6432Node copy.
  REGSAM access = is32BitSystem ? KEY_WRITE : (KEY_WRITE | KEY_WOW64_64KEY);
  return machine::WriteValue(HKEY_LOCAL_MACHINE, keyPath, access, /*create=*/true, valueName,
                             REG_DWORD, data, *size) == ERROR_SUCCESS;
}

bool CloseAutoUpdateDrv() {
  OSVERSIONINFOEXW version{};
  version.dwOSVersionInfoSize = sizeof version;
  GetVersionExW(reinterpret_cast<OSVERSIONINFOW*>(&version));
  const bool is32 = Is32BitSystem();
  const DWORD size = sizeof(DWORD);
  if (version.dwMajorVersion <= 5) {
    // Windows XP / 2003 read the group-policy values.
    const wchar_t* key = L"SOFTWARE\\Policies\\Microsoft\\Windows\\DriverSearching";
    const DWORD one = 1;
    return WriteRegDword(key, L"DontSearchWindowsUpdate", &one, &size, is32) &&
           WriteRegDword(key, L"DontPromptForWindowsUpdate", &one, &size, is32);
  }
  // Vista and later: 0 = never search Windows Update for drivers.
  const DWORD zero = 0;
  return WriteRegDword(L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\DriverSearching",
                       L"SearchOrderConfig", &zero, &size, is32);
}

}  // namespace kyd
