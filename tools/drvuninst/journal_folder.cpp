#include "tools/drvuninst/journal_folder.h"

#include "machine/journal.h"
#include "machine/machine.h"
#include "machine/seal.h"

namespace drvuninst {

DWORD MakeFolderPath(const std::wstring& folder) {
  // What is there already, folder or not, is the library's to judge.
  if (GetFileAttributesW(folder.c_str()) != INVALID_FILE_ATTRIBUTES) return ERROR_SUCCESS;
  // The parent first, unless this is a root ("C:", "\\server\share").
  size_t slash = folder.find_last_of(L"\\/");
  if (slash != std::wstring::npos && slash > 0 && folder[slash - 1] != L':' && folder[slash - 1] != L'\\') {
    DWORD parent = MakeFolderPath(folder.substr(0, slash));
    if (parent != ERROR_SUCCESS) return parent;
  }
  if (slash + 1 == folder.size()) return ERROR_SUCCESS;  // "C:\x\": the parent was the folder
  // Made as the journal folder will be protected: a folder above a journal
  // that others could change would let them put other bytes in its way.
  const DWORD error = kyd::machine::journal::CreateProtectedFolder(folder);
  return error == ERROR_ALREADY_EXISTS ? ERROR_SUCCESS : error;
}

std::wstring JournalFileText(const std::wstring& path) {
  namespace journal = kyd::machine::journal;
  std::string bytes;
  if (!journal::ReadWholeFile(path, bytes)) return {};
  std::wstring out;
  for (const std::string& text : journal::TextLines(bytes)) {
    std::wstring line = journal::FromUtf8(text);
    size_t mark = line.rfind(L"\t~");
    if (mark != std::wstring::npos && line.size() == mark + 10) line.resize(mark);
    out += line + L"\n";
  }
  return out;
}

std::vector<std::wstring> ReportNotes(const std::wstring& path) {
  namespace journal = kyd::machine::journal;
  std::string bytes;
  std::vector<std::wstring> notes;
  if (!journal::ReadWholeFile(path, bytes)) return notes;
  for (const std::string& text : journal::TextLines(bytes)) {
    const size_t tab = text.find('\t');
    if (text.rfind("# ", 0) != 0 || tab == std::string::npos) continue;
    std::wstring note;
    journal::Unescape(journal::FromUtf8(text.substr(2, tab - 2) + ": " + text.substr(tab + 1)), note);
    notes.push_back(note);
  }
  return notes;
}

std::wstring NotWrittenBecause(bool plan, const std::wstring& folder) {
  namespace journal = kyd::machine::journal;
  const std::string why = plan ? std::string() : journal::OthersCouldChange(journal::FullFolder(folder));
  return why.empty() ? L" (--log tells why)" : L": " + journal::FromUtf8(why);
}

std::wstring RestoreRefusal(int result, const std::wstring& folder) {
  namespace journal = kyd::machine::journal;
  if (result != kyd::machine::kRestoreNothing) return {};
  journal::Manifest manifest;
  journal::Seal seal;
  std::string refusal;
  return journal::AdmitJournal(journal::FullFolder(folder), manifest, seal, refusal) ? std::wstring()
                                                                                    : journal::FromUtf8(refusal);
}

PlanFolder::PlanFolder() {
  wchar_t temp[MAX_PATH] = {};
  GetTempPathW(MAX_PATH, temp);
  std::wstring folder = std::wstring(temp) + L"drvuninst-plan-" + std::to_wstring(GetCurrentProcessId()) + L"-" +
                        std::to_wstring(GetTickCount());
  if (CreateDirectoryW(folder.c_str(), nullptr)) path_ = folder;
}

PlanFolder::~PlanFolder() {
  if (path_.empty()) return;
  DeleteFileW((path_ + L"\\manifest.txt").c_str());
  RemoveDirectoryW(path_.c_str());
}

}  // namespace drvuninst
