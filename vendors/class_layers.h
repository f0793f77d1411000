// The two device-class layers between the engine and the vendor cleaners.
#pragma once

#include "engine/base_drv_uninst.h"

namespace kyd {

class CDisplayDrvUninst : public CBaseDrvUninst {
 public:
  // 0 when the device was not removed, 2 when it was.
  virtual int RemoveDisplay(const wchar_t* hardwareId);
};

class CMediaDrvUninst : public CBaseDrvUninst {
 public:
  virtual int RemoveMedia(const wchar_t* hardwareId);
};

}  // namespace kyd
