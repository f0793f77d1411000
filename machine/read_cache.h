// The run's registry reads, private to machine/: what the path reads of
// machine.h have read so far in this run, and what the change functions tell
// it so that it stays true. Nothing outside machine/ includes this header.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

namespace kyd::machine::reads {

// A RunReads is alive: the path reads keep what they read.
bool Active();

// The seam's own changes, after they were made (never for a plan's). Key
// names are as journal::KeyName gives them ("HKLM\...", "HKU\...").
void KeyRemoved(const std::wstring& keyName);
void ValueRemoved(const std::wstring& keyName, const std::wstring& valueName);
// A value was set in root\path (the key perhaps created by it).
void ValueWritten(HKEY root, const std::wstring& path, REGSAM view);

// Another program may have changed the registry (an uninstaller or tool run,
// a process ended, a device or driver package removed, a service stopped):
// everything is read afresh from now on.
void Forget();

// A service accepted a stop. Its program may write the registry until it
// has stopped, so the reads are forgotten when the stop is seen complete
// (StopSeen, on a status of SERVICE_STOPPED through the same handle), or
// when the wait for the stops is over (StopWaitOver) for those never seen
// so.
void StopAccepted(SC_HANDLE service);
void StopSeen(SC_HANDLE service);
void StopWaitOver();

inline constexpr DWORD kSubKeyNameRoom = 256;   // 255 characters and the terminator
inline constexpr DWORD kValueNameRoom = 16384;  // 16383 characters and the terminator

// Hands add(name) the names of a key's subkeys (subKeys) or values, in
// index order, straight from the registry; false when the key cannot be
// queried.
template <typename Add>
bool EnumerateNames(HKEY key, bool subKeys, Add add) {
  DWORD subKeyCount = 0, valueCount = 0;
  if (RegQueryInfoKeyW(key, nullptr, nullptr, nullptr, &subKeyCount, nullptr, nullptr, &valueCount, nullptr,
                       nullptr, nullptr, nullptr) != ERROR_SUCCESS)
    return false;
  std::vector<wchar_t> name(subKeys ? kSubKeyNameRoom : kValueNameRoom);
  for (DWORD index = 0, count = subKeys ? subKeyCount : valueCount; index < count; ++index) {
    DWORD length = static_cast<DWORD>(name.size());
    LONG status = subKeys ? RegEnumKeyExW(key, index, name.data(), &length, nullptr, nullptr, nullptr, nullptr)
                          : RegEnumValueW(key, index, name.data(), &length, nullptr, nullptr, nullptr, nullptr);
    if (status == ERROR_SUCCESS) add(std::wstring(name.data(), length));
  }
  return true;
}

}  // namespace kyd::machine::reads
