#include "packages/window_automation.h"

#include <aclapi.h>
#include <shlwapi.h>


#include <algorithm>
#include <vector>

#include "platform/base_log.h"
#include "platform/handle.h"

namespace kyd {
namespace {

constexpr char kLogUnit[] = "AppPackage";

// Window texts and search texts are compared up to 259 characters.
constexpr int kTextChars = 260;

constexpr int kBeginButtonPasses = 120;
constexpr DWORD kPassSleepMs = 1000;
// A click is sent with a time limit: a handler that opens a modal box ("Are
// you sure?") would otherwise hold us until somebody answers it, and nobody
// can on the private desktop.
constexpr UINT kClickSendMs = 1000;
// After a click the page is looked at every 200 ms for up to 3 s.
constexpr DWORD kPageCheckMs = 200;
constexpr DWORD kPageChangeMs = 3000;

// Windows' own prompt to restart now or later, shown by the installer
// service when a removed driver is still loaded.
constexpr wchar_t kRestartPromptTitle[] = L"Microsoft Windows";
constexpr wchar_t kRestartLaterButton[] = L"稍后重新启动(&L)";
// "Restart" in simplified and traditional Chinese, and in English, the
// languages of the wizards we drive.
constexpr const wchar_t* kRestartWords[] = {L"重新启动", L"重新啟動", L"restart", L"reboot"};

struct TextSearch {
  const wchar_t* text;
  bool usableOnly;  // visible and enabled windows only
  HWND found;
};

std::wstring TextOf(HWND window) {
  wchar_t text[kTextChars] = {};
  const int length = GetWindowTextW(window, text, kTextChars);
  return std::wstring(text, length > 0 ? static_cast<size_t>(length) : 0);
}

BOOL CALLBACK VisitWindow(HWND window, LPARAM parameter) {
  auto* search = reinterpret_cast<TextSearch*>(parameter);
  const std::wstring text = TextOf(window);
  if (text.empty() || !StrStrIW(text.c_str(), search->text)) return TRUE;
  if (search->usableOnly && !(IsWindowVisible(window) && IsWindowEnabled(window))) return TRUE;
  search->found = window;
  return FALSE;
}

struct AllWithText {
  const wchar_t* text;
  std::vector<HWND> found;
};

BOOL CALLBACK CollectWithText(HWND window, LPARAM parameter) {
  auto* search = reinterpret_cast<AllWithText*>(parameter);
  const std::wstring text = TextOf(window);
  if (!text.empty() && StrStrIW(text.c_str(), search->text)) search->found.push_back(window);
  return TRUE;
}

// Every top-level window whose title contains text, in enumeration order.
std::vector<HWND> TopLevelWindowsWithText(const std::wstring& text) {
  const std::wstring cut = text.substr(0, kTextChars - 1);
  AllWithText search{cut.c_str(), {}};
  EnumWindows(CollectWithText, reinterpret_cast<LPARAM>(&search));
  return search.found;
}

HWND FindChildByText(HWND parent, const std::wstring& text, bool usableOnly) {
  const std::wstring cut = text.substr(0, kTextChars - 1);
  TextSearch search{cut.c_str(), usableOnly, nullptr};
  if (parent)
    EnumChildWindows(parent, VisitWindow, reinterpret_cast<LPARAM>(&search));
  else
    EnumWindows(VisitWindow, reinterpret_cast<LPARAM>(&search));
  return search.found;
}

BOOL CALLBACK CollectChild(HWND window, LPARAM parameter) {
  reinterpret_cast<std::vector<HWND>*>(parameter)->push_back(window);
  return TRUE;
}

// What a page shows of itself: its button, its title and its windows.
struct PageView {
  bool shown = false;  // the button exists, is visible and enabled
  std::wstring buttonText;
  bool pageExists = false;
  std::wstring title;
  std::vector<HWND> children;  // sorted

