// Registry primitives of the cleaning engine: reading, deleting, and the
// sweeps that delete whatever a vendor's name list matches.
#include <windows.h>

#include <vector>

#include "engine/base_drv_uninst.h"
#include "engine/registry_access.h"
#include "platform/base_log.h"

namespace kyd {
namespace {

constexpr char kLogUnit[] = "BaseDrvUninst";

constexpr DWORD kSubKeyNameRoom = 256;      // 255 characters and the terminator
constexpr DWORD kValueNameRoom = 16384;     // 16383 characters and the terminator
constexpr DWORD kTreeNameRoom = 1024;       // names read while deleting a tree
constexpr size_t kMaxTreePath = 1023;       // longest key path a tree delete builds
constexpr DWORD kFirstDataLimit = 2048;     // bytes, doubled while the value is larger
constexpr DWORD kLastDataLimit = 0x1000000;  // 16 MB: past this a value is not read

bool QueryCounts(HKEY key, DWORD* subKeys, DWORD* values) {
  return RegQueryInfoKeyW(key, nullptr, nullptr, nullptr, subKeys, nullptr, nullptr, values,
                          nullptr, nullptr, nullptr, nullptr) == ERROR_SUCCESS;
}

// Deletes one value from root\path and logs the attempt; a key that cannot be
// opened for deleting is passed over silently.
void DeleteValueAt(HKEY root, const std::wstring& path, const std::wstring& valueName) {
  UniqueKey key;
  if (reg::Open(root, path, reg::kDelete, key) != ERROR_SUCCESS) return;
  CBaseDrvUninst::DeleteValue(std::move(key), valueName, path);
}

}  // namespace

namespace reg {

// The only place that chooses the registry view.
constexpr REGSAM kView = KEY_WOW64_64KEY;

LONG Open(HKEY root, const std::wstring& path, REGSAM access, UniqueKey& key) {
  return RegOpenKeyExW(root, path.empty() ? nullptr : path.c_str(), 0, access | kView, key.put());
}

LONG DeleteSubKey(HKEY parent, const std::wstring& path) {
  // RegDeleteKeyW of a 32-bit process deletes in the 32-bit view on 64-bit
  // Windows, which would take the Wow6432Node twin instead of the key the
  // sweep found. RegDeleteKeyExW (XP x64 and later) names the view; 32-bit
  // Windows XP lacks it and has only the one view anyway.
  using DeleteKeyExFn = LONG(WINAPI*)(HKEY, LPCWSTR, REGSAM, DWORD);
  static const DeleteKeyExFn deleteKeyEx = reinterpret_cast<DeleteKeyExFn>(
      reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"advapi32.dll"), "RegDeleteKeyExW")));
  if (deleteKeyEx) return deleteKeyEx(parent, path.c_str(), kView, 0);
  return RegDeleteKeyW(parent, path.c_str());
}

bool ListSubKeys(HKEY root, const std::wstring& path, std::vector<std::wstring>& names) {
  UniqueKey key;
  if (Open(root, path, kRead, key) != ERROR_SUCCESS) return false;
  return CBaseDrvUninst::EnumSubKeys(std::move(key), names);
}

}  // namespace reg

// ---------------------------------------------------------------- reading

bool CBaseDrvUninst::HasNoSubKeys(UniqueKey key) {
  DWORD count = 0;
  return QueryCounts(key.get(), &count, nullptr) && count == 0;
}

bool CBaseDrvUninst::HasNoValues(UniqueKey key) {
  DWORD count = 0;
  return QueryCounts(key.get(), nullptr, &count) && count == 0;
}

bool CBaseDrvUninst::EnumSubKeys(UniqueKey key, std::vector<std::wstring>& names) {
  DWORD count = 0;
  if (!QueryCounts(key.get(), &count, nullptr)) return false;
  for (DWORD index = 0; index < count; ++index) {
    wchar_t name[kSubKeyNameRoom];
    DWORD length = kSubKeyNameRoom;
    if (RegEnumKeyExW(key.get(), index, name, &length, nullptr, nullptr, nullptr, nullptr) !=
        ERROR_SUCCESS)
      continue;
    names.emplace_back(name, length);
  }
  return true;
}

bool CBaseDrvUninst::EnumValueNames(HKEY root, const std::wstring& path,
                                    std::vector<std::wstring>& names) {
  UniqueKey key;
  if (reg::Open(root, path, reg::kRead, key) != ERROR_SUCCESS) return false;
  DWORD count = 0;
  if (!QueryCounts(key.get(), nullptr, &count)) return false;
  std::vector<wchar_t> name(kValueNameRoom);
  for (DWORD index = 0; index < count; ++index) {
    DWORD length = kValueNameRoom;
    if (RegEnumValueW(key.get(), index, name.data(), &length, nullptr, nullptr, nullptr,
                      nullptr) != ERROR_SUCCESS)
      continue;
    names.emplace_back(name.data(), length);
  }
  return true;
}

