#include "support/machine_snapshot.h"

#include <sddl.h>
#include <shlwapi.h>

#include <set>

#include "machine/journal.h"
#include "machine/seal.h"
#include "platform/handle.h"
#include "support/wine_bench.h"

namespace kydtest {
namespace {

std::wstring Upper(std::wstring text) {
  if (!text.empty()) CharUpperBuffW(text.data(), static_cast<DWORD>(text.size()));
  return text;
}

std::wstring HexOf(const void* data, size_t size) {
  static const wchar_t digits[] = L"0123456789abcdef";
  const auto* bytes = static_cast<const BYTE*>(data);
  std::wstring out;
  for (size_t i = 0; i < size; ++i) {
    out += digits[bytes[i] >> 4];
    out += digits[bytes[i] & 0xF];
  }
  return out;
}

std::wstring Hex8(DWORD value) {
  wchar_t text[12];
  _snwprintf(text, 11, L"%08lx", static_cast<unsigned long>(value));
  text[11] = L'\0';
  return text;
}

bool SplitName(const std::wstring& name, HKEY& root, std::wstring& path) {
  for (const auto& [prefix, key] : {std::pair{L"HKLM\\", HKEY_LOCAL_MACHINE}, std::pair{L"HKU\\", HKEY_USERS}}) {
    std::wstring p = prefix;
    if (name.compare(0, p.size(), p) == 0) {
      root = key;
      path = name.substr(p.size());
      return true;
    }
  }
  return false;
}

std::wstring ValueState(DWORD type, const BYTE* data, DWORD size) {
  return L"t" + std::to_wstring(type) + L":" + HexOf(data, size);
}

bool ReadValue(HKEY key, DWORD index, std::wstring& name, std::wstring& state) {
  wchar_t nameBuffer[16384];
  DWORD nameLength = 16384, type = 0, size = 0;
  if (RegEnumValueW(key, index, nameBuffer, &nameLength, nullptr, &type, nullptr, &size) != ERROR_SUCCESS)
    return false;
  std::vector<BYTE> data(size + 1);
  nameLength = 16384;
  if (RegEnumValueW(key, index, nameBuffer, &nameLength, nullptr, &type, data.data(), &size) != ERROR_SUCCESS)
    return false;
  name.assign(nameBuffer, nameLength);
  state = ValueState(type, data.data(), size);
  return true;
}

void TakeTree(HKEY root, const std::wstring& path, const std::wstring& name, MachineState& state) {
  kyd::UniqueKey key;
  if (RegOpenKeyExW(root, path.c_str(), 0, KEY_READ | KEY_WOW64_64KEY, key.put()) != ERROR_SUCCESS) return;
  state[L"KEY " + Upper(name)] = L"";
  for (DWORD index = 0;; ++index) {
    std::wstring valueName, valueState;
    if (!ReadValue(key.get(), index, valueName, valueState)) break;
    state[L"VALUE " + Upper(name) + L"|" + Upper(valueName)] = valueState;
  }
  for (DWORD index = 0;; ++index) {
    wchar_t child[256];
    DWORD length = 256;
    if (RegEnumKeyExW(key.get(), index, child, &length, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) break;
    TakeTree(root, path + L"\\" + child, name + L"\\" + child, state);
  }
}

std::wstring FileState(const std::wstring& path, DWORD attributes) {
  return L"a" + Hex8(attributes) + L":" + [&] {
    std::string bytes = ReadFileBytes(path);
    return HexOf(bytes.data(), bytes.size());
  }();
}

void TakeFolder(const std::wstring& folder, MachineState& state) {
  DWORD attributes = GetFileAttributesW(folder.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) return;
  state[L"FOLDER " + Upper(folder)] = L"a" + Hex8(attributes);
  WIN32_FIND_DATAW data;
  kyd::UniqueFind search(FindFirstFileW((folder + L"\\*").c_str(), &data));
  if (!search) return;
  do {
    std::wstring name = data.cFileName;
    if (name == L"." || name == L"..") continue;
    std::wstring path = folder + L"\\" + name;
    if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) TakeFolder(path, state);
    else state[L"FILE " + Upper(path)] = FileState(path, data.dwFileAttributes);
  } while (FindNextFileW(search.get(), &data));
}

bool Under(const std::wstring& item, const std::wstring& root) {
  return item == root || (item.size() > root.size() && item.compare(0, root.size(), root) == 0 &&
                          item[root.size()] == L'\\');
}

std::string Shorten(const std::wstring& state) {
  std::string text = ToNarrow(state);
  return text.size() > 70 ? text.substr(0, 70) + "..." : text;
}

}  // namespace

void MachineWatch::Tree(const std::wstring& keyName) { trees_.push_back(Upper(keyName)); }
void MachineWatch::Value(const std::wstring& keyName, const std::wstring& valueName) {
  values_.emplace_back(Upper(keyName), Upper(valueName));
}
void MachineWatch::Folder(const std::wstring& folder) { folders_.push_back(Upper(folder)); }
void MachineWatch::Files(const std::wstring& folder, const std::wstring& pattern) {
  files_.emplace_back(Upper(folder), pattern);
}
void MachineWatch::Device(const std::wstring& instanceId) { devices_.push_back(Upper(instanceId)); }
void MachineWatch::Processes(const std::wstring& exeName) { processes_.push_back(Upper(exeName)); }
void MachineWatch::Service(const std::wstring& name) { services_.push_back(Upper(name)); }

MachineState MachineWatch::Take() const {
  MachineState state;
  for (const std::wstring& tree : trees_) {
    HKEY root;
    std::wstring path;
    if (SplitName(tree, root, path)) TakeTree(root, path, tree, state);
  }
  for (const auto& [keyName, valueName] : values_) {
    HKEY root;
    std::wstring path;
    kyd::UniqueKey key;
    if (!SplitName(keyName, root, path) ||
        RegOpenKeyExW(root, path.c_str(), 0, KEY_READ | KEY_WOW64_64KEY, key.put()) != ERROR_SUCCESS)
      continue;
    DWORD type = 0, size = 0;
    if (RegQueryValueExW(key.get(), valueName.c_str(), nullptr, &type, nullptr, &size) != ERROR_SUCCESS) continue;
    std::vector<BYTE> data(size + 1);
    RegQueryValueExW(key.get(), valueName.c_str(), nullptr, &type, data.data(), &size);
    state[L"VALUE " + keyName + L"|" + valueName] = ValueState(type, data.data(), size);
  }
  for (const std::wstring& folder : folders_) TakeFolder(folder, state);
  for (const auto& [folder, pattern] : files_) {
    WIN32_FIND_DATAW data;
    kyd::UniqueFind search(FindFirstFileW((folder + L"\\" + pattern).c_str(), &data));
    if (!search) continue;
    do {
      if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) continue;
      std::wstring path = folder + L"\\" + data.cFileName;
      state[L"FILE " + Upper(path)] = FileState(path, data.dwFileAttributes);
    } while (FindNextFileW(search.get(), &data));
  }
  for (const std::wstring& device : devices_)
    if (DevicePresent(device)) state[L"DEVICE " + device] = L"present";
  for (const std::wstring& name : processes_)
    for (DWORD id : ProcessIdsNamed(name)) state[L"PROCESS " + std::to_wstring(id)] = name;
  for (const std::wstring& name : services_) {
    kyd::UniqueService manager(OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT));
    kyd::UniqueService service(manager ? OpenServiceW(manager.get(), name.c_str(), SERVICE_QUERY_STATUS) : nullptr);
    SERVICE_STATUS status{};
    if (!service || !QueryServiceStatus(service.get(), &status)) continue;
    state[L"SERVICE " + name] = status.dwCurrentState == SERVICE_STOPPED        ? L"stopped"
                                : status.dwCurrentState == SERVICE_STOP_PENDING ? L"stopping"
                                                                                 : L"running";
  }
  return state;
}