  PageView(HWND button, HWND page) {
    shown = IsWindow(button) && IsWindowVisible(button) && IsWindowEnabled(button);
    buttonText = TextOf(button);
    pageExists = IsWindow(page) != FALSE;
    title = TextOf(page);
    if (pageExists) EnumChildWindows(page, CollectChild, reinterpret_cast<LPARAM>(&children));
    std::sort(children.begin(), children.end());
  }
  bool operator==(const PageView&) const = default;
};

// A simulated left click 5 pixels inside the button's corner. The click
// counts as taken when the page changed within a few seconds: the button
// gone, hidden or disabled or its text changed (a wizard that keeps its
// button and turns "Uninstall" into "Close"), or its top-level window's title
// or windows changed. Only a button that stays as it was has not been
// clicked.
bool ClickAndCheckTaken(HWND button) {
  HWND page = GetAncestor(button, GA_ROOT);
  const PageView before(button, page);
  RECT client{};
  GetClientRect(button, &client);
  const LPARAM point = MAKELPARAM(client.left + 5, client.top + 5);
  DWORD_PTR answer = 0;
  SendMessageTimeoutW(button, WM_LBUTTONDOWN, MK_LBUTTON, point, SMTO_ABORTIFHUNG, kClickSendMs, &answer);
  SendMessageTimeoutW(button, WM_LBUTTONUP, MK_LBUTTON, point, SMTO_ABORTIFHUNG, kClickSendMs, &answer);
  for (DWORD waited = 0; waited < kPageChangeMs; waited += kPageCheckMs) {
    Sleep(kPageCheckMs);
    if (!(PageView(button, page) == before)) return true;
  }
  return false;
}

// A title of one record may go with the button text of any record.
HWND FindBeginButtonOnce(const std::vector<APP_UNSETUP_WND>& windows) {
  for (const APP_UNSETUP_WND& page : windows) {
    if (page.wsBeginWndTitle.empty()) continue;
    HWND window = FindWindowByText(nullptr, page.wsBeginWndTitle);
    if (!window) continue;
    for (const APP_UNSETUP_WND& record : windows) {
      if (record.wsBeginWndBtn.empty()) continue;
      if (HWND button = FindWindowByText(window, record.wsBeginWndBtn)) return button;
    }
  }
  return nullptr;
}

HWND FindBeginButton(const std::vector<APP_UNSETUP_WND>& windows) {
  for (int pass = 0; pass < kBeginButtonPasses; ++pass) {
    if (HWND button = FindBeginButtonOnce(windows)) return button;
    Sleep(kPassSleepMs);
  }
  KLOG(base::LOG_ERROR, "FindWindow Realtek High Definition Audio Driver - InstallShield Wizard failed!\n");
  return nullptr;
}

bool SpeaksOfRestart(const std::wstring& buttonText) {
  for (const wchar_t* word : kRestartWords)
    if (StrStrIW(buttonText.c_str(), word)) return true;
  return false;
}

// DESKTOP_READOBJECTS to DESKTOP_SWITCHDESKTOP, and its owner read. No
// hooks of other accounts: the automation reads and clicks windows, it sets
// no hook.
constexpr ACCESS_MASK kDesktopAccess = 0x1FF | READ_CONTROL;
constexpr DWORD kDesktopFlags = 0;
constexpr int kFreshNameTries = 8;

// Whether a desktop of that name exists; one we may not open exists too.
bool DesktopExists(const std::wstring& name) {
  UniqueDesktop desktop(OpenDesktopW(name.c_str(), 0, FALSE, DESKTOP_READOBJECTS));
  if (desktop) return true;
  const DWORD error = GetLastError();
  return error != ERROR_FILE_NOT_FOUND && error != ERROR_PATH_NOT_FOUND;
}

// Whether we made the desktop: its owner is the one our token gives what it
// creates. CreateDesktopW opens a desktop that someone else made between
// our look and our call; the owner tells. When the owners cannot be read,
// nothing tells, and the look before has to do.
bool OwnedByUs(HDESK desktop) {
  PSID owner = nullptr;
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  if (GetSecurityInfo(desktop, SE_WINDOW_OBJECT, OWNER_SECURITY_INFORMATION, &owner, nullptr, nullptr, nullptr,
                      &descriptor) != ERROR_SUCCESS)
    return true;
  UniqueLocal held(descriptor);
  UniqueHandle token;
  if (!OpenThreadToken(GetCurrentThread(), TOKEN_QUERY, TRUE, token.put()) &&
      !OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, token.put()))
    return true;
  DWORD size = 0;
  GetTokenInformation(token.get(), TokenOwner, nullptr, 0, &size);
  std::vector<BYTE> ours(size);
  if (!owner || size == 0 || !GetTokenInformation(token.get(), TokenOwner, ours.data(), size, &size)) return true;
  return EqualSid(owner, reinterpret_cast<TOKEN_OWNER*>(ours.data())->Owner) != FALSE;
}

// An ending nobody can guess and make a desktop of beforehand.
std::wstring FreshEnding() {
  using GenRandom = BOOLEAN(WINAPI*)(void*, ULONG);
  ULONGLONG bits[2] = {};
  auto generate = reinterpret_cast<GenRandom>(
      reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"advapi32.dll"), "SystemFunction036")));
  if (!generate || !generate(bits, sizeof bits)) {
    LARGE_INTEGER now{};
    QueryPerformanceCounter(&now);
    bits[0] = static_cast<ULONGLONG>(now.QuadPart);
    bits[1] = (ULONGLONG{GetCurrentProcessId()} << 32) | GetTickCount();
  }
  std::wstring text = L"-";
  for (ULONGLONG part : bits)
    for (int shift = 60; shift >= 0; shift -= 4) text += L"0123456789abcdef"[(part >> shift) & 0xF];
  return text;
}

struct DesktopWork {
  HDESK desktop;
  const std::function<void()>* work;
};

