// The Intel display cleaner: removes what the Intel graphics driver package
// and its companions (graphics control panel, tray and hot-key programs,
// wireless display, OpenCL and media SDK runtimes) leave behind. The device
// itself is removed by the display layer's device-console removal.
#pragma once

#include "vendors/class_layers.h"
#include "vendors/deep_clean.h"

namespace kyd {

class CIntelDisplayDrvUninst final : public CVendorDrvUninst<CDisplayDrvUninst> {
 public:
  CIntelDisplayDrvUninst();

 protected:
  void CleanRegistry() override;
  void CleanFiles() override;
};

}  // namespace kyd
