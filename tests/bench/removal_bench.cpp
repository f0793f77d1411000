// removal_bench [RUNS]: the removal road end to end (DrvUninst_UninstallDrv
// on a seeded device with its driver INF, 150 other oem*.inf files in the INF
// folder) against the bare SetupAPI and DIFx calls the road makes, made here
// directly on an identical second device, side by side in each run; then the
// road's parts one by one, and what one call starts and reads: its drv64.exe
// starts and its passes over the INF folder, counted from the log of one
// more call. Run by scripts/bench-removal.sh from a host folder
// laid out as a host ships it (the library, drv64\drv64.exe, Kydconfig), with
// the DIFx double beside the library and beside drv64.exe.
#include <windows.h>
#include <setupapi.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cwchar>
#include <memory>
#include <string>
#include <vector>

#include "interface/drv_uninst_mangement.h"
#include "interface/driver_search.h"
#include "interface/uninstall_lock.h"
#include "platform/command_child.h"
#include "platform/console_runner.h"
#include "platform/env.h"
#include "platform/find_str.h"
#include "platform/handle.h"
#include "removal/components.h"
#include "removal/device_match.h"
#include "removal/difx.h"
#include "removal/driver_removal.h"
#include "removal/inf_index.h"
#include "removal/leftover_inf.h"
#include "support/wine_bench.h"

