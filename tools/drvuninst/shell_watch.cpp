#include "tools/drvuninst/shell_watch.h"

#include <windows.h>
#include <shlwapi.h>
#include <tlhelp32.h>

#include "engine/base_drv_uninst.h"
#include "platform/env.h"
#include "platform/handle.h"

namespace drvuninst {
namespace {

constexpr wchar_t kWinlogonKey[] = L"SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\Winlogon";

// The shell as Winlogon starts it: the user's own "Shell" value, else the
// machine's, else explorer.exe; a bare file name lies in the Windows folder.
// Only the program is kept (a quoted path, or the text up to its arguments).
std::wstring ShellProgram() {
  std::wstring shell;
  if (!kyd::CBaseDrvUninst::ReadStringValue(HKEY_CURRENT_USER, kWinlogonKey, L"Shell", shell) ||
      shell.empty())
    kyd::CBaseDrvUninst::ReadStringValue(HKEY_LOCAL_MACHINE, kWinlogonKey, L"Shell", shell);
  size_t first = shell.find_first_not_of(L" \t");
  shell.erase(0, first == std::wstring::npos ? shell.size() : first);
  if (!shell.empty() && shell[0] == L'"') {
    size_t close = shell.find(L'"', 1);
    shell = shell.substr(1, close == std::wstring::npos ? std::wstring::npos : close - 1);
  } else {
    size_t end = shell.find_first_of(L" \t,");
    if (end != std::wstring::npos) shell.resize(end);
  }
  if (shell.empty()) shell = L"explorer.exe";
  if (shell.find_first_of(L"\\/:") == std::wstring::npos) shell = kyd::GetWindowsDir() + L"\\" + shell;
  return shell;
}

bool IsRunning(const std::wstring& program) {
  const wchar_t* name = PathFindFileNameW(program.c_str());
  kyd::UniqueHandle snapshot(CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
  if (!snapshot) return false;
  PROCESSENTRY32W entry{};
  entry.dwSize = sizeof entry;
  for (BOOL more = Process32FirstW(snapshot.get(), &entry); more;
       more = Process32NextW(snapshot.get(), &entry))
    if (StrCmpIW(entry.szExeFile, name) == 0) return true;
  return false;
}

}  // namespace

ShellWatch::ShellWatch() : program_(ShellProgram()), wasRunning_(IsRunning(program_)) {}

bool ShellWatch::StartAgainIfEnded() const {
  if (!wasRunning_ || IsRunning(program_)) return false;
  // By full path, never through a search; detached from our console and
  // with the Windows folder as its working folder, as Winlogon starts it.
  std::wstring line = L"\"" + program_ + L"\"";
  std::wstring folder = kyd::GetWindowsDir();
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION info{};
  if (!CreateProcessW(program_.c_str(), line.data(), nullptr, nullptr, FALSE,
                      DETACHED_PROCESS | CREATE_NEW_PROCESS_GROUP, nullptr,
                      folder.empty() ? nullptr : folder.c_str(), &startup, &info))
    return false;
  kyd::UniqueHandle process(info.hProcess), thread(info.hThread);
  return true;
}

}  // namespace drvuninst
