#include "vendors/cleaner_factory.h"

#include <new>

#include "platform/find_str.h"
#include "vendors/amd_display.h"
#include "vendors/intel_display.h"
#include "vendors/realtek_media.h"
#include "vendors/nvidia_display.h"

namespace kyd {
namespace {

// Display vendors in the order they are tested; the first hit decides. A
// vendor whose cleaner is not built yet has no maker.
struct DisplayVendor {
  const wchar_t* part;
  std::unique_ptr<CDisplayDrvUninst> (*make)();
};

template <class Cleaner>
std::unique_ptr<CDisplayDrvUninst> Make() {
  return std::unique_ptr<CDisplayDrvUninst>(new (std::nothrow) Cleaner());
}

const DisplayVendor kDisplayVendors[] = {
    {L"VEN_10DE", Make<CNVDisplayDrvUninst>},    // NVIDIA
    {L"VEN_8086", Make<CIntelDisplayDrvUninst>},  // Intel
    {L"VEN_1002", Make<CAMDDisplayDrvUninst>},    // AMD
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
  return std::unique_ptr<CMediaDrvUninst>(new (std::nothrow) CRAMediaDrvUninst());
}

}  // namespace kyd