// Runs `work(switched)` with the calling thread on `desktop` when it can get
// there, and puts the thread back on its own desktop afterwards.
template <class Work>
void OnThreadDesktop(HDESK desktop, Work&& work) {
  HDESK previous = GetThreadDesktop(GetCurrentThreadId());
  const bool switched = desktop && SetThreadDesktop(desktop);
  work(switched);
  if (switched) SetThreadDesktop(previous);
}

DWORD WINAPI DesktopThread(void* parameter) {
  const auto* job = static_cast<const DesktopWork*>(parameter);
  OnThreadDesktop(job->desktop, [job](bool) {
    try {
      (*job->work)();
    } catch (...) {
    }
  });
  return 0;
}

}  // namespace

HWND FindWindowByText(HWND parent, const std::wstring& text) { return FindChildByText(parent, text, false); }

bool ClickBeginButton(const std::vector<APP_UNSETUP_WND>& windows) {
  HWND button = FindBeginButton(windows);
  if (!button) {
    KLOG(base::LOG_TRACE, "未找到卸载确认按钮\n");
    return false;
  }
  return ClickAndCheckTaken(button);
}

bool DismissRestartPrompt() {
  HWND prompt = FindWindowByText(nullptr, kRestartPromptTitle);
  if (!prompt) {
    KLOG(base::LOG_TRACE, "未找到windows重启提示窗口\n");
    return false;
  }
  HWND later = FindWindowByText(prompt, kRestartLaterButton);
  if (!later) {
    KLOG(base::LOG_TRACE, "未找到windows稍后重新启动按钮\n");
    return false;
  }
  return ClickAndCheckTaken(later);
}

CompletionPage FindCompleteWindow(const std::vector<APP_UNSETUP_WND>& windows) {
  for (const APP_UNSETUP_WND& page : windows) {
    if (page.wsCompleteWndTitle.empty()) continue;
    // A wizard may give every page the completion page's title (NVIDIA's),
    // or a title that contains it (InstallShield's): only the button tells
    // the last page from the others. A wizard that shows its finishing
    // button greyed out while it works (NSIS's "Close") has not finished
    // yet.
    for (HWND window : TopLevelWindowsWithText(page.wsCompleteWndTitle)) {
      for (const APP_UNSETUP_WND& record : windows) {
        if (record.wsCompleteWndBtn.empty()) continue;
        HWND button = FindChildByText(window, record.wsCompleteWndBtn, true);
        if (!button) continue;
        // "Yes, restart now" as the finishing choice means the driver goes
        // at the next start.
        return {window, SpeaksOfRestart(TextOf(button))};
      }
    }
  }
  return {};
}

UniqueDesktop MakePrivateDesktop(const std::wstring& preferred, std::wstring& name) {
  for (int attempt = 0; attempt <= kFreshNameTries; ++attempt) {
    name = attempt == 0 ? preferred : preferred + FreshEnding();
    if (DesktopExists(name)) continue;
    UniqueDesktop desktop(CreateDesktopW(name.c_str(), nullptr, nullptr, kDesktopFlags, kDesktopAccess, nullptr));
    // A fresh name nobody could know beforehand needs no second look.
    if (!desktop || (attempt == 0 && !OwnedByUs(desktop.get()))) continue;
    return desktop;
  }
  name.clear();
  return {};
}

void RunOnDesktop(HDESK desktop, const std::function<void()>& work) {
  DesktopWork job{desktop, &work};
  UniqueHandle thread(CreateThread(nullptr, 0, DesktopThread, &job, 0, nullptr));
  if (thread)
    WaitForSingleObject(thread.get(), INFINITE);
  else
    DesktopThread(&job);  // no thread to be had: try on the caller's own
}

// Wine waits up to 10 s for its helper to make the window.
constexpr DWORD kPresenceReadyMs = 15000;

DesktopPresence::DesktopPresence(HDESK desktop)
    : desktop_(desktop),
      ready_(CreateEventW(nullptr, TRUE, FALSE, nullptr)),
      leave_(CreateEventW(nullptr, TRUE, FALSE, nullptr)) {
  if (!desktop_ || !ready_ || !leave_) return;
  thread_.reset(CreateThread(nullptr, 0, Stay, this, 0, nullptr));
  if (thread_) WaitForSingleObject(ready_.get(), kPresenceReadyMs);
}

DesktopPresence::~DesktopPresence() {
  if (!thread_) return;
  SetEvent(leave_.get());
  WaitForSingleObject(thread_.get(), INFINITE);
}

DWORD WINAPI DesktopPresence::Stay(void* parameter) {
  auto* self = static_cast<DesktopPresence*>(parameter);
  OnThreadDesktop(self->desktop_, [self](bool switched) {
    if (switched) GetDesktopWindow();
    SetEvent(self->ready_.get());
    WaitForSingleObject(self->leave_.get(), INFINITE);
  });
  return 0;
}

}  // namespace kyd
