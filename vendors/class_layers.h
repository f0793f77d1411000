// The two device-class layers between the engine and the vendor cleaners:
// display adapters and sound, video and game controllers. Each adds the
// device removal that the uninstall flow runs before the vendor's deep clean.
#pragma once

#include "engine/base_drv_uninst.h"

namespace kyd {

class CDisplayDrvUninst : public CBaseDrvUninst {
 public:
  ~CDisplayDrvUninst() override;

  // Lists the display devices with the device-console tool and, when the
  // listing holds the hardware ID, removes the devices that carry it. 2 when
  // the tool removed one or asks for a restart, 0 otherwise (never 1).
  virtual int RemoveDisplay(const wchar_t* hardwareId);
};

class CMediaDrvUninst : public CBaseDrvUninst {
 public:
  ~CMediaDrvUninst() override;

  // The same for the media class.
  virtual int RemoveMedia(const wchar_t* hardwareId);
};

}  // namespace kyd
