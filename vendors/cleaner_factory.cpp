#include "vendors/cleaner_factory.h"

#include <new>

#include "platform/find_str.h"

namespace kyd {
namespace {

// Display vendors in the order they are tested; the first hit decides. A
// vendor whose cleaner is not built yet has no maker.
struct DisplayVendor {
  const wchar_t* part;
  std::unique_ptr<CDisplayDrvUninst> (*make)();
};

const DisplayVendor kDisplayVendors[] = {
    {L"VEN_10DE", nullptr},  // NVIDIA
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
