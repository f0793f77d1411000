#include "packages/analyse_package.h"

#include <windows.h>
#include <shlwapi.h>

#include <cwctype>
#include <memory>
#include <utility>

#include "packages/app_package.h"
#include "platform/base_log.h"
#include "machine/machine.h"
#include "platform/env.h"
#include "platform/handle.h"

namespace kyd {
namespace {

constexpr char kLogUnit[] = "AnalysePackage";

// Where installers register the programs that "Programs and Features" lists.
constexpr wchar_t kUninstallKey[] = L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall";

// The Uninstall key and its subkeys are opened with full access, in the view
// asked for: a 32-bit installer registers under the 32-bit view
// (Wow6432Node on 64-bit Windows), a 64-bit one under the 64-bit view.
constexpr REGSAM kView32Access = KEY_ALL_ACCESS | KEY_WOW64_32KEY;
constexpr REGSAM kView64Access = KEY_ALL_ACCESS | KEY_WOW64_64KEY;
static_assert(kView32Access == 0x000F023F && kView64Access == 0x000F013F);

constexpr DWORD kSubkeyNameChars = 260;
constexpr DWORD kDisplayNameBytes = 2048;

// A string value (REG_SZ or REG_EXPAND_SZ, taken as stored) of at most
// maxBytes bytes (0: any size); false when it is absent, of another type,
// longer, or cannot be read.
bool ReadString(HKEY key, const wchar_t* name, DWORD maxBytes, std::wstring& value) {
  DWORD type = 0;
  DWORD size = 0;
  if (RegQueryValueExW(key, name, nullptr, &type, nullptr, &size) != ERROR_SUCCESS) return false;
  if (type != REG_SZ && type != REG_EXPAND_SZ) return false;
  if (maxBytes != 0 && size > maxBytes) return false;
  // Room for a terminator the stored data may lack.
  std::vector<wchar_t> buffer(size / sizeof(wchar_t) + 1, L'\0');
  DWORD read = static_cast<DWORD>((buffer.size() - 1) * sizeof(wchar_t));
  if (RegQueryValueExW(key, name, nullptr, &type, reinterpret_cast<BYTE*>(buffer.data()), &read) !=
          ERROR_SUCCESS ||
      (type != REG_SZ && type != REG_EXPAND_SZ))
    return false;
  value.assign(buffer.data());  // up to the first terminator
  return true;
}

// The subkey names of a key, listed before any of them is looked at; names
// that cannot be read (or are empty) are left out.
std::vector<std::wstring> SubkeyNames(HKEY key) {
  std::vector<std::wstring> names;
  DWORD count = 0;
  if (RegQueryInfoKeyW(key, nullptr, nullptr, nullptr, &count, nullptr, nullptr, nullptr, nullptr,
                       nullptr, nullptr, nullptr) != ERROR_SUCCESS)
    return names;
  for (DWORD index = 0; index < count; ++index) {
    wchar_t name[kSubkeyNameChars] = {};
    DWORD length = kSubkeyNameChars;
    if (RegEnumKeyExW(key, index, name, &length, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS ||
        length == 0)
      continue;
    names.emplace_back(name, length);
  }
  return names;
}

std::wstring FoldAsciiCase(std::wstring text) {
  for (wchar_t& c : text)
    if (c >= L'A' && c <= L'Z') c = static_cast<wchar_t>(c - L'A' + L'a');
  return text;
}

// Display names are compared with the catalogue's name folding only ASCII
// letters, so an empty name is contained in every display name.
bool DisplayNameContains(const std::wstring& displayName, const std::wstring& name) {
  return FoldAsciiCase(displayName).find(FoldAsciiCase(name)) != std::wstring::npos;
}

}  // namespace

std::wstring VendorIdOf(const std::wstring& hardwareId) {
  std::wstring upper = hardwareId;
  for (wchar_t& c : upper) c = static_cast<wchar_t>(std::towupper(c));
  constexpr wchar_t kVendorPart[] = L"VEN_";
  const size_t at = upper.find(kVendorPart);
  if (at == std::wstring::npos) return upper;
  const size_t begin = at + 4;
  std::wstring vendor = upper.substr(begin, upper.find(L'&', begin) - begin);
  return vendor.empty() ? upper : vendor;
}

CAnalysePackage::CAnalysePackage() = default;

CAnalysePackage::CAnalysePackage(std::wstring configPath)
    : hostConfig_(false), configPath_(std::move(configPath)) {}

int CAnalysePackage::FindPackage(const wchar_t* classGuid, const wchar_t* hwid) {
  KLOG(base::LOG_TRACE, "FindPackage");
  DRV_APP_UNSETUP_PARAMS params;
  params.wsGuid = classGuid ? classGuid : L"";
  params.wsVid = VendorIdOf(hwid ? hwid : L"");

  const CXml xml = hostConfig_ ? CXml() : CXml(configPath_);
  if (!xml.ParseXml(params, vfXmlNode)) {
    KLOG(base::LOG_ERROR, "ParseXml Failed!\n");
    return kPackageNotDescribed;
  }
  if (vfXmlNode.empty()) return kPackageNotDescribed;
  for (size_t i = 0; i < vfXmlNode.size(); ++i)
    KLOG(base::LOG_TRACE, "package :%d  key :%S ", static_cast<int>(i), vfXmlNode[i].wsName.c_str());
  return LookupRegister();
}

int CAnalysePackage::LookupRegister() {
  KLOG(base::LOG_TRACE, "LookupRegister");
  int result = kPackageNotInstalled;
  for (APP_UNSETUP_PACKAGE& record : vfXmlNode) {
    result = IsPackageInstalled(record);
    if (result == kPackageInstalled) {
      KLOG(base::LOG_TRACE, "LookupRegister: QUERY_EXIST");
      return result;
    }
  }
  KLOG(base::LOG_TRACE, "LookupRegister: %d", result);
  return result;
}

int CAnalysePackage::IsPackageInstalled(APP_UNSETUP_PACKAGE& record) {
  const int result = LookupUninstallKey(record, true);
  if (result == kPackageInstalled) return result;
  // 64-bit installers register in the 64-bit view, which a 32-bit process
  // only sees when it asks for it; on 32-bit Windows there is one view.
  if (IsWow64()) return LookupUninstallKey(record, false);
  return result;
}

int CAnalysePackage::LookupUninstallKey(APP_UNSETUP_PACKAGE& record, bool view32) {
  const REGSAM access = view32 ? kView32Access : kView64Access;
  UniqueKey uninstall;
  if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, kUninstallKey, 0, access, uninstall.put()) != ERROR_SUCCESS)
    return kPackageNotDescribed;
  const std::vector<std::wstring> names = SubkeyNames(uninstall.get());
  uninstall.reset();
  if (names.empty()) return kPackageNotDescribed;
  // A record that names nothing would otherwise take the first program
  // listed, and that program would then be uninstalled.
  if (record.wsName.empty() && record.wsGuid.empty()) return kPackageNotInstalled;

