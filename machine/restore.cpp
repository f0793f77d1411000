// Restore from a journal: last change first, each item put back only where
// it is missing (or, for a written value, only while it still holds what the
// run wrote), so that a partial restore tried again finds what came back
// present and a change made since the run is not undone.
#include <windows.h>
#include <setupapi.h>
#include <winioctl.h>

#include <algorithm>
#include <cstring>
#include <functional>
#include <set>

#include "machine/dir_tree.h"
#include "machine/journal.h"
#include "machine/machine.h"
#include "machine/pending.h"
#include "machine/seal.h"
#include "platform/base_log.h"
#include "platform/command_line.h"
#include "platform/console_runner.h"
#include "platform/env.h"
#include "platform/handle.h"

namespace kyd::machine {

using journal::Line;
using journal::Seal;

namespace {

constexpr char kLogUnit[] = "Machine";

enum class Outcome { kRestored, kPresent, kNotRestorable, kNotChanged, kLeft, kDamaged, kRefused, kFailed };

const wchar_t* OutcomeName(Outcome outcome) {
  switch (outcome) {
    case Outcome::kRestored: return L"restored";
    case Outcome::kPresent: return L"present";
    case Outcome::kNotRestorable: return L"not restorable";
    case Outcome::kNotChanged: return L"not changed";
    case Outcome::kLeft: return L"left";
    case Outcome::kDamaged: return L"damaged";
    case Outcome::kRefused: return L"refused";
    case Outcome::kFailed: return L"failed";
  }
  return L"?";
}

// The journal being restored: where it is and the seal its lines and
// material must carry.
struct Journal {
  std::wstring folder;
  Seal seal;
};

// Several items of one change: the worst outcome stands for all.
Outcome Worse(Outcome a, Outcome b) { return static_cast<int>(a) >= static_cast<int>(b) ? a : b; }

struct Result {
  Outcome outcome;
  std::wstring detail;
};

// The line's material, read whole and checked against the line's seal.
bool LoadMaterial(const Journal& j, const Line& line, const wchar_t* file, std::string& bytes) {
  std::wstring name = line.Get(L"material");
  if (name.empty() || name.find_first_of(L"\\/:") != std::wstring::npos) return false;
  std::wstring path = j.folder + L"\\" + name + file;
  return journal::ReadWholeFile(path, bytes) && !line.Get(L"mac").empty() &&
         j.seal.Of(Seal::kMaterial, bytes) == line.Get(L"mac");
}

// ------------------------------------------------------------- registry

LONG CreateKey(const std::wstring& name, UniqueKey& key, bool& created) {
  HKEY root;
  std::wstring path;
  if (!journal::SplitKeyName(name, root, path) || path.empty()) return ERROR_INVALID_NAME;
  DWORD disposition = 0;
  LONG status = RegCreateKeyExW(root, path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS | KEY_WOW64_64KEY, nullptr,
                                key.put(), &disposition);
  if (status == ERROR_CHILD_MUST_BE_VOLATILE) {  // a key under a volatile one was volatile too
    status = RegCreateKeyExW(root, path.c_str(), 0, nullptr, REG_OPTION_VOLATILE,
                             KEY_ALL_ACCESS | KEY_WOW64_64KEY, nullptr, key.put(), &disposition);
  }
  created = disposition == REG_CREATED_NEW_KEY;
  return status;
}

bool ValueIs(HKEY key, const std::wstring& name, const journal::SavedValue* expected) {
  DWORD type = 0, size = 0;
  LONG status = RegQueryValueExW(key, name.c_str(), nullptr, &type, nullptr, &size);
  if (!expected) return status == ERROR_FILE_NOT_FOUND;
  if (status != ERROR_SUCCESS || type != expected->type || size != expected->data.size()) return false;
  std::vector<BYTE> data(size + 1);
  DWORD got = size;
  return RegQueryValueExW(key, name.c_str(), nullptr, &type, data.data(), &got) == ERROR_SUCCESS &&
         got == size && std::equal(expected->data.begin(), expected->data.end(), data.begin());
}

LONG SetSaved(HKEY key, const journal::SavedValue& value) {
  return RegSetValueExW(key, value.name.c_str(), 0, value.type, value.data.data(),
                        static_cast<DWORD>(value.data.size()));
}

// A deleted key (all its values) or a deleted value: created and set where missing.
Result RestoreValues(const Journal& j, const Line& line) {
  std::string bytes;
  std::vector<journal::SavedValue> values;
  if (!LoadMaterial(j, line, L"", bytes) || !journal::ParseValues(bytes, values))
    return {Outcome::kDamaged, L"saved values missing or damaged"};
  UniqueKey key;
  bool created = false;
  LONG status = CreateKey(line.target, key, created);
  if (status != ERROR_SUCCESS) return {Outcome::kFailed, L"key not created, error " + std::to_wstring(status)};
  bool changed = created;
  for (const journal::SavedValue& value : values) {
    if (RegQueryValueExW(key.get(), value.name.c_str(), nullptr, nullptr, nullptr, nullptr) != ERROR_FILE_NOT_FOUND)
      continue;
    status = SetSaved(key.get(), value);
    if (status != ERROR_SUCCESS)
      return {Outcome::kFailed, L"value " + value.name + L" not set, error " + std::to_wstring(status)};
    changed = true;
  }
  return {changed ? Outcome::kRestored : Outcome::kPresent, {}};
}

// A written value goes back to what it was, as long as it still holds what
// the run wrote; a key the write made goes again when nothing else is in it.
Result RestoreWrittenValue(const Journal& j, const Line& line) {
  journal::SavedValue written{line.Get(L"name"),
                              static_cast<DWORD>(std::wcstoul(line.Get(L"type").c_str(), nullptr, 10)),
                              {}};
  std::string bytes;
  std::vector<journal::SavedValue> old;
  if (!journal::FromHex(line.Get(L"new"), written.data) || !LoadMaterial(j, line, L"", bytes) ||
      !journal::ParseValues(bytes, old) || old.size() != (line.Get(L"old") == L"saved" ? 1u : 0u))
    return {Outcome::kDamaged, L"saved value missing or damaged"};
  HKEY root;
  std::wstring path;
  if (!journal::SplitKeyName(line.target, root, path)) return {Outcome::kDamaged, L"bad key name"};
  UniqueKey key;
  if (RegOpenKeyExW(root, path.c_str(), 0, KEY_ALL_ACCESS | KEY_WOW64_64KEY, key.put()) != ERROR_SUCCESS) {
    if (line.Get(L"created") == L"yes") return {Outcome::kPresent, L"the key the run made is gone"};
    return {Outcome::kLeft, L"the key is gone"};
  }
  const journal::SavedValue* before = old.empty() ? nullptr : &old[0];
  if (ValueIs(key.get(), written.name, before)) return {Outcome::kPresent, {}};
  if (!ValueIs(key.get(), written.name, &written))
    return {Outcome::kLeft, L"changed since the run; left as it is"};
  LONG status = before ? SetSaved(key.get(), *before) : RegDeleteValueW(key.get(), written.name.c_str());
  if (status != ERROR_SUCCESS) return {Outcome::kFailed, L"error " + std::to_wstring(status)};
  DWORD subKeys = 1, values = 1;
  if (line.Get(L"created") == L"yes" &&
      RegQueryInfoKeyW(key.get(), nullptr, nullptr, nullptr, &subKeys, nullptr, nullptr, &values, nullptr,
                       nullptr, nullptr, nullptr) == ERROR_SUCCESS &&
      subKeys == 0 && values == 0) {
    key.reset();
    journal::DeleteKeyIn(root, path, KEY_WOW64_64KEY);
  }
  return {Outcome::kRestored, {}};
}

// ------------------------------------------------------------- files

// What SetFileAttributesW takes of a saved item's attributes (a folder's
// own bit and a link's are the item's kind, not settable).
DWORD Settable(DWORD attributes) {
  const DWORD settable = attributes & (FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM |
                                       FILE_ATTRIBUTE_ARCHIVE | FILE_ATTRIBUTE_TEMPORARY | FILE_ATTRIBUTE_OFFLINE |
                                       FILE_ATTRIBUTE_NOT_CONTENT_INDEXED);
  return settable ? settable : FILE_ATTRIBUTE_NORMAL;
}

bool MakeFolders(const std::wstring& folder) {
  if (folder.size() <= 3 || GetFileAttributesW(folder.c_str()) != INVALID_FILE_ATTRIBUTES) return true;
  size_t slash = folder.rfind(L'\\');
  if (slash != std::wstring::npos && !MakeFolders(folder.substr(0, slash))) return false;
  return CreateDirectoryW(folder.c_str(), nullptr) || GetLastError() == ERROR_ALREADY_EXISTS;
}

std::wstring ParentOf(const std::wstring& path) {
  size_t slash = path.rfind(L'\\');
  return slash == std::wstring::npos ? std::wstring() : path.substr(0, slash);
}

void (*g_checkedHook)(const std::wstring&) = nullptr;

// A saved copy of a file, opened once and held so that nobody may change,
// delete or rename it while restore uses it: what is written from it is
// exactly what was checked, whatever happens to its path meanwhile.
class SavedCopy {
 public:
  SavedCopy(const Journal& j, const std::wstring& path, const journal::SavedItem& item)
      : j_(j), path_(path), item_(item),
        file_(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                          FILE_FLAG_SEQUENTIAL_SCAN, nullptr)) {
    intact_ = file_ && Read(nullptr);
  }
  // Whether the file holds exactly the item's saved bytes (its seal matches).
  bool intact() const { return intact_; }

