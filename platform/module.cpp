#include "platform/module.h"

HINSTANCE g_moduleInstance = nullptr;
