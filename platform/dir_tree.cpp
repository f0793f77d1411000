#include "platform/dir_tree.h"

#include "platform/machine.h"

namespace kyd {

bool RemoveDirectoryTree(const std::wstring& folder) {
  bool ok = true;
  bool listed = ForEachEntry(folder, [&](const WIN32_FIND_DATAW& entry) {
    std::wstring child = folder + L"\\" + entry.cFileName;
    if (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
      ok = RemoveDirectoryTree(child);
    } else {
      if (entry.dwFileAttributes & FILE_ATTRIBUTE_READONLY)
        machine::ChangeAttributes(child, entry.dwFileAttributes & ~FILE_ATTRIBUTE_READONLY);
      ok = machine::RemoveFile(child) != FALSE;
    }
    return ok;
  });
  if (!listed || !ok) return false;
  return machine::RemoveFolder(folder) != FALSE;
}

}  // namespace kyd
