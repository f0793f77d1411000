#include "machine/dir_tree.h"

#include <objbase.h>
#include <sddl.h>

#include "machine/machine.h"

namespace kyd {

bool IsFolder(const WIN32_FIND_DATAW& entry) {
  return (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

bool IsFolderLink(const WIN32_FIND_DATAW& entry) {
  return IsFolder(entry) && (entry.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
}

void ClearReadOnly(const std::wstring& path, const WIN32_FIND_DATAW& entry) {
  if (entry.dwFileAttributes & FILE_ATTRIBUTE_READONLY)
    machine::ChangeAttributes(path, entry.dwFileAttributes & ~FILE_ATTRIBUTE_READONLY);
}

bool RemoveDirectoryTree(const std::wstring& folder) {
  // What the running system holds goes at the next restart, and the folders
  // that hold it follow.
  auto removeFile = [](const std::wstring& path, const WIN32_FIND_DATAW& entry) {
    ClearReadOnly(path, entry);
    const machine::Removal removal = machine::RemoveFileOrSchedule(path);
    return removal == machine::Removal::kGone || removal == machine::Removal::kAtRestart;
  };
  auto removeFolder = [](const std::wstring& path) {
    const machine::Removal removal = machine::RemoveFolderOrSchedule(path);
    return removal == machine::Removal::kGone || removal == machine::Removal::kAtRestart;
  };
  return RemoveTree(folder, removeFile, removeFolder);
}

std::wstring CreatePrivateFolder(const std::wstring& parent) {
  // Full control for administrators and SYSTEM, inherited by what is created
  // inside; nothing from the parent (P: protected), so nobody else gets in.
  UniqueLocal descriptor;
  if (!ConvertStringSecurityDescriptorToSecurityDescriptorW(
          L"D:P(A;OICI;FA;;;BA)(A;OICI;FA;;;SY)", SDDL_REVISION_1,
          reinterpret_cast<PSECURITY_DESCRIPTOR*>(descriptor.put()), nullptr))
    return {};
  SECURITY_ATTRIBUTES attributes{};
  attributes.nLength = sizeof attributes;
  attributes.lpSecurityDescriptor = descriptor.get();
  for (int attempt = 0; attempt < 4; ++attempt) {
    GUID guid;
    wchar_t text[40] = {};
    if (CoCreateGuid(&guid) != S_OK || StringFromGUID2(guid, text, 40) != 39) return {};
    text[37] = L'\0';  // the closing brace
    std::wstring folder = parent + L"\\kyd" + (text + 1);
    // Fails when anything at all is there already, a link included.
    if (CreateDirectoryW(folder.c_str(), &attributes)) return folder;
    if (GetLastError() != ERROR_ALREADY_EXISTS) return {};
  }
  return {};
}

}  // namespace kyd
