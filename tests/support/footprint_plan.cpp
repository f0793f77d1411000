// The footprint bench's view of plans, journals and restores: a plan's lines
// mapped to the snapshot's changes, and a restore measured against the
// snapshot taken before the run.
#include <algorithm>
#include <set>

#include "machine/journal.h"
#include "platform/handle.h"
#include "support/engine_bench.h"
#include "support/footprint.h"
#include "support/footprint_state.h"
#include "support/wine_bench.h"

namespace kydtest::fp {
namespace {

namespace journal = kyd::machine::journal;

// A path a 32-bit program recorded, as it lies on disk: the system folder of
// 64-bit Windows is the 32-bit one to it, apart from the folders Windows
// leaves unredirected.
std::wstring OnDisk(const std::wstring& path, const std::wstring& fs) {
  std::wstring lower = LowerCase(path);
  if (fs != L"32" || !Is64BitPrefix()) return lower;
  const std::wstring system = LowerCase(SystemDir());
  if (!Under(lower, system)) return lower;
  for (const wchar_t* exempt : {L"catroot", L"catroot2", L"driverstore", L"drivers\\etc", L"logfiles", L"spool"})
    if (Under(lower, system + L"\\" + exempt)) return lower;
  wchar_t wow64[MAX_PATH] = {};
  GetSystemWow64DirectoryW(wow64, MAX_PATH);
  return LowerCase(wow64) + lower.substr(system.size());
}

std::string Entry(const char* kind, const std::wstring& path, const std::wstring* value, const char* what) {
  std::string text = std::string(kind) + " " + ToNarrow(path);
  if (value) text += " : " + (value->empty() ? std::string("@") : ToNarrow(*value));
  return text + " " + what;
}

// The registry and file changes a plan or journal names, as the snapshot
// difference of the run names them ("key <path> removed", ...). Values of a
// key the run deletes later are not listed, as the difference does not list
// them either; a value the run writes is checked against the registry now.
struct PlannedChanges {
  std::set<std::string> removed;       // keys, values, files and folders
  std::set<std::string> attributes;    // files whose attributes change
  std::vector<journal::Line> written;  // set-value lines
  std::vector<std::wstring> createdKeys;
  std::set<std::string> twice;  // removals named by two lines: a plan that missed its own earlier change
};

PlannedChanges ReadPlan(const journal::Manifest& manifest, const Snapshot& before) {
  PlannedChanges plan;
  std::set<std::wstring> deletedKeys;
  for (const journal::Line& line : manifest.lines)
    if (line.verb == L"delete-key") deletedKeys.insert(CanonicalKey(line.target, before));
  auto remove = [&](const std::string& entry) {
    if (!plan.removed.insert(entry).second) plan.twice.insert(entry);
  };
  auto removeFile = [&](const std::wstring& path) {
    if (before.files.count(path)) remove(Entry("file", path, nullptr, "removed"));
  };
  auto removeTree = [&](const std::wstring& root) {
    for (auto it = before.files.lower_bound(root); it != before.files.end() && Under(it->first, root); ++it)
      plan.removed.insert(Entry("file", it->first, nullptr, "removed"));
  };
  auto pnfOf = [](const std::wstring& inf) { return inf.substr(0, inf.size() - 3) + L"pnf"; };
  for (const journal::Line& line : manifest.lines) {
    const std::wstring fs = line.Get(L"fs");
    if (line.verb == L"delete-key") {
      remove(Entry("key", CanonicalKey(line.target, before), nullptr, "removed"));
    } else if (line.verb == L"delete-value") {
      std::wstring key = CanonicalKey(line.target, before), name = LowerCase(line.Get(L"name"));
      if (!deletedKeys.count(key)) remove(Entry("value", key, &name, "removed"));
    } else if (line.verb == L"set-value") {
      plan.written.push_back(line);
      if (line.Get(L"created") == L"yes") plan.createdKeys.push_back(CanonicalKey(line.target, before));
    } else if (line.verb == L"delete-file" || line.verb == L"remove-folder") {
      removeFile(OnDisk(line.target, fs));
    } else if (line.verb == L"set-attributes") {
      plan.attributes.insert(Entry("file", OnDisk(line.target, fs), nullptr, "changed"));
    } else if (line.verb == L"delete-inf") {
      std::wstring inf = OnDisk(line.target, fs);
      if (line.Get(L"inf") == L"yes") removeFile(inf);
      if (line.Get(L"pnf") == L"yes") removeFile(pnfOf(inf));
    } else if (line.verb == L"remove-driver-package" || (line.verb == L"run" && line.Has(L"package"))) {
      std::wstring inf = OnDisk(line.verb == L"run" ? line.Get(L"package") : line.target, fs);
      removeFile(inf);
      removeFile(pnfOf(inf));
      if (line.Has(L"store")) removeTree(OnDisk(line.Get(L"store"), fs));
    }
  }
  // A file whose attributes were changed before it went shows as removed only.
  for (auto it = plan.attributes.begin(); it != plan.attributes.end();) {
    std::string removed = it->substr(0, it->size() - std::string("changed").size()) + "removed";
    it = plan.removed.count(removed) ? plan.attributes.erase(it) : std::next(it);
  }
  return plan;
}

// The value a set-value line says the run writes, compared with the registry.
bool WrittenAsPlanned(const journal::Line& line, std::string& problem) {
  HKEY root;
  std::wstring path;
  kyd::UniqueKey key;
  const REGSAM view = line.Get(L"view") == L"32" ? KEY_WOW64_32KEY : KEY_WOW64_64KEY;
  if (!journal::SplitKeyName(line.target, root, path) ||
      RegOpenKeyExW(root, path.c_str(), 0, KEY_READ | view, key.put()) != ERROR_SUCCESS) {
    problem = "planned write to a key the real run did not leave: " + ToNarrow(line.target);
    return false;
  }
  DWORD type = 0, size = 0;
  const std::wstring name = line.Get(L"name");
  std::vector<BYTE> data;
  if (RegQueryValueExW(key.get(), name.c_str(), nullptr, &type, nullptr, &size) == ERROR_SUCCESS) {
    data.resize(size);
    RegQueryValueExW(key.get(), name.c_str(), nullptr, &type, data.data(), &size);
  }
  std::wstring now = std::to_wstring(type) + L":" + journal::Hex(data.data(), data.size());
  std::wstring planned = std::to_wstring(std::wcstoul(line.Get(L"type").c_str(), nullptr, 10)) + L":" +
                         LowerCase(line.Get(L"new"));
  if (LowerCase(now) == planned) return true;
  problem = "planned write " + ToNarrow(line.target) + " : " + ToNarrow(name) + " = " + ToNarrow(planned) +
            ", the real run left " + ToNarrow(now);
  return false;
}

// Changes of the device's own registry (its enumerator key, its driver key)
// that removing it makes: the plan lists the removal as what would run.
bool DeviceRegistry(const Change& change, const std::vector<std::wstring>& deviceKeys) {
  if (change.isFile) return false;
  for (const std::wstring& root : deviceKeys)
    if (Under(change.path, root)) return true;
  return false;
}

}  // namespace

std::vector<std::string> ComparePlan(const std::wstring& planFolder, const Snapshot& before, const Snapshot& after,
                                     const std::vector<std::wstring>& deviceKeys,
                                     const std::vector<std::wstring>& shellKeys, const std::wstring& journalFolder) {
  std::vector<std::string> failures;
  journal::Manifest manifest;
  if (!journal::ReadManifest(planFolder, manifest) || manifest.mode != L"plan") {
    failures.push_back("no plan in " + ToNarrow(planFolder));
    return failures;
  }
  for (const std::string& damaged : manifest.damaged) failures.push_back("damaged plan line: " + damaged);
  PlannedChanges plan = ReadPlan(manifest, before);

  // What the run left for the next restart is as good as done: the plan
  // could not know it would be in use. Windows' list of such deletions is
  // where the run wrote them.
  std::set<std::string> real, realAttributes;
  journal::Manifest run;
  bool leftForRestart = false;
  std::vector<std::wstring> leftInPlace;  // files in use the run left, and so their folders
  if (!journalFolder.empty() && journal::ReadManifest(journalFolder, run)) {
    for (const journal::Line& mark : run.lines) {
      if (mark.verb == L"left-in-use") leftInPlace.push_back(LowerCase(OnDisk(mark.target, mark.Get(L"fs"))));
      if (mark.verb != L"delete-at-restart") continue;
      leftForRestart = true;
      for (const journal::Line& line : run.lines)
        if (std::to_wstring(line.number) == mark.Get(L"of"))
          real.insert(Entry("file", OnDisk(line.target, line.Get(L"fs")), nullptr, "removed"));
    }
  }
  for (const Change& change : Diff(before, after, shellKeys)) {
    if (DeviceRegistry(change, deviceKeys)) continue;
    if (change.isFile && Under(change.path, HoldingFolder())) continue;  // the library's own, like the journal
    if (leftForRestart && change.isValue &&
        change.path == L"hklm\\system\\currentcontrolset\\control\\session manager" &&
        change.valueName == L"pendingfilerenameoperations")
      continue;
    const std::string text = change.Describe();
    if (change.what == "removed") {
      real.insert(text);
    } else if (change.isFile) {
      // Files the run writes of its own (the device tool's copy, its log)
      // are no planned deletion; changed attributes of a kept file are.
      if (change.what == "changed") realAttributes.insert(text);
    } else {
      // A value written or a key made: the plan's set-value lines.
      bool planned = false;
      for (const journal::Line& line : plan.written) {
        std::wstring key = CanonicalKey(line.target, before);
        planned = planned || (change.isValue ? change.path == key && change.valueName == LowerCase(line.Get(L"name"))
                                             : Under(key, change.path) && line.Get(L"created") == L"yes");
      }
      if (!planned) failures.push_back("real run, not in the plan: " + text);
    }
  }
  for (const std::string& item : real)
    if (!plan.removed.count(item)) failures.push_back("real run, not in the plan: " + item);
  auto left = [&](const std::string& item) {
    if (item.rfind("file ", 0) != 0 || item.size() < 13) return false;
    const std::wstring path = ToWide(item.substr(5, item.size() - 5 - 8));  // "file <path> removed"
    return std::any_of(leftInPlace.begin(), leftInPlace.end(), [&](const std::wstring& l) {
             return Under(l, path);
           });
  };
  for (const std::string& item : plan.removed)
    if (!real.count(item) && !left(item)) failures.push_back("planned, not done by the real run: " + item);
  for (const std::string& item : plan.twice) failures.push_back("planned twice: " + item);
  for (const std::string& item : realAttributes)
    if (!plan.attributes.count(item)) failures.push_back("real run, not in the plan: " + item);
  std::string problem;
  for (const journal::Line& line : plan.written)
    if (!WrittenAsPlanned(line, problem)) failures.push_back(problem);
  return failures;
}

std::vector<std::string> CheckRestored(const std::wstring& journalFolder, const Snapshot& before,
                                       const Snapshot& restored, const std::vector<std::wstring>& deviceKeys,
                                       const std::vector<std::wstring>& shellKeys) {
  std::vector<std::string> failures;
  const std::wstring reportPath = journalFolder + L"\\restore.txt";
  if (!FileExists(reportPath)) {
    failures.push_back("no restore report in " + ToNarrow(journalFolder));
    return failures;
  }
  // What restore could not put back, by the report: "<n>\t<outcome>\t<verb>\t<target>[\t<detail>]".
  bool deviceGone = false;
  for (const std::string& text : journal::TextLines(ReadFileBytes(reportPath))) {
    if (text[0] == '#') continue;
    std::wstring line = journal::FromUtf8(text);
    std::vector<std::wstring> fields;
    for (size_t start = 0, tab;; start = tab + 1) {
      tab = line.find(L'\t', start);
      fields.push_back(line.substr(start, tab - start));
      if (tab == std::wstring::npos) break;
    }
    if (fields.size() < 4) {
      failures.push_back("restore report line not understood: " + text);
      continue;
    }
    const std::wstring& outcome = fields[1];
    if (outcome == L"restored" || outcome == L"present") continue;
    if (outcome == L"not restorable" && (fields[2] == L"remove-device" || fields[2] == L"run")) {
      deviceGone = true;  // the device and what the tool did to it
      continue;
    }
    if (outcome == L"not restorable" && fields[2] == L"end-process") continue;  // not in a snapshot
    failures.push_back("not restored: " + text);
  }
  for (const Change& change : Diff(before, restored, shellKeys)) {
    if (deviceGone && DeviceRegistry(change, deviceKeys)) continue;
    if (change.isFile && Under(change.path, HoldingFolder())) continue;
    failures.push_back("after restore: " + change.Describe());
  }
  return failures;
}

}  // namespace kydtest::fp
