#include "packages/window_automation.h"

#include <shlwapi.h>

#include "platform/base_log.h"
#include "platform/handle.h"

namespace kyd {
namespace {

constexpr char kLogUnit[] = "AppPackage";

// Window texts and search texts are compared up to 259 characters.
constexpr int kTextChars = 260;

constexpr int kBeginButtonPasses = 120;
constexpr DWORD kPassSleepMs = 1000;
constexpr DWORD kAfterClickMs = 200;

// Windows' own prompt to restart now or later, shown by the installer
// service when a removed driver is still loaded.
constexpr wchar_t kRestartPromptTitle[] = L"Microsoft Windows";
constexpr wchar_t kRestartLaterButton[] = L"稍后重新启动(&L)";
// "Restart" in simplified and traditional Chinese.
constexpr wchar_t kRestartWords[][5] = {L"重新启动", L"重新啟動"};

struct TextSearch {
  const wchar_t* text;
  HWND found;
};

BOOL CALLBACK VisitWindow(HWND window, LPARAM parameter) {
  auto* search = reinterpret_cast<TextSearch*>(parameter);
  wchar_t text[kTextChars] = {};
  if (GetWindowTextW(window, text, kTextChars) <= 0) return TRUE;
  if (!StrStrIW(text, search->text)) return TRUE;
  search->found = window;
  return FALSE;
}

// A simulated left click 5 pixels inside the button's corner, sent (not
// posted) so that the uninstaller has handled it when we look again.
bool ClickAndCheckGone(HWND button) {
  RECT client{};
  GetClientRect(button, &client);
  const LPARAM point = MAKELPARAM(client.left + 5, client.top + 5);
  SendMessageW(button, WM_LBUTTONDOWN, MK_LBUTTON, point);
  SendMessageW(button, WM_LBUTTONUP, MK_LBUTTON, point);
  Sleep(kAfterClickMs);
  return !IsWindow(button);
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

HWND FindWindowByText(HWND parent, const std::wstring& text) {
  const std::wstring cut = text.substr(0, kTextChars - 1);
  TextSearch search{cut.c_str(), nullptr};
  if (parent)
    EnumChildWindows(parent, VisitWindow, reinterpret_cast<LPARAM>(&search));
  else
    EnumWindows(VisitWindow, reinterpret_cast<LPARAM>(&search));
  return search.found;
}

bool ClickBeginButton(const std::vector<APP_UNSETUP_WND>& windows) {
  HWND button = FindBeginButton(windows);
  if (!button) {
    KLOG(base::LOG_TRACE, "未找到卸载确认按钮\n");
    return false;
  }
  return ClickAndCheckGone(button);
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
  return ClickAndCheckGone(later);
}

HWND FindCompleteWindow(const std::vector<APP_UNSETUP_WND>& windows, int& restart) {
  for (const APP_UNSETUP_WND& page : windows) {
    if (page.wsCompleteWndTitle.empty()) continue;
    HWND window = FindWindowByText(nullptr, page.wsCompleteWndTitle);
    if (!window) continue;
    // The configured text decides, not what the page shows: "Yes, restart
    // now" as the finishing button means the driver goes at the next start.
    if (SpeaksOfRestart(page.wsCompleteWndBtn)) restart = 1;
    for (const APP_UNSETUP_WND& record : windows) {
      if (record.wsCompleteWndBtn.empty()) continue;
      if (FindWindowByText(window, record.wsCompleteWndBtn)) return window;
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
