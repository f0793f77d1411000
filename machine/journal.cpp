#include "machine/journal.h"

#include <algorithm>
#include <cwchar>
#include <set>

#include "machine/machine.h"
#include "machine/seal.h"
#include "platform/env.h"
#include "platform/handle.h"

namespace kyd::machine::journal {
namespace {

constexpr wchar_t kHexDigits[] = L"0123456789abcdef";

int HexValue(wchar_t c) {
  if (c >= L'0' && c <= L'9') return c - L'0';
  if (c >= L'a' && c <= L'f') return c - L'a' + 10;
  if (c >= L'A' && c <= L'F') return c - L'A' + 10;
  return -1;
}

bool ParseHexNumber(const std::wstring& text, uint64_t& value) {
  if (text.empty() || text.size() > 16) return false;
  value = 0;
  for (wchar_t c : text) {
    int digit = HexValue(c);
    if (digit < 0) return false;
    value = value << 4 | static_cast<uint64_t>(digit);
  }
  return true;
}

std::vector<std::wstring> Split(const std::wstring& text, wchar_t separator) {
  std::vector<std::wstring> parts;
  size_t start = 0;
  for (;;) {
    size_t at = text.find(separator, start);
    parts.push_back(text.substr(start, at == std::wstring::npos ? std::wstring::npos : at - start));
    if (at == std::wstring::npos) return parts;
    start = at + 1;
  }
}

// The lines of a material text, each split at its tabs.
std::vector<std::vector<std::wstring>> Records(const std::string& text) {
  std::vector<std::vector<std::wstring>> records;
  for (const std::string& line : TextLines(text)) records.push_back(Split(FromUtf8(line), L'\t'));
  return records;
}

std::wstring Checksum(const std::string& text) {
  return HexNumber(Fnv64(text.data(), text.size()) & 0xFFFFFFFFu, 8);
}

uint64_t FromFileTime(const FILETIME& time) {
  return static_cast<uint64_t>(time.dwHighDateTime) << 32 | time.dwLowDateTime;
}

FILETIME ToFileTime(uint64_t value) {
  FILETIME time;
  time.dwHighDateTime = static_cast<DWORD>(value >> 32);
  time.dwLowDateTime = static_cast<DWORD>(value);
  return time;
}

}  // namespace

// ------------------------------------------------------------- text

std::vector<std::string> TextLines(const std::string& text) {
  std::vector<std::string> lines;
  size_t start = 0;
  while (start < text.size()) {
    size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    std::string line = text.substr(start, end - start);
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (!line.empty()) lines.push_back(line);
    start = end + 1;
  }
  return lines;
}

std::wstring Escape(const std::wstring& text) {
  std::wstring out;
  out.reserve(text.size());
  for (size_t i = 0; i < text.size(); ++i) {
    wchar_t c = text[i];
    bool high = c >= 0xD800 && c <= 0xDBFF;
    bool low = c >= 0xDC00 && c <= 0xDFFF;
    if (high && i + 1 < text.size() && text[i + 1] >= 0xDC00 && text[i + 1] <= 0xDFFF) {
      out += c;
      out += text[++i];
    } else if (high || low) {  // a lone surrogate would not survive UTF-8
      out += L"%u" + HexNumber(c, 4);
    } else if (c < 0x20 || c == 0x7F || c == L'%') {
      out += L"%" + HexNumber(c, 2);
    } else {
      out += c;
    }
  }
  return out;
}

bool Unescape(const std::wstring& text, std::wstring& out) {
  out.clear();
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] != L'%') {
      out += text[i];
      continue;
    }
    size_t digits = i + 1 < text.size() && text[i + 1] == L'u' ? 4 : 2;
    size_t start = i + 1 + (digits == 4 ? 1 : 0);
    uint64_t value = 0;
    if (start + digits > text.size() || !ParseHexNumber(text.substr(start, digits), value)) return false;
    out += static_cast<wchar_t>(value);
    i = start + digits - 1;
  }
  return true;
}

std::wstring Hex(const void* data, size_t size) {
  const auto* bytes = static_cast<const BYTE*>(data);
  std::wstring out;
  out.reserve(size * 2);
  for (size_t i = 0; i < size; ++i) {
    out += kHexDigits[bytes[i] >> 4];
    out += kHexDigits[bytes[i] & 0xF];
  }
  return out;
}

