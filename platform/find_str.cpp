#include "platform/find_str.h"

#include <shlwapi.h>

#include <cstring>
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

// Naive search with a first-character filter; texts are INF files and
// registry strings, keys are short, so this runs at memory speed.
template <typename Char, typename Fold>
bool BoundedSearch(const Char* text, size_t length, const Char* part, Fold fold) {
  size_t partLength = 0;
  while (part[partLength]) ++partLength;
  // The text ends at its first NUL or at the end of the range.
  size_t end = 0;
  if constexpr (sizeof(Char) == 1) {
    const void* nul = std::memchr(text, 0, length);
    end = nul ? static_cast<size_t>(static_cast<const Char*>(nul) - text) : length;
  } else {
    while (end < length && text[end]) ++end;
  }
  if (partLength == 0) return true;
  if (partLength > end) return false;
  std::vector<Char> folded(partLength);
  for (size_t i = 0; i < partLength; ++i) folded[i] = fold(part[i]);
  const Char first = folded[0];
  const size_t last = end - partLength;
  for (size_t i = 0; i <= last; ++i) {
    if (fold(text[i]) != first) continue;
    size_t k = 1;
    while (k < partLength && fold(text[i + k]) == folded[k]) ++k;
    if (k == partLength) return true;
  }
  return false;
}

}  // namespace

const wchar_t* SafeStrStrIW(const wchar_t* text, const wchar_t* part) {
  if (!text || !part) return nullptr;
  return StrStrIW(text, part);
}

bool BoundedStrStrIA(const char* text, size_t length, const char* part) {
  if (!text || !part) return false;
  return BoundedSearch(text, length, part, FoldA);
}

bool BoundedStrStrIW(const wchar_t* text, size_t length, const wchar_t* part) {
  if (!text || !part) return false;
  return BoundedSearch(text, length, part, FoldW);
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
  const auto* bytes = static_cast<const unsigned char*>(view_.get());
  unsigned char head[3] = {};
  std::memcpy(head, bytes, size_ < 3 ? size_ : 3);
  if (head[0] == 0xFF && head[1] == 0xFE) {
    encoding_ = kUtf16Le;
  } else if (head[0] == 0xFE && head[1] == 0xFF) {
    encoding_ = kUtf16Be;
  } else if (head[0] == 0xEF && head[1] == 0xBB && head[2] == 0xBF) {
    encoding_ = kUtf8;
  } else {
    encoding_ = kNone;
  }
  return true;
}

bool CFindStrFormFile::Search(const wchar_t* text) const {
  if (!text || !view_) return false;
  if (encoding_ == kUtf16Le || encoding_ == kUtf16Be) {
    // The byte-order mark is part of the searched text; big-endian files get
    // the same little-endian comparison.
    return BoundedStrStrIW(static_cast<const wchar_t*>(view_.get()), size_ / sizeof(wchar_t), text);
  }
  int needed = WideCharToMultiByte(CP_ACP, 0, text, -1, nullptr, 0, nullptr, nullptr);
  if (needed <= 0) return false;
  std::string narrow(static_cast<size_t>(needed), '\0');
  WideCharToMultiByte(CP_ACP, 0, text, -1, narrow.data(), needed, nullptr, nullptr);
  return BoundedStrStrIA(static_cast<const char*>(view_.get()), size_, narrow.c_str());
}

bool CFindStrFormFile::FindInFile(const wchar_t* path, const wchar_t* text) {
  if (!Open(path)) return false;
  bool found = Search(text);
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

}  // namespace kyd
