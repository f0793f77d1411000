// The seam's session: plan or journal in force, the overlay a plan's reads
// consult, and the recording of each change line (see machine.h).
#include "machine/session.h"

#include <algorithm>
#include <cstring>

#include "machine/journal.h"
#include "machine/pending.h"
#include "machine/read_cache.h"
#include "machine/seal.h"
#include "platform/base_log.h"
#include "platform/command_line.h"

namespace kyd::machine {

namespace {

constexpr char kLogUnit[] = "Machine";

}  // namespace

Session::State* g_state = nullptr;

bool IdOf(const std::wstring& path, FileId& id, bool follow) {
  UniqueFile file(CreateFileW(path.c_str(), FILE_READ_ATTRIBUTES,
                              FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                              FILE_FLAG_BACKUP_SEMANTICS | (follow ? 0 : FILE_FLAG_OPEN_REPARSE_POINT), nullptr));
  BY_HANDLE_FILE_INFORMATION info;
  if (!file || !GetFileInformationByHandle(file.get(), &info)) return false;
  id = {info.dwVolumeSerialNumber, info.nFileIndexHigh, info.nFileIndexLow};
  return true;
}

std::wstring LastComponent(const std::wstring& path) {
  size_t slash = path.find_last_of(L"\\/");
  return UpperCase(slash == std::wstring::npos ? path : path.substr(slash + 1));
}

std::wstring PnfOf(const std::wstring& infPath) {
  return infPath.size() >= 3 ? infPath.substr(0, infPath.size() - 3) + L"PNF" : std::wstring();
}

std::vector<WIN32_FIND_DATAW> RawEntries(const std::wstring& folder) {
  std::vector<WIN32_FIND_DATAW> entries;
  WIN32_FIND_DATAW data;
  UniqueFind search(FindFirstFileW((folder + L"\\*").c_str(), &data));
  if (!search) return entries;
  do {
    if (std::wcscmp(data.cFileName, L".") != 0 && std::wcscmp(data.cFileName, L"..") != 0)
      entries.push_back(data);
  } while (FindNextFileW(search.get(), &data));
  return entries;
}

bool Unreadable(DWORD error) {
  switch (error) {
    case ERROR_SUCCESS:
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
    case ERROR_INVALID_NAME:  // and names that cannot name anything
    case ERROR_BAD_PATHNAME:
    case ERROR_INVALID_DRIVE:
      return false;
    default:
      return true;
  }
}

namespace {

std::wstring TimeText() {
  SYSTEMTIME now;
  GetSystemTime(&now);
  wchar_t text[40];
  _snwprintf(text, 39, L"%04u-%02u-%02uT%02u:%02u:%02u.%03uZ", now.wYear, now.wMonth, now.wDay,
             now.wHour, now.wMinute, now.wSecond, now.wMilliseconds);
  text[39] = L'\0';
  return text;
}

#ifdef _WIN64
// A path a 32-bit program recorded, as this 64-bit one reaches it: file-system
// redirection showed it SysWOW64 for the system folder, apart from the
// folders Windows leaves unredirected.
std::wstring Redirected32(const std::wstring& path) {
  wchar_t system[MAX_PATH] = {}, wow64[MAX_PATH] = {};
  UINT length = GetSystemDirectoryW(system, MAX_PATH);
  if (length == 0 || length >= MAX_PATH || !GetSystemWow64DirectoryW(wow64, MAX_PATH)) return path;
  return pending::NativeNameOf(path, system, wow64);
}
#endif

// A line's file paths as this program sees them.
Line AsSeenHere(const Line& line) {
#ifdef _WIN64
  if (line.Get(L"fs") == L"32") {
    Line seen = line;
    seen.target = Redirected32(line.target);
    for (const wchar_t* field : {L"package", L"store"})
      if (line.Has(field)) seen.Set(field, Redirected32(line.Get(field)));
    return seen.Set(L"fs", kOwnBits);
  }
#endif
  return line;
}

// What a plan line does to the overlay; also applied to the lines a child
// program planned, and in a child to the lines planned before it started.
void Apply(Session::State& s, const Line& recorded) {
  Overlay& o = s.overlay;
  const Line line = AsSeenHere(recorded);
  journal::NativePaths native(line.Get(L"fs") == L"64");
  const std::wstring& verb = line.verb;
  std::wstring valueId = UpperCase(line.target) + L"\n" + UpperCase(line.Get(L"name"));
  if (verb == L"delete-key") {
    o.keys.insert(UpperCase(line.target));
  } else if (verb == L"delete-value") {
    o.values.insert(valueId);
    o.written.erase(valueId);
  } else if (verb == L"set-value") {
    Overlay::Written value;
    value.name = line.Get(L"name");
    value.type = static_cast<DWORD>(std::wcstoul(line.Get(L"type").c_str(), nullptr, 10));
    journal::FromHex(line.Get(L"new"), value.data);
    o.written[valueId] = value;
    o.values.erase(valueId);
  } else if (verb == L"delete-file" || verb == L"remove-folder") {
    o.AddGoneIfPresent(line.target);
  } else if (verb == L"set-attributes") {
    FileId id;
    if (IdOf(line.target, id)) {
      o.attributes[id] = std::wcstoul(line.Get(L"new").c_str(), nullptr, 16);
      o.names.insert(LastComponent(line.target));
    }
  } else if (verb == L"delete-inf") {
    if (line.Get(L"inf") == L"yes") o.AddGoneIfPresent(line.target);
    if (line.Get(L"pnf") == L"yes") o.AddGoneIfPresent(PnfOf(line.target));
  } else if (verb == L"remove-driver-package" || (verb == L"run" && line.Has(L"package"))) {
    // The package goes with its INF, the INF's PNF and its store folder.
    std::wstring inf = verb == L"run" ? line.Get(L"package") : line.target;
    o.AddGoneIfPresent(inf);
    o.AddGoneIfPresent(PnfOf(inf));
    if (!line.Get(L"store").empty()) o.AddTree(line.Get(L"store"));
  } else if (verb == L"stop-service") {
    o.services.insert(UpperCase(line.target));
  } else if (verb == L"remove-device") {
    o.devices.insert(UpperCase(line.target));
  }
}

// The material saved for a line that could not be written: a values file,
// or a file set (a flat folder). Deleted plainly: the session's own files
// are no change to the machine, and the seam leaves its folder alone.
void DiscardMaterial(const Session::State& s, const Line& line) {
  const std::wstring material = line.Get(L"material");
  if (material.empty() || material.find_first_of(L"\\/:") != std::wstring::npos) return;
  const std::wstring path = s.folder + L"\\" + material;
  if (DeleteFileW(path.c_str())) return;
  for (const WIN32_FIND_DATAW& entry : RawEntries(path)) DeleteFileW((path + L"\\" + entry.cFileName).c_str());
  RemoveDirectoryW(path.c_str());
}

}  // namespace

bool Record(Session::State& s, Line line,
            const std::function<bool(Line&, DWORD&)>& save) {
  line.number = ++s.last;
  if (s.mode == Mode::kJournal) {
    DWORD error = 0;
    if (save && !save(line, error)) {
      Line refused;
      refused.number = line.number;
      refused.verb = L"not-saved";
      refused.target = line.target;
      refused.Set(L"verb", line.verb).Set(L"error", std::to_wstring(error));
      journal::AppendText(s.manifest, journal::Format(refused, &s.seal));
      KLOG(base::LOG_ERROR, "journal: %S %S left unchanged: it could not be saved (error %d)",
           line.verb.c_str(), line.target.c_str(), static_cast<int>(error));
      SetLastError(kNotSaved);
      return false;
    }
    if (!journal::AppendText(s.manifest, journal::Format(line, &s.seal))) {
      // Nothing changed: what was saved for it goes, and its number is the
      // next change's, so that the numbers run without a gap.
      DiscardMaterial(s, line);
      --s.last;
      KLOG(base::LOG_ERROR, "journal: %S %S left unchanged: the manifest cannot be written (error %d)",
           line.verb.c_str(), line.target.c_str(), static_cast<int>(GetLastError()));
      SetLastError(kNotSaved);
      return false;
    }
    return true;
  }
  if (!journal::AppendText(s.manifest, journal::Format(line))) {
    ++s.lost;
    KLOG(base::LOG_ERROR, "plan: line %d (%S %S) could not be written", line.number, line.verb.c_str(),
         line.target.c_str());
  }
  Apply(s, line);
  return true;
}

// A journaled change whose item could not be read for another reason than
// its absence: it cannot be saved, so it is not made.
bool RefuseUnread(Session::State& s, const wchar_t* verb, const std::wstring& target, DWORD error) {
  Line line;
  line.verb = verb;
  line.target = target;
  return Record(s, line, [error](Line&, DWORD& reason) {
    reason = error;
    return false;
  });
}

// A change recorded once per `identity` in a session (a device removed
// through two calls, a service asked to stop again): the first call records,
// the others only perform.
bool RecordOnce(Session::State& s, const std::wstring& identity, const Line& line) {
  if (!s.once.insert(identity).second) return true;
  if (Record(s, line)) return true;
  s.once.erase(identity);
  return false;
}

Line MakeLine(const wchar_t* verb, const std::wstring& target) {
  Line line;
  line.verb = verb;
  line.target = target;
  return line;
}

Line FileLine(const wchar_t* verb, const std::wstring& path) {
  Line line = MakeLine(verb, path);
  line.Set(L"fs", kOwnBits);
  return line;
}

bool SaveText(Session::State& s, Line& line, const std::wstring& name, const std::string& text,
              DWORD& error) {
  if (!journal::WriteNewFile(s.folder + L"\\" + name, text.data(), text.size())) {
    error = GetLastError();
    return false;
  }
  line.Set(L"material", name).Set(L"mac", s.seal.Of(journal::Seal::kMaterial, text));
  return true;
}

// ------------------------------------------------------------- session

Session::Session(Mode mode, const std::wstring& folderIn, bool continueIn) {
  const char* modeName = mode == Mode::kPlan ? "plan" : "journal";
  std::wstring requested = folderIn;
  if (mode == Mode::kPerform || g_state) {
    KLOG(base::LOG_ERROR, "journal folder (%S) refused: %s", requested.c_str(),
         g_state ? "another session is open in this process" : "no plan or journal asked for");
    return;
  }
  wchar_t full[MAX_PATH * 2] = {};
  DWORD length = GetFullPathNameW(requested.c_str(), MAX_PATH * 2, full, nullptr);
  if (requested.empty() || length == 0 || length >= MAX_PATH * 2) {
    KLOG(base::LOG_ERROR, "journal folder (%S) refused: not a usable path", requested.c_str());
    return;
  }
  std::wstring folder = full;
  while (folder.size() > 3 && folder.back() == L'\\') folder.pop_back();
  DWORD attributes = GetFileAttributesW(folder.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES || !IsFolder(attributes)) {
    KLOG(base::LOG_ERROR, "journal folder (%S) refused: %s", folder.c_str(),
         attributes == INVALID_FILE_ATTRIBUTES ? "it does not exist" : "it is not a folder");
    return;
  }
  auto state = std::make_unique<State>();
  state->mode = mode;
  state->folder = folder;
  state->manifest = folder + L"\\" + kManifestName;
  state->child = continueIn;
  auto refuse = [&](const std::string& why) {
    KLOG(base::LOG_ERROR, "journal folder (%S) refused: %s", folder.c_str(), why.c_str());
  };
  if (!IdOf(folder, state->folderId, /*follow=*/true)) {
    refuse("it cannot be opened (error " + std::to_string(GetLastError()) + ")");
    return;
  }
  std::string why;
  if (continueIn) {
    journal::Manifest manifest;
    if (!journal::ReadManifest(folder, manifest) || manifest.mode != journal::FromUtf8(modeName)) {
      refuse(std::string("it holds no ") + modeName + " to continue");
      return;
    }
    if (mode == Mode::kJournal && !state->seal.Load(manifest.id, why)) {
      refuse(why);
      return;
    }
    for (const Line& line : manifest.lines) {
      state->last = std::max(state->last, line.number);
      // The plan goes on from where it stands: what was planned before is done.
      if (mode == Mode::kPlan) Apply(*state, line);
    }
  } else {
    if (!RawEntries(folder).empty()) {
      refuse("it is not empty");
      return;
    }
    // What a journal saves is other users' files and values, and restore
    // acts on it as an administrator: nobody else may read or change it.
    std::wstring id;
    if (mode == Mode::kJournal) {
      // Restore trusts no journal that others could have changed, also
      // through a folder above it: none is written where it would be refused.
      // A folder that was open to others before is refused too: whoever could
      // change it may still hold it open for writing once it is protected.
      if (!(why = journal::OthersCouldChange(folder)).empty() || !journal::ProtectFolder(folder, why) ||
          !(why = journal::OthersCouldChange(folder)).empty()) {
        refuse(why);
        return;
      }
      id = journal::NewJournalId();
      if (id.empty() || !state->seal.Create(id, folder, why)) {
        refuse(id.empty() ? "no journal id" : why);
        return;
      }
    }
    std::string header = "# KYDDrvUninst journal\r\n# mode\t" + std::string(modeName) + "\r\n" +
                         (id.empty() ? std::string() : "# id\t" + journal::ToUtf8(id) + "\r\n") + "# begun\t" +
                         journal::ToUtf8(TimeText()) + "\tpid " + std::to_string(GetCurrentProcessId()) + "\r\n";
    if (!journal::WriteNewFile(state->manifest, header.data(), header.size())) {
      refuse("it cannot be written (error " + std::to_string(GetLastError()) + ")");
      if (!id.empty()) journal::Seal::Forget(id);
      return;
    }
  }
  KLOG(base::LOG_INFO, "%s in %S", modeName, folder.c_str());
  state_ = std::move(state);
  g_state = state_.get();
}

Session::~Session() {
  if (!state_) return;
  if (!state_->child) {
    journal::AppendText(state_->manifest,
                        journal::FormatEnd(journal::ToUtf8(TimeText()), state_->last,
                                           state_->mode == Mode::kJournal ? &state_->seal : nullptr));
  }
  g_state = nullptr;
}

bool Session::complete() const { return state_ && state_->lost == 0; }

Mode CurrentMode() { return g_state ? g_state->mode : Mode::kPerform; }

bool PlanIncomplete() { return g_state && g_state->mode == Mode::kPlan && g_state->lost > 0; }

std::wstring ChildArguments() {
  if (!g_state) return {};
  return std::wstring(g_state->mode == Mode::kPlan ? L" \"--plan\" " : L" \"--journal\" ") +
         QuoteArgument(g_state->folder);
}

void ChildFinished(DWORD exitCode) {
  reads::Forget();  // the child changed the machine on its own
  Session::State* s = g_state;
  if (!s) return;
  if (exitCode == kChildRecordLost) {
    ++s->lost;
    KLOG(base::LOG_ERROR, "%s: the child program could not write all its lines",
         s->mode == Mode::kPlan ? "plan" : "journal");
  }
  TakeInRecorded();
}

void TakeInRecorded() {
  Session::State* s = g_state;
  if (!s) return;
  journal::Manifest manifest;
  if (!journal::ReadManifest(s->folder, manifest)) return;
  for (const Line& line : manifest.lines) {
    if (line.number <= s->last) continue;
    if (s->mode == Mode::kPlan) Apply(*s, line);
    s->last = line.number;
  }
}

bool ParseChildArguments(const std::wstring& option, const std::wstring& folder, Mode& mode) {
  if (folder.empty()) return false;
  if (option == L"--plan") mode = Mode::kPlan;
  else if (option == L"--journal") mode = Mode::kJournal;
  else return false;
  return true;
}

}  // namespace kyd::machine