bool CBaseDrvUninst::ReadStringValue(HKEY root, const std::wstring& path,
                                     const std::wstring& valueName, std::wstring& text) {
  UniqueKey key;
  if (reg::Open(root, path, reg::kRead, key) != ERROR_SUCCESS) return false;
  for (DWORD limit = kFirstDataLimit; limit <= kLastDataLimit; limit *= 2) {
    // Twice the room we admit to, zero-filled: the text stays terminated even
    // when the stored data lacks its terminating zero.
    std::vector<wchar_t> buffer(limit, L'\0');
    DWORD type = REG_NONE;
    DWORD size = limit;
    LONG status = RegQueryValueExW(key.get(), valueName.c_str(), nullptr, &type,
                                   reinterpret_cast<BYTE*>(buffer.data()), &size);
    if (status == ERROR_MORE_DATA) continue;
    if (status != ERROR_SUCCESS) return false;
    if (type != REG_SZ && type != REG_EXPAND_SZ && type != REG_MULTI_SZ) return false;
    text.assign(buffer.data());
    return true;
  }
  return false;
}

// ---------------------------------------------------------------- deleting

bool CBaseDrvUninst::DeleteKeyTree(HKEY parent, const std::wstring& path) {
  UniqueKey key;
  if (reg::Open(parent, path, reg::kDelete, key) != ERROR_SUCCESS) return false;
  DWORD count = 0;
  if (QueryCounts(key.get(), &count, nullptr)) {
    // Last index first, so that deletions do not shift the indexes to come.
    for (DWORD index = count; index-- > 0;) {
      wchar_t name[kTreeNameRoom];
      if (RegEnumKeyW(key.get(), index, name, kTreeNameRoom) != ERROR_SUCCESS) continue;
      std::wstring child = path + L"\\" + name;
      if (child.size() > kMaxTreePath) continue;  // left in place, as is its subtree
      UniqueKey childKey;
      if (reg::Open(parent, child, reg::kDelete, childKey) == ERROR_SUCCESS &&
          !HasNoSubKeys(std::move(childKey)))
        DeleteKeyTree(parent, child);
      reg::DeleteSubKey(parent, child);
    }
  }
  key.reset();
  reg::DeleteSubKey(parent, path);
  return true;
}

bool CBaseDrvUninst::DeleteKey(HKEY root, const std::wstring& path) {
  UniqueKey rootKey;
  if (reg::Open(root, std::wstring(), reg::kDelete, rootKey) != ERROR_SUCCESS) return false;
  bool deleted = DeleteKeyTree(rootKey.get(), path);
  KLOG(base::LOG_INFO, "delete key %S", path.c_str());
  return deleted;
}

bool CBaseDrvUninst::DeleteValue(UniqueKey key, const std::wstring& valueName,
                                 const std::wstring& pathText) {
  LONG status = RegDeleteValueW(key.get(), valueName.c_str());
  KLOG(base::LOG_INFO, "delete value %S %S", pathText.c_str(), valueName.c_str());
  return status == ERROR_SUCCESS;
}

void CBaseDrvUninst::DeleteWholeValues(HKEY root, const std::wstring& path, NameList names) {
  for (const wchar_t* name : names) {
    if (!name) continue;
    UniqueKey key;
    if (reg::Open(root, path, reg::kDelete, key) != ERROR_SUCCESS) continue;
    DeleteValue(std::move(key), name, path);
  }
}

// ---------------------------------------------------------------- sweeps

void CBaseDrvUninst::DeleteSubKeysByName(HKEY root, const std::wstring& path,
                                         NameList fragments) {
  std::vector<std::wstring> names;
  if (!reg::ListSubKeys(root, path, names)) return;
  reg::ActOnFirstMatch(names, fragments, reg::Contains(),
                       [&](const std::wstring& name) { DeleteKey(root, path + L"\\" + name); });
}

void CBaseDrvUninst::DeleteSubKeysByExactName(const std::wstring& path, NameList names) {
  std::vector<std::wstring> subKeys;
  if (!reg::ListSubKeys(HKEY_LOCAL_MACHINE, path, subKeys)) return;
  reg::ActOnFirstMatch(subKeys, names, reg::Equals(), [&](const std::wstring& name) {
    DeleteKey(HKEY_LOCAL_MACHINE, path + L"\\" + name);
  });
}

