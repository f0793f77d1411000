#include "platform/dir_tree.h"

namespace kyd {

bool RemoveDirectoryTree(const std::wstring& folder) {
  bool ok = true;
  bool listed = ForEachEntry(folder, [&](const WIN32_FIND_DATAW& entry) {
    std::wstring child = folder + L"\\" + entry.cFileName;
    if (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
      ok = RemoveDirectoryTree(child);
    } else {
      if (entry.dwFileAttributes & FILE_ATTRIBUTE_READONLY)
        SetFileAttributesW(child.c_str(), entry.dwFileAttributes & ~FILE_ATTRIBUTE_READONLY);
      ok = DeleteFileW(child.c_str()) != FALSE;
    }
    return ok;
  });
  if (!listed || !ok) return false;
  return RemoveDirectoryW(folder.c_str()) != FALSE;
}

}  // namespace kyd
