// Devices and driver packages through the seam: a device removed, a driver
// package removed, the device-console tool run (which may remove a package),
// each with its three faces side by side (perform, plan, journal).
#include "machine/read_cache.h"
#include "machine/session.h"

#include <cstring>

#include "platform/console_runner.h"
#include "platform/env.h"

namespace kyd::machine {

namespace {

// The bitness a driver package is recorded under. It lies where 64-bit
// Windows keeps it: a 32-bit program reads it with redirection off (Windows
// Vista and Server 2008 x64 redirect System32\DriverStore for it).
const wchar_t* PackageBits() { return std::wcscmp(kOwnBits, L"32") == 0 && IsWow64() ? L"64" : kOwnBits; }

}  // namespace

std::wstring DriverStoreFolder(const std::wstring& infPath) {
  using LocationFn = BOOL(WINAPI*)(PCWSTR, const void*, PCWSTR, PWSTR, DWORD, PDWORD);
  static const LocationFn location = reinterpret_cast<LocationFn>(reinterpret_cast<void*>(
      GetProcAddress(GetModuleHandleW(L"setupapi.dll"), "SetupGetInfDriverStoreLocationW")));
  wchar_t path[MAX_PATH] = {};
  if (!location || !location(infPath.c_str(), nullptr, nullptr, path, MAX_PATH, nullptr)) return {};
  std::wstring folder = path;
  size_t slash = folder.rfind(L'\\');
  return slash == std::wstring::npos ? std::wstring() : folder.substr(0, slash);
}

namespace {

// The INF, its PNF and the store folder of a driver package, as far as they exist.
std::vector<std::wstring> PackageItems(const std::wstring& infPath, const std::wstring& storeFolder) {
  std::vector<std::wstring> items;
  for (const std::wstring& path : {infPath, PnfOf(infPath), storeFolder})
    if (!path.empty() && Exists(path)) items.push_back(path);
  return items;
}

// Saves a driver package read where it lies (see PackageBits). A package
// whose store folder cannot be seen is not saved: a journal never claims a
// package it does not hold, and so the package is not removed.
bool SavePackage(Session::State& s, Line& line, const std::vector<std::wstring>& items, bool storeSeen,
                 DWORD& error) {
  if (!storeSeen) {
    error = ERROR_PATH_NOT_FOUND;
    return false;
  }
  journal::NativePaths native(true);
  return SaveItems(s, line, items, true, error);
}

// Device installation and the tool write the registry themselves: the run's
// reads are read afresh after them.
template <typename Result>
Result Afresh(Result result) {
  reads::Forget();
  return result;
}

}  // namespace

bool RemoveDevice(HDEVINFO set, SP_DEVINFO_DATA* device, const std::function<bool()>& remove) {
  Session::State* s = g_state;
  if (!s) return Afresh(remove());
  wchar_t id[512] = {};
  SetupDiGetDeviceInstanceIdW(set, device, id, 511, nullptr);
  if (!RecordOnce(*s, L"device:" + UpperCase(id), MakeLine(L"remove-device", id))) return false;
  return s->mode == Mode::kPlan || Afresh(remove());
}

bool DeviceGone(const std::wstring& instanceId) {
  Session::State* s = Planner();
  return s && s->overlay.devices.count(UpperCase(instanceId)) != 0;
}

DWORD RemoveDriverPackage(const std::wstring& infPath, const std::wstring& storeFolder,
                          const std::function<DWORD()>& remove) {
  Session::State* s = g_state;
  if (!s) return Afresh(remove());
  DWORD attributes = INVALID_FILE_ATTRIBUTES, readError = ERROR_FILE_NOT_FOUND;
  std::vector<std::wstring> items;
  bool storeSeen = storeFolder.empty();
  if (!infPath.empty()) {
    journal::NativePaths native(true);
    attributes = Attributes(infPath);
    readError = attributes == INVALID_FILE_ATTRIBUTES ? GetLastError() : ERROR_SUCCESS;
    items = PackageItems(infPath, storeFolder);
    storeSeen = storeSeen || Exists(storeFolder);
  }
  // Without its INF there is no package to remove (nor anything to save).
  if (attributes == INVALID_FILE_ATTRIBUTES) {
    if (s->mode == Mode::kJournal && Unreadable(readError)) {
      RefuseUnread(*s, L"remove-driver-package", infPath, readError);
      return kNotSaved;
    }
    return s->mode == Mode::kPlan ? ERROR_FILE_NOT_FOUND : Afresh(remove());
  }
  Line line = MakeLine(L"remove-driver-package", infPath);
  line.Set(L"fs", PackageBits()).Set(L"store", storeFolder);
  if (!Record(*s, line, [&](Line& l, DWORD& error) { return SavePackage(*s, l, items, storeSeen, error); }))
    return kNotSaved;
  return s->mode == Mode::kPlan ? ERROR_SUCCESS : Afresh(remove());
}

bool RunTool(const std::wstring& program, const std::wstring& arguments, std::wstring& output,
             const std::wstring& packageInf) {
  Session::State* s = g_state;
  if (!s) return Afresh(RunConsole(program, arguments, output));
  Line line = FileLine(L"run", program + L" " + arguments);
  std::vector<std::wstring> items;
  bool storeSeen = true;
  if (!packageInf.empty()) {
    std::wstring store = DriverStoreFolder(packageInf);
    line.Set(L"fs", PackageBits()).Set(L"package", packageInf).Set(L"store", store);
    journal::NativePaths native(true);
    items = PackageItems(packageInf, store);
    storeSeen = store.empty() || Exists(store);
  }
  auto save = [&](Line& l, DWORD& error) {
    return (items.empty() && storeSeen) || SavePackage(*s, l, items, storeSeen, error);
  };
  if (!Record(*s, line, save)) return false;
  return s->mode == Mode::kPlan || Afresh(RunConsole(program, arguments, output));
}

}  // namespace kyd::machine
