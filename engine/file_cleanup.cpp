// Files and folders the vendors' installers leave behind: single files in the
// system folders, program and data folders, folders in every user's profile.
// Every file deleted here also takes the startup entries that would start it.
#include <windows.h>
#include <lm.h>
#include <shlwapi.h>

#include <cwchar>
#include <memory>
#include <unordered_set>

#include "engine/base_drv_uninst.h"
#include "engine/registry_access.h"
#include "machine/dir_tree.h"
#include "machine/machine.h"
#include "platform/base_log.h"
#include "platform/env.h"
#include "platform/find_str.h"
#include "platform/handle.h"

namespace kyd {
namespace {

constexpr char kLogUnit[] = "BaseDrvUninst";

// Removes an (empty) folder or a folder link and logs the outcome. A folder
// that holds nothing but files the running system keeps goes with them at
// the next restart.
bool RemoveFolderLogged(const std::wstring& folder) {
  std::wstring real;
  switch (machine::RemoveFolderOrSchedule(folder, &real)) {
    case machine::Removal::kGone:
      KLOG(base::LOG_INFO, "delete dir %S success", folder.c_str());
      return true;
    case machine::Removal::kAtRestart:
      KLOG(base::LOG_INFO, "delete dir %S at the next restart", real.c_str());
      return true;
    case machine::Removal::kLeftInPlace:
    case machine::Removal::kFailed:
      break;
  }
  KLOG(base::LOG_INFO, "delete dir %S failed", folder.c_str());
  return false;
}

// The walk of ForEachEntry with a pattern of the caller's ("\\coinst_*.*"):
// every entry the search returns, the first one included, but "." and "..".
template <typename Visit>
bool ForEachMatch(const std::wstring& folder, const wchar_t* pattern, Visit visit) {
  WIN32_FIND_DATAW data;
  UniqueFind search(FindFirstFileW((folder + pattern).c_str(), &data));
  if (!search) return false;
  do {
    if (std::wcscmp(data.cFileName, L".") == 0 || std::wcscmp(data.cFileName, L"..") == 0 ||
        !machine::Listed(folder, data))
      continue;
    if (!visit(static_cast<const WIN32_FIND_DATAW&>(data))) break;
  } while (FindNextFileW(search.get(), &data));
  return true;
}

// "VEN_10DE" of "PCI\VEN_10DE&DEV_1B80...", upper case; empty without one.
std::wstring VendorPart(const std::wstring& hardwareId) {
  const wchar_t* at = SafeStrStrIW(hardwareId.c_str(), L"VEN_");
  if (!at || std::wcslen(at) < 8) return {};
  std::wstring vendor(at, 8);
  for (wchar_t& c : vendor)
    if (c >= L'a' && c <= L'z') c = static_cast<wchar_t>(c - L'a' + L'A');
  return vendor;
}

// Whether a display adapter of another vendor registers an OpenCL driver in
// its driver key under `valueName`. The vendor being uninstalled is known by
// the PCI vendor in the key's MatchingDeviceId: its own registrations go with
// its driver (and with every adapter of the vendor, as its files do). An
// adapter whose key names no device is counted as another's: keeping the
// loader costs a file, taking it breaks another GPU's OpenCL.
bool OtherAdapterRegistersOpenCl(const wchar_t* valueName, const std::wstring& ownVendor) {
  const std::wstring displayClass =
      L"SYSTEM\\CurrentControlSet\\Control\\Class\\{4d36e968-e325-11ce-bfc1-08002be10318}";
  std::vector<std::wstring> adapters;
  if (!reg::ListSubKeys(HKEY_LOCAL_MACHINE, displayClass, adapters)) return false;
  for (const std::wstring& adapter : adapters) {
    const std::wstring key = displayClass + L"\\" + adapter;
    std::wstring driver, device;
    if (!CBaseDrvUninst::ReadStringValue(HKEY_LOCAL_MACHINE, key, valueName, driver) || driver.empty()) continue;
    if (!ownVendor.empty() && CBaseDrvUninst::ReadStringValue(HKEY_LOCAL_MACHINE, key, L"MatchingDeviceId", device) &&
        VendorPart(device) == ownVendor)
      continue;
    KLOG(base::LOG_INFO, "OpenCL driver of adapter %S: %S (%S)", adapter.c_str(), driver.c_str(), valueName);
    return true;
  }
  return false;
}

std::wstring Folded(const wchar_t* name) {
  std::wstring text = name ? name : L"";
  if (!text.empty()) CharUpperBuffW(text.data(), static_cast<DWORD>(text.size()));
  return text;
}

struct NetBufferFree {
  void operator()(void* buffer) const { NetApiBufferFree(buffer); }
};

}  // namespace

bool CBaseDrvUninst::DeleteFileAndStartup(const std::wstring& path) {
  // A file in use (a loaded display driver DLL, a file a program keeps open)
  // goes at the next restart, under the name it really has there.
  std::wstring real;
  switch (machine::RemoveFileOrSchedule(path, &real)) {
    case machine::Removal::kGone:
      KLOG(base::LOG_INFO, "delete file %S success", path.c_str());
      break;
    case machine::Removal::kAtRestart:
      KLOG(base::LOG_INFO, "delete file %S at the next restart", real.c_str());
      break;
    case machine::Removal::kLeftInPlace:  // the seam said why
      break;
    case machine::Removal::kFailed:
      KLOG(base::LOG_INFO, "delete file %S failed", path.c_str());
      break;
  }
  DeleteStartupEntriesNaming(path);
  return true;
}

bool CBaseDrvUninst::OtherOpenClDriversRemain() const {
  // The loader in the system folder this process sees is of its own bitness:
  // in the library on 64-bit Windows the 32-bit one, whose drivers register in
  // the 32-bit view; in drv64.exe, and on 32-bit Windows, the native one.
  std::vector<std::wstring> drivers;
  EnumValueNames(HKEY_LOCAL_MACHINE,
                 isWow64 ? L"Software\\Wow6432Node\\Khronos\\OpenCL\\Vendors" : L"Software\\Khronos\\OpenCL\\Vendors",
                 drivers);
  if (!drivers.empty()) return true;
  // Windows 10 DCH display drivers register their OpenCL driver in the
  // adapter's driver key instead, where the loader looks for it too.
  return OtherAdapterRegistersOpenCl(isWow64 ? L"OpenCLDriverNameWow" : L"OpenCLDriverName", VendorPart(deviceId));
}

void CBaseDrvUninst::DeleteFilesInFolder(NameList names, const std::wstring& folder) {
  // OpenCL.dll is the Khronos loader every GPU vendor's OpenCL driver goes
  // through; the vendor's own registration is gone by now, so one still
  // listed belongs to another GPU, which would lose OpenCL with the loader.
  // Asked when a list names the loader.
  int keepOpenClLoader = -1;
  // The folder is listed once, and only the names it holds are taken up: a
  // system folder holds thousands of files and a vendor's table hundreds of
  // names, most of them not there. A folder that cannot be listed has each
  // name tried, as a file of it may still be deleted.
  std::unordered_set<std::wstring> present;
  const bool listed = ForEachEntry(folder, [&](const WIN32_FIND_DATAW& entry) {
    if (IsFolder(entry)) return true;
    present.insert(Folded(entry.cFileName));
    if (entry.cAlternateFileName[0]) present.insert(Folded(entry.cAlternateFileName));
    return true;
  });
  if (!listed && machine::Attributes(folder) == INVALID_FILE_ATTRIBUTES) return;  // no such folder
  for (const wchar_t* name : names) {
    if (!name) continue;
    if (listed && present.erase(Folded(name)) == 0) continue;
    if (_wcsicmp(name, L"OpenCL.dll") == 0) {
      if (keepOpenClLoader < 0) keepOpenClLoader = OtherOpenClDriversRemain() ? 1 : 0;
      if (keepOpenClLoader) {
        KLOG(base::LOG_INFO, "keep file %S\\%S: another OpenCL driver still uses it", folder.c_str(), name);
        continue;
      }
    }
    std::wstring path = folder + L"\\" + name;
    DeleteFileAndStartup(path);
    KLOG(base::LOG_INFO, "delete file(%S)", path.c_str());
  }
}

void CBaseDrvUninst::DeleteSystemFolderFiles(NameList names) {
  const std::wstring system = GetSystemDir();
  DeleteFilesInFolder(names, system);
  DeleteFilesInFolder(names, system + L"\\Drivers");
}

void CBaseDrvUninst::DeleteSystemFiles(NameList names) {
  const std::wstring windows = GetWindowsDir();
  DeleteSystemFolderFiles(names);
  DeleteFilesInFolder(names, windows);
  DeleteFilesInFolder(names, windows + L"\\Prefetch");
  if (isWow64) {
    // The 32-bit system files of 64-bit Windows.
    DeleteFilesInFolder(names, windows + L"\\SysWOW64");
    DeleteFilesInFolder(names, windows + L"\\SysWOW64" + L"\\Drivers");
    // Redirection hides the native System32 from this module: the 64-bit
    // user-mode files and the kernel drivers. Only when the host asks.
    if (nativeSystem) DeleteNativeSystemFiles(names);
  }
}

bool CBaseDrvUninst::DeleteFolderTree(const std::wstring& folder) {
  // A file that stays does not stop the walk; its folder then cannot go, nor
  // can the folders above it, but what lies beside them still goes (a file
  // left in place in one subfolder keeps nothing else).
  auto removeFile = [this](const std::wstring& path, const WIN32_FIND_DATAW& entry) {
    ClearReadOnly(path, entry);
    DeleteFileAndStartup(path);
    return true;
  };
  bool stayed = false;
  auto removeFolder = [&](const std::wstring& path) {
    if (RemoveFolderLogged(path)) return true;
    stayed = true;
    return path != folder;
  };
  return RemoveTree(folder, removeFile, removeFolder) && !stayed;
}

void CBaseDrvUninst::DeleteMatchingSubfolders(const wchar_t* fragment,
                                              const std::wstring& folder) {
  bool listed = ForEachEntry(folder, [&](const WIN32_FIND_DATAW& entry) {
    if (!IsFolder(entry) || !SafeStrStrIW(entry.cFileName, fragment)) return true;
    std::wstring path = folder + L"\\" + entry.cFileName;
    DeleteFolderTree(path);  // a link goes as a link
    KLOG(base::LOG_INFO, "delete dir(%S)", path.c_str());
    return true;
  });
  if (!listed) return;
  // Goes only when nothing else was in it (at the next restart when what was
  // in it goes then).
  machine::RemoveFolderOrSchedule(folder);
}

void CBaseDrvUninst::DeleteMatchingEntries(const wchar_t* pattern, const std::wstring& folder) {
  if (!pattern) return;
  ForEachMatch(folder, pattern, [&](const WIN32_FIND_DATAW& entry) {
    std::wstring path = folder + L"\\" + entry.cFileName;
    if (IsFolder(entry)) {
      DeleteFolderTree(path);  // a link goes as a link
      KLOG(base::LOG_INFO, "delete dir(%S)", path.c_str());
    } else {
      ClearReadOnly(path, entry);
      DeleteFileAndStartup(path);
      KLOG(base::LOG_INFO, "delete file(%S)", path.c_str());
    }
    return true;
  });
}

void CBaseDrvUninst::GetAllUserName(std::vector<std::wstring>& names) {
  BYTE* raw = nullptr;
  DWORD read = 0, total = 0;
  NET_API_STATUS status = NetUserEnum(nullptr, 1, FILTER_NORMAL_ACCOUNT, &raw,
                                      MAX_PREFERRED_LENGTH, &read, &total, nullptr);
  std::unique_ptr<void, NetBufferFree> buffer(raw);
  if (status != NERR_Success && status != ERROR_MORE_DATA) {
    KLOG(base::LOG_ERROR, "GetAllUserName failed(%d)", static_cast<int>(status));
    return;
  }
  if (!raw) return;
  const USER_INFO_1* users = reinterpret_cast<const USER_INFO_1*>(raw);
  for (DWORD i = 0; i < read; ++i) {
    const wchar_t* name = users[i].usri1_name;
    if (!name) continue;
    bool admin = users[i].usri1_priv == USER_PRIV_ADMIN;
    bool user = users[i].usri1_priv == USER_PRIV_USER && StrCmpIW(name, L"ASPNET") != 0;
    if (admin || user) names.emplace_back(name);
  }
}

}  // namespace kyd
