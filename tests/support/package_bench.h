// What the package tests need: installed-program entries seeded under the
// Uninstall key of either registry view, catalogue files, and the library's
// log captured in-process.
#pragma once

#include <windows.h>

#include <string>
#include <utility>
#include <vector>

#include "platform/handle.h"
#include "support/log_capture.h"
#include "support/wine_bench.h"

namespace kydtest::pkg {

using kydtest::LogCapture;

constexpr wchar_t kUninstallKeyPath[] = L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall";

// A name no other test process uses: stem-pid-counter.
std::wstring UniqueName(const std::wstring& stem);

// A subkey of the Uninstall key with string values, deleted with the object.
// view64: the 64-bit view (KEY_WOW64_64KEY), else the 32-bit view
// (KEY_WOW64_32KEY); on 32-bit Windows both are the same key.
class SeededUninstallEntry {
 public:
  using Values = std::vector<std::pair<std::wstring, std::wstring>>;
  SeededUninstallEntry(const std::wstring& keyName, bool view64, const Values& values);
  ~SeededUninstallEntry();
  SeededUninstallEntry(const SeededUninstallEntry&) = delete;
  SeededUninstallEntry& operator=(const SeededUninstallEntry&) = delete;

  bool ok() const { return ok_; }
  const std::wstring& name() const { return name_; }

 private:
  std::wstring name_;
  bool view64_;
  bool ok_ = false;
};

// A desktop named like the uninstallers' private one ("kyd_instdrv"), held
// open for a suite as another program might hold it: the library must pass
// it over and make one of its own. Wine starts a manager (explorer.exe) for
// the default desktop from the first program that opens a console window;
// started from an uninstaller, it would sit in the uninstaller's job and
// keep the job from emptying. The holder starts that manager with a program
// of its own first.
kyd::UniqueDesktop HoldUninstallDesktop();

// Catalogue text as written: bytes in GBK for a "gb2312" declaration, in
// UTF-8 for "utf-8" (ToNarrow). A narrow literal in a test is already GBK (the
// tests are compiled with the product's execution character set); what the
// loader makes of it is ToWide(bytes, CP_ACP).

}  // namespace kydtest::pkg
