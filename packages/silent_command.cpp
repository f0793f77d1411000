#include "packages/silent_command.h"

#include <cstdint>
#include <cstring>
#include <vector>

#include "packages/app_package.h"
#include "packages/silent_runner.h"
#include "platform/env.h"
#include "platform/handle.h"

namespace kyd {
namespace {

// What an uninstaller of no known kind is given; the ones written for such
// hosts take it.
constexpr wchar_t kGenericSwitch[] = L" -s";
// NSIS: "/S" (upper case) runs an uninstaller silently; "_?=" must be the
// last parameter, as it takes the rest of the line.
constexpr wchar_t kNsisSwitch[] = L" /S";
constexpr wchar_t kNsisLastParameter[] = L" _?=";
// Inno Setup: no wizard, no progress window, no message boxes, no restart.
constexpr wchar_t kInnoSwitches[] = L" /VERYSILENT /SUPPRESSMSGBOXES /NORESTART";
// Windows Installer: the system's own msiexec removes the product ("/x"),
// without a user interface and without restarting Windows.
constexpr wchar_t kInstallerProgram[] = L"\\msiexec.exe";
constexpr wchar_t kInstallerRemove[] = L" /x ";
constexpr wchar_t kInstallerQuiet[] = L" /qn /norestart";

// NSIS puts its data header (flags, signature, "NullsoftInst", two sizes) at
// a 512-byte boundary after the program image; flag 1 marks an uninstaller.
constexpr size_t kNsisAlignment = 512;
constexpr size_t kNsisScanBytes = 1024 * 1024;
constexpr uint32_t kNsisSignature = 0xDEADBEEF;
constexpr char kNsisMagic[] = "NullsoftInst";
constexpr uint32_t kNsisUninstallerFlag = 1;
constexpr size_t kNsisHeaderBytes = 28;

// Inno Setup keeps what its uninstaller undoes in a log beside it, named
// like it with ".dat", which starts with this text.
constexpr char kInnoLogMagic[] = "Inno Setup Uninstall Log (";

constexpr size_t kPeHeadBytes = 8192;

bool IsBlank(wchar_t c) { return c == L' ' || c == L'\t'; }

bool EqualsNoCase(const std::wstring& a, const wchar_t* b) { return _wcsicmp(a.c_str(), b) == 0; }

// The first word of a command line (quoted or not) and where the rest starts.
struct Word {
  std::wstring text;
  bool quoted = false;
  size_t rest = 0;
};
Word FirstWord(const std::wstring& line) {
  size_t begin = 0;
  while (begin < line.size() && IsBlank(line[begin])) ++begin;
  if (begin < line.size() && line[begin] == L'"') {
    size_t close = line.find(L'"', begin + 1);
    if (close == std::wstring::npos) close = line.size();
    return {line.substr(begin + 1, close - begin - 1), true, close < line.size() ? close + 1 : close};
  }
  size_t end = begin;
  while (end < line.size() && !IsBlank(line[end])) ++end;
  return {line.substr(begin, end - begin), false, end};
}

bool IsAsciiLetter(wchar_t c) { return (c | 0x20) >= L'a' && (c | 0x20) <= L'z'; }

bool IsHex(wchar_t c) { return (c >= L'0' && c <= L'9') || ((c | 0x20) >= L'a' && (c | 0x20) <= L'f'); }

// "{XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}" at text[at]; its length or 0.
size_t GuidAt(const std::wstring& text, size_t at) {
  static constexpr size_t kGroups[] = {8, 4, 4, 4, 12};
  size_t i = at;
  if (i >= text.size() || text[i++] != L'{') return 0;
  for (size_t group = 0; group < 5; ++group) {
    for (size_t n = 0; n < kGroups[group]; ++n, ++i)
      if (i >= text.size() || !IsHex(text[i])) return 0;
    if (group < 4 && (i >= text.size() || text[i++] != L'-')) return 0;
  }
  if (i >= text.size() || text[i++] != L'}') return 0;
  return i - at;
}

bool ReadAt(HANDLE file, uint64_t offset, void* buffer, DWORD size, DWORD& read) {
  LARGE_INTEGER position;
  position.QuadPart = static_cast<LONGLONG>(offset);
  read = 0;
  return SetFilePointerEx(file, position, nullptr, FILE_BEGIN) && ReadFile(file, buffer, size, &read, nullptr);
}

template <typename T>
T Field(const std::vector<char>& bytes, size_t at) {
  T value{};
  if (at + sizeof value <= bytes.size()) std::memcpy(&value, bytes.data() + at, sizeof value);
  return value;
}

// Where the data appended to a program image begins: the end of its last
// section in the file; 0 when the file is not a program image.
uint64_t ImageEnd(HANDLE file) {
  std::vector<char> head(kPeHeadBytes);
  DWORD read = 0;
  if (!ReadAt(file, 0, head.data(), static_cast<DWORD>(head.size()), read)) return 0;
  head.resize(read);
  if (head.size() < 0x40 || head[0] != 'M' || head[1] != 'Z') return 0;
  const size_t pe = Field<uint32_t>(head, 0x3C);
  if (pe + 24 > head.size() || Field<uint32_t>(head, pe) != 0x00004550) return 0;  // "PE\0\0"
  const size_t sections = Field<uint16_t>(head, pe + 6);
  const size_t table = pe + 24 + Field<uint16_t>(head, pe + 20);
  if (table + sections * 40 > head.size()) return 0;
  uint64_t end = 0;
  for (size_t i = 0; i < sections; ++i) {
    const size_t section = table + i * 40;
    const uint64_t last = uint64_t{Field<uint32_t>(head, section + 20)} + Field<uint32_t>(head, section + 16);
    if (last > end) end = last;
  }
  return end;
}

bool IsNsisUninstaller(HANDLE file, uint64_t imageEnd) {
  const uint64_t start = (imageEnd + kNsisAlignment - 1) / kNsisAlignment * kNsisAlignment;
  std::vector<char> data(kNsisScanBytes + kNsisHeaderBytes);
  DWORD read = 0;
  if (!ReadAt(file, start, data.data(), static_cast<DWORD>(data.size()), read)) return false;
  data.resize(read);
  for (size_t at = 0; at + kNsisHeaderBytes <= data.size(); at += kNsisAlignment) {
    if (Field<uint32_t>(data, at + 4) != kNsisSignature ||
        std::memcmp(data.data() + at + 8, kNsisMagic, sizeof kNsisMagic - 1) != 0)
      continue;
    return (Field<uint32_t>(data, at) & kNsisUninstallerFlag) != 0;  // else an NSIS installer
  }
  return false;
}

bool HasInnoLog(const std::wstring& program) {
  const size_t dot = program.find_last_of(L".\\");
  if (dot == std::wstring::npos || program[dot] != L'.') return false;
  const std::wstring log = program.substr(0, dot) + L".dat";
  UniqueFile file(CreateFileW(log.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                              nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file) return false;
  char head[sizeof kInnoLogMagic - 1] = {};
  DWORD read = 0;
  return ReadAt(file.get(), 0, head, sizeof head, read) && read == sizeof head &&
         std::memcmp(head, kInnoLogMagic, sizeof head) == 0;
}

std::wstring WithNsisSwitch(const std::wstring& line) {
  const size_t last = line.find(kNsisLastParameter);
  if (last == std::wstring::npos) return line + kNsisSwitch;
  return line.substr(0, last) + kNsisSwitch + line.substr(last);
}

}  // namespace

bool IsWindowsInstallerLine(const std::wstring& commandLine) {
  const Word program = FirstWord(commandLine);
  const size_t slash = program.text.find_last_of(L"\\/");
  const std::wstring name = slash == std::wstring::npos ? program.text : program.text.substr(slash + 1);
  return EqualsNoCase(name, L"msiexec.exe") || EqualsNoCase(name, L"msiexec");
}

bool WindowsInstallerProductCode(const std::wstring& commandLine, std::wstring& productCode) {
  if (!IsWindowsInstallerLine(commandLine)) return false;
  const size_t rest = FirstWord(commandLine).rest;
  for (size_t at = rest; at + 1 < commandLine.size(); ++at) {
    const wchar_t c = commandLine[at];
    if ((c != L'/' && c != L'-') || (at > rest && !IsBlank(commandLine[at - 1]))) continue;
    size_t end = at + 1;
    while (end < commandLine.size() && IsAsciiLetter(commandLine[end])) ++end;
    const std::wstring option = commandLine.substr(at + 1, end - at - 1);
    if (!EqualsNoCase(option, L"i") && !EqualsNoCase(option, L"x") && !EqualsNoCase(option, L"uninstall")) continue;
    size_t code = end;
    while (code < commandLine.size() && IsBlank(commandLine[code])) ++code;
    if (code < commandLine.size() && commandLine[code] == L'"') ++code;
    if (const size_t length = GuidAt(commandLine, code)) {
      productCode = commandLine.substr(code, length);
      return true;
    }
    return false;  // a package file, or a switch that is not ours
  }
  return false;
}

std::wstring ProgramOf(const std::wstring& commandLine) {
  const Word first = FirstWord(commandLine);
  std::wstring program = first.text;
  if (!first.quoted) {
    const ProgramCommand resolved = ResolveUninstallCommand(commandLine);
    if (!resolved.applicationName.empty()) program = resolved.applicationName;
  }
  return IsAbsolutePath(program) ? program : std::wstring();
}

UninstallerKind KindOfUninstaller(const std::wstring& program) {
  if (program.empty()) return UninstallerKind::kUnknown;
  UniqueFile file(CreateFileW(program.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                              nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file) return UninstallerKind::kUnknown;
  const uint64_t imageEnd = ImageEnd(file.get());
  if (imageEnd == 0) return UninstallerKind::kUnknown;
  if (IsNsisUninstaller(file.get(), imageEnd)) return UninstallerKind::kNsis;
  if (HasInnoLog(program)) return UninstallerKind::kInnoSetup;
  return UninstallerKind::kUnknown;
}

SilentCommand MakeSilentCommand(const APP_UNSETUP_PACKAGE& record) {
  if (!record.wsQuietUninstString.empty()) return {UninstallerKind::kQuietCommand, record.wsQuietUninstString};
  const std::wstring& registered = record.wsUninstString;
  std::wstring productCode;
  const std::wstring system = GetSystemDir();
  if (IsWindowsInstallerLine(registered)) {
    if (!system.empty() && WindowsInstallerProductCode(registered, productCode))
      return {UninstallerKind::kWindowsInstaller,
              L"\"" + system + kInstallerProgram + L"\"" + kInstallerRemove + productCode + kInstallerQuiet};
    // msiexec takes " -s" for nothing it knows and answers with its usage
    // box, which nobody sees on the private desktop.
    return {UninstallerKind::kInstallerAsRegistered, registered};
  }
  switch (KindOfUninstaller(ProgramOf(registered))) {
    case UninstallerKind::kNsis:
      return {UninstallerKind::kNsis, WithNsisSwitch(registered)};
    case UninstallerKind::kInnoSetup:
      return {UninstallerKind::kInnoSetup, registered + kInnoSwitches};
    default:
      return {UninstallerKind::kUnknown, registered + kGenericSwitch};
  }
}

}  // namespace kyd