bool MachineWatch::Covers(const std::wstring& item) const {
  size_t space = item.find(L' ');
  std::wstring kind = item.substr(0, space), rest = item.substr(space + 1);
  if (kind == L"KEY" || kind == L"VALUE") {
    std::wstring key = kind == L"VALUE" ? rest.substr(0, rest.find(L'|')) : rest;
    for (const std::wstring& tree : trees_)
      if (Under(key, tree)) return true;
    for (const auto& [keyName, valueName] : values_)
      if (kind == L"VALUE" && rest == keyName + L"|" + valueName) return true;
    return false;
  }
  if (kind == L"FILE" || kind == L"FOLDER") {
    for (const std::wstring& folder : folders_)
      if (Under(rest, folder)) return true;
    size_t slash = rest.rfind(L'\\');
    for (const auto& [folder, pattern] : files_)
      if (kind == L"FILE" && slash != std::wstring::npos && rest.substr(0, slash) == folder &&
          PathMatchSpecW(rest.substr(slash + 1).c_str(), pattern.c_str()))
        return true;
    return false;
  }
  const std::vector<std::wstring>& list = kind == L"DEVICE" ? devices_ : services_;
  for (const std::wstring& name : list)
    if (rest == name) return true;
  return false;
}

std::vector<std::string> Differences(const MachineState& before, const MachineState& after) {
  std::set<std::wstring> items;
  for (const auto& entry : before) items.insert(entry.first);
  for (const auto& entry : after) items.insert(entry.first);
  std::vector<std::string> lines;
  for (const std::wstring& item : items) {
    auto b = before.find(item), a = after.find(item);
    std::wstring was = b == before.end() ? L"-" : b->second, is = a == after.end() ? L"-" : a->second;
    if (b != before.end() && a != after.end() && was == is) continue;
    lines.push_back(ToNarrow(item) + ": " + Shorten(was) + " -> " + Shorten(is));
  }
  return lines;
}

