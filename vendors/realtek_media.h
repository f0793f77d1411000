// The Realtek audio cleaner: removes Realtek AC'97 and High Definition Audio
// drivers with what their installers leave behind (sound manager, control
// panel, effects service, HDMI audio, Dolby Home Theater). The device itself
// is removed by the media layer's device-console removal.
#pragma once

#include "vendors/class_layers.h"
#include "vendors/deep_clean.h"

namespace kyd {

class CRAMediaDrvUninst final : public CVendorDrvUninst<CMediaDrvUninst> {
 public:
  CRAMediaDrvUninst();

 protected:
  void CleanRegistry() override;
  void CleanFiles() override;
};

}  // namespace kyd
