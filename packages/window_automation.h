// Driving an InstallShield uninstaller's pages without a user: the
// confirmation page's button is clicked, Windows' restart prompt is put off,
// and the completion page is recognised. Which windows and buttons to look
// for comes from the package's window records; every match is a
// case-insensitive search in the window's text.
#pragma once

#include <windows.h>

#include <functional>
#include <string>
#include <vector>

#include "packages/package_config.h"
#include "platform/handle.h"

namespace kyd {

// The first window whose text contains text: a top-level window of the
// calling thread's desktop when parent is null, else a descendant of parent.
HWND FindWindowByText(HWND parent, const std::wstring& text);

// Looks for the confirmation page's button for up to about two minutes,
// clicks it, and answers whether the click was taken: the page changed
// within a few seconds. No handler of the click (a modal box) can hold the
// caller for longer than that.
bool ClickBeginButton(const std::vector<APP_UNSETUP_WND>& windows);

// Clicks "restart later" on Windows' restart prompt, when one is shown.
bool DismissRestartPrompt();

// The completion page: a top-level window with a configured completion
// title that shows a configured completion button, visible and enabled.
// restart: that button speaks of restarting Windows (in Chinese or English).
struct CompletionPage {
  HWND window = nullptr;
  bool restart = false;
};
CompletionPage FindCompleteWindow(const std::vector<APP_UNSETUP_WND>& windows);

// A desktop of our own for an uninstaller's windows, where nobody sees or
// drives them but us: preferred when no desktop of that name exists, else
// (someone else made it, and could watch or drive the uninstaller there) a
// fresh one named preferred with an unguessable ending. name is the one
// made; null when none could be.
UniqueDesktop MakePrivateDesktop(const std::wstring& preferred, std::wstring& name);

// Runs work on a thread of our own switched to desktop, while the caller
// waits. A thread that owns a window or a hook (any windowed host's main
// thread) cannot be moved to another desktop, and window searches only see
// the calling thread's desktop; a new thread owns neither. It is switched
// back before it ends, so the desktop can be closed afterwards.
void RunOnDesktop(HDESK desktop, const std::function<void()>& work);

// For as long as it lives, a thread of ours stays on desktop, having asked
// for the desktop's window before anything else runs there. Under Wine that
// window belongs to a helper process started by the first thread that asks
// for it: asked for here, the helper is ours, not a process of the job the
// uninstaller runs in, so that job empties when the uninstaller's own
// processes end. On Windows the window is the system's and nothing starts.
class DesktopPresence {
 public:
  explicit DesktopPresence(HDESK desktop);
  ~DesktopPresence();
  DesktopPresence(const DesktopPresence&) = delete;
  DesktopPresence& operator=(const DesktopPresence&) = delete;

 private:
  static DWORD WINAPI Stay(void* parameter);

  HDESK desktop_;
  UniqueHandle ready_, leave_, thread_;
};

}  // namespace kyd
