// deepclean_bench [amd|nvidia] FOOTPRINT: the registry and file part of a
// vendor's deep clean against a bare pass that lists the same keys, reads
// the same values and lists the same folders, once each, in the same run
// (the mean of one just before the clean and one just after it).
// Run by scripts/bench-deepclean.sh in a prefix seeded to the size of a
// Windows 10 machine; the footprint is seeded here. Tool runs (device
// removal, driver store) and waits (services, processes) are timed apart.
// The bare pass reads through Win32 itself, never through the library, so
// that nothing the library keeps between reads can serve it.
#include <windows.h>
#include <shlobj.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <cwchar>
#include <initializer_list>
#include <string>
#include <vector>

#include "engine/registry_access.h"
#include "machine/machine.h"
#include "platform/env.h"
#include "platform/find_str.h"
#include "platform/handle.h"
#include "support/device_tool_bench.h"
#include "support/footprint.h"
#include "support/wine_bench.h"
#include "vendors/amd_display.h"
#include "vendors/amd_tables.h"
#include "vendors/nvidia_display.h"
#include "vendors/nvidia_tables.h"

namespace {

using Vendor = kyd::CVendorDrvUninst<kyd::CDisplayDrvUninst>;
using Names = kyd::NameList;

double Now() {
  LARGE_INTEGER counter, frequency;
  QueryPerformanceCounter(&counter);
  QueryPerformanceFrequency(&frequency);
  return static_cast<double>(counter.QuadPart) / static_cast<double>(frequency.QuadPart);
}

// Whether the text holds a fragment, in any letter case.
bool HasAny(const std::wstring& text, kyd::NameList fragments) {
  auto lower = [](std::wstring s) {
    for (wchar_t& c : s) c = static_cast<wchar_t>(towlower(c));
    return s;
  };
  const std::wstring haystack = lower(text);
  for (const wchar_t* fragment : fragments)
    if (fragment && haystack.find(lower(fragment)) != std::wstring::npos) return true;
  return false;
}

// The frame's steps are protected, and a cleaner may be final: a class
// derived from the frame may still name them, and the member pointers it
// hands out reach them in any cleaner. Never made itself.
struct Steps : Vendor {
  static void Registry(Vendor& cleaner) { (cleaner.*(&Steps::CleanRegistry))(); }
  static void Files(Vendor& cleaner) { (cleaner.*(&Steps::CleanFiles))(); }
  static const kyd::VendorTables& Tables(const Vendor& cleaner) { return (cleaner.*(&Steps::tables))(); }
  static bool& KeepDevice(Vendor& cleaner) { return cleaner.*(&Steps::keepDevice); }
};

// When Wine's server last wrote the prefix's registry to disk (system.reg's
// time); zero when it cannot be told.
unsigned long long RegistryWritten() {
  char prefix[MAX_PATH];
  DWORD length = GetEnvironmentVariableA("WINEPREFIX", prefix, sizeof prefix);
  if (length == 0 || length >= sizeof prefix) return 0;
  const std::string path = std::string("Z:") + prefix + "\\system.reg";
  WIN32_FILE_ATTRIBUTE_DATA data;
  if (!GetFileAttributesExA(path.c_str(), GetFileExInfoStandard, &data)) return 0;
  return (static_cast<unsigned long long>(data.ftLastWriteTime.dwHighDateTime) << 32) |
         data.ftLastWriteTime.dwLowDateTime;
}

// Wine's server writes a changed registry to disk every 30 seconds, and on a
// registry this size that stalls every request for seconds; Windows writes
// its hives behind the callers' backs. Each timed part (the bare passes and
// the clean's registry and file steps) starts just after a save has written
// the changes before it (the seeding, the device removal, the clean), so that
// the next save is due 30 seconds later, after the part. Whether one fell
// into a part anyway is printed.
void WaitForRegistrySave() {
  const unsigned long long before = RegistryWritten();
  if (!before) return;
  for (int waited = 0; waited < 80 && RegistryWritten() == before; ++waited) Sleep(500);
  Sleep(2000);
}

// The processor time this thread and Wine's server have spent, in seconds:
// the work a part makes the machine do, whatever else the machine (or the
// host under it) is busy with meanwhile. The server's is read from its own
// /proc/self/stat, since the server is the process that opens a file. Zero
// for the server when that cannot be read.
struct Cpu {
  double client = 0, server = 0;
  double total() const { return client + server; }
  Cpu operator-(const Cpu& since) const { return {client - since.client, server - since.server}; }
};
Cpu CpuNow() {
  Cpu cpu;
  FILETIME created, exited, kernel, user;
  auto seconds = [](FILETIME t) {
    return static_cast<double>((static_cast<unsigned long long>(t.dwHighDateTime) << 32) | t.dwLowDateTime) / 1e7;
  };
  if (GetThreadTimes(GetCurrentThread(), &created, &exited, &kernel, &user))
    cpu.client = seconds(kernel) + seconds(user);
  kyd::UniqueFile stat(
      CreateFileA("Z:\\proc\\self\\stat", GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
  char text[1024] = {};
  DWORD got = 0;
  if (!stat || !ReadFile(stat.get(), text, sizeof text - 1, &got, nullptr)) return cpu;
  // After "pid (name) ": the state, then fields 4 to 13; user and system
  // time are fields 14 and 15, in clock ticks.
  const char* field = std::strrchr(text, ')');
  for (int number = 2; field && number < 14; ++number) field = std::strchr(field + 1, ' ');
  if (!field) return cpu;
  char* end = nullptr;
  const double ticks = std::strtod(field + 1, &end);
  cpu.server = (ticks + std::strtod(end, nullptr)) / 100.0;  // USER_HZ
  return cpu;
}

struct Times {
  double waits = 0, tools = 0, registry = 0, files = 0;
  Cpu work;  // the registry and file steps' processor time
  bool saved = false;  // Wine saved the registry during the registry and file steps
  int removal = 0;  // the device removal's result
};

// The cleaner's deep clean in the frame's order (vendors/deep_clean.h),
// with the device removal of the display layer before it, each part timed.
Times TimedClean(Vendor& cleaner, const wchar_t* hardwareId) {
  Times t;
  const kyd::VendorTables& tables = Steps::Tables(cleaner);
  double start = Now();
  t.removal = cleaner.RemoveDisplay(hardwareId);
  t.tools = Now() - start;
  start = Now();
  Steps::KeepDevice(cleaner) = false;
  cleaner.SetDevice(hardwareId);
  cleaner.SnapshotRunEntries();
  cleaner.KillProcessByName(L"explorer.exe");
  cleaner.StopServices(tables.services);
  cleaner.KillProcesses(tables.fileTable);
  cleaner.KillProcesses(tables.programs);
  t.waits = Now() - start;
  WaitForRegistrySave();
  const unsigned long long written = RegistryWritten();
  start = Now();
  const Cpu begun = CpuNow();
  Steps::Registry(cleaner);
  t.registry = Now() - start;
  start = Now();
  Steps::Files(cleaner);
  cleaner.DeleteSystemFiles(tables.fileTable);
  if (!Steps::KeepDevice(cleaner)) cleaner.DeleteSystemFiles(tables.driverTable);
  t.files = Now() - start;
  t.work = CpuNow() - begun;
  t.saved = RegistryWritten() != written;
  start = Now();
  cleaner.CleanDriverStore(hardwareId);
  t.tools += Now() - start;
  return t;
}

// Reads without changing anything (the 64-bit view, as the engine reads);
// counts what it read.
struct BareReader {
  long keys = 0, values = 0, entries = 0;
  // What the COM sweeps test their fragments against, as read: program
  // IDs, each class's name and server paths joined, each interface's ID and
  // name (both registry views).
  std::vector<std::wstring> progIds, classTexts, interfaceIds, interfaceNames;
  // Whether the installer's lists held a product of the vendor's (then the
  // lists that refer to products are read too). A pass after the clean
  // takes what the pass before it found: the clean read them because the
  // product was there, and the bare pass reads what the clean read.
  bool machineProduct = false, classesProduct = false;
  const BareReader* before = nullptr;

  static bool Open(HKEY root, const std::wstring& path, kyd::UniqueKey& key) {
    return RegOpenKeyExW(root, path.c_str(), 0, KEY_READ | KEY_WOW64_64KEY, key.put()) == ERROR_SUCCESS;
  }
  std::vector<std::wstring> List(HKEY root, const std::wstring& path) {
    std::vector<std::wstring> names;
    kyd::UniqueKey key;
    if (!Open(root, path, key)) return names;
    ++keys;
    wchar_t name[256];
    for (DWORD i = 0;; ++i) {
      DWORD length = 256;
      if (RegEnumKeyExW(key.get(), i, name, &length, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) break;
      names.emplace_back(name, length);
    }
    keys += static_cast<long>(names.size());
    return names;
  }
  // A key the step deletes or tests when it is there: opened, nothing more.
  void Probe(HKEY root, const std::wstring& path) {
    kyd::UniqueKey key;
    if (Open(root, path, key)) ++keys;
  }
  // Opened, and its counts of subkeys and values asked for.
  void Counts(HKEY root, const std::wstring& path) {
    kyd::UniqueKey key;
    if (!Open(root, path, key)) return;
    ++keys;
    DWORD subKeys = 0, count = 0;
    RegQueryInfoKeyW(key.get(), nullptr, nullptr, nullptr, &subKeys, nullptr, nullptr, &count, nullptr, nullptr,
                     nullptr, nullptr);
  }
  // A value's data; with text, a string value's text.
  bool Read(HKEY root, const std::wstring& path, const std::wstring& name, std::wstring* text = nullptr) {
    kyd::UniqueKey key;
    if (!Open(root, path, key)) return false;
    std::vector<BYTE> data(4096);
    for (;;) {
      DWORD type = 0, size = static_cast<DWORD>(data.size() - sizeof(wchar_t));
      LONG status = RegQueryValueExW(key.get(), name.c_str(), nullptr, &type, data.data(), &size);
      if (status == ERROR_MORE_DATA) {
        data.assign(size + 2 * sizeof(wchar_t), 0);
        continue;
      }
      if (status != ERROR_SUCCESS) return false;
      ++values;
      if (text && (type == REG_SZ || type == REG_EXPAND_SZ || type == REG_MULTI_SZ)) {
        data[size] = data[size + 1] = 0;
        *text = reinterpret_cast<const wchar_t*>(data.data());
      }
      return true;
    }
  }
  std::vector<std::wstring> ValueNames(HKEY root, const std::wstring& path) {
    std::vector<std::wstring> names;
    kyd::UniqueKey key;
    if (!Open(root, path, key)) return names;
    std::vector<wchar_t> name(16384);
    for (DWORD i = 0;; ++i) {
      DWORD length = static_cast<DWORD>(name.size());
      if (RegEnumValueW(key.get(), i, name.data(), &length, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS)
        break;
      names.emplace_back(name.data(), length);
    }
    values += static_cast<long>(names.size());
    return names;
  }
  // Value names and their data.
  void Values(HKEY root, const std::wstring& path) {
    for (const std::wstring& name : ValueNames(root, path)) Read(root, path, name);
  }

  // The entries of folder\pattern; each subfolder (not a link) to visit.
  template <typename Visit>
  void Search(const std::wstring& folder, const wchar_t* pattern, Visit visit) {
    WIN32_FIND_DATAW entry;
    kyd::UniqueFind search(FindFirstFileW((folder + pattern).c_str(), &entry));
    if (!search) return;
    do {
      if (std::wcscmp(entry.cFileName, L".") == 0 || std::wcscmp(entry.cFileName, L"..") == 0) continue;
      ++entries;
      if ((entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) && !(entry.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT))
        visit(std::wstring(entry.cFileName));
    } while (FindNextFileW(search.get(), &entry));
  }
  void Folder(const std::wstring& folder) {
    Search(folder, L"\\*", [](const std::wstring&) {});
  }
  // The folder and everything below it.
  void Tree(const std::wstring& folder) {
    Search(folder, L"\\*", [&](const std::wstring& name) { Tree(folder + L"\\" + name); });
  }
  // The folder, and the trees of its subfolders whose name holds a fragment.
  void Matching(const std::wstring& folder, Names fragments) {
    Search(folder, L"\\*", [&](const std::wstring& name) {
      if (HasAny(name, fragments)) Tree(folder + L"\\" + name);
    });
  }
};

const HKEY cr = HKEY_CLASSES_ROOT, lm = HKEY_LOCAL_MACHINE, users = HKEY_USERS;
constexpr wchar_t kUserData[] = L"Software\\Microsoft\\Windows\\CurrentVersion\\Installer\\UserData";

std::vector<std::wstring> Views(bool wow64) {
  return wow64 ? std::vector<std::wstring>{L"", L"Wow6432Node\\"} : std::vector<std::wstring>{L""};
}

// The interfaces of one view, with their names.
void InterfacesPass(BareReader& r, const std::wstring& view) {
  for (const std::wstring& id : r.List(cr, view + L"Interface")) {
    std::wstring name;
    r.Read(cr, view + L"Interface\\" + id, L"", &name);
    r.interfaceIds.push_back(id);
    r.interfaceNames.push_back(name);
  }
}

// The COM sweeps' fragment tests alone (first match per candidate, in the
// engine's order) over what the bare pass read: how much of the clean is
// spent comparing names rather than reading them. As the engine tests them
// (each text and fragment folded once, then searched plainly), or, for
// comparison, folding both at every comparison (ContainsNoCase).
struct TestTime {
  double seconds = 0;
  long found = 0;  // candidates a fragment matched
};
TestTime FragmentTests(const BareReader& r, kyd::NameList progIds, kyd::NameList classes, kyd::NameList interfaces,
                       bool foldedOnce) {
  long found = 0;
  const double start = Now();
  auto fold = [](const std::wstring& text) { return kyd::FoldCase(text.c_str()); };
  const std::vector<std::wstring> lists[] = {kyd::reg::FoldedList(progIds), kyd::reg::FoldedList(classes),
                                             kyd::reg::FoldedList(interfaces)};
  auto first = [&](const std::wstring& text, const std::wstring* other, kyd::NameList fragments, int list) {
    if (foldedOnce) {
      const std::wstring a = fold(text), b = other ? fold(*other) : std::wstring();
      for (const std::wstring& fragment : lists[list])
        if (kyd::ContainsFolded(a, fragment) || (other && kyd::ContainsFolded(b, fragment))) {
          ++found;
          return;
        }
      return;
    }
    for (const wchar_t* fragment : fragments)
      if (kyd::reg::Contains()(text, fragment) || (other && kyd::reg::Contains()(*other, fragment))) {
        ++found;
        return;
      }
  };
  for (const std::wstring& name : r.progIds) first(name, nullptr, progIds, 0);
  for (const std::wstring& text : r.classTexts) first(text, nullptr, classes, 1);
  for (size_t i = 0; i < r.interfaceIds.size(); ++i) first(r.interfaceIds[i], &r.interfaceNames[i], interfaces, 2);
  return {Now() - start, found};
}

// The control sets of HKLM\SYSTEM, as "SYSTEM\<set>".
std::vector<std::wstring> ControlSets(BareReader& r) {
  std::vector<std::wstring> sets;
  for (const std::wstring& name : r.List(lm, L"SYSTEM"))
    if (HasAny(name, {L"controlset"})) sets.push_back(L"SYSTEM\\" + name);
  return sets;
}

// Windows Installer's product lists and each product's name; for the lists
// where a product of the vendor's is found, the lists the installer sweep
// then looks through (upgrade codes and components, by value name), once.
void InstallerPass(BareReader& r, kyd::NameList productNames) {
  auto named = [&](HKEY root, const std::wstring& key, const wchar_t* valueName) {
    std::wstring name;
    return r.Read(root, key, valueName, &name) && HasAny(name, productNames);
  };
  bool machineProduct = false;
  for (const std::wstring& user : r.List(lm, kUserData)) {
    if (!HasAny(user, {L"s-1-5"})) continue;
    const std::wstring products = std::wstring(kUserData) + L"\\" + user + L"\\Products";
    bool found = false;
    for (const std::wstring& code : r.List(lm, products))
      found = named(lm, products + L"\\" + code + L"\\InstallProperties", L"DisplayName") || found;
    if (r.before) found = r.before->machineProduct;
    if (!found) continue;
    machineProduct = true;
    const std::wstring components = std::wstring(kUserData) + L"\\" + user + L"\\Components";
    for (const std::wstring& component : r.List(lm, components)) r.ValueNames(lm, components + L"\\" + component);
  }
  if (machineProduct) {
    const std::wstring codes = L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Installer\\UpgradeCodes";
    for (const std::wstring& code : r.List(lm, codes)) r.ValueNames(lm, codes + L"\\" + code);
  }
  // HKCR's list is also HKLM\Software\Classes's: read once.
  bool classesProduct = false;
  for (const std::wstring& code : r.List(cr, L"Installer\\Products"))
    classesProduct = named(cr, L"Installer\\Products\\" + code, L"ProductName") || classesProduct;
  if (r.before) classesProduct = r.before->classesProduct;
  r.machineProduct = machineProduct;
  r.classesProduct = classesProduct;
  if (classesProduct)
    for (const std::wstring& code : r.List(cr, L"Installer\\UpgradeCodes"))
      r.ValueNames(cr, L"Installer\\UpgradeCodes\\" + code);
  for (const std::wstring& user : r.List(users, L"")) {
    const std::wstring products = user + L"\\Software\\Classes\\Installer\\Products";
    for (const std::wstring& code : r.List(users, products)) r.Read(users, products + L"\\" + code, L"ProductName");
  }
  r.ValueNames(lm, L"Software\\Microsoft\\Windows\\CurrentVersion\\Installer\\Folders");
}

// The folders the frame deletes the vendor's files from, and, when its file
// table names the OpenCL loader, what keeping the loader asks: the drivers
// registered for the loader of this process's bitness, and the display
// adapters' own registrations.
void SystemFilesPass(BareReader& r, bool wow64, kyd::NameList fileTable) {
  const std::wstring windows = kyd::GetWindowsDir(), system = kyd::GetSystemDir();
  for (const std::wstring& folder : {system, system + L"\\Drivers", windows, windows + L"\\Prefetch"}) r.Folder(folder);
  if (wow64) {
    r.Folder(windows + L"\\SysWOW64");
    r.Folder(windows + L"\\SysWOW64\\Drivers");
  }
  bool loaderListed = false;  // the loader's keeping is asked only then
  for (const wchar_t* name : fileTable) loaderListed = loaderListed || _wcsicmp(name, L"OpenCL.dll") == 0;
  if (!loaderListed) return;
  r.ValueNames(lm, wow64 ? L"Software\\Wow6432Node\\Khronos\\OpenCL\\Vendors" : L"Software\\Khronos\\OpenCL\\Vendors");
  const std::wstring display = L"SYSTEM\\CurrentControlSet\\Control\\Class\\{4d36e968-e325-11ce-bfc1-08002be10318}";
  for (const std::wstring& adapter : r.List(lm, display)) {
    r.Read(lm, display + L"\\" + adapter, wow64 ? L"OpenCLDriverNameWow" : L"OpenCLDriverName");
    r.Read(lm, display + L"\\" + adapter, L"MatchingDeviceId");
  }
}

// Every key and value the AMD steps look at, once: the class, interface and
// program ID lists of both views (with each class's two server subkeys and
// its instances), application IDs, records, video adapters, the keys and value
// lists the sweeps read, the control sets, the users' hives, uninstall and
// installer entries; and the folders the file steps look into.
void AmdBarePass(BareReader& r, bool wow64) {
  r.progIds = r.List(cr, L"");
  for (const std::wstring& view : Views(wow64)) {
    InterfacesPass(r, view);
    for (const std::wstring& id : r.List(cr, view + L"CLSID")) {
      const std::wstring key = view + L"CLSID\\" + id;
      std::wstring text, server;
      r.Read(cr, key, L"", &text);
      for (const wchar_t* sub : {L"InProcServer32", L"LocalServer32"}) {
        server.clear();
        r.Read(cr, key + L"\\" + sub, L"", &server);
        text += server;
      }
      r.classTexts.push_back(text);
      for (const std::wstring& instance : r.List(cr, key + L"\\Instance"))
        r.Read(cr, key + L"\\Instance\\" + instance, L"FriendlyName");
    }
    r.List(cr, view + L"AppID");
  }
  const std::wstring video = L"SYSTEM\\CurrentControlSet\\Control\\Video";
  for (const std::wstring& adapter : r.List(lm, video)) r.Read(lm, video + L"\\" + adapter + L"\\Video", L"Service");
  for (const std::wstring& record : r.List(cr, L"Record"))
    for (const std::wstring& version : r.List(cr, L"Record\\" + record))
      r.Read(cr, L"Record\\" + record + L"\\" + version, L"Assembly");
  r.List(lm, L"Software\\Classes\\Installer\\Assemblies");
  r.List(lm, L"SOFTWARE\\Microsoft\\.NETFramework\\v2.0.50727\\NGenService\\Roots");
  for (const std::wstring software : {L"Software\\", L"Software\\Wow6432Node\\"}) {
    r.Values(lm, software + L"Khronos\\OpenCL\\Vendors");
    r.Values(lm, software + L"Microsoft\\Windows\\CurrentVersion\\Shell Extensions\\Approved");
    r.Values(lm, software + L"Microsoft\\Windows\\CurrentVersion\\Run");
    r.Values(lm, software + L"Microsoft\\Windows\\CurrentVersion\\SharedDLLs");
    const std::wstring uninstall = software + L"Microsoft\\Windows\\CurrentVersion\\Uninstall";
    for (const std::wstring& entry : r.List(lm, uninstall)) r.Read(lm, uninstall + L"\\" + entry, L"DisplayName");
    for (const wchar_t* vendor : {L"ATI", L"ATI Technologies", L"AMD"})
      for (const std::wstring& sub : r.List(lm, software + vendor)) r.List(lm, software + vendor + L"\\" + sub);
  }
  const std::wstring lockdown = L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Setup\\PnpLockdownFiles";
  r.List(lm, lockdown);
  r.Values(lm, lockdown);
  for (const std::wstring& set : ControlSets(r)) {
    r.List(lm, set + L"\\Enum\\Root");
    r.List(lm, set + L"\\Services\\eventlog");
    r.Values(lm, set + L"\\Control\\Session Manager\\Environment");
  }
  r.List(cr, L"Directory\\background\\shellex\\ContextMenuHandlers");
  for (const std::wstring& user : r.List(users, L"")) {
    r.List(users, user + L"\\Software");
    r.Values(users, user + L"\\Software\\Microsoft\\Windows\\CurrentVersion\\Run");
  }
  InstallerPass(r, kyd::amd::kProductNames);

  const std::wstring windows = kyd::GetWindowsDir(), system = kyd::GetSystemDir();
  const std::wstring root = system.substr(0, 3);
  for (const std::wstring& folder : std::vector<std::wstring>{
           root + L"AMD", kyd::GetSpecialFolder(CSIDL_PROGRAM_FILES_COMMON), root + L"Program Files",
           root + L"Program Files\\ATI", root + L"Program Files\\ATI Technologies",
           root + L"Program Files\\Common Files\\ATI Technologies", root + L"Program Files (x86)",
           root + L"Program Files (x86)\\ATI Technologies", kyd::GetAppDataDir() + L"\\ATI",
           kyd::GetAppDataDir() + L"\\Microsoft\\Windows\\Start Menu\\Programs"})
    r.Folder(folder);
  SystemFilesPass(r, wow64, kyd::amd::kFileTable);
}

// Every key, value and folder the NVIDIA steps look at, once
// (vendors/nvidia_display.cpp, in its order).
void NvidiaBarePass(BareReader& r, bool wow64) {
  const std::wstring cv = L"Software\\Microsoft\\Windows\\CurrentVersion\\";
  const std::wstring cv32 = L"Software\\Wow6432Node\\Microsoft\\Windows\\CurrentVersion\\";
  // Program IDs; the classes of both views with their servers; application
  // IDs; interfaces with their names.
  r.progIds = r.List(cr, L"");
  for (const std::wstring& view : Views(wow64)) {
    for (const std::wstring& id : r.List(cr, view + L"CLSID")) {
      const std::wstring key = view + L"CLSID\\" + id;
      std::wstring name, inProc, local;
      r.Read(cr, key, L"", &name);
      r.Read(cr, key + L"\\InProcServer32", L"", &inProc);
      r.Read(cr, key + L"\\LocalServer32", L"", &local);
      r.classTexts.push_back(name + inProc + local);
    }
    r.List(cr, view + L"AppID");
    InterfacesPass(r, view);
  }
  r.List(lm, cv + L"Setup\\PnpLockdownFiles");
  r.ValueNames(lm, cv + L"Setup\\PnpLockdownFiles");
  const std::wstring resources = cv + L"Setup\\PnpResources\\Registry\\HKLM\\";
  for (const wchar_t* key :
       {L"SOFTWARE\\Khronos", L"SOFTWARE\\Wow6432Node\\NVIDIA Corporation\\Global\\CoprocManager\\OptimusEnhancements",
        L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Controls Folder\\Display\\shellex\\PropertySheetHandlers\\"
        L"NVIDIA CPL Extension",
        L"SOFTWARE\\NVIDIA Corporation"})
    r.Probe(lm, resources + key);
  if (wow64) r.Probe(lm, resources + L"SOFTWARE\\Wow6432Node\\Khronos");
  for (const std::wstring& set : ControlSets(r)) {
    r.Values(lm, set + L"\\Services\\SharedAccess\\Parameters\\FirewallPolicy\\FirewallRules");
    const std::wstring power = set + L"\\Control\\Power\\PowerSettings";
    for (const std::wstring& setting : r.List(lm, power)) r.Read(lm, power + L"\\" + setting, L"Description");
    r.List(lm, set + L"\\Services\\eventlog\\Application");
  }
  for (const std::wstring& software : Views(wow64)) {
    const std::wstring vendors = L"Software\\" + software + L"Khronos\\OpenCL\\Vendors";
    r.ValueNames(lm, vendors);
    r.Counts(lm, vendors);
    r.ValueNames(lm, (software.empty() ? cv : cv32) + L"SharedDLLs");
  }
  // Every user's settings and virtual store; then the machine's.
  for (const std::wstring& user : r.List(users, L"")) {
    for (const std::wstring& name : r.List(users, user + L"\\Software"))
      if (HasAny(name, {L"nvidia corporation"})) r.List(users, user + L"\\Software\\" + name);
    const std::wstring store = user + L"\\Software\\Classes\\VirtualStore\\MACHINE\\SOFTWARE\\NVIDIA Corporation";
    r.Probe(users, store + L"\\Global");
    r.Counts(users, store);
  }
  r.Probe(cr, L"VirtualStore\\MACHINE\\SOFTWARE\\NVIDIA Corporation\\Global");
  r.Counts(cr, L"VirtualStore\\MACHINE\\SOFTWARE\\NVIDIA Corporation");
  for (const std::wstring& view : Views(wow64)) {
    const std::wstring software = L"Software" + (view.empty() ? std::wstring() : L"\\Wow6432Node");
    for (const std::wstring& name : r.List(lm, software))
      if (HasAny(name, {L"nvidia corporation"})) r.List(lm, software + L"\\" + name);
    const std::wstring uninstall = (view.empty() ? cv : cv32) + L"Uninstall";
    for (const std::wstring& entry : r.List(lm, uninstall)) r.Read(lm, uninstall + L"\\" + entry, L"DisplayName");
    r.List(lm, L"SOFTWARE\\" + view + L"Microsoft\\.NETFramework\\v2.0.50727\\NGenService\\Roots");
  }
  if (wow64) r.List(lm, L"SOFTWARE\\Wow6432Node\\MozillaPlugins");
  const std::wstring profiles = L"Software\\Microsoft\\Windows NT\\CurrentVersion\\ProfileList";
  for (const std::wstring& sid : r.List(lm, profiles)) r.Read(lm, profiles + L"\\" + sid, L"ProfileImagePath");
  const std::wstring nameSpace = cv + L"Explorer\\ControlPanel\\NameSpace";
  for (const std::wstring& id : r.List(lm, nameSpace)) r.Read(lm, nameSpace + L"\\" + id, L"");
  for (const wchar_t* name : {L"Nvtmru", L"NvBackend", L"ShadowPlay", L"NvMediaCenter"}) r.Read(lm, cv + L"Run", name);
  if (wow64)
    for (const wchar_t* name : {L"StereoLinksInstall", L"NvMediaCenter"}) r.Read(lm, cv32 + L"Run", name);
  InstallerPass(r, {L"physx"});
  const std::wstring video = L"SYSTEM\\CurrentControlSet\\Control\\Video";
  for (const std::wstring& adapter : r.List(lm, video)) r.Read(lm, video + L"\\" + adapter + L"\\Video", L"Service");
  for (const wchar_t* type : {L"mpegfile", L"WMVFile", L"AVIFile"})
    r.Probe(cr, std::wstring(type) + L"\\shellex\\ContextMenuHandlers\\NvPlayOnMyTV");
  r.Values(lm, cv + L"Shell Extensions\\Approved");
  const std::wstring extended = cv + L"Control Panel\\Extended Properties";
  for (const std::wstring& page : r.List(lm, extended)) r.ValueNames(lm, extended + L"\\" + page);
  r.Values(lm, cv32 + L"Shell Extensions\\Approved");
  r.Probe(cr, L"Directory\\background\\shellex\\ContextMenuHandlers\\NvCplDesktopContext");

  const std::wstring windows = kyd::GetWindowsDir(), system = kyd::GetSystemDir();
  const std::wstring root = system.substr(0, 3), appData = kyd::GetAppDataDir();
  r.Tree(root + L"NVIDIA");
  r.Matching(appData + L"\\NVIDIA", {L"updatus"});
  r.Matching(appData + L"\\NVIDIA Corporation", {L"drs", L"geforce experience", L"netservice", L"shadowplay", L"nvstreamsvc"});
  r.Matching(appData + L"\\Microsoft\\Windows\\Start Menu\\Programs\\NVIDIA Corporation", {L"3d vision"});
  r.Tree(root + L"Program Files\\NVIDIA Corporation");
  r.Tree(root + L"Program Files\\AGEIA Technologies");
  if (wow64) r.Tree(root + L"Program Files (x86)\\NVIDIA Corporation");
  r.Search(system, L"\\nvdisp*.*", [&](const std::wstring& name) { r.Tree(system + L"\\" + name); });
  r.Tree(windows + L"\\Help\\nvcpl");
  r.Matching(windows + L"\\Temp\\NVIDIA Corporation", {L"nv_cache"});
  r.Tree(root + L"Users\\updatususer");
  std::vector<std::wstring> accounts;
  kyd::CBaseDrvUninst::GetAllUserName(accounts);
  for (const std::wstring& account : accounts) {
    const std::wstring data = root + L"Users\\" + account + L"\\AppData";
    r.Matching(data + L"\\Local\\Temp\\NVIDIA Corporation", {L"nv_cache"});
    r.Matching(data + L"\\Local\\Temp\\NVIDIA", {L"geforceexperienceselfupdate"});
    r.Matching(data + L"\\Local\\Temp\\Low\\NVIDIA Corporation", {L"nv_cache"});
    r.Matching(data + L"\\Local\\NVIDIA", {L"nvbackend", L"gfexperience"});
    r.Matching(data + L"\\Roaming\\NVIDIA", {L"computecache", L"glcache"});
    r.Matching(data + L"\\Local\\NVIDIA Corporation", {L"ledvisualizer", L"shadowplay", L"shield apps"});
  }
  SystemFilesPass(r, wow64, kyd::kNvFileTable);
}

}  // namespace

int main(int argc, char** argv) {
  // The vendor is optional: one argument is the AMD footprint, as before.
  const std::string vendor = argc == 3 ? argv[1] : "amd";
  if ((argc != 2 && argc != 3) || (vendor != "amd" && vendor != "nvidia")) {
    std::fprintf(stderr, "usage: deepclean_bench [amd|nvidia] FOOTPRINT\n");
    return 3;
  }
  kydtest::fp::Footprint footprint;
  std::string error;
  if (!kydtest::fp::LoadFootprint(kydtest::ToWide(argv[argc - 1]), footprint, error)) {
    std::fprintf(stderr, "%s\n", error.c_str());
    return 2;
  }
  kydtest::fp::Bench bench(footprint, false);
  if (!bench.Seed(error)) {
    std::fprintf(stderr, "seeding: %s\n", error.c_str());
    return 2;
  }
  kydtest::LibraryResourcesScope resources;  // the device-console tool
  const bool wow64 = kyd::IsWow64() != FALSE;
  WaitForRegistrySave();

  // A machine shared with others is slower for a while now and then: the
  // clean is set against the mean of a bare pass just before it and one just
  // after it (the footprint gone is a few keys of the 130,000), so that a
  // slow spell counts on both sides of the ratio more often than on one.
  auto barePass = [&](BareReader& r, bool& saved, Cpu& work) {
    const unsigned long long written = RegistryWritten();
    const Cpu cpu = CpuNow();
    const double begun = Now();
    if (vendor == "amd") AmdBarePass(r, wow64);
    else NvidiaBarePass(r, wow64);
    const double took = Now() - begun;
    work = CpuNow() - cpu;
    saved = RegistryWritten() != written;
    return took;
  };
  BareReader reader;
  bool savedBefore = false, savedAfter = false;
  Cpu workBefore, workAfter;
  const double bareBefore = barePass(reader, savedBefore, workBefore);

  auto tests = [&](bool foldedOnce) {
    return vendor == "amd" ? FragmentTests(reader, kyd::amd::kProgIdFragments, kyd::amd::kClassFragments,
                                           kyd::amd::kInterfaceFragments, foldedOnce)
                           : FragmentTests(reader, kyd::kNvProgIdFragments, kyd::kNvClassFragments,
                                           kyd::kNvInterfaceFragments, foldedOnce);
  };
  const TestTime engineTests = tests(true), perComparison = tests(false);

  kyd::CAMDDisplayDrvUninst amd;
  kyd::CNVDisplayDrvUninst nvidia;
  kyd::machine::RunReads reads;  // one run, as the export makes it
  Times t = TimedClean(vendor == "amd" ? static_cast<Vendor&>(amd) : nvidia, bench.hardwareId().c_str());
  const kyd::machine::RunReads::Counts counts = reads.counts();
  WaitForRegistrySave();
  BareReader again;
  again.before = &reader;
  const double bareAfter = barePass(again, savedAfter, workAfter);
  const double bare = (bareBefore + bareAfter) / 2;

  const char* name = vendor == "amd" ? "AMD" : "NVIDIA";
  std::printf("%s bare pass:            %7.2f s  (%ld keys listed, %ld values read, %ld folder entries;\n"
              "%s                                   the mean of %.2f s before the clean and %.2f s after it)\n",
              name, bare, reader.keys, reader.values, reader.entries, name, bareBefore, bareAfter);
  std::printf("%s deep clean, registry: %7.2f s  (%ld keys listed, %ld values read, %ld keys missing; %ld reads\n"
              "%s                                   answered from memory)\n",
              name, t.registry, counts.listed, counts.values, counts.missing, counts.served, name);
  std::printf("%s   its COM name tests:   %7.2f s  (program ID, class and interface fragments tested again apart,\n"
              "%s                                   over the names the bare pass read: %ld matches; %.2f s and\n"
              "%s                                   %ld matches folding text and fragment at every comparison)\n",
              name, engineTests.seconds, name, engineTests.found, perComparison.seconds, name, perComparison.found);
  std::printf("%s deep clean, files:    %7.2f s\n", name, t.files);
  std::printf("%s registry + files:     %7.2f s  = %.2f x the bare pass\n", name, t.registry + t.files,
              (t.registry + t.files) / bare);
  const double bareWork = (workBefore.total() + workAfter.total()) / 2;
  std::printf("%s processor time:       %7.2f s  = %.2f x the bare pass's %.2f s  (this program %.2f s and Wine's\n"
              "%s                                   server %.2f s in the clean; %.2f s and %.2f s in the bare pass)\n",
              name, t.work.total(), t.work.total() / bareWork, bareWork, t.work.client, name, t.work.server,
              (workBefore.client + workAfter.client) / 2, (workBefore.server + workAfter.server) / 2);
  std::printf("%s tool runs:            %7.2f s  (device removal with result %d, driver store)\n", name, t.tools,
              t.removal);
  std::printf("%s waits:                %7.2f s  (services, processes)\n", name, t.waits);
  std::string saves;
  for (const auto& [saved, part] : {std::pair{savedBefore, "the bare pass before"}, std::pair{t.saved, "the clean"},
                                    std::pair{savedAfter, "the bare pass after"}})
    if (saved) saves += (saves.empty() ? "" : ", ") + std::string(part);
  std::printf("%s Wine's registry saves: %s\n", name,
              saves.empty() ? "none during the timed parts" : ("during " + saves).c_str());
  return 0;
}
