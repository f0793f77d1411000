#include "vendors/cleaner_factory.h"

#include <new>

#include "platform/find_str.h"
#include "vendors/nvidia_display.h"

namespace kyd {
namespace {

// A new cleaner of the vendor's class; null when it cannot be allocated, so
// that the device takes the road of a vendor without a cleaner.
template <class Cleaner>
std::unique_ptr<CDisplayDrvUninst> MakeDisplayCleaner() {
  return std::unique_ptr<CDisplayDrvUninst>(new (std::nothrow) Cleaner);
}

// Display vendors in the order they are tested; the first hit decides. A
// vendor whose cleaner is not built yet has no maker.
struct DisplayVendor {
  const wchar_t* part;
  std::unique_ptr<CDisplayDrvUninst> (*make)();
};

const DisplayVendor kDisplayVendors[] = {
    {L"VEN_10DE", &MakeDisplayCleaner<CNVDisplayDrvUninst>},  // NVIDIA
    {L"VEN_8086", nullptr},  // Intel
    {L"VEN_1002", nullptr},  // AMD
};

}  // namespace

std::unique_ptr<CDisplayDrvUninst> CreateDisplayDrvUninst(const wchar_t* hardwareId) {
  for (const DisplayVendor& vendor : kDisplayVendors) {
    if (!SafeStrStrIW(hardwareId, vendor.part)) continue;
    return vendor.make ? vendor.make() : nullptr;
  }
  return nullptr;
}

std::unique_ptr<CMediaDrvUninst> CreateMediaDrvUninst() {
  return nullptr;  // the Realtek audio cleaner is not built yet
}

}  // namespace kyd
