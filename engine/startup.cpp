// Startup entries: vendor tray tools and updaters start at logon from the
// Run keys. Rather than listing those values, the engine records every
// startup entry when the deep clean begins and, whenever it deletes a file,
// removes the entries whose command starts that file.
#include <windows.h>

#include <vector>

#include "engine/base_drv_uninst.h"
#include "engine/registry_access.h"

namespace kyd {
namespace {

constexpr wchar_t kRunPath[] = L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Run";
constexpr wchar_t kRunPath32[] = L"SOFTWARE\\Wow6432Node\\Microsoft\\Windows\\CurrentVersion\\Run";
constexpr DWORD kExpandRoom = 1000;  // characters

struct RunKey {
  HKEY root;
  const wchar_t* path;
  bool only64BitWindows;  // the 32-bit programs' key exists only there
};

// The order in which the keys are recorded...
const RunKey kRecordOrder[] = {
    {HKEY_LOCAL_MACHINE, kRunPath, false},
    {HKEY_CURRENT_USER, kRunPath, false},
    {HKEY_LOCAL_MACHINE, kRunPath32, true},
};
// ...and the order in which a file's entries are deleted from them.
const RunKey kDeleteOrder[] = {
    {HKEY_LOCAL_MACHINE, kRunPath, false},
    {HKEY_LOCAL_MACHINE, kRunPath32, true},
    {HKEY_CURRENT_USER, kRunPath, false},
};

// The command with its environment variables expanded; the text as stored
// when it cannot be expanded.
std::wstring Expand(const std::wstring& text) {
  std::vector<wchar_t> buffer(kExpandRoom, L'\0');
  DWORD needed = ExpandEnvironmentStringsW(text.c_str(), buffer.data(), kExpandRoom);
  if (needed == 0) return text;
  if (needed > kExpandRoom) {
    // A long command: expand it whole rather than keep a partial text.
    buffer.assign(needed, L'\0');
    if (ExpandEnvironmentStringsW(text.c_str(), buffer.data(), needed) != needed) return text;
  }
  return buffer.data();
}

}  // namespace

bool CBaseDrvUninst::SnapshotRunEntries() {
  runEntries.clear();
  for (const RunKey& key : kRecordOrder) {
    if (key.only64BitWindows && !isWow64) continue;
    std::vector<std::wstring> names;
    if (!EnumValueNames(key.root, key.path, names)) continue;
    for (const std::wstring& name : names) {
      std::wstring command;
      if (!ReadStringValue(key.root, key.path, name, command)) continue;
      auto entry = std::make_unique<RunEntry>();
      entry->valueName = name;
      entry->command = Expand(command);
      runEntries.push_back(std::move(entry));
    }
  }
  return true;
}

void CBaseDrvUninst::DeleteStartupEntriesNaming(const std::wstring& path) {
  if (path.empty()) return;  // an empty path would name every command
  for (const std::unique_ptr<RunEntry>& entry : runEntries) {
    if (!entry || !reg::Contains()(entry->command, path.c_str())) continue;
    // The record does not know its key: the value goes from all of them.
    for (const RunKey& key : kDeleteOrder) {
      if (key.only64BitWindows && !isWow64) continue;
      UniqueKey handle;
      if (reg::Open(key.root, key.path, reg::kDelete, handle) != ERROR_SUCCESS) continue;
      DeleteValue(std::move(handle), entry->valueName, key.path);
    }
  }
}

}  // namespace kyd
