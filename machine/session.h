// The seam's shared state, private to machine/: the session in force, the
// plan overlay the reads consult, and the recording every kind of change
// goes through. Nothing outside machine/ includes this header.
#pragma once

#include <map>
#include <set>
#include <string>
#include <vector>

#include "machine/journal.h"
#include "machine/machine.h"
#include "machine/seal.h"

namespace kyd::machine {

using journal::Line;
using journal::SavedItem;
using journal::SavedValue;
using journal::UpperCase;

#ifdef _WIN64
inline constexpr wchar_t kOwnBits[] = L"64";
#else
inline constexpr wchar_t kOwnBits[] = L"32";
#endif

// What a file or folder is, wherever a path to it comes from (on 64-bit
// Windows a 32-bit program reaches SysWOW64 as system32 too).
struct FileId {
  DWORD volume = 0, high = 0, low = 0;
  auto operator<=>(const FileId&) const = default;
};

// A link is itself, unless `follow` asks for what it points to.
bool IdOf(const std::wstring& path, FileId& id, bool follow = false);
std::wstring LastComponent(const std::wstring& path);
std::wstring PnfOf(const std::wstring& infPath);
// Every entry of a folder but "." and "..", straight from the file system.
std::vector<WIN32_FIND_DATAW> RawEntries(const std::wstring& folder);

inline bool IsFolder(DWORD attributes) { return (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0; }
inline bool IsLink(DWORD attributes) { return (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0; }

// A read that failed for another reason than that nothing is there: what it
// would have saved is unknown, so a journal does not make the change.
bool Unreadable(DWORD error);

// What a plan has done so far.
struct Overlay {
  struct Written {
    std::wstring name;  // as the plan writes it
    DWORD type = REG_NONE;
    std::vector<BYTE> data;
  };
  std::set<std::wstring> keys;               // upper-case key names
  std::set<std::wstring> values;             // upper key name, '\n', upper value name
  std::map<std::wstring, Written> written;   // the same
  std::set<FileId> files;                    // deleted files and folders
  std::set<std::wstring> filePaths;          // those whose identity could not be read
  std::map<FileId, DWORD> attributes;        // planned attribute changes
  std::set<std::wstring> names;              // upper last components of the two above
  std::set<std::wstring> services;           // upper names of services planned stopped
  std::set<std::wstring> devices;            // upper instance IDs of devices planned removed

  bool NoRegistry() const { return keys.empty() && values.empty() && written.empty(); }
  bool NoFiles() const { return names.empty(); }

  void AddGone(const std::wstring& path) {
    FileId id;
    if (IdOf(path, id)) files.insert(id);
    else filePaths.insert(UpperCase(path));
    names.insert(LastComponent(path));
  }
  void AddGoneIfPresent(const std::wstring& path) {
    if (!path.empty() && GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES && !Gone(path))
      AddGone(path);
  }
  // A folder with everything below it.
  void AddTree(const std::wstring& folder) {
    DWORD attributes = GetFileAttributesW(folder.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES || Gone(folder)) return;
    if (IsFolder(attributes) && !IsLink(attributes)) {
      for (const WIN32_FIND_DATAW& entry : RawEntries(folder)) AddTree(folder + L"\\" + entry.cFileName);
    }
    AddGone(folder);
  }
  bool Gone(const std::wstring& path) const {
    if (!names.count(LastComponent(path))) return false;
    FileId id;
    if (IdOf(path, id)) return files.count(id) != 0;
    return filePaths.count(UpperCase(path)) != 0;
  }
  bool PlannedAttributes(const std::wstring& path, DWORD& value) const {
    if (attributes.empty() || !names.count(LastComponent(path))) return false;
    FileId id;
    if (!IdOf(path, id)) return false;
    auto found = attributes.find(id);
    if (found == attributes.end()) return false;
    value = found->second;
    return true;
  }
};

struct Session::State {
  Mode mode = Mode::kPlan;
  std::wstring folder, manifest;
  FileId folderId;     // the folder itself, however a path names it
  journal::Seal seal;  // a journal's lines and material are sealed with it
  int last = 0;        // number of the last change line in the manifest
  int lost = 0;        // lines of changes made or planned that could not be written
  bool child = false;  // continues a session of the program that started this one
  Overlay overlay;
  std::set<std::wstring> once;  // changes recorded once however often asked: devices, services, processes
  std::map<SC_HANDLE, std::wstring> serviceNames;
};

// The session in force in this process, if any.
extern Session::State* g_state;

inline Session::State* Planner() { return g_state && g_state->mode == Mode::kPlan ? g_state : nullptr; }

// Writes a change line, numbered. In a journal, `save` first saves what the
// change destroys and adds its fields to the line; a change whose material or
// line cannot be written is refused (false, last error kNotSaved).
bool Record(Session::State& s, Line line, const std::function<bool(Line&, DWORD&)>& save = nullptr);
// A journaled change whose item could not be read for another reason than
// its absence: it cannot be saved, so it is not made.
bool RefuseUnread(Session::State& s, const wchar_t* verb, const std::wstring& target, DWORD error);
// A change recorded once per `identity` in a session: the first call
// records, the others only perform.
bool RecordOnce(Session::State& s, const std::wstring& identity, const Line& line);
Line MakeLine(const wchar_t* verb, const std::wstring& target);
// A line about a file, with the bitness of the program that sees its path.
Line FileLine(const wchar_t* verb, const std::wstring& path);

// Saves `text` as the line's material `name`.
bool SaveText(Session::State& s, Line& line, const std::wstring& name, const std::string& text, DWORD& error);
// Saves files and folders (with `tree`, folders with everything below them)
// as one file set, the material of the line (files.cpp).
bool SaveItems(Session::State& s, Line& line, const std::vector<std::wstring>& paths, bool tree, DWORD& error);

}  // namespace kyd::machine
