// The seam through which every change to the machine goes: perform, plan or
// journal (see machine.h). The plan overlay lives here too: what a plan has
// deleted, written or stopped so far, consulted by the reads.
#include "machine/machine.h"

#include <winioctl.h>

#include <algorithm>
#include <cstring>
#include <map>
#include <set>

#include "platform/base_log.h"
#include "platform/command_line.h"
#include "platform/console_runner.h"
#include "platform/env.h"
#include "machine/journal.h"
#include "machine/seal.h"

namespace kyd::machine {

using journal::Line;
using journal::SavedItem;
using journal::SavedValue;
using journal::UpperCase;

namespace {

constexpr char kLogUnit[] = "Machine";

constexpr DWORD kSubKeyNameRoom = 256;   // 255 characters and the terminator
constexpr DWORD kValueNameRoom = 16384;  // 16383 characters and the terminator

#ifdef _WIN64
constexpr wchar_t kOwnBits[] = L"64";
#else
constexpr wchar_t kOwnBits[] = L"32";
#endif

// The attributes SetFileAttributesW can change.
constexpr DWORD kSettableAttributes = FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN |
                                      FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_ARCHIVE |
                                      FILE_ATTRIBUTE_TEMPORARY | FILE_ATTRIBUTE_OFFLINE |
                                      FILE_ATTRIBUTE_NOT_CONTENT_INDEXED;

// What a file or folder is, wherever a path to it comes from (on 64-bit
// Windows a 32-bit program reaches SysWOW64 as system32 too).
struct FileId {
  DWORD volume = 0, high = 0, low = 0;
  auto operator<=>(const FileId&) const = default;
};

// A link is itself, unless `follow` asks for what it points to.
bool IdOf(const std::wstring& path, FileId& id, bool follow = false) {
  UniqueFile file(CreateFileW(path.c_str(), FILE_READ_ATTRIBUTES,
                              FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                              FILE_FLAG_BACKUP_SEMANTICS | (follow ? 0 : FILE_FLAG_OPEN_REPARSE_POINT), nullptr));
  BY_HANDLE_FILE_INFORMATION info;
  if (!file || !GetFileInformationByHandle(file.get(), &info)) return false;
  id = {info.dwVolumeSerialNumber, info.nFileIndexHigh, info.nFileIndexLow};
  return true;
}

std::wstring LastComponent(const std::wstring& path) {
  size_t slash = path.find_last_of(L"\\/");
  return UpperCase(slash == std::wstring::npos ? path : path.substr(slash + 1));
}

std::wstring PnfOf(const std::wstring& infPath) {
  return infPath.size() >= 3 ? infPath.substr(0, infPath.size() - 3) + L"PNF" : std::wstring();
}

std::wstring TimeText() {
  SYSTEMTIME now;
  GetSystemTime(&now);
  wchar_t text[40];
  _snwprintf(text, 39, L"%04u-%02u-%02uT%02u:%02u:%02u.%03uZ", now.wYear, now.wMonth, now.wDay,
             now.wHour, now.wMinute, now.wSecond, now.wMilliseconds);
  text[39] = L'\0';
  return text;
}

// Every entry of a folder but "." and "..", straight from the file system.
std::vector<WIN32_FIND_DATAW> RawEntries(const std::wstring& folder) {
  std::vector<WIN32_FIND_DATAW> entries;
  WIN32_FIND_DATAW data;
  UniqueFind search(FindFirstFileW((folder + L"\\*").c_str(), &data));
  if (!search) return entries;
  do {
    if (std::wcscmp(data.cFileName, L".") != 0 && std::wcscmp(data.cFileName, L"..") != 0)
      entries.push_back(data);
  } while (FindNextFileW(search.get(), &data));
  return entries;
}

bool IsFolder(DWORD attributes) { return (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0; }
bool IsLink(DWORD attributes) { return (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0; }

// A read that failed for another reason than that nothing is there: what it
// would have saved is unknown, so a journal does not make the change.
bool Unreadable(DWORD error) {
  switch (error) {
    case ERROR_SUCCESS:
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
    case ERROR_INVALID_NAME:  // and names that cannot name anything
    case ERROR_BAD_PATHNAME:
    case ERROR_INVALID_DRIVE:
      return false;
    default:
      return true;
  }
}

// The bitness a driver package is recorded under. It lies where 64-bit
// Windows keeps it: a 32-bit program reads it with redirection off (Windows
// Vista and Server 2008 x64 redirect System32\DriverStore for it).
const wchar_t* PackageBits() { return std::wcscmp(kOwnBits, L"32") == 0 && IsWow64() ? L"64" : kOwnBits; }

}  // namespace

// What a plan has done so far.
struct Overlay {
  struct Written {
    std::wstring name;  // as the plan writes it
    DWORD type = REG_NONE;
    std::vector<BYTE> data;
  };
  std::set<std::wstring> keys;               // upper-case key names
  std::set<std::wstring> values;             // upper key name, '\n', upper value name
  std::map<std::wstring, Written> written;   // the same
  std::set<FileId> files;                    // deleted files and folders
  std::set<std::wstring> filePaths;          // those whose identity could not be read
  std::map<FileId, DWORD> attributes;        // planned attribute changes
  std::set<std::wstring> names;              // upper last components of the two above
  std::set<std::wstring> services;           // upper names of services planned stopped

  bool NoRegistry() const { return keys.empty() && values.empty() && written.empty(); }
  bool NoFiles() const { return names.empty(); }

  void AddGone(const std::wstring& path) {
    FileId id;
    if (IdOf(path, id)) files.insert(id);
    else filePaths.insert(UpperCase(path));
    names.insert(LastComponent(path));
  }
  void AddGoneIfPresent(const std::wstring& path) {
    if (!path.empty() && GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES && !Gone(path))
      AddGone(path);
  }
  // A folder with everything below it.
  void AddTree(const std::wstring& folder) {
    DWORD attributes = GetFileAttributesW(folder.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES || Gone(folder)) return;
    if (IsFolder(attributes) && !IsLink(attributes)) {
      for (const WIN32_FIND_DATAW& entry : RawEntries(folder)) AddTree(folder + L"\\" + entry.cFileName);
    }
    AddGone(folder);
  }
  bool Gone(const std::wstring& path) const {
    if (!names.count(LastComponent(path))) return false;
    FileId id;
    if (IdOf(path, id)) return files.count(id) != 0;
    return filePaths.count(UpperCase(path)) != 0;
  }
  bool PlannedAttributes(const std::wstring& path, DWORD& value) const {
    if (attributes.empty() || !names.count(LastComponent(path))) return false;
    FileId id;
    if (!IdOf(path, id)) return false;
    auto found = attributes.find(id);
    if (found == attributes.end()) return false;
    value = found->second;
    return true;
  }
};

struct Session::State {
  Mode mode = Mode::kPlan;
  std::wstring folder, manifest;
  FileId folderId;     // the folder itself, however a path names it
  journal::Seal seal;  // a journal's lines and material are sealed with it
  int last = 0;        // number of the last change line in the manifest
  int lost = 0;        // lines of changes made or planned that could not be written
  bool child = false;  // continues a session of the program that started this one
  Overlay overlay;
  std::set<std::wstring> once;  // changes recorded once however often asked: devices, services, processes
  std::map<SC_HANDLE, std::wstring> serviceNames;
};

namespace {

Session::State* g_state = nullptr;

Session::State* Planner() { return g_state && g_state->mode == Mode::kPlan ? g_state : nullptr; }

// A session never touches its own folder, wherever the caller put it (a
// journal kept inside a folder the clean sweeps would delete itself), nor
// what is in it, however a path names them: a short name, a "\\?\" path, a
// substituted drive or a folder link all lead to the same file identity.
bool InSessionFolder(const Session::State& s, const std::wstring& pathIn) {
  wchar_t full[MAX_PATH * 2] = {};
  DWORD length = GetFullPathNameW(pathIn.c_str(), MAX_PATH * 2, full, nullptr);
  std::wstring path = length > 0 && length < MAX_PATH * 2 ? full : pathIn;
  // The item itself as it is (a link there is not what it points to), the
  // folders above it as they lead, up to the drive's root.
  while (path.size() > 3 && (path.back() == L'\\' || path.back() == L'/') && path[path.size() - 2] != L':')
    path.pop_back();
  for (bool follow = false;; follow = true) {
    FileId id;
    if (IdOf(path, id, follow) && id == s.folderId) {
      KLOG(base::LOG_WARNING, "%S left alone: it is the session's own folder", pathIn.c_str());
      SetLastError(ERROR_ACCESS_DENIED);
      return true;
    }
    size_t slash = path.find_last_of(L"\\/");
    if (slash == std::wstring::npos || slash < 2 || slash + 1 == path.size() || path[slash - 1] == L'?') return false;
    path.resize(path[slash - 1] == L':' ? slash + 1 : slash);
  }
}

std::wstring KeyId(HKEY key) { return UpperCase(journal::KeyName(key)); }

// ------------------------------------------------------------- recording

#ifdef _WIN64
// A path a 32-bit program recorded, as this 64-bit one reaches it: file-system
// redirection showed it SysWOW64 for the system folder, apart from the
// folders Windows leaves unredirected.
std::wstring Redirected32(const std::wstring& path) {
  wchar_t system[MAX_PATH] = {}, wow64[MAX_PATH] = {};
  UINT length = GetSystemDirectoryW(system, MAX_PATH);
  if (length == 0 || length >= MAX_PATH || !GetSystemWow64DirectoryW(wow64, MAX_PATH)) return path;
  const std::wstring upper = UpperCase(path), folder = UpperCase(system) + L"\\";
  if (upper.compare(0, folder.size(), folder) != 0) return path;
  for (const wchar_t* exempt : {L"CATROOT", L"CATROOT2", L"DRIVERSTORE", L"DRIVERS\\ETC", L"LOGFILES", L"SPOOL"}) {
    const std::wstring inside = folder + exempt;
    if (upper.compare(0, inside.size(), inside) == 0 && (upper.size() == inside.size() || upper[inside.size()] == L'\\'))
      return path;
  }
  return std::wstring(wow64) + path.substr(folder.size() - 1);
}
#endif

// A line's file paths as this program sees them.
Line AsSeenHere(const Line& line) {
#ifdef _WIN64
  if (line.Get(L"fs") == L"32") {
    Line seen = line;
    seen.target = Redirected32(line.target);
    for (const wchar_t* field : {L"package", L"store"})
      if (line.Has(field)) seen.Set(field, Redirected32(line.Get(field)));
    return seen.Set(L"fs", kOwnBits);
  }
#endif
  return line;
}

// What a plan line does to the overlay; also applied to the lines a child
// program planned, and in a child to the lines planned before it started.
void Apply(Session::State& s, const Line& recorded) {
  Overlay& o = s.overlay;
  const Line line = AsSeenHere(recorded);
  journal::NativePaths native(line.Get(L"fs") == L"64");
  const std::wstring& verb = line.verb;
  std::wstring valueId = UpperCase(line.target) + L"\n" + UpperCase(line.Get(L"name"));
  if (verb == L"delete-key") {
    o.keys.insert(UpperCase(line.target));
  } else if (verb == L"delete-value") {
    o.values.insert(valueId);
    o.written.erase(valueId);
  } else if (verb == L"set-value") {
    Overlay::Written value;
    value.name = line.Get(L"name");
    value.type = static_cast<DWORD>(std::wcstoul(line.Get(L"type").c_str(), nullptr, 10));
    journal::FromHex(line.Get(L"new"), value.data);
    o.written[valueId] = value;
    o.values.erase(valueId);
  } else if (verb == L"delete-file" || verb == L"remove-folder") {
    o.AddGoneIfPresent(line.target);
  } else if (verb == L"set-attributes") {
    FileId id;
    if (IdOf(line.target, id)) {
      o.attributes[id] = std::wcstoul(line.Get(L"new").c_str(), nullptr, 16);
      o.names.insert(LastComponent(line.target));
    }
  } else if (verb == L"delete-inf") {
    if (line.Get(L"inf") == L"yes") o.AddGoneIfPresent(line.target);
    if (line.Get(L"pnf") == L"yes") o.AddGoneIfPresent(PnfOf(line.target));
  } else if (verb == L"remove-driver-package" || (verb == L"run" && line.Has(L"package"))) {
    // The package goes with its INF, the INF's PNF and its store folder.
    std::wstring inf = verb == L"run" ? line.Get(L"package") : line.target;
    o.AddGoneIfPresent(inf);
    o.AddGoneIfPresent(PnfOf(inf));
    if (!line.Get(L"store").empty()) o.AddTree(line.Get(L"store"));
  } else if (verb == L"stop-service") {
    o.services.insert(UpperCase(line.target));
  }
}

// Writes a change line, numbered. In a journal, `save` first saves what the
// change destroys and adds its fields to the line; a change whose material or
// line cannot be written is refused (false, last error kNotSaved).
bool Record(Session::State& s, Line line,
            const std::function<bool(Line&, DWORD&)>& save = nullptr) {
  line.number = ++s.last;
  if (s.mode == Mode::kJournal) {
    DWORD error = 0;
    if (save && !save(line, error)) {
      Line refused;
      refused.number = line.number;
      refused.verb = L"not-saved";
      refused.target = line.target;
      refused.Set(L"verb", line.verb).Set(L"error", std::to_wstring(error));
      journal::AppendText(s.manifest, journal::Format(refused, &s.seal));
      KLOG(base::LOG_ERROR, "journal: %S %S left unchanged: it could not be saved (error %d)",
           line.verb.c_str(), line.target.c_str(), static_cast<int>(error));
      SetLastError(kNotSaved);
      return false;
    }
    if (!journal::AppendText(s.manifest, journal::Format(line, &s.seal))) {
      KLOG(base::LOG_ERROR, "journal: %S %S left unchanged: the manifest cannot be written (error %d)",
           line.verb.c_str(), line.target.c_str(), static_cast<int>(GetLastError()));
      SetLastError(kNotSaved);
      return false;
    }
    return true;
  }
  if (!journal::AppendText(s.manifest, journal::Format(line))) {
    ++s.lost;
    KLOG(base::LOG_ERROR, "plan: line %d (%S %S) could not be written", line.number, line.verb.c_str(),
         line.target.c_str());
  }
  Apply(s, line);
  return true;
}

// A journaled change whose item could not be read for another reason than
// its absence: it cannot be saved, so it is not made.
bool RefuseUnread(Session::State& s, const wchar_t* verb, const std::wstring& target, DWORD error) {
  Line line;
  line.verb = verb;
  line.target = target;
  return Record(s, line, [error](Line&, DWORD& reason) {
    reason = error;
    return false;
  });
}

// A change recorded once per `identity` in a session (a device removed
// through two calls, a service asked to stop again): the first call records,
// the others only perform.
bool RecordOnce(Session::State& s, const std::wstring& identity, const Line& line) {
  if (!s.once.insert(identity).second) return true;
  if (Record(s, line)) return true;
  s.once.erase(identity);
  return false;
}

Line MakeLine(const wchar_t* verb, const std::wstring& target) {
  Line line;
  line.verb = verb;
  line.target = target;
  return line;
}

Line FileLine(const wchar_t* verb, const std::wstring& path) {
  Line line = MakeLine(verb, path);
  line.Set(L"fs", kOwnBits);
  return line;
}

// ------------------------------------------------------------- saving

bool SaveText(Session::State& s, Line& line, const std::wstring& name, const std::string& text,
              DWORD& error) {
  if (!journal::WriteNewFile(s.folder + L"\\" + name, text.data(), text.size())) {
    error = GetLastError();
    return false;
  }
  line.Set(L"material", name).Set(L"mac", s.seal.Of(journal::Seal::kMaterial, text));
  return true;
}

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

// Copies a file into the set's folder, with what it needs to come back.
bool SaveFile(const journal::Seal& seal, const std::wstring& path, const std::wstring& setFolder, int index,
              SavedItem& item) {
  UniqueFile source(CreateFileW(path.c_str(), GENERIC_READ,
                                FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
  if (!source) return false;
  item.attributes = GetFileAttributesW(path.c_str());
  if (item.attributes == INVALID_FILE_ATTRIBUTES ||
      !GetFileTime(source.get(), &item.created, nullptr, &item.written))
    return false;
  item.data = std::to_wstring(index);
  UniqueFile copy(CreateFileW((setFolder + L"\\" + item.data).c_str(), GENERIC_WRITE, 0, nullptr,
                              CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!copy) return false;
  journal::Seal::Mac mac(seal, journal::Seal::kMaterial);
  std::vector<char> buffer(1 << 16);
  for (;;) {
    DWORD read = 0, written = 0;
    if (!ReadFile(source.get(), buffer.data(), static_cast<DWORD>(buffer.size()), &read, nullptr)) return false;
    if (read == 0) break;
    if (!WriteFile(copy.get(), buffer.data(), read, &written, nullptr) || written != read) return false;
    mac.Add(buffer.data(), read);
    item.size += read;
  }
  item.mac = mac.Finish();
  return !item.mac.empty();
}

// A folder link keeps where it points: its reparse data.
bool SaveLinkData(const journal::Seal& seal, const std::wstring& path, const std::wstring& setFolder, int index,
                  SavedItem& item) {
  UniqueFile link(CreateFileW(path.c_str(), FILE_READ_ATTRIBUTES | FILE_READ_EA,
                              FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                              FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
  if (!link) return false;
  std::vector<BYTE> data(MAXIMUM_REPARSE_DATA_BUFFER_SIZE);
  DWORD size = 0;
  if (!DeviceIoControl(link.get(), FSCTL_GET_REPARSE_POINT, nullptr, 0, data.data(),
                       static_cast<DWORD>(data.size()), &size, nullptr))
    return false;
  item.data = std::to_wstring(index);
  item.mac = seal.Of(journal::Seal::kMaterial, data.data(), size);
  return !item.mac.empty() && journal::WriteNewFile(setFolder + L"\\" + item.data, data.data(), size);
}

// Saves files and folders (with `tree`, folders with everything below them)
// as one file set, the material of the line.
bool SaveItems(Session::State& s, Line& line, const std::vector<std::wstring>& paths, bool tree,
               DWORD& error) {
  const std::wstring name = journal::MaterialName(line.number, L"");
  const std::wstring setFolder = s.folder + L"\\" + name;
  if (!CreateDirectoryW(setFolder.c_str(), nullptr)) {
    error = GetLastError();
    return false;
  }
  std::vector<SavedItem> items;
  std::function<bool(const std::wstring&)> save = [&](const std::wstring& path) {
    SavedItem item;
    item.path = path;
    DWORD attributes = GetFileAttributesW(path.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) return false;
    if (!IsFolder(attributes)) {
      if (!SaveFile(s.seal, path, setFolder, static_cast<int>(items.size()) + 1, item)) return false;
      items.push_back(item);
      return true;
    }
    item.folder = true;
    item.attributes = attributes;
    if (IsLink(attributes) && !SaveLinkData(s.seal, path, setFolder, static_cast<int>(items.size()) + 1, item))
      return false;
    items.push_back(item);
    if (!tree || IsLink(attributes)) return true;
    for (const WIN32_FIND_DATAW& entry : RawEntries(path))
      if (!save(path + L"\\" + entry.cFileName)) return false;
    return true;
  };
  for (const std::wstring& path : paths) {
    if (!save(path)) {
      error = GetLastError() ? GetLastError() : ERROR_READ_FAULT;
      return false;
    }
  }
  std::string index = journal::FormatIndex(items);
  if (!journal::WriteNewFile(setFolder + L"\\index.txt", index.data(), index.size())) {
    error = GetLastError();
    return false;
  }
  line.Set(L"material", name).Set(L"mac", s.seal.Of(journal::Seal::kMaterial, index));
  return true;
}

// ------------------------------------------------------------- perform

LONG WriteValueNow(HKEY root, const std::wstring& path, REGSAM access, bool create,
                   const std::wstring& name, DWORD type, const void* data, DWORD size) {
  UniqueKey key;
  LONG status = create ? RegCreateKeyExW(root, path.c_str(), 0, nullptr, 0, access, nullptr, key.put(), nullptr)
                       : RegOpenKeyExW(root, path.c_str(), 0, access, key.put());
  if (status != ERROR_SUCCESS) return status;
  return RegSetValueExW(key.get(), name.c_str(), 0, type, static_cast<const BYTE*>(data), size);
}

bool Deletable(DWORD attributes) {
  return attributes != INVALID_FILE_ATTRIBUTES && !IsFolder(attributes) &&
         !(attributes & FILE_ATTRIBUTE_READONLY);
}

// A folder's entries as the plan sees them.
bool EmptyAsSeen(const std::wstring& folder) {
  for (WIN32_FIND_DATAW& entry : RawEntries(folder))
    if (Listed(folder, entry)) return false;
  return true;
}

// The store folder of a published driver package (Vista and later).
std::wstring StoreFolderOf(const std::wstring& infPath) {
  using LocationFn = BOOL(WINAPI*)(PCWSTR, const void*, PCWSTR, PWSTR, DWORD, PDWORD);
  static const LocationFn location = reinterpret_cast<LocationFn>(reinterpret_cast<void*>(
      GetProcAddress(GetModuleHandleW(L"setupapi.dll"), "SetupGetInfDriverStoreLocationW")));
  wchar_t path[MAX_PATH] = {};
  if (!location || !location(infPath.c_str(), nullptr, nullptr, path, MAX_PATH, nullptr)) return {};
  std::wstring folder = path;
  size_t slash = folder.rfind(L'\\');
  return slash == std::wstring::npos ? std::wstring() : folder.substr(0, slash);
}

// The INF, its PNF and the store folder of a driver package, as far as they exist.
std::vector<std::wstring> PackageItems(const std::wstring& infPath, const std::wstring& storeFolder) {
  std::vector<std::wstring> items;
  for (const std::wstring& path : {infPath, PnfOf(infPath), storeFolder})
    if (!path.empty() && Exists(path)) items.push_back(path);
  return items;
}

// Saves a driver package read where it lies (see PackageBits). A package
// whose store folder cannot be seen is not saved: a journal never claims a
// package it does not hold, and so the package is not removed.
bool SavePackage(Session::State& s, Line& line, const std::vector<std::wstring>& items, bool storeSeen,
                 DWORD& error) {
  if (!storeSeen) {
    error = ERROR_PATH_NOT_FOUND;
    return false;
  }
  journal::NativePaths native(true);
  return SaveItems(s, line, items, true, error);
}

}  // namespace

// ------------------------------------------------------------- session

Session::Session(Mode mode, const std::wstring& folderIn, bool continueIn) {
  const char* modeName = mode == Mode::kPlan ? "plan" : "journal";
  std::wstring requested = folderIn;
  if (mode == Mode::kPerform || g_state) {
    KLOG(base::LOG_ERROR, "journal folder (%S) refused: %s", requested.c_str(),
         g_state ? "another session is open in this process" : "no plan or journal asked for");
    return;
  }
  wchar_t full[MAX_PATH * 2] = {};
  DWORD length = GetFullPathNameW(requested.c_str(), MAX_PATH * 2, full, nullptr);
  if (requested.empty() || length == 0 || length >= MAX_PATH * 2) {
    KLOG(base::LOG_ERROR, "journal folder (%S) refused: not a usable path", requested.c_str());
    return;
  }
  std::wstring folder = full;
  while (folder.size() > 3 && folder.back() == L'\\') folder.pop_back();
  DWORD attributes = GetFileAttributesW(folder.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES || !IsFolder(attributes)) {
    KLOG(base::LOG_ERROR, "journal folder (%S) refused: %s", folder.c_str(),
         attributes == INVALID_FILE_ATTRIBUTES ? "it does not exist" : "it is not a folder");
    return;
  }
  auto state = std::make_unique<State>();
  state->mode = mode;
  state->folder = folder;
  state->manifest = folder + L"\\" + kManifestName;
  state->child = continueIn;
  auto refuse = [&](const std::string& why) {
    KLOG(base::LOG_ERROR, "journal folder (%S) refused: %s", folder.c_str(), why.c_str());
  };
  if (!IdOf(folder, state->folderId, /*follow=*/true)) {
    refuse("it cannot be opened (error " + std::to_string(GetLastError()) + ")");
    return;
  }
  std::string why;
  if (continueIn) {
    journal::Manifest manifest;
    if (!journal::ReadManifest(folder, manifest) || manifest.mode != journal::FromUtf8(modeName)) {
      refuse(std::string("it holds no ") + modeName + " to continue");
      return;
    }
    if (mode == Mode::kJournal && !state->seal.Load(manifest.id, why)) {
      refuse(why);
      return;
    }
    for (const Line& line : manifest.lines) {
      state->last = std::max(state->last, line.number);
      // The plan goes on from where it stands: what was planned before is done.
      if (mode == Mode::kPlan) Apply(*state, line);
    }
  } else {
    if (!RawEntries(folder).empty()) {
      refuse("it is not empty");
      return;
    }
    // What a journal saves is other users' files and values, and restore
    // acts on it as an administrator: nobody else may read or change it.
    std::wstring id;
    if (mode == Mode::kJournal) {
      if (!journal::ProtectFolder(folder, why) || journal::OthersCanChange(folder, why)) {
        refuse(why);
        return;
      }
      id = journal::NewJournalId();
      if (id.empty() || !state->seal.Create(id, folder, why)) {
        refuse(id.empty() ? "no journal id" : why);
        return;
      }
    }
    std::string header = "# KYDDrvUninst journal\r\n# mode\t" + std::string(modeName) + "\r\n" +
                         (id.empty() ? std::string() : "# id\t" + journal::ToUtf8(id) + "\r\n") + "# begun\t" +
                         journal::ToUtf8(TimeText()) + "\tpid " + std::to_string(GetCurrentProcessId()) + "\r\n";
    if (!journal::WriteNewFile(state->manifest, header.data(), header.size())) {
      refuse("it cannot be written (error " + std::to_string(GetLastError()) + ")");
      if (!id.empty()) journal::Seal::Forget(id);
      return;
    }
  }
  KLOG(base::LOG_INFO, "%s in %S", modeName, folder.c_str());
  state_ = std::move(state);
  g_state = state_.get();
}

Session::~Session() {
  if (!state_) return;
  if (!state_->child) journal::AppendText(state_->manifest, "# ended\t" + journal::ToUtf8(TimeText()));
  g_state = nullptr;
}

bool Session::complete() const { return state_ && state_->lost == 0; }

Mode CurrentMode() { return g_state ? g_state->mode : Mode::kPerform; }

bool PlanIncomplete() { return g_state && g_state->mode == Mode::kPlan && g_state->lost > 0; }

std::wstring ChildArguments() {
  if (!g_state) return {};
  return std::wstring(g_state->mode == Mode::kPlan ? L" \"--plan\" " : L" \"--journal\" ") +
         QuoteArgument(g_state->folder);
}

void ChildFinished(DWORD exitCode) {
  Session::State* s = g_state;
  if (!s) return;
  if (exitCode == kChildRecordLost) {
    ++s->lost;
    KLOG(base::LOG_ERROR, "%s: the child program could not write all its lines",
         s->mode == Mode::kPlan ? "plan" : "journal");
  }
  journal::Manifest manifest;
  if (!journal::ReadManifest(s->folder, manifest)) return;
  for (const Line& line : manifest.lines) {
    if (line.number <= s->last) continue;
    if (s->mode == Mode::kPlan) Apply(*s, line);
    s->last = line.number;
  }
}

bool ParseChildArguments(const std::wstring& option, const std::wstring& folder, Mode& mode) {
  if (folder.empty()) return false;
  if (option == L"--plan") mode = Mode::kPlan;
  else if (option == L"--journal") mode = Mode::kJournal;
  else return false;
  return true;
}

// ------------------------------------------------------------- registry

LONG RemoveKey(HKEY parent, const std::wstring& path, REGSAM view) {
  Session::State* s = g_state;
  if (!s) return journal::DeleteKeyIn(parent, path, view);
  UniqueKey key;
  LONG status = OpenKey(parent, path, KEY_READ | view, key);
  DWORD subKeys = 0;
  if (status == ERROR_SUCCESS && !KeyCounts(key.get(), &subKeys, nullptr)) status = ERROR_READ_FAULT;
  if (status != ERROR_SUCCESS && s->mode == Mode::kJournal && Unreadable(static_cast<DWORD>(status))) {
    RefuseUnread(*s, L"delete-key", journal::KeyName(parent) + L"\\" + path, static_cast<DWORD>(status));
    return kNotSaved;
  }
  if (status == ERROR_SUCCESS && subKeys > 0) status = ERROR_ACCESS_DENIED;  // a key with subkeys left is not deleted
  if (status != ERROR_SUCCESS) return s->mode == Mode::kPlan ? status : journal::DeleteKeyIn(parent, path, view);
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
  return journal::DeleteKeyIn(parent, path, view);
}

LONG RemoveValue(HKEY key, const std::wstring& name) {
  Session::State* s = g_state;
  if (!s) return RegDeleteValueW(key, name.c_str());
  LONG status = QueryValue(key, name, nullptr, nullptr, nullptr);
  if (status != ERROR_SUCCESS && s->mode == Mode::kJournal && Unreadable(static_cast<DWORD>(status))) {
    RefuseUnread(*s, L"delete-value", journal::KeyName(key), static_cast<DWORD>(status));
    return kNotSaved;
  }
  if (status != ERROR_SUCCESS) return s->mode == Mode::kPlan ? status : RegDeleteValueW(key, name.c_str());
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
  return s->mode == Mode::kPlan ? ERROR_SUCCESS : RegDeleteValueW(key, name.c_str());
}

LONG WriteValue(HKEY root, const std::wstring& path, REGSAM access, bool create,
                const std::wstring& name, DWORD type, const void* data, DWORD size) {
  Session::State* s = g_state;
  if (!s) return WriteValueNow(root, path, access, create, name, type, data, size);
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
    return s->mode == Mode::kPlan ? ERROR_FILE_NOT_FOUND
                                  : WriteValueNow(root, path, access, create, name, type, data, size);
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
                                    : WriteValueNow(root, path, access, create, name, type, data, size);
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
  return WriteValueNow(root, path, access, create, name, type, data, size);
}

// ------------------------------------------------------------- files

BOOL RemoveFile(const std::wstring& path) {
  Session::State* s = g_state;
  if (!s) return DeleteFileW(path.c_str());
  if (InSessionFolder(*s, path)) return FALSE;
  DWORD attributes = Attributes(path);
  DWORD readError = attributes == INVALID_FILE_ATTRIBUTES ? GetLastError() : ERROR_SUCCESS;
  if (!Deletable(attributes)) {
    if (s->mode == Mode::kJournal) {
      if (Unreadable(readError)) return RefuseUnread(*s, L"delete-file", path, readError);
      return DeleteFileW(path.c_str());  // fails as it would have
    }
    SetLastError(attributes == INVALID_FILE_ATTRIBUTES ? ERROR_FILE_NOT_FOUND : ERROR_ACCESS_DENIED);
    return FALSE;
  }
  if (!Record(*s, FileLine(L"delete-file", path),
              [&](Line& l, DWORD& error) { return SaveItems(*s, l, {path}, false, error); }))
    return FALSE;
  return s->mode == Mode::kPlan ? TRUE : DeleteFileW(path.c_str());
}

BOOL RemoveFolder(const std::wstring& path) {
  Session::State* s = g_state;
  if (!s) return RemoveDirectoryW(path.c_str());
  if (InSessionFolder(*s, path)) return FALSE;
  DWORD attributes = Attributes(path);
  DWORD readError = attributes == INVALID_FILE_ATTRIBUTES ? GetLastError() : ERROR_SUCCESS;
  DWORD refusal = attributes == INVALID_FILE_ATTRIBUTES ? ERROR_FILE_NOT_FOUND
                  : !IsFolder(attributes)               ? ERROR_DIRECTORY
                  : !IsLink(attributes) && !EmptyAsSeen(path) ? ERROR_DIR_NOT_EMPTY
                                                              : 0;
  if (refusal != 0) {
    if (s->mode == Mode::kJournal) {
      if (Unreadable(readError)) return RefuseUnread(*s, L"remove-folder", path, readError);
      return RemoveDirectoryW(path.c_str());
    }
    SetLastError(refusal);
    return FALSE;
  }
  if (!Record(*s, FileLine(L"remove-folder", path),
              [&](Line& l, DWORD& error) { return SaveItems(*s, l, {path}, false, error); }))
    return FALSE;
  return s->mode == Mode::kPlan ? TRUE : RemoveDirectoryW(path.c_str());
}

BOOL ChangeAttributes(const std::wstring& path, DWORD attributes) {
  Session::State* s = g_state;
  if (!s) return SetFileAttributesW(path.c_str(), attributes);
  if (InSessionFolder(*s, path)) return FALSE;
  DWORD old = Attributes(path);
  if (old == INVALID_FILE_ATTRIBUTES) {
    DWORD readError = GetLastError();
    if (s->mode == Mode::kJournal) {
      if (Unreadable(readError)) return RefuseUnread(*s, L"set-attributes", path, readError);
      return SetFileAttributesW(path.c_str(), attributes);
    }
    SetLastError(ERROR_FILE_NOT_FOUND);
    return FALSE;
  }
  DWORD result = (old & ~kSettableAttributes) | (attributes & kSettableAttributes);
  if (result == old) return s->mode == Mode::kPlan ? TRUE : SetFileAttributesW(path.c_str(), attributes);
  Line line = FileLine(L"set-attributes", path);
  line.Set(L"old", journal::HexNumber(old, 8)).Set(L"new", journal::HexNumber(result, 8));
  if (!Record(*s, line)) return FALSE;
  return s->mode == Mode::kPlan ? TRUE : SetFileAttributesW(path.c_str(), attributes);
}

bool RemoveInfAndPnf(const std::wstring& infPath) {
  const std::wstring pnf = PnfOf(infPath);
  auto deleteBoth = [&] {
    bool inf = DeleteFileW(infPath.c_str()) != FALSE;
    bool twin = !pnf.empty() && DeleteFileW(pnf.c_str()) != FALSE;
    return inf || twin;
  };
  Session::State* s = g_state;
  if (!s) return deleteBoth();
  DWORD infAttributes = Attributes(infPath);
  DWORD readError = infAttributes == INVALID_FILE_ATTRIBUTES ? GetLastError() : ERROR_SUCCESS;
  DWORD pnfAttributes = pnf.empty() ? INVALID_FILE_ATTRIBUTES : Attributes(pnf);
  if (!Unreadable(readError) && !pnf.empty() && pnfAttributes == INVALID_FILE_ATTRIBUTES) readError = GetLastError();
  if (s->mode == Mode::kJournal && Unreadable(readError)) return RefuseUnread(*s, L"delete-inf", infPath, readError);
  bool infGoes = Deletable(infAttributes);
  bool pnfGoes = Deletable(pnfAttributes);
  if (!infGoes && !pnfGoes) return s->mode == Mode::kJournal && deleteBoth();
  Line line = FileLine(L"delete-inf", infPath);
  line.Set(L"inf", infGoes ? L"yes" : L"no").Set(L"pnf", pnfGoes ? L"yes" : L"no");
  bool go = Record(*s, line, [&](Line& l, DWORD& error) {
    std::vector<std::wstring> items;
    if (infGoes) items.push_back(infPath);
    if (pnfGoes) items.push_back(pnf);
    return SaveItems(*s, l, items, false, error);
  });
  if (!go) return false;
  return s->mode == Mode::kPlan || deleteBoth();
}

// ------------------------------------------------------------- programs

BOOL EndProcess(HANDLE process, DWORD pid, const wchar_t* exeName) {
  Session::State* s = g_state;
  if (!s) return TerminateProcess(process, 0);
  Line line = MakeLine(L"end-process", exeName ? exeName : L"");
  line.Set(L"pid", std::to_wstring(pid));
  if (!RecordOnce(*s, L"process:" + std::to_wstring(pid), line)) return FALSE;
  return s->mode == Mode::kPlan ? TRUE : TerminateProcess(process, 0);
}

BOOL StopService(SC_HANDLE service, const wchar_t* name, SERVICE_STATUS* status) {
  Session::State* s = g_state;
  if (!s) return ControlService(service, SERVICE_CONTROL_STOP, status);
  if (name) s->serviceNames[service] = name;
  const std::wstring known = s->serviceNames.count(service) ? s->serviceNames[service] : std::wstring();
  const std::wstring identity = L"service:" + UpperCase(known);
  if (s->mode == Mode::kPlan) {
    SERVICE_STATUS now{};
    if (!ServiceStatus(service, &now)) return FALSE;
    if (now.dwCurrentState == SERVICE_STOPPED) {
      SetLastError(ERROR_SERVICE_NOT_ACTIVE);
      return FALSE;
    }
    if (!(now.dwControlsAccepted & SERVICE_ACCEPT_STOP) && !s->once.count(identity)) {
      SetLastError(ERROR_INVALID_SERVICE_CONTROL);
      return FALSE;
    }
    RecordOnce(*s, identity, MakeLine(L"stop-service", known));
    if (status) {
      *status = now;
      status->dwCurrentState = SERVICE_STOP_PENDING;
    }
    return TRUE;
  }
  // Recorded once the stop was accepted: a service that refuses it (a kernel
  // driver without an unload routine, the display drivers' own) is not
  // stopped by the run, and restore must not start it.
  if (!ControlService(service, SERVICE_CONTROL_STOP, status)) return FALSE;
  if (s->once.insert(identity).second) {
    Line line = MakeLine(L"stop-service", known);
    line.number = ++s->last;
    if (!journal::AppendText(s->manifest, journal::Format(line, &s->seal))) {
      ++s->lost;
      KLOG(base::LOG_ERROR, "journal: service %S stopped, but its line could not be written (error %d); "
           "restore will not start it", known.c_str(), static_cast<int>(GetLastError()));
    }
  }
  SetLastError(ERROR_SUCCESS);
  return TRUE;
}

bool RemoveDevice(HDEVINFO set, SP_DEVINFO_DATA* device, const std::function<bool()>& remove) {
  Session::State* s = g_state;
  if (!s) return remove();
  wchar_t id[512] = {};
  SetupDiGetDeviceInstanceIdW(set, device, id, 511, nullptr);
  if (!RecordOnce(*s, L"device:" + UpperCase(id), MakeLine(L"remove-device", id))) return false;
  return s->mode == Mode::kPlan || remove();
}

DWORD RemoveDriverPackage(const std::wstring& infPath, const std::wstring& storeFolder,
                          const std::function<DWORD()>& remove) {
  Session::State* s = g_state;
  if (!s) return remove();
  DWORD attributes = INVALID_FILE_ATTRIBUTES, readError = ERROR_FILE_NOT_FOUND;
  std::vector<std::wstring> items;
  bool storeSeen = storeFolder.empty();
  if (!infPath.empty()) {
    journal::NativePaths native(true);
    attributes = Attributes(infPath);
    readError = attributes == INVALID_FILE_ATTRIBUTES ? GetLastError() : ERROR_SUCCESS;
    items = PackageItems(infPath, storeFolder);
    storeSeen = storeSeen || Exists(storeFolder);
  }
  // Without its INF there is no package to remove (nor anything to save).
  if (attributes == INVALID_FILE_ATTRIBUTES) {
    if (s->mode == Mode::kJournal && Unreadable(readError)) {
      RefuseUnread(*s, L"remove-driver-package", infPath, readError);
      return kNotSaved;
    }
    return s->mode == Mode::kPlan ? ERROR_FILE_NOT_FOUND : remove();
  }
  Line line = MakeLine(L"remove-driver-package", infPath);
  line.Set(L"fs", PackageBits()).Set(L"store", storeFolder);
  if (!Record(*s, line, [&](Line& l, DWORD& error) { return SavePackage(*s, l, items, storeSeen, error); }))
    return kNotSaved;
  return s->mode == Mode::kPlan ? ERROR_SUCCESS : remove();
}

bool RunTool(const std::wstring& program, const std::wstring& arguments, std::wstring& output,
             const std::wstring& packageInf) {
  Session::State* s = g_state;
  if (!s) return RunConsole(program, arguments, output);
  Line line = FileLine(L"run", program + L" " + arguments);
  std::vector<std::wstring> items;
  bool storeSeen = true;
  if (!packageInf.empty()) {
    std::wstring store = StoreFolderOf(packageInf);
    line.Set(L"fs", PackageBits()).Set(L"package", packageInf).Set(L"store", store);
    journal::NativePaths native(true);
    items = PackageItems(packageInf, store);
    storeSeen = store.empty() || Exists(store);
  }
  auto save = [&](Line& l, DWORD& error) {
    return (items.empty() && storeSeen) || SavePackage(*s, l, items, storeSeen, error);
  };
  if (!Record(*s, line, save)) return false;
  return s->mode == Mode::kPlan || RunConsole(program, arguments, output);
}

bool RunProgram(const std::wstring& what, const std::function<bool()>& perform) {
  Session::State* s = g_state;
  if (!s) return perform();
  if (!Record(*s, MakeLine(L"run", what))) return false;
  return s->mode == Mode::kPlan || perform();
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
  DWORD count = 0;
  if (RegQueryInfoKeyW(key, nullptr, nullptr, nullptr, &count, nullptr, nullptr, nullptr, nullptr, nullptr,
                       nullptr, nullptr) != ERROR_SUCCESS)
    return false;
  Session::State* s = Planner();
  const std::wstring prefix = s && !s->overlay.keys.empty() ? KeyId(key) + L"\\" : std::wstring();
  for (DWORD index = 0; index < count; ++index) {
    wchar_t name[kSubKeyNameRoom];
    DWORD length = kSubKeyNameRoom;
    if (RegEnumKeyExW(key, index, name, &length, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS)
      continue;
    std::wstring child(name, length);
    if (prefix.size() > 1 && s->overlay.keys.count(prefix + UpperCase(child))) continue;
    names.push_back(std::move(child));
  }
  return true;
}

bool ListValueNames(HKEY key, std::vector<std::wstring>& names) {
  DWORD count = 0;
  if (RegQueryInfoKeyW(key, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, &count, nullptr, nullptr,
                       nullptr, nullptr) != ERROR_SUCCESS)
    return false;
  Session::State* s = Planner();
  const bool plain = !s || (s->overlay.values.empty() && s->overlay.written.empty());
  const std::wstring prefix = plain ? std::wstring() : KeyId(key) + L"\n";
  std::set<std::wstring> listed;
  std::vector<wchar_t> name(kValueNameRoom);
  for (DWORD index = 0; index < count; ++index) {
    DWORD length = kValueNameRoom;
    if (RegEnumValueW(key, index, name.data(), &length, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS)
      continue;
    std::wstring value(name.data(), length);
    if (!plain) {
      std::wstring id = prefix + UpperCase(value);
      if (s->overlay.values.count(id)) continue;
      listed.insert(id);
    }
    names.push_back(std::move(value));
  }
  if (plain || prefix.size() <= 1) return true;
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

DWORD Attributes(const std::wstring& path) {
  DWORD attributes = GetFileAttributesW(path.c_str());
  Session::State* s = Planner();
  if (attributes == INVALID_FILE_ATTRIBUTES || !s || s->overlay.NoFiles()) return attributes;
  if (s->overlay.Gone(path)) {
    SetLastError(ERROR_FILE_NOT_FOUND);
    return INVALID_FILE_ATTRIBUTES;
  }
  s->overlay.PlannedAttributes(path, attributes);
  return attributes;
}

bool Listed(const std::wstring& folder, WIN32_FIND_DATAW& entry) {
  Session::State* s = Planner();
  if (!s || s->overlay.NoFiles() || !s->overlay.names.count(UpperCase(entry.cFileName))) return true;
  std::wstring path = folder + L"\\" + entry.cFileName;
  if (s->overlay.Gone(path)) return false;
  s->overlay.PlannedAttributes(path, entry.dwFileAttributes);
  return true;
}

BOOL ServiceStatus(SC_HANDLE service, SERVICE_STATUS* status) {
  if (!QueryServiceStatus(service, status)) return FALSE;
  Session::State* s = Planner();
  if (s && s->serviceNames.count(service) &&
      s->overlay.services.count(UpperCase(s->serviceNames[service])))
    status->dwCurrentState = SERVICE_STOPPED;
  return TRUE;
}

}  // namespace kyd::machine
