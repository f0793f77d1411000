#include "support/package_bench.h"

#include <windows.h>

#include <atomic>
#include <regex>

#include "platform/base_log.h"
#include "platform/handle.h"

namespace kydtest::pkg {
namespace {

REGSAM ViewFlag(bool view64) { return view64 ? KEY_WOW64_64KEY : KEY_WOW64_32KEY; }

std::wstring EntryPath(const std::wstring& keyName) { return std::wstring(kUninstallKeyPath) + L"\\" + keyName; }

}  // namespace

std::wstring UniqueName(const std::wstring& stem) {
  static std::atomic<int> counter{0};
  return stem + L"-" + std::to_wstring(GetCurrentProcessId()) + L"-" + std::to_wstring(counter++);
}

SeededUninstallEntry::SeededUninstallEntry(const std::wstring& keyName, bool view64, const Values& values)
    : name_(keyName), view64_(view64) {
  kyd::UniqueKey key;
  if (RegCreateKeyExW(HKEY_LOCAL_MACHINE, EntryPath(name_).c_str(), 0, nullptr, 0,
                      KEY_ALL_ACCESS | ViewFlag(view64_), nullptr, key.put(), nullptr) != ERROR_SUCCESS)
    return;
  ok_ = true;
  for (const auto& [name, data] : values) {
    if (RegSetValueExW(key.get(), name.c_str(), 0, REG_SZ, reinterpret_cast<const BYTE*>(data.c_str()),
                       static_cast<DWORD>((data.size() + 1) * sizeof(wchar_t))) != ERROR_SUCCESS)
      ok_ = false;
  }
}

SeededUninstallEntry::~SeededUninstallEntry() {
  // The 32-bit view is the default one of this (32-bit) test program.
  RegDeleteTreeIfPresent(HKEY_LOCAL_MACHINE, EntryPath(name_), view64_);
}

kyd::UniqueDesktop HoldUninstallDesktop() {
  kyd::UniqueDesktop desktop(CreateDesktopW(L"kyd_instdrv", nullptr, nullptr, 0, GENERIC_ALL, nullptr));
  std::wstring line = L"\"" + TestExeDir() + L"\\sleeper.exe\" 0";
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION started{};
  if (CreateProcessW(nullptr, line.data(), nullptr, nullptr, FALSE, CREATE_NEW_CONSOLE, nullptr, nullptr, &startup,
                     &started)) {
    kyd::UniqueHandle process(started.hProcess), thread(started.hThread);
    WaitForSingleObject(process.get(), 30000);
  }
  return desktop;
}

}  // namespace kydtest::pkg
