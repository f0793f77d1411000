// Test double of DIFx's difxapi.dll, which Wine does not have. Used by the
// tests only. It appends every call to the file named by KYD_DIFX_LOG and
// answers as KYD_DIFX_MODE says: "success" (default), "restart" or "fail".
// DriverPackageGetPathW answers KYD_DIFX_STORE\<inf file name> when set.
// An empty INF path fails as with DIFx unless KYD_DIFX_ACCEPT_EMPTY=1.
#include <windows.h>

#include <string>

#include "platform/handle.h"

namespace {

std::wstring Env(const wchar_t* name) {
  wchar_t value[1024] = {};
  DWORD n = GetEnvironmentVariableW(name, value, 1024);
  return n > 0 && n < 1024 ? std::wstring(value, n) : std::wstring();
}

void Record(const std::wstring& line) {
  std::wstring path = Env(L"KYD_DIFX_LOG");
  if (path.empty()) return;
  kyd::UniqueFile file(CreateFileW(path.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                   nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file) return;
  std::wstring text = line + L"\r\n";
  int bytes = WideCharToMultiByte(CP_UTF8, 0, text.c_str(), -1, nullptr, 0, nullptr, nullptr);
  std::string utf8(bytes > 0 ? bytes - 1 : 0, '\0');
  WideCharToMultiByte(CP_UTF8, 0, text.c_str(), -1, utf8.data(), bytes, nullptr, nullptr);
  DWORD written = 0;
  WriteFile(file.get(), utf8.data(), static_cast<DWORD>(utf8.size()), &written, nullptr);
}

}  // namespace

extern "C" {

__declspec(dllexport) DWORD WINAPI DriverPackageUninstallW(PCWSTR infPath, DWORD flags,
                                                           const void*, BOOL* needReboot) {
  Record(L"uninstall|" + std::wstring(infPath ? infPath : L"(null)") + L"|" +
         std::to_wstring(flags));
  std::wstring mode = Env(L"KYD_DIFX_MODE");
  // Like DIFx, a package needs an INF to be uninstalled, unless the test
  // asks for an answer anyway (Wine cannot tell us a device's INF).
  bool noInf = !infPath || !*infPath;
  if (mode == L"fail" || (noInf && Env(L"KYD_DIFX_ACCEPT_EMPTY") != L"1")) return ERROR_FILE_NOT_FOUND;
  if (needReboot) *needReboot = mode == L"restart";
  return ERROR_SUCCESS;
}

__declspec(dllexport) DWORD WINAPI DriverPackageGetPathW(PCWSTR infPath, PWSTR path, DWORD* chars) {
  Record(L"getpath|" + std::wstring(infPath ? infPath : L"(null)"));
  std::wstring store = Env(L"KYD_DIFX_STORE");
  if (store.empty() || !infPath || !chars) return ERROR_FILE_NOT_FOUND;
  std::wstring inf = infPath;
  size_t slash = inf.rfind(L'\\');
  std::wstring result = store + L"\\" + inf.substr(slash == std::wstring::npos ? 0 : slash + 1);
  if (!path || *chars <= result.size()) {
    *chars = static_cast<DWORD>(result.size() + 1);
    return ERROR_INSUFFICIENT_BUFFER;
  }
  lstrcpyW(path, result.c_str());
  *chars = static_cast<DWORD>(result.size() + 1);
  return ERROR_SUCCESS;
}

}  // extern "C"
