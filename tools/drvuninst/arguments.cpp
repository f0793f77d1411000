#include "tools/drvuninst/arguments.h"

#include <windows.h>

namespace drvuninst {
namespace {

constexpr size_t kMaxDeviceIdLength = 199;  // MAX_DEVICE_ID_LEN, less its terminator

std::wstring CodePoint(wchar_t c) {
  const wchar_t* digits = L"0123456789ABCDEF";
  std::wstring text = L"U+";
  for (int shift = 12; shift >= 0; shift -= 4) text += digits[(c >> shift) & 0xF];
  return text;
}

}  // namespace

bool IsHexDigit(wchar_t c) {
  return (c >= L'0' && c <= L'9') || (c >= L'A' && c <= L'F') || (c >= L'a' && c <= L'f');
}

std::wstring HardwareIdProblem(const std::wstring& id) {
  if (id.empty()) return L"the hardware ID is empty";
  if (id.size() > kMaxDeviceIdLength)
    return L"the hardware ID is longer than a device ID can be (" +
           std::to_wstring(kMaxDeviceIdLength) + L" characters)";
  for (size_t i = 0; i < id.size(); ++i) {
    if (id[i] <= 0x20 || id[i] > 0x7F || id[i] == L',')
      return L"the hardware ID holds a character a device ID cannot hold (" + CodePoint(id[i]) +
             L" at position " + std::to_wstring(i + 1) +
             L"); device IDs are printable ASCII without blanks or commas";
  }
  return {};
}

std::wstring ClassGuidProblem(const std::wstring& guid) {
  bool ok = guid.size() == 38 && guid.front() == L'{' && guid.back() == L'}';
  for (size_t i = 1; ok && i < 37; ++i)
    ok = (i == 9 || i == 14 || i == 19 || i == 24) ? guid[i] == L'-' : IsHexDigit(guid[i]);
  if (ok) return {};
  return L"\"" + guid +
         L"\" is not a setup class GUID; write it in braces, as "
         L"{4D36E968-E325-11CE-BFC1-08002BE10318}";
}

std::wstring FolderProblem(const std::wstring& folder) {
  return folder.empty() ? L"the journal folder is empty text" : L"";
}

std::wstring VendorProblem(const std::wstring& vendor) {
  bool ok = vendor.size() == 8 && _wcsnicmp(vendor.c_str(), L"VEN_", 4) == 0;
  for (size_t i = 4; ok && i < 8; ++i) ok = IsHexDigit(vendor[i]);
  if (ok) return {};
  return L"\"" + vendor + L"\" is not a PCI vendor; write it as VEN_ and four hex digits, as VEN_10DE";
}

}  // namespace drvuninst
