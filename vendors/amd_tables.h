// Built-in name tables of the AMD (formerly ATI) display cleaner, in the
// order the cleaner uses them. Read-only for the life of the library.
#pragma once

namespace kyd::amd {

// The driver package's files and the programs of the Catalyst suite: the
// programs among them are ended, all are deleted from the system folders.
// The package lists some names twice; so does this table.
extern const wchar_t* const kFileTable[226];

// Kernel-mode drivers: the display miniport, the HDMI audio and the
// platform helpers. They go only when the device goes with them.
extern const wchar_t* const kDriverTable[18];

// Services of the driver and the Catalyst suite.
extern const wchar_t* const kServices[23];

// Tray tools, the Catalyst Control Center host and its helpers.
extern const wchar_t* const kPrograms[15];

// Program IDs of the Catalyst control panel, its COM clone control and
// the wireless display tool.
extern const wchar_t* const kProgIdFragments[4];

// Interfaces of the control panel pages, Steady Video and the wireless
// display tool.
extern const wchar_t* const kInterfaceFragments[10];

// Classes of the control panel, the transcoder, the ACE framework,
// Steady Video and the audio processing object.
extern const wchar_t* const kClassFragments[8];

// DirectShow filter instances registered by the multimedia components.
extern const wchar_t* const kInstanceFriendlyNames[7];

// Audio compression managers registered as classes.
extern const wchar_t* const kClassServerFragments[2];

// Descriptions of the approved shell extensions of the control panel.
extern const wchar_t* const kApprovedShellExtensions[2];

// Components recorded by the Catalyst install manager.
extern const wchar_t* const kInstallSubkeys[9];

// The same for the 32-bit install records on 64-bit Windows.
extern const wchar_t* const kInstallSubkeys32[10];

// Display names of the suite's installed products.
extern const wchar_t* const kProductNames[16];

// Shared-DLL counts of the suite's libraries.
extern const wchar_t* const kSharedDllFragments[12];

// Folders Windows Installer keeps for the suite's products.
extern const wchar_t* const kInstallerFolderFragments[8];

// 32-bit classes of the wireless display tool, the transcoder and Steady
// Video.
extern const wchar_t* const kClassNames32[5];

}  // namespace kyd::amd
