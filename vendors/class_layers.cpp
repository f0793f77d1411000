#include "vendors/class_layers.h"

namespace kyd {

// Device removal through the device-console tool is not built yet.
int CDisplayDrvUninst::RemoveDisplay(const wchar_t*) { return 0; }
int CMediaDrvUninst::RemoveMedia(const wchar_t*) { return 0; }

}  // namespace kyd
