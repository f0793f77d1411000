// drvuninst's --json: one JSON document on standard output per command, for
// scripts and fleet tools. Every character beyond ASCII is written as a
// \uXXXX escape, so the document reads the same whatever code page the
// reading side assumes (Windows PowerShell decodes a program's output in the
// console's code page).
#pragma once

#include <string>
#include <vector>

#include "machine/journal.h"
#include "tools/drvuninst/devices.h"
#include "tools/drvuninst/summary.h"

namespace drvuninst {

// Each document is returned as text for Print (ASCII only).

// A device as `list` shows it; companionPackage: 1 installed, 0 not, -1 not asked.
struct ListedDevice {
  const Device* device;
  int companionPackage;
};
std::wstring ListDocument(const std::vector<ListedDevice>& devices);

std::wstring QueryDocument(const std::wstring& hardwareId, const std::wstring& classGuid, int libraryResult,
                          int exitCode);

struct UninstallReport {
  std::wstring hardwareId, classGuid;
  const wchar_t* mode = L"direct";  // "plan", "journal" or "direct"
  bool keepDevice = false;
  int libraryResult = 0, exitCode = 0;
  bool restartNeeded = false;
  std::wstring meaning;
  std::wstring manifestPath;                                 // empty: no manifest stays behind
  const kyd::machine::journal::Manifest* manifest = nullptr;  // null: none was written
};
std::wstring UninstallDocument(const UninstallReport& report);

struct RestoreReport {
  std::wstring folder, reportPath;  // reportPath empty: no report written
  int libraryResult = 0, exitCode = 0;
  std::wstring meaning;
  const kyd::machine::journal::Manifest* manifest = nullptr;
  const std::vector<RestoreEntry>* entries = nullptr;
  std::vector<std::wstring> notes;  // the report's notes: what is missing, moved, forgotten
  std::wstring refused;             // why the restore did not begin; empty: it was not refused
};
std::wstring RestoreDocument(const RestoreReport& report);

// `restore DIR --forget`: whether the journal's secret was deleted.
std::wstring ForgetDocument(const std::wstring& folder, const std::wstring& meaning, int exitCode);

// A command that could not run (the library could not be loaded): what
// went wrong, and no result.
std::wstring ErrorDocument(const std::wstring& command, const std::wstring& error, int exitCode);

}  // namespace drvuninst
