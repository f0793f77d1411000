// The cleaning engine: the object every vendor cleaner is built on.
#pragma once

#include <windows.h>

#include <cstddef>
#include <initializer_list>
#include <memory>
#include <string>
#include <vector>

#include "platform/handle.h"

namespace kyd {

// The list argument of the engine's operations: a count and an array of wide
// strings, read in array order. A view only: the strings belong to the caller;
// the vendor tables are static arrays that live as long as the process.
class NameList {
 public:
  constexpr NameList() = default;
  constexpr NameList(const wchar_t* const* names, int count)
      : names_(names), count_(names != nullptr && count > 0 ? count : 0) {}
  template <size_t N>
  constexpr NameList(const wchar_t* const (&names)[N])  // implicit: tables pass as they are
      : NameList(names, static_cast<int>(N)) {}
  // A step's few literals written in the call, {L"eeu", L"fuel"}: the list
  // lives until the call returns, so such a NameList is for arguments only.
  constexpr NameList(std::initializer_list<const wchar_t*> names)
      : NameList(names.begin(), static_cast<int>(names.size())) {}

  constexpr int count() const { return count_; }
  constexpr bool empty() const { return count_ == 0; }
  constexpr const wchar_t* const* begin() const { return names_; }
  constexpr const wchar_t* const* end() const { return names_ + count_; }
  constexpr const wchar_t* operator[](int index) const { return names_[index]; }

 private:
  const wchar_t* const* names_ = nullptr;
  int count_ = 0;
};

// One startup entry as the deep clean found it: the value's name under a Run
// key and its command line with environment variables expanded.
struct RunEntry {
  std::wstring valueName;
  std::wstring command;
};

class CBaseDrvUninst {
 public:
  CBaseDrvUninst();
  virtual ~CBaseDrvUninst();
  CBaseDrvUninst(const CBaseDrvUninst&) = delete;
  CBaseDrvUninst& operator=(const CBaseDrvUninst&) = delete;

  // The vendor's deep clean; the engine itself cleans nothing.
  virtual void DeepClean(int keepDevice, const wchar_t* hardwareId);

  // --- processes and services ---
  // Ends every running process whose executable name equals a listed name
  // (any letter case). Always true.
  static bool KillProcesses(NameList names);
  // Ends every process with this executable name, silently; null does nothing.
  static void KillProcessByName(const wchar_t* name);
  // Asks each listed service to stop and waits up to about five seconds for
  // them; a paused service counts as stopped. Always true.
  static bool StopServices(NameList names);

  // --- registry: reading (64-bit view) ---
  // These take over an open key and close it.
  static bool HasNoSubKeys(UniqueKey key);
  static bool HasNoValues(UniqueKey key);
  // Appends the subkey names (the list is not emptied first).
  static bool EnumSubKeys(UniqueKey key, std::vector<std::wstring>& names);
  static bool EnumValueNames(HKEY root, const std::wstring& path,
                             std::vector<std::wstring>& names);
  // REG_SZ, REG_EXPAND_SZ (unexpanded) or the first string of REG_MULTI_SZ;
  // an empty value name reads the default value. text is left as it was on
  // failure.
  static bool ReadStringValue(HKEY root, const std::wstring& path, const std::wstring& valueName,
                              std::wstring& text);

  // --- registry: deleting ---
  static bool DeleteKeyTree(HKEY parent, const std::wstring& path);
  static bool DeleteKey(HKEY root, const std::wstring& path);
  static bool DeleteValue(UniqueKey key, const std::wstring& valueName,
                          const std::wstring& pathText);
  // Deletes one value of root\path and logs it; a key that cannot be opened
  // for deleting is passed over silently (false).
  static bool DeleteValueAt(HKEY root, const std::wstring& path, const std::wstring& valueName);
  // Deletes root\path when it opens and has no subkeys left, whatever values
  // it still holds; true when it was deleted.
  static bool DeleteKeyIfNoSubKeys(HKEY root, const std::wstring& path);
  // Deletes each listed value of root\path by its whole name, opening the
  // key afresh for each (DeleteValue closes it); a key that cannot be opened
  // for deleting is passed over.
  static void DeleteWholeValues(HKEY root, const std::wstring& path, NameList names);

  // --- registry: sweeps (list first, then delete what the list matches) ---
  static void DeleteSubKeysByName(HKEY root, const std::wstring& path, NameList fragments);
  static void DeleteSubKeysByExactName(const std::wstring& path, NameList names);
  // Each subkey of root\path whose name begins with a listed text (any letter
  // case): for short vendor words ("ATI") that would otherwise also hit
  // every name that merely holds the letters ("Contoso Corporation").
  static void DeleteSubKeysByPrefix(HKEY root, const std::wstring& path, NameList prefixes);
  // Deletes root\path when it has neither values nor subkeys, then its
  // parent on the same terms, and so on up to and including root\top (path
  // lies below top); stops at the first key that still holds anything.
  static void DeleteKeyIfEmptyUpTo(HKEY root, const std::wstring& path, const std::wstring& top);
  static void DeleteValuesByName(const std::wstring& path, NameList fragments);
  static void DeleteValuesByData(const std::wstring& path, NameList fragments);
  static void DeleteSubKeysByValueName(const std::wstring& path, HKEY root,
                                       const wchar_t* fragment);
  // Subkeys of root\path whose value `valueName` holds a fragment; with
  // `among`, only the subkeys of those names are looked at (the key is not
  // listed, and a name it lacks is passed over).
  static void DeleteSubKeysByValueData(NameList fragments, HKEY root, const std::wstring& path,
                                       const std::wstring& valueName, NameList among = {});