bool ApplyPlan(const std::wstring& journalFolder, const MachineWatch& watch, MachineState& state,
               std::string& problem) {
  kyd::machine::journal::Manifest manifest;
  if (!kyd::machine::journal::ReadManifest(journalFolder, manifest)) {
    problem = "no manifest";
    return false;
  }
  if (!manifest.damaged.empty()) {
    problem = "damaged line: " + manifest.damaged.front();
    return false;
  }
  auto erasePrefix = [&](const std::wstring& prefix) {
    for (auto it = state.lower_bound(prefix); it != state.end() && it->first.compare(0, prefix.size(), prefix) == 0;)
      it = state.erase(it);
  };
  auto eraseFile = [&](const std::wstring& path) {
    state.erase(L"FILE " + Upper(path));
    state.erase(L"FOLDER " + Upper(path));
  };
  auto pnfOf = [](const std::wstring& inf) { return inf.substr(0, inf.size() - 3) + L"PNF"; };
  for (const auto& line : manifest.lines) {
    const std::wstring& verb = line.verb;
    const std::wstring target = Upper(line.target);
    if (verb == L"delete-key") {
      state.erase(L"KEY " + target);
      erasePrefix(L"VALUE " + target + L"|");
    } else if (verb == L"delete-value") {
      state.erase(L"VALUE " + target + L"|" + Upper(line.Get(L"name")));
    } else if (verb == L"set-value") {
      std::wstring item = L"VALUE " + target + L"|" + Upper(line.Get(L"name"));
      if (watch.Covers(item)) state[item] = L"t" + line.Get(L"type") + L":" + line.Get(L"new");
      if (line.Get(L"created") == L"yes" && watch.Covers(L"KEY " + target)) state[L"KEY " + target] = L"";
    } else if (verb == L"delete-file" || verb == L"remove-folder") {
      eraseFile(target);
    } else if (verb == L"set-attributes") {
      for (const wchar_t* kind : {L"FILE ", L"FOLDER "}) {
        auto it = state.find(kind + target);
        if (it != state.end()) it->second = L"a" + line.Get(L"new") + it->second.substr(9);
      }
    } else if (verb == L"delete-inf") {
      if (line.Get(L"inf") == L"yes") eraseFile(target);
      if (line.Get(L"pnf") == L"yes") eraseFile(pnfOf(target));
    } else if (verb == L"remove-driver-package" || (verb == L"run" && line.Has(L"package"))) {
      std::wstring inf = Upper(verb == L"run" ? line.Get(L"package") : line.target);
      eraseFile(inf);
      eraseFile(pnfOf(inf));
      std::wstring store = Upper(line.Get(L"store"));
      if (!store.empty()) {
        eraseFile(store);
        erasePrefix(L"FILE " + store + L"\\");
        erasePrefix(L"FOLDER " + store + L"\\");
      }
    } else if (verb == L"end-process") {
      state.erase(L"PROCESS " + line.Get(L"pid"));
    } else if (verb == L"stop-service") {
      auto it = state.find(L"SERVICE " + target);
      if (it != state.end()) it->second = L"stopped";
    } else if (verb == L"remove-device") {
      state.erase(L"DEVICE " + target);
    } else if (verb != L"run" && verb != L"not-saved") {
      problem = "unknown change " + ToNarrow(verb);
      return false;
    }
  }
  return true;
}

