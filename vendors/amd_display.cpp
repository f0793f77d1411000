#include "vendors/amd_display.h"

#include <shlobj.h>

#include <string>
#include <vector>

#include "engine/registry_access.h"
#include "platform/env.h"
#include "vendors/amd_tables.h"

namespace kyd {
namespace {

const VendorTables kAmdTables = {amd::kServices, amd::kFileTable, amd::kPrograms, amd::kDriverTable};

constexpr wchar_t kVideo[] = L"SYSTEM\\CurrentControlSet\\Control\\Video";
constexpr wchar_t kUnitedVideo[] = L"SYSTEM\\CurrentControlSet\\Hardware Profiles\\UnitedVideo\\CONTROL\\VIDEO";
constexpr wchar_t kPnpResources[] =
    L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Setup\\PnpResources\\Registry\\HKLM\\";
constexpr wchar_t kPnpLockdownFiles[] = L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Setup\\PnpLockdownFiles";
constexpr wchar_t kUserRun[] = L"\\Software\\Microsoft\\Windows\\CurrentVersion\\Run";

// Lists the subkeys of root\path first, then hands each name to visit; a key
// that cannot be read gives nothing.
template <typename Visit>
void ForEachSubKey(HKEY root, const std::wstring& path, Visit visit) {
  std::vector<std::wstring> names;
  reg::ListSubKeys(root, path, names);
  for (const std::wstring& name : names) visit(name);
}

}  // namespace

CAMDDisplayDrvUninst::CAMDDisplayDrvUninst() : CVendorDrvUninst(kAmdTables) {}

CAMDDisplayDrvUninst::~CAMDDisplayDrvUninst() = default;

void CAMDDisplayDrvUninst::CleanRegistry() {
  CleanComRegistrations();

  // ATI's installer keeps its .NET assemblies (the ACE framework of the
  // Catalyst Control Center) registered with Windows Installer and with the
  // native image service; the control panel's property page hangs off the
  // Display applet.
  DeleteSubKeysByName(HKEY_LOCAL_MACHINE, L"Software\\Classes\\Installer\\Assemblies", {L"ati.ace"});
  DeleteKey(HKEY_LOCAL_MACHINE,
            L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Controls Folder\\Display\\shellex\\"
            L"PropertySheetHandlers\\ATIACE");
  RemoveOpenClVendor(L"amdocl");
  DeleteSubKeysByName(HKEY_LOCAL_MACHINE,
                      L"SOFTWARE\\Microsoft\\.NETFramework\\v2.0.50727\\NGenService\\Roots", {L"ati.ace"});

  // The Catalyst context menu and the display control panel extension are
  // approved shell extensions.
  const wchar_t* const approved = L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Shell Extensions\\Approved";
  DeleteValuesByData(approved, amd::kApprovedShellExtensions);
  if (isWow64)
    DeleteValuesByData(L"SOFTWARE\\Wow6432Node\\Microsoft\\Windows\\CurrentVersion\\Shell Extensions\\Approved",
                       amd::kApprovedShellExtensions);

  // Windows protects the driver's files from replacement while the package
  // is installed; the kernel drivers stay protected while the device stays.
  DeleteSubKeysByName(HKEY_LOCAL_MACHINE, kPnpLockdownFiles, amd::kFileTable);
  DeleteValuesByName(kPnpLockdownFiles, amd::kFileTable);
  if (!keepDevice) {
    DeleteSubKeysByName(HKEY_LOCAL_MACHINE, kPnpLockdownFiles, amd::kDriverTable);
    DeleteValuesByName(kPnpLockdownFiles, amd::kDriverTable);
  }

  // Registry resources the driver package declared to Plug and Play.
  struct Resource {
    const wchar_t* key;
    bool only64BitWindows;
  };
  const Resource resources[] = {
      {L"SOFTWARE\\Khronos", false},
      {L"SOFTWARE\\AMD", false},
      {L"SOFTWARE\\ATI Technologies", false},
      {L"SYSTEM\\CurrentControlSet\\Services\\Atierecord", false},
      {L"SYSTEM\\CurrentControlSet\\Services\\amdkmdap", false},
      {L"SOFTWARE\\Wow6432Node\\Khronos", true},
      {L"SOFTWARE\\Wow6432Node\\ATI\\ACE", true},
      {L"SOFTWARE\\AMD\\EEU", false},
      {L"SYSTEM\\CurrentControlSet\\Services\\Atierecord\\eRecordEnable", false},
      {L"SYSTEM\\CurrentControlSet\\Services\\Atierecord\\eRecordEnablePopups", false},
  };
  for (const Resource& resource : resources)
    if (!resource.only64BitWindows || isWow64)
      DeleteKey(HKEY_LOCAL_MACHINE, std::wstring(kPnpResources) + resource.key);

  CleanControlSets();

  // The ACE desktop context menu. Handlers are matched by the start of their
  // name: "ACE" inside a word (a handler named "PlaceHolder") is someone
  // else's.
  DeleteSubKeysByPrefix(HKEY_CLASSES_ROOT, L"Directory\\background\\shellex\\ContextMenuHandlers", {L"ACE"});

  CleanUserHives();
  CleanVendorKeys();
  CleanUninstallAndStartup();
}

// Program IDs, interfaces and classes of the Catalyst Control Center, the
// wireless display tool, the transcoder, Steady Video and the multimedia
// filters, with what refers to them.
void CAMDDisplayDrvUninst::CleanComRegistrations() {
  CleanProgIds(amd::kProgIdFragments);
  CleanInterfaces(amd::kInterfaceFragments);
  CleanVideoAdapterKeys();
  CleanClasses(amd::kClassFragments);

  CleanClassInstances(L"CLSID", L"Software\\Classes\\CLSID");
  if (isWow64) CleanClassInstances(L"Wow6432Node\\CLSID", L"Software\\Wow6432Node\\Classes\\CLSID");

  // The wireless display tool's application IDs: a key named after its
  // program, whose "AppID" value names the key of the ID itself.
  ForEachSubKey(HKEY_CLASSES_ROOT, L"AppID", [&](const std::wstring& name) {
    if (!reg::Contains()(name, L"amdwdst")) return;
    std::wstring id;
    // One key name only: a path in the value would reach some other key.
    if (ReadStringValue(HKEY_CLASSES_ROOT, L"AppID\\" + name, L"AppID", id) && !id.empty() &&
        id.find(L'\\') == std::wstring::npos)
      DeleteKey(HKEY_CLASSES_ROOT, L"AppID\\" + id);
    DeleteKey(HKEY_CLASSES_ROOT, L"AppID\\" + name);
  });

  // Records (.NET structures exposed to COM) of the control center's COM
  // assembly.
  ForEachSubKey(HKEY_CLASSES_ROOT, L"Record", [&](const std::wstring& record) {
    const std::wstring recordKey = L"Record\\" + record;
    std::vector<std::wstring> versions;
    reg::ListSubKeys(HKEY_CLASSES_ROOT, recordKey, versions);
    for (const std::wstring& version : versions) {
      std::wstring assembly;
      if (ReadStringValue(HKEY_CLASSES_ROOT, recordKey + L"\\" + version, L"Assembly", assembly) &&
          reg::Contains()(assembly, L"aticccom")) {
        DeleteKey(HKEY_CLASSES_ROOT, recordKey);
        break;  // the rest of the record went with it
      }
    }
  });
}

// A video adapter driven by the AMD miniport keeps its settings under a
// GUID of its own; the hardware profile keeps a copy under the same GUID.
void CAMDDisplayDrvUninst::CleanVideoAdapterKeys() {
  ForEachSubKey(HKEY_LOCAL_MACHINE, kVideo, [&](const std::wstring& adapter) {
    std::wstring service;
    const std::wstring key = std::wstring(kVideo) + L"\\" + adapter;
    if (!ReadStringValue(HKEY_LOCAL_MACHINE, key + L"\\Video", L"Service", service) ||
        !reg::Contains()(service, L"amdkmdap"))
      return;
    DeleteKey(HKEY_LOCAL_MACHINE, key);
    DeleteKey(HKEY_LOCAL_MACHINE, std::wstring(kUnitedVideo) + L"\\" + adapter);
  });
}

// DirectShow filters of the multimedia components are class instances with
// a friendly name; the audio compression managers are classes whose server
// subkey names atiacm*.dll. Only the server subkeys are looked at: the class
// sweep before has read them already, and a class's other subkeys (its
// program ID, its type library) name no server.
void CAMDDisplayDrvUninst::CleanClassInstances(const std::wstring& classesRootClsid,
                                               const std::wstring& machineClsid) {
  static const wchar_t* const kServers[] = {L"InProcServer32", L"LocalServer32"};
  ForEachSubKey(HKEY_CLASSES_ROOT, classesRootClsid, [&](const std::wstring& id) {
    const std::wstring key = classesRootClsid + L"\\" + id;
    DeleteSubKeysByValueData(amd::kClassServerFragments, HKEY_CLASSES_ROOT, key, L"", kServers);
    DeleteSubKeysByValueData(amd::kInstanceFriendlyNames, HKEY_CLASSES_ROOT, key + L"\\Instance", L"FriendlyName");
  });
  ForEachSubKey(HKEY_LOCAL_MACHINE, machineClsid, [&](const std::wstring& id) {
    DeleteSubKeysByValueData(amd::kClassServerFragments, HKEY_LOCAL_MACHINE, machineClsid + L"\\" + id, L"",
                             kServers);
  });
}

// Every control set (the current one and the numbered ones Windows boots
// from): the legacy device node of the miniport, the event log sources of
// the external events service and the driver, the ATI eRecord service, and
// the APP SDK's environment variable.
void CAMDDisplayDrvUninst::CleanControlSets() {
  ForEachSubKey(HKEY_LOCAL_MACHINE, L"SYSTEM", [&](const std::wstring& set) {
    if (!reg::Contains()(set, L"controlset")) return;
    const std::wstring base = L"SYSTEM\\" + set;
    DeleteSubKeysByName(HKEY_LOCAL_MACHINE, base + L"\\Enum\\Root", {L"legacy_amdkmdag"});
    DeleteSubKeysByName(HKEY_LOCAL_MACHINE, base + L"\\Services\\eventlog", {L"aceeventlog"});
    DeleteKey(HKEY_LOCAL_MACHINE, base + L"\\Services\\eventlog\\Application\\ATIeRecord");
    DeleteKey(HKEY_LOCAL_MACHINE, base + L"\\Services\\eventlog\\System\\amdkmdag");
    DeleteKey(HKEY_LOCAL_MACHINE, base + L"\\Services\\eventlog\\System\\amdkmdap");
    DeleteKey(HKEY_LOCAL_MACHINE, base + L"\\Services\\Atierecord");
    DeleteValuesByName(base + L"\\Control\\Session Manager\\Environment", {L"AMDAPPSDKROOT"});
  });
}

// Every loaded user's settings of the ATI tools ("Software\ATI",
// "Software\ATI Technologies"), matched by the start of the key name: the
// letters inside a name ("Contoso Corporation") are someone else's.
void CAMDDisplayDrvUninst::CleanUserHives() {
  ForEachSubKey(HKEY_USERS, L"", [&](const std::wstring& user) {
    DeleteSubKeysByPrefix(HKEY_USERS, user + L"\\Software", {L"ATI"});
  });
}

// The machine's ATI and AMD keys: the ACE framework, the install manager's
// component records, the external events utility and the FUEL service.
// Each parent goes when no subkey is left in it.
void CAMDDisplayDrvUninst::CleanVendorKeys() {
  const HKEY machine = HKEY_LOCAL_MACHINE;
  auto cleanInstallRecords = [&](const std::wstring& technologies, NameList components) {
    ForEachSubKey(machine, technologies, [&](const std::wstring& name) {
      if (!reg::Contains()(name, L"install")) return;
      const std::wstring install = technologies + L"\\" + name;
      DeleteSubKeysByName(machine, install, components);
      DeleteKeyIfNoSubKeys(machine, install);
    });
  };

  DeleteSubKeysByName(machine, L"Software\\ATI", {L"ace", L"install"});
  DeleteKeyIfNoSubKeys(machine, L"Software\\ATI");
  DeleteSubKeysByName(machine, L"Software\\ATI Technologies", {L"cbt"});
  cleanInstallRecords(L"Software\\ATI Technologies", amd::kInstallSubkeys);
  DeleteKeyIfNoSubKeys(machine, L"Software\\ATI Technologies");
  DeleteSubKeysByName(machine, L"Software\\AMD", {L"eeu", L"fuel", L"mftvdecoder"});
  DeleteKeyIfNoSubKeys(machine, L"Software\\AMD");

  if (!isWow64) return;
  DeleteSubKeysByName(machine, L"Software\\Wow6432Node\\ATI", {L"ace"});
  DeleteKeyIfNoSubKeys(machine, L"Software\\Wow6432Node\\ATI");
  DeleteSubKeysByName(machine, L"Software\\Wow6432Node\\AMD", {L"eeu", L"mftvdecoder"});
  DeleteKeyIfNoSubKeys(machine, L"Software\\Wow6432Node\\AMD");
  DeleteSubKeysByName(machine, L"Software\\Wow6432Node\\ATI Technologies", {L"system wide settings"});
  cleanInstallRecords(L"Software\\Wow6432Node\\ATI Technologies", amd::kInstallSubkeys32);
  DeleteKeyIfNoSubKeys(machine, L"Software\\Wow6432Node\\ATI Technologies");
}

// HydraVision's desktop manager and grid start at every user's logon; the
// suite's products are registered for uninstall and with Windows Installer;
// the Catalyst Control Center and AVT start at logon for the machine; shared
// DLL counts and installer folders keep its libraries and folders alive.
void CAMDDisplayDrvUninst::CleanUninstallAndStartup() {
  ForEachSubKey(HKEY_USERS, L"", [&](const std::wstring& user) {
    DeleteWholeValues(HKEY_USERS, user + kUserRun, {L"HydraVisionDesktopManager", L"Grid", L"HydraVisionMDEngine"});
  });

  const wchar_t* const uninstall = L"Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall";
  DeleteSubKeysByValueData(amd::kProductNames, HKEY_LOCAL_MACHINE, uninstall, L"DisplayName");
  if (isWow64)
    DeleteSubKeysByValueData(amd::kProductNames, HKEY_LOCAL_MACHINE,
                             L"Software\\Wow6432Node\\Microsoft\\Windows\\CurrentVersion\\Uninstall", L"DisplayName");
  BaseCleanInstaller(amd::kProductNames);

  DeleteWholeValues(HKEY_LOCAL_MACHINE, L"Software\\Microsoft\\Windows\\CurrentVersion\\Run",
                    {L"StartCCC", L"AMD AVT"});
  if (isWow64)
    DeleteWholeValues(HKEY_LOCAL_MACHINE, L"Software\\Wow6432Node\\Microsoft\\Windows\\CurrentVersion\\Run",
                      {L"StartCCC", L"AMD AVT"});

  DeleteValuesByName(L"Software\\Microsoft\\Windows\\CurrentVersion\\SharedDLLs", amd::kSharedDllFragments);
  if (isWow64)
    DeleteValuesByName(L"Software\\Wow6432Node\\Microsoft\\Windows\\CurrentVersion\\SharedDLLs",
                       amd::kSharedDllFragments);
  DeleteValuesByName(L"Software\\Microsoft\\Windows\\CurrentVersion\\Installer\\Folders",
                     amd::kInstallerFolderFragments);

  // Steady Video's browser helper object, and on 64-bit Windows the 32-bit
  // classes of the wireless display tool and the transcoder.
  DeleteSubKeysByValueData({L"SteadyVideoBHO"}, HKEY_CLASSES_ROOT, L"CLSID", L"");
  if (isWow64) {
    DeleteSubKeysByValueData(amd::kClassNames32, HKEY_CLASSES_ROOT, L"Wow6432Node\\CLSID", L"");
    DeleteSubKeysByValueData({L"SteadyVideoBHO"}, HKEY_CLASSES_ROOT, L"Wow6432Node\\Interface", L"");
  }
}

void CAMDDisplayDrvUninst::CleanFiles() {
  const std::wstring windows = GetWindowsDir();
  const std::wstring root = GetSystemDir().substr(0, 3);
  const std::wstring programFiles = root + L"Program Files";
  const std::wstring commonFiles = GetSpecialFolder(CSIDL_PROGRAM_FILES_COMMON);
  const std::wstring appData = GetAppDataDir();

  // The driver package unpacks itself to C:\AMD.
  DeleteFolderTree(root + L"AMD");
  // The OpenGL profile and the video player's resources beside Windows.
  DeleteFileAndStartup(windows + L"\\atiogl.xml");
  DeleteFileAndStartup(windows + L"\\ativpsrm.bin");
  DeleteMatchingSubfolders(L"multimedia", commonFiles + L"\\ATI Technologies");
  CleanProgramFolders(programFiles, /*mainFolder=*/true);
  if (isWow64) CleanProgramFolders(root + L"Program Files (x86)", /*mainFolder=*/false);

  // The Catalyst Control Center's start menu folders and its ACE settings
  // of the account the library runs under, then every account's profile.
  DeleteFolderTree(appData + L"\\Microsoft\\Windows\\Start Menu\\Programs\\Catalyst Control Center");
  DeleteFolderTree(appData + L"\\Microsoft\\Windows\\Start Menu\\Programs\\AMD Catalyst Control Center");
  DeleteMatchingSubfolders(L"ace", appData + L"\\ATI");
  std::vector<std::wstring> users;
  GetAllUserName(users);
  for (const std::wstring& user : users) {
    const std::wstring profileData = root + L"Users\\" + user + L"\\AppData";
    DeleteMatchingSubfolders(L"ace", profileData + L"\\Roaming\\ATI");
    DeleteMatchingSubfolders(L"ace", profileData + L"\\Local\\ATI");
  }
}

// The suite's program folders: the install manager (ATI\CIM, only in the
// main Program Files folder), AVT, the ACE framework and HydraVision, the
// co-installers' copies in the Windows folder, the APP SDK, Quick Stream,
// Steady Video and the multimedia components. The 32-bit programs' folder of
// 64-bit Windows has no install manager, and there Quick Stream goes with
// AVT.
void CAMDDisplayDrvUninst::CleanProgramFolders(const std::wstring& programFiles, bool mainFolder) {
  const std::wstring windows = GetWindowsDir();
  if (mainFolder) DeleteMatchingSubfolders(L"cim", programFiles + L"\\ATI");
  DeleteFolderTree(programFiles + L"\\AMD AVT");
  if (!mainFolder) DeleteFolderTree(programFiles + L"\\AMD Quick Stream");
  DeleteMatchingSubfolders(L"ati.ace", programFiles + L"\\ATI Technologies");
  DeleteMatchingSubfolders(L"hydravision", programFiles + L"\\ATI Technologies");
  DeleteMatchingEntries(L"\\coinst_*.*", windows);
  DeleteFolderTree(programFiles + L"\\AMD APP");
  if (mainFolder) DeleteFolderTree(programFiles + L"\\AMD Quick Stream");
  DeleteFolderTree(programFiles + L"\\AMD\\SteadyVideo");
  DeleteMatchingSubfolders(L"multimedia", programFiles + L"\\Common Files\\ATI Technologies");
}

}  // namespace kyd
