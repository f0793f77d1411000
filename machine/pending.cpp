// The lists of operations Windows carries out when it starts, the names
// their entries must use, and the holding folders (see pending.h).
#include "machine/pending.h"

#include <cstring>
#include <map>

#include "machine/journal.h"
#include "machine/seal.h"
#include "machine/session.h"
#include "platform/base_log.h"
#include "platform/handle.h"

namespace kyd::machine::pending {

const wchar_t* const kValues[2] = {L"PendingFileRenameOperations", L"PendingFileRenameOperations2"};

namespace {

constexpr char kLogUnit[] = "Machine";
constexpr wchar_t kSessionManager[] = L"SYSTEM\\CurrentControlSet\\Control\\Session Manager";

// `path` itself or anything below it lies below `folder` (both upper case).
bool Below(const std::wstring& path, const std::wstring& folder) {
  return path.size() > folder.size() && path.compare(0, folder.size(), folder) == 0 && path[folder.size()] == L'\\';
}
bool AtOrBelow(const std::wstring& path, const std::wstring& folder) {
  return path == folder || Below(path, folder);
}
bool StartsWith(const std::wstring& text, const wchar_t* prefix) { return text.rfind(prefix, 0) == 0; }

}  // namespace

bool Parse(const std::vector<BYTE>& data, List& list) {
  list = List{{}, 0};
  if (data.empty()) return true;
  if (data.size() % sizeof(wchar_t) != 0) return false;
  std::wstring text(data.size() / sizeof(wchar_t), L'\0');
  std::memcpy(text.data(), data.data(), data.size());
  if (text.back() != L'\0') return false;
  std::vector<std::wstring> strings;
  for (size_t start = 0; start < text.size();) {
    size_t end = text.find(L'\0', start);
    strings.push_back(text.substr(start, end - start));
    start = end + 1;
  }
  // Pairs up to the first empty name; after it, only empty strings.
  size_t i = 0;
  for (; i < strings.size() && !strings[i].empty(); i += 2) {
    if (i + 1 == strings.size()) return false;  // a name without its pair
    list.operations.push_back({strings[i], strings[i + 1]});
  }
  for (list.tail = 0; i < strings.size(); ++i, ++list.tail)
    if (!strings[i].empty()) return false;  // an operation on no name
  return true;
}

std::vector<BYTE> Format(const List& list) {
  std::wstring text;
  for (const Operation& operation : list.operations) {
    text += operation.from;
    text += L'\0';
    text += operation.to;
    text += L'\0';
  }
  text.append(list.tail, L'\0');
  std::vector<BYTE> data(text.size() * sizeof(wchar_t));
  std::memcpy(data.data(), text.data(), data.size());
  return data;
}

std::wstring PathOf(const std::wstring& name) {
  size_t at = 0;
  if (name.size() > 1 && name[0] == L'!') {
    at = 1;
  } else if (name.size() > 1 && name[0] == L'*') {
    size_t digits = 1;
    while (digits < name.size() && name[digits] >= L'0' && name[digits] <= L'9') ++digits;
    if (digits > 1) at = digits;
  }
  if (name.compare(at, 4, L"\\??\\") == 0 || name.compare(at, 4, L"\\\\?\\") == 0) at += 4;
  return name.substr(at);
}

bool DropDeletion(List& list, const std::wstring& path) {
  const std::wstring wanted = journal::UpperCase(PathOf(path));
  std::vector<Operation>& operations = list.operations;
  for (size_t i = operations.size(); i-- > 0;) {
    if (!operations[i].to.empty() || journal::UpperCase(PathOf(operations[i].from)) != wanted) continue;
    operations.erase(operations.begin() + static_cast<std::ptrdiff_t>(i));
    return true;
  }
  return false;
}

std::wstring NativeNameOf(const std::wstring& pathIn, const std::wstring& system, const std::wstring& wow64,
                          bool driverStoreExempt) {
  if (system.empty() || wow64.empty()) return pathIn;
  const bool long_ = StartsWith(pathIn, L"\\\\?\\");
  const std::wstring prefix = long_ ? L"\\\\?\\" : L"", path = pathIn.substr(prefix.size());
  const std::wstring upper = journal::UpperCase(path), folder = journal::UpperCase(system);
  const size_t slash = folder.rfind(L'\\');
  if (slash != std::wstring::npos) {
    const std::wstring sysnative = folder.substr(0, slash) + L"\\SYSNATIVE";
    if (AtOrBelow(upper, sysnative)) return prefix + system + path.substr(sysnative.size());
  }
  if (!AtOrBelow(upper, folder)) return pathIn;
  // The folders of System32 that WOW64 shows a 32-bit program as they are
  // (DriverStore from Windows 7 on; Vista and Server 2008 redirect it).
  for (const wchar_t* exempt : {L"CATROOT", L"CATROOT2", L"DRIVERSTORE", L"DRIVERS\\ETC", L"LOGFILES", L"SPOOL"}) {
    if (!driverStoreExempt && std::wcscmp(exempt, L"DRIVERSTORE") == 0) continue;
    if (AtOrBelow(upper, folder + L"\\" + exempt)) return pathIn;
  }
  return prefix + wow64 + path.substr(folder.size());
}

namespace {

// A list's value as the key holds it: ERROR_FILE_NOT_FOUND when there is
// none, ERROR_INVALID_DATA when it is no such list.
LONG ReadBytes(HKEY key, const wchar_t* value, std::vector<BYTE>& data) {
  DWORD type = 0, size = 0;
  data.clear();
  LONG status = RegQueryValueExW(key, value, nullptr, &type, nullptr, &size);
  for (int tries = 0; status == ERROR_SUCCESS || status == ERROR_MORE_DATA; ++tries) {
    data.resize(size);
    status = RegQueryValueExW(key, value, nullptr, &type, data.data(), &size);
    if (status != ERROR_MORE_DATA || tries == 3) break;  // it grew meanwhile
  }
  if (status != ERROR_SUCCESS) return status;
  data.resize(size);
  return type == REG_MULTI_SZ ? ERROR_SUCCESS : ERROR_INVALID_DATA;
}

LONG ReadList(HKEY key, const wchar_t* value, std::vector<BYTE>& data, List& list) {
  LONG status = ReadBytes(key, value, data);
  if (status != ERROR_SUCCESS) return status;
  return Parse(data, list) ? ERROR_SUCCESS : ERROR_INVALID_DATA;
}

LONG OpenSessionManager(REGSAM access, UniqueKey& key) {
  return RegOpenKeyExW(HKEY_LOCAL_MACHINE, kSessionManager, 0, access | KEY_WOW64_64KEY, key.put());
}

}  // namespace

bool Due(const std::wstring& realPath) {
  UniqueKey key;
  if (OpenSessionManager(KEY_QUERY_VALUE, key) != ERROR_SUCCESS) return false;
  for (const wchar_t* value : kValues) {
    std::vector<BYTE> data;
    List list;
    if (ReadList(key.get(), value, data, list) == ERROR_SUCCESS && DropDeletion(list, realPath)) return true;
  }
  return false;
}

Withdrawal Withdraw(const std::wstring& realPath, DWORD& error) {
  UniqueKey key;
  error = static_cast<DWORD>(OpenSessionManager(KEY_QUERY_VALUE | KEY_SET_VALUE, key));
  if (error != ERROR_SUCCESS) return Withdrawal::kFailed;
  LONG unread = ERROR_SUCCESS;
  for (const wchar_t* value : kValues) {
    for (int tries = 0;; ++tries) {
      std::vector<BYTE> before, now;
      List list;
      LONG status = ReadList(key.get(), value, before, list);
      if (status != ERROR_SUCCESS) {
        if (status != ERROR_FILE_NOT_FOUND) unread = status;
        break;
      }
      if (!DropDeletion(list, realPath)) break;
      // Another program may have added to the list since it was read: it is
      // written only as it still is.
      status = ReadBytes(key.get(), value, now);
      if (status != ERROR_SUCCESS || now != before) {
        if (tries < 8) continue;
        error = status != ERROR_SUCCESS ? static_cast<DWORD>(status) : ERROR_RETRY;
        return Withdrawal::kFailed;
      }
      if (list.operations.empty()) {
        status = RegDeleteValueW(key.get(), value);
      } else {
        std::vector<BYTE> data = Format(list);
        status = RegSetValueExW(key.get(), value, 0, REG_MULTI_SZ, data.data(), static_cast<DWORD>(data.size()));
      }
      error = static_cast<DWORD>(status);
      return status == ERROR_SUCCESS ? Withdrawal::kWithdrawn : Withdrawal::kFailed;
    }
  }
  // Not found; a list that could not be read may hold it.
  error = static_cast<DWORD>(unread);
  return unread == ERROR_SUCCESS ? Withdrawal::kAbsent : Withdrawal::kFailed;
}

// ------------------------------------------------------------- holding folders

bool OthersCanRedirect(const std::wstring& path, std::string& why) {
  return journal::OthersCanChangeAbove(PathOf(path), why);
}

namespace {

constexpr wchar_t kHoldingName[] = L"KYDDrvUninst.pending";

// This run's holding folder on the volume of `path`; empty (with the last
// error) when there is none that only Administrators and SYSTEM can change.
std::wstring HoldingFolder(const std::wstring& path) {
  static std::map<std::wstring, std::pair<std::wstring, DWORD>> made;  // volume root: folder, or its error
  wchar_t root[MAX_PATH * 2] = {};
  if (!GetVolumePathNameW(path.c_str(), root, MAX_PATH * 2)) return {};
  std::wstring volume = root;
  if (volume.empty() || volume.back() != L'\\') volume += L'\\';
  auto known = made.find(journal::UpperCase(volume));
  // Made before in this process and still there (a restore that moved
  // everything back out of it removed it).
  if (known != made.end() && (known->second.first.empty() || GetFileAttributesW(known->second.first.c_str()) !=
                                                                   INVALID_FILE_ATTRIBUTES)) {
    SetLastError(known->second.second);
    return known->second.first;
  }
  const std::wstring base = volume + kHoldingName, run = base + L"\\" + journal::NewJournalId();
  DWORD error = journal::CreateProtectedFolder(base);
  if (error == ERROR_ALREADY_EXISTS) {
    error = ERROR_SUCCESS;
    // What earlier runs left empty (their files went at a restart, or came back).
    for (const WIN32_FIND_DATAW& entry : RawEntries(base))
      if (IsFolder(entry.dwFileAttributes)) RemoveDirectoryW((base + L"\\" + entry.cFileName).c_str());
  }
  std::string why;
  if (error == ERROR_SUCCESS && run.size() > base.size() + 1) error = journal::CreateProtectedFolder(run);
  if (error == ERROR_SUCCESS && (journal::OthersCanChange(run, why, journal::Reach::kAbove) ||
                                 journal::OthersCanChangeAbove(run, why))) {
    KLOG(base::LOG_WARNING, "no holding folder on %S: %s", volume.c_str(), why.c_str());
    RemoveDirectoryW(run.c_str());
    error = ERROR_ACCESS_DENIED;
  } else if (error != ERROR_SUCCESS) {
    KLOG(base::LOG_WARNING, "no holding folder on %S: error %lu", volume.c_str(), error);
  }
  made[journal::UpperCase(volume)] = {error == ERROR_SUCCESS ? run : std::wstring(), error};
  SetLastError(error);
  return error == ERROR_SUCCESS ? run : std::wstring();
}

}  // namespace

bool MoveAside(const std::wstring& path, std::wstring& moved) {
  const std::wstring folder = HoldingFolder(path);
  if (folder.empty()) return false;
  static unsigned next = 0;
  const std::wstring name = path.substr(path.find_last_of(L"\\/") + 1);
  for (int tries = 0; tries < 100; ++tries) {
    moved = folder + L"\\" + std::to_wstring(++next) + L"." + name;
    if (MoveFileExW(path.c_str(), moved.c_str(), 0)) return true;
    const DWORD error = GetLastError();
    if (error != ERROR_ALREADY_EXISTS && error != ERROR_FILE_EXISTS) return false;
  }
  return false;
}

}  // namespace kyd::machine::pending