namespace {

using kydtest::kSystemClass;

double Now() {
  LARGE_INTEGER counter, frequency;
  QueryPerformanceCounter(&counter);
  QueryPerformanceFrequency(&frequency);
  return static_cast<double>(counter.QuadPart) / static_cast<double>(frequency.QuadPart);
}

template <typename Work>
double Timed(Work work) {
  double start = Now();
  work();
  return Now() - start;
}

// The median of five runs of work that leaves the machine as it found it.
template <typename Work>
double Median(Work work) {
  std::vector<double> times;
  for (int i = 0; i < 5; ++i) times.push_back(Timed(work));
  std::sort(times.begin(), times.end());
  return times[2];
}

// A device of the system class with its driver: the INF in the INF folder
// as an oemN.inf (with its PNF), and the driver key values Windows keeps for
// the installed driver.
struct DeviceWithDriver {
  explicit DeviceWithDriver(const std::wstring& id)
      : hardwareId(id),
        device({id}),
        inf(kydtest::FreeOemInfName(), kydtest::DriverInfText(id, L"Kyd Bench Bridge")),
        driven(device.ok() && kydtest::GiveDeviceADriver(device.instanceId(), inf.path().substr(inf.path().rfind(L'\\') + 1),
                                                         L"KydInstall", L"Kyd Bench Bridge", L"KydTest",
                                                         L"KydTest Devices")) {}
  std::wstring hardwareId;
  kydtest::SeededDevice device;
  kydtest::SeededInf inf;
  bool driven;
};

std::wstring BenchId(int number) {
  wchar_t id[96];
  std::swprintf(id, 96, L"PCI\\VEN_1B4C&DEV_%04X&SUBSYS_00011B4C&REV_01", 0x5200 + number);
  return id;
}

// The other packages of a Windows 10 machine's INF folder: mostly a few to
// a few dozen kilobytes, some display and network INFs of hundreds, a few
// in UTF-16; none names a bench device.
std::vector<std::unique_ptr<kydtest::SeededInf>> SeedOtherInfs(int count) {
  std::vector<std::unique_ptr<kydtest::SeededInf>> infs;
  for (int i = 0; i < count; ++i) {
    wchar_t id[64];
    std::swprintf(id, 64, L"PCI\\VEN_8086&DEV_%04X", 0x1000 + i);
    std::wstring text = kydtest::DriverInfText(id, L"Contoso Device " + std::to_wstring(i), L"Contoso");
    const size_t size = i % 15 == 0 ? 256 * 1024 : static_cast<size_t>(4096 + (i * 7919) % (32 * 1024));
    text += L"\r\n[Strings]\r\n";
    for (int line = 0; text.size() < size; ++line)
      text += L"Contoso.Setting" + std::to_wstring(line) + L" = \"Contoso setting text for device " +
              std::to_wstring(i) + L", entry " + std::to_wstring(line) + L"\"\r\n";
    infs.push_back(std::make_unique<kydtest::SeededInf>(kydtest::FreeOemInfName(), text, i % 7 == 3));
  }
  return infs;
}

bool HasId(HDEVINFO set, SP_DEVINFO_DATA* device, DWORD property, const std::wstring& id) {
  std::vector<wchar_t> buffer(4096 + 2, L'\0');
  DWORD type = 0;
  if (!SetupDiGetDeviceRegistryPropertyW(set, device, property, &type, reinterpret_cast<BYTE*>(buffer.data()),
                                         4096 * sizeof(wchar_t), nullptr))
    return false;
  for (const wchar_t* p = buffer.data(); *p; p += std::wcslen(p) + 1)
    if (_wcsicmp(p, id.c_str()) == 0) return true;
  return false;
}

// The calls the removal road makes, each once, with nothing around them: the
// present devices listed with their hardware and compatible IDs up to the
// device; its installed driver's INF; DIFx (loaded from where the road
// loads it) asked for the package's folder and to uninstall the package;
// the device removed through its class installer (SetupDiRemoveDevice when
// that fails, as in the road); its install parameters read for a restart;
// the package's INF and PNF deleted.
bool BareRemoval(const std::wstring& hardwareId, const std::wstring& difxPath, const std::wstring& seededInf) {
  kyd::UniqueDevInfo set(SetupDiGetClassDevsW(nullptr, nullptr, nullptr, DIGCF_ALLCLASSES | DIGCF_PRESENT));
  if (!set) return false;
  SP_DEVINFO_DATA device{};
  device.cbSize = sizeof device;
  bool found = false;
  for (DWORD i = 0; !found && SetupDiEnumDeviceInfo(set.get(), i, &device); ++i)
    found = HasId(set.get(), &device, SPDRP_HARDWAREID, hardwareId) ||
            HasId(set.get(), &device, SPDRP_COMPATIBLEIDS, hardwareId);
  if (!found) return false;

  std::wstring inf;
  SP_DEVINSTALL_PARAMS_W params{};
  params.cbSize = sizeof params;
  if (SetupDiGetDeviceInstallParamsW(set.get(), &device, &params)) {
    params.FlagsEx |= DI_FLAGSEX_INSTALLEDDRIVER | DI_FLAGSEX_ALLOWEXCLUDEDDRVS;
    if (SetupDiSetDeviceInstallParamsW(set.get(), &device, &params) &&
        SetupDiBuildDriverInfoList(set.get(), &device, SPDIT_CLASSDRIVER)) {
      SP_DRVINFO_DATA_V2_W node{};
      node.cbSize = sizeof node;
      std::vector<BYTE> detail(sizeof(SP_DRVINFO_DETAIL_DATA_W) + 8192);
      auto* record = reinterpret_cast<SP_DRVINFO_DETAIL_DATA_W*>(detail.data());
      record->cbSize = sizeof(SP_DRVINFO_DETAIL_DATA_W);
      if (SetupDiEnumDriverInfoW(set.get(), &device, SPDIT_CLASSDRIVER, 0, reinterpret_cast<SP_DRVINFO_DATA_W*>(&node)) &&
          (SetupDiGetDriverInfoDetailW(set.get(), &device, reinterpret_cast<SP_DRVINFO_DATA_W*>(&node), record,
                                       static_cast<DWORD>(detail.size()), nullptr) ||
           GetLastError() == ERROR_INSUFFICIENT_BUFFER))
        inf = record->InfFileName;
      SetupDiDestroyDriverInfoList(set.get(), &device, SPDIT_CLASSDRIVER);
    }
  }

  kyd::DifxApi difx(difxPath);
  if (!inf.empty()) {
    wchar_t folder[MAX_PATH] = {};
    DWORD chars = MAX_PATH;
    difx.DriverPackageGetPath(inf.c_str(), folder, &chars);
  }
  BOOL reboot = FALSE;
  difx.DriverPackageUninstall(inf.c_str(), kyd::DRIVER_PACKAGE_DELETE_FILES | kyd::DRIVER_PACKAGE_FORCE, &reboot);

  SP_REMOVEDEVICE_PARAMS remove{};
  remove.ClassInstallHeader.cbSize = sizeof(SP_CLASSINSTALL_HEADER);
  remove.ClassInstallHeader.InstallFunction = DIF_REMOVE;
  remove.Scope = DI_REMOVEDEVICE_GLOBAL;
  bool removed = (SetupDiSetClassInstallParamsW(set.get(), &device, &remove.ClassInstallHeader, sizeof remove) &&
                  SetupDiCallClassInstaller(DIF_REMOVE, set.get(), &device)) ||
                 SetupDiRemoveDevice(set.get(), &device);
  SetupDiGetDeviceInstallParamsW(set.get(), &device, &params);
  // What DIFx takes from the INF folder on Windows (the double leaves it).
  DeleteFileW(seededInf.c_str());
  DeleteFileW((seededInf.substr(0, seededInf.size() - 3) + L"PNF").c_str());
  return removed;
}

using UninstallFn = int(__stdcall*)(const wchar_t*, const wchar_t*, int);

UninstallFn LoadUninstall(const std::wstring& dll, kyd::UniqueModule& library) {
  library.reset(LoadLibraryW(dll.c_str()));
  return library ? reinterpret_cast<UninstallFn>(
                       reinterpret_cast<void*>(GetProcAddress(library.get(), "DrvUninst_UninstallDrv")))
                 : nullptr;
}

// drv64.exe started for a call's commands and ended again, with none.
void StartAndEndDrv64(const std::wstring& host) {
  const std::wstring program = host + L"drv64\\drv64.exe";
  kyd::CommandChild child;
  if (child.Start(program, L"\"" + program + L"\" \"kydserve\"")) child.Finish();
}

// One pass over the INF folder: every oem*.inf listed and read.
void OneInfPass() {
  kyd::InfIndexCall infs;
  kyd::IndexedInfsNaming(L"PCI\\VEN_FFFF&DEV_FFFF");
}

size_t Occurrences(const std::string& text, const char* what) {
  size_t count = 0;
  for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++count;
  return count;
}

// One more call, by a copy of the library that logs (log.ini beside it, read
// when the copy loads; drv64.exe logs there too): its drv64.exe starts and
// INF-folder passes as the log tells them.
void CountOneCall(const std::wstring& host, const std::wstring& hardwareId) {
  const std::wstring copy = host + L"KYDDrvUninstCounted.dll", ini = host + L"log.ini";
  const std::wstring ownLog = host + L"log\\KYDDrvUninstCounted.log", drv64Log = host + L"log\\KYDDrvUninst.log";
  if (!CopyFileW((host + L"KYDDrvUninst.dll").c_str(), copy.c_str(), FALSE) ||
      !kydtest::WriteFileBytes(ini, "[log]\r\n")) {
    std::printf("  (the counted call could not be set up)\n");
    return;
  }
  int result = -1;
  {
    kyd::UniqueModule library;
    if (UninstallFn uninstall = LoadUninstall(copy, library)) result = uninstall(hardwareId.c_str(), kSystemClass, 0);
  }
  DeleteFileW(ini.c_str());
  DeleteFileW(copy.c_str());
  const std::string library = kydtest::ReadFileBytes(ownLog), drv64 = kydtest::ReadFileBytes(drv64Log);
  std::printf("  %-46s %7u    (result %d)\n", "drv64.exe starts in one call",
              static_cast<unsigned>(Occurrences(drv64, "drv64.exe started")), result);
  std::printf("  %-46s %7u\n", "INF-folder passes in one call",
              static_cast<unsigned>(Occurrences(library, "INF folder read:") + Occurrences(drv64, "INF folder read:")));
  DeleteFileW(ownLog.c_str());
  DeleteFileW(drv64Log.c_str());
}

// The road's parts, each made on its own through the library's code as the
// road makes it, on a device of the same kind; on 64-bit Windows the
// removal itself runs in drv64.exe, whose start is timed with an ID that
// matches nothing (the parts after it are timed here, in 32-bit code).
// Then the leftover scan's file search alone over the other INFs, each file
// mapped and each file read, side by side.
void Breakdown(UninstallFn uninstall, const std::wstring& host, const std::vector<std::wstring>& otherInfs) {
  std::vector<std::unique_ptr<DeviceWithDriver>> seeded;
  for (int number : {0xFC, 0xFD, 0xFE, 0xFF}) seeded.push_back(std::make_unique<DeviceWithDriver>(BenchId(number)));
  const std::wstring& id = seeded.front()->hardwareId;
  struct Part {
    const char* name;
    double seconds;
  };
  std::vector<Part> parts;
  parts.push_back({"uninstall lock", Median([] { kyd::UninstallLock lock; })});
  parts.push_back({"driver-search policy", Median([] { kyd::CloseAutoUpdateDrv(); })});
  parts.push_back({"companion package lookup", Median([&] {
                     kyd::CDrvUninstMangement management;
                     management.IsDrvAppInstall(id.c_str(), kSystemClass);
                   })});
  parts.push_back({"device path reset", Median([] { kyd::ResetDevicePath(); })});
  const bool wow64 = kyd::IsWow64() != FALSE;
  if (wow64) parts.push_back({"drv64.exe start (and end, no command)", Median([&] { StartAndEndDrv64(host); })});
  kyd::IdList hardwareIds;
  parts.push_back({"device search (all devices, their IDs)", Median([&] {
                     kyd::UniqueDevInfo set(kyd::ListPresentDevices());
                     kyd::ForEachDeviceIn(set.get(), [&](HDEVINFO set, SP_DEVINFO_DATA* device) {
                       kyd::IdList ids = kyd::GetDeviceIdList(set, device, SPDRP_HARDWAREID);
                       kyd::IdList compatible = kyd::GetDeviceIdList(set, device, SPDRP_COMPATIBLEIDS);
                       if (!kyd::MatchAnyId(ids, id.c_str()) && !kyd::MatchAnyId(compatible, id.c_str())) return true;
                       hardwareIds = ids;
                       return false;
                     });
                   })});
  // The road walks the set of its device search again for these two.
  kyd::UniqueDevInfo devices(kyd::ListPresentDevices());
  std::wstring instanceId;
  parts.push_back({"instance ID search (the same devices)",
                   Median([&] { kyd::FindInstanceIdByIds(devices.get(), hardwareIds, instanceId); })});
  kyd::DriverFileInfo fileInfo;
  kyd::DriverInfo driverInfo;
  bool driverFound = false;
  parts.push_back({"installed driver lookup (the same devices)", Median([&] {
                     driverFound = kyd::GetCurrentDriverInfo(devices.get(), instanceId, fileInfo, driverInfo);
                   })});
  devices.reset();
  std::unique_ptr<kyd::DifxApi> difx;
  parts.push_back({"DIFx load (and unload)", Median([&] {
                     difx.reset();
                     difx = std::make_unique<kyd::DifxApi>();
                   })});
  parts.push_back({"DIFx calls", Median([&] {
                     kyd::FindPackageFiles(*difx, fileInfo.InfFileName);
                     BOOL reboot = FALSE;
                     difx->DriverPackageUninstall(fileInfo.InfFileName.c_str(),
                                                  kyd::DRIVER_PACKAGE_DELETE_FILES | kyd::DRIVER_PACKAGE_FORCE, &reboot);
                   })});
  std::vector<std::wstring> named;
  const std::wstring key = kyd::LeftoverInfKey(id.c_str());
  parts.push_back({"one INF-folder pass (every oem*.inf read)", Median(OneInfPass)});
  {
    // The two steps that search the INF folder, with the call's pass made.
    kyd::InfIndexCall infs;
    kyd::IndexedInfsNaming(key);
    parts.push_back({"components step (IDs, INFs, software devices)", Median([&] {
                       kyd::FindDeviceComponents(kyd::DeviceIdFamily(id.c_str()), fileInfo.InfFileName);
                     })});
    parts.push_back({"leftover INF search (the pass made)", Median([&] { named = kyd::OemInfsNaming(key); })});
  }
  int mappedHits = 0, readHits = 0;
  const double mapped = Median([&] {
    kyd::CFindStrFormFile finder;
    mappedHits = 0;
    for (const std::wstring& path : otherInfs) mappedHits += finder.FindInFile(path.c_str(), key.c_str(), kyd::MatchEnd::kIdEnd);
  });
  const double read = Median([&] {
    kyd::FileTextSearch finder;
    readHits = 0;
    for (const std::wstring& path : otherInfs) readHits += finder.FindInFile(path.c_str(), key.c_str(), kyd::MatchEnd::kIdEnd);
  });
  // The whole call on the same device, which its parts above left in place,
  // and on two more like it; the last one's call is counted.
  std::vector<double> calls;
  std::wstring results;
  for (const auto& device : seeded) {
    if (&device == &seeded.back()) break;
    int result = -1;
    calls.push_back(Timed([&] { result = uninstall(device->hardwareId.c_str(), kSystemClass, 0); }));
    results += (results.empty() ? L"" : L" ") + std::to_wstring(result);
  }
  std::sort(calls.begin(), calls.end());

  std::printf("\nthe road's parts, one by one, each the median of five (device %ls):\n", id.c_str());
  double sum = 0;
  for (const Part& part : parts) {
    std::printf("  %-46s %7.3f s\n", part.name, part.seconds);
    sum += part.seconds;
  }
  std::printf("  %-46s %7.3f s\n", "sum of the parts", sum);
  std::printf("  %-46s %7.3f s  (median of three devices; results %ls)\n", "the whole call", calls[1], results.c_str());
  std::printf("  installed driver found: %s; oem INFs naming the device: %u\n",
              driverFound ? "yes" : "no (Wine builds no class driver list)", static_cast<unsigned>(named.size()));
  if (wow64)
    std::printf("  on 64-bit Windows the device search, driver lookup, DIFx, removal, components and the INF pass\n"
                "  run in drv64.exe\n");
  CountOneCall(host, seeded.back()->hardwareId);
  std::printf("\nthe scan's file search alone over the %u other INFs, each the median of five:\n",
              static_cast<unsigned>(otherInfs.size()));
  std::printf("  %-46s %7.3f s  (%d found)\n", "each file mapped", mapped, mappedHits);
  std::printf("  %-46s %7.3f s  (%d found), %.0f%% less\n", "each file read into one buffer", read, readHits,
              100.0 * (mapped - read) / mapped);
}

}  // namespace

