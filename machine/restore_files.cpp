// Restore of files, folders and driver packages from a line's saved file
// set: each item written back only where it is missing, from a saved copy
// held open from its check to its write.
#include <windows.h>
#include <setupapi.h>
#include <winioctl.h>

#include <algorithm>
#include <functional>

#include "machine/dir_tree.h"
#include "machine/machine.h"
#include "machine/restore.h"
#include "platform/handle.h"

namespace kyd::machine {

using journal::Line;
using journal::Seal;

namespace restoring {

namespace {

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
bool LoadItems(const Journal& j, const Line& line, std::vector<journal::SavedItem>& items,
               std::vector<journal::SavedLink>* links = nullptr) {
  std::string bytes;
  return LoadMaterial(j, line, L"\\index.txt", bytes) && journal::ParseIndex(bytes, items, links);
}

// One item, written only through the way it was saved by.
Outcome RestoreItem(const Journal& j, const std::wstring& setFolder, const journal::SavedItem& item,
                    const std::vector<journal::SavedLink>& links, std::wstring& detail) {
  CheckedWay way(item.path, links);
  if (!way.ok()) {
    detail = item.path + (way.elsewhere().empty() ? L": error " + std::to_wstring(way.error())
                                                  : L": a folder on its path now leads elsewhere: " + way.elsewhere());
    return Outcome::kFailed;
  }
  return item.folder ? RestoreFolder(j, setFolder, item, detail) : RestoreFile(j, setFolder, item, detail);
}

}  // namespace

// A saved file set, in the order it was saved (folders before what is in them).
Result RestoreItems(const Journal& j, const Line& line) {
  std::vector<journal::SavedItem> items;
  std::vector<journal::SavedLink> links;
  if (!LoadItems(j, line, items, &links)) return {Outcome::kDamaged, L"saved files missing or damaged"};
  journal::NativePaths native(line.Get(L"fs") == L"64");
  const std::wstring setFolder = j.folder + L"\\" + line.Get(L"material");
  Outcome outcome = Outcome::kPresent;
  std::wstring detail;
  bool restored = false;
  for (const journal::SavedItem& item : items) {
    std::wstring note;
    const Outcome one = RestoreItem(j, setFolder, item, links, note);
    if (one == Outcome::kRestored) restored = true;
    else if (one != Outcome::kPresent) outcome = Worse(outcome, one);
    if (!note.empty()) detail += (detail.empty() ? L"" : L"; ") + note;
  }
  if (outcome == Outcome::kPresent && restored) outcome = Outcome::kRestored;
  return {outcome, detail};
}

namespace {

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
}  // namespace

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
}  // namespace restoring

void SetRestoreCheckedHook(void (*hook)(const std::wstring& savedCopy)) { restoring::g_checkedHook = hook; }

}  // namespace kyd::machine
