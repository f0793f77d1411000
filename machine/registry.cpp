// Registry changes through the seam, each with its three faces side by side
// (perform, plan, journal), and the registry reads a plan's overlay shapes.
#include "machine/read_cache.h"
#include "machine/session.h"

#include <cstring>

namespace kyd::machine {

namespace {

using reads::kSubKeyNameRoom;
using reads::kValueNameRoom;

std::wstring KeyId(HKEY key) { return UpperCase(journal::KeyName(key)); }

// Every value of an open key, exactly as stored.
bool ReadAllValues(HKEY key, std::vector<SavedValue>& values) {
  DWORD count = 0, longestName = 0, longestData = 0;
  if (RegQueryInfoKeyW(key, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, &count, &longestName,
                       &longestData, nullptr, nullptr) != ERROR_SUCCESS)
    return false;
  for (DWORD index = 0; index < count; ++index) {
    std::vector<wchar_t> name(longestName + 2);
    std::vector<BYTE> data(longestData + 2);
    for (;;) {
      DWORD nameLength = static_cast<DWORD>(name.size());
      DWORD dataSize = static_cast<DWORD>(data.size());
      DWORD type = 0;
      LONG status = RegEnumValueW(key, index, name.data(), &nameLength, nullptr, &type, data.data(), &dataSize);
      if (status == ERROR_MORE_DATA && name.size() < kValueNameRoom * 2) {
        name.resize(name.size() * 2 + kSubKeyNameRoom);
        data.resize(data.size() * 2 + 1024);
        continue;
      }
      if (status != ERROR_SUCCESS) return false;
      values.push_back({std::wstring(name.data(), nameLength), type,
                        std::vector<BYTE>(data.begin(), data.begin() + dataSize)});
      break;
    }
  }
  return true;
}

bool ReadOneValue(HKEY key, const std::wstring& name, SavedValue& value) {
  DWORD size = 0, type = 0;
  if (RegQueryValueExW(key, name.c_str(), nullptr, &type, nullptr, &size) != ERROR_SUCCESS) return false;
  for (int attempt = 0; attempt < 4; ++attempt) {
    std::vector<BYTE> data(size + 2);
    DWORD got = static_cast<DWORD>(data.size());
    LONG status = RegQueryValueExW(key, name.c_str(), nullptr, &type, data.data(), &got);
    if (status == ERROR_MORE_DATA) {
      size = got;
      continue;
    }
    if (status != ERROR_SUCCESS) return false;
    data.resize(got);
    value = {name, type, std::move(data)};
    return true;
  }
  return false;
}

LONG WriteValueNow(HKEY root, const std::wstring& path, REGSAM access, bool create,
                   const std::wstring& name, DWORD type, const void* data, DWORD size) {
  UniqueKey key;
  LONG status = create ? RegCreateKeyExW(root, path.c_str(), 0, nullptr, 0, access, nullptr, key.put(), nullptr)
                       : RegOpenKeyExW(root, path.c_str(), 0, access, key.put());
  if (status != ERROR_SUCCESS) return status;
  return RegSetValueExW(key.get(), name.c_str(), 0, type, static_cast<const BYTE*>(data), size);
}

// A deletion made: the run's reads forget the key (everything, when its
// name could not be read).
LONG KeyGone(LONG status, const std::wstring& name) {
  if (status != ERROR_SUCCESS) return status;
  if (name.empty()) reads::Forget();
  else reads::KeyRemoved(name);
  return status;
}

LONG ValueGone(LONG status, HKEY key, const std::wstring& keyName, const std::wstring& name) {
  if (status != ERROR_SUCCESS || !reads::Active()) return status;
  const std::wstring known = keyName.empty() ? journal::KeyName(key) : keyName;
  if (known.empty()) reads::Forget();
  else reads::ValueRemoved(known, name);
  return status;
}

LONG Written(LONG status, HKEY root, const std::wstring& path, REGSAM access) {
  if (status == ERROR_SUCCESS) reads::ValueWritten(root, path, access);
  return status;
}

}  // namespace

// ------------------------------------------------------------- changes

LONG RemoveKey(HKEY parent, const std::wstring& path, REGSAM view) {
  Session::State* s = g_state;
  if (!s) {
    if (!reads::Active()) return journal::DeleteKeyIn(parent, path, view);
    std::wstring name;
    UniqueKey key;
    if (RegOpenKeyExW(parent, path.c_str(), 0, KEY_QUERY_VALUE | view, key.put()) == ERROR_SUCCESS)
      name = journal::KeyName(key.get());
    key.reset();
    return KeyGone(journal::DeleteKeyIn(parent, path, view), name);
  }
  UniqueKey key;
  LONG status = OpenKey(parent, path, KEY_READ | view, key);
  DWORD subKeys = 0;
  if (status == ERROR_SUCCESS && !KeyCounts(key.get(), &subKeys, nullptr)) status = ERROR_READ_FAULT;
  if (status != ERROR_SUCCESS && s->mode == Mode::kJournal && Unreadable(static_cast<DWORD>(status))) {
    RefuseUnread(*s, L"delete-key", journal::KeyName(parent) + L"\\" + path, static_cast<DWORD>(status));
    return kNotSaved;
  }
  if (status == ERROR_SUCCESS && subKeys > 0) status = ERROR_ACCESS_DENIED;  // a key with subkeys left is not deleted
  if (status != ERROR_SUCCESS)
    return s->mode == Mode::kPlan ? status : KeyGone(journal::DeleteKeyIn(parent, path, view), std::wstring());
  std::wstring name = journal::KeyName(key.get());
  Line line = MakeLine(L"delete-key", name);
  line.Set(L"view", journal::ViewOf(name));
  bool go = Record(*s, line, [&](Line& l, DWORD& error) {
    std::vector<SavedValue> values;
    if (name.empty() || !ReadAllValues(key.get(), values)) {
      error = name.empty() ? ERROR_INVALID_HANDLE : GetLastError();
      return false;
    }
    return SaveText(*s, l, journal::MaterialName(l.number, L".values"), journal::FormatValues(values), error);
  });
  if (!go) return kNotSaved;
  if (s->mode == Mode::kPlan) return ERROR_SUCCESS;
  key.reset();
  return KeyGone(journal::DeleteKeyIn(parent, path, view), name);
}

LONG RemoveValue(HKEY key, const std::wstring& name) {
  Session::State* s = g_state;
  if (!s) return ValueGone(RegDeleteValueW(key, name.c_str()), key, std::wstring(), name);
  LONG status = QueryValue(key, name, nullptr, nullptr, nullptr);
  if (status != ERROR_SUCCESS && s->mode == Mode::kJournal && Unreadable(static_cast<DWORD>(status))) {
    RefuseUnread(*s, L"delete-value", journal::KeyName(key), static_cast<DWORD>(status));
    return kNotSaved;
  }
  if (status != ERROR_SUCCESS)
    return s->mode == Mode::kPlan ? status : ValueGone(RegDeleteValueW(key, name.c_str()), key, std::wstring(), name);
  std::wstring keyName = journal::KeyName(key);
  Line line = MakeLine(L"delete-value", keyName);
  line.Set(L"name", name).Set(L"view", journal::ViewOf(keyName));
  bool go = Record(*s, line, [&](Line& l, DWORD& error) {
    SavedValue value;
    if (keyName.empty() || !ReadOneValue(key, name, value)) {
      error = ERROR_READ_FAULT;
      return false;
    }
    return SaveText(*s, l, journal::MaterialName(l.number, L".values"), journal::FormatValues({value}), error);
  });
  if (!go) return kNotSaved;
  return s->mode == Mode::kPlan ? ERROR_SUCCESS : ValueGone(RegDeleteValueW(key, name.c_str()), key, keyName, name);
}

LONG WriteValue(HKEY root, const std::wstring& path, REGSAM access, bool create,
                const std::wstring& name, DWORD type, const void* data, DWORD size) {
  Session::State* s = g_state;
  if (!s) return Written(WriteValueNow(root, path, access, create, name, type, data, size), root, path, access);
  const REGSAM view = access & (KEY_WOW64_64KEY | KEY_WOW64_32KEY);
  const auto* bytes = static_cast<const BYTE*>(data);
  std::vector<BYTE> wanted(bytes, bytes + size);

  // The key's name, or for a key still to be made its nearest existing
  // parent's name and the rest of the path.
  UniqueKey key;
  const LONG opened = OpenKey(root, path, KEY_QUERY_VALUE | view, key);
  const bool exists = opened == ERROR_SUCCESS;
  if (!exists && s->mode == Mode::kJournal && Unreadable(static_cast<DWORD>(opened))) {
    RefuseUnread(*s, L"set-value", journal::KeyName(root) + L"\\" + path, static_cast<DWORD>(opened));
    return kNotSaved;
  }
  if (!exists && !create) {
    return s->mode == Mode::kPlan
               ? ERROR_FILE_NOT_FOUND
               : Written(WriteValueNow(root, path, access, create, name, type, data, size), root, path, access);
  }
  std::wstring keyName;
  if (exists) {
    keyName = journal::KeyName(key.get());
  } else {
    std::wstring parent = path, rest;
    while (!parent.empty() && keyName.empty()) {
      size_t slash = parent.rfind(L'\\');
      rest = parent.substr(slash == std::wstring::npos ? 0 : slash) + rest;
      if (rest[0] != L'\\') rest = L"\\" + rest;
      parent = slash == std::wstring::npos ? std::wstring() : parent.substr(0, slash);
      UniqueKey ancestor;
      if (OpenKey(root, parent, KEY_QUERY_VALUE | view, ancestor) == ERROR_SUCCESS) {
        std::wstring ancestorName = journal::KeyName(ancestor.get());
        if (!ancestorName.empty()) keyName = ancestorName + rest;
      }
    }
  }
  SavedValue old;
  bool hadValue = false;
  if (exists) {
    DWORD oldType = 0, oldSize = 0;
    LONG status = QueryValue(key.get(), name, &oldType, nullptr, &oldSize);
    if (status == ERROR_SUCCESS) {
      old.data.resize(oldSize);
      status = QueryValue(key.get(), name, &oldType, old.data.data(), &oldSize);
      hadValue = status == ERROR_SUCCESS;
      old.name = name;
      old.type = oldType;
      old.data.resize(oldSize);
    }
    if (!hadValue && s->mode == Mode::kJournal && Unreadable(static_cast<DWORD>(status))) {
      RefuseUnread(*s, L"set-value", keyName, static_cast<DWORD>(status));
      return kNotSaved;
    }
    // Writing what is there already changes nothing: no line.
    if (hadValue && old.type == type && old.data == wanted) {
      return s->mode == Mode::kPlan ? ERROR_SUCCESS
                                    : Written(WriteValueNow(root, path, access, create, name, type, data, size),
                                              root, path, access);
    }
  }
  Line line = MakeLine(L"set-value", keyName);
  line.Set(L"name", name)
      .Set(L"view", journal::ViewOf(keyName))
      .Set(L"type", std::to_wstring(type))
      .Set(L"new", journal::Hex(data, size))
      .Set(L"created", exists ? L"no" : L"yes")
      .Set(L"old", hadValue ? L"saved" : L"absent");
  bool go = Record(*s, line, [&](Line& l, DWORD& error) {
    if (keyName.empty()) {
      error = ERROR_INVALID_HANDLE;
      return false;
    }
    std::vector<SavedValue> saved;
    if (hadValue) saved.push_back(old);
    return SaveText(*s, l, journal::MaterialName(l.number, L".values"), journal::FormatValues(saved), error);
  });
  if (!go) return kNotSaved;
  if (s->mode == Mode::kPlan) return ERROR_SUCCESS;
  return Written(WriteValueNow(root, path, access, create, name, type, data, size), root, path, access);
}

// ------------------------------------------------------------- reads

LONG OpenKey(HKEY root, const std::wstring& path, REGSAM access, UniqueKey& key) {
  LONG status = RegOpenKeyExW(root, path.empty() ? nullptr : path.c_str(), 0, access, key.put());
  Session::State* s = Planner();
  if (status != ERROR_SUCCESS || !s || s->overlay.keys.empty() || path.empty()) return status;
  if (s->overlay.keys.count(KeyId(key.get()))) {
    key.reset();
    return ERROR_FILE_NOT_FOUND;
  }
  return status;
}

bool ListSubKeys(HKEY key, std::vector<std::wstring>& names) {
  Session::State* s = Planner();
  const std::wstring prefix = s && !s->overlay.keys.empty() ? KeyId(key) + L"\\" : std::wstring();
  return reads::EnumerateNames(key, true, [&](std::wstring child) {
    if (prefix.size() > 1 && s->overlay.keys.count(prefix + UpperCase(child))) return;
    names.push_back(std::move(child));
  });
}

bool ListValueNames(HKEY key, std::vector<std::wstring>& names) {
  Session::State* s = Planner();
  const bool plain = !s || (s->overlay.values.empty() && s->overlay.written.empty());
  const std::wstring prefix = plain ? std::wstring() : KeyId(key) + L"\n";
  std::set<std::wstring> listed;
  bool read = reads::EnumerateNames(key, false, [&](std::wstring value) {
    if (!plain) {
      std::wstring id = prefix + UpperCase(value);
      if (s->overlay.values.count(id)) return;
      listed.insert(id);
    }
    names.push_back(std::move(value));
  });
  if (!read || plain || prefix.size() <= 1) return read;
  // Values the plan writes that are not there yet come last, as new values do.
  for (auto it = s->overlay.written.lower_bound(prefix);
       it != s->overlay.written.end() && it->first.compare(0, prefix.size(), prefix) == 0; ++it) {
    if (!listed.count(it->first)) names.push_back(it->second.name);
  }
  return true;
}

bool KeyCounts(HKEY key, DWORD* subKeys, DWORD* values) {
  Session::State* s = Planner();
  if (!s || s->overlay.NoRegistry()) {
    return RegQueryInfoKeyW(key, nullptr, nullptr, nullptr, subKeys, nullptr, nullptr, values, nullptr,
                            nullptr, nullptr, nullptr) == ERROR_SUCCESS;
  }
  std::vector<std::wstring> names;
  if (subKeys) {
    if (!ListSubKeys(key, names)) return false;
    *subKeys = static_cast<DWORD>(names.size());
  }
  if (values) {
    names.clear();
    if (!ListValueNames(key, names)) return false;
    *values = static_cast<DWORD>(names.size());
  }
  return true;
}

LONG QueryValue(HKEY key, const std::wstring& name, DWORD* type, BYTE* data, DWORD* size) {
  Session::State* s = Planner();
  if (s && !(s->overlay.values.empty() && s->overlay.written.empty())) {
    std::wstring id = KeyId(key) + L"\n" + UpperCase(name);
    if (s->overlay.values.count(id)) return ERROR_FILE_NOT_FOUND;
    auto written = s->overlay.written.find(id);
    if (written != s->overlay.written.end()) {
      const Overlay::Written& value = written->second;
      DWORD needed = static_cast<DWORD>(value.data.size());
      if (type) *type = value.type;
      if (!data) {
        if (size) *size = needed;
        return ERROR_SUCCESS;
      }
      if (!size) return ERROR_INVALID_PARAMETER;
      DWORD room = *size;
      *size = needed;
      if (room < needed) return ERROR_MORE_DATA;
      if (needed) std::memcpy(data, value.data.data(), needed);
      return ERROR_SUCCESS;
    }
  }
  return RegQueryValueExW(key, name.c_str(), nullptr, type, data, size);
}

}  // namespace kyd::machine
