// Deletes the oem*.inf copies (with their PNF) that still name a device.
#pragma once

#include <string>

namespace kyd {

// The part of a hardware ID an INF must mention: through the four characters
// after "DEV_" (or "PID_"), else the whole ID.
std::wstring LeftoverInfKey(const wchar_t* hardwareId);

void DeleteLeftoverInf(const wchar_t* hardwareId);

}  // namespace kyd