void CBaseDrvUninst::DeleteSubKeysByPrefix(HKEY root, const std::wstring& path, NameList prefixes) {
  std::vector<std::wstring> names;
  if (!reg::ListSubKeys(root, path, names)) return;
  reg::ActOnFirstMatch(names, prefixes, reg::BeginsWith(),
                       [&](const std::wstring& name) { DeleteKey(root, path + L"\\" + name); });
}

void CBaseDrvUninst::DeleteKeyIfEmptyUpTo(HKEY root, const std::wstring& path, const std::wstring& top) {
  // path must be top itself or lie below it, or the walk could climb past it.
  if (top.empty() || path.size() < top.size() || StrCmpNIW(path.c_str(), top.c_str(), lstrlenW(top.c_str())) != 0 ||
      (path.size() > top.size() && path[top.size()] != L'\\'))
    return;
  for (std::wstring key = path;; key.resize(key.rfind(L'\\'))) {
    UniqueKey handle;
    if (reg::Open(root, key, reg::kRead, handle) != ERROR_SUCCESS) return;
    DWORD subKeys = 0, values = 0;
    if (!QueryCounts(handle.get(), &subKeys, &values) || subKeys != 0 || values != 0) return;
    handle.reset();
    DeleteKey(root, key);
    if (key.size() == top.size()) return;
  }
}

void CBaseDrvUninst::DeleteKeyIfNoSubKeys(HKEY root, const std::wstring& path) {
  UniqueKey key;
  if (reg::Open(root, path, reg::kRead, key) != ERROR_SUCCESS) return;
  if (HasNoSubKeys(std::move(key))) DeleteKey(root, path);
}

void CBaseDrvUninst::DeleteValuesByName(const std::wstring& path, NameList fragments) {
  std::vector<std::wstring> values;
  if (!EnumValueNames(HKEY_LOCAL_MACHINE, path, values)) return;
  reg::ActOnFirstMatch(values, fragments, reg::Contains(), [&](const std::wstring& name) {
    DeleteValueAt(HKEY_LOCAL_MACHINE, path, name);
  });
}

void CBaseDrvUninst::DeleteValuesByData(const std::wstring& path, NameList fragments) {
  std::vector<std::wstring> values;
  if (!EnumValueNames(HKEY_LOCAL_MACHINE, path, values)) return;
  struct Value {
    std::wstring name, data;
  };
  std::vector<Value> strings;
  for (const std::wstring& name : values) {
    std::wstring data;
    if (ReadStringValue(HKEY_LOCAL_MACHINE, path, name, data)) strings.push_back({name, data});
  }
  reg::ActOnFirstMatch(
      strings, fragments,
      [](const Value& value, const wchar_t* fragment) { return reg::Contains()(value.data, fragment); },
      [&](const Value& value) { DeleteValueAt(HKEY_LOCAL_MACHINE, path, value.name); });
}

void CBaseDrvUninst::DeleteSubKeysByValueName(const std::wstring& path, HKEY root,
                                              const wchar_t* fragment) {
  std::vector<std::wstring> names;
  if (!reg::ListSubKeys(root, path, names)) return;
  const wchar_t* const only[] = {fragment};
  reg::ActOnFirstMatch(
      names, NameList(only),
      [&](const std::wstring& name, const wchar_t* part) {
        std::vector<std::wstring> valueNames;
        if (!EnumValueNames(root, path + L"\\" + name, valueNames)) return false;
        for (const std::wstring& valueName : valueNames)
          if (reg::Contains()(valueName, part)) return true;
        return false;
      },
      [&](const std::wstring& name) { DeleteKey(root, path + L"\\" + name); });
}

void CBaseDrvUninst::DeleteSubKeysByValueData(NameList fragments, HKEY root,
                                              const std::wstring& path,
                                              const std::wstring& valueName) {
  std::vector<std::wstring> names;
  if (!reg::ListSubKeys(root, path, names)) return;
  struct SubKey {
    std::wstring name, data;
  };
  std::vector<SubKey> readable;
  for (const std::wstring& name : names) {
    std::wstring data;
    if (ReadStringValue(root, path + L"\\" + name, valueName, data)) readable.push_back({name, data});
  }
  reg::ActOnFirstMatch(
      readable, fragments,
      [](const SubKey& key, const wchar_t* fragment) { return reg::Contains()(key.data, fragment); },
      [&](const SubKey& key) { DeleteKey(root, path + L"\\" + key.name); });
}

}  // namespace kyd
