// pkguninst.exe: a companion package's uninstaller for the package road's
// tests. It appends what it does to the file named by KYD_PKG_LOG, one UTF-8
// line each: "run <own path>: <command line>" first, then "child <pid>",
// "desktop <name>", "confirmed", "removed <registry result>"...
//
//   --entry NAME --view 32|64   its Uninstall entry and the registry view it is in
//   (console)                   removes the entry when the line ends in " -s"
//                               (or with --remove) and exits
//   --hang                      starts a copy of itself that hangs, then hangs
//   --wizard --title T --button B --done-title T2 --done-button B2
//                               an InstallShield-like wizard: confirmation page
//                               T with button B, then the completion page T2
//                               with button B2; the entry goes when that shows
//   --restart                   (wizard) Windows' restart prompt comes between
//                               the two pages, and the entry stays for the restart
//   --stuck                     (wizard) the confirmation button does nothing
//   --modal                     (wizard) the confirmation button first asks
//                               "Are you sure?" in a modal box ("asked at
//                               <tick count>")
//   --stall                     (wizard) after the confirmation a progress page
//                               with the first page's title and a "取消" button
//                               stays, and the completion page never comes
//   --vanish                    (wizard) after the confirmation the entry goes and
//                               the wizard closes itself without a completion page
// Every mode ends by itself after a minute at the latest.
#include <windows.h>
#include <tlhelp32.h>

#include <string>
#include <vector>

#include "platform/command_line.h"
#include "platform/handle.h"

namespace {

constexpr DWORD kLifetimeMs = 60000;
constexpr int kConfirmId = 101, kLaterId = 102, kFinishId = 103, kCancelId = 104;

struct Options {
  std::wstring entry, title, button, doneTitle, doneButton;
  bool view64 = false, silent = false, remove = false, hang = false, child = false;
  bool wizard = false, restart = false, stuck = false, modal = false, stall = false, vanish = false;
};
Options g_options;

std::string Utf8(const std::wstring& text) {
  int n = WideCharToMultiByte(CP_UTF8, 0, text.c_str(), static_cast<int>(text.size()), nullptr, 0, nullptr,
                              nullptr);
  std::string bytes(static_cast<size_t>(n), '\0');
  WideCharToMultiByte(CP_UTF8, 0, text.c_str(), static_cast<int>(text.size()), bytes.data(), n, nullptr,
                      nullptr);
  return bytes;
}

void Note(const std::wstring& line) {
  wchar_t path[MAX_PATH] = {};
  if (GetEnvironmentVariableW(L"KYD_PKG_LOG", path, MAX_PATH) == 0) return;
  kyd::UniqueFile file(CreateFileW(path, FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                   OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
  const std::string bytes = Utf8(line + L"\n");
  DWORD written = 0;
  if (file) WriteFile(file.get(), bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
}

void RemoveEntry() {
  if (g_options.entry.empty()) return;
  const std::wstring path = L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\" + g_options.entry;
  LONG rc = RegDeleteKeyExW(HKEY_LOCAL_MACHINE, path.c_str(),
                            g_options.view64 ? KEY_WOW64_64KEY : KEY_WOW64_32KEY, 0);
  Note(L"removed " + std::to_wstring(rc));
}

// --- the wizard ---

HWND Page(const std::wstring& title, const std::wstring& button, int id) {
  HWND page = CreateWindowExW(0, L"KydWizardPage", title.c_str(), WS_OVERLAPPEDWINDOW | WS_VISIBLE, 0, 0, 400,
                              300, nullptr, nullptr, GetModuleHandleW(nullptr), nullptr);
  CreateWindowExW(0, L"BUTTON", button.c_str(), WS_CHILD | WS_VISIBLE | BS_PUSHBUTTON, 10, 10, 200, 30, page,
                  reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)), GetModuleHandleW(nullptr), nullptr);
  return page;
}

void ShowCompletion() {
  Page(g_options.doneTitle, g_options.doneButton, kFinishId);
  Note(L"complete");
  if (!g_options.restart) RemoveEntry();
}

LRESULT CALLBACK PageProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_COMMAND && HIWORD(wParam) == BN_CLICKED) {
    switch (LOWORD(wParam)) {
      case kConfirmId:
        if (g_options.stuck) return 0;
        if (g_options.modal) {
          Note(L"asked at " + std::to_wstring(GetTickCount()));
          if (MessageBoxW(window, L"Are you sure?", L"Kyd", MB_YESNO) != IDYES) return 0;
        }
        Note(L"confirmed");
        DestroyWindow(window);
        if (g_options.stall) {
          Page(g_options.title, L"取消", kCancelId);
        } else if (g_options.vanish) {
          RemoveEntry();
          PostQuitMessage(0);
        } else if (g_options.restart)
          Page(L"Microsoft Windows", L"稍后重新启动(&L)", kLaterId);
        else
          ShowCompletion();
        return 0;
      case kLaterId:
        Note(L"restart later");
        DestroyWindow(window);
        ShowCompletion();
        return 0;
      default:
        return 0;
    }
  }
  return DefWindowProcW(window, message, wParam, lParam);
}

