#include "platform/find_str.h"

#include <shlwapi.h>

#include <cstring>
#include <cwchar>
#include <new>
#include <string>
#include <vector>

namespace kyd {
namespace {

inline char FoldA(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c + 32) : c; }

inline wchar_t FoldW(wchar_t c) {
  if (c < 0x80) return (c >= L'A' && c <= L'Z') ? static_cast<wchar_t>(c + 32) : c;
  // CharLowerW takes a single character when the pointer's high word is zero.
  return static_cast<wchar_t>(reinterpret_cast<ULONG_PTR>(
      CharLowerW(reinterpret_cast<LPWSTR>(static_cast<ULONG_PTR>(c)))));
}

// Case-insensitive Boyer-Moore-Horspool over the whole range. The text is
// meant to end at its first NUL, but scanning for it first would read every
// byte; instead the first match that ends as the caller wants is accepted
// only if no NUL stands before it
// (the key holds none, so none can stand inside the match). Without a match
// the NUL does not matter. Most positions are skipped, so an INF is searched
// faster than it could be copied.
template <typename Char, typename Fold>
bool BoundedSearch(const Char* text, size_t length, const Char* part, Fold fold, MatchEnd end) {
  size_t m = 0;
  while (part[m]) ++m;
  if (m == 0) return true;
  if (m > length) return false;
  std::vector<Char> key(m);
  for (size_t i = 0; i < m; ++i) key[i] = fold(part[i]);
  // Shift table keyed by the folded unit's low byte; units sharing a low
  // byte share the smallest shift, which keeps the search exact.
  size_t shift[256];
  for (size_t& s : shift) s = m;
  for (size_t i = 0; i + 1 < m; ++i) {
    size_t slot = static_cast<size_t>(key[i]) & 0xFF;
    if (m - 1 - i < shift[slot]) shift[slot] = m - 1 - i;
  }
  const Char last = key[m - 1];
  for (size_t pos = 0; pos + m <= length;) {
    const Char tail = fold(text[pos + m - 1]);
    if (tail == last) {
      size_t k = 0;
      while (k + 1 < m && fold(text[pos + k]) == key[k]) ++k;
      bool endsWell = end == MatchEnd::kAnywhere || pos + m == length || !ContinuesId(text[pos + m]);
      if (k + 1 == m && endsWell) {
        for (size_t i = 0; i < pos; ++i)
          if (text[i] == 0) return false;
        return true;
      }
    }
    pos += shift[static_cast<size_t>(tail) & 0xFF];
  }
  return false;
}

int EncodingOf(const void* data, size_t size) {
  unsigned char head[3] = {};
  std::memcpy(head, data, size < 3 ? size : 3);
  if (head[0] == 0xFF && head[1] == 0xFE) return CFindStrFormFile::kUtf16Le;
  if (head[0] == 0xFE && head[1] == 0xFF) return CFindStrFormFile::kUtf16Be;
  if (head[0] == 0xEF && head[1] == 0xBB && head[2] == 0xBF) return CFindStrFormFile::kUtf8;
  return CFindStrFormFile::kNone;
}

// A file's bytes searched as its encoding says.
bool SearchFileText(const void* data, size_t size, int encoding, const wchar_t* text, MatchEnd end) {
  if (encoding == CFindStrFormFile::kUtf16Le || encoding == CFindStrFormFile::kUtf16Be) {
    // The byte-order mark is part of the searched text; big-endian files get
    // the same little-endian comparison.
    return BoundedStrStrIW(static_cast<const wchar_t*>(data), size / sizeof(wchar_t), text, end);
  }
  int needed = WideCharToMultiByte(CP_ACP, 0, text, -1, nullptr, 0, nullptr, nullptr);
  if (needed <= 0) return false;
  std::string narrow(static_cast<size_t>(needed), '\0');
  WideCharToMultiByte(CP_ACP, 0, text, -1, narrow.data(), needed, nullptr, nullptr);
  return BoundedStrStrIA(static_cast<const char*>(data), size, narrow.c_str(), end);
}

}  // namespace

bool FindInFileText(const void* data, size_t size, const wchar_t* text, MatchEnd end) {
  if (!data || size == 0 || !text) return false;
  return SearchFileText(data, size, EncodingOf(data, size), text, end);
}