std::wstring CurrentUserKeyName() {
  kyd::UniqueHandle token;
  if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, token.put())) return {};
  BYTE buffer[512];
  DWORD size = 0;
  if (!GetTokenInformation(token.get(), TokenUser, buffer, sizeof buffer, &size)) return {};
  wchar_t* text = nullptr;
  if (!ConvertSidToStringSidW(reinterpret_cast<TOKEN_USER*>(buffer)->User.Sid, &text)) return {};
  std::wstring name = L"HKU\\" + std::wstring(text);
  LocalFree(text);
  return name;
}

std::wstring ReadUtf8(const std::wstring& path) {
  return kyd::machine::journal::FromUtf8(ReadFileBytes(path));
}

std::vector<std::wstring> ManifestLines(const std::wstring& journalFolder) {
  std::vector<std::wstring> lines;
  for (const std::string& line : kyd::machine::journal::TextLines(ReadFileBytes(journalFolder + L"\\manifest.txt")))
    if (line[0] != '#') lines.push_back(kyd::machine::journal::FromUtf8(line));
  return lines;
}

KeptSecret::KeptSecret(const std::wstring& journalFolder) {
  namespace journal = kyd::machine::journal;
  journal::Manifest manifest;
  if (!journal::ReadManifest(journalFolder, manifest)) return;
  key_ = std::wstring(journal::kSecretsKey) + L"\\" + manifest.id;
  kyd::UniqueKey key;
  if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, key_.c_str(), 0, KEY_QUERY_VALUE | KEY_WOW64_64KEY, key.put()) != ERROR_SUCCESS)
    return;
  DWORD size = 64;
  secret_.resize(size);
  if (RegQueryValueExW(key.get(), L"Secret", nullptr, nullptr, secret_.data(), &size) == ERROR_SUCCESS)
    secret_.resize(size);
  else
    secret_.clear();
  wchar_t folder[MAX_PATH * 2] = {};
  size = sizeof folder - sizeof(wchar_t);
  if (RegQueryValueExW(key.get(), L"Folder", nullptr, nullptr, reinterpret_cast<BYTE*>(folder), &size) ==
      ERROR_SUCCESS)
    folder_ = folder;
}

bool KeptSecret::PutBack() const {
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  if (secret_.empty() || !ConvertStringSecurityDescriptorToSecurityDescriptorW(
                             L"D:P(A;CI;KA;;;BA)(A;CI;KA;;;SY)", SDDL_REVISION_1, &descriptor, nullptr))
    return false;
  kyd::UniqueLocal owned(descriptor);
  SECURITY_ATTRIBUTES protection{sizeof protection, descriptor, FALSE};
  kyd::UniqueKey key;
  return RegCreateKeyExW(HKEY_LOCAL_MACHINE, key_.c_str(), 0, nullptr, 0, KEY_SET_VALUE | KEY_WOW64_64KEY,
                         &protection, key.put(), nullptr) == ERROR_SUCCESS &&
         RegSetValueExW(key.get(), L"Secret", 0, REG_BINARY, secret_.data(), static_cast<DWORD>(secret_.size())) ==
             ERROR_SUCCESS &&
         RegSetValueExW(key.get(), L"Folder", 0, REG_SZ, reinterpret_cast<const BYTE*>(folder_.c_str()),
                        static_cast<DWORD>((folder_.size() + 1) * sizeof(wchar_t))) == ERROR_SUCCESS;
}

}  // namespace kydtest
