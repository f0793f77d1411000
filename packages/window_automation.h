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

// The completion page, or null: a page with a configured completion title
// whose configured button is shown and enabled. A page whose record's button
// text speaks of a restart sets restart to 1.
HWND FindCompleteWindow(const std::vector<APP_UNSETUP_WND>& windows, int& restart);

// Runs work on a thread of our own switched to desktop, while the caller
// waits. A thread that owns a window or a hook (any windowed host's main
// thread) cannot be moved to another desktop, and window searches only see
// the calling thread's desktop; a new thread owns neither. It is switched
// back before it ends, so the desktop can be closed afterwards.
void RunOnDesktop(HDESK desktop, const std::function<void()>& work);

}  // namespace kyd
