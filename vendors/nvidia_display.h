// The cleaner for NVIDIA display adapters: the display driver package and
// its companions (control panel, GeForce Experience and ShadowPlay, streaming
// for SHIELD, 3D Vision, PhysX, the update service).
#pragma once

#include "vendors/class_layers.h"
#include "vendors/deep_clean.h"

namespace kyd {

class CNVDisplayDrvUninst final : public CVendorDrvUninst<CDisplayDrvUninst> {
 public:
  CNVDisplayDrvUninst();

 protected:
  void CleanRegistry() override;
  void CleanFiles() override;
};

}  // namespace kyd
