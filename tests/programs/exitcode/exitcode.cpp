// Stands in for drv64.exe in tests: records its command line in the file
// named by KYD_EXITCODE_LOG and exits with the code in KYD_EXIT_CODE
// (decimal or 0x hex). With KYD_EXITCODE_WAIT it first waits (up to a
// minute) until the file named there exists, so that a test can act while
// an uninstall is under way; with KYD_EXIT_SLEEP_MS it sleeps that long.
// KYD_EXITCODE_PASS names commands (drv64.exe's first argument, separated
// by blanks) that the real program, drv64real.exe beside the double, carries
// out: the double then exits with its exit code.
// Started as "kydserve" (drv64.exe's form for a whole call), it takes the
// commands from its input as drv64.exe does: each is recorded as the command
// line it would have had alone, and answered with the code; a command that
// KYD_EXITCODE_DIE names ends it with the code instead, unanswered.
#include <windows.h>

#include <shellapi.h>

#include <cstdio>
#include <cwchar>
#include <string>

#include "platform/command_child.h"
#include "platform/handle.h"

namespace {

std::wstring Env(const wchar_t* name) {
  wchar_t value[MAX_PATH] = {};
  const DWORD n = GetEnvironmentVariableW(name, value, MAX_PATH);
  return n > 0 && n < MAX_PATH ? value : L"";
}

std::wstring Self() {
  wchar_t self[MAX_PATH] = {};
  GetModuleFileNameW(nullptr, self, MAX_PATH);
  return self;
}

// The command line after the program's name (with its leading blank).
std::wstring Rest(const wchar_t* line) {
  bool quoted = false;
  for (; *line && (quoted || (*line != L' ' && *line != L'\t')); ++line)
    if (*line == L'"') quoted = !quoted;
  return line;
}

void Record(const std::wstring& commandLine) {
  const std::wstring logPath = Env(L"KYD_EXITCODE_LOG");
  if (logPath.empty()) return;
  kyd::UniqueFile file(CreateFileW(logPath.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ, nullptr, OPEN_ALWAYS,
                                   FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file) return;
  const std::wstring line = commandLine + L"\n";
  DWORD written = 0;
  WriteFile(file.get(), line.data(), static_cast<DWORD>(line.size() * sizeof(wchar_t)), &written, nullptr);
}

// The command word of the arguments (`rest`, after the program's name).
std::wstring CommandOf(const std::wstring& rest) {
  int count = 0;
  wchar_t** args = CommandLineToArgvW((L"x" + rest).c_str(), &count);
  if (!args) return L"";
  const std::wstring command = count > 1 ? args[1] : L"";
  LocalFree(args);
  return command;
}

bool Named(const wchar_t* variable, const std::wstring& command) {
  const std::wstring names = L" " + Env(variable) + L" ";
  return !command.empty() && names.find(L" " + command + L" ") != std::wstring::npos;
}

// Runs drv64real.exe with the arguments (`rest`, after the program's name)
// when their command is one KYD_EXITCODE_PASS names; false when it is not,
// or cannot be run.
bool PassedOn(const std::wstring& rest, DWORD& code) {
  if (!Named(L"KYD_EXITCODE_PASS", CommandOf(rest))) return false;
  std::wstring real = Self();
  real = real.substr(0, real.find_last_of(L'\\') + 1) + L"drv64real.exe";
  std::wstring line = L"\"" + real + L"\"" + rest;
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process{};
  if (!CreateProcessW(real.c_str(), line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process))
    return false;
  kyd::UniqueHandle processHandle(process.hProcess), threadHandle(process.hThread);
  WaitForSingleObject(processHandle.get(), INFINITE);
  return GetExitCodeProcess(processHandle.get(), &code) != FALSE;
}

// One command: recorded, held or slowed as asked, then its code.
DWORD Run(const std::wstring& rest) {
  DWORD code = 1;
  const std::wstring value = Env(L"KYD_EXIT_CODE");
  if (!value.empty()) code = wcstoul(value.c_str(), nullptr, 0);
  Record(L"\"" + Self() + L"\"" + rest);
  const std::wstring waitPath = Env(L"KYD_EXITCODE_WAIT");
  if (!waitPath.empty()) {
    for (int i = 0; i < 1200 && GetFileAttributesW(waitPath.c_str()) == INVALID_FILE_ATTRIBUTES; ++i) Sleep(50);
  }
  const std::wstring sleep = Env(L"KYD_EXIT_SLEEP_MS");
  if (!sleep.empty()) Sleep(wcstoul(sleep.c_str(), nullptr, 0));
  PassedOn(rest, code);
  return code;
}

std::wstring FromUtf8(const std::string& text) {
  const int n = MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
  std::wstring wide(n > 0 ? static_cast<size_t>(n) : 0, L'\0');
  if (n > 0) MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), wide.data(), n);
  return wide;
}

// "kydserve" [session]: each input line is a command, the session's
// arguments going with it as they would on its own command line.
int Serve(const std::wstring& session) {
  Record(std::wstring(GetCommandLineW()));
  const HANDLE input = GetStdHandle(STD_INPUT_HANDLE);
  std::string pending;
  for (;;) {
    size_t end;
    while ((end = pending.find('\n')) == std::string::npos) {
      char buffer[4096];
      DWORD read = 0;
      if (!ReadFile(input, buffer, sizeof buffer, &read, nullptr) || read == 0) return 0;
      pending.append(buffer, read);
    }
    std::string line = pending.substr(0, end);
    pending.erase(0, end + 1);
    if (!line.empty() && line.back() == '\r') line.pop_back();
    const std::wstring rest = L" " + FromUtf8(line) + session;
    const DWORD code = Run(rest);
    if (Named(L"KYD_EXITCODE_DIE", CommandOf(rest))) ExitProcess(code);
    std::printf("%s%lu\n", kyd::kAnswerMark, static_cast<unsigned long>(code));
    std::fflush(stdout);
  }
}

}  // namespace

int main() {
  int count = 0;
  wchar_t** args = CommandLineToArgvW(GetCommandLineW(), &count);
  const bool serve = args && count >= 2 && _wcsicmp(args[1], L"kydserve") == 0;
  if (args) LocalFree(args);
  const std::wstring rest = Rest(GetCommandLineW());
  if (serve) {
    // The session's two arguments follow the command word.
    const size_t word = rest.find(L"kydserve");
    const size_t after = rest.find(L' ', word);
    return Serve(after == std::wstring::npos ? std::wstring() : rest.substr(after));
  }
  return static_cast<int>(Run(rest));
}
