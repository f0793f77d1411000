// deepclean_bench FOOTPRINT: the registry and file part of the AMD deep
// clean against one bare pass that lists the same keys, reads the same
// values and lists the same folders, once each, in the same run. Run by
// scripts/bench-deepclean.sh in a prefix seeded to the size of a Windows 10
// machine; the footprint is seeded here. Tool runs (device removal, driver
// store) and waits (services, processes) are timed apart.
#include <windows.h>
#include <shlobj.h>

#include <cstdio>
#include <string>
#include <vector>

#include "engine/registry_access.h"
#include "machine/machine.h"
#include "platform/env.h"
#include "support/device_tool_bench.h"
#include "support/footprint.h"
#include "support/wine_bench.h"
#include "vendors/amd_display.h"
#include "vendors/amd_tables.h"

namespace {

using kyd::reg::Contains;

double Now() {
  LARGE_INTEGER counter, frequency;
  QueryPerformanceCounter(&counter);
  QueryPerformanceFrequency(&frequency);
  return static_cast<double>(counter.QuadPart) / static_cast<double>(frequency.QuadPart);
}

// The cleaner with its steps open, run in the frame's order.
class TimedCleaner : public kyd::CAMDDisplayDrvUninst {
 public:
  struct Times {
    double waits = 0, tools = 0, registry = 0, files = 0;
    int removal = 0;  // the device removal's result
  };
  Times Run(const wchar_t* hardwareId) {
    Times t;
    double start = Now();
    t.removal = RemoveDisplay(hardwareId);
    t.tools = Now() - start;
    start = Now();
    keepDevice = false;
    SnapshotRunEntries();
    KillProcessByName(L"explorer.exe");
    StopServices(kyd::amd::kServices);
    KillProcesses(kyd::amd::kFileTable);
    KillProcesses(kyd::amd::kPrograms);
    t.waits = Now() - start;
    start = Now();
    CleanRegistry();
    t.registry = Now() - start;
    start = Now();
    CleanFiles();
    DeleteSystemFiles(kyd::amd::kFileTable);
    DeleteSystemFiles(kyd::amd::kDriverTable);
    t.files = Now() - start;
    start = Now();
    CleanDriverStore(hardwareId);
    t.tools += Now() - start;
    return t;
  }
};

// Reads without changing anything; counts what it read.
struct BareReader {
  long keys = 0, values = 0, entries = 0;

