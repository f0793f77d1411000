// The Realtek audio driver packages' names (AC'97 and High Definition
// Audio): the built-in tables of the Realtek audio cleaner, in the order the
// packages are taken apart. Plain arrays, built before any export can be
// called and only read.
#pragma once

#include "vendors/deep_clean.h"

namespace kyd {

// The audio effects service and its filters.
extern const wchar_t* const kRealtekServices[3];

// Every program the packages start, each ended by its whole name: the audio
// managers and their tray, update, microphone calibration, jack detection and
// Dolby Home Theater helpers. Some names occur twice; rundll32.exe hosts the
// sound manager applet, whoever started it.
extern const wchar_t* const kRealtekProcesses[41];

// Files the packages put into the system folders: the programs among them are
// ended first, then all are deleted (some names occur twice).
extern const wchar_t* const kRealtekFiles[48];

// The kernel drivers, AC'97 and HD audio: they go only when the device goes.
extern const wchar_t* const kRealtekDriverFiles[7];

// Machine keys of the control panel, the installer and the effects, and the
// packages' uninstall entries (one listed twice in another letter case).
extern const wchar_t* const kRealtekMachineKeys[8];

// Keys deleted below HKEY_CURRENT_USER, taken as they stand: the start menu
// order and volume control keys, and the control panel API's COM classes.
// Some of these paths name nothing below a user's key (the classes live under
// HKEY_CLASSES_ROOT); deleting them then does nothing.
extern const wchar_t* const kRealtekUserKeys[8];

// Node and pin names the packages' INFs register under
// Control\MediaCategories, compared whole without regard to case. Each group
// of rows says where it comes from; a row added changes the count here.
extern const wchar_t* const kRealtekMediaCategories[84];

// Device keys under Enum\HDAUDIO of the controllers and functions the
// packages drive, compared whole without regard to case; as above.
extern const wchar_t* const kRealtekAudioControllers[9];

// The provider the audio class driver keys name, and the HD audio package's
// display name among the installed programs (both matched as fragments).
extern const wchar_t* const kRealtekProvider[1];
extern const wchar_t* const kRealtekProduct[1];

// What the deep-clean frame needs: services, files, programs, kernel drivers.
extern const VendorTables kRealtekVendorTables;

}  // namespace kyd
