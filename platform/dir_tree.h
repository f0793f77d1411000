// Silent removal of a folder and everything below it.
#pragma once

#include <string>

namespace kyd {

// The walk every folder sweep shares: calls visit(name, findData) for each
// entry of folder\*.* except "." and ".."; visit returns false to stop.
// Returns false when the listing cannot be started.
template <typename Visit>
bool ForEachEntry(const std::wstring& folder, Visit visit);

// Deletes folder (no trailing backslash) with all its files and subfolders;
// read-only files are made writable first. Stops at the first entry that
// cannot be deleted and returns false; nothing is logged.
bool RemoveDirectoryTree(const std::wstring& folder);

}  // namespace kyd

#include "platform/dir_tree_inl.h"
