// The run's registry reads, private to machine/: what the path reads of
// machine.h have read so far in this run, and what the change functions tell
// it so that it stays true. Nothing outside machine/ includes this header.
#pragma once

#include <windows.h>

#include <string>

namespace kyd::machine::reads {

// A RunReads is alive: the path reads keep what they read.
bool Active();

// The seam's own changes, after they were made (never for a plan's). Key
// names are as journal::KeyName gives them ("HKLM\...", "HKU\...").
void KeyRemoved(const std::wstring& keyName);
void ValueRemoved(const std::wstring& keyName, const std::wstring& valueName);
// A value was set in root\path (the key perhaps created by it).
void ValueWritten(HKEY root, const std::wstring& path, REGSAM view, const std::wstring& valueName);

// Another program may have changed the registry (an uninstaller or tool run,
// a device or driver package removed, a service stopped): everything is read
// afresh from now on.
void Forget();

}  // namespace kyd::machine::reads
