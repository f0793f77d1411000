// The cleaning engine: the object every vendor cleaner is built on.
#pragma once

#include <windows.h>

namespace kyd {

class CBaseDrvUninst {
 public:
  CBaseDrvUninst();
  virtual ~CBaseDrvUninst();
  CBaseDrvUninst(const CBaseDrvUninst&) = delete;
  CBaseDrvUninst& operator=(const CBaseDrvUninst&) = delete;

  // The vendor's deep clean; the engine itself cleans nothing.
  virtual void DeepClean(int keepDevice, const wchar_t* hardwareId);

 protected:
  BOOL isWow64 = FALSE;
};

}  // namespace kyd