bool FromHex(const std::wstring& text, std::vector<BYTE>& out) {
  out.clear();
  if (text.size() % 2 != 0) return false;
  out.reserve(text.size() / 2);
  for (size_t i = 0; i < text.size(); i += 2) {
    int high = HexValue(text[i]), low = HexValue(text[i + 1]);
    if (high < 0 || low < 0) return false;
    out.push_back(static_cast<BYTE>(high << 4 | low));
  }
  return true;
}

std::wstring HexNumber(uint64_t value, int digits) {
  std::wstring out(static_cast<size_t>(digits), L'0');
  for (int i = digits - 1; i >= 0; --i, value >>= 4) out[static_cast<size_t>(i)] = kHexDigits[value & 0xF];
  return out;
}

uint64_t Fnv64(const void* data, size_t size, uint64_t state) {
  const auto* bytes = static_cast<const BYTE*>(data);
  for (size_t i = 0; i < size; ++i) {
    state ^= bytes[i];
    state *= 0x100000001b3ULL;
  }
  return state;
}

std::wstring UpperCase(const std::wstring& text) {
  std::wstring out = text;
  if (!out.empty()) CharUpperBuffW(out.data(), static_cast<DWORD>(out.size()));
  return out;
}

// ------------------------------------------------------------- manifest

Line& Line::Set(const std::wstring& key, const std::wstring& value) {
  for (auto& field : fields) {
    if (field.first == key) {
      field.second = value;
      return *this;
    }
  }
  fields.emplace_back(key, value);
  return *this;
}

std::wstring Line::Get(const std::wstring& key) const {
  for (const auto& field : fields)
    if (field.first == key) return field.second;
  return {};
}

bool Line::Has(const std::wstring& key) const {
  for (const auto& field : fields)
    if (field.first == key) return true;
  return false;
}

std::string Format(const Line& line, const Seal* seal) {
  std::wstring text = std::to_wstring(line.number) + L"\t" + line.verb + L"\t" + Escape(line.target);
  for (const auto& field : line.fields) text += L"\t" + field.first + L"=" + Escape(field.second);
  std::string utf8 = ToUtf8(text);
  if (seal) utf8 += "\t@" + ToUtf8(seal->Of(Seal::kLine, utf8));
  return utf8 + "\t~" + ToUtf8(Checksum(utf8));
}

bool Parse(const std::string& text, Line& line) {
  size_t mark = text.rfind("\t~");
  if (mark == std::string::npos || text.size() != mark + 10) return false;
  std::string body = text.substr(0, mark);
  if (ToUtf8(Checksum(body)) != text.substr(mark + 2)) return false;
  line = Line();
  // The seal comes last, after the target: "@" and 40 hex digits.
  size_t sealMark = body.rfind("\t@");
  if (sealMark != std::string::npos && body.size() == sealMark + 42 &&
      std::count(body.begin(), body.begin() + static_cast<ptrdiff_t>(sealMark), '\t') >= 2 &&
      body.find_first_not_of("0123456789abcdef", sealMark + 2) == std::string::npos) {
    line.seal = FromUtf8(body.substr(sealMark + 2));
    body.resize(sealMark);
    line.sealed = body;
  }
  std::vector<std::wstring> parts = Split(FromUtf8(body), L'\t');
  if (parts.size() < 3 || parts[0].empty() || parts[0].size() > 9) return false;
  for (wchar_t c : parts[0]) {
    if (c < L'0' || c > L'9') return false;
    line.number = line.number * 10 + (c - L'0');
  }
  line.verb = parts[1];
  if (line.verb.empty() || !Unescape(parts[2], line.target)) return false;
  for (size_t i = 3; i < parts.size(); ++i) {
    size_t equals = parts[i].find(L'=');
    std::wstring value;
    if (equals == std::wstring::npos || equals == 0 || !Unescape(parts[i].substr(equals + 1), value))
      return false;
    line.fields.emplace_back(parts[i].substr(0, equals), value);
  }
  return true;
}

bool Sealed(const Line& line, const Seal& seal) {
  return !line.seal.empty() && line.seal == seal.Of(Seal::kLine, line.sealed);
}

bool ReadManifest(const std::wstring& folder, Manifest& manifest) {
  std::string bytes;
  if (!ReadWholeFile(folder + L"\\" + kManifestName, bytes)) return false;
  manifest = Manifest();
  for (const std::string& text : TextLines(bytes)) {
    if (text[0] == '#') {
      if (text.rfind("# mode\t", 0) == 0) manifest.mode = FromUtf8(text.substr(7));
      else if (text.rfind("# id\t", 0) == 0) manifest.id = FromUtf8(text.substr(5));
      else if (text.rfind("# ended", 0) == 0) manifest.ended = true, manifest.endMarker = text;
      continue;
    }
    Line line;
    if (Parse(text, line)) manifest.lines.push_back(line);
    else manifest.damaged.push_back(text);
  }
  return true;
}

