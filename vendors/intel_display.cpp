#include "vendors/intel_display.h"

#include <windows.h>

#include <string>
#include <vector>

#include "engine/registry_access.h"
#include "platform/base_log.h"
#include "platform/env.h"
#include "vendors/intel_tables.h"

namespace kyd {
namespace {

constexpr char kLogUnit[] = "IntelDisplayDrvUninst";

constexpr wchar_t kPnpLockdownFiles[] =
    L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Setup\\PnpLockdownFiles";
constexpr wchar_t kVendorKey[] = L"Software\\Intel";
constexpr wchar_t kVendorKey32[] = L"Software\\Wow6432Node\\Intel";
constexpr wchar_t kMachineRun[] = L"Software\\Microsoft\\Windows\\CurrentVersion\\Run";
constexpr wchar_t kDesktopMenuHandlers[] = L"Directory\\background\\shellex\\ContextMenuHandlers";
constexpr wchar_t kUninstall32[] =
    L"Software\\Wow6432Node\\Microsoft\\Windows\\CurrentVersion\\Uninstall";
constexpr wchar_t kGmaFolder[] = L"\\Intel\\Intel(R) Graphics Media Accelerator Driver";

const wchar_t* const kUserDisplaySettings[] = {L"display"};
const wchar_t* const kGraphicsUninstallName[] = {L"Intel(R) Processor Graphics"};

}  // namespace

CIntelDisplayDrvUninst::CIntelDisplayDrvUninst() : CVendorDrvUninst(kIntelVendorTables) {}

void CIntelDisplayDrvUninst::CleanRegistry() {
  // Windows protects the driver's files through the PnP lockdown list (names
  // as subkeys on newer Windows, as values on older ones); their entries
  // would outlive the files. The kernel drivers' entries stay with the device.
  DeleteSubKeysByName(HKEY_LOCAL_MACHINE, kPnpLockdownFiles, kIntelFileTable);
  DeleteValuesByName(kPnpLockdownFiles, kIntelFileTable);
  if (!keepDevice) {
    DeleteSubKeysByName(HKEY_LOCAL_MACHINE, kPnpLockdownFiles, kIntelDriverTable);
    DeleteValuesByName(kPnpLockdownFiles, kIntelDriverTable);
  }

  // The control panel's and the shell extensions' COM registrations.
  CleanProgIds(kIntelProgIds);
  CleanInterfaces(kIntelInterfaces);
  CleanClasses(kIntelClassServers);

  // The package's subkeys of the vendor key; the vendor key itself only when
  // nothing else of the vendor's (chipset, network, storage software) is
  // left below it.
  DeleteSubKeysByName(HKEY_LOCAL_MACHINE, kVendorKey, kIntelVendorSubKeys);
  DeleteKeyIfNoSubKeys(HKEY_LOCAL_MACHINE, kVendorKey);

  // Every loaded user's display settings of the control panel.
  std::vector<std::wstring> users;
  reg::ListSubKeys(HKEY_USERS, std::wstring(), users);
  for (const std::wstring& user : users) {
    const std::wstring userVendorKey = user + L"\\" + kVendorKey;
    DeleteSubKeysByName(HKEY_USERS, userVendorKey, kUserDisplaySettings);
    DeleteKeyIfNoSubKeys(HKEY_USERS, userVendorKey);
  }

  // The 32-bit components register below the 32-bit view's vendor key.
  if (isWow64) {
    DeleteSubKeysByName(HKEY_LOCAL_MACHINE, kVendorKey32, kIntelVendorSubKeys);
    DeleteKeyIfNoSubKeys(HKEY_LOCAL_MACHINE, kVendorKey32);
  }

  // Tray icon, persistence module and hot-key handler start at logon; every
  // machine-wide startup value whose name holds one of their names goes.
  DeleteValuesByName(kMachineRun, kIntelStartupValues);

  // The desktop context menu's graphics entries.
  DeleteSubKeysByName(HKEY_CLASSES_ROOT, kDesktopMenuHandlers, kIntelContextMenuHandlers);

  // The package registers its uninstall entry from a 32-bit installer, so on
  // 64-bit Windows it lands in the 32-bit view only.
  if (isWow64)
    DeleteSubKeysByValueData(kGraphicsUninstallName, HKEY_LOCAL_MACHINE, kUninstall32,
                             L"DisplayName");
}

void CIntelDisplayDrvUninst::CleanFiles() {
  const std::wstring system = GetSystemDir();
  const std::wstring root = GetSystemDriveRoot();
  if (!root.empty()) {
    // The media accelerator driver's program folder: the startup entries that
    // start its tray programs from there go (the folder itself stays).
    DeleteFileAndStartup(root + L"Program Files" + kGmaFolder);
    if (isWow64) DeleteFileAndStartup(root + L"Program Files (x86)" + kGmaFolder);
  }
  // The co-installer DLLs the driver setup drops into the system folder, one
  // per driver version, read-only ones included.
  KLOG(base::LOG_INFO, "del system\\igfxcoin*.*");
  if (!system.empty()) DeleteMatchingEntries(L"\\igfxcoin*.*", system);
}

}  // namespace kyd