  std::vector<std::wstring> List(HKEY root, const std::wstring& path) {
    std::vector<std::wstring> names;
    if (kyd::reg::ListSubKeys(root, path, names)) ++keys;
    keys += static_cast<long>(names.size());
    return names;
  }
  void Read(HKEY root, const std::wstring& path, const std::wstring& name) {
    std::wstring text;
    if (kyd::CBaseDrvUninst::ReadStringValue(root, path, name, text)) ++values;
  }
  // Value names and their string data.
  void Values(HKEY root, const std::wstring& path) {
    std::vector<std::wstring> names;
    kyd::CBaseDrvUninst::EnumValueNames(root, path, names);
    for (const std::wstring& name : names) Read(root, path, name);
  }
  void Folder(const std::wstring& folder) {
    WIN32_FIND_DATAW entry;
    kyd::UniqueFind search(FindFirstFileW((folder + L"\\*").c_str(), &entry));
    if (!search) return;
    do ++entries;
    while (FindNextFileW(search.get(), &entry));
  }
};

// Every key and value the AMD steps look at, once: the class, interface and
// program ID lists of both views (with each class's server and instance
// subkeys), application IDs, records, video adapters, the keys and value
// lists the sweeps read, the control sets, the users' hives, uninstall and
// installer product entries; and the folders the file steps look into.
void BarePass(BareReader& r) {
  const HKEY cr = HKEY_CLASSES_ROOT, lm = HKEY_LOCAL_MACHINE, users = HKEY_USERS;
  r.List(cr, L"");
  for (const std::wstring view : {L"", L"Wow6432Node\\"}) {
    for (const std::wstring& id : r.List(cr, view + L"Interface")) r.Read(cr, view + L"Interface\\" + id, L"");
    for (const std::wstring& id : r.List(cr, view + L"CLSID")) {
      const std::wstring key = view + L"CLSID\\" + id;
      r.Read(cr, key, L"");
      for (const std::wstring& sub : r.List(cr, key)) r.Read(cr, key + L"\\" + sub, L"");
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
  for (const std::wstring& set : r.List(lm, L"SYSTEM")) {
    if (!Contains()(set, L"controlset")) continue;
    r.List(lm, L"SYSTEM\\" + set + L"\\Enum\\Root");
    r.List(lm, L"SYSTEM\\" + set + L"\\Services\\eventlog");
    r.Values(lm, L"SYSTEM\\" + set + L"\\Control\\Session Manager\\Environment");
  }
  r.List(cr, L"Directory\\background\\shellex\\ContextMenuHandlers");
  for (const std::wstring& user : r.List(users, L"")) {
    r.List(users, user + L"\\Software");
    r.Values(users, user + L"\\Software\\Microsoft\\Windows\\CurrentVersion\\Run");
    const std::wstring products = user + L"\\Software\\Classes\\Installer\\Products";
    for (const std::wstring& code : r.List(users, products)) r.Read(users, products + L"\\" + code, L"ProductName");
  }
  const std::wstring userData = L"Software\\Microsoft\\Windows\\CurrentVersion\\Installer\\UserData";
  for (const std::wstring& user : r.List(lm, userData)) {
    const std::wstring products = userData + L"\\" + user + L"\\Products";
    for (const std::wstring& code : r.List(lm, products)) {
      const std::wstring properties = products + L"\\" + code + L"\\InstallProperties";
      r.Read(lm, properties, L"DisplayName");
      r.Read(lm, properties, L"LocalPackage");
    }
  }
  for (const std::wstring& code : r.List(cr, L"Installer\\Products"))
    r.Read(cr, L"Installer\\Products\\" + code, L"ProductName");
  r.Values(lm, L"Software\\Microsoft\\Windows\\CurrentVersion\\Installer\\Folders");

  const std::wstring windows = kyd::GetWindowsDir(), system = kyd::GetSystemDir();
  const std::wstring root = system.substr(0, 3);
  for (const std::wstring& folder : std::vector<std::wstring>{
           system, system + L"\\Drivers", windows, windows + L"\\Prefetch", windows + L"\\SysWOW64",
        windows + L"\\SysWOW64\\Drivers", root + L"AMD", kyd::GetSpecialFolder(CSIDL_PROGRAM_FILES_COMMON),
        root + L"Program Files", root + L"Program Files\\ATI", root + L"Program Files\\ATI Technologies",
        root + L"Program Files\\Common Files\\ATI Technologies", root + L"Program Files (x86)",
        root + L"Program Files (x86)\\ATI Technologies", kyd::GetAppDataDir() + L"\\ATI",
        kyd::GetAppDataDir() + L"\\Microsoft\\Windows\\Start Menu\\Programs"})
    r.Folder(folder);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: deepclean_bench FOOTPRINT\n");
    return 3;
  }
  kydtest::fp::Footprint footprint;
  std::string error;
  if (!kydtest::fp::LoadFootprint(kydtest::ToWide(argv[1]), footprint, error)) {
    std::fprintf(stderr, "%s\n", error.c_str());
    return 2;
  }
  kydtest::fp::Bench bench(footprint, false);
  if (!bench.Seed(error)) {
    std::fprintf(stderr, "seeding: %s\n", error.c_str());
    return 2;
  }
  kydtest::LibraryResourcesScope resources;  // the device-console tool

  BareReader reader;
  double start = Now();
  BarePass(reader);
  const double bare = Now() - start;

  TimedCleaner cleaner;
  kyd::machine::RunReads reads;  // one run, as the export makes it
  TimedCleaner::Times t = cleaner.Run(bench.hardwareId().c_str());
  const kyd::machine::RunReads::Counts counts = reads.counts();

  std::printf("bare pass:            %7.2f s  (%ld keys listed, %ld values read, %ld folder entries)\n", bare,
              reader.keys, reader.values, reader.entries);
  std::printf("deep clean, registry: %7.2f s  (%ld keys listed, %ld values read, %ld keys missing, %ld served)\n",
              t.registry, counts.listed, counts.values, counts.missing, counts.served);
  std::printf("deep clean, files:    %7.2f s\n", t.files);
  std::printf("registry + files:     %7.2f s  = %.2f x the bare pass\n", t.registry + t.files,
              (t.registry + t.files) / bare);
  std::printf("tool runs:            %7.2f s  (device removal with result %d, driver store)\n", t.tools,
              t.removal);
  std::printf("waits:                %7.2f s  (services, processes)\n", t.waits);
  return 0;
}