std::string FormatEnd(const std::string& time, int last, const Seal* seal) {
  std::string text = "# ended\t" + time + "\tlast " + std::to_string(last);
  if (seal) text += "\t@" + ToUtf8(seal->Of(Seal::kLine, text));
  return text;
}

bool SealedEnd(const Manifest& manifest, const Seal& seal, int& last) {
  const std::string& text = manifest.endMarker;
  const size_t mark = text.rfind("\t@"), number = text.rfind("\tlast ", mark);
  if (mark == std::string::npos || number == std::string::npos) return false;
  const std::string body = text.substr(0, mark);
  if (ToUtf8(seal.Of(Seal::kLine, body)) != text.substr(mark + 2)) return false;
  const std::string digits = body.substr(number + 6);
  if (digits.empty() || digits.size() > 9 || digits.find_first_not_of("0123456789") != std::string::npos) return false;
  last = std::stoi(digits);
  return true;
}

namespace {

// "1, 4-6": numbers in ascending order, runs joined.
std::wstring Runs(const std::vector<int>& numbers) {
  std::wstring text;
  for (size_t i = 0; i < numbers.size();) {
    size_t end = i;
    while (end + 1 < numbers.size() && numbers[end + 1] == numbers[end] + 1) ++end;
    text += (text.empty() ? L"" : L", ") + std::to_wstring(numbers[i]) +
            (end > i ? L"-" + std::to_wstring(numbers[end]) : L"");
    i = end + 1;
  }
  return text;
}

}  // namespace

std::wstring WhatIsMissing(const Manifest& manifest, const std::vector<Line>& sealed, const std::set<int>& refused,
                           const Seal& seal) {
  std::set<int> seen;
  std::vector<int> twice;
  int highest = 0;
  for (const Line& line : sealed) {
    if (!seen.insert(line.number).second) twice.push_back(line.number);
    highest = std::max(highest, line.number);
  }
  std::sort(twice.begin(), twice.end());
  twice.erase(std::unique(twice.begin(), twice.end()), twice.end());
  int last = 0;
  const bool ended = SealedEnd(manifest, seal, last);
  std::vector<int> missing;
  for (int number = 1; number <= std::max(highest, ended ? last : 0); ++number)
    if (!seen.count(number) && !refused.count(number)) missing.push_back(number);
  std::wstring text;
  if (!missing.empty())
    text += L"# missing\tline(s) " + Runs(missing) + L" not in the journal: taken out, or never written\r\n";
  if (!twice.empty()) text += L"# repeated\tline(s) " + Runs(twice) + L" stand more than once\r\n";
  if (!ended)
    text += L"# unended\tno end marker of this journal: the run was cut short (the lines there are restored) "
            L"or lines were taken from its end\r\n";
  else if (highest > last)
    text += L"# unended\tlines after the end marker's last line " + std::to_wstring(last) + L"\r\n";
  return text;
}

