// Case-insensitive text search in strings and in files mapped read-only.
#pragma once

#include <windows.h>

#include <cstddef>
#include <memory>
#include <string>

#include "platform/handle.h"

namespace kyd {

// StrStrIW that answers null for null arguments instead of faulting.
const wchar_t* SafeStrStrIW(const wchar_t* text, const wchar_t* part);

// Where a match may end. A device ID is matched as an ID: "USB\ROOT_HUB"
// is not found in "USB\ROOT_HUB30", because the character after the match
// (a letter, a digit or an underscore) continues the ID.
enum class MatchEnd { kAnywhere, kIdEnd };

// A character that can continue a device ID: a letter, a digit or an
// underscore.
template <typename Char>
constexpr bool ContinuesId(Char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_';
}

// Does `text` (up to its first NUL) contain `part`, ignoring case, compared
// character by character (not linguistically, as StrStrIW does)? An empty
// part is contained in nothing. Allocates nothing: the sweeps ask it
// millions of times.
bool ContainsNoCase(const wchar_t* text, const wchar_t* part);

// The same test split in two, for a sweep that tests each of tens of
// thousands of texts against each entry of a list: each text and entry is
// folded once (up to its first NUL, by ContainsNoCase's own rule), and
// ContainsFolded(FoldCase(text), FoldCase(part)) then answers as
// ContainsNoCase(text, part) does, an empty part included.
std::wstring FoldCase(const wchar_t* text);
inline bool ContainsFolded(const std::wstring& foldedText, const std::wstring& foldedPart) {
  return !foldedPart.empty() && foldedText.find(foldedPart) != std::wstring::npos;
}

// Bounded case-insensitive searches: never look at text[length] or beyond,
// and stop at the first NUL inside the range.
bool BoundedStrStrIA(const char* text, size_t length, const char* part,
                     MatchEnd end = MatchEnd::kAnywhere);
bool BoundedStrStrIW(const wchar_t* text, size_t length, const wchar_t* part,
                     MatchEnd end = MatchEnd::kAnywhere);

// A file's bytes searched as FindInFile below searches the file: the
// encoding told by its mark, the text ending at its first NUL.
bool FindInFileText(const void* data, size_t size, const wchar_t* text, MatchEnd end = MatchEnd::kAnywhere);

class CFindStrFormFile {
 public:
  enum Encoding { kNone = 0, kUtf16Le = 1, kUtf16Be = 2, kUtf8 = 3 };

  CFindStrFormFile() = default;
  virtual ~CFindStrFormFile() { Close(); }
  CFindStrFormFile(const CFindStrFormFile&) = delete;
  CFindStrFormFile& operator=(const CFindStrFormFile&) = delete;

  bool FindInFile(const wchar_t* path, const wchar_t* text, MatchEnd end = MatchEnd::kAnywhere);
  bool Open(const wchar_t* path);
  bool Search(const wchar_t* text, MatchEnd end = MatchEnd::kAnywhere) const;
  void Close();

  int encoding() const { return encoding_; }

 private:
  UniqueFile file_;
  UniqueHandle mapping_;
  UniqueView view_;
  size_t size_ = 0;
  int encoding_ = kNone;
};

// The search of CFindStrFormFile::FindInFile (the file opened unshared, the
// encoding told by its mark, the text ending at its first NUL) with each
// file read whole into one buffer that this object keeps from file to file,
// which costs less than a mapping per file when many small files are
// searched. A file larger than `mapAbove` bytes is mapped instead.
class FileTextSearch {
 public:
  static constexpr size_t kMapAbove = 64u << 20;

  explicit FileTextSearch(size_t mapAbove = kMapAbove) : mapAbove_(mapAbove) {}
  FileTextSearch(const FileTextSearch&) = delete;
  FileTextSearch& operator=(const FileTextSearch&) = delete;

  bool FindInFile(const wchar_t* path, const wchar_t* text, MatchEnd end = MatchEnd::kAnywhere);

 private:
  size_t mapAbove_;
  std::unique_ptr<wchar_t[]> buffer_;  // wide units, so UTF-16 text is aligned
  size_t capacity_ = 0;                // bytes
  CFindStrFormFile mapped_;
};

}  // namespace kyd
