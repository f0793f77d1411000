#include "interface/module.h"

HINSTANCE g_moduleInstance = nullptr;