bool AppendText(const std::wstring& path, const std::string& text) {
  UniqueFile file(CreateFileW(path.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE,
                              nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file) return false;
  std::string whole = text + "\r\n";
  DWORD written = 0;
  return WriteFile(file.get(), whole.data(), static_cast<DWORD>(whole.size()), &written, nullptr) &&
         written == whole.size();
}

// ------------------------------------------------------------- material

std::string FormatValues(const std::vector<SavedValue>& values) {
  std::wstring text;
  for (const SavedValue& value : values) {
    text += L"value\t" + Escape(value.name) + L"\t" + std::to_wstring(value.type) + L"\t" +
            Hex(value.data.data(), value.data.size()) + L"\r\n";
  }
  return ToUtf8(text);
}

bool ParseValues(const std::string& text, std::vector<SavedValue>& values) {
  values.clear();
  for (const std::vector<std::wstring>& parts : Records(text)) {
    SavedValue value;
    if (parts.size() != 4 || parts[0] != L"value" || !Unescape(parts[1], value.name) ||
        parts[2].empty() || parts[2].find_first_not_of(L"0123456789") != std::wstring::npos ||
        !FromHex(parts[3], value.data))
      return false;
    value.type = static_cast<DWORD>(std::wcstoul(parts[2].c_str(), nullptr, 10));
    values.push_back(std::move(value));
  }
  return true;
}

std::string FormatIndex(const std::vector<SavedItem>& items, const std::vector<SavedLink>& links) {
  std::wstring text;
  for (const SavedLink& link : links)
    text += L"link\t" + Escape(link.path) + L"\t" + (link.leadsTo.empty() ? L"-" : Escape(link.leadsTo)) + L"\r\n";
  for (const SavedItem& item : items) {
    std::wstring data = item.data.empty() ? L"-" : item.data;
    if (item.folder) {
      text += L"folder\t" + Escape(item.path) + L"\t" + HexNumber(item.attributes, 8) + L"\t" + data + L"\t" +
              (item.mac.empty() ? L"-" : item.mac);
    } else {
      text += L"file\t" + Escape(item.path) + L"\t" + HexNumber(item.attributes, 8) + L"\t" +
              HexNumber(FromFileTime(item.created), 16) + L"\t" +
              HexNumber(FromFileTime(item.written), 16) + L"\t" + HexNumber(item.size, 16) + L"\t" + item.mac +
              L"\t" + data;
    }
    text += L"\r\n";
  }
  return ToUtf8(text);
}

bool ParseIndex(const std::string& text, std::vector<SavedItem>& items, std::vector<SavedLink>* links) {
  items.clear();
  if (links) links->clear();
  for (const std::vector<std::wstring>& parts : Records(text)) {
    if (parts.size() == 3 && parts[0] == L"link") {
      SavedLink link;
      if (!Unescape(parts[1], link.path) || (parts[2] != L"-" && !Unescape(parts[2], link.leadsTo))) return false;
      if (links) links->push_back(std::move(link));
      continue;
    }
    SavedItem item;
    uint64_t attributes = 0, created = 0, written = 0;
    if (parts.size() == 5 && parts[0] == L"folder") {
      item.folder = true;
      if (!Unescape(parts[1], item.path) || !ParseHexNumber(parts[2], attributes)) return false;
      if ((parts[3] == L"-") != (parts[4] == L"-")) return false;  // link data comes with its seal
      if (parts[3] != L"-") item.data = parts[3], item.mac = parts[4];
    } else if (parts.size() == 8 && parts[0] == L"file") {
      if (!Unescape(parts[1], item.path) || !ParseHexNumber(parts[2], attributes) ||
          !ParseHexNumber(parts[3], created) || !ParseHexNumber(parts[4], written) ||
          !ParseHexNumber(parts[5], item.size) || parts[6].empty() || parts[7] == L"-")
        return false;
      item.mac = parts[6];
      item.data = parts[7];
      item.created = ToFileTime(created);
      item.written = ToFileTime(written);
    } else {
      return false;
    }
    // A data file name is one plain name inside the set's folder.
    if (item.data.find_first_of(L"\\/:") != std::wstring::npos || item.data == L"..") return false;
    item.attributes = static_cast<DWORD>(attributes);
    items.push_back(std::move(item));
  }
  return true;
}

bool ReadWholeFile(const std::wstring& path, std::string& bytes) {
  UniqueFile file(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                              OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file) return false;
  bytes.clear();
  char buffer[65536];
  DWORD read = 0;
  while (ReadFile(file.get(), buffer, sizeof buffer, &read, nullptr) && read > 0) bytes.append(buffer, read);
  return true;
}

bool WriteNewFile(const std::wstring& path, const void* data, size_t size) {
  UniqueFile file(CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                              FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file) return false;
  DWORD written = 0;
  bool ok = size == 0 || (WriteFile(file.get(), data, static_cast<DWORD>(size), &written, nullptr) &&
                          written == size);
  file.reset();
  if (!ok) DeleteFileW(path.c_str());  // a half-written copy is no copy
  return ok;
}

std::wstring MaterialName(int number, const wchar_t* extension) {
  wchar_t text[16];
  _snwprintf(text, 15, L"%06d", number);
  text[15] = L'\0';
  return std::wstring(text) + extension;
}

// ------------------------------------------------------------- registry names

std::wstring KeyName(HKEY key) {
  // NtQueryKey's KeyNameInformation (class 3) names the key a handle really
  // refers to: HKEY_CLASSES_ROOT, HKEY_CURRENT_USER, redirected 32-bit keys
  // and linked control sets all resolve to where the key lives.
  using NtQueryKeyFn = LONG(WINAPI*)(HANDLE, int, void*, ULONG, ULONG*);
  static const NtQueryKeyFn query = reinterpret_cast<NtQueryKeyFn>(
      reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "NtQueryKey")));
  if (key == HKEY_LOCAL_MACHINE) return L"HKLM";
  if (key == HKEY_USERS) return L"HKU";
  if (!query) return {};
  std::vector<BYTE> buffer(1024);
  for (int attempt = 0; attempt < 4; ++attempt) {
    ULONG needed = 0;
    LONG status = query(key, 3, buffer.data(), static_cast<ULONG>(buffer.size()), &needed);
    if (status >= 0) {
      ULONG bytes = *reinterpret_cast<const ULONG*>(buffer.data());
      if (bytes > buffer.size() - sizeof(ULONG)) return {};
      std::wstring name(reinterpret_cast<const wchar_t*>(buffer.data() + sizeof(ULONG)),
                        bytes / sizeof(wchar_t));
      static const std::pair<const wchar_t*, const wchar_t*> kRoots[] = {
          {L"\\REGISTRY\\MACHINE", L"HKLM"}, {L"\\REGISTRY\\USER", L"HKU"}};
      for (const auto& root : kRoots) {
        size_t length = std::wcslen(root.first);
        if (name.size() >= length && _wcsnicmp(name.c_str(), root.first, length) == 0 &&
            (name.size() == length || name[length] == L'\\'))
          return root.second + name.substr(length);
      }
      return {};
    }
    if (needed <= buffer.size()) return {};
    buffer.assign(needed + sizeof(wchar_t), 0);
  }
  return {};
}

