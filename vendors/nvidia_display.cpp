#include "vendors/nvidia_display.h"

#include <windows.h>

#include <string>
#include <vector>

#include "engine/registry_access.h"
#include "platform/env.h"
#include "platform/find_str.h"
#include "vendors/nvidia_tables.h"

namespace kyd {
namespace {

constexpr VendorTables kNvTables{kNvServices, kNvFileTable, kNvPrograms, kNvDriverTable};

const HKEY kMachine = HKEY_LOCAL_MACHINE;
constexpr wchar_t kCurrentVersion[] = L"Software\\Microsoft\\Windows\\CurrentVersion";
constexpr wchar_t kCurrentVersion32[] =
    L"Software\\Wow6432Node\\Microsoft\\Windows\\CurrentVersion";

std::wstring Join(const std::wstring& path, const std::wstring& child) {
  return path + L"\\" + child;
}

// A key below CurrentVersion, of the native view or of the 32-bit one.
std::wstring CurrentVersion(const wchar_t* below, bool view32 = false) {
  return Join(view32 ? kCurrentVersion32 : kCurrentVersion, below);
}

// The subkey names of root\path; none when the key cannot be read.
std::vector<std::wstring> SubKeys(HKEY root, const std::wstring& path) {
  std::vector<std::wstring> names;
  reg::ListSubKeys(root, path, names);
  return names;
}

// Every control set below HKLM\SYSTEM (as "SYSTEM\<set>"), the current one
// included.
std::vector<std::wstring> ControlSets() {
  std::vector<std::wstring> sets;
  for (const std::wstring& name : SubKeys(kMachine, L"SYSTEM"))
    if (SafeStrStrIW(name.c_str(), L"controlset")) sets.push_back(Join(L"SYSTEM", name));
  return sets;
}

// The vendor's key below software (in one hive or view): the listed
// products' settings go, and the key itself when no other product's are
// left in it.
void PruneVendorKeys(HKEY root, const std::wstring& software, NameList products) {
  for (const std::wstring& name : SubKeys(root, software)) {
    if (!SafeStrStrIW(name.c_str(), L"nvidia corporation")) continue;
    const std::wstring vendorKey = Join(software, name);
    CBaseDrvUninst::DeleteSubKeysByName(root, vendorKey, products);
    CBaseDrvUninst::DeleteKeyIfNoSubKeys(root, vendorKey);
  }
}

// The per-user copy Windows made of the vendor's machine-wide settings when
// a program without administrator rights wrote them; classes is the path of
// the classes key below root, with its backslash, or empty for root itself.
void CleanVirtualStore(HKEY root, const std::wstring& classes) {
  const std::wstring vendorKey = classes + L"VirtualStore\\MACHINE\\SOFTWARE\\NVIDIA Corporation";
  CBaseDrvUninst::DeleteKey(root, Join(vendorKey, L"Global"));
  CBaseDrvUninst::DeleteKeyIfNoSubKeys(root, vendorKey);
}

// The control panel's entry in the Control Panel window and its class.
void CleanControlPanelEntry() {
  const std::wstring nameSpace = CurrentVersion(L"Explorer\\ControlPanel\\NameSpace");
  for (const std::wstring& id : SubKeys(kMachine, nameSpace)) {
    std::wstring title;
    if (!CBaseDrvUninst::ReadStringValue(kMachine, Join(nameSpace, id), std::wstring(), title))
      continue;
    if (!SafeStrStrIW(title.c_str(), L"nvidia control panel")) continue;
    CBaseDrvUninst::DeleteKey(kMachine, Join(nameSpace, id));
    CBaseDrvUninst::DeleteKey(HKEY_CLASSES_ROOT, Join(L"CLSID", id));
  }
}

// The display adapter keys of the vendor's kernel driver, found by the
// service their "Video" subkey names, with their hardware profile twins.
void CleanVideoAdapterKeys() {
  const std::wstring video = L"SYSTEM\\CurrentControlSet\\Control\\Video";
  const std::wstring profiles =
      L"SYSTEM\\CurrentControlSet\\Hardware Profiles\\UnitedVideo\\CONTROL\\VIDEO";
  for (const std::wstring& adapter : SubKeys(kMachine, video)) {
    std::wstring service;
    if (!CBaseDrvUninst::ReadStringValue(kMachine, Join(video, adapter) + L"\\Video", L"Service",
                                         service))
      continue;
    if (!SafeStrStrIW(service.c_str(), L"nvlddmkm")) continue;
    CBaseDrvUninst::DeleteKey(kMachine, Join(video, adapter));
    CBaseDrvUninst::DeleteKey(kMachine, Join(profiles, adapter));
  }
}

// One profile folder below an account's AppData folder and the subfolders
// of the vendor's software to take from it.
struct UserFolder {
  const wchar_t* below;
  const wchar_t* fragment;
};
constexpr UserFolder kUserFolders[] = {
    {L"\\Local\\Temp\\NVIDIA Corporation", L"nv_cache"},          // shader cache
    {L"\\Local\\Temp\\NVIDIA", L"geforceexperienceselfupdate"},
    {L"\\Local\\Temp\\Low\\NVIDIA Corporation", L"nv_cache"},     // low-integrity processes
    {L"\\Local\\NVIDIA", L"nvbackend"},
    {L"\\Local\\NVIDIA", L"gfexperience"},
    {L"\\Roaming\\NVIDIA", L"computecache"},                      // CUDA kernel cache
    {L"\\Roaming\\NVIDIA", L"glcache"},                           // OpenGL shader cache
    {L"\\Local\\NVIDIA Corporation", L"ledvisualizer"},
    {L"\\Local\\NVIDIA Corporation", L"shadowplay"},
    {L"\\Local\\NVIDIA Corporation", L"shield apps"},
};

}  // namespace

CNVDisplayDrvUninst::CNVDisplayDrvUninst() : CVendorDrvUninst(kNvTables) {}

void CNVDisplayDrvUninst::CleanRegistry() {
  // COM registrations of the control panel, 3D Vision, ShadowPlay, the
  // update service and the installer framework.
  CleanProgIds(kNvProgIdFragments);
  CleanClasses(kNvClassFragments);
  CleanInterfaces(kNvInterfaceFragments);

  // Windows Resource Protection's record of the driver's files; that of the
  // kernel drivers stays while the device is kept.
  const std::wstring lockdown = CurrentVersion(L"Setup\\PnpLockdownFiles");
  DeleteSubKeysByName(kMachine, lockdown, kNvFileTable);
  DeleteValuesByName(lockdown, kNvFileTable);
  if (!keepDevice) {
    DeleteSubKeysByName(kMachine, lockdown, kNvDriverTable);
    DeleteValuesByName(lockdown, kNvDriverTable);
  }

  // The registry resources the driver package declared to Plug and Play.
  const std::wstring resources = CurrentVersion(L"Setup\\PnpResources\\Registry\\HKLM\\");
  DeleteKey(kMachine, resources + L"SOFTWARE\\Khronos");
  DeleteKey(kMachine, resources +
                          L"SOFTWARE\\Wow6432Node\\NVIDIA Corporation\\Global\\CoprocManager\\"
                          L"OptimusEnhancements");
  DeleteKey(kMachine, resources +
                          L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Controls Folder\\"
                          L"Display\\shellex\\PropertySheetHandlers\\NVIDIA CPL Extension");
  if (isWow64) DeleteKey(kMachine, resources + L"SOFTWARE\\Wow6432Node\\Khronos");
  DeleteKey(kMachine, resources + L"SOFTWARE\\NVIDIA Corporation");

  // In every control set: the firewall rules of the streaming server, the
  // network service and the update core, and the display service's power
  // setting.
  for (const std::wstring& set : ControlSets()) {
    DeleteValuesByData(set + L"\\Services\\SharedAccess\\Parameters\\FirewallPolicy\\FirewallRules",
                       kNvFirewallRuleFragments);
    DeleteSubKeysByValueData({L"nvsvc"}, kMachine, set + L"\\Control\\Power\\PowerSettings",
                             L"Description");
  }

  // Windows Installer's record of the folders the packages created.
  const wchar_t* const vendorFolder[] = {L"NVIDIA Corporation"};
  DeleteValuesByName(CurrentVersion(L"Installer\\Folders"), vendorFolder);

  // The OpenCL driver's registration with the ICD loader; the loader's keys
  // go only as far as they are left empty.
  RemoveOpenClVendor(L"nvopencl");

  // Reference counts of shared files in the vendor's program folders.
  DeleteValuesByName(CurrentVersion(L"SharedDLLs"), vendorFolder);
  if (isWow64) DeleteValuesByName(CurrentVersion(L"SharedDLLs", true), vendorFolder);

  // In every loaded user hive: the settings of the control panel, the tray,
  // the backend and the update core.
  for (const std::wstring& user : SubKeys(HKEY_USERS, std::wstring()))
    PruneVendorKeys(HKEY_USERS, Join(user, L"Software"), kNvUserKeyFragments);

  // PhysX was AGEIA's before the vendor bought it. Then the vendor's
  // machine-wide settings, in both views.
  const wchar_t* const ageia[] = {L"ageia technologies"};
  DeleteSubKeysByName(kMachine, L"Software", ageia);
  PruneVendorKeys(kMachine, L"Software", kNvMachineKeyFragments);
  if (isWow64) {
    DeleteSubKeysByName(kMachine, L"Software\\Wow6432Node", ageia);
    PruneVendorKeys(kMachine, L"Software\\Wow6432Node", kNv32BitKeyFragments);
  }

  // Programs and Features entries of the package's components, and PhysX's
  // under whatever name it was installed.
  const wchar_t* const physx[] = {L"physx"};
  if (isWow64) {
    const std::wstring uninstall32 = CurrentVersion(L"Uninstall", true);
    DeleteSubKeysByName(kMachine, uninstall32, kNv32BitUninstallFragments);
    DeleteSubKeysByValueData(physx, kMachine, uninstall32, L"DisplayName");
  }
  const std::wstring uninstall = CurrentVersion(L"Uninstall");
  DeleteSubKeysByName(kMachine, uninstall, kNvUninstallFragments);
  DeleteSubKeysByValueData(physx, kMachine, uninstall, L"DisplayName");

  // The profile of UpdatusUser, the account the old update service ran as.
  DeleteSubKeysByValueData({L"UpdatusUser"}, kMachine,
                           L"Software\\Microsoft\\Windows NT\\CurrentVersion\\ProfileList",
                           L"ProfileImagePath");

  CleanControlPanelEntry();

  // Native images of GeForce Experience, and the 3D Vision browser plug-in.
  const wchar_t* const experience[] = {L"gfexperience.exe"};
  const wchar_t kNgenRoots[] = L"Microsoft\\.NETFramework\\v2.0.50727\\NGenService\\Roots";
  DeleteSubKeysByName(kMachine, Join(L"SOFTWARE", kNgenRoots), experience);
  if (isWow64) {
    DeleteSubKeysByName(kMachine, Join(L"SOFTWARE\\Wow6432Node", kNgenRoots), experience);
    DeleteSubKeysByName(kMachine, L"SOFTWARE\\Wow6432Node\\MozillaPlugins", {kNv3DVisionPluginId});
  }

  // The update service's event source, in every control set.
  for (const std::wstring& set : ControlSets())
    DeleteSubKeysByName(kMachine, set + L"\\Services\\eventlog\\Application", {L"nvidia update"});

  CleanVirtualStore(HKEY_CLASSES_ROOT, std::wstring());
  for (const std::wstring& user : SubKeys(HKEY_USERS, std::wstring()))
    CleanVirtualStore(HKEY_USERS, Join(user, L"Software\\Classes\\"));

  // Startup values of the tray, the backend, ShadowPlay, the media center
  // helper and 3D Vision's link installer.
  DeleteWholeValues(kMachine, CurrentVersion(L"Run"),
                    {L"Nvtmru", L"NvBackend", L"ShadowPlay", L"NvMediaCenter"});
  if (isWow64)
    DeleteWholeValues(kMachine, CurrentVersion(L"Run", true),
                      {L"StereoLinksInstall", L"NvMediaCenter"});

  // Windows Installer's records of PhysX.
  BaseCleanInstaller({L"physx"});

  CleanVideoAdapterKeys();

  // "Play on my TV" in the context menu of video files.
  for (const wchar_t* type : {L"mpegfile", L"WMVFile", L"AVIFile"})
    DeleteKey(HKEY_CLASSES_ROOT,
              std::wstring(type) + L"\\shellex\\ContextMenuHandlers\\NvPlayOnMyTV");

  // The shell extensions Windows was told to trust, and the control panel
  // applet's extra pages.
  DeleteValuesByData(CurrentVersion(L"Shell Extensions\\Approved"), kNvApprovedExtensions);
  const std::wstring extended = CurrentVersion(L"Control Panel\\Extended Properties");
  for (const std::wstring& page : SubKeys(kMachine, extended))
    DeleteValuesByName(Join(extended, page), {L"nvcpl.cpl"});
  // The 32-bit approval of the desktop menu; on 32-bit Windows there is no
  // such key and nothing is found.
  DeleteValuesByData(CurrentVersion(L"Shell Extensions\\Approved", true),
                     {L"nvcpl desktopcontext class"});

  // The control panel's entry in the desktop's context menu.
  const wchar_t kDesktopMenu[] =
      L"Directory\\background\\shellex\\ContextMenuHandlers\\NvCplDesktopContext";
  DeleteKey(HKEY_CLASSES_ROOT, kDesktopMenu);
  DeleteKey(kMachine, Join(L"Software\\Classes", kDesktopMenu));
}

void CNVDisplayDrvUninst::CleanFiles() {
  const std::wstring windows = GetWindowsDir();
  const std::wstring system = GetSystemDir();
  const std::wstring root = system.substr(0, 3);
  const std::wstring programs = root + L"Program Files";
  const std::wstring programs32 = root + L"Program Files (x86)";
  const std::wstring appData = GetAppDataDir();
  // Every path below is built on these folders; without them the steps would
  // act on paths relative to the host's current folder or drive.
  if (windows.empty() || system.size() < 3) return;

  // Where the driver installer unpacks itself.
  DeleteFolderTree(root + L"NVIDIA");

  // The running account's data of the update service, GeForce Experience,
  // the network and streaming services and ShadowPlay, and the 3D Vision
  // Start menu folder.
  if (!appData.empty()) {
    DeleteMatchingSubfolders(L"updatus", appData + L"\\NVIDIA");
    for (const wchar_t* part :
         {L"drs", L"geforce experience", L"netservice", L"shadowplay", L"nvstreamsvc"})
      DeleteMatchingSubfolders(part, appData + L"\\NVIDIA Corporation");
    DeleteMatchingSubfolders(
        L"3d vision", appData + L"\\Microsoft\\Windows\\Start Menu\\Programs\\NVIDIA Corporation");
  }

  // The program folders, the known parts first; the vendor's folder goes as
  // a whole even when it holds parts no list names.
  for (const wchar_t* part : kNvProgramFolderFragments)
    DeleteMatchingSubfolders(part, programs + L"\\NVIDIA Corporation");
  DeleteFolderTree(programs + L"\\NVIDIA Corporation");
  DeleteFolderTree(programs + L"\\AGEIA Technologies");
  if (isWow64) {
    for (const wchar_t* part : kNv32BitProgramFolderFragments)
      DeleteMatchingSubfolders(part, programs32 + L"\\NVIDIA Corporation");
    DeleteFolderTree(programs32 + L"\\NVIDIA Corporation");
  }

  // The display driver's setup records in the system folder (nvdisp.nvu and
  // its kin), the control panel's help, the shader cache of the system
  // account.
  DeleteMatchingEntries(L"\\nvdisp*.*", system);
  DeleteFolderTree(windows + L"\\Help\\nvcpl");
  DeleteMatchingSubfolders(L"nv_cache", windows + L"\\Temp\\NVIDIA Corporation");
  // The profile folder of UpdatusUser.
  DeleteFolderTree(root + L"Users\\updatususer");

  // Caches and data in every account's profile.
  std::vector<std::wstring> accounts;
  GetAllUserName(accounts);
  for (const std::wstring& account : accounts) {
    const std::wstring appDataOf = root + L"Users\\" + account + L"\\AppData";
    for (const UserFolder& folder : kUserFolders)
      DeleteMatchingSubfolders(folder.fragment, appDataOf + folder.below);
  }
}

}  // namespace kyd