int main(int argc, char** argv) {
  const int runs = argc > 1 ? std::atoi(argv[1]) : 3;
  if (argc > 2 || runs < 1) {
    std::fprintf(stderr, "usage: removal_bench [RUNS]\n");
    return 3;
  }
  const std::wstring host = kyd::GetHostFolder();
  kyd::UniqueModule library;
  UninstallFn uninstall = LoadUninstall(host + L"KYDDrvUninst.dll", library);
  if (!uninstall) {
    std::fprintf(stderr, "no KYDDrvUninst.dll beside the bench in %ls\n", host.c_str());
    return 2;
  }
  const auto others = SeedOtherInfs(150);
  double megabytes = 0;
  for (const auto& inf : others) megabytes += static_cast<double>(kydtest::ReadFileBytes(inf->path()).size()) / 1048576;
  std::printf("%s prefix; %u other oem INFs (%.1f MB); the bare calls load DIFx from %lsdifxapi.dll\n",
              kydtest::Is64BitPrefix() ? "64-bit" : "32-bit", static_cast<unsigned>(others.size()), megabytes,
              host.c_str());

  // What the goal allows the call beyond the bare calls: one drv64.exe start
  // (on 64-bit Windows) and one pass over the INF folder.
  const bool wow64 = kyd::IsWow64() != FALSE;
  const double start = wow64 ? Median([&] { StartAndEndDrv64(host); }) : 0;
  const double pass = Median(OneInfPass);
  std::printf("allowed beyond the bare calls: drv64.exe start %.3f s, INF-folder pass %.3f s\n", start, pass);

  // One pair first, not counted: the process's first uninstall and first
  // bare removal load and fill what every later call finds ready (the
  // system's DLLs in this process, Wine's caches), and whichever of them the
  // first run put first would pay it alone.
  {
    DeviceWithDriver road(BenchId(0)), bare(BenchId(1));
    if (road.driven && bare.driven) {
      const double roadTime = Timed([&] { uninstall(road.hardwareId.c_str(), kSystemClass, 0); });
      const double bareTime = Timed([&] { BareRemoval(bare.hardwareId, host + L"difxapi.dll", bare.inf.path()); });
      std::printf("warm-up, not counted: road %.3f s, bare calls %.3f s\n", roadTime, bareTime);
    }
  }

  double roadSum = 0, bareSum = 0;
  std::vector<double> ratios, goals;
  for (int run = 1; run <= runs; ++run) {
    // Re-seeded for each run: both devices alike, with IDs of their own.
    DeviceWithDriver road(BenchId(2 * run)), bare(BenchId(2 * run + 1));
    if (!road.driven || !bare.driven) {
      std::fprintf(stderr, "seeding the devices failed\n");
      return 2;
    }
    int result = -1;
    bool bareRemoved = false;
    auto runRoad = [&] { return Timed([&] { result = uninstall(road.hardwareId.c_str(), kSystemClass, 0); }); };
    auto runBare = [&] {
      return Timed([&] { bareRemoved = BareRemoval(bare.hardwareId, host + L"difxapi.dll", bare.inf.path()); });
    };
    // Who goes first alternates, so that neither always finds the caches warm.
    const bool roadFirst = run % 2 == 1;
    double roadTime = 0, bareTime = 0;
    if (roadFirst) {
      roadTime = runRoad();
      bareTime = runBare();
    } else {
      bareTime = runBare();
      roadTime = runRoad();
    }
    roadSum += roadTime;
    bareSum += bareTime;
    const bool roadRemoved = !kydtest::DevicePresent(road.device.instanceId());
    ratios.push_back(roadTime / bareTime);
    goals.push_back(roadTime / (bareTime + start + pass));
    std::printf("run %d: road %.3f s (result %d%s), bare calls %.3f s (%s), ratio %.2f, to bare + allowed %.2f  [%s first]\n",
                run, roadTime, result, roadRemoved ? ", device gone" : ", DEVICE LEFT", bareTime,
                bareRemoved ? "device gone" : "DEVICE LEFT", ratios.back(), goals.back(), roadFirst ? "road" : "bare");
  }
  std::sort(ratios.begin(), ratios.end());
  std::sort(goals.begin(), goals.end());
  std::printf("all runs: road %.3f s, bare calls %.3f s, ratio %.2f; median ratio %.2f; median to bare + allowed %.2f"
              " (goal: at most 1.2)\n",
              roadSum, bareSum, roadSum / bareSum, ratios[ratios.size() / 2], goals[goals.size() / 2]);
  std::vector<std::wstring> otherPaths;
  for (const auto& inf : others) otherPaths.push_back(inf->path());
  Breakdown(uninstall, host, otherPaths);
  return 0;
}
