// File and folder changes through the seam, each with its three faces side by
// side (perform, plan, journal), the saving of file sets, and the file reads
// a plan's overlay shapes.
#include "machine/session.h"

#include <winioctl.h>

#include "machine/pending.h"
#include "platform/base_log.h"
#include "platform/env.h"

namespace kyd::machine {

namespace {

constexpr char kLogUnit[] = "Machine";

// The attributes SetFileAttributesW can change.
constexpr DWORD kSettableAttributes = FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN |
                                      FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_ARCHIVE |
                                      FILE_ATTRIBUTE_TEMPORARY | FILE_ATTRIBUTE_OFFLINE |
                                      FILE_ATTRIBUTE_NOT_CONTENT_INDEXED;

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

}  // namespace

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
  // The folder links on the items' way, and where they lead: restore writes
  // only through links that were there when the items were saved.
  std::vector<journal::SavedLink> links;
  for (const std::wstring& path : paths) {
    journal::AddLinksAbove(path, links);
    if (!save(path)) {
      error = GetLastError() ? GetLastError() : ERROR_READ_FAULT;
      return false;
    }
  }
  std::string index = journal::FormatIndex(items, links);
  if (!journal::WriteNewFile(setFolder + L"\\index.txt", index.data(), index.size())) {
    error = GetLastError();
    return false;
  }
  line.Set(L"material", name).Set(L"mac", s.seal.Of(journal::Seal::kMaterial, index));
  return true;
}

