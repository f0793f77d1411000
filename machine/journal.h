// What a journal folder holds, written and read: the manifest's lines, the
// saved registry values, the saved files and folders. Shared by the seam
// (the change functions in machine/), restore, and the tests that read plans.
//
// manifest.txt, UTF-8, lines ending in CR LF:
//   # KYDDrvUninst journal
//   # mode<TAB>plan|journal
//   # id<TAB><journal id>                  (journals: names the seal's secret)
//   # begun<TAB><UTC time><TAB>pid <n>
//   <n><TAB><verb><TAB><target>[<TAB><key>=<value>]...[<TAB>@<seal>]<TAB>~<checksum>
//   # ended<TAB><UTC time><TAB>last <n>[<TAB>@<seal>]
// Texts are escaped so that a line stays one line: '%', control characters
// and lone surrogates become %XX or %uXXXX. The checksum (8 hex digits) covers
// the line's text before "<TAB>~", so a damaged line is known as such; it is
// no proof of who wrote the line. In a journal every line carries its seal,
// a keyed MAC of the text before "<TAB>@" (machine/seal.h): only
// the library, which holds the journal's secret, can write a line that
// restore acts on. Lines are numbered from 1 without a gap; the end marker
// names the last number and, in a journal, carries its seal too, so that
// restore knows when lines were taken out or the run was cut short.
//
// Verbs and their fields (target first):
//   delete-key       registry path        view, material (.values), mac
//   delete-value     registry path        name, view, material, mac
//   set-value        registry path        name, view, type, new (hex), created,
//                                         old (absent | saved), material, mac
//   delete-file      path                 fs, material (file set), mac
//   remove-folder    path                 fs, material, mac
//   set-attributes   path                 fs, old, new
//   delete-inf       INF path             fs, material, mac
//   remove-driver-package  INF path       store, fs, material, mac
//   run              command line         [package, store, fs, material, mac]
//   end-process      executable name      pid
//   stop-service     service name         (written once the stop was accepted)
//   remove-device    device instance ID
//   delete-at-restart  path as the 64-bit system process names it
//                                         item (file | folder), of (the number
//                                         of the deletion's line, which saved
//                                         it), path (as the program saw it):
//                                         that deletion was left to Windows
//                                         for the next restart (in use)
//   not-saved        target of the change that was refused: verb, error
// Registry paths are the key's own name as Windows reports it, "HKLM\..." or
// "HKU\<sid>\..." (a redirected or merged key shows where it really lives);
// view says which registry view that is. fs is the bitness of the program
// that saw the path (64: a 64-bit program, 32: a 32-bit one; a 32-bit
// program on 64-bit Windows reads a driver package with redirection off and
// so records it as 64).
//
// Material (plan sessions have none), named after the line's number:
//   NNNNNN.values  one line per value: value<TAB>name<TAB>type<TAB>hex data
//   NNNNNN\        a file set: index.txt, one line per item in creation
//                  order, and the items' data files:
//     folder<TAB>path<TAB>attributes<TAB>reparse data file or -<TAB>mac or -
//     file<TAB>path<TAB>attributes<TAB>created<TAB>written<TAB>size<TAB>mac<TAB>data file
//                  and one line per folder link above the items (SavedLink):
//     link<TAB>path<TAB>where it led or -
// A line's mac field seals its .values file or its set's index.txt, and the
// index seals each data file: keyed MACs of their bytes, 40 hex digits.
#pragma once

#include <windows.h>

#include <cstdint>
#include <set>
#include <string>
#include <vector>

#include "platform/utf8.h"

namespace kyd::machine::journal {

class Seal;

// ------------------------------------------------------------- text

using kyd::FromUtf8;
using kyd::ToUtf8;

// The lines of a text, without their line ends; empty lines dropped.
std::vector<std::string> TextLines(const std::string& text);
std::wstring Escape(const std::wstring& text);
// False when the text holds a malformed escape.
bool Unescape(const std::wstring& text, std::wstring& out);
std::wstring Hex(const void* data, size_t size);
bool FromHex(const std::wstring& text, std::vector<BYTE>& out);
std::wstring HexNumber(uint64_t value, int digits);
uint64_t Fnv64(const void* data, size_t size, uint64_t state = 0xcbf29ce484222325ULL);
std::wstring UpperCase(const std::wstring& text);

// ------------------------------------------------------------- manifest

struct Line {
  int number = 0;
  std::wstring verb;
  std::wstring target;
  std::vector<std::pair<std::wstring, std::wstring>> fields;
  // As read: the line's seal and the text it seals (empty in a plan).
  std::wstring seal;
  std::string sealed;

