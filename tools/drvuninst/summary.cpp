#include "tools/drvuninst/summary.h"

#include <cstdlib>
#include <cwchar>
#include <map>

namespace drvuninst {
namespace {

namespace journal = kyd::machine::journal;

// The device-console tool's removal (...\kyduninst.exe remove =display
// "PCI\VEN_..."): the run that removes the devices of the display and media
// classes.
bool RemovesDevices(const std::wstring& commandLine) {
  constexpr wchar_t kRemove[] = L".exe remove ";
  constexpr size_t kLength = sizeof kRemove / sizeof kRemove[0] - 1;
  for (size_t at = 0; at + kLength <= commandLine.size(); ++at)
    if (_wcsnicmp(commandLine.c_str() + at, kRemove, kLength) == 0) return true;
  return false;
}

Thing ThingOfVerb(const std::wstring& verb, bool withPackage, bool removesDevices) {
  if (verb == L"delete-key") return Thing::kKey;
  if (verb == L"delete-value" || verb == L"set-value") return Thing::kValue;
  if (verb == L"delete-file" || verb == L"set-attributes" || verb == L"delete-inf") return Thing::kFile;
  if (verb == L"remove-folder") return Thing::kFolder;
  if (verb == L"stop-service") return Thing::kService;
  if (verb == L"end-process") return Thing::kProcess;
  if (verb == L"remove-device" || (verb == L"run" && removesDevices)) return Thing::kDevice;
  if (verb == L"remove-driver-package" || (verb == L"run" && withPackage)) return Thing::kPackage;
  return Thing::kProgram;
}

std::vector<std::wstring> Fields(const std::wstring& line) {
  std::vector<std::wstring> fields;
  for (size_t start = 0;;) {
    size_t tab = line.find(L'\t', start);
    fields.push_back(line.substr(start, tab == std::wstring::npos ? std::wstring::npos : tab - start));
    if (tab == std::wstring::npos) return fields;
    start = tab + 1;
  }
}

std::wstring Unescaped(const std::wstring& text) {
  std::wstring plain;
  return journal::Unescape(text, plain) ? plain : text;
}

// A number right-aligned in a column of `width`.
std::wstring Cell(int value, size_t width) {
  std::wstring text = std::to_wstring(value);
  return std::wstring(text.size() < width ? width - text.size() : 0, L' ') + text;
}

std::wstring Label(const std::wstring& text) {
  constexpr size_t kWidth = 22;
  return L"  " + text + std::wstring(text.size() < kWidth ? kWidth - text.size() : 1, L' ');
}

const ThingNames kNames[kThings] = {
    {L"registry keys", "registryKeys"}, {L"registry values", "registryValues"},
    {L"files", "files"},                {L"folders", "folders"},
    {L"services", "services"},          {L"processes", "processes"},
    {L"devices", "devices"},            {L"driver packages", "driverPackages"},
    {L"programs run", "programsRun"},
};

// Programs run are listed only when there are some: most runs have none.
bool Listed(size_t thing, int count) { return thing != static_cast<size_t>(Thing::kProgram) || count != 0; }

}  // namespace

const ThingNames& NamesOf(Thing thing) { return kNames[static_cast<size_t>(thing)]; }

Thing ThingOf(const journal::Line& line) {
  if (line.verb == L"not-saved") return ThingOfVerb(line.Get(L"verb"), false, RemovesDevices(line.target));
  return ThingOfVerb(line.verb, line.Has(L"package"), RemovesDevices(line.target));
}

ChangeCounts CountChanges(const journal::Manifest& manifest) {
  ChangeCounts counts;
  for (const journal::Line& line : manifest.lines) {
    if (line.verb == L"not-saved") {
      ++counts.refused;
      continue;
    }
    if (line.verb == kAtRestartVerb) {
      ++(line.Get(L"item") == L"folder" ? counts.foldersAtRestart : counts.filesAtRestart);
      continue;
    }
    if (line.verb == kLeftInUseVerb) {
      ++counts.leftInUse;
      continue;
    }
    ++counts.changes[static_cast<size_t>(ThingOf(line))];
    ++counts.total;
  }
  return counts;
}

bool ReadRestoreReport(const std::wstring& path, std::vector<RestoreEntry>& entries) {
  std::string bytes;
  if (!journal::ReadWholeFile(path, bytes)) return false;
  entries.clear();
  for (const std::string& text : journal::TextLines(bytes)) {
    if (text[0] == '#') continue;
    std::vector<std::wstring> fields = Fields(journal::FromUtf8(text));
    RestoreEntry entry;
    entry.text = text;
    entry.number = std::atoi(text.c_str());
    entry.outcome = fields.size() > 1 ? fields[1] : L"damaged";
    if (entry.number > 0 && fields.size() >= 4) {
      entry.verb = fields[2];
      entry.target = Unescaped(fields[3]);
      if (fields.size() > 4) entry.detail = Unescaped(fields[4]);
    } else {
      entry.number = 0;
      entry.outcome = L"damaged";
      entry.detail = fields.size() > 2 ? Unescaped(fields[2]) : Unescaped(fields[0]);
    }
    entries.push_back(entry);
  }
  return true;
}

Fate FateOf(const RestoreEntry& entry) {
  if (entry.outcome == L"restored" || entry.outcome == L"present") return Fate::kBack;
  // A program that removed a driver package: what the program did is not
  // saved, but the package is, and goes back with it.
  for (const wchar_t* back : {L"driver package files restored", L"driver package files present"})
    if (entry.verb == L"run" && entry.detail.rfind(back, 0) == 0) return Fate::kBack;
  if (entry.outcome == L"not changed") return Fate::kUnchanged;
  if (entry.outcome == L"not restorable") return Fate::kCannotComeBack;
  return Fate::kNotBack;
}

RestoreCounts CountRestore(const journal::Manifest& manifest, const std::vector<RestoreEntry>& entries) {
  std::map<int, Thing> thingOf;
  for (const journal::Line& line : manifest.lines) thingOf[line.number] = ThingOf(line);
  RestoreCounts counts;
  for (const RestoreEntry& entry : entries) {
    if (entry.verb == kLeftInUseVerb) continue;  // nothing was changed
    if (entry.verb == kAtRestartVerb) {
      if (entry.outcome == L"restored") ++counts.calledOff;
      else if (entry.outcome == L"present") ++counts.carriedOut;
      else ++counts.notCalledOff;
      continue;
    }
    const Fate fate = FateOf(entry);
    if (fate == Fate::kUnchanged) {
      ++counts.unchanged;
      continue;
    }
    // A damaged manifest line touched something unknown: it counts in all only.
    RestoreCounts::Row* row = nullptr;
    auto known = thingOf.find(entry.number);
    if (known != thingOf.end()) row = &counts.rows[static_cast<size_t>(known->second)];
    else if (entry.number > 0)
      row = &counts.rows[static_cast<size_t>(ThingOfVerb(entry.verb, false, RemovesDevices(entry.target)))];
    for (RestoreCounts::Row* r : {row, &counts.total}) {
      if (!r) continue;
      ++r->changes;
      if (fate == Fate::kBack) ++r->back;
      if (fate == Fate::kCannotComeBack) ++r->cannot;
      if (fate == Fate::kNotBack) ++r->notBack;
    }
  }
  return counts;
}

std::wstring ChangeTable(const std::wstring& heading, const ChangeCounts& counts) {
  std::wstring text = heading + L"\n";
  for (size_t i = 0; i < kThings; ++i)
    if (Listed(i, counts.changes[i])) text += Label(kNames[i].text) + Cell(counts.changes[i], 5) + L"\n";
  text += Label(L"changes in all") + Cell(counts.total, 5) + L"\n";
  if (counts.filesAtRestart + counts.foldersAtRestart != 0)
    text += L"  of these, in use and deleted at the next restart:\n" + Label(L"  files") +
            Cell(counts.filesAtRestart, 5) + L"\n" + Label(L"  folders") + Cell(counts.foldersAtRestart, 5) + L"\n";
  if (counts.leftInUse != 0)
    text += Label(L"left in place, in use") + Cell(counts.leftInUse, 5) +
            L"  (below a folder others can change: not deleted)\n";
  if (counts.refused != 0)
    text += Label(L"refused, not saved") + Cell(counts.refused, 5) + L"  (left as they were)\n";
  return text;
}

std::wstring RestoreTable(const RestoreCounts& counts) {
  std::wstring text = L"The restore put back:\n" + Label(L"") + L"changed   back   cannot come back   not back\n";
  auto row = [](const std::wstring& label, const RestoreCounts::Row& r) {
    return Label(label) + Cell(r.changes, 7) + Cell(r.back, 7) + Cell(r.cannot, 19) + Cell(r.notBack, 11) + L"\n";
  };
  for (size_t i = 0; i < kThings; ++i)
    if (Listed(i, counts.rows[i].changes)) text += row(kNames[i].text, counts.rows[i]);
  text += row(L"changes in all", counts.total);
  if (counts.unchanged != 0)
    text += Label(L"refused, not saved") + Cell(counts.unchanged, 7) + L"  (left as they were by the uninstall)\n";
  if (counts.calledOff + counts.carriedOut + counts.notCalledOff != 0)
    text += L"  deletions due at the next restart: " + std::to_wstring(counts.calledOff) +
            L" called off (those files stayed), " + std::to_wstring(counts.carriedOut) +
            L" carried out at a restart (put back above), " + std::to_wstring(counts.notCalledOff) +
            L" not called off\n";
  return text;
}

}  // namespace drvuninst
