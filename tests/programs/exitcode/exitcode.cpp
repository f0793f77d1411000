// Stands in for drv64.exe in tests: records its command line in the file
// named by KYD_EXITCODE_LOG and exits with the code in KYD_EXIT_CODE
// (decimal or 0x hex). With KYD_EXITCODE_WAIT it first waits (up to a
// minute) until the file named there exists, so that a test can act while
// an uninstall is under way; with KYD_EXIT_SLEEP_MS it sleeps that long.
// KYD_EXITCODE_PASS names commands (drv64.exe's first argument, separated
// by blanks) that the real program, drv64real.exe beside the double, carries
// out: the double then exits with its exit code.
#include <windows.h>

#include <shellapi.h>

#include <cwchar>
#include <string>

#include "platform/handle.h"

namespace {

// Runs drv64real.exe with this command line's arguments when its command is
// one KYD_EXITCODE_PASS names; false when it is not, or cannot be run.
bool PassedOn(DWORD& code) {
  wchar_t pass[256] = {};
  if (GetEnvironmentVariableW(L"KYD_EXITCODE_PASS", pass, 256) == 0) return false;
  int count = 0;
  wchar_t** args = CommandLineToArgvW(GetCommandLineW(), &count);
  if (!args) return false;
  const std::wstring command = count > 1 ? args[1] : L"";
  LocalFree(args);
  const std::wstring names = L" " + std::wstring(pass) + L" ";
  if (command.empty() || names.find(L" " + command + L" ") == std::wstring::npos) return false;
  wchar_t self[MAX_PATH] = {};
  GetModuleFileNameW(nullptr, self, MAX_PATH);
  std::wstring real = self;
  real = real.substr(0, real.find_last_of(L'\\') + 1) + L"drv64real.exe";
  // The arguments as they were given: the line after the program's name.
  const wchar_t* rest = GetCommandLineW();
  bool quoted = false;
  for (; *rest && (quoted || (*rest != L' ' && *rest != L'\t')); ++rest)
    if (*rest == L'"') quoted = !quoted;
  std::wstring line = L"\"" + real + L"\"" + rest;
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process{};
  if (!CreateProcessW(real.c_str(), line.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr, &startup, &process))
    return false;
  kyd::UniqueHandle processHandle(process.hProcess), threadHandle(process.hThread);
  WaitForSingleObject(processHandle.get(), INFINITE);
  return GetExitCodeProcess(processHandle.get(), &code) != FALSE;
}

}  // namespace

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
  PassedOn(code);
  return static_cast<int>(code);
}
