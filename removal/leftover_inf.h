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

// Windows Vista and later keep every published INF as a package in the
// driver store; Windows XP and Server 2003 only have the INF folder.
bool HasDriverStore();

// A published INF removed the way Windows knows it: as a driver package
// (SetupUninstallOEMInfW, not forced, so Windows refuses a package a device
// is installed from; its store folder and registration with it) where
// there is a driver store, else its INF and PNF deleted. A PNF the package
// removal leaves goes too. True when the package or its files went.
bool RemovePublishedInf(const std::wstring& infPath);

// The published INFs still naming the device go, except those a present
// device's driver comes from (KeptForItsDevice). Where a driver store holds
// them on 64-bit Windows, drv64.exe "kydleftover" does it (package removal
// belongs to 64-bit processes there); DeleteLeftoverInfHere is its part.
void DeleteLeftoverInf(const wchar_t* hardwareId);
void DeleteLeftoverInfHere(const wchar_t* hardwareId);

}  // namespace kyd
