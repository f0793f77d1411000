#include "platform/env.h"

#include <shlobj.h>

#include <vector>

#include "platform/handle.h"

namespace kyd {
namespace {

using IsWow64ProcessFn = BOOL(WINAPI*)(HANDLE, PBOOL);
using RtlGetNtVersionNumbersFn = void(WINAPI*)(DWORD*, DWORD*, DWORD*);

DWORD g_versionClass = 0;
std::wstring* g_appData = nullptr;

IsWow64ProcessFn LookUpIsWow64Process() {
  HMODULE kernel = GetModuleHandleA("kernel32");
  if (!kernel) return nullptr;
  return reinterpret_cast<IsWow64ProcessFn>(
      reinterpret_cast<void*>(GetProcAddress(kernel, "IsWow64Process")));
}

// One pattern for the three "give me a folder" APIs: 1024 characters first,
// then exactly what the API asked for.
template <typename Api>
std::wstring QueryFolder(Api api) {
  std::vector<wchar_t> buffer(1024);
  UINT n = api(buffer.data(), static_cast<UINT>(buffer.size()));
  if (n > buffer.size()) {
    buffer.assign(n + 1, L'\0');
    n = api(buffer.data(), static_cast<UINT>(buffer.size()));
    if (n >= buffer.size()) return {};
  }
  if (n == 0) return {};
  return std::wstring(buffer.data(), n);
}

bool LookUpDebugLuid(LUID* luid) { return LookupPrivilegeValueW(nullptr, L"SeDebugPrivilege", luid); }

}  // namespace

DWORD VersionClassFor(DWORD major, DWORD minor, BYTE productType, bool is64) {
  auto pick = [is64](DWORD bits32, DWORD bits64) { return is64 ? bits64 : bits32; };
  if (major == 4) return (minor == 0 || minor == 10 || minor == 90) ? static_cast<DWORD>(OS_WIN9X) : 0;
  if (major == 5) {
    if (minor == 0) return OS_WIN2000;
    if (minor == 1) return pick(OS_XP_32, OS_XP_64);
    if (minor == 2) return pick(OS_2003_32, OS_2003_64);
    return 0;
  }
  if (major == 6) {
    switch (minor) {
      case 0:
        return productType == VER_NT_SERVER ? pick(OS_2008_32, OS_2008_64)
                                            : pick(OS_VISTA_32, OS_VISTA_64);
      case 1: return pick(OS_WIN7_32, OS_WIN7_64);
      case 2: return pick(OS_WIN8_32, OS_WIN8_64);
      case 3: return pick(OS_WIN81_32, OS_WIN81_64);
      case 4: return pick(OS_WIN10PRE_32, OS_WIN10PRE_64);
      default: return 0;
    }
  }
  return 0;
}

DWORD GetOsVersionClass() {
  if (g_versionClass != 0) return g_versionClass;
  bool is64 = false;
  if (IsWow64ProcessFn isWow64 = LookUpIsWow64Process()) {
    BOOL wow = FALSE;
    if (isWow64(GetCurrentProcess(), &wow) && wow) is64 = true;
  }
  UniqueModule ntdll(LoadLibraryW(L"ntdll.dll"));
  if (!ntdll) return g_versionClass;
  auto getVersion = reinterpret_cast<RtlGetNtVersionNumbersFn>(
      reinterpret_cast<void*>(GetProcAddress(ntdll.get(), "RtlGetNtVersionNumbers")));
  if (!getVersion) return g_versionClass;
  DWORD major = 0, minor = 0, build = 0;
  getVersion(&major, &minor, &build);
  BYTE productType = 0;
  if (major == 6 && minor == 0) {
    OSVERSIONINFOEXW info{};
    info.dwOSVersionInfoSize = sizeof info;
    if (GetVersionExW(reinterpret_cast<OSVERSIONINFOW*>(&info))) productType = info.wProductType;
  }
  g_versionClass = VersionClassFor(major, minor, productType, is64);
  return g_versionClass;
}

bool Is32BitSystem() {
  IsWow64ProcessFn isWow64 = LookUpIsWow64Process();
  if (!isWow64) return true;
  BOOL wow = FALSE;
  if (!isWow64(GetCurrentProcess(), &wow)) return true;
  return wow != 1;
}

BOOL IsWow64() {
  IsWow64ProcessFn isWow64 = LookUpIsWow64Process();
  BOOL wow = FALSE;
  if (isWow64) isWow64(GetCurrentProcess(), &wow);
  return wow;
}

std::wstring GetTempDir() {
  return QueryFolder([](wchar_t* b, UINT n) { return static_cast<UINT>(GetTempPathW(n, b)); });
}

std::wstring GetWindowsDir() {
  return QueryFolder([](wchar_t* b, UINT n) { return GetWindowsDirectoryW(b, n); });
}

std::wstring GetSystemDir() {
  return QueryFolder([](wchar_t* b, UINT n) { return GetSystemDirectoryW(b, n); });
}

std::wstring GetSystemDriveRoot() {
  std::wstring system = GetSystemDir();
  if (system.size() < 3 || system[1] != L':' || system[2] != L'\\') return {};
  return system.substr(0, 3);
}

std::wstring GetSpecialFolder(int csidl) {
  wchar_t path[MAX_PATH] = {};
  if (!SHGetSpecialFolderPathW(nullptr, path, csidl, FALSE)) return {};
  return path;
}

std::wstring GetAppDataDir() {
  if (!g_appData) g_appData = new std::wstring();
  if (g_appData->empty()) *g_appData = GetSpecialFolder(CSIDL_APPDATA);
  return *g_appData;
}

std::wstring GetInfDir() {
  std::wstring windows = GetWindowsDir();
  if (windows.empty()) return {};
  return windows + L"\\inf";
}

std::wstring GetHostFolder() {
  wchar_t path[MAX_PATH] = {};
  DWORD n = GetModuleFileNameW(nullptr, path, MAX_PATH);
  if (n == 0 || n >= MAX_PATH) return {};
  std::wstring folder(path, n);
  size_t slash = folder.rfind(L'\\');
  if (slash == std::wstring::npos) return {};
  folder.resize(slash + 1);
  return folder;
}

DebugPrivilegeScope::DebugPrivilegeScope() {
  UniqueHandle token;
  if (!OpenProcessToken(GetCurrentProcess(), TOKEN_ADJUST_PRIVILEGES | TOKEN_QUERY, token.put()))
    return;
  TOKEN_PRIVILEGES wanted{};
  if (!LookUpDebugLuid(&wanted.Privileges[0].Luid)) return;
  wanted.PrivilegeCount = 1;
  wanted.Privileges[0].Attributes = SE_PRIVILEGE_ENABLED;
  DWORD size = sizeof previous_;
  if (!AdjustTokenPrivileges(token.get(), FALSE, &wanted, sizeof previous_, &previous_, &size))
    return;
  // ERROR_NOT_ALL_ASSIGNED: the token does not hold the privilege; nothing
  // changed, so there is nothing to restore.
  adjusted_ = GetLastError() == ERROR_SUCCESS;
}

DebugPrivilegeScope::~DebugPrivilegeScope() {
  if (!adjusted_) return;
  UniqueHandle token;
  if (!OpenProcessToken(GetCurrentProcess(), TOKEN_ADJUST_PRIVILEGES | TOKEN_QUERY, token.put()))
    return;
  // previous_ lists only what the call changed (empty when it was already
  // enabled), so handing it back restores exactly the earlier state.
  if (previous_.PrivilegeCount > 0)
    AdjustTokenPrivileges(token.get(), FALSE, &previous_, 0, nullptr, nullptr);
}

long DebugPrivilegeAttributes() {
  UniqueHandle token;
  if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, token.put())) return -1;
  LUID luid;
  if (!LookUpDebugLuid(&luid)) return -1;
  DWORD size = 0;
  GetTokenInformation(token.get(), TokenPrivileges, nullptr, 0, &size);
  if (size == 0) return -1;
  std::vector<BYTE> buffer(size);
  if (!GetTokenInformation(token.get(), TokenPrivileges, buffer.data(), size, &size)) return -1;
  auto* privileges = reinterpret_cast<TOKEN_PRIVILEGES*>(buffer.data());
  for (DWORD i = 0; i < privileges->PrivilegeCount; ++i) {
    const LUID& l = privileges->Privileges[i].Luid;
    if (l.LowPart == luid.LowPart && l.HighPart == luid.HighPart)
      return static_cast<long>(privileges->Privileges[i].Attributes);
  }
  return -1;
}

}  // namespace kyd
