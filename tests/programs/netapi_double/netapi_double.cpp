// Stands in for netapi32.dll in tests, where Wine's own NetUserEnum lacks
// information level 1. The helper build makes programs only, so this is
// built as one; the test copies it as netapi32.dll, marks the copy as a DLL
// without an entry point and starts a program beside it with
// WINEDLLOVERRIDES=netapi32=n,b. The exported functions therefore rely on no
// runtime-library start-up: they use kernel32 only.
//
// Accounts come from KYD_NETAPI_USERS, "name:privilege;..." with privilege
// 0 guest, 1 user, 2 administrator; KYD_NETAPI_STATUS (decimal) is the status
// to answer, 0 by default. Calls with other arguments than the engine's
// (local computer, level 1, normal accounts, no size limit) are refused with
// ERROR_INVALID_PARAMETER.
#include <windows.h>

namespace {

struct UserInfo1 {  // USER_INFO_1
  wchar_t* name;
  wchar_t* password;
  DWORD passwordAge;
  DWORD privilege;
  wchar_t* homeDir;
  wchar_t* comment;
  DWORD flags;
  wchar_t* scriptPath;
};

constexpr DWORD kFilterNormalAccount = 2;
constexpr DWORD kMaxPreferredLength = 0xFFFFFFFF;
constexpr int kMaxUsers = 32;

DWORD ReadStatus() {
  wchar_t text[16] = {};
  if (!GetEnvironmentVariableW(L"KYD_NETAPI_STATUS", text, 16)) return 0;
  DWORD status = 0;
  for (const wchar_t* p = text; *p >= L'0' && *p <= L'9'; ++p) status = status * 10 + (*p - L'0');
  return status;
}

}  // namespace

// Undecorated export names, as netapi32.dll has them: the functions carry
// the plain names as their symbols and the export directives name them.
extern "C" DWORD __stdcall KydNetUserEnum(const wchar_t* server, DWORD level, DWORD filter,
                                          BYTE** buffer, DWORD maxLength, DWORD* read,
                                          DWORD* total, DWORD* resume) __asm__("_NetUserEnum");
extern "C" DWORD __stdcall KydNetApiBufferFree(void* buffer) __asm__("_NetApiBufferFree");
__asm__(".section .drectve\n"
        ".ascii \" -export:NetUserEnum -export:NetApiBufferFree\"\n"
        ".text\n");

extern "C" DWORD __stdcall KydNetUserEnum(const wchar_t* server, DWORD level, DWORD filter,
                                          BYTE** buffer, DWORD maxLength, DWORD* read,
                                          DWORD* total, DWORD*) {
  if (server != nullptr || level != 1 || filter != kFilterNormalAccount ||
      maxLength != kMaxPreferredLength || !buffer || !read || !total)
    return ERROR_INVALID_PARAMETER;
  *buffer = nullptr;
  *read = *total = 0;
  DWORD status = ReadStatus();
  if (status != 0 && status != ERROR_MORE_DATA) return status;

  static wchar_t userList[2048];
  DWORD length = GetEnvironmentVariableW(L"KYD_NETAPI_USERS", userList, 2048);
  if (length >= 2048) length = 0;
  // One block: the records, then a copy of the text with the separators
  // turned into terminators, which the records point into.
  SIZE_T size = sizeof(UserInfo1) * kMaxUsers + (length + 1) * sizeof(wchar_t);
  BYTE* block = static_cast<BYTE*>(HeapAlloc(GetProcessHeap(), HEAP_ZERO_MEMORY, size));
  if (!block) return ERROR_NOT_ENOUGH_MEMORY;
  UserInfo1* users = reinterpret_cast<UserInfo1*>(block);
  wchar_t* text = reinterpret_cast<wchar_t*>(block + sizeof(UserInfo1) * kMaxUsers);
  for (DWORD i = 0; i < length; ++i) text[i] = userList[i];
  DWORD count = 0;
  wchar_t* start = text;
  for (DWORD i = 0; i <= length && count < kMaxUsers; ++i) {
    if (text[i] != L';' && text[i] != L'\0') continue;
    text[i] = L'\0';
    wchar_t* colon = start;
    while (*colon && *colon != L':') ++colon;
    if (*colon == L':' && colon != start) {
      *colon = L'\0';
      users[count].name = start;
      users[count].privilege = static_cast<DWORD>(colon[1] - L'0');
      ++count;
    }
    start = text + i + 1;
  }
  *buffer = block;
  *read = *total = count;
  return status;
}

extern "C" DWORD __stdcall KydNetApiBufferFree(void* buffer) {
  if (buffer) HeapFree(GetProcessHeap(), 0, buffer);
  return 0;
}

int main() { return 0; }
