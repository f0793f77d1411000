// Picks the vendor cleaner for a device; null when the vendor has none.
#pragma once

#include <memory>

#include "vendors/class_layers.h"

namespace kyd {

std::unique_ptr<CDisplayDrvUninst> CreateDisplayDrvUninst(const wchar_t* hardwareId);
std::unique_ptr<CMediaDrvUninst> CreateMediaDrvUninst();

}  // namespace kyd
