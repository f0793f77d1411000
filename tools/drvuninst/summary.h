// What a plan, a journaled uninstall or a restore did, counted by the kind of
// thing each change touches (registry keys, values, files, ...), from the
// journal folder's manifest.txt and restore.txt; and the tables drvuninst
// prints of those counts.
#pragma once

#include <array>
#include <string>
#include <vector>

#include "machine/journal.h"

namespace drvuninst {

// In the order the tables list them.
enum class Thing { kKey, kValue, kFile, kFolder, kService, kProcess, kDevice, kPackage, kProgram };
constexpr size_t kThings = 9;

struct ThingNames {
  const wchar_t* text;  // "registry keys"
  const char* json;     // "registryKeys"
};
const ThingNames& NamesOf(Thing thing);

// What a manifest line touches; a refused line ("not-saved") counts as the
// change it refused.
Thing ThingOf(const kyd::machine::journal::Line& line);

// A deletion left for the next restart (the item was in use) is counted
// with its kind as a deletion, and apart as due at the restart.
constexpr wchar_t kAtRestartVerb[] = L"delete-at-restart";
// A file in use that was neither deleted nor scheduled: it lies below a
// folder others can change. Counted apart only.
constexpr wchar_t kLeftInUseVerb[] = L"left-in-use";

struct ChangeCounts {
  std::array<int, kThings> changes{};
  int refused = 0;  // journal only: not made, as what they destroy could not be saved
  int total = 0;
  int filesAtRestart = 0, foldersAtRestart = 0;  // of the files and folders above
  int leftInUse = 0;  // files in use left in place
};
ChangeCounts CountChanges(const kyd::machine::journal::Manifest& manifest);

// One line of restore.txt: "<n>\t<outcome>\t<verb>\t<target>[\t<detail>]",
// or "?\tdamaged\t<text>" for a manifest line that could not be read.
struct RestoreEntry {
  int number = 0;  // 0: a damaged manifest line
  std::wstring outcome, verb, target, detail;
  std::string text;  // the line as written
};
bool ReadRestoreReport(const std::wstring& path, std::vector<RestoreEntry>& entries);

// Where a change stands after a restore: back (put back, or found there
// already), left as it was (its change was refused), cannot come back (an
// ended process, a removed device), or not back (left, failed, damaged).
enum class Fate { kBack, kUnchanged, kCannotComeBack, kNotBack };
Fate FateOf(const RestoreEntry& entry);

struct RestoreCounts {
  struct Row {
    int changes = 0, back = 0, cannot = 0, notBack = 0;
  };
  std::array<Row, kThings> rows{};
  Row total;
  int unchanged = 0;  // refused changes: nothing to put back
  // Deletions left for the next restart: called off before it (the item
  // stayed), carried out (the item comes back from the journal with its
  // deletion line), or not called off.
  int calledOff = 0, carriedOut = 0, notCalledOff = 0;
};
// The manifest tells what each reported line touched.
RestoreCounts CountRestore(const kyd::machine::journal::Manifest& manifest,
                           const std::vector<RestoreEntry>& entries);

std::wstring ChangeTable(const std::wstring& heading, const ChangeCounts& counts);
std::wstring RestoreTable(const RestoreCounts& counts);

}  // namespace drvuninst
