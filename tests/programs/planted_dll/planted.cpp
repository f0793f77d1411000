// Test double: a DLL planted beside a program under the name of a DLL the
// program loads. Used by the tests only. When it is loaded it leaves a file
// "<its own path>.loaded" beside itself; it exports nothing, so the program
// that loaded it in place of the real DLL fails soon after. It imports
// kernel32 only and has no runtime library start-up.
#include <windows.h>

extern "C" BOOL WINAPI KydPlantedEntry(HINSTANCE self, DWORD reason, LPVOID) {
  if (reason != DLL_PROCESS_ATTACH) return TRUE;
  wchar_t path[MAX_PATH + 8] = {};
  DWORD n = GetModuleFileNameW(self, path, MAX_PATH);
  if (n == 0 || n >= MAX_PATH) return TRUE;
  lstrcatW(path, L".loaded");
  HANDLE marker = CreateFileW(path, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (marker != INVALID_HANDLE_VALUE) CloseHandle(marker);
  return TRUE;
}
