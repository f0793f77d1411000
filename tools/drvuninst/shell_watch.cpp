#include "tools/drvuninst/shell_watch.h"

#include <shlwapi.h>
#include <tlhelp32.h>
#include <userenv.h>

#include <algorithm>
#include <vector>

#include "engine/base_drv_uninst.h"
#include "platform/env.h"

namespace drvuninst {
namespace {

constexpr wchar_t kWinlogonKey[] = L"SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\Winlogon";

// The shell as Winlogon starts it: the user's own "Shell" value (with
// `ownUser`, drvuninst's user's), else the machine's, else explorer.exe; a
// bare file name lies in the Windows folder. Only the program is kept (a
// quoted path, or the text up to its arguments).
std::wstring ShellProgram(bool ownUser) {
  std::wstring shell;
  if (!ownUser || !kyd::CBaseDrvUninst::ReadStringValue(HKEY_CURRENT_USER, kWinlogonKey, L"Shell", shell) ||
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

// The running shells by session: the processes of the shell's program
// (drvuninst's user's in its own session, the machine's in the others),
// the one that owns the shell window first. A process whose session cannot
// be told is counted in drvuninst's.
struct Running {
  DWORD session;
  std::vector<DWORD> processes;
};

std::vector<Running> RunningShells(const std::wstring& ownProgram, const std::wstring& machineProgram,
                                   DWORD ownSession) {
  const wchar_t* ownName = PathFindFileNameW(ownProgram.c_str());
  const wchar_t* machineName = PathFindFileNameW(machineProgram.c_str());
  DWORD windowProcess = 0;
  if (HWND window = GetShellWindow()) GetWindowThreadProcessId(window, &windowProcess);
  std::vector<Running> shells;
  kyd::UniqueHandle snapshot(CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
  if (!snapshot) return shells;
  PROCESSENTRY32W entry{};
  entry.dwSize = sizeof entry;
  for (BOOL more = Process32FirstW(snapshot.get(), &entry); more;
       more = Process32NextW(snapshot.get(), &entry)) {
    DWORD session = ownSession;
    if (!ProcessIdToSessionId(entry.th32ProcessID, &session)) session = ownSession;
    if (StrCmpIW(entry.szExeFile, session == ownSession ? ownName : machineName) != 0) continue;
    auto at = std::find_if(shells.begin(), shells.end(), [&](const Running& r) { return r.session == session; });
    if (at == shells.end()) at = shells.insert(shells.end(), Running{session, {}});
    if (entry.th32ProcessID == windowProcess) at->processes.insert(at->processes.begin(), entry.th32ProcessID);
    else at->processes.push_back(entry.th32ProcessID);
  }
  return shells;
}

// A primary token of the process's own, fit to start a process with.
kyd::UniqueHandle TakeToken(DWORD processId, DWORD& error) {
  constexpr DWORD kQueryLimited = 0x1000;  // PROCESS_QUERY_LIMITED_INFORMATION, Windows Vista on
  kyd::UniqueHandle process(OpenProcess(PROCESS_QUERY_INFORMATION, FALSE, processId));
  if (!process) process.reset(OpenProcess(kQueryLimited, FALSE, processId));
  kyd::UniqueHandle token, primary;
  if (!process || !OpenProcessToken(process.get(), TOKEN_DUPLICATE | TOKEN_QUERY, token.put()) ||
      !DuplicateTokenEx(token.get(),
                        TOKEN_QUERY | TOKEN_DUPLICATE | TOKEN_ASSIGN_PRIMARY | TOKEN_ADJUST_DEFAULT |
                            TOKEN_ADJUST_SESSIONID,
                        nullptr, SecurityImpersonation, TokenPrimary, primary.put())) {
    error = GetLastError();
    primary.reset();
  }
  return primary;
}

std::wstring TokenUserName(HANDLE token) {
  std::vector<BYTE> buffer(256);
  DWORD size = 0;
  if (!GetTokenInformation(token, TokenUser, buffer.data(), static_cast<DWORD>(buffer.size()), &size)) {
    if (GetLastError() != ERROR_INSUFFICIENT_BUFFER) return {};
    buffer.resize(size);
    if (!GetTokenInformation(token, TokenUser, buffer.data(), size, &size)) return {};
  }
  wchar_t name[256] = {}, domain[256] = {};
  DWORD nameSize = 256, domainSize = 256;
  SID_NAME_USE use;
  if (!LookupAccountSidW(nullptr, reinterpret_cast<TOKEN_USER*>(buffer.data())->User.Sid, name, &nameSize, domain,
                         &domainSize, &use))
    return {};
  return domain[0] ? std::wstring(domain) + L"\\" + name : std::wstring(name);
}

void EnablePrivilege(const wchar_t* name) {
  kyd::UniqueHandle own;
  TOKEN_PRIVILEGES wanted{};
  wanted.PrivilegeCount = 1;
  wanted.Privileges[0].Attributes = SE_PRIVILEGE_ENABLED;
  if (OpenProcessToken(GetCurrentProcess(), TOKEN_ADJUST_PRIVILEGES, own.put()) &&
      LookupPrivilegeValueW(nullptr, name, &wanted.Privileges[0].Luid))
    AdjustTokenPrivileges(own.get(), FALSE, &wanted, 0, nullptr, nullptr);
}

// The user's own environment for a process started with the user's token
// (profile folders, temp folders), from userenv.dll in the system folder.
class UserEnvironment {
 public:
  explicit UserEnvironment(HANDLE token) : userenv_(LoadLibraryW((kyd::GetSystemDir() + L"\\userenv.dll").c_str())) {
    create_ = Lookup<decltype(&CreateEnvironmentBlock)>("CreateEnvironmentBlock");
    destroy_ = Lookup<decltype(&DestroyEnvironmentBlock)>("DestroyEnvironmentBlock");
    if (create_ && destroy_ && !create_(&block_, token, FALSE)) block_ = nullptr;
  }
  ~UserEnvironment() {
    if (block_) destroy_(block_);
  }
  UserEnvironment(const UserEnvironment&) = delete;
  UserEnvironment& operator=(const UserEnvironment&) = delete;
  void* block() const { return block_; }

 private:
  template <typename Fn>
  Fn Lookup(const char* name) const {
    return userenv_ ? reinterpret_cast<Fn>(reinterpret_cast<void*>(GetProcAddress(userenv_.get(), name))) : nullptr;
  }
  kyd::UniqueModule userenv_;
  decltype(&CreateEnvironmentBlock) create_ = nullptr;
  decltype(&DestroyEnvironmentBlock) destroy_ = nullptr;
  void* block_ = nullptr;
};

using CreateWithTokenFn = BOOL(WINAPI*)(HANDLE, DWORD, LPCWSTR, LPWSTR, DWORD, LPVOID, LPCWSTR, LPSTARTUPINFOW,
                                        LPPROCESS_INFORMATION);

// Starts the program with the token, by full path, never through a search,
// with the Windows folder as its working folder, as Winlogon starts it;
// false with the Windows error when neither way could. The token's own
// process creation comes first (Windows XP has only it; a host running as
// SYSTEM holds the right it needs); then, from Windows Vista on, the
// secondary logon's, which an administrator may use.
bool StartWithToken(HANDLE token, const std::wstring& program, bool ownSession, DWORD& error) {
  std::wstring line = L"\"" + program + L"\"";
  const std::wstring folder = kyd::GetWindowsDir();
  const wchar_t* workFolder = folder.empty() ? nullptr : folder.c_str();
  wchar_t desktop[] = L"winsta0\\default";
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  startup.lpDesktop = desktop;
  PROCESS_INFORMATION info{};
  UserEnvironment environment(token);
  error = ERROR_SUCCESS;
  // Without the user's environment the program would get drvuninst's, whose
  // profile folders are another account's.
  if (environment.block()) {
    EnablePrivilege(SE_INCREASE_QUOTA_NAME);
    EnablePrivilege(SE_ASSIGNPRIMARYTOKEN_NAME);
    if (CreateProcessAsUserW(token, program.c_str(), line.data(), nullptr, nullptr, FALSE,
                             CREATE_UNICODE_ENVIRONMENT | DETACHED_PROCESS | CREATE_NEW_PROCESS_GROUP,
                             environment.block(), workFolder, &startup, &info)) {
      kyd::UniqueHandle process(info.hProcess), thread(info.hThread);
      return true;
    }
    error = GetLastError();
  }
  HMODULE advapi = GetModuleHandleW(L"advapi32.dll");
  // The secondary logon starts the program in drvuninst's own session: for
  // another session's shell it would put that user's desktop in this one.
  auto createWithToken = advapi && ownSession ? reinterpret_cast<CreateWithTokenFn>(reinterpret_cast<void*>(
                                      GetProcAddress(advapi, "CreateProcessWithTokenW")))
                                : nullptr;
  if (createWithToken) {
    EnablePrivilege(SE_IMPERSONATE_NAME);
    // Without a block of ours the secondary logon gives the user's own.
    if (createWithToken(token, 0, program.c_str(), line.data(),
                        CREATE_NEW_PROCESS_GROUP | (environment.block() ? CREATE_UNICODE_ENVIRONMENT : 0),
                        environment.block(), workFolder, &startup, &info)) {
      kyd::UniqueHandle process(info.hProcess), thread(info.hThread);
      return true;
    }
    error = GetLastError();
  }
  if (error == ERROR_SUCCESS) error = ERROR_PROC_NOT_FOUND;
  return false;
}

}  // namespace

ShellWatch::ShellWatch() : program_(ShellProgram(true)), machineProgram_(ShellProgram(false)) {
  if (!ProcessIdToSessionId(GetCurrentProcessId(), &ownSession_)) ownSession_ = 0;
  for (const Running& running : RunningShells(program_, machineProgram_, ownSession_)) {
    Shell shell;
    shell.session = running.session;
    shell.token = TakeToken(running.processes.front(), shell.tokenError);
    if (shell.token) shell.user = TokenUserName(shell.token.get());
    shells_.push_back(std::move(shell));
  }
}

std::wstring ShellWatch::StartAgainIfEnded() const {
  if (shells_.empty()) return {};
  const std::vector<Running> now = RunningShells(program_, machineProgram_, ownSession_);
  std::wstring notes, leftWithout;
  for (const Shell& shell : shells_) {
    if (std::any_of(now.begin(), now.end(), [&](const Running& r) { return r.session == shell.session; })) continue;
    const bool own = shell.session == ownSession_;
    const std::wstring& program = own ? program_ : machineProgram_;
    const std::wstring asUser = shell.user.empty() ? L"its user" : shell.user;
    const std::wstring ended =
        own ? L"The uninstall ended the Windows shell; "
            : L"The uninstall ended the Windows shell of session " + std::to_wstring(shell.session) + L" (" +
                  asUser + L"); ";
    DWORD error = ERROR_SUCCESS;
    if (!shell.token) {
      notes += ended + L"it stays stopped: the token of its user could not be taken before the uninstall (error " +
               std::to_wstring(shell.tokenError) + L"). Start " + program + L" again as that user.\n";
    } else if (!StartWithToken(shell.token.get(), program, own, error)) {
      notes += ended + L"it stays stopped: " + program + L" could not be started as " + asUser + L" (error " +
               std::to_wstring(error) + L"). Start it again as that user.\n";
    } else {
      notes += ended + L"started " + program + L" again as " + asUser + L".\n";
      continue;
    }
    leftWithout += (leftWithout.empty() ? L"" : L", ") + std::to_wstring(shell.session);
  }
  if (!leftWithout.empty()) notes += L"Sessions left without a shell: " + leftWithout + L".\n";
  return notes;
}

}  // namespace drvuninst
