#include "support/footprint.h"

#include "machine/journal.h"

#include <shlobj.h>

#include <cwctype>
#include <sstream>

#include "platform/handle.h"
#include "support/engine_bench.h"
#include "support/footprint_state.h"
#include "support/wine_bench.h"

namespace kydtest::fp {
namespace {

std::string Trim(const std::string& text) {
  size_t first = text.find_first_not_of(" \t\r");
  if (first == std::string::npos) return {};
  size_t last = text.find_last_not_of(" \t\r");
  return text.substr(first, last - first + 1);
}

std::vector<std::string> SplitFields(const std::string& line) {
  std::vector<std::string> fields;
  size_t start = 0;
  for (size_t bar; (bar = line.find(" | ", start)) != std::string::npos; start = bar + 3)
    fields.push_back(Trim(line.substr(start, bar - start)));
  fields.push_back(Trim(line.substr(start)));
  return fields;
}

struct KindInfo {
  const char* word;
  Kind kind;
  size_t minFields, maxFields;
};
const KindInfo kKinds[] = {
    {"key", Kind::kKey, 2, 2},         {"value", Kind::kValue, 4, 4},
    {"file", Kind::kFile, 2, 4},       {"dir", Kind::kDir, 2, 4},
    {"service", Kind::kService, 2, 2}, {"process", Kind::kProcess, 2, 2},
    {"device", Kind::kDevice, 3, 3},   {"inf", Kind::kInf, 3, 4},
};

bool ParseRole(const std::string& word, Role& role, int& onlyIn) {
  std::string base = word;
  onlyIn = 0;
  size_t slash = word.find('/');
  if (slash != std::string::npos) {
    std::string condition = word.substr(slash + 1);
    if (condition != "64" && condition != "32") return false;
    onlyIn = std::stoi(condition);
    base = word.substr(0, slash);
  }
  if (base == "+") role = Role::kTarget;
  else if (base == "+64") role = Role::kTarget64;
  else if (base == "+d") role = Role::kTargetUnlessKept;
  else if (base == "+n") role = Role::kTargetNative;
  else if (base == "+nd") role = Role::kTargetNativeUnlessKept;
  else if (base == "=") role = Role::kDecoy;
  else if (base == "~") role = Role::kContext;
  else return false;
  return true;
}

bool RegistryRoot(const std::wstring& hivePath, HKEY& root, std::wstring& path) {
  size_t slash = hivePath.find(L'\\');
  std::wstring hive = LowerCase(hivePath.substr(0, slash));
  path = slash == std::wstring::npos ? std::wstring() : hivePath.substr(slash + 1);
  if (hive == L"hklm") root = HKEY_LOCAL_MACHINE;
  else if (hive == L"hkcr") root = HKEY_CLASSES_ROOT;
  else if (hive == L"hkcu") root = HKEY_CURRENT_USER;
  else if (hive == L"hku") root = HKEY_USERS;
  else return false;
  return !path.empty();
}

// "type:data" as the registry stores it.
bool EncodeValue(const std::wstring& typed, DWORD& type, std::vector<BYTE>& bytes) {
  size_t colon = typed.find(L':');
  if (colon == std::wstring::npos) return false;
  std::wstring kind = typed.substr(0, colon), data = typed.substr(colon + 1);
  auto text = [&](const std::wstring& s) {
    const BYTE* p = reinterpret_cast<const BYTE*>(s.c_str());
    bytes.assign(p, p + (s.size() + 1) * sizeof(wchar_t));
  };
  auto hex = [&](const std::wstring& s) {
    bytes.clear();
    std::wstring digits;
    for (wchar_t c : s)
      if (std::iswxdigit(c)) digits += c;
    if (digits.size() % 2) return false;
    for (size_t i = 0; i < digits.size(); i += 2)
      bytes.push_back(static_cast<BYTE>(std::stoul(digits.substr(i, 2), nullptr, 16)));
    return true;
  };
  try {
    if (kind == L"sz" || kind == L"expand") {
      type = kind == L"sz" ? REG_SZ : REG_EXPAND_SZ;
      text(data);
    } else if (kind == L"multi") {
      type = REG_MULTI_SZ;
      std::wstring block;
      size_t start = 0;
      for (size_t sep; (sep = data.find(L"\\0", start)) != std::wstring::npos; start = sep + 2)
        block += data.substr(start, sep - start) + L'\0';
      block += data.substr(start) + L'\0';
      text(block);  // and the closing terminator
    } else if (kind == L"dword") {
      type = REG_DWORD;
      DWORD value = static_cast<DWORD>(std::stoul(data, nullptr, 0));
      bytes.assign(reinterpret_cast<BYTE*>(&value), reinterpret_cast<BYTE*>(&value) + sizeof value);
    } else if (kind == L"qword") {
      type = REG_QWORD;
      unsigned long long value = std::stoull(data, nullptr, 0);
      bytes.assign(reinterpret_cast<BYTE*>(&value), reinterpret_cast<BYTE*>(&value) + sizeof value);
    } else if (kind == L"binary" || kind == L"none") {
      type = kind == L"binary" ? REG_BINARY : REG_NONE;
      return hex(data);
    } else {
      return false;
    }
  } catch (...) {
    return false;
  }
  return true;
}

std::wstring SpecialFolder(int csidl) {
  wchar_t path[MAX_PATH] = {};
  SHGetSpecialFolderPathW(nullptr, path, csidl, FALSE);
  return path;
}

}  // namespace

std::string Item::Describe() const {
  static const char* kRoles[] = {"+", "+64", "+d", "=", "~", "+n", "+nd"};
  std::string text = "line " + std::to_string(line) + ": " + kRoles[static_cast<int>(role)] + " " +
                     kKinds[static_cast<int>(kind)].word + " " + ToNarrow(where);
  if (!name.empty() || kind == Kind::kValue) text += " | " + (name.empty() && kind == Kind::kValue ? "@" : ToNarrow(name));
  return text;
}

bool ParseFootprint(const std::string& text, Footprint& out, std::string& error) {
  std::istringstream lines(text);
  std::string line;
  for (int number = 1; std::getline(lines, line); ++number) {
    line = Trim(line);
    if (line.empty() || line[0] == '#') continue;
    std::vector<std::string> fields = SplitFields(line);
    std::istringstream head(fields[0]);
    std::string roleWord, kindWord, rest;
    head >> roleWord >> kindWord >> rest;
    Item item;
    item.line = number;
    const KindInfo* info = nullptr;
    for (const KindInfo& k : kKinds)
      if (kindWord == k.word) info = &k;
    if (!ParseRole(roleWord, item.role, item.onlyIn) || !info || !rest.empty() ||
        fields.size() < info->minFields || fields.size() > info->maxFields) {
      error = "line " + std::to_string(number) + ": not a footprint line: " + line;
      return false;
    }
    item.kind = info->kind;
    item.where = ToWide(fields[1]);
    if (fields.size() > 2) item.name = ToWide(fields[2]);
    if (fields.size() > 3) item.data = ToWide(fields[3]);
    if (item.kind == Kind::kValue && item.name == L"@") item.name.clear();
    if (item.kind == Kind::kFile) {  // | text | option
      item.option = item.data;
      item.data = item.name;
      item.name.clear();
      if (!item.option.empty() && item.option != L"attr:readonly" && item.option != L"inuse:open" &&
          item.option != L"inuse:loaded") {
        error = "line " + std::to_string(number) + ": unknown file option";
        return false;
      }
    }
    if (item.kind == Kind::kDir) {  // | - | option
      item.option = item.data;
      item.data.clear();
      if (!item.option.empty() && item.option != L"attr:open" && item.option.rfind(L"link:", 0) != 0) {
        error = "line " + std::to_string(number) + ": unknown folder option";
        return false;
      }
    }
    HKEY root;
    std::wstring path;
    if ((item.kind == Kind::kKey || item.kind == Kind::kValue) && !RegistryRoot(item.where, root, path)) {
      error = "line " + std::to_string(number) + ": unknown hive in " + fields[1];
      return false;
    }
    DWORD type;
    std::vector<BYTE> bytes;
    if (item.kind == Kind::kValue && !EncodeValue(item.data, type, bytes)) {
      error = "line " + std::to_string(number) + ": bad value data " + fields[3];
      return false;
    }
    out.items.push_back(item);
  }
  return true;
}

bool LoadFootprint(const std::wstring& path, Footprint& out, std::string& error) {
  if (!FileExists(path)) {
    error = "no footprint file " + ToNarrow(path);
    return false;
  }
  return ParseFootprint(ReadFileBytes(path), out, error);
}

Expect ExpectFor(const Item& item, bool is64BitWindows, bool keepDevice, bool nativeSystem) {
  if (item.onlyIn != 0 && item.onlyIn != (is64BitWindows ? 64 : 32)) return Expect::kNotSeeded;
  const bool native = nativeSystem && is64BitWindows;
  switch (item.role) {
    case Role::kTargetNative: return native ? Expect::kGone : Expect::kIntact;
    case Role::kTargetNativeUnlessKept: return native && !keepDevice ? Expect::kGone : Expect::kIntact;
    case Role::kTarget: return Expect::kGone;
    case Role::kTarget64: return is64BitWindows ? Expect::kGone : Expect::kIntact;
    case Role::kTargetUnlessKept: return keepDevice ? Expect::kIntact : Expect::kGone;
    case Role::kDecoy: return Expect::kIntact;
    case Role::kContext: return Expect::kFree;
  }
  return Expect::kFree;
}

std::wstring ResolveFolder(const std::wstring& tokenPath) {
  const std::wstring windows = WindowsDir();
  const std::wstring root = windows.substr(0, 3);
  wchar_t wow64[MAX_PATH] = {};
  const bool wow = Is64BitPrefix() && GetSystemWow64DirectoryW(wow64, MAX_PATH) > 0;
  const std::wstring system = wow ? std::wstring(wow64) : SystemDir();  // as the 32-bit library sees it
  wchar_t temp[MAX_PATH] = {};
  GetTempPathW(MAX_PATH, temp);
  std::wstring tempDir = temp;
  if (!tempDir.empty() && tempDir.back() == L'\\') tempDir.pop_back();
  const std::pair<const wchar_t*, std::wstring> tokens[] = {
      {L"%ROOT%", root},
      {L"%WIN%", windows},
      {L"%SYSNATIVE%", SystemDir()},  // with redirection off: the native folder
      {L"%SYS%", system},
      {L"%DRIVERS%", system + L"\\drivers"},
      {L"%PF%", root + L"Program Files"},
      {L"%PF86%", root + L"Program Files (x86)"},
      {L"%CPF%", SpecialFolder(CSIDL_PROGRAM_FILES_COMMON)},
      {L"%APPDATA%", SpecialFolder(CSIDL_APPDATA)},
      {L"%PROFILES%", root + L"Users"},
      {L"%TEMP%", tempDir},
  };
  for (const auto& [token, value] : tokens) {
    size_t length = wcslen(token);
    if (tokenPath.compare(0, length, token) == 0) return value + tokenPath.substr(length);
  }
  return tokenPath;
}

// ------------------------------------------------------------------ seeding

Bench::Bench(Footprint footprint, bool keepDevice, bool nativeSystem)
    : state_(std::make_unique<State>()),
      footprint_(std::move(footprint)),
      keepDevice_(keepDevice),
      nativeSystem_(nativeSystem) {}

namespace {

// Creates root\path one key at a time, recording the keys it made. Keys below
// a volatile key (Wine's video adapter keys) can only be volatile themselves.
bool CreateKeyPath(HKEY root, const std::wstring& hive, const std::wstring& path,
                   std::vector<std::pair<std::wstring, bool>>& made) {
  for (size_t end = 0; end != std::wstring::npos;) {
    end = path.find(L'\\', end + 1);
    std::wstring part = path.substr(0, end);
    kyd::UniqueKey key;
    if (RegOpenKeyExW(root, part.c_str(), 0, KEY_READ | KEY_WOW64_64KEY, key.put()) == ERROR_SUCCESS) continue;
    LONG status = RegCreateKeyExW(root, part.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE,
                                  KEY_ALL_ACCESS | KEY_WOW64_64KEY, nullptr, key.put(), nullptr);
    bool isVolatile = false;
    if (status == ERROR_CHILD_MUST_BE_VOLATILE) {
      isVolatile = true;
      status = RegCreateKeyExW(root, part.c_str(), 0, nullptr, REG_OPTION_VOLATILE,
                               KEY_ALL_ACCESS | KEY_WOW64_64KEY, nullptr, key.put(), nullptr);
    }
    if (status != ERROR_SUCCESS) return false;
    made.emplace_back(hive + L"\\" + part, isVolatile);
  }
  return true;
}

bool CreateFolderPath(const std::wstring& folder, std::vector<std::wstring>& made) {
  for (size_t end = folder.find(L'\\', 3); ; end = folder.find(L'\\', end + 1)) {
    std::wstring part = folder.substr(0, end);
    if (GetFileAttributesW(part.c_str()) == INVALID_FILE_ATTRIBUTES) {
      if (!CreateDirectoryW(part.c_str(), nullptr)) return false;
      made.push_back(part);
    }
    if (end == std::wstring::npos) return true;
  }
}

}  // namespace

bool Bench::Seed(std::string& error) {
  State& s = *state_;
  const bool is64 = Is64BitPrefix();
  // What a file loaded as a DLL holds: a DLL of this program's bitness.
  const std::string loadable = ReadFileBytes(SystemDir() + L"\\msvcrt.dll");
  // The second user's hive, loaded from a file as Windows loads a profile.
  {
    PrivilegesScope privileges({L"SeBackupPrivilege", L"SeRestorePrivilege"});
    RegUnLoadKeyW(HKEY_USERS, kSecondUser);  // left by a run that did not finish
    const std::wstring scratchKey = L"Software\\KydFootprintHive" + std::to_wstring(GetCurrentProcessId());
    kyd::UniqueKey key;
    RegCreateKeyExW(HKEY_CURRENT_USER, scratchKey.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, key.put(), nullptr);
    std::wstring file = s.scratch / L"kydfp.hiv";
    LONG saved = key ? RegSaveKeyW(key.get(), file.c_str(), nullptr) : ERROR_INVALID_HANDLE;
    key.reset();
    RegDeleteTreeIfPresent(HKEY_CURRENT_USER, scratchKey, false);
    LONG loaded = saved == ERROR_SUCCESS ? RegLoadKeyW(HKEY_USERS, kSecondUser, file.c_str()) : saved;
    if (loaded != ERROR_SUCCESS) {
      error = "the second user's hive did not load: " + std::to_string(loaded);
      return false;
    }
    s.hive = file;
  }

  for (const Item& item : footprint_.items) {
    if (ExpectFor(item, is64, keepDevice_, nativeSystem_) == Expect::kNotSeeded) continue;
    const std::string where = item.Describe();
    switch (item.kind) {
      case Kind::kKey:
      case Kind::kValue: {
        HKEY root;
        std::wstring path;
        RegistryRoot(item.where, root, path);
        const std::wstring hive = item.where.substr(0, item.where.size() - path.size() - 1);
        bool existed = RegKeyExists(root, path, true);
        std::vector<std::pair<std::wstring, bool>> made;
        if (!CreateKeyPath(root, hive, path, made)) {
          error = where + ": cannot create the key";
          return false;
        }
        for (size_t i = 0; i < made.size(); ++i) {
          std::wstring madePath = made[i].first.substr(hive.size() + 1);
          s.createdKeys.push_back({root, madePath, made[i].first, i == 0});
          if (made[i].second) s.volatileKeys.push_back(made[i].first);
        }
        if (item.kind == Kind::kKey) break;
        DWORD type = 0;
        std::vector<BYTE> bytes;
        EncodeValue(item.data, type, bytes);
        if (existed && !RegValueExists(root, path, item.name, true)) s.addedValues.push_back({root, path, item.name});
        if (!RegSetBytes(root, path, item.name, type, bytes.data(), static_cast<DWORD>(bytes.size()), true)) {
          error = where + ": cannot set the value";
          return false;
        }
        break;
      }
      case Kind::kFile:
      case Kind::kDir: {
        kyd::machine::journal::NativePaths native(true);  // the folders as they are on disk
        std::wstring path = ResolveFolder(item.where);
        std::wstring folder = item.kind == Kind::kDir ? path : path.substr(0, path.rfind(L'\\'));
        if (!CreateFolderPath(folder, s.createdDirs)) {
          error = where + ": cannot create the folder";
          return false;
        }
        if (item.kind == Kind::kDir) {
          if (item.option == L"attr:open" && !OpenToAllOnUnix(path)) {
            error = where + ": cannot open the folder to everyone";
            return false;
          }
          break;
        }
        std::string text = item.data.empty() ? "footprint " + where : ToNarrow(item.data);
        if (item.option == L"inuse:loaded") text = s.seededBytes[item.line] = loadable;
        if (IsInUse(item)) s.inUse.push_back(&item);
        if (!FileExists(path)) s.createdFiles.push_back(path);
        if (!WriteFileBytes(path, text)) {
          error = where + ": cannot write the file";
          return false;
        }
        if (item.option == L"attr:readonly") SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_READONLY);
        break;
      }
      case Kind::kService: {
        auto service = std::make_unique<TestService>(item.where, "stop");
        if (!service->running()) {
          error = where + ": the test service did not start (error " + std::to_string(service->error()) + ")";
          return false;
        }
        s.serviceOf[item.line] = std::move(service);
        break;
      }
      case Kind::kProcess: {
        int index = s.sleepers.Start(item.where);
        if (index < 0) {
          error = where + ": the program did not start";
          return false;
        }
        s.processOf[item.line] = index;
        break;
      }
      case Kind::kDevice: {
        auto device = std::make_unique<SeededDevice>(std::vector<std::wstring>{item.where},
                                                     std::vector<std::wstring>{}, item.name.c_str());
        if (!device->ok()) {
          error = where + ": the device was not created";
          return false;
        }
        if (hardwareId_.empty()) {
          hardwareId_ = item.where;
          classGuid_ = item.name;
        }
        s.deviceOf[item.line] = std::move(device);
        break;
      }
      case Kind::kInf: {
        std::wstring name = item.where == L"*" ? FreeOemInfName() : item.where;
        // An INF given as a file is written as it is; else a small driver INF
        // for the hardware ID.
        std::wstring text = DriverInfText(item.name, L"Footprint display");
        if (!item.data.empty()) {
          const std::wstring source = WinPath(KYD_SOURCE_DIR "/tests/vendors/footprints/") + item.data;
          if (!FileExists(source)) {
            error = where + ": no INF file " + ToNarrow(source);
            return false;
          }
          text = ToWide(ReadFileBytes(source));
        }
        s.infOf[item.line] = std::make_unique<SeededInf>(name, text);
        break;
      }
    }
  }
  if (hardwareId_.empty()) {
    error = "the footprint names no device";
    return false;
  }
  return s.inUse.empty() || HoldFilesInUse(s, error);
}

