#include "support/package_bench.h"

#include <windows.h>
#include <tlhelp32.h>

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

int RunningProcesses(const std::wstring& exeName) {
  int count = 0;
  kyd::UniqueHandle snapshot(CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
  PROCESSENTRY32W entry{};
  entry.dwSize = sizeof entry;
  for (BOOL more = Process32FirstW(snapshot.get(), &entry); more; more = Process32NextW(snapshot.get(), &entry))
    count += _wcsicmp(entry.szExeFile, exeName.c_str()) == 0;
  return count;
}

std::vector<std::wstring> UninstallSubkeys(bool view64) {
  std::vector<std::wstring> names;
  kyd::UniqueKey key;
  if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, kUninstallKeyPath, 0, KEY_READ | ViewFlag(view64), key.put()) !=
      ERROR_SUCCESS)
    return names;
  for (DWORD i = 0;; ++i) {
    wchar_t name[260];
    DWORD length = 260;
    if (RegEnumKeyExW(key.get(), i, name, &length, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS)
      break;
    names.emplace_back(name, length);
  }
  return names;
}

std::string Utf8Of(const std::wstring& text) { return ToNarrow(text); }

std::wstring FromAnsi(const std::string& bytes) {
  if (bytes.empty()) return {};
  int n = MultiByteToWideChar(CP_ACP, 0, bytes.data(), static_cast<int>(bytes.size()), nullptr, 0);
  std::wstring wide(static_cast<size_t>(n), L'\0');
  MultiByteToWideChar(CP_ACP, 0, bytes.data(), static_cast<int>(bytes.size()), wide.data(), n);
  return wide;
}

}  // namespace kydtest::pkg