  // --- COM registrations (HKEY_CLASSES_ROOT) ---
  // Program IDs whose name contains a fragment, with the class they name.
  static bool CleanProgIds(NameList fragments);
  // Classes whose name and server paths, joined, contain a fragment, and application
  // IDs whose key name does; the 32-bit view too when isWow64 is set.
  bool CleanClasses(NameList fragments);
  // Interfaces whose ID or name contains a fragment; 32-bit view as above.
  bool CleanInterfaces(NameList fragments);

  // --- Windows Installer registrations ---
  // Products whose name contains a fragment, in the four places Windows
  // Installer keeps them, with their cached package and folder entries.
  bool BaseCleanInstaller(NameList fragments);

  // --- files and folders ---
  // Every file deleted here also takes the startup entries (runEntries) whose
  // command names it.
  bool DeleteFileAndStartup(const std::wstring& path);
  // Every listed file in the folder, but the shared OpenCL loader while
  // another vendor's OpenCL driver is still registered.
  void DeleteFilesInFolder(NameList names, const std::wstring& folder);
  // For the loader of this process's bitness (the one in the system folder
  // it sees): a driver under Khronos\OpenCL\Vendors, or the DCH registration
  // of another vendor's display adapter.
  bool OtherOpenClDriversRemain() const;
  // The system folder, its Drivers, the Windows folder, its Prefetch, and on
  // 64-bit Windows SysWOW64 and its Drivers; with the native-system option,
  // then the native System32 and its Drivers through drv64.exe.
  void DeleteSystemFiles(NameList names);
  // The system folder and its Drivers as this process sees them (in
  // drv64.exe: the native ones).
  void DeleteSystemFolderFiles(NameList names);
  // The native-system option (off unless the host asks for it), and the
  // device being uninstalled, whose vendor's OpenCL registrations do not keep
  // the loader.
  void SetNativeSystem(bool on) { nativeSystem = on; }
  void SetDevice(const wchar_t* hardwareId) { deviceId = hardwareId ? hardwareId : L""; }
  // True when the folder itself was removed.
  bool DeleteFolderTree(const std::wstring& folder);
  void DeleteMatchingSubfolders(const wchar_t* fragment, const std::wstring& folder);
  // pattern: a backslash and a wildcard name, such as "\\coinst_*.*".
  void DeleteMatchingEntries(const wchar_t* pattern, const std::wstring& folder);
  // Local administrators and users (not "ASPNET" users, never guests).
  static void GetAllUserName(std::vector<std::wstring>& names);

  // --- startup entries ---
  // Records the Run keys' values with their expanded commands, replacing an
  // earlier record. Always true.
  bool SnapshotRunEntries();

  // --- driver store (device-console tool) ---
  // Writes embedded tool build `number` (102 to 105, engine/driver_store.h)
  // to `path`, replacing any file there; true only when the whole build was
  // written. With `lock` the file stays open in it, shared for reading only,
  // so that no other process can rewrite, rename or delete it before it has
  // run; without one it is closed. A failed release leaves no file.
  static bool ReleaseRes(WORD number, const std::wstring& path, UniqueFile* lock = nullptr);
  // The build for this Windows and this engine's bitness.
  WORD DeviceToolBuild() const;
  // Takes the device's driver packages out of the driver store with the
  // tool; true when the tool could be released, whatever was found.
  bool CleanDriverStore(const wchar_t* hardwareId);
  // The device's software devices, component packages and extension
  // packages (removal/components.h), before its own packages go.
  void CleanComponents(const wchar_t* hardwareId);
  // For each oem*.inf that names the device: the tool's dp_delete, then the
  // INF and its PNF are deleted. True when at least one INF named it.
  static bool DeleteDriverStorePackages(const wchar_t* hardwareId, std::wstring toolPath);
  // --- end driver store ---

 protected:
  BOOL isWow64 = FALSE;                                // 32-bit library on 64-bit Windows
  bool keepDevice = false;                             // set by DeepClean before any step
  std::vector<std::unique_ptr<RunEntry>> runEntries;  // startup entries found at the start
  bool nativeSystem = false;                           // also the native system folders (drv64.exe)
  std::wstring deviceId;                               // the hardware ID being uninstalled

 private:
  // Deletes, from every startup key, the values of the recorded entries
  // whose command contains path.
  void DeleteStartupEntriesNaming(const std::wstring& path);
  // Hands the names to drv64.exe, which deletes them from the native system
  // folders of 64-bit Windows, with the plan or journal going on in it.
  void DeleteNativeSystemFiles(NameList names);
};

}  // namespace kyd