bool SplitKeyName(const std::wstring& name, HKEY& root, std::wstring& path) {
  static const std::pair<const wchar_t*, HKEY> kRoots[] = {{L"HKLM", HKEY_LOCAL_MACHINE},
                                                           {L"HKU", HKEY_USERS}};
  for (const auto& candidate : kRoots) {
    size_t length = std::wcslen(candidate.first);
    if (name.compare(0, length, candidate.first) != 0) continue;
    if (name.size() == length) {
      path.clear();
    } else if (name[length] == L'\\' && name.size() > length + 1) {
      path = name.substr(length + 1);
    } else {
      continue;
    }
    root = candidate.second;
    return true;
  }
  return false;
}

std::wstring ViewOf(const std::wstring& name) {
#ifdef _WIN64
  const bool windows64 = true;
#else
  const bool windows64 = IsWow64() != FALSE;
#endif
  if (!windows64) return L"32";
  std::wstring upper = UpperCase(name) + L"\\";
  return upper.find(L"\\WOW6432NODE\\") != std::wstring::npos ? L"32" : L"64";
}

// ------------------------------------------------------------- shared with restore

NativePaths::NativePaths(bool wanted) {
#ifndef _WIN64
  if (!wanted || !IsWow64()) return;
  using DisableFn = BOOL(WINAPI*)(void**);
  auto disable = reinterpret_cast<DisableFn>(reinterpret_cast<void*>(
      GetProcAddress(GetModuleHandleW(L"kernel32.dll"), "Wow64DisableWow64FsRedirection")));
  active_ = disable && disable(&old_);
#else
  (void)wanted;
#endif
}

NativePaths::~NativePaths() {
  if (!active_) return;
  using RevertFn = BOOL(WINAPI*)(void*);
  auto revert = reinterpret_cast<RevertFn>(reinterpret_cast<void*>(
      GetProcAddress(GetModuleHandleW(L"kernel32.dll"), "Wow64RevertWow64FsRedirection")));
  if (revert) revert(old_);
}

LONG DeleteKeyIn(HKEY parent, const std::wstring& path, REGSAM view) {
  // RegDeleteKeyW of a 32-bit process deletes in the 32-bit view on 64-bit
  // Windows; RegDeleteKeyExW (XP x64 and later) names the view. 32-bit
  // Windows XP lacks it and has only the one view anyway.
  using DeleteKeyExFn = LONG(WINAPI*)(HKEY, LPCWSTR, REGSAM, DWORD);
  static const DeleteKeyExFn deleteKeyEx = reinterpret_cast<DeleteKeyExFn>(reinterpret_cast<void*>(
      GetProcAddress(GetModuleHandleW(L"advapi32.dll"), "RegDeleteKeyExW")));
  if (deleteKeyEx) return deleteKeyEx(parent, path.c_str(), view, 0);
  return RegDeleteKeyW(parent, path.c_str());
}

}  // namespace kyd::machine::journal
