// What the seam's tests compare: the state of chosen parts of the machine
// (registry trees in both views and user hives, single values, folder trees,
// INF files, devices, processes, services), taken before and after a run;
// and the state a plan says a real run leaves, got by applying the plan's
// lines to a snapshot.
//
// Items are named as the library's journal names them (upper case): registry
// keys "KEY HKLM\PATH" / "KEY HKU\<SID>\PATH", values "VALUE <key>|<NAME>",
// "FILE <path>", "FOLDER <path>", "DEVICE <instance id>", "PROCESS <pid>",
// "SERVICE <name>"; the state is a text (a value's type and bytes, a file's
// attributes and bytes, a service's state).
//
// The footprint bench (footprint.h) snapshots the whole machine instead,
// coarser per item (a file's size, time and attributes, not its bytes) and
// slower; this watch stays for the seam's byte-for-byte round trips.
#pragma once

#include <windows.h>

#include <map>
#include <string>
#include <vector>

namespace kydtest {

using MachineState = std::map<std::wstring, std::wstring>;

class MachineWatch {
 public:
  // A registry tree given as the journal names it, "HKLM\..." or "HKU\...",
  // read in the 64-bit view (a Wow6432Node path is the 32-bit view).
  void Tree(const std::wstring& keyName);
  // One value (and whether its key exists) without the rest of the key.
  void Value(const std::wstring& keyName, const std::wstring& valueName);
  // A folder and everything in it, or the files of a folder matching a pattern.
  void Folder(const std::wstring& folder);
  void Files(const std::wstring& folder, const std::wstring& pattern);
  void Device(const std::wstring& instanceId);
  void Processes(const std::wstring& exeName);
  void Service(const std::wstring& name);

  MachineState Take() const;
  // Does the item lie in what is watched?
  bool Covers(const std::wstring& item) const;

 private:
  std::vector<std::wstring> trees_, folders_, devices_, processes_, services_;
  std::vector<std::pair<std::wstring, std::wstring>> values_, files_;
};

// The items whose state differs, one line each: "ITEM: before -> after"
// ("-" for absent). Empty when the states are equal.
std::vector<std::string> Differences(const MachineState& before, const MachineState& after);

// The state `before` becomes when the journal folder's plan (or journal) is
// carried out, as far as the watch covers it. False (with a reason) when a
// line cannot be read or is not understood.
bool ApplyPlan(const std::wstring& journalFolder, const MachineWatch& watch, MachineState& state,
               std::string& problem);

// HKU\<sid of this process's user>: where HKEY_CURRENT_USER lives.
std::wstring CurrentUserKeyName();

// The library's journal texts (test side).
std::vector<std::wstring> ManifestLines(const std::wstring& journalFolder);  // change lines, raw
std::wstring ReadUtf8(const std::wstring& path);

// A journal's secret as it is now, to be put back (protected as the library
// keeps it) after a complete restore deleted it, so that a test may restore
// the same journal again.
class KeptSecret {
 public:
  explicit KeptSecret(const std::wstring& journalFolder);
  const std::wstring& key() const { return key_; }  // under HKLM, 64-bit view
  bool PutBack() const;

 private:
  std::wstring key_;
  std::vector<BYTE> secret_;
  std::wstring folder_;
};

}  // namespace kydtest