  int result = kPackageNotInstalled;
  for (const std::wstring& name : names) {
    UniqueKey entry;
    const std::wstring path = std::wstring(kUninstallKey) + L"\\" + name;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, path.c_str(), 0, access, entry.put()) != ERROR_SUCCESS) continue;
    // A package with a known key name (an MSI product code, an installer's
    // own key) is installed whenever a key of that name, or beginning with
    // it, exists; its display name may differ between versions.
    if (!record.wsGuid.empty()) {
      if (StrCmpNIW(name.c_str(), record.wsGuid.c_str(), static_cast<int>(record.wsGuid.size())) != 0)
        continue;
      result = kPackageInstalled;
    }
    std::wstring displayName;
    ReadString(entry.get(), L"DisplayName", kDisplayNameBytes, displayName);
    if (DisplayNameContains(displayName, record.wsName)) {
      result = kPackageInstalled;
      ReadString(entry.get(), L"UninstallString", 0, record.wsUninstString);
      ReadString(entry.get(), L"InstallLocation", 0, record.wsInstallLocation);
      ReadString(entry.get(), L"QuietUninstallString", 0, record.wsQuietUninstString);
      break;
    }
  }
  return result;
}

int CAnalysePackage::UninstAppPackage(int& rebootNeeded) {
  KLOG(base::LOG_TRACE, "package count = %d", static_cast<int>(vfXmlNode.size()));
  for (APP_UNSETUP_PACKAGE& record : vfXmlNode) {
    KLOG(base::LOG_TRACE, "KeyName: %S", record.wsName.c_str());
    // Also fills in the uninstall command and install location.
    if (IsPackageInstalled(record) != kPackageInstalled) continue;
    std::unique_ptr<CAppPackage> package = CreateAppPackage(record.wsName);
    package->record = record;
    package->timeOut = record.nTimeOut;
    // In a plan the runner lists each command line it would run and runs
    // nothing.
    package->result = package->Uninstall(1);
    rebootNeeded = package->restart;
    package.reset();
    if (machine::Planning()) return 1;  // as if the uninstaller did its work
    // A package that asked for a restart counts as removed: its entry may
    // only go at the next start.
    if (rebootNeeded) return 1;
    if (IsPackageInstalled(record) == kPackageNotInstalled) return 1;
  }
  return 0;
}

}  // namespace kyd
