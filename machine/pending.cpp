// The list of operations Windows carries out when it starts, and the names
// its entries must use (see pending.h).
#include "machine/pending.h"

#include <cstring>

#include "machine/journal.h"
#include "platform/handle.h"

namespace kyd::machine::pending {

namespace {

constexpr wchar_t kSessionManager[] = L"SYSTEM\\CurrentControlSet\\Control\\Session Manager";
constexpr wchar_t kValue[] = L"PendingFileRenameOperations";
constexpr wchar_t kNtPrefix[] = L"\\??\\";

// `path` itself or anything below it lies below `folder` (both upper case).
bool Below(const std::wstring& path, const std::wstring& folder) {
  return path.size() > folder.size() && path.compare(0, folder.size(), folder) == 0 && path[folder.size()] == L'\\';
}
bool AtOrBelow(const std::wstring& path, const std::wstring& folder) {
  return path == folder || Below(path, folder);
}

}  // namespace

bool Parse(const std::vector<BYTE>& data, std::vector<Operation>& operations) {
  operations.clear();
  if (data.empty()) return true;
  if (data.size() % sizeof(wchar_t) != 0) return false;
  std::wstring text(data.size() / sizeof(wchar_t), L'\0');
  std::memcpy(text.data(), data.data(), data.size());
  if (text.back() != L'\0') return false;
  std::vector<std::wstring> strings;
  for (size_t start = 0; start < text.size();) {
    size_t end = text.find(L'\0', start);
    strings.push_back(text.substr(start, end - start));
    start = end + 1;
  }
  // Pairs, then the list's closing empty string (some writers leave it out).
  if (strings.size() % 2 == 1) {
    if (!strings.back().empty()) return false;
    strings.pop_back();
  }
  for (size_t i = 0; i < strings.size(); i += 2) {
    if (strings[i].empty()) return false;  // an operation names what it acts on
    operations.push_back({strings[i], strings[i + 1]});
  }
  return true;
}

std::vector<BYTE> Format(const std::vector<Operation>& operations) {
  std::wstring text;
  for (const Operation& operation : operations) {
    text += operation.from;
    text += L'\0';
    text += operation.to;
    text += L'\0';
  }
  text += L'\0';
  std::vector<BYTE> data(text.size() * sizeof(wchar_t));
  std::memcpy(data.data(), text.data(), data.size());
  return data;
}

bool DropDeletion(std::vector<Operation>& operations, const std::wstring& path) {
  const std::wstring plain = journal::UpperCase(path), named = journal::UpperCase(kNtPrefix + path);
  for (size_t i = operations.size(); i-- > 0;) {
    if (!operations[i].to.empty()) continue;
    const std::wstring from = journal::UpperCase(operations[i].from);
    if (from != named && from != plain) continue;
    operations.erase(operations.begin() + static_cast<std::ptrdiff_t>(i));
    return true;
  }
  return false;
}

std::wstring NativeNameOf(const std::wstring& path, const std::wstring& system, const std::wstring& wow64) {
  if (system.empty() || wow64.empty()) return path;
  const std::wstring upper = journal::UpperCase(path), folder = journal::UpperCase(system);
  const size_t slash = folder.rfind(L'\\');
  if (slash != std::wstring::npos) {
    const std::wstring sysnative = folder.substr(0, slash) + L"\\SYSNATIVE";
    if (AtOrBelow(upper, sysnative)) return system + path.substr(sysnative.size());
  }
  if (!AtOrBelow(upper, folder)) return path;
  // The folders of System32 that WOW64 shows a 32-bit program as they are.
  for (const wchar_t* exempt : {L"CATROOT", L"CATROOT2", L"DRIVERSTORE", L"DRIVERS\\ETC", L"LOGFILES", L"SPOOL"})
    if (AtOrBelow(upper, folder + L"\\" + exempt)) return path;
  return wow64 + path.substr(folder.size());
}

namespace {

// The list as the key holds it: ERROR_FILE_NOT_FOUND when there is none,
// ERROR_INVALID_DATA when it is no such list.
LONG ReadList(HKEY key, std::vector<Operation>& operations) {
  DWORD type = 0, size = 0;
  LONG status = RegQueryValueExW(key, kValue, nullptr, &type, nullptr, &size);
  if (status != ERROR_SUCCESS) return status;
  std::vector<BYTE> data(size);
  if (size > 0) status = RegQueryValueExW(key, kValue, nullptr, &type, data.data(), &size);
  data.resize(size);
  if (status != ERROR_SUCCESS) return status;
  return type == REG_MULTI_SZ && Parse(data, operations) ? ERROR_SUCCESS : ERROR_INVALID_DATA;
}

}  // namespace

bool Due(const std::wstring& realPath) {
  UniqueKey key;
  std::vector<Operation> operations;
  return RegOpenKeyExW(HKEY_LOCAL_MACHINE, kSessionManager, 0, KEY_QUERY_VALUE | KEY_WOW64_64KEY, key.put()) ==
             ERROR_SUCCESS &&
         ReadList(key.get(), operations) == ERROR_SUCCESS && DropDeletion(operations, realPath);
}

Withdrawal Withdraw(const std::wstring& realPath, DWORD& error) {
  UniqueKey key;
  error = static_cast<DWORD>(RegOpenKeyExW(HKEY_LOCAL_MACHINE, kSessionManager, 0,
                                           KEY_QUERY_VALUE | KEY_SET_VALUE | KEY_WOW64_64KEY, key.put()));
  if (error != ERROR_SUCCESS) return Withdrawal::kFailed;
  std::vector<Operation> operations;
  LONG status = ReadList(key.get(), operations);
  if (status == ERROR_FILE_NOT_FOUND) return Withdrawal::kAbsent;
  if (status != ERROR_SUCCESS) {
    error = static_cast<DWORD>(status);
    return Withdrawal::kFailed;
  }
  if (!DropDeletion(operations, realPath)) return Withdrawal::kAbsent;
  if (operations.empty()) {
    status = RegDeleteValueW(key.get(), kValue);
  } else {
    std::vector<BYTE> data = Format(operations);
    status = RegSetValueExW(key.get(), kValue, 0, REG_MULTI_SZ, data.data(), static_cast<DWORD>(data.size()));
  }
  error = static_cast<DWORD>(status);
  return status == ERROR_SUCCESS ? Withdrawal::kWithdrawn : Withdrawal::kFailed;
}

}  // namespace kyd::machine::pending