// A modal box runs a message loop of its own, which never sees the wizard's
// lifetime timer: the process ends from a thread of its own instead.
DWORD WINAPI EndOfLife(void*) {
  Sleep(kLifetimeMs);
  ExitProcess(0);
}

int Wizard() {
  if (g_options.modal) CloseHandle(CreateThread(nullptr, 0, EndOfLife, nullptr, 0, nullptr));
  wchar_t desktop[256] = {};
  GetUserObjectInformationW(GetThreadDesktop(GetCurrentThreadId()), UOI_NAME, desktop, sizeof desktop, nullptr);
  Note(std::wstring(L"desktop ") + desktop);
  WNDCLASSW page{};
  page.lpfnWndProc = PageProc;
  page.hInstance = GetModuleHandleW(nullptr);
  page.lpszClassName = L"KydWizardPage";
  RegisterClassW(&page);
  Page(g_options.title, g_options.button, kConfirmId);
  // The first page is up, so any helper its desktop needed is running. One
  // the wizard started itself shares the wizard's job, which is then not
  // empty when the wizard ends.
  // A process whose parent ID is ours but which began before us had a parent
  // that ended long ago, whose ID Wine has handed to the wizard since.
  auto began = [](HANDLE process) {
    FILETIME created{}, exited{}, kernel{}, user{};
    if (!GetProcessTimes(process, &created, &exited, &kernel, &user)) return ULONGLONG{0};
    return (ULONGLONG{created.dwHighDateTime} << 32) | created.dwLowDateTime;
  };
  const ULONGLONG wizardBegan = began(GetCurrentProcess());
  kyd::UniqueHandle snapshot(CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
  PROCESSENTRY32W entry{};
  entry.dwSize = sizeof entry;
  for (BOOL more = snapshot && Process32FirstW(snapshot.get(), &entry); more;
       more = Process32NextW(snapshot.get(), &entry)) {
    if (entry.th32ParentProcessID != GetCurrentProcessId() || lstrcmpiW(entry.szExeFile, L"conhost.exe") == 0)
      continue;  // its console's host is Windows' own as well
    // A child whose start cannot be read is counted: 0 means unknown, not early.
    kyd::UniqueHandle child(OpenProcess(PROCESS_QUERY_INFORMATION, FALSE, entry.th32ProcessID));
    const ULONGLONG childBegan = child ? began(child.get()) : 0;
    if (childBegan != 0 && childBegan < wizardBegan) continue;
    Note(std::wstring(L"started ") + entry.szExeFile);
  }
  SetTimer(nullptr, 0, kLifetimeMs, nullptr);
  MSG message;
  while (GetMessageW(&message, nullptr, 0, 0) > 0) {
    if (message.message == WM_TIMER && message.hwnd == nullptr) break;
    TranslateMessage(&message);
    DispatchMessageW(&message);
  }
  return 0;
}

// --- the console uninstaller ---

int Hang() {
  wchar_t self[MAX_PATH] = {};
  GetModuleFileNameW(nullptr, self, MAX_PATH);
  std::wstring line = L"\"" + std::wstring(self) + L"\" --child";
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process{};
  if (CreateProcessW(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process)) {
    kyd::UniqueHandle owner(process.hProcess), thread(process.hThread);
    Note(L"child " + std::to_wstring(process.dwProcessId));
  }
  Sleep(kLifetimeMs);
  return 0;
}

}  // namespace

int main() {
  const std::vector<std::wstring> args = kyd::CommandLineArgs();
  for (size_t i = 1; i < args.size(); ++i) {
    const std::wstring& arg = args[i];
    const std::wstring next = i + 1 < args.size() ? args[i + 1] : L"";
    if (arg == L"--entry") g_options.entry = next, ++i;
    else if (arg == L"--view") g_options.view64 = next == L"64", ++i;
    else if (arg == L"--title") g_options.title = next, ++i;
    else if (arg == L"--button") g_options.button = next, ++i;
    else if (arg == L"--done-title") g_options.doneTitle = next, ++i;
    else if (arg == L"--done-button") g_options.doneButton = next, ++i;
    else if (arg == L"--remove") g_options.remove = true;
    else if (arg == L"--hang") g_options.hang = true;
    else if (arg == L"--child") g_options.child = true;
    else if (arg == L"--wizard") g_options.wizard = true;
    else if (arg == L"--restart") g_options.restart = true;
    else if (arg == L"--stuck") g_options.stuck = true;
    else if (arg == L"--modal") g_options.modal = true;
    else if (arg == L"--stall") g_options.stall = true;
    else if (arg == L"--vanish") g_options.vanish = true;
  }
  g_options.silent = args.size() > 1 && args.back() == L"-s";
  if (g_options.child) {
    Sleep(kLifetimeMs);
    return 0;
  }
  wchar_t self[MAX_PATH] = {};
  GetModuleFileNameW(nullptr, self, MAX_PATH);
  Note(L"run " + std::wstring(self) + L": " + GetCommandLineW());
  if (g_options.wizard) return Wizard();
  if (g_options.hang) return Hang();
  if (g_options.silent || g_options.remove) RemoveEntry();
  return 0;
}
