#pragma once

#include <windows.h>

#include "platform/handle.h"
#include "platform/machine.h"

namespace kyd {

template <typename Visit>
bool ForEachEntry(const std::wstring& folder, Visit visit) {
  WIN32_FIND_DATAW data;
  UniqueFind search(FindFirstFileW((folder + L"\\*.*").c_str(), &data));
  if (!search) return false;
  do {
    if (data.cFileName[0] == L'.' &&
        (data.cFileName[1] == L'\0' || (data.cFileName[1] == L'.' && data.cFileName[2] == L'\0')))
      continue;
    if (!machine::Listed(folder, data)) continue;  // gone in a plan
    if (!visit(static_cast<const WIN32_FIND_DATAW&>(data))) break;
  } while (FindNextFileW(search.get(), &data));
  return true;
}

}  // namespace kyd