  enum Written { kWritten, kDamaged, kFailed };
  // Writes the checked bytes to `to`, which must not exist yet. They are
  // checked again as they are written; a copy whose bytes no longer match
  // is deleted again (kDamaged), as is a half-written one (kFailed, `error`).
  Written WriteTo(const std::wstring& to, DWORD& error) {
    if (!intact_) return kDamaged;
    if (g_checkedHook) g_checkedHook(path_);
    UniqueFile target(CreateFileW(to.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!target) {
      error = GetLastError();
      return kFailed;
    }
    bool written = true;
    const bool same = Read([&](const char* bytes, DWORD size) {
      DWORD done = 0;
      written = WriteFile(target.get(), bytes, size, &done, nullptr) && done == size;
      if (!written) error = GetLastError();
      return written;
    });
    if (same && written) return kWritten;
    target.reset();
    DeleteFileW(to.c_str());
    return written ? kDamaged : kFailed;
  }

 private:
  // The file from its start, each piece handed to `use` (when given); true
  // when all of it was read and its seal is the item's.
  bool Read(const std::function<bool(const char*, DWORD)>& use) {
    LARGE_INTEGER start{};
    if (!SetFilePointerEx(file_.get(), start, nullptr, FILE_BEGIN)) return false;
    Seal::Mac mac(j_.seal, Seal::kMaterial);
    uint64_t size = 0;
    std::vector<char> buffer(1 << 16);
    DWORD read = 0;
    while (ReadFile(file_.get(), buffer.data(), static_cast<DWORD>(buffer.size()), &read, nullptr) && read > 0) {
      mac.Add(buffer.data(), read);
      size += read;
      if (use && !use(buffer.data(), read)) return false;
    }
    return size == item_.size && !item_.mac.empty() && mac.Finish() == item_.mac;
  }

  const Journal& j_;
  std::wstring path_;
  const journal::SavedItem& item_;
  UniqueFile file_;
  bool intact_ = false;
};

// The saved copy `data` of `item` written to `to`; the outcome, with the
// detail to report unless it was written.
Outcome CopySaved(const Journal& j, const std::wstring& data, const journal::SavedItem& item, const std::wstring& to,
                  std::wstring& detail) {
  SavedCopy copy(j, data, item);
  DWORD error = 0;
  if (copy.intact() && MakeFolders(ParentOf(to))) {
    switch (copy.WriteTo(to, error)) {
      case SavedCopy::kWritten: return Outcome::kRestored;
      case SavedCopy::kDamaged: break;
      case SavedCopy::kFailed:
        detail = to + L": error " + std::to_wstring(error);
        return Outcome::kFailed;
    }
  } else if (copy.intact()) {
    detail = to + L": error " + std::to_wstring(GetLastError());
    return Outcome::kFailed;
  }
  detail = L"saved copy of " + item.path + L" missing or damaged";
  return Outcome::kDamaged;
}

Outcome RestoreFile(const Journal& j, const std::wstring& setFolder, const journal::SavedItem& item,
                    std::wstring& detail) {
  if (GetFileAttributesW(item.path.c_str()) != INVALID_FILE_ATTRIBUTES) return Outcome::kPresent;
  const Outcome copied = CopySaved(j, setFolder + L"\\" + item.data, item, item.path, detail);
  if (copied != Outcome::kRestored) return copied;
  {
    UniqueFile file(CreateFileW(item.path.c_str(), FILE_WRITE_ATTRIBUTES, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                0, nullptr));
    if (file) SetFileTime(file.get(), &item.created, nullptr, &item.written);
  }
  if (!SetFileAttributesW(item.path.c_str(), Settable(item.attributes))) {
    detail = item.path + L": back, but not its attributes, error " + std::to_wstring(GetLastError());
    return Outcome::kFailed;
  }
  return Outcome::kRestored;
}

// Whether a folder link holds exactly the saved reparse data.
bool LinkIs(const std::wstring& path, const std::string& reparse) {
  UniqueFile link(CreateFileW(path.c_str(), FILE_READ_ATTRIBUTES | FILE_READ_EA,
                              FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                              FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
  std::vector<char> data(MAXIMUM_REPARSE_DATA_BUFFER_SIZE);
  DWORD size = 0;
  return link && DeviceIoControl(link.get(), FSCTL_GET_REPARSE_POINT, nullptr, 0, data.data(),
                                 static_cast<DWORD>(data.size()), &size, nullptr) &&
         std::string(data.data(), size) == reparse;
}

bool EmptyFolder(const std::wstring& folder) {
  bool empty = true;
  return ForEachEntry(folder, [&](const WIN32_FIND_DATAW&) { return empty = false; }) && empty;
}

// A folder, or a folder link: present only as the link it was (a plain
// folder left by a link restore that failed is no link, and an empty one is
// made the link now).
Outcome RestoreFolder(const Journal& j, const std::wstring& setFolder, const journal::SavedItem& item,
                      std::wstring& detail) {
  std::string reparse;
  if (!item.data.empty() && !(journal::ReadWholeFile(setFolder + L"\\" + item.data, reparse) &&
                              !item.mac.empty() && j.seal.Of(Seal::kMaterial, reparse) == item.mac)) {
    detail = L"saved link data of " + item.path + L" missing or damaged";
    return Outcome::kDamaged;
  }
  const DWORD now = GetFileAttributesW(item.path.c_str());
  if (now != INVALID_FILE_ATTRIBUTES) {
    if (reparse.empty()) return Outcome::kPresent;
    if ((now & FILE_ATTRIBUTE_REPARSE_POINT) && LinkIs(item.path, reparse)) return Outcome::kPresent;
    if (!(now & FILE_ATTRIBUTE_DIRECTORY) || (now & FILE_ATTRIBUTE_REPARSE_POINT) || !EmptyFolder(item.path)) {
      detail = item.path + L": something other than the saved link is there; left as it is";
      return Outcome::kFailed;
    }
  } else if (!MakeFolders(ParentOf(item.path)) || !CreateDirectoryW(item.path.c_str(), nullptr)) {
    detail = item.path + L": error " + std::to_wstring(GetLastError());
    return Outcome::kFailed;
  }
  if (!reparse.empty()) {
    UniqueFile link(CreateFileW(item.path.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                                FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
    DWORD returned = 0;
    if (!link || !DeviceIoControl(link.get(), FSCTL_SET_REPARSE_POINT, reparse.data(),
                                  static_cast<DWORD>(reparse.size()), nullptr, 0, &returned, nullptr) ||
        !(GetFileAttributesW(item.path.c_str()) & FILE_ATTRIBUTE_REPARSE_POINT)) {
      detail = item.path + L": folder made, link not set, error " + std::to_wstring(GetLastError());
      return Outcome::kFailed;
    }
  }
  if (!SetFileAttributesW(item.path.c_str(), Settable(item.attributes))) {
    detail = item.path + L": back, but not its attributes, error " + std::to_wstring(GetLastError());
    return Outcome::kFailed;
  }
  return Outcome::kRestored;
}

// A line's saved file set, its index checked against the line.
bool LoadItems(const Journal& j, const Line& line, std::vector<journal::SavedItem>& items) {
  std::string bytes;
  return LoadMaterial(j, line, L"\\index.txt", bytes) && journal::ParseIndex(bytes, items);
}

// A saved file set, in the order it was saved (folders before what is in them).
Result RestoreItems(const Journal& j, const Line& line) {
  std::vector<journal::SavedItem> items;
  if (!LoadItems(j, line, items)) return {Outcome::kDamaged, L"saved files missing or damaged"};
  journal::NativePaths native(line.Get(L"fs") == L"64");
  const std::wstring setFolder = j.folder + L"\\" + line.Get(L"material");
  Outcome outcome = Outcome::kPresent;
  std::wstring detail;
  bool restored = false;
  for (const journal::SavedItem& item : items) {
    std::wstring note;
    Outcome one = item.folder ? RestoreFolder(j, setFolder, item, note) : RestoreFile(j, setFolder, item, note);
    if (one == Outcome::kRestored) restored = true;
    else if (one != Outcome::kPresent) outcome = Worse(outcome, one);
    if (!note.empty()) detail += (detail.empty() ? L"" : L"; ") + note;
  }
  if (outcome == Outcome::kPresent && restored) outcome = Outcome::kRestored;
  return {outcome, detail};
}

// ------------------------------------------------------------- driver packages

bool SamePath(const std::wstring& a, const std::wstring& b) { return journal::UpperCase(a) == journal::UpperCase(b); }

// The saved items below `store`, copied into `stage` under the same relative
// paths; the INF among them that is the published INF's twin is `stagedInf`
// (without one, the published INF itself is staged under the package's name).
Outcome StagePackage(const Journal& j, const std::wstring& setFolder, const std::vector<journal::SavedItem>& items,
                     const journal::SavedItem& inf, const std::wstring& store, const std::wstring& stage,
                     std::wstring& stagedInf, std::wstring& detail) {
  if (!CreateDirectoryW(stage.c_str(), nullptr)) {
    detail = stage + L": error " + std::to_wstring(GetLastError());
    return Outcome::kFailed;
  }
  const std::wstring inside = store + L"\\";
  for (const journal::SavedItem& item : items) {
    if (store.empty() || item.path.size() <= inside.size() || !SamePath(item.path.substr(0, inside.size()), inside))
      continue;
    const std::wstring relative = item.path.substr(inside.size());
    const std::wstring to = stage + L"\\" + relative;
    if (item.folder) {
      if (!item.data.empty()) continue;  // a link inside a package is not staged
      CreateDirectoryW(to.c_str(), nullptr);
      continue;
    }
    const Outcome copied = CopySaved(j, setFolder + L"\\" + item.data, item, to, detail);
    if (copied != Outcome::kRestored) return copied;
    if (stagedInf.empty() && relative.find(L'\\') == std::wstring::npos && item.mac == inf.mac &&
        item.size == inf.size)
      stagedInf = to;
  }
  if (!stagedInf.empty()) return Outcome::kRestored;
  // No twin saved: the published INF alone, under the name the package had.
  std::wstring name = store.substr(store.rfind(L'\\') + 1);
  size_t dot = journal::UpperCase(name).find(L".INF_");
  name = dot != std::wstring::npos ? name.substr(0, dot + 4) : inf.path.substr(inf.path.rfind(L'\\') + 1);
  stagedInf = stage + L"\\" + name;
  return CopySaved(j, setFolder + L"\\" + inf.data, inf, stagedInf, detail);
}

// A removed driver package goes back the way Windows takes packages in:
// staged from the saved copy by SetupCopyOEMInfW, which adds it to the driver
// store (Windows Vista on) and publishes it as an oem INF, under a new name if
// its old one is taken. Nothing is copied into the INF folder or the driver
// store by hand there. Only a package that had no store folder (Windows XP)
// gets its INF and PNF back under their own names, byte for byte, as long as
// that name is free.
Result RestorePackage(const Journal& j, const Line& line, const std::wstring& infPath) {
  std::vector<journal::SavedItem> items;
  if (!LoadItems(j, line, items)) return {Outcome::kDamaged, L"saved files missing or damaged"};
  const bool native64 = line.Get(L"fs") == L"64";
  const std::wstring setFolder = j.folder + L"\\" + line.Get(L"material");
  const std::wstring store = line.Get(L"store"), stage = setFolder + L"-stage";
  auto inf = std::find_if(items.begin(), items.end(),
                          [&](const journal::SavedItem& item) { return !item.folder && SamePath(item.path, infPath); });
  if (inf == items.end()) return RestoreItems(j, line);
  std::wstring stagedInf, detail;
  Outcome staged;
  {
    // Only the file work sees the paths as the line recorded them: SetupAPI
    // is never called with file-system redirection off.
    journal::NativePaths native(native64);
    const bool published = GetFileAttributesW(infPath.c_str()) != INVALID_FILE_ATTRIBUTES;
    if (published && SavedCopy(j, infPath, *inf).intact())
      return store.empty() ? RestoreItems(j, line) : Result{Outcome::kPresent, L"published as " + infPath};
    if (store.empty() && !published) return RestoreItems(j, line);
    RemoveDirectoryTree(stage);  // what an interrupted restore left
    staged = StagePackage(j, setFolder, items, *inf, store, stage, stagedInf, detail);
  }
  Result result{staged, detail};
  if (staged == Outcome::kRestored) {
    std::wstring name;
    if (DWORD error = PublishDriverPackage(stagedInf, stage, name); error == ERROR_SUCCESS) {
      result.detail = L"added back to the driver store as " + name;
    } else if (error == ERROR_FILE_EXISTS) {
      result = {Outcome::kPresent, L"in the driver store as " + name};
    } else {
      result = {Outcome::kFailed, L"not added back to the driver store, error " + std::to_wstring(error) +
                                      L"; the package stays saved in the journal"};
    }
  }
  journal::NativePaths native(native64);
  RemoveDirectoryTree(stage);
  return result;
}

Result RestoreAttributes(const Line& line) {
  journal::NativePaths native(line.Get(L"fs") == L"64");
  DWORD old = std::wcstoul(line.Get(L"old").c_str(), nullptr, 16);
  DWORD changed = std::wcstoul(line.Get(L"new").c_str(), nullptr, 16);
  DWORD now = GetFileAttributesW(line.target.c_str());
  if (now == INVALID_FILE_ATTRIBUTES) return {Outcome::kFailed, L"missing"};
  if (now == old) return {Outcome::kPresent, {}};
  if (now != changed) return {Outcome::kLeft, L"changed since the run; left as it is"};
  if (!SetFileAttributesW(line.target.c_str(), old))
    return {Outcome::kFailed, L"error " + std::to_wstring(GetLastError())};
  return {Outcome::kRestored, {}};
}

// ------------------------------------------------------------- services

// Only a service the run stopped is started, and only while it is stopped
// and not disabled: a service the user disabled since stays as it is.
Result RestartService(const Line& line) {
  UniqueService manager(OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT));
  UniqueService service(manager ? OpenServiceW(manager.get(), line.target.c_str(),
                                               SERVICE_START | SERVICE_QUERY_STATUS | SERVICE_QUERY_CONFIG)
                                : nullptr);
  SERVICE_STATUS status{};
  if (!service || !QueryServiceStatus(service.get(), &status))
    return {Outcome::kFailed, L"service not found, error " + std::to_wstring(GetLastError())};
  if (status.dwCurrentState != SERVICE_STOPPED) return {Outcome::kPresent, L"running"};
  DWORD size = 0;
  QueryServiceConfigW(service.get(), nullptr, 0, &size);
  std::vector<BYTE> config(size ? size : 1);
  if (!QueryServiceConfigW(service.get(), reinterpret_cast<QUERY_SERVICE_CONFIGW*>(config.data()), size, &size))
    return {Outcome::kFailed, L"its configuration cannot be read, error " + std::to_wstring(GetLastError())};
  if (reinterpret_cast<const QUERY_SERVICE_CONFIGW*>(config.data())->dwStartType == SERVICE_DISABLED)
    return {Outcome::kLeft, L"disabled since the run; left stopped"};
  if (!StartServiceW(service.get(), 0, nullptr))
    return {Outcome::kFailed, L"not started, error " + std::to_wstring(GetLastError())};
  return {Outcome::kRestored, L"started again"};
}

// A deletion the run left for the next restart, or a file it left in place
// (pending::CallOff).
Result CallOffDeletion(const Line& line) {
  pending::CallOffResult result = pending::CallOff(line);
  switch (result.kind) {
    case pending::CallOffResult::kRestored: return {Outcome::kRestored, result.detail};
    case pending::CallOffResult::kPresent: return {Outcome::kPresent, result.detail};
    case pending::CallOffResult::kLeft: return {Outcome::kLeft, result.detail};
    case pending::CallOffResult::kFailed: break;
  }
  return {Outcome::kFailed, result.detail};
}

Result RestoreLine(const Journal& j, const Line& line) {
  if (line.verb == L"delete-at-restart" || line.verb == L"left-in-use") return CallOffDeletion(line);
  const std::wstring& verb = line.verb;
  if (verb == L"delete-key" || verb == L"delete-value") return RestoreValues(j, line);
  if (verb == L"set-value") return RestoreWrittenValue(j, line);
  if (verb == L"delete-file" || verb == L"remove-folder" || verb == L"delete-inf") return RestoreItems(j, line);
  if (verb == L"remove-driver-package") return RestorePackage(j, line, line.target);
  if (verb == L"set-attributes") return RestoreAttributes(line);
  if (verb == L"stop-service") return RestartService(line);
  if (verb == L"not-saved") return {Outcome::kNotChanged, L"it could not be saved, so it was left as it was"};
  if (verb == L"end-process")
    return {Outcome::kNotRestorable, L"an ended process cannot be brought back; start it again if needed"};
  if (verb == L"remove-device")
    return {Outcome::kNotRestorable, L"the device comes back when Windows detects the hardware again"};
  if (verb == L"run") {
    Result result{Outcome::kNotRestorable, L"what the program did itself was not saved"};
    if (line.Has(L"material")) {  // the driver package it removed was
      Result package = RestorePackage(j, line, line.Get(L"package"));
      result.detail = L"driver package files " + std::wstring(OutcomeName(package.outcome)) +
                      (package.detail.empty() ? L"" : L" (" + package.detail + L")") + L"; " + result.detail;
      if (package.outcome == Outcome::kDamaged || package.outcome == Outcome::kFailed) result.outcome = package.outcome;
    }
    return result;
  }
  return {Outcome::kDamaged, L"unknown change"};
}

constexpr wchar_t kPublishedFile[] = L"kydpublished.txt";

DWORD PublishHere(const std::wstring& inf, const std::wstring& folder, std::wstring& published) {
  wchar_t name[MAX_PATH] = {};
  DWORD error = SetupCopyOEMInfW(inf.c_str(), (folder + L"\\").c_str(), SPOST_PATH, SP_COPY_NOOVERWRITE, name,
                                 MAX_PATH, nullptr, nullptr)
                    ? ERROR_SUCCESS
                    : GetLastError();
  published = name;
  return error;
}

// The report of a restore refused before it began, for the one who reads
// restore.txt rather than the log.
void WriteRefusal(const std::wstring& folder, const std::string& reason) {
  const std::string text = "# restore of " + journal::ToUtf8(folder) + "\r\n# refused\t" + reason + "\r\n";
  const std::wstring path = folder + L"\\" + kRestoreReportName;
  DeleteFileW(path.c_str());
  journal::WriteNewFile(path, text.data(), text.size());
}

}  // namespace

void SetRestoreCheckedHook(void (*hook)(const std::wstring& savedCopy)) { g_checkedHook = hook; }

DWORD PublishDriverPackage(const std::wstring& inf, const std::wstring& folder, std::wstring& published) {
  const std::wstring program = GetHostFolder() + L"drv64\\drv64.exe";
  if (!IsWow64() || GetFileAttributesW(program.c_str()) == INVALID_FILE_ATTRIBUTES)
    return PublishHere(inf, folder, published);
  std::wstring line = L"\"" + program + L"\" \"kydpublish\" " + QuoteArgument(inf) + L" " + QuoteArgument(folder);
  DWORD exitCode = ERROR_GEN_FAILURE;
  if (!RunAndWait(program, line, false, exitCode)) return GetLastError();
  std::string name;
  if (journal::ReadWholeFile(folder + L"\\" + kPublishedFile, name)) published = journal::FromUtf8(name);
  return exitCode;
}

int PublishDriverPackageCommand(const std::wstring& inf, const std::wstring& folder) {
  std::wstring published;
  DWORD error = PublishHere(inf, folder, published);
  std::string name = journal::ToUtf8(published);
  journal::WriteNewFile(folder + L"\\" + kPublishedFile, name.data(), name.size());
  return static_cast<int>(error);
}

int Restore(const std::wstring& folderIn) {
  wchar_t full[MAX_PATH * 2] = {};
  DWORD length = GetFullPathNameW(folderIn.c_str(), MAX_PATH * 2, full, nullptr);
  Journal j;
  j.folder = length > 0 && length < MAX_PATH * 2 ? full : folderIn;
  std::wstring& folder = j.folder;
  while (folder.size() > 3 && folder.back() == L'\\') folder.pop_back();
  journal::Manifest manifest;
  if (folderIn.empty() || !journal::ReadManifest(folder, manifest)) {
    KLOG(base::LOG_ERROR, "restore (%S): no journal there", folder.c_str());
    return kRestoreNothing;
  }
  if (manifest.mode != L"journal") {
    KLOG(base::LOG_ERROR, "restore (%S): %s, nothing to restore", folder.c_str(),
         manifest.mode == L"plan" ? "a plan" : "not a journal");
    return kRestoreNothing;
  }
  // A journal is replayed as the administrator who restores it: only one
  // that nobody else could have changed, or put in its place, sealed with
  // its own secret.
  std::string why;
  const char* refusal = nullptr;
  if (journal::OthersCanChange(folder, why)) refusal = "others can change the journal folder";
  else if (journal::OthersCanChange(folder + L"\\" + kManifestName, why)) refusal = "others can change its manifest";
  else if (journal::OthersCanChangeAbove(folder, why)) refusal = "others can change a folder above it";
  else if (!j.seal.Load(manifest.id, why)) refusal = "its seal cannot be checked";
  if (refusal) {
    KLOG(base::LOG_ERROR, "restore (%S): refused, %s: %s", folder.c_str(), refusal, why.c_str());
    // The journal folder itself is safe to write in when only a folder above is not.
    if (std::strcmp(refusal, "others can change a folder above it") == 0)
      WriteRefusal(folder, std::string(refusal) + ": " + why);
    return kRestoreNothing;
  }
  std::wstring report = L"# restore of " + folder +
                        L"\r\n# a restore undoes the whole run: values it wrote go back to what they were, "
                        L"the driver-search policy included\r\n";
  // A journal that was moved is restored where it is now, and says so.
  if (!j.seal.folder().empty() && _wcsicmp(j.seal.folder().c_str(), folder.c_str()) != 0)
    report += L"# moved\tthe journal was made in " + journal::Escape(j.seal.folder()) + L"\r\n";
  bool partial = false;
  for (const std::string& damaged : manifest.damaged) {
    report += L"?\tdamaged\tline not restored: " + journal::Escape(journal::FromUtf8(damaged)) + L"\r\n";
    partial = true;
  }
  std::vector<Line> lines;
  std::set<int> refusedNumbers;
  std::set<std::string> acted;
  for (const Line& line : manifest.lines) {
    if (journal::Sealed(line, j.seal)) {
      lines.push_back(line);
      continue;
    }
    refusedNumbers.insert(line.number);
    report += std::to_wstring(line.number) + L"\t" + OutcomeName(Outcome::kRefused) + L"\t" + line.verb + L"\t" +
              journal::Escape(line.target) + L"\tits seal does not match: not written by the library; not acted on\r\n";
    partial = true;
  }
  const std::wstring gaps = journal::WhatIsMissing(manifest, lines, refusedNumbers, j.seal);
  if (!gaps.empty()) {
    report += gaps;
    partial = true;
  }
  std::stable_sort(lines.begin(), lines.end(), [](const Line& a, const Line& b) { return a.number > b.number; });
  int restored = 0;
  for (const Line& line : lines) {
    if (!acted.insert(line.sealed).second) continue;  // the same line again: put back once
    Result result = RestoreLine(j, line);
    if (result.outcome == Outcome::kRestored) ++restored;
    if (result.outcome == Outcome::kDamaged || result.outcome == Outcome::kFailed || result.outcome == Outcome::kLeft)
      partial = true;
    report += std::to_wstring(line.number) + L"\t" + OutcomeName(result.outcome) + L"\t" + line.verb + L"\t" +
              journal::Escape(line.target) + (result.detail.empty() ? L"" : L"\t" + journal::Escape(result.detail)) +
              L"\r\n";
  }
  // Everything is back: the secret has served, and goes (a partial restore
  // keeps it, so that it may be tried again).
  if (!partial)
    report += L"# forgotten\teverything is back: the journal's secret was deleted, it cannot be restored again\r\n";
  std::string text = journal::ToUtf8(report);
  const std::wstring reportPath = folder + L"\\" + kRestoreReportName;
  DeleteFileW(reportPath.c_str());
  journal::WriteNewFile(reportPath, text.data(), text.size());
  if (!partial) Seal::Forget(manifest.id);
  KLOG(base::LOG_INFO, "restore (%S): %d of %d changes put back%s", folder.c_str(), restored,
       static_cast<int>(manifest.lines.size()), partial ? ", some could not be" : "; its secret was deleted");
  return partial ? kRestorePartial : kRestoreComplete;
}

}  // namespace kyd::machine
