// kydverprobe.exe: prints the library's version class of this Windows and the
// device-console tool build it picks from it, "<class> <build>". Tests copy
// it under several names and give each name its own Windows version in Wine.
#include <windows.h>

#include <cstdio>

// The library's own version query, compiled into this probe as it is.
#include "platform/env.cpp"  // NOLINT(bugprone-suspicious-include)
#include "engine/driver_store.h"

int main() {
  DWORD versionClass = kyd::GetOsVersionClass();
  WORD build = kyd::DeviceToolBuildFor(versionClass, kyd::IsWow64() != FALSE);
  std::printf("%lu %u\n", static_cast<unsigned long>(versionClass), static_cast<unsigned>(build));
  return 0;
}
