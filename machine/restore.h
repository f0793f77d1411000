// Private to restore (restore.cpp, restore_files.cpp, restore_paths.cpp):
// what one change's restore reports, the journal being restored, and the
// restore of files, folders and driver packages.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

#include "machine/journal.h"
#include "machine/seal.h"
#include "platform/handle.h"

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

// The folders on the way to a saved item, checked from the root down before
// the item is written: none is a folder link unless it was one when the item
// was saved (`links`), and each leads where it led then (its final path is
// the one expected; where Windows cannot tell, as on XP, the link check
// alone). Missing folders are made one at a time, each checked alike. The
// checked folders are held open while the object lives, so that none can be
// renamed, deleted or replaced before the item is written.
class CheckedWay {
 public:
  CheckedWay(const std::wstring& item, const std::vector<journal::SavedLink>& links);
  CheckedWay(const CheckedWay&) = delete;
  CheckedWay& operator=(const CheckedWay&) = delete;
  bool ok() const { return ok_; }
  // When not ok: the folder that now leads elsewhere, or else the error.
  const std::wstring& elsewhere() const { return elsewhere_; }
  DWORD error() const { return error_; }

 private:
  bool Check(const std::wstring& folder, const std::vector<journal::SavedLink>& links);

  std::vector<UniqueFile> held_;
  std::wstring elsewhere_;
  DWORD error_ = ERROR_SUCCESS;
  bool ok_ = false;
};

}  // namespace kyd::machine::restoring
