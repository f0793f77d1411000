// envprobe: reports what the library's environment queries see in this
// process, so tests can run it under several Windows version settings (Wine
// applies HKCU\Software\Wine\AppDefaults\<exe name>\Version per program).
//   envprobe env      prints key=value lines
//   envprobe policy   applies the driver-search policy; exit 0 when written
#include <windows.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "interface/driver_search.h"
#include "platform/env.h"

namespace {
void Line(const char* key, const std::wstring& value) { printf("%s=%ls\n", key, value.c_str()); }
}  // namespace

int main(int argc, char** argv) {
  if (argc == 2 && std::strcmp(argv[1], "env") == 0) {
    printf("class=0x%lx\n", static_cast<unsigned long>(kyd::GetOsVersionClass()));
    printf("class_again=0x%lx\n", static_cast<unsigned long>(kyd::GetOsVersionClass()));
    printf("is32=%d\n", kyd::Is32BitSystem() ? 1 : 0);
    printf("wow64=%d\n", static_cast<int>(kyd::IsWow64()));
    Line("temp", kyd::GetTempDir());
    Line("windows", kyd::GetWindowsDir());
    Line("system", kyd::GetSystemDir());
    Line("appdata", kyd::GetAppDataDir());
    Line("common", kyd::GetSpecialFolder(0x2b));
    Line("inf", kyd::GetInfDir());
    return 0;
  }
  if (argc == 2 && std::strcmp(argv[1], "policy") == 0) return kyd::CloseAutoUpdateDrv() ? 0 : 1;
  fprintf(stderr, "usage: envprobe env|policy\n");
  return 3;
}
