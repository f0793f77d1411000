#include "removal/leftover_inf.h"

#include <windows.h>

#include "interface/base_log.h"
#include "platform/env.h"
#include "platform/find_str.h"
#include "platform/handle.h"

namespace kyd {
namespace {
constexpr char kLogUnit[] = "KYDRemoveDriver";
}

std::wstring LeftoverInfKey(const wchar_t* hardwareId) {
  std::wstring id = hardwareId ? hardwareId : L"";
  size_t at = id.find(L"DEV_");
  if (at == std::wstring::npos) at = id.find(L"PID_");
  if (at != std::wstring::npos && id.size() > at + 8) return id.substr(0, at + 8);
  return id;
}

void DeleteLeftoverInf(const wchar_t* hardwareId) {
  if (!hardwareId) return;
  std::wstring key = LeftoverInfKey(hardwareId);
  if (key.empty()) return;
  std::wstring folder = GetInfDir();
  if (folder.empty()) return;
  folder += L'\\';
  WIN32_FIND_DATAW entry;
  UniqueFind search(FindFirstFileW((folder + L"oem*.inf").c_str(), &entry));
  if (!search) return;
  CFindStrFormFile finder;
  do {
    if (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) continue;  // ".", ".." too
    std::wstring path = folder + entry.cFileName;
    if (!finder.FindInFile(path.c_str(), key.c_str())) continue;
    KLOG(base::LOG_INFO, "%S delete inf file:%S\r\n", key.c_str(), path.c_str());
    DeleteFileW(path.c_str());
    std::wstring pnf = path.substr(0, path.size() - 3) + L"PNF";
    DeleteFileW(pnf.c_str());
  } while (FindNextFileW(search.get(), &entry));
}

}  // namespace kyd