const wchar_t* SafeStrStrIW(const wchar_t* text, const wchar_t* part) {
  if (!text || !part) return nullptr;
  return StrStrIW(text, part);
}

bool ContainsNoCase(const wchar_t* text, const wchar_t* part) {
  if (!text || !part || !*part) return false;
  const wchar_t first = FoldW(part[0]);
  for (; *text; ++text) {
    if (FoldW(*text) != first) continue;
    size_t k = 1;
    while (part[k] && text[k] && FoldW(text[k]) == FoldW(part[k])) ++k;
    if (!part[k]) return true;
    if (!text[k]) return false;  // the rest of the text is shorter than the part
  }
  return false;
}

std::wstring FoldCase(const wchar_t* text) {
  std::wstring folded;
  if (!text) return folded;
  folded.resize(std::wcslen(text));
  for (size_t i = 0; i < folded.size(); ++i) folded[i] = FoldW(text[i]);
  return folded;
}

bool BoundedStrStrIA(const char* text, size_t length, const char* part, MatchEnd end) {
  if (!text || !part) return false;
  return BoundedSearch(text, length, part, FoldA, end);
}

bool BoundedStrStrIW(const wchar_t* text, size_t length, const wchar_t* part, MatchEnd end) {
  if (!text || !part) return false;
  return BoundedSearch(text, length, part, FoldW, end);
}

bool CFindStrFormFile::Open(const wchar_t* path) {
  Close();
  if (!path) return false;
  file_.reset(CreateFileW(path, GENERIC_READ, 0, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL,
                          nullptr));
  if (!file_) return false;
  LARGE_INTEGER size{};
  if (!GetFileSizeEx(file_.get(), &size) || size.QuadPart <= 0 ||
      static_cast<unsigned long long>(size.QuadPart) > SIZE_MAX) {
    Close();  // an empty file cannot be mapped
    return false;
  }
  mapping_.reset(CreateFileMappingW(file_.get(), nullptr, PAGE_READONLY, 0, 0, nullptr));
  if (!mapping_) {
    Close();
    return false;
  }
  view_.reset(MapViewOfFile(mapping_.get(), FILE_MAP_READ, 0, 0, 0));
  if (!view_) return false;
  size_ = static_cast<size_t>(size.QuadPart);
  encoding_ = EncodingOf(view_.get(), size_);
  return true;
}

bool CFindStrFormFile::Search(const wchar_t* text, MatchEnd end) const {
  if (!text || !view_) return false;
  return SearchFileText(view_.get(), size_, encoding_, text, end);
}

bool CFindStrFormFile::FindInFile(const wchar_t* path, const wchar_t* text, MatchEnd end) {
  if (!Open(path)) return false;
  bool found = Search(text, end);
  Close();
  return found;
}

void CFindStrFormFile::Close() {
  view_.reset();
  mapping_.reset();
  file_.reset();
  size_ = 0;
  encoding_ = kNone;
}

bool FileTextSearch::FindInFile(const wchar_t* path, const wchar_t* text, MatchEnd end) {
  if (!path || !text) return false;
  UniqueFile file(CreateFileW(path, GENERIC_READ, 0, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL,
                              nullptr));
  if (!file) return false;
  LARGE_INTEGER size{};
  if (!GetFileSizeEx(file.get(), &size) || size.QuadPart <= 0) return false;
  const unsigned long long bytes = static_cast<unsigned long long>(size.QuadPart);
  if (bytes > capacity_ && bytes <= mapAbove_) {
    buffer_.reset(new (std::nothrow) wchar_t[(bytes + 1) / sizeof(wchar_t)]);
    capacity_ = buffer_ ? static_cast<size_t>(bytes) : 0;
  }
  if (bytes > capacity_) {
    file.reset();  // the mapping opens the file itself, unshared
    return mapped_.FindInFile(path, text, end);
  }
  auto* data = reinterpret_cast<char*>(buffer_.get());
  size_t done = 0;
  while (done < bytes) {
    DWORD read = 0;
    if (!ReadFile(file.get(), data + done, static_cast<DWORD>(bytes - done), &read, nullptr)) return false;
    if (read == 0) break;  // the file shrank meanwhile: its text is what it still holds
    done += read;
  }
  if (done == 0) return false;
  return SearchFileText(data, done, EncodingOf(data, done), text, end);
}

}  // namespace kyd
