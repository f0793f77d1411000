// Restore from a journal: last change first, each item put back only where
// it is missing (or, for a written value, only while it still holds what the
// run wrote), so that a partial restore tried again finds what came back
// present and a change made since the run is not undone.
#include <windows.h>
#include <setupapi.h>

#include <algorithm>
#include <set>

#include "machine/dir_tree.h"
#include "machine/journal.h"
#include "machine/machine.h"
#include "machine/pending.h"
#include "machine/restore.h"
#include "machine/seal.h"
#include "platform/base_log.h"
#include "platform/command_line.h"
#include "platform/console_runner.h"
#include "platform/env.h"
#include "platform/handle.h"

namespace kyd::machine {

using journal::Line;
using journal::Seal;

namespace restoring {

const wchar_t* OutcomeName(Outcome outcome) {
  switch (outcome) {
    case Outcome::kRestored: return L"restored";
    case Outcome::kPresent: return L"present";
    case Outcome::kNotRestorable: return L"not restorable";
    case Outcome::kNotChanged: return L"not changed";
    case Outcome::kLeft: return L"left";
    case Outcome::kDamaged: return L"damaged";
    case Outcome::kRefused: return L"refused";
    case Outcome::kFailed: return L"failed";
  }
  return L"?";
}

bool LoadMaterial(const Journal& j, const Line& line, const wchar_t* file, std::string& bytes) {
  std::wstring name = line.Get(L"material");
  if (name.empty() || name.find_first_of(L"\\/:") != std::wstring::npos) return false;
  std::wstring path = j.folder + L"\\" + name + file;
  return journal::ReadWholeFile(path, bytes) && !line.Get(L"mac").empty() &&
         j.seal.Of(Seal::kMaterial, bytes) == line.Get(L"mac");
}

}  // namespace restoring

namespace {

using namespace restoring;

constexpr char kLogUnit[] = "Machine";

// ------------------------------------------------------------- registry

LONG CreateKey(const std::wstring& name, UniqueKey& key, bool& created) {
  HKEY root;
  std::wstring path;
  if (!journal::SplitKeyName(name, root, path) || path.empty()) return ERROR_INVALID_NAME;
  DWORD disposition = 0;
  LONG status = RegCreateKeyExW(root, path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS | KEY_WOW64_64KEY, nullptr,
                                key.put(), &disposition);
  if (status == ERROR_CHILD_MUST_BE_VOLATILE) {  // a key under a volatile one was volatile too
    status = RegCreateKeyExW(root, path.c_str(), 0, nullptr, REG_OPTION_VOLATILE,
                             KEY_ALL_ACCESS | KEY_WOW64_64KEY, nullptr, key.put(), &disposition);
  }
  created = disposition == REG_CREATED_NEW_KEY;
  return status;
}

bool ValueIs(HKEY key, const std::wstring& name, const journal::SavedValue* expected) {
  DWORD type = 0, size = 0;
  LONG status = RegQueryValueExW(key, name.c_str(), nullptr, &type, nullptr, &size);
  if (!expected) return status == ERROR_FILE_NOT_FOUND;
  if (status != ERROR_SUCCESS || type != expected->type || size != expected->data.size()) return false;
  std::vector<BYTE> data(size + 1);
  DWORD got = size;
  return RegQueryValueExW(key, name.c_str(), nullptr, &type, data.data(), &got) == ERROR_SUCCESS &&
         got == size && std::equal(expected->data.begin(), expected->data.end(), data.begin());
}

LONG SetSaved(HKEY key, const journal::SavedValue& value) {
  return RegSetValueExW(key, value.name.c_str(), 0, value.type, value.data.data(),
                        static_cast<DWORD>(value.data.size()));
}

// A deleted key (all its values) or a deleted value: created and set where missing.
Result RestoreValues(const Journal& j, const Line& line) {
  std::string bytes;
  std::vector<journal::SavedValue> values;
  if (!LoadMaterial(j, line, L"", bytes) || !journal::ParseValues(bytes, values))
    return {Outcome::kDamaged, L"saved values missing or damaged"};
  UniqueKey key;
  bool created = false;
  LONG status = CreateKey(line.target, key, created);
  if (status != ERROR_SUCCESS) return {Outcome::kFailed, L"key not created, error " + std::to_wstring(status)};
  bool changed = created;
  for (const journal::SavedValue& value : values) {
    if (RegQueryValueExW(key.get(), value.name.c_str(), nullptr, nullptr, nullptr, nullptr) != ERROR_FILE_NOT_FOUND)
      continue;
    status = SetSaved(key.get(), value);
    if (status != ERROR_SUCCESS)
      return {Outcome::kFailed, L"value " + value.name + L" not set, error " + std::to_wstring(status)};
    changed = true;
  }
  return {changed ? Outcome::kRestored : Outcome::kPresent, {}};
}

// A written value goes back to what it was, as long as it still holds what
// the run wrote; a key the write made goes again when nothing else is in it.
Result RestoreWrittenValue(const Journal& j, const Line& line) {
  journal::SavedValue written{line.Get(L"name"),
                              static_cast<DWORD>(std::wcstoul(line.Get(L"type").c_str(), nullptr, 10)),
                              {}};
  std::string bytes;
  std::vector<journal::SavedValue> old;
  if (!journal::FromHex(line.Get(L"new"), written.data) || !LoadMaterial(j, line, L"", bytes) ||
      !journal::ParseValues(bytes, old) || old.size() != (line.Get(L"old") == L"saved" ? 1u : 0u))
    return {Outcome::kDamaged, L"saved value missing or damaged"};
  HKEY root;
  std::wstring path;
  if (!journal::SplitKeyName(line.target, root, path)) return {Outcome::kDamaged, L"bad key name"};
  UniqueKey key;
  if (RegOpenKeyExW(root, path.c_str(), 0, KEY_ALL_ACCESS | KEY_WOW64_64KEY, key.put()) != ERROR_SUCCESS) {
    if (line.Get(L"created") == L"yes") return {Outcome::kPresent, L"the key the run made is gone"};
    return {Outcome::kLeft, L"the key is gone"};
  }
  const journal::SavedValue* before = old.empty() ? nullptr : &old[0];
  if (ValueIs(key.get(), written.name, before)) return {Outcome::kPresent, {}};
  if (!ValueIs(key.get(), written.name, &written))
    return {Outcome::kLeft, L"changed since the run; left as it is"};
  LONG status = before ? SetSaved(key.get(), *before) : RegDeleteValueW(key.get(), written.name.c_str());
  if (status != ERROR_SUCCESS) return {Outcome::kFailed, L"error " + std::to_wstring(status)};
  DWORD subKeys = 1, values = 1;
  if (line.Get(L"created") == L"yes" &&
      RegQueryInfoKeyW(key.get(), nullptr, nullptr, nullptr, &subKeys, nullptr, nullptr, &values, nullptr,
                       nullptr, nullptr, nullptr) == ERROR_SUCCESS &&
      subKeys == 0 && values == 0) {
    key.reset();
    journal::DeleteKeyIn(root, path, KEY_WOW64_64KEY);
  }
  return {Outcome::kRestored, {}};
}

// ------------------------------------------------------------- services

// Only a service the run stopped is started, and only while it is stopped
// and not disabled: a service the user disabled since stays as it is.
Result RestartService(const Line& line) {
  UniqueService manager(OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT));
  UniqueService service(manager ? OpenServiceW(manager.get(), line.target.c_str(),
                                               SERVICE_START | SERVICE_QUERY_STATUS | SERVICE_QUERY_CONFIG)
                                : nullptr);
  SERVICE_STATUS status{};
  if (!service || !QueryServiceStatus(service.get(), &status))
    return {Outcome::kFailed, L"service not found, error " + std::to_wstring(GetLastError())};
  if (status.dwCurrentState != SERVICE_STOPPED) return {Outcome::kPresent, L"running"};
  DWORD size = 0;
  QueryServiceConfigW(service.get(), nullptr, 0, &size);
  std::vector<BYTE> config(size ? size : 1);
  if (!QueryServiceConfigW(service.get(), reinterpret_cast<QUERY_SERVICE_CONFIGW*>(config.data()), size, &size))
    return {Outcome::kFailed, L"its configuration cannot be read, error " + std::to_wstring(GetLastError())};
  if (reinterpret_cast<const QUERY_SERVICE_CONFIGW*>(config.data())->dwStartType == SERVICE_DISABLED)
    return {Outcome::kLeft, L"disabled since the run; left stopped"};
  if (!StartServiceW(service.get(), 0, nullptr))
    return {Outcome::kFailed, L"not started, error " + std::to_wstring(GetLastError())};
  return {Outcome::kRestored, L"started again"};
}

// A deletion the run left for the next restart, or a file it left in place
// (pending::CallOff).
Result CallOffDeletion(const Line& line) {
  pending::CallOffResult result = pending::CallOff(line);
  switch (result.kind) {
    case pending::CallOffResult::kRestored: return {Outcome::kRestored, result.detail};
    case pending::CallOffResult::kPresent: return {Outcome::kPresent, result.detail};
    case pending::CallOffResult::kLeft: return {Outcome::kLeft, result.detail};
    case pending::CallOffResult::kFailed: break;
  }
  return {Outcome::kFailed, result.detail};
}

Result RestoreLine(const Journal& j, const Line& line) {
  if (line.verb == L"delete-at-restart" || line.verb == L"left-in-use") return CallOffDeletion(line);
  const std::wstring& verb = line.verb;
  if (verb == L"delete-key" || verb == L"delete-value") return RestoreValues(j, line);
  if (verb == L"set-value") return RestoreWrittenValue(j, line);
  if (verb == L"delete-file" || verb == L"remove-folder" || verb == L"delete-inf") return RestoreItems(j, line);
  if (verb == L"remove-driver-package") return RestorePackage(j, line, line.target);
  if (verb == L"set-attributes") return RestoreAttributes(line);
  if (verb == L"stop-service") return RestartService(line);
  if (verb == L"not-saved") return {Outcome::kNotChanged, L"it could not be saved, so it was left as it was"};
  if (verb == L"end-process")
    return {Outcome::kNotRestorable, L"an ended process cannot be brought back; start it again if needed"};
  if (verb == L"remove-device")
    return {Outcome::kNotRestorable, L"the device comes back when Windows detects the hardware again"};
  if (verb == L"run") {
    Result result{Outcome::kNotRestorable, L"what the program did itself was not saved"};
    if (line.Has(L"material")) {  // the driver package it removed was
      Result package = RestorePackage(j, line, line.Get(L"package"));
      result.detail = L"driver package files " + std::wstring(OutcomeName(package.outcome)) +
                      (package.detail.empty() ? L"" : L" (" + package.detail + L")") + L"; " + result.detail;
      if (package.outcome == Outcome::kDamaged || package.outcome == Outcome::kFailed) result.outcome = package.outcome;
    }
    return result;
  }
  return {Outcome::kDamaged, L"unknown change"};
}

constexpr wchar_t kPublishedFile[] = L"kydpublished.txt";

DWORD PublishHere(const std::wstring& inf, const std::wstring& folder, std::wstring& published) {
  wchar_t name[MAX_PATH] = {};
  DWORD error = SetupCopyOEMInfW(inf.c_str(), (folder + L"\\").c_str(), SPOST_PATH, SP_COPY_NOOVERWRITE, name,
                                 MAX_PATH, nullptr, nullptr)
                    ? ERROR_SUCCESS
                    : GetLastError();
  published = name;
  return error;
}

// The report of a restore refused before it began, for the one who reads
// restore.txt rather than the log.
void WriteRefusal(const std::wstring& folder, const std::string& reason) {
  const std::string text = "# restore of " + journal::ToUtf8(folder) + "\r\n# refused\t" + reason + "\r\n";
  const std::wstring path = folder + L"\\" + kRestoreReportName;
  DeleteFileW(path.c_str());
  journal::WriteNewFile(path, text.data(), text.size());
}

}  // namespace


