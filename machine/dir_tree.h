// Silent removal of a folder and everything below it, and the walks that
// every folder sweep shares.
#pragma once

#include <windows.h>

#include <string>

namespace kyd {

// The walk every folder sweep shares: calls visit(findData) for each entry of
// folder\*.* except "." and ".."; visit returns false to stop. Returns false
// when the listing cannot be started.
template <typename Visit>
bool ForEachEntry(const std::wstring& folder, Visit visit);

bool IsFolder(const WIN32_FIND_DATAW& entry);
// A junction or a symbolic link to a folder: removed itself, never walked, so
// that a tree removal cannot reach the folder it points to (profiles carry
// such links, some pointing at themselves; one left in a package folder could
// point anywhere).
bool IsFolderLink(const WIN32_FIND_DATAW& entry);

// Clears the read-only attribute of a listed file, so that it can be deleted.
void ClearReadOnly(const std::wstring& path, const WIN32_FIND_DATAW& entry);

// The tree removal both removals share. Each file goes to
// removeFile(path, findData); each folder link, without being walked, to
// removeFolder(path); each real subfolder is removed the same way, and last
// removeFolder(folder) takes the folder itself. A folder that is itself a
// link only goes to removeFolder. Stops at the first callback that answers
// false and returns false; false too when the folder cannot be listed.
template <typename RemoveFile, typename RemoveFolder>
bool RemoveTree(const std::wstring& folder, RemoveFile& removeFile, RemoveFolder& removeFolder);

// Deletes folder (no trailing backslash) with all its files and subfolders;
// read-only files are made writable first, links are removed as links. A
// file in use, and then the folders that hold it, go at the next restart
// (machine::RemoveFileOrSchedule). Stops at the first entry that can go
// neither now nor then and returns false; nothing is logged.
bool RemoveDirectoryTree(const std::wstring& folder);

// Creates a new folder with a name that cannot be guessed inside `parent`
// (no trailing backslash), which only administrators and SYSTEM may open, and
// answers its path; empty when no folder could be created. A name that
// exists already is never reused.
std::wstring CreatePrivateFolder(const std::wstring& parent);

}  // namespace kyd

#include "machine/dir_tree_inl.h"