Bench::~Bench() {
  State& s = *state_;
  if (s.holder >= 0) s.sleepers.End(s.holder);  // so that its files can go
  if (!s.inUse.empty()) PutBackPending(s);
  for (auto it = s.addedValues.rbegin(); it != s.addedValues.rend(); ++it)
    RegDeleteValueIfPresent(it->root, it->path, it->name, true);
  for (auto it = s.createdKeys.rbegin(); it != s.createdKeys.rend(); ++it)
    if (it->top) RegDeleteTreeIfPresent(it->root, it->path, true);
  {
    kyd::machine::journal::NativePaths native(true);  // the folders as they are on disk
    for (const std::wstring& file : s.createdFiles) {
      SetFileAttributesW(file.c_str(), FILE_ATTRIBUTE_NORMAL);
      DeleteFileW(file.c_str());
    }
    for (auto it = s.createdDirs.rbegin(); it != s.createdDirs.rend(); ++it) RemoveDirectoryW(it->c_str());
  }
  s.serviceOf.clear();
  s.deviceOf.clear();
  s.infOf.clear();
  if (!s.hive.empty()) {
    PrivilegesScope privileges({L"SeBackupPrivilege", L"SeRestorePrivilege"});
    RegUnLoadKeyW(HKEY_USERS, kSecondUser);
  }
}

std::vector<std::wstring> Bench::VolatileKeys() const { return state_->volatileKeys; }

std::vector<std::wstring> Bench::DeviceKeys(const Snapshot& snapshot) const {
  std::vector<std::wstring> keys;
  for (const auto& [line, device] : state_->deviceOf)
    keys.push_back(CanonicalKey(L"HKLM\\System\\CurrentControlSet\\Enum\\" +
                                    device->instanceId().substr(0, device->instanceId().rfind(L'\\')),
                                snapshot));
  return keys;
}

std::wstring Bench::Accounts() const {
  wchar_t name[256] = {};
  DWORD size = 256;
  GetUserNameW(name, &size);
  // A guest and an ordinary user named ASPNET are listed too: the cleaners
  // must pass over their profiles.
  return std::wstring(name) + L":2;" + kSecondUser + L":1;Guest:0;ASPNET:1";
}

}  // namespace kydtest::fp
