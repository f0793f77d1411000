// Stands in for drv64.exe in tests: records its command line in the file
// named by KYD_EXITCODE_LOG and exits with the code in KYD_EXIT_CODE
// (decimal or 0x hex). With KYD_EXITCODE_WAIT it first waits (up to a
// minute) until the file named there exists, so that a test can act while
// an uninstall is under way; with KYD_EXIT_SLEEP_MS it sleeps that long.
#include <windows.h>

#include <cwchar>
#include <string>

#include "platform/handle.h"

int main() {
  wchar_t value[64] = {};
  DWORD code = 1;
  if (GetEnvironmentVariableW(L"KYD_EXIT_CODE", value, 64) > 0) code = wcstoul(value, nullptr, 0);
  wchar_t logPath[MAX_PATH] = {};
  if (GetEnvironmentVariableW(L"KYD_EXITCODE_LOG", logPath, MAX_PATH) > 0) {
    kyd::UniqueFile file(CreateFileW(logPath, FILE_APPEND_DATA, FILE_SHARE_READ, nullptr, OPEN_ALWAYS,
                                     FILE_ATTRIBUTE_NORMAL, nullptr));
    if (file) {
      std::wstring line = std::wstring(GetCommandLineW()) + L"\n";
      DWORD written = 0;
      WriteFile(file.get(), line.data(), static_cast<DWORD>(line.size() * sizeof(wchar_t)), &written,
                nullptr);
    }
  }
  wchar_t waitPath[MAX_PATH] = {};
  if (GetEnvironmentVariableW(L"KYD_EXITCODE_WAIT", waitPath, MAX_PATH) > 0) {
    for (int i = 0; i < 1200 && GetFileAttributesW(waitPath) == INVALID_FILE_ATTRIBUTES; ++i) Sleep(50);
  }
  if (GetEnvironmentVariableW(L"KYD_EXIT_SLEEP_MS", value, 64) > 0) Sleep(wcstoul(value, nullptr, 0));
  return static_cast<int>(code);
}
