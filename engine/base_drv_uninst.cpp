#include "engine/base_drv_uninst.h"

#include "platform/env.h"

namespace kyd {

CBaseDrvUninst::CBaseDrvUninst() : isWow64(IsWow64()) {}

CBaseDrvUninst::~CBaseDrvUninst() = default;

void CBaseDrvUninst::DeepClean(int, const wchar_t*) {}

}  // namespace kyd