namespace {

bool Deletable(DWORD attributes) {
  return attributes != INVALID_FILE_ATTRIBUTES && !IsFolder(attributes) &&
         !(attributes & FILE_ATTRIBUTE_READONLY);
}

// What this process has given Windows to delete at the next restart (real
// names, upper case: Windows deletes by name, whatever is there then), and
// how many such deletions there were (a child program's are counted in too).
std::set<std::wstring> g_scheduled;
long g_scheduledCount = 0;

// Given to Windows by this process and still in its list (a restore may
// have taken it out).
bool Scheduled(const std::wstring& path) {
  if (g_scheduled.empty()) return false;
  const std::wstring real = RealPath(path);
  return g_scheduled.count(UpperCase(real)) != 0 && pending::Due(real);
}

// A folder's entries as the plan sees them; what goes at the next restart
// counts as gone.
bool EmptyAsSeen(const std::wstring& folder) {
  for (WIN32_FIND_DATAW& entry : RawEntries(folder))
    if (Listed(folder, entry) && !Scheduled(folder + L"\\" + entry.cFileName)) return false;
  return true;
}

// Whether a deletion failed because the running system holds the file rather
// than because this process may not delete it. A sharing violation is in
// use: Windows checks access before sharing. Access denied is in use only on
// a file that is not read-only and that this process may open for deletion
// (an open refused for sharing has passed the access check too): a loaded
// program file. What access control keeps from us stays a plain failure.
bool InUse(const std::wstring& path, DWORD error) {
  if (error != ERROR_SHARING_VIOLATION && error != ERROR_ACCESS_DENIED) return false;
  DWORD attributes = GetFileAttributesW(path.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES || IsFolder(attributes) || (attributes & FILE_ATTRIBUTE_READONLY))
    return false;
  if (error == ERROR_SHARING_VIOLATION) return true;
  UniqueFile probe(CreateFileW(path.c_str(), DELETE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                               nullptr, OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
  return probe.valid() || GetLastError() == ERROR_SHARING_VIOLATION;
}

// Gives Windows the item to delete when it starts, under its real name, and
// marks the journal's line of its deletion (the line before, which saved it).
// A file moved aside first (`movedFrom`, the real name it had) is given under
// its holding name, and its line says where it came from.
Removal Schedule(const std::wstring& path, const wchar_t* item, std::wstring* scheduledAs,
                 const std::wstring& seenAs, const std::wstring& movedFrom = {}) {
  const std::wstring real = RealPath(path);
  if (scheduledAs) *scheduledAs = movedFrom.empty() ? real : movedFrom;
  // Met again under another name (on 64-bit Windows the system folder and
  // SysWOW64 are one folder to this module): Windows has it already.
  if (Scheduled(path)) return Removal::kAtRestart;
  {
    journal::NativePaths native(true);  // the real name is the 64-bit file system's
    if (!MoveFileExW(real.c_str(), nullptr, MOVEFILE_DELAY_UNTIL_REBOOT)) return Removal::kFailed;
  }
  if (Session::State* s = g_state; s && s->mode == Mode::kJournal) {
    Line line = MakeLine(L"delete-at-restart", real);
    line.Set(L"item", item).Set(L"of", std::to_wstring(s->last)).Set(L"path", seenAs);
    if (!movedFrom.empty()) line.Set(L"from", movedFrom);
    if (!Record(*s, line)) {
      DWORD error = 0;
      pending::Withdraw(real, error);  // no deletion the journal cannot take back
      return Removal::kFailed;
    }
  }
  g_scheduled.insert(UpperCase(real));
  ++g_scheduledCount;
  return Removal::kAtRestart;
}

// Files in use left where they are in this process (below a folder others
// can change, and not to be moved).
long g_leftInPlace = 0;

// A file in use that cannot be moved aside, below a folder that others can
// change: deleted by name at the restart, it could be anything by then.
Removal LeaveInPlace(const std::wstring& path, const std::string& why) {
  KLOG(base::LOG_WARNING, "left in place: in use below a folder others can change: %S", path.c_str());
  KLOG(base::LOG_INFO, "(%s)", why.c_str());
  if (Session::State* s = g_state; s && s->mode == Mode::kJournal) {
    Line line = FileLine(L"left-in-use", path);
    line.Set(L"of", std::to_wstring(s->last)).Set(L"why", journal::FromUtf8(why));
    Record(*s, line);  // nothing was changed: a line lost loses only the count
  }
  ++g_leftInPlace;
  return Removal::kLeftInPlace;
}

}  // namespace

// ------------------------------------------------------------- changes

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

Removal RemoveFileOrSchedule(const std::wstring& path, std::wstring* scheduledAs) {
  if (RemoveFile(path)) return Removal::kGone;
  const DWORD error = GetLastError();
  if (Planning() || !InUse(path, error)) {
    SetLastError(error);
    return Removal::kFailed;
  }
  const std::wstring real = RealPath(path);
  if (Scheduled(path)) {
    if (scheduledAs) *scheduledAs = real;
    return Removal::kAtRestart;
  }
  // Moved aside first, into a folder nobody else can change: what is deleted
  // at the restart is then what this run meant, and the path is free at once
  // (a driver installed again before the restart keeps its file).
  std::wstring moved;
  Removal removal = Removal::kFailed;
  if (pending::MoveAside(path, moved)) {
    removal = Schedule(moved, L"file", scheduledAs, path, real);
    if (removal == Removal::kFailed) MoveFileExW(moved.c_str(), path.c_str(), 0);
    else KLOG(base::LOG_INFO, "moved %S aside to %S: it goes at the next restart", path.c_str(), moved.c_str());
  } else {
    std::string why;
    if (pending::OthersCanRedirect(real, why)) return LeaveInPlace(path, why);
    removal = Schedule(path, L"file", scheduledAs, path);
  }
  if (removal == Removal::kFailed) SetLastError(error);
  return removal;
}

Removal RemoveFolderOrSchedule(const std::wstring& path, std::wstring* scheduledAs) {
  if (RemoveFolder(path)) return Removal::kGone;
  const DWORD error = GetLastError();
  // Only a folder that holds nothing but what goes at the restart follows it.
  if (Planning() || g_scheduled.empty() || RawEntries(path).empty() || !EmptyAsSeen(path)) {
    SetLastError(error);
    return Removal::kFailed;
  }
  // Deleted by name at the restart: only where nobody else could put a link
  // in its way.
  std::string why;
  if (pending::OthersCanRedirect(RealPath(path), why)) {
    SetLastError(error);
    return Removal::kFailed;
  }
  Removal removal = Schedule(path, L"folder", scheduledAs, path);
  if (removal == Removal::kFailed) SetLastError(error);
  return removal;
}

long ScheduledDeletions() { return g_scheduledCount; }

long LeftInPlace() { return g_leftInPlace; }

void ChildScheduled() { ++g_scheduledCount; }

std::wstring RealPath(const std::wstring& pathIn) {
  wchar_t full[MAX_PATH * 2] = {};
  DWORD length = GetFullPathNameW(pathIn.c_str(), MAX_PATH * 2, full, nullptr);
  const std::wstring path = length > 0 && length < MAX_PATH * 2 ? full : pathIn;
#ifdef _WIN64
  return path;
#else
  if (!IsWow64()) return path;
  // DriverStore is shown as it is to a 32-bit program from Windows 7 on;
  // Vista and Server 2008 redirect it with the rest.
  static const bool driverStoreExempt =
      (GetOsVersionClass() & (OS_XP_64 | OS_2003_64 | OS_VISTA_64 | OS_2008_64)) == 0;
  using Wow64DirFn = UINT(WINAPI*)(LPWSTR, UINT);
  static const auto wow64Dir = reinterpret_cast<Wow64DirFn>(reinterpret_cast<void*>(
      GetProcAddress(GetModuleHandleW(L"kernel32.dll"), "GetSystemWow64DirectoryW")));
  wchar_t system[MAX_PATH] = {}, wow64[MAX_PATH] = {};
  UINT systemLength = GetSystemDirectoryW(system, MAX_PATH);
  UINT wow64Length = wow64Dir ? wow64Dir(wow64, MAX_PATH) : 0;
  if (systemLength == 0 || systemLength >= MAX_PATH || wow64Length == 0 || wow64Length >= MAX_PATH) return path;
  return pending::NativeNameOf(path, system, wow64, driverStoreExempt);
#endif
}

// ------------------------------------------------------------- reads

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

}  // namespace kyd::machine
