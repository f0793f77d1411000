// The built-in name tables of the NVIDIA display cleaner. They are constant
// arrays, ready before the library's first call and only ever read; each is
// in the order its entries are used, repeats kept.
#pragma once

namespace kyd {

// The vendor's files: user-mode driver parts, the OpenCL, CUDA, video codec
// and capture libraries, the control panel, the tray and update tools and
// their installers. The programs among them are ended before they go.
extern const wchar_t* const kNvFileTable[130];

// The kernel-mode drivers: display miniport, PCI and keyboard filters, the HD
// audio and virtual audio drivers, 3D Vision USB, the overclocking driver and
// the SHIELD controller filter. nvpciflt.sys is named twice, as in the package.
extern const wchar_t* const kNvDriverTable[13];

// Services of the display driver, GeForce Experience, streaming, the update
// service, the network service, HD audio, 3D Vision and WMI.
extern const wchar_t* const kNvServices[16];

// Programs to end besides the file table: tray and streaming helpers, and the
// desktop window manager and app host that keep the user-mode driver loaded.
extern const wchar_t* const kNvPrograms[31];

// Program IDs of the update service, 3D Vision, the control panel servers,
// the installer and nView.
extern const wchar_t* const kNvProgIdFragments[16];

// COM classes by name or server file: shell extension, control panel, video
// encoder, 3D Vision, capture, Optimus helpers, the installer and the Media
// Foundation codecs.
extern const wchar_t* const kNvClassFragments[25];

// Interfaces of ShadowPlay, the update service, 3D Vision, the display control
// panel extension and the vendor's installer framework.
extern const wchar_t* const kNvInterfaceFragments[129];

// Firewall rules the streaming server, the network service and the update
// core add.
extern const wchar_t* const kNvFirewallRuleFragments[3];

// Per-user settings under the vendor's key.
extern const wchar_t* const kNvUserKeyFragments[6];

// Machine-wide settings under the vendor's key.
extern const wchar_t* const kNvMachineKeyFragments[11];

// Machine-wide settings of the 32-bit parts.
extern const wchar_t* const kNv32BitKeyFragments[3];

// Uninstall entries of the 32-bit view: the installer names its package
// entries by vendor, package and component.
extern const wchar_t* const kNv32BitUninstallFragments[15];

// Uninstall entries of the native view.
extern const wchar_t* const kNvUninstallFragments[16];

// Approved shell extensions, by their description.
extern const wchar_t* const kNvApprovedExtensions[2];

// Folders below Program Files\NVIDIA Corporation. nvstreamsrv is named twice.
extern const wchar_t* const kNvProgramFolderFragments[17];

// Folders below Program Files (x86)\NVIDIA Corporation.
extern const wchar_t* const kNv32BitProgramFolderFragments[10];

// The browser plug-in of 3D Vision registers below MozillaPlugins under an
// identifier made of the vendor's web domain and the plug-in's name.
extern const wchar_t kNv3DVisionPluginId[];

}  // namespace kyd
