// Where restore may write: the folders on the way to a saved item must lead
// where they led when it was saved. Someone who could change a folder on
// that way since (a vendor folder users may modify, a profile) could
// otherwise put a link there and have the administrator's restore write the
// saved bytes into a folder of their choosing.
#include <windows.h>

#include "machine/machine.h"
#include "machine/restore.h"

namespace kyd::machine {

namespace journal {

namespace {

using FinalPathFn = DWORD(WINAPI*)(HANDLE, LPWSTR, DWORD, DWORD);

// Windows Vista on; Windows XP has no way to ask.
FinalPathFn FinalPathFunction() {
  static const auto function = reinterpret_cast<FinalPathFn>(reinterpret_cast<void*>(
      GetProcAddress(GetModuleHandleW(L"kernel32.dll"), "GetFinalPathNameByHandleW")));
  return function;
}

bool IsFolderLink(DWORD attributes) {
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) &&
         (attributes & FILE_ATTRIBUTE_REPARSE_POINT);
}

}  // namespace

bool CanTellFinalPaths() { return FinalPathFunction() != nullptr; }

bool FinalPathOf(HANDLE folder, std::wstring& path) {
  path.clear();
  const FinalPathFn function = FinalPathFunction();
  if (!function) return false;
  std::vector<wchar_t> buffer(MAX_PATH);
  for (int tries = 0; tries < 2; ++tries) {
    const DWORD length = function(folder, buffer.data(), static_cast<DWORD>(buffer.size()), 0);
    if (length == 0) return false;
    if (length < buffer.size()) {
      path.assign(buffer.data(), length);
      break;
    }
    buffer.resize(length + 1);
  }
  if (path.rfind(L"\\\\?\\UNC\\", 0) == 0) path = L"\\" + path.substr(7);
  else if (path.rfind(L"\\\\?\\", 0) == 0) path = path.substr(4);
  return !path.empty();
}

std::vector<std::wstring> FoldersOnTheWay(const std::wstring& path) {
  // The root: "C:\", "\\server\share"; what follows, one folder at a time.
  size_t rootEnd = std::wstring::npos;
  if (path.size() >= 3 && path[1] == L':' && path[2] == L'\\') {
    rootEnd = 3;
  } else if (path.rfind(L"\\\\", 0) == 0 && path.rfind(L"\\\\?\\", 0) != 0) {
    const size_t share = path.find(L'\\', 2);
    rootEnd = share == std::wstring::npos ? share : path.find(L'\\', share + 1);
  }
  std::vector<std::wstring> folders;
  if (rootEnd == std::wstring::npos || rootEnd >= path.size()) return folders;
  folders.push_back(path.substr(0, rootEnd));
  for (size_t slash = path.find(L'\\', rootEnd + 1); slash != std::wstring::npos; slash = path.find(L'\\', slash + 1))
    folders.push_back(path.substr(0, slash));
  return folders;
}

void AddLinksAbove(const std::wstring& path, std::vector<SavedLink>& links) {
  for (const std::wstring& folder : FoldersOnTheWay(path)) {
    if (!IsFolderLink(GetFileAttributesW(folder.c_str()))) continue;
    bool known = false;
    for (const SavedLink& link : links) known = known || UpperCase(link.path) == UpperCase(folder);
    if (known) continue;
    SavedLink link{folder, {}};
    UniqueFile handle(CreateFileW(folder.c_str(), FILE_READ_ATTRIBUTES,
                                  FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                                  FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    if (handle) FinalPathOf(handle.get(), link.leadsTo);
    links.push_back(link);
  }
}

}  // namespace journal

namespace restoring {

namespace {

bool SamePath(const std::wstring& a, const std::wstring& b) { return journal::UpperCase(a) == journal::UpperCase(b); }

// Whether `inner` is `outer` or lies below it.
bool Within(const std::wstring& inner, const std::wstring& outer) {
  return SamePath(inner, outer) || (inner.size() > outer.size() && SamePath(inner.substr(0, outer.size()), outer) &&
                                    (inner[outer.size()] == L'\\' || outer.back() == L'\\'));
}

}  // namespace

CheckedWay::CheckedWay(const std::wstring& item, const std::vector<journal::SavedLink>& links) {
  const std::vector<std::wstring> folders = journal::FoldersOnTheWay(item);
  if (folders.empty()) {
    error_ = ERROR_BAD_PATHNAME;
    return;
  }
  for (const std::wstring& folder : folders) {
    // Made where missing; what is then there is checked like anything found.
    if (GetFileAttributesW(folder.c_str()) == INVALID_FILE_ATTRIBUTES && !CreateDirectoryW(folder.c_str(), nullptr) &&
        GetLastError() != ERROR_ALREADY_EXISTS) {
      error_ = GetLastError();
      return;
    }
    if (!Check(folder, links)) return;
  }
  ok_ = true;
}

bool CheckedWay::Check(const std::wstring& folder, const std::vector<journal::SavedLink>& links) {
  // Held open without delete sharing until the item is written: nobody can
  // rename or delete the folder, or put a link in its place, meanwhile.
  UniqueFile handle(CreateFileW(folder.c_str(), FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
  if (!handle) {
    error_ = GetLastError();
    return false;
  }
  const DWORD attributes = GetFileAttributesW(folder.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES || !(attributes & FILE_ATTRIBUTE_DIRECTORY)) {
    error_ = attributes == INVALID_FILE_ATTRIBUTES ? GetLastError() : ERROR_DIRECTORY;
    return false;
  }
  // Where it must lead: below the innermost link the item had on its way,
  // where that link led then; else to itself.
  const journal::SavedLink* through = nullptr;
  for (const journal::SavedLink& link : links)
    if (Within(folder, link.path) && (!through || link.path.size() > through->path.size())) through = &link;
  const bool wasLink = through && SamePath(through->path, folder);
  if ((attributes & FILE_ATTRIBUTE_REPARSE_POINT) && !wasLink) {
    elsewhere_ = folder;
    return false;
  }
  std::wstring final;
  if (journal::CanTellFinalPaths() && !journal::FinalPathOf(handle.get(), final)) {
    error_ = GetLastError();
    return false;
  }
  if (!final.empty()) {
    std::wstring expected = folder;
    if (through) expected = through->leadsTo.empty() ? L"" : through->leadsTo + folder.substr(through->path.size());
    wchar_t longName[MAX_PATH * 2] = {};
    const DWORD length = GetLongPathNameW(expected.c_str(), longName, MAX_PATH * 2);
    const std::wstring longer = length > 0 && length < MAX_PATH * 2 ? longName : expected;
    // A 32-bit program's System32 is SysWOW64 to the file system.
    if (!expected.empty() && !SamePath(final, expected) && !SamePath(final, longer) &&
        !SamePath(final, RealPath(longer))) {
      elsewhere_ = folder;
      return false;
    }
  }
  held_.push_back(std::move(handle));
  return true;
}

}  // namespace restoring

}  // namespace kyd::machine
