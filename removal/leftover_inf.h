// Deletes the oem*.inf copies (with their PNF) that still name a device.
#pragma once

#include <string>
#include <vector>

namespace kyd {

// The part of a hardware ID an INF must mention: through the four characters
// after "DEV_" (or "PID_"), else the whole ID.
std::wstring LeftoverInfKey(const wchar_t* hardwareId);

// Full paths of the oem*.inf files in the INF folder whose text holds the
// key as an ID (any case, encoding by byte-order mark; not followed by a
// letter, digit or underscore, so "USB\ROOT_HUB" does not name the INF of
// "USB\ROOT_HUB30"), all listed before the caller touches any of them.
std::vector<std::wstring> OemInfsNaming(const std::wstring& key);

// Deletes an INF and its precompiled twin (oem12.inf, oem12.PNF).
void DeleteInfAndPnf(const std::wstring& infPath);

void DeleteLeftoverInf(const wchar_t* hardwareId);

}  // namespace kyd
