#include "support/device_tool_bench.h"

#include <objbase.h>
#include <setupapi.h>

#include <cstring>
#include <utility>
#include <vector>

#include "platform/base_log.h"
#include "platform/module.h"
#include "platform/handle.h"
#include "support/wine_bench.h"

namespace kydtest {
namespace {

bool GetVariable(const std::wstring& name, std::wstring& value) {
  DWORD n = GetEnvironmentVariableW(name.c_str(), nullptr, 0);
  if (n == 0) return false;
  std::vector<wchar_t> buffer(n + 1, L'\0');
  GetEnvironmentVariableW(name.c_str(), buffer.data(), n + 1);
  value = buffer.data();
  return true;
}

void PutVariable(const std::wstring& name, bool had, const std::wstring& value) {
  SetEnvironmentVariableW(name.c_str(), had ? value.c_str() : nullptr);
}

// REG_SZ values under HKEY_CURRENT_USER\<key>, which is created when missing.
void SetUserStrings(const std::wstring& key,
                    const std::vector<std::pair<std::wstring, std::wstring>>& values) {
  kyd::UniqueKey handle;
  if (RegCreateKeyExW(HKEY_CURRENT_USER, key.c_str(), 0, nullptr, 0, KEY_SET_VALUE, nullptr,
                      handle.put(), nullptr) != ERROR_SUCCESS)
    return;
  for (const auto& [name, value] : values)
    RegSetValueExW(handle.get(), name.c_str(), 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                   static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t)));
}

}  // namespace

std::wstring DeviceToolBuildFile(WORD number) {
  switch (number) {
    case 102: return Ship32Dir() + L"\\kyduninst_x86_nt60.exe";
    case 103: return Ship64Dir() + L"\\kyduninst_x64_nt60.exe";
    case 104: return Ship32Dir() + L"\\kyduninst_x86_nt51.exe";
    case 105: return Ship64Dir() + L"\\kyduninst_x64_nt52.exe";
    default: return {};
  }
}

LibraryResourcesScope::LibraryResourcesScope() : previous_(g_moduleInstance) {
  module_.reset(LoadLibraryExW((DistDir() + L"\\KYDDrvUninst.dll").c_str(), nullptr,
                               LOAD_LIBRARY_AS_DATAFILE));
  if (module_) g_moduleInstance = module_.get();
}

LibraryResourcesScope::~LibraryResourcesScope() { g_moduleInstance = previous_; }

TempFolderScope::TempFolderScope(const std::wstring& folder) {
  hadTmp_ = GetVariable(L"TMP", oldTmp_);
  hadTemp_ = GetVariable(L"TEMP", oldTemp_);
  CreateDirectoryW(folder.c_str(), nullptr);
  SetEnvironmentVariableW(L"TMP", folder.c_str());
  SetEnvironmentVariableW(L"TEMP", folder.c_str());
}

TempFolderScope::~TempFolderScope() {
  PutVariable(L"TMP", hadTmp_, oldTmp_);
  PutVariable(L"TEMP", hadTemp_, oldTemp_);
}

EnvironmentScope::EnvironmentScope(const std::wstring& name, const std::wstring& value)
    : name_(name) {
  had_ = GetVariable(name, old_);
  SetEnvironmentVariableW(name.c_str(), value.c_str());
}

EnvironmentScope::~EnvironmentScope() { PutVariable(name_, had_, old_); }

LogToFile::LogToFile(const std::wstring& path) : path_(path) {
  DeleteFileW(path.c_str());
  open_ = base::BaseLog::Instance()->Enable(path, base::LOG_ALL);
}

LogToFile::~LogToFile() {
  if (open_) base::BaseLog::Instance()->Disable();
}

std::string LogToFile::Finish() {
  if (open_) base::BaseLog::Instance()->Disable();
  open_ = false;
  return ReadFileBytes(path_);
}

WineAppVersion::WineAppVersion(const std::wstring& exeName, const std::wstring& version)
    : key_(L"Software\\Wine\\AppDefaults\\" + exeName) {
  SetUserStrings(key_, {{L"Version", version}});
}

WineAppVersion::~WineAppVersion() { RegDeleteTreeIfPresent(HKEY_CURRENT_USER, key_, false); }

NativeDllsFirst::NativeDllsFirst(const std::wstring& exeName, const std::vector<std::wstring>& dlls)
    : key_(L"Software\\Wine\\AppDefaults\\" + exeName + L"\\DllOverrides") {
  std::vector<std::pair<std::wstring, std::wstring>> values;
  for (const std::wstring& dll : dlls) values.emplace_back(dll, L"native,builtin");
  SetUserStrings(key_, values);
}

NativeDllsFirst::~NativeDllsFirst() { RegDeleteTreeIfPresent(HKEY_CURRENT_USER, key_, false); }


ImageHeader ReadImageHeader(const std::string& bytes) {
  ImageHeader header;
  if (bytes.size() < sizeof(IMAGE_DOS_HEADER)) return header;
  IMAGE_DOS_HEADER dos;
  std::memcpy(&dos, bytes.data(), sizeof dos);
  if (dos.e_magic != IMAGE_DOS_SIGNATURE || dos.e_lfanew <= 0) return header;
  size_t at = static_cast<size_t>(dos.e_lfanew);
  // Signature, file header, then the optional header: its Magic, and the
  // subsystem fields, which sit at the same offsets in PE32 and PE32+.
  if (bytes.size() < at + 4 + sizeof(IMAGE_FILE_HEADER) + sizeof(IMAGE_OPTIONAL_HEADER32)) return header;
  DWORD signature;
  std::memcpy(&signature, bytes.data() + at, 4);
  if (signature != IMAGE_NT_SIGNATURE) return header;
  IMAGE_FILE_HEADER file;
  std::memcpy(&file, bytes.data() + at + 4, sizeof file);
  IMAGE_OPTIONAL_HEADER32 optional;
  std::memcpy(&optional, bytes.data() + at + 4 + sizeof file, sizeof optional);
  header.machine = file.Machine;
  header.subsystemMajor = optional.MajorSubsystemVersion;
  header.subsystemMinor = optional.MinorSubsystemVersion;
  header.subsystem = optional.Subsystem;
  header.ok = true;
  return header;
}

size_t CountOf(const std::string& text, const std::string& part) {
  size_t count = 0;
  for (size_t at = text.find(part); !part.empty() && at != std::string::npos;
       at = text.find(part, at + part.size()))
    ++count;
  return count;
}

}  // namespace kydtest
