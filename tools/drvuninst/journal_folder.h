// The folders drvuninst hands the library for plans and journals, and the
// files it prints from them.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

namespace drvuninst {

// Makes `folder` and any missing folders above it when it does not exist,
// each with the journal folder's protection (Administrators and SYSTEM);
// ERROR_SUCCESS when something is there by that name afterwards, else the
// Windows error.
DWORD MakeFolderPath(const std::wstring& folder);

// The lines of a UTF-8 file of a journal folder (a plan, a journal, a
// restore report) without their checksums; empty when it cannot be read.
std::wstring JournalFileText(const std::wstring& path);

// The notes of a restore report ("missing: line(s) 3 not in the journal
// ...", "moved: ...", "forgotten: ..."), in the order written.
std::vector<std::wstring> ReportNotes(const std::wstring& path);

// Why the library wrote no journal in `folder`, when the reason is that
// restore would not trust one there (the library's own check, made here
// again): ": <reason>", else a pointer to the log.
std::wstring NotWrittenBecause(bool plan, const std::wstring& folder);
// Why a restore that answered `result` was refused before it began, as the
// library decided it (its own check, made here again); empty when it began.
std::wstring RestoreRefusal(int result, const std::wstring& folder);

// A fresh folder for a plan nobody asked to keep; removed once printed.
class PlanFolder {
 public:
  PlanFolder();
  ~PlanFolder();
  PlanFolder(const PlanFolder&) = delete;
  PlanFolder& operator=(const PlanFolder&) = delete;
  const std::wstring& path() const { return path_; }

 private:
  std::wstring path_;
};

}  // namespace drvuninst
