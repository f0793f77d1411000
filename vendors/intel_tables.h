// The Intel graphics driver package's names: the built-in tables of the
// Intel display cleaner, in the order the package is taken apart. Plain
// arrays, built before any export can be called and only read.
#pragma once

#include "vendors/deep_clean.h"

namespace kyd {

// Everything the graphics package puts on the machine, in the installer's
// order: the user-mode drivers (Direct3D, OpenGL, OpenCL, media SDK), the
// control panel and its language resources, the tray, hot-key and
// persistence programs, the wireless display components. The programs among
// them are ended, every name is deleted from the system folders and from the
// PnP lockdown list. "GfxUIEx.exe" and "intel/opencl" are listed twice; the
// entries with a slash ("intel/opencl", "intel/media sdk") take part in every
// step like the other names.
extern const wchar_t* const kIntelFileTable[218];

// The kernel-mode display driver and the wireless display bus driver: they
// go only when the device goes.
extern const wchar_t* const kIntelDriverTable[2];

// The display driver's services, its HD audio (display audio) companions and
// the control panel's service.
extern const wchar_t* const kIntelServices[6];

// Tray, hot-key and control panel programs ended before their files go;
// rundll32.exe hosts the control panel applet, whoever started it.
extern const wchar_t* const kIntelPrograms[25];

// Program IDs of the control panel's COM servers (name fragments).
extern const wchar_t* const kIntelProgIds[12];

// Interfaces of the control panel, the desktop context menu, the event
// manager and the content protection session (name fragments).
extern const wchar_t* const kIntelInterfaces[10];

// COM class servers: wireless display, shell extensions, the control panel
// service and its helper DLLs (fragments of class names and server paths).
extern const wchar_t* const kIntelClassServers[13];

// Subkeys of the vendor's software key left by the graphics package.
extern const wchar_t* const kIntelVendorSubKeys[4];

// Startup values of the tray icon, the persistence module and the hot-key
// handler: every machine-wide startup value whose name holds one goes.
extern const wchar_t* const kIntelStartupValues[3];

// The desktop context-menu handlers (graphics properties, options, display
// settings).
extern const wchar_t* const kIntelContextMenuHandlers[3];

// What the deep-clean frame needs: services, files, programs, kernel drivers.
extern const VendorTables kIntelVendorTables;

}  // namespace kyd
