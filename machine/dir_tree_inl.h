#pragma once

#include <windows.h>

#include "machine/machine.h"
#include "platform/handle.h"

namespace kyd {

template <typename Visit>
bool ForEachEntry(const std::wstring& folder, Visit visit) {
  WIN32_FIND_DATAW data;
  UniqueFind search(FindFirstFileW((folder + L"\\*.*").c_str(), &data));
  if (!search) return false;
  do {
    if (data.cFileName[0] == L'.' &&
        (data.cFileName[1] == L'\0' || (data.cFileName[1] == L'.' && data.cFileName[2] == L'\0')))
      continue;
    if (!machine::Listed(folder, data)) continue;  // gone in a plan
    if (!visit(static_cast<const WIN32_FIND_DATAW&>(data))) break;
  } while (FindNextFileW(search.get(), &data));
  return true;
}

template <typename RemoveFile, typename RemoveFolder>
bool RemoveTree(const std::wstring& folder, RemoveFile& removeFile, RemoveFolder& removeFolder) {
  const DWORD linkBits = FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT;
  DWORD attributes = machine::Attributes(folder);  // as a plan has left it
  if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & linkBits) == linkBits)
    return removeFolder(folder);
  bool going = true;
  bool listed = ForEachEntry(folder, [&](const WIN32_FIND_DATAW& entry) {
    std::wstring path = folder + L"\\" + entry.cFileName;
    if (IsFolderLink(entry)) going = removeFolder(path);
    else if (IsFolder(entry)) going = RemoveTree(path, removeFile, removeFolder);
    else going = removeFile(path, entry);
    return going;
  });
  if (!listed || !going) return false;
  return removeFolder(folder);
}

}  // namespace kyd
