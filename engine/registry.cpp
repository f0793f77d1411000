// Registry primitives of the cleaning engine: reading, deleting, and the
// sweeps that delete whatever a vendor's name list matches.
#include <windows.h>

#include <vector>

#include "engine/base_drv_uninst.h"
#include "engine/registry_access.h"
#include "machine/machine.h"
#include "platform/base_log.h"

namespace kyd {
namespace {

constexpr char kLogUnit[] = "BaseDrvUninst";

constexpr size_t kMaxTreePath = 1023;       // longest key path a tree delete builds
constexpr DWORD kLastDataLimit = 0x1000000;  // 16 MB: past this a value is not read

bool QueryCounts(HKEY key, DWORD* subKeys, DWORD* values) {
  return machine::KeyCounts(key, subKeys, values);
}

}  // namespace

namespace reg {

// The only place that chooses the registry view.
constexpr REGSAM kView = KEY_WOW64_64KEY;

LONG Open(HKEY root, const std::wstring& path, REGSAM access, UniqueKey& key) {
  return machine::OpenKey(root, path, access | kView, key);
}

LONG DeleteSubKey(HKEY parent, const std::wstring& path) {
  // In the view the sweep found the key in, not the Wow6432Node twin that a
  // 32-bit process's plain RegDeleteKeyW would take.
  return machine::RemoveKey(parent, path, kView);
}

bool ListSubKeys(HKEY root, const std::wstring& path, std::vector<std::wstring>& names) {
  return machine::ReadSubKeys(root, path, kView, names) == ERROR_SUCCESS;
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
  return machine::ListSubKeys(key.get(), names);
}

bool CBaseDrvUninst::EnumValueNames(HKEY root, const std::wstring& path,
                                    std::vector<std::wstring>& names) {
  return machine::ReadValueNames(root, path, reg::kView, names) == ERROR_SUCCESS;
}

bool CBaseDrvUninst::ReadStringValue(HKEY root, const std::wstring& path,
                                     const std::wstring& valueName, std::wstring& text) {
  DWORD type = REG_NONE;
  std::vector<BYTE> data;
  if (machine::ReadValue(root, path, reg::kView, valueName, type, data) != ERROR_SUCCESS) return false;
  if (data.size() > kLastDataLimit) return false;
  if (type != REG_SZ && type != REG_EXPAND_SZ && type != REG_MULTI_SZ) return false;
  // The text ends at its first zero, or with the data when the stored text
  // lacks its terminating zero.
  const auto* chars = reinterpret_cast<const wchar_t*>(data.data());
  size_t length = 0;
  while (length < data.size() / sizeof(wchar_t) && chars[length] != L'\0') ++length;
  text.assign(chars, length);
  return true;
}

// ---------------------------------------------------------------- deleting

namespace {

// A path whose every part names a subkey. An empty path, or an empty part
// ("CLSID\\" + a value that read empty), would open the key above instead,
// and the whole of it would go.
bool NamesASubKey(const std::wstring& path) {
  return !path.empty() && path.front() != L'\\' && path.back() != L'\\' &&
         path.find(L"\\\\") == std::wstring::npos;
}

}  // namespace

bool CBaseDrvUninst::DeleteKeyTree(HKEY parent, const std::wstring& path) {
  if (!NamesASubKey(path)) {
    KLOG(base::LOG_ERROR, "delete key (%S) refused: it names no subkey", path.c_str());
    return false;
  }
  UniqueKey key;
  if (reg::Open(parent, path, reg::kDelete, key) != ERROR_SUCCESS) return false;
  std::vector<std::wstring> names;
  if (machine::ListSubKeys(key.get(), names)) {
    // Last index first, as the subkeys would be walked while deleting them.
    for (auto name = names.rbegin(); name != names.rend(); ++name) {
      std::wstring child = path + L"\\" + *name;
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
  LONG status = machine::RemoveValue(key.get(), valueName);
  KLOG(base::LOG_INFO, "delete value %S %S", pathText.c_str(), valueName.c_str());
  return status == ERROR_SUCCESS;
}

bool CBaseDrvUninst::DeleteValueAt(HKEY root, const std::wstring& path,
                                   const std::wstring& valueName) {
  UniqueKey key;
  if (reg::Open(root, path, reg::kDelete, key) != ERROR_SUCCESS) return false;
  return DeleteValue(std::move(key), valueName, path);
}

bool CBaseDrvUninst::DeleteKeyIfNoSubKeys(HKEY root, const std::wstring& path) {
  if (path.empty()) return false;  // would name the hive itself
  std::vector<std::wstring> subKeys;
  if (!reg::ListSubKeys(root, path, subKeys) || !subKeys.empty()) return false;
  return DeleteKey(root, path);
}

void CBaseDrvUninst::DeleteWholeValues(HKEY root, const std::wstring& path, NameList names) {
  for (const wchar_t* name : names)
    if (name) DeleteValueAt(root, path, name);
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
    std::vector<std::wstring> subKeys, values;
    if (!reg::ListSubKeys(root, key, subKeys) || !subKeys.empty() || !EnumValueNames(root, key, values) ||
        !values.empty())
      return;
    DeleteKey(root, key);
    if (key.size() == top.size()) return;
  }
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
                                              const std::wstring& valueName, NameList among) {
  std::vector<std::wstring> names;
  if (among.empty()) {
    if (!reg::ListSubKeys(root, path, names)) return;
  } else {
    for (const wchar_t* name : among)
      if (name && *name) names.emplace_back(name);
  }
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
