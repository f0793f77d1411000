// Snapshots for the footprint bench. The registry is dumped by the registry
// server itself (RegSaveKey of HKEY_LOCAL_MACHINE and HKEY_USERS: one call
// each, where walking some 16,000 keys key by key takes tens of seconds on a
// busy machine) and the dump is read back; volatile keys are not dumped, so
// the video adapter keys are walked as well. Files are walked with WOW64
// redirection off.
#include <windows.h>
#include <sddl.h>

#include <algorithm>
#include <cwctype>

#include "platform/handle.h"
#include "support/footprint.h"

#include "machine/journal.h"
#include "support/engine_bench.h"
#include "support/wine_bench.h"

namespace kydtest::fp {
namespace {

// Reads one escaped text of the dump (a key path or a quoted name) from
// text[pos] up to the unescaped `end` character; pos ends after it.
std::wstring Unescape(const std::string& text, size_t& pos, char end) {
  static const char kEscapes[] = "a\ab\bt\tn\nv\vf\fr\re\x1b";
  std::wstring out;
  while (pos < text.size() && text[pos] != end) {
    char c = text[pos++];
    if (c != '\\' || pos >= text.size()) {
      out += static_cast<wchar_t>(static_cast<unsigned char>(c));
      continue;
    }
    c = text[pos++];
    if (c == 'x') {
      unsigned value = 0;
      for (int n = 0; n < 4 && pos < text.size() && std::isxdigit(static_cast<unsigned char>(text[pos])); ++n)
        value = value * 16 + static_cast<unsigned>(std::stoi(std::string(1, text[pos++]), nullptr, 16));
      out += static_cast<wchar_t>(value);
    } else if (c >= '0' && c <= '7') {
      unsigned value = static_cast<unsigned>(c - '0');
      for (int n = 1; n < 3 && pos < text.size() && text[pos] >= '0' && text[pos] <= '7'; ++n)
        value = value * 8 + static_cast<unsigned>(text[pos++] - '0');
      out += static_cast<wchar_t>(value);
    } else {
      const char* escape = nullptr;
      for (const char* e = kEscapes; *e; e += 2)
        if (*e == c) escape = e + 1;
      out += static_cast<wchar_t>(escape ? *escape : c);
    }
  }
  if (pos < text.size()) ++pos;  // the end character
  return out;
}

// "\Registry\Machine\X" -> "hklm\x"; "\Registry\User\X" -> "hku\x".
std::wstring CanonicalTarget(const std::wstring& kernelPath) {
  std::wstring lower = LowerCase(kernelPath);
  for (auto [from, to] : {std::pair{L"\\registry\\machine", L"hklm"}, std::pair{L"\\registry\\user", L"hku"}})
    if (lower.compare(0, wcslen(from), from) == 0) return to + lower.substr(wcslen(from));
  return lower;
}

std::wstring DecodeLink(const std::string& data) {
  // hex(6):5c,00,52,00,... : UTF-16LE bytes
  std::wstring text;
  std::vector<unsigned> bytes;
  size_t pos = data.find(':');
  if (pos == std::string::npos) return text;
  for (++pos; pos + 1 < data.size();) {
    if (!std::isxdigit(static_cast<unsigned char>(data[pos]))) { ++pos; continue; }
    bytes.push_back(static_cast<unsigned>(std::stoul(data.substr(pos, 2), nullptr, 16)));
    pos += 2;
  }
  for (size_t i = 0; i + 1 < bytes.size(); i += 2) text += static_cast<wchar_t>(bytes[i] | (bytes[i + 1] << 8));
  return text;
}

void AddKeyWithAncestors(Snapshot& snapshot, const std::wstring& key) {
  for (size_t slash = key.find(L'\\'); slash != std::wstring::npos; slash = key.find(L'\\', slash + 1))
    snapshot.keys[key.substr(0, slash)];
  snapshot.keys[key];
}

// Reads a dump of Wine's registry format into the snapshot under `prefix`.
void ReadDump(const std::string& dump, const std::wstring& prefix, Snapshot& snapshot) {
  std::wstring current;
  size_t pos = 0;
  auto nextLine = [&](std::string& line) {
    if (pos >= dump.size()) return false;
    size_t end = dump.find('\n', pos);
    if (end == std::string::npos) end = dump.size();
    line = dump.substr(pos, end - pos);
    if (!line.empty() && line.back() == '\r') line.pop_back();
    pos = end + 1;
    return true;
  };
  std::string line;
  while (nextLine(line)) {
    if (line.empty()) continue;
    if (line[0] == '[') {
      size_t at = 1;
      std::wstring path = Unescape(line, at, ']');
      current = LowerCase(prefix + L"\\" + path);
      AddKeyWithAncestors(snapshot, current);
    } else if ((line[0] == '"' || line[0] == '@') && !current.empty()) {
      std::string next;
      while (!line.empty() && line.back() == '\\' && nextLine(next)) {
        line.pop_back();
        size_t first = next.find_first_not_of(' ');
        line += first == std::string::npos ? std::string() : next.substr(first);
      }
      size_t at = 1;
      std::wstring name = line[0] == '@' ? std::wstring() : LowerCase(Unescape(line, at, '"'));
      if (at < line.size() && line[at] == '=') ++at;
      std::string data = line.substr(at);
      snapshot.keys[current][name] = ToWide(data);
      if (name == L"symboliclinkvalue" && data.compare(0, 7, "hex(6):") == 0)
        snapshot.links[current] = CanonicalTarget(DecodeLink(data));
    }
  }
}

bool DumpHive(HKEY root, const std::wstring& prefix, const std::wstring& file, Snapshot& snapshot) {
  kyd::UniqueKey key;
  if (RegOpenKeyExW(root, nullptr, 0, KEY_READ | KEY_WOW64_64KEY, key.put()) != ERROR_SUCCESS) return false;
  DeleteFileW(file.c_str());
  if (RegSaveKeyW(key.get(), file.c_str(), nullptr) != ERROR_SUCCESS) return false;
  ReadDump(ReadFileBytes(file), prefix, snapshot);
  DeleteFileW(file.c_str());
  return true;
}

std::wstring Hex(const BYTE* data, DWORD size) {
  static const wchar_t kDigits[] = L"0123456789abcdef";
  std::wstring text;
  for (DWORD i = 0; i < size; ++i) {
    text += kDigits[data[i] >> 4];
    text += kDigits[data[i] & 15];
  }
  return text;
}

// Keys the server does not dump because they are volatile, walked key by key.
void WalkVolatile(HKEY root, const std::wstring& path, const std::wstring& canonical, Snapshot& snapshot) {
  kyd::UniqueKey key;
  if (RegOpenKeyExW(root, path.c_str(), 0, KEY_READ | KEY_WOW64_64KEY, key.put()) != ERROR_SUCCESS) return;
  AddKeyWithAncestors(snapshot, canonical);
  auto& values = snapshot.keys[canonical];
  std::vector<wchar_t> name(16384);
  std::vector<BYTE> data(65536);
  for (DWORD i = 0;; ++i) {
    DWORD nameLength = static_cast<DWORD>(name.size()), size = static_cast<DWORD>(data.size()), type = 0;
    if (RegEnumValueW(key.get(), i, name.data(), &nameLength, nullptr, &type, data.data(), &size) != ERROR_SUCCESS)
      break;
    values[LowerCase(std::wstring(name.data(), nameLength))] = std::to_wstring(type) + L":" + Hex(data.data(), size);
  }
  std::vector<std::wstring> children;
  for (DWORD i = 0;; ++i) {
    wchar_t child[256];
    DWORD length = 256;
    if (RegEnumKeyExW(key.get(), i, child, &length, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) break;
    children.emplace_back(child, length);
  }
  for (const std::wstring& child : children)
    WalkVolatile(root, path + L"\\" + child, canonical + L"\\" + LowerCase(child), snapshot);
}

// The test area (scratch folders, staged hosts, journals and plans) is the
// bench's own, no part of the machine a footprint describes.
void WalkFiles(const std::wstring& folder, Snapshot& snapshot) {
  static const std::wstring area = LowerCase(TestArea());
  WIN32_FIND_DATAW entry;
  kyd::UniqueFind search(FindFirstFileW((folder + L"\\*").c_str(), &entry));
  if (!search) return;
  do {
    if (!wcscmp(entry.cFileName, L".") || !wcscmp(entry.cFileName, L"..")) continue;
    std::wstring path = folder + L"\\" + entry.cFileName;
    if (LowerCase(path) == area) continue;
    bool isFolder = (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
    ULARGE_INTEGER size{}, time{};
    size.LowPart = entry.nFileSizeLow;
    size.HighPart = entry.nFileSizeHigh;
    time.LowPart = entry.ftLastWriteTime.dwLowDateTime;
    time.HighPart = entry.ftLastWriteTime.dwHighDateTime;
    snapshot.files[LowerCase(path)] =
        isFolder ? L"dir " + std::to_wstring(entry.dwFileAttributes)
                 : L"file " + std::to_wstring(entry.dwFileAttributes) + L" " +
                       std::to_wstring(size.QuadPart) + L" " + std::to_wstring(time.QuadPart);
    if (isFolder && !(entry.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT)) WalkFiles(path, snapshot);
  } while (FindNextFileW(search.get(), &entry));
}

std::wstring CurrentUserSid() {
  kyd::UniqueHandle token;
  if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, token.put())) return {};
  std::vector<BYTE> buffer(1024);
  DWORD size = 0;
  if (!GetTokenInformation(token.get(), TokenUser, buffer.data(), static_cast<DWORD>(buffer.size()), &size))
    return {};
  wchar_t* text = nullptr;
  if (!ConvertSidToStringSidW(reinterpret_cast<TOKEN_USER*>(buffer.data())->User.Sid, &text)) return {};
  std::wstring sid = text;
  LocalFree(text);
  return sid;
}

}  // namespace

std::wstring LowerCase(std::wstring text) {
  for (wchar_t& c : text) c = static_cast<wchar_t>(std::towlower(c));
  return text;
}

PrivilegesScope::PrivilegesScope(std::initializer_list<const wchar_t*> names) {
  if (!OpenProcessToken(GetCurrentProcess(), TOKEN_ADJUST_PRIVILEGES | TOKEN_QUERY, token_.put())) return;
  const size_t room = sizeof(TOKEN_PRIVILEGES) + names.size() * sizeof(LUID_AND_ATTRIBUTES);
  std::vector<BYTE> wanted(room);
  auto* list = reinterpret_cast<TOKEN_PRIVILEGES*>(wanted.data());
  for (const wchar_t* name : names) {
    LUID_AND_ATTRIBUTES& entry = list->Privileges[list->PrivilegeCount];
    if (!LookupPrivilegeValueW(nullptr, name, &entry.Luid)) continue;
    entry.Attributes = SE_PRIVILEGE_ENABLED;
    ++list->PrivilegeCount;
  }
  previous_.assign(room, 0);
  DWORD size = static_cast<DWORD>(room);
  if (!AdjustTokenPrivileges(token_.get(), FALSE, list, size, reinterpret_cast<TOKEN_PRIVILEGES*>(previous_.data()),
                             &size))
    previous_.clear();
}

PrivilegesScope::~PrivilegesScope() {
  // The earlier state of what the call changed (nothing, when all were on).
  auto* previous = reinterpret_cast<TOKEN_PRIVILEGES*>(previous_.data());
  if (!previous_.empty() && previous->PrivilegeCount > 0)
    AdjustTokenPrivileges(token_.get(), FALSE, previous, 0, nullptr, nullptr);
}

Snapshot TakeSnapshot(const std::vector<std::wstring>& volatileKeys) {
  Snapshot snapshot;
  {
    PrivilegesScope backup({L"SeBackupPrivilege"});
    ScratchDir dumps(L"fp-dump");
    DumpHive(HKEY_LOCAL_MACHINE, L"hklm", dumps / L"hklm.txt", snapshot);
    DumpHive(HKEY_USERS, L"hku", dumps / L"hku.txt", snapshot);
  }
  const std::wstring video = L"SYSTEM\\CurrentControlSet\\Control\\Video";
  WalkVolatile(HKEY_LOCAL_MACHINE, video, L"hklm\\" + LowerCase(video), snapshot);
  for (const std::wstring& key : volatileKeys) {
    size_t slash = key.find(L'\\');
    std::wstring hive = LowerCase(key.substr(0, slash)), path = key.substr(slash + 1);
    HKEY root = hive == L"hklm" ? HKEY_LOCAL_MACHINE : hive == L"hku" ? HKEY_USERS
              : hive == L"hkcr" ? HKEY_CLASSES_ROOT : HKEY_CURRENT_USER;
    WalkVolatile(root, path, CanonicalKey(key, snapshot), snapshot);
  }
  // The secrets of the journals the library keeps are its own, no footprint.
  const std::wstring secrets = L"hklm\\" + LowerCase(L"SOFTWARE\\KYDDrvUninst");
  for (auto it = snapshot.keys.lower_bound(secrets);
       it != snapshot.keys.end() && it->first.compare(0, secrets.size(), secrets) == 0;)
    it = snapshot.keys.erase(it);
  kyd::machine::journal::NativePaths native(true);  // the folders as they are on disk
  WalkFiles(WindowsDir().substr(0, 2), snapshot);
  return snapshot;
}

std::wstring CanonicalKey(const std::wstring& hivePath, const Snapshot& snapshot) {
  static const std::wstring sid = LowerCase(CurrentUserSid());
  size_t slash = hivePath.find(L'\\');
  std::wstring hive = LowerCase(hivePath.substr(0, slash));
  std::wstring rest = slash == std::wstring::npos ? std::wstring() : LowerCase(hivePath.substr(slash));
  std::wstring key;
  if (hive == L"hklm") key = L"hklm" + rest;
  else if (hive == L"hku") key = L"hku" + rest;
  else if (hive == L"hkcu") key = L"hku\\" + sid + rest;
  else if (hive == L"hkcr") key = L"hklm\\software\\classes" + rest;
  else return {};
  // Follow registry links (as Software\Wow6432Node\Classes) to where the keys live.
  for (int round = 0; round < 8; ++round) {
    bool moved = false;
    for (const auto& [link, target] : snapshot.links) {
      if (key.compare(0, link.size(), link) == 0 && (key.size() == link.size() || key[link.size()] == L'\\')) {
        key = target + key.substr(link.size());
        moved = true;
        break;
      }
    }
    if (!moved) break;
  }
  return key;
}

namespace {
bool AtOrUnder(const std::wstring& key, const std::wstring& root) {
  return key.compare(0, root.size(), root) == 0 && (key.size() == root.size() || key[root.size()] == L'\\');
}
}  // namespace

std::vector<std::wstring> ShellStartupKeys(const Footprint& footprint, const Snapshot& snapshot) {
  std::vector<std::wstring> keys;
  for (const wchar_t* startup : kShellStartupKeys) {
    const std::wstring key = CanonicalKey(startup, snapshot);
    bool named = false;
    for (const Item& item : footprint.items)
      if (item.kind == Kind::kKey || item.kind == Kind::kValue)
        named = named || AtOrUnder(CanonicalKey(item.where, snapshot), key);
    if (!named) keys.push_back(key);
  }
  return keys;
}

std::vector<Change> Diff(const Snapshot& before, const Snapshot& after, const std::vector<std::wstring>& shellKeys) {
  std::vector<Change> changes;
  auto byShell = [&](const std::wstring& key) {
    for (const std::wstring& root : shellKeys)
      if (AtOrUnder(key, root)) return true;
    return false;
  };
  auto keyChange = [&](const std::wstring& key, const char* what) {
    changes.push_back({key, L"", false, false, what});
  };
  for (const auto& [key, values] : before.keys) {
    auto it = after.keys.find(key);
    if (it == after.keys.end()) {
      keyChange(key, "removed");
      continue;
    }
    for (const auto& [name, data] : values) {
      auto value = it->second.find(name);
      if (value == it->second.end()) changes.push_back({key, name, true, false, "removed"});
      else if (value->second != data) changes.push_back({key, name, true, false, "changed"});
    }
    for (const auto& [name, data] : it->second)
      if (!values.count(name) && !byShell(key)) changes.push_back({key, name, true, false, "added"});
  }
  for (const auto& [key, values] : after.keys)
    if (!before.keys.count(key) && !byShell(key)) keyChange(key, "added");
  for (const auto& [path, info] : before.files) {
    auto it = after.files.find(path);
    if (it == after.files.end()) changes.push_back({path, L"", false, true, "removed"});
    else if (it->second != info) changes.push_back({path, L"", false, true, "changed"});
  }
  for (const auto& [path, info] : after.files)
    if (!before.files.count(path)) changes.push_back({path, L"", false, true, "added"});
  return changes;
}

std::string Change::Describe() const {
  std::string kind = isFile ? "file " : isValue ? "value " : "key ";
  std::string text = kind + ToNarrow(path);
  if (isValue) text += " : " + (valueName.empty() ? std::string("@") : ToNarrow(valueName));
  return text + " " + what;
}

}  // namespace kydtest::fp