DWORD PublishDriverPackage(const std::wstring& inf, const std::wstring& folder, std::wstring& published) {
  const std::wstring program = GetHostFolder() + L"drv64\\drv64.exe";
  if (!IsWow64() || GetFileAttributesW(program.c_str()) == INVALID_FILE_ATTRIBUTES)
    return PublishHere(inf, folder, published);
  std::wstring line = L"\"" + program + L"\" \"kydpublish\" " + QuoteArgument(inf) + L" " + QuoteArgument(folder);
  DWORD exitCode = ERROR_GEN_FAILURE;
  if (!RunAndWait(program, line, false, exitCode)) return GetLastError();
  std::string name;
  if (journal::ReadWholeFile(folder + L"\\" + kPublishedFile, name)) published = journal::FromUtf8(name);
  return exitCode;
}

int PublishDriverPackageCommand(const std::wstring& inf, const std::wstring& folder) {
  std::wstring published;
  DWORD error = PublishHere(inf, folder, published);
  std::string name = journal::ToUtf8(published);
  journal::WriteNewFile(folder + L"\\" + kPublishedFile, name.data(), name.size());
  return static_cast<int>(error);
}

int Restore(const std::wstring& folderIn) {
  Journal j;
  j.folder = journal::FullFolder(folderIn);
  const std::wstring& folder = j.folder;
  // A journal is replayed as the administrator who restores it: only one
  // that nobody else could have changed, or put in its place, sealed with
  // its own secret.
  journal::Manifest manifest;
  std::string refusal;
  if (!journal::AdmitJournal(folderIn.empty() ? std::wstring() : folder, manifest, j.seal, refusal)) {
    KLOG(base::LOG_ERROR, "restore (%S): %s%s", folder.c_str(), manifest.mode == L"journal" ? "refused, " : "",
         refusal.c_str());
    // The journal folder itself is safe to write in when only a folder above is not.
    if (refusal.rfind(journal::kOthersAbove, 0) == 0) WriteRefusal(folder, refusal);
    return kRestoreNothing;
  }
  std::wstring report = L"# restore of " + folder +
                        L"\r\n# a restore undoes the whole run: values it wrote go back to what they were, "
                        L"the driver-search policy included\r\n";
  // A journal that was moved is restored where it is now, and says so.
  if (!j.seal.folder().empty() && _wcsicmp(j.seal.folder().c_str(), folder.c_str()) != 0)
    report += L"# moved\tthe journal was made in " + journal::Escape(j.seal.folder()) + L"\r\n";
  bool partial = false;
  for (const std::string& damaged : manifest.damaged) {
    report += L"?\tdamaged\tline not restored: " + journal::Escape(journal::FromUtf8(damaged)) + L"\r\n";
    partial = true;
  }
  std::vector<Line> lines;
  std::set<int> refusedNumbers;
  std::set<std::string> acted;
  for (const Line& line : manifest.lines) {
    if (journal::Sealed(line, j.seal)) {
      lines.push_back(line);
      continue;
    }
    refusedNumbers.insert(line.number);
    report += std::to_wstring(line.number) + L"\t" + OutcomeName(Outcome::kRefused) + L"\t" + line.verb + L"\t" +
              journal::Escape(line.target) + L"\tits seal does not match: not written by the library; not acted on\r\n";
    partial = true;
  }
  const std::wstring gaps = journal::WhatIsMissing(manifest, lines, refusedNumbers, j.seal);
  if (!gaps.empty()) {
    report += gaps;
    partial = true;
  }
  std::stable_sort(lines.begin(), lines.end(), [](const Line& a, const Line& b) { return a.number > b.number; });
  int restored = 0;
  for (const Line& line : lines) {
    if (!acted.insert(line.sealed).second) continue;  // the same line again: put back once
    Result result = RestoreLine(j, line);
    if (result.outcome == Outcome::kRestored) ++restored;
    if (result.outcome == Outcome::kDamaged || result.outcome == Outcome::kFailed || result.outcome == Outcome::kLeft)
      partial = true;
    report += std::to_wstring(line.number) + L"\t" + OutcomeName(result.outcome) + L"\t" + line.verb + L"\t" +
              journal::Escape(line.target) + (result.detail.empty() ? L"" : L"\t" + journal::Escape(result.detail)) +
              L"\r\n";
  }
  // Everything is back: the secret has served, and goes (a partial restore
  // keeps it, so that it may be tried again).
  if (!partial)
    report += L"# forgotten\teverything is back: the journal's secret was deleted, it cannot be restored again\r\n";
  std::string text = journal::ToUtf8(report);
  const std::wstring reportPath = folder + L"\\" + kRestoreReportName;
  DeleteFileW(reportPath.c_str());
  journal::WriteNewFile(reportPath, text.data(), text.size());
  if (!partial) Seal::Forget(manifest.id);
  KLOG(base::LOG_INFO, "restore (%S): %d of %d changes put back%s", folder.c_str(), restored,
       static_cast<int>(manifest.lines.size()), partial ? ", some could not be" : "; its secret was deleted");
  return partial ? kRestorePartial : kRestoreComplete;
}

}  // namespace kyd::machine
