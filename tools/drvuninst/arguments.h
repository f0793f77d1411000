// What drvuninst accepts as a command's values. Each check says what is
// wrong with a value; it is empty when nothing is.
#pragma once

#include <string>

namespace drvuninst {

bool IsHexDigit(wchar_t c);

// What Plug and Play allows in a device ID: printable ASCII without blanks
// and commas, fewer than MAX_DEVICE_ID_LEN characters.
std::wstring HardwareIdProblem(const std::wstring& id);
// Registry form: {XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}.
std::wstring ClassGuidProblem(const std::wstring& guid);
std::wstring FolderProblem(const std::wstring& folder);
// VEN_ and four hex digits.
std::wstring VendorProblem(const std::wstring& vendor);

}  // namespace drvuninst
