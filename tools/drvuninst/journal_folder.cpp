#include "tools/drvuninst/journal_folder.h"

#include "machine/journal.h"

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
  if (CreateDirectoryW(folder.c_str(), nullptr) || GetLastError() == ERROR_ALREADY_EXISTS) return ERROR_SUCCESS;
  return GetLastError();
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