  Line& Set(const std::wstring& key, const std::wstring& value);
  std::wstring Get(const std::wstring& key) const;  // empty when absent
  bool Has(const std::wstring& key) const;
};

// The line as written (UTF-8, no line end), with its seal (when `seal` is
// given) and its checksum.
std::string Format(const Line& line, const Seal* seal = nullptr);
// A change line; false when it is damaged (bad checksum, bad fields). The
// seal is not checked here: see Sealed.
bool Parse(const std::string& text, Line& line);
// Whether a line as read carries the seal of this journal's secret.
bool Sealed(const Line& line, const Seal& seal);

struct Manifest {
  std::wstring mode;                 // "plan" or "journal"; empty when the header is missing
  std::wstring id;                   // the journal's id; empty in a plan
  std::vector<Line> lines;           // intact change lines, in file order
  std::vector<std::string> damaged;  // lines that are neither header nor intact
  bool ended = false;
  std::string endMarker;             // the "# ended" line as read
};
// The end marker for a manifest whose last change line is `last`, sealed
// when `seal` is given (without a line end).
std::string FormatEnd(const std::string& time, int last, const Seal* seal = nullptr);
// Whether the manifest's end marker carries this journal's seal; `last` is
// the number it names.
bool SealedEnd(const Manifest& manifest, const Seal& seal, int& last);
// What the line numbers say is missing from a journal whose lines `sealed`
// carry its seal: numbers absent from 1 to the last (those in `refused`,
// named already, aside), numbers that stand twice, and a missing or foreign
// end marker. Each finding is a report line ("# missing<TAB>..."); empty
// when the journal is whole. A journal cut short by a crash is still
// restored as far as it goes: this only says what it lacks.
std::wstring WhatIsMissing(const Manifest& manifest, const std::vector<Line>& sealed, const std::set<int>& refused,
                           const Seal& seal);
// Reads folder\manifest.txt; false when it cannot be read at all.
bool ReadManifest(const std::wstring& folder, Manifest& manifest);
// Appends one UTF-8 line and a line end to an existing file.
bool AppendText(const std::wstring& path, const std::string& text);

// ------------------------------------------------------------- material

struct SavedValue {
  std::wstring name;
  DWORD type = REG_NONE;
  std::vector<BYTE> data;
};
std::string FormatValues(const std::vector<SavedValue>& values);
bool ParseValues(const std::string& text, std::vector<SavedValue>& values);

struct SavedItem {
  bool folder = false;
  std::wstring path;
  DWORD attributes = 0;
  FILETIME created{}, written{};
  uint64_t size = 0;
  std::wstring mac;   // the data file's seal
  std::wstring data;  // the data file's name in the set's folder; empty: none
};
// A folder above a set's items that was a folder link (a reparse point)
// when they were saved, and where it led then (its final path; empty where
// that could not be told). A set without such records had none.
struct SavedLink {
  std::wstring path, leadsTo;
};
std::string FormatIndex(const std::vector<SavedItem>& items, const std::vector<SavedLink>& links = {});
bool ParseIndex(const std::string& text, std::vector<SavedItem>& items, std::vector<SavedLink>* links = nullptr);

// Whole-file reads and writes. WriteNewFile refuses to replace a file.
bool ReadWholeFile(const std::wstring& path, std::string& bytes);
bool WriteNewFile(const std::wstring& path, const void* data, size_t size);

// The material file or folder name of change `number`.
std::wstring MaterialName(int number, const wchar_t* extension);

// ------------------------------------------------------------- registry names

// The key's own name, "HKLM\Software\..." or "HKU\S-1-5-...\...", as Windows
// reports it for the open handle; empty when it cannot be told.
std::wstring KeyName(HKEY key);
// "HKLM\rest" / "HKU\rest" back to a root and a path.
bool SplitKeyName(const std::wstring& name, HKEY& root, std::wstring& path);
// "32" when the name lies in the 32-bit registry view of 64-bit Windows, else "64"
// (on 32-bit Windows, "32").
std::wstring ViewOf(const std::wstring& name);

// ------------------------------------------------------------- shared with restore

// In a 32-bit program on 64-bit Windows, the paths a 64-bit program recorded
// are seen as that program saw them while this object lives (when `wanted`).
class NativePaths {
 public:
  explicit NativePaths(bool wanted);
  ~NativePaths();
  NativePaths(const NativePaths&) = delete;
  NativePaths& operator=(const NativePaths&) = delete;

 private:
  void* old_ = nullptr;
  bool active_ = false;
};

// The folders on the way to `path`, from its root ("C:\", "\\server\share")
// down to its parent; none for a path of another form.
std::vector<std::wstring> FoldersOnTheWay(const std::wstring& path);
// Whether this Windows tells where an open folder leads (Vista on).
bool CanTellFinalPaths();
// Where an open folder leads, links followed: its final path as "C:\..."
// or "\\server\share\..."; false when it cannot be told.
bool FinalPathOf(HANDLE folder, std::wstring& path);
// The folders on the way to `path` that are folder links now, with where
// each leads, added to `links` unless named there already.
void AddLinksAbove(const std::wstring& path, std::vector<SavedLink>& links);

// Deletes parent\path (no subkeys left) in the given registry view.
LONG DeleteKeyIn(HKEY parent, const std::wstring& path, REGSAM view);

}  // namespace kyd::machine::journal
