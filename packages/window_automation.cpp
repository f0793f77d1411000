#include "packages/window_automation.h"

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
// "Restart" in simplified and traditional Chinese.
constexpr wchar_t kRestartWords[][5] = {L"重新启动", L"重新啟動"};

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

struct DesktopWork {
  HDESK desktop;
  const std::function<void()>* work;
};

DWORD WINAPI DesktopThread(void* parameter) {
  const auto* job = static_cast<const DesktopWork*>(parameter);
  HDESK previous = GetThreadDesktop(GetCurrentThreadId());
  const bool switched = job->desktop && SetThreadDesktop(job->desktop);
  try {
    (*job->work)();
  } catch (...) {
  }
  if (switched) SetThreadDesktop(previous);
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

HWND FindCompleteWindow(const std::vector<APP_UNSETUP_WND>& windows, int& restart) {
  for (const APP_UNSETUP_WND& page : windows) {
    if (page.wsCompleteWndTitle.empty()) continue;
    HWND window = FindWindowByText(nullptr, page.wsCompleteWndTitle);
    if (!window) continue;
    // The configured text decides, not what the page shows: "Yes, restart
    // now" as the finishing button means the driver goes at the next start.
    if (SpeaksOfRestart(page.wsCompleteWndBtn)) restart = 1;
    // A wizard that shows its finishing button greyed out while it works
    // (NSIS's "Close") has not finished yet.
    for (const APP_UNSETUP_WND& record : windows) {
      if (record.wsCompleteWndBtn.empty()) continue;
      if (FindChildByText(window, record.wsCompleteWndBtn, true)) return window;
    }
  }
  return nullptr;
}

void RunOnDesktop(HDESK desktop, const std::function<void()>& work) {
  DesktopWork job{desktop, &work};
  UniqueHandle thread(CreateThread(nullptr, 0, DesktopThread, &job, 0, nullptr));
  if (thread)
    WaitForSingleObject(thread.get(), INFINITE);
  else
    DesktopThread(&job);  // no thread to be had: try on the caller's own
}

}  // namespace kyd
