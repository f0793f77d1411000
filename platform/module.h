#pragma once

#include <windows.h>

// The library's own instance handle, recorded when the process attaches;
// embedded resources are loaded through it.
extern HINSTANCE g_moduleInstance;
