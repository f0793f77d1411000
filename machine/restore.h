// Private to restore (restore.cpp, restore_files.cpp, restore_paths.cpp):
// what one change's restore reports, the journal being restored, and the
// restore of files, folders and driver packages.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

#include "machine/journal.h"
#include "machine/seal.h"

namespace kyd::machine::restoring {

enum class Outcome { kRestored, kPresent, kNotRestorable, kNotChanged, kLeft, kDamaged, kRefused, kFailed };

const wchar_t* OutcomeName(Outcome outcome);

// Several items of one change: the worst outcome stands for all.
inline Outcome Worse(Outcome a, Outcome b) { return static_cast<int>(a) >= static_cast<int>(b) ? a : b; }

struct Result {
  Outcome outcome;
  std::wstring detail;
};

// The journal being restored: where it is and the seal its lines and
// material must carry.
struct Journal {
  std::wstring folder;
  journal::Seal seal;
};

// The line's material, read whole and checked against the line's seal.
bool LoadMaterial(const Journal& j, const journal::Line& line, const wchar_t* file, std::string& bytes);

// delete-file, remove-folder, delete-inf: the line's saved file set.
Result RestoreItems(const Journal& j, const journal::Line& line);
// A removed driver package (or the one a program run removed), `infPath`
// being its published INF.
Result RestorePackage(const Journal& j, const journal::Line& line, const std::wstring& infPath);
Result RestoreAttributes(const journal::Line& line);

}  // namespace kyd::machine::restoring
