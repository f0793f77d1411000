// Keeps Windows from searching Windows Update for a driver for the device
// being removed (and so reinstalling it at once).
#pragma once

#include <windows.h>

namespace kyd {

bool CloseAutoUpdateDrv();
bool WriteRegDword(const wchar_t* keyPath, const wchar_t* valueName, const DWORD* data,
                   const DWORD* size, bool is32BitSystem);

}  // namespace kyd
