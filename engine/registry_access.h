// What the engine's registry units share: the two access masks, the one place
// that asks for the 64-bit registry view, and the list-then-act walk every
// sweep is built on.
#pragma once

#include <windows.h>
#include <shlwapi.h>

#include <string>
#include <vector>

#include "engine/base_drv_uninst.h"
#include "platform/find_str.h"
#include "platform/handle.h"

namespace kyd::reg {

// Access masks; Open() adds the view flag, so these stay plain.
constexpr REGSAM kRead = KEY_READ;          // with the view: 0x20119
constexpr REGSAM kDelete = KEY_ALL_ACCESS;  // with the view: 0xF013F

// Opens root\path in the 64-bit view (on 32-bit Windows the flag is ignored).
// An empty path opens a new handle to root itself.
LONG Open(HKEY root, const std::wstring& path, REGSAM access, UniqueKey& key);

// Deletes the key parent\path (which must have no subkeys left) in the
// 64-bit view.
LONG DeleteSubKey(HKEY parent, const std::wstring& path);

// Matchers: does a candidate's text contain the listed fragment (any case,
// anywhere), or equal the listed text (any case)?
// Contains compares ordinally, ignoring case: StrStrIW compares
// linguistically at every position of the text, and on the big keys (tens of
// thousands of interface and class names against each list) that cost more
// than reading them. An empty or null fragment matches nothing.
struct Contains {
  bool operator()(const std::wstring& text, const wchar_t* fragment) const {
    return ContainsNoCase(text.c_str(), fragment);
  }
};
// Contains for the sweeps over tens of thousands of keys: each candidate's
// text folded once (FoldCase) and matched against the list's entries folded
// once, with the same answers. An empty or null entry, which matches
// nothing, is left out of the folded list.
inline std::vector<std::wstring> FoldedList(NameList list) {
  std::vector<std::wstring> folded;
  for (const wchar_t* entry : list)
    if (entry && *entry) folded.push_back(FoldCase(entry));
  return folded;
}
struct FoldedContains {
  bool operator()(const std::wstring& foldedText, const std::wstring& foldedEntry) const {
    return ContainsFolded(foldedText, foldedEntry);
  }
};
struct BeginsWith {
  bool operator()(const std::wstring& text, const wchar_t* prefix) const {
    return prefix != nullptr && *prefix != L'\0' && StrCmpNIW(text.c_str(), prefix, lstrlenW(prefix)) == 0;
  }
};
struct Equals {
  bool operator()(const std::wstring& text, const wchar_t* name) const {
    return name != nullptr && StrCmpIW(text.c_str(), name) == 0;
  }
};

// The walk of every sweep. The candidates were listed before anything is
// deleted, so deletions never disturb it; each candidate is tested against
// the list in list order and only the first entry that matches acts.
// matches(candidate, entry) -> bool; act(candidate).
// The list is a NameList, or the entries of one folded (FoldedList).
template <typename Candidates, typename List, typename Match, typename Act>
void ActOnFirstMatch(const Candidates& candidates, const List& list, Match matches, Act act) {
  for (const auto& candidate : candidates) {
    for (const auto& entry : list) {
      if (matches(candidate, entry)) {
        act(candidate);
        break;
      }
    }
  }
}

// Lists the subkeys of root\path (64-bit view); false when it cannot be read.
bool ListSubKeys(HKEY root, const std::wstring& path, std::vector<std::wstring>& names);

}  // namespace kyd::reg
