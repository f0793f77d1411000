#include "vendors/realtek_media.h"

#include <windows.h>

#include <string>
#include <vector>

#include "engine/registry_access.h"
#include "platform/env.h"
#include "platform/find_str.h"
#include "vendors/realtek_tables.h"

namespace kyd {
namespace {

constexpr wchar_t kMediaClassKey[] = L"Control\\Class\\{4D36E96C-E325-11CE-BFC1-08002BE10318}";
constexpr wchar_t kUninstall[] = L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall";
constexpr wchar_t kMachineRun[] = L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Run";

// Cleans one control set: the packages' media category names, the HD audio
// device keys of the controllers they drive, and the audio class driver keys
// whose provider is Realtek.
void CleanControlSet(const std::wstring& controlSet) {
  const std::wstring base = L"SYSTEM\\" + controlSet + L"\\";
  CBaseDrvUninst::DeleteSubKeysByExactName(base + L"Control\\MediaCategories",
                                           kRealtekMediaCategories);
  CBaseDrvUninst::DeleteSubKeysByExactName(base + L"Enum\\HDAUDIO", kRealtekAudioControllers);
  CBaseDrvUninst::DeleteSubKeysByValueData(kRealtekProvider, HKEY_LOCAL_MACHINE,
                                           base + kMediaClassKey, L"ProviderName");
}

}  // namespace

CRAMediaDrvUninst::CRAMediaDrvUninst() : CVendorDrvUninst(kRealtekVendorTables) {}

void CRAMediaDrvUninst::CleanRegistry() {
  for (const wchar_t* key : kRealtekMachineKeys) DeleteKey(HKEY_LOCAL_MACHINE, key);

  // Every control set (ControlSet001, ControlSet002, ... and
  // CurrentControlSet), so that a last-known-good boot does not bring the
  // driver's registrations back.
  std::vector<std::wstring> sets;
  if (reg::ListSubKeys(HKEY_LOCAL_MACHINE, L"SYSTEM", sets)) {
    for (const std::wstring& set : sets)
      if (SafeStrStrIW(set.c_str(), L"controlset")) CleanControlSet(set);
  }

  // The HD audio package's uninstall entries, whatever their key names.
  DeleteSubKeysByValueData(kRealtekProduct, HKEY_LOCAL_MACHINE, kUninstall, L"DisplayName");

  for (const wchar_t* key : kRealtekUserKeys) DeleteKey(HKEY_CURRENT_USER, key);

  // The sound manager's tray program starts at logon under this name.
  DeleteValueAt(HKEY_LOCAL_MACHINE, kMachineRun, L"SoundMan");
}

void CRAMediaDrvUninst::CleanFiles() {
  const std::wstring root = GetSystemDriveRoot();
  if (root.empty()) return;  // no folder can be named safely
  // The sound manager's and the HD audio control panel's program folders;
  // on 64-bit Windows the 32-bit installer also fills their twins.
  DeleteFolderTree(root + L"Program Files" + L"\\AvRack");
  DeleteFolderTree(root + L"Program Files" + L"\\Realtek\\Audio");
  if (isWow64) {
    DeleteFolderTree(root + L"Program Files (x86)" + L"\\AvRack");
    DeleteFolderTree(root + L"Program Files (x86)" + L"\\Realtek\\Audio");
  }
  // Dolby PC Entertainment Experience, installed with some HD audio packages.
  DeleteFolderTree(root + L"Dolby PCEE4");
}

}  // namespace kyd
