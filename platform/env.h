// What the library needs to know about the Windows it runs on.
#pragma once

#include <windows.h>

#include <string>

namespace kyd {

// One bit per known release and bitness; 0 for anything else (Windows 10).
enum OsVersionClass : DWORD {
  OS_WIN9X = 0x1,
  OS_WIN2000 = 0x2,
  OS_XP_32 = 0x4,
  OS_XP_64 = 0x8,
  OS_2003_32 = 0x10,
  OS_2003_64 = 0x20,
  OS_VISTA_32 = 0x40,
  OS_VISTA_64 = 0x80,
  OS_2008_32 = 0x100,
  OS_2008_64 = 0x200,
  OS_WIN7_32 = 0x400,
  OS_WIN7_64 = 0x800,
  OS_WIN8_32 = 0x1000,
  OS_WIN8_64 = 0x2000,
  OS_WIN81_32 = 0x4000,
  OS_WIN81_64 = 0x8000,
  OS_WIN10PRE_32 = 0x10000,
  OS_WIN10PRE_64 = 0x20000,
};

// Maps a version number to its class; pure, so it can be tested for every row.
DWORD VersionClassFor(DWORD major, DWORD minor, BYTE productType, bool is64);

DWORD GetOsVersionClass();
bool Is32BitSystem();
BOOL IsWow64();

std::wstring GetTempDir();
std::wstring GetWindowsDir();
std::wstring GetSystemDir();
// The system drive's root with its backslash, such as "C:\" : the first three
// characters of the system folder; empty when the system folder does not
// start with a drive root.
std::wstring GetSystemDriveRoot();
std::wstring GetAppDataDir();
std::wstring GetSpecialFolder(int csidl);
std::wstring GetInfDir();

// Folder of the host process's executable, with a trailing backslash.
std::wstring GetHostFolder();

// Holds SeDebugPrivilege enabled for its lifetime and then puts the token's
// privilege back exactly as it was found (enabled, disabled or absent).
class DebugPrivilegeScope {
 public:
  DebugPrivilegeScope();
  ~DebugPrivilegeScope();
  DebugPrivilegeScope(const DebugPrivilegeScope&) = delete;
  DebugPrivilegeScope& operator=(const DebugPrivilegeScope&) = delete;

  bool adjusted() const { return adjusted_; }

 private:
  bool adjusted_ = false;
  TOKEN_PRIVILEGES previous_{};
};

// Attributes of SeDebugPrivilege in the process token, or -1 when the token
// does not hold it. For diagnostics and tests.
long DebugPrivilegeAttributes();

}  // namespace kyd
