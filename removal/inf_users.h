// Whether a published INF is still the driver of a device that stays.
#pragma once

#include <string>

namespace kyd {

// The instance ID of a present device whose installed driver came from the
// published INF `infPath` (the InfPath of its driver key names that file),
// or empty when none does. A device that a plan has removed is gone. The
// devices are walked only when some driver key under Control\Class names
// the file (or cannot be read).
std::wstring DeviceUsingInf(const std::wstring& infPath);

// True, with the log line "kept: <inf> is the driver of <instance ID>", when
// a present device's driver is `infPath`: its package must stay.
bool KeptForItsDevice(const std::wstring& infPath);

}  // namespace kyd
