/* A host program as an integrator writes it: C89, built against the kit's
 * KYDDrvUninst.h and one of its import libraries, calling every export.
 * It uses kernel32 alone and no C runtime, so that it also links with
 * Microsoft's linker (KYD_HOST_ENTRY names the entry point there).
 *
 * The device comes from the environment: KYD_HOST_HWID, KYD_HOST_CLASS.
 * Prints "name=result" lines; exit code 0 when every export was reached. */
#include <windows.h>

#include "KYDDrvUninst.h"

static void Say(const char *text) {
  DWORD written = 0;
  WriteFile(GetStdHandle(STD_OUTPUT_HANDLE), text, (DWORD)lstrlenA(text), &written, NULL);
}

static void SayResult(const char *name, int value) {
  char digits[16];
  int at = (int)sizeof digits - 1;
  unsigned int magnitude = value < 0 ? 0u - (unsigned int)value : (unsigned int)value;
  digits[at] = '\0';
  do {
    digits[--at] = (char)('0' + magnitude % 10u);
    magnitude /= 10u;
  } while (magnitude != 0u);
  if (value < 0) digits[--at] = '-';
  Say(name);
  Say("=");
  Say(digits + at);
  Say("\r\n");
}

static int HostMain(void) {
  static wchar_t hardwareId[512];
  static wchar_t classGuid[64];
  HMODULE library;
  if (GetEnvironmentVariableW(L"KYD_HOST_HWID", hardwareId, 512) == 0 ||
      GetEnvironmentVariableW(L"KYD_HOST_CLASS", classGuid, 64) == 0) {
    Say("KYD_HOST_HWID and KYD_HOST_CLASS must be set\r\n");
    return 2;
  }
  DrvUninst_Init();
  SayResult("IsDrvAppInstall", DrvUninst_IsDrvAppInstall(hardwareId, classGuid));
  SayResult("UninstallDrv", DrvUninst_UninstallDrv(hardwareId, classGuid, KYD_REMOVE_DEVICE));
  SayResult("UninstallDrvNull", DrvUninst_UninstallDrv(NULL, classGuid, KYD_REMOVE_DEVICE));
  DrvUninst_Unit();

  /* The plan-and-journal exports, where this build of the library has them. */
  library = GetModuleHandleA("KYDDrvUninst.dll");
  SayResult("UninstallDrvEx",
            library && GetProcAddress(library, "DrvUninst_UninstallDrvEx") != NULL);
  SayResult("Restore", library && GetProcAddress(library, "DrvUninst_Restore") != NULL);
  return 0;
}

#ifdef KYD_HOST_ENTRY
void __stdcall KYD_HOST_ENTRY(void) { ExitProcess((UINT)HostMain()); }
#else
int main(void) { return HostMain(); }
#endif
