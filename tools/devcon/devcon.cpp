// kyduninst.exe: the device-console tool that KYDDrvUninst.dll carries as a
// resource and writes to the temp folder when it takes a display or sound
// device out of the system, or a driver package out of the driver store.
//
//   findall =display | =media           every device of the setup class,
//                                       present or not, with its hardware IDs
//   remove =display | =media "<id>"     removes the devices of the class that
//                                       carry <id> as a hardware or compatible
//                                       ID, or whose instance ID begins with it
//                                       up to a separator ("\\", "&", ...)
//   -f dp_delete "<inf>"                deletes a published driver package
//
// Exit codes: 0 done, 1 done and a restart is needed, 2 failed, 3 usage.
//
// The library searches the output for the device's ID and for the words
// "Removed" and "reboot", so those two words are printed only when a device
// was removed or a restart is needed, and never in any other line.
//
// The tool runs with the host's administrator rights from a folder in the
// temp folder. A program looks for the DLLs it imports in its own folder
// first, so it imports only kernel32 and msvcrt (which its runtime needs),
// known DLLs that current Windows always takes from the system folder;
// SetupAPI is loaded by its full path there. The library writes the tool to
// a folder only administrators can write to, which keeps planted DLLs away
// on older systems too.
#include <windows.h>
#include <setupapi.h>

#include <cwchar>
#include <string>
#include <vector>

#include "platform/find_str.h"
#include "platform/handle.h"

namespace {

enum ExitCode : int { kDone = 0, kDoneRestart = 1, kFailed = 2, kUsage = 3 };

// SetupUninstallOEMInfW may be missing from an older SetupAPI.
using UninstallOemInfFn = BOOL(WINAPI*)(PCWSTR, DWORD, PVOID);

// The SetupAPI functions the tool calls, from the system folder's setupapi.dll.
struct SetupApi {
  SetupApi();
  bool loaded() const { return ok; }

  kyd::UniqueModule module;
  bool ok = false;
  decltype(&SetupDiGetClassDevsW) GetClassDevs = nullptr;
  decltype(&SetupDiEnumDeviceInfo) EnumDeviceInfo = nullptr;
  decltype(&SetupDiGetDeviceRegistryPropertyW) GetDeviceRegistryProperty = nullptr;
  decltype(&SetupDiGetDeviceInstanceIdW) GetDeviceInstanceId = nullptr;
  decltype(&SetupDiSetClassInstallParamsW) SetClassInstallParams = nullptr;
  decltype(&SetupDiCallClassInstaller) CallClassInstaller = nullptr;
  decltype(&SetupDiRemoveDevice) RemoveDevice = nullptr;
  decltype(&SetupDiGetDeviceInstallParamsW) GetDeviceInstallParams = nullptr;
  decltype(&SetupDiDestroyDeviceInfoList) DestroyDeviceInfoList = nullptr;
  UninstallOemInfFn UninstallOemInf = nullptr;
};

template <typename Fn>
void Find(HMODULE module, const char* name, Fn& fn) {
  fn = reinterpret_cast<Fn>(reinterpret_cast<void*>(GetProcAddress(module, name)));
}

SetupApi::SetupApi() {
  wchar_t system[MAX_PATH] = {};
  UINT n = GetSystemDirectoryW(system, MAX_PATH);
  if (n == 0 || n >= MAX_PATH) return;
  // With the altered search path, what setupapi.dll imports in turn is also
  // looked for in the system folder first, not beside the tool.
  module.reset(LoadLibraryExW((std::wstring(system) + L"\\setupapi.dll").c_str(), nullptr,
                              LOAD_WITH_ALTERED_SEARCH_PATH));
  if (!module) return;
  HMODULE m = module.get();
  Find(m, "SetupDiGetClassDevsW", GetClassDevs);
  Find(m, "SetupDiEnumDeviceInfo", EnumDeviceInfo);
  Find(m, "SetupDiGetDeviceRegistryPropertyW", GetDeviceRegistryProperty);
  Find(m, "SetupDiGetDeviceInstanceIdW", GetDeviceInstanceId);
  Find(m, "SetupDiSetClassInstallParamsW", SetClassInstallParams);
  Find(m, "SetupDiCallClassInstaller", CallClassInstaller);
  Find(m, "SetupDiRemoveDevice", RemoveDevice);
  Find(m, "SetupDiGetDeviceInstallParamsW", GetDeviceInstallParams);
  Find(m, "SetupDiDestroyDeviceInfoList", DestroyDeviceInfoList);
  Find(m, "SetupUninstallOEMInfW", UninstallOemInf);
  ok = GetClassDevs && EnumDeviceInfo && GetDeviceRegistryProperty && GetDeviceInstanceId &&
       SetClassInstallParams && CallClassInstaller && RemoveDevice && GetDeviceInstallParams &&
       DestroyDeviceInfoList;
}

const SetupApi& Api() {
  static const SetupApi api;
  return api;
}

struct DevInfoTraits : kyd::DevInfoTraits {
  static void Close(HDEVINFO set) { Api().DestroyDeviceInfoList(set); }
};
using DevInfoSet = kyd::UniqueAny<DevInfoTraits>;

struct SetupClass {
  const wchar_t* word;  // as written after '=' on the command line
  GUID guid;
};

const SetupClass kClasses[] = {
    {L"display", {0x4D36E968, 0xE325, 0x11CE, {0xBF, 0xC1, 0x08, 0x00, 0x2B, 0xE1, 0x03, 0x18}}},
    {L"media", {0x4D36E96C, 0xE325, 0x11CE, {0xBF, 0xC1, 0x08, 0x00, 0x2B, 0xE1, 0x03, 0x18}}},
};

// Console text goes out as UTF-16 to a console, and in the ANSI code page to
// a pipe or file, which is what the library reads back.
void Print(const std::wstring& text) {
  HANDLE out = GetStdHandle(STD_OUTPUT_HANDLE);
  if (out == nullptr || out == INVALID_HANDLE_VALUE) return;
  std::wstring line = text + L"\r\n";
  DWORD mode = 0, written = 0;
  if (GetConsoleMode(out, &mode)) {
    WriteConsoleW(out, line.data(), static_cast<DWORD>(line.size()), &written, nullptr);
    return;
  }
  int n = WideCharToMultiByte(CP_ACP, 0, line.data(), static_cast<int>(line.size()), nullptr, 0,
                              nullptr, nullptr);
  if (n <= 0) return;
  std::string bytes(static_cast<size_t>(n), '\0');
  WideCharToMultiByte(CP_ACP, 0, line.data(), static_cast<int>(line.size()), bytes.data(), n, nullptr,
                      nullptr);
  WriteFile(out, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
}

int Usage() {
  Print(L"usage: kyduninst findall =display|=media");
  Print(L"       kyduninst remove =display|=media \"<hardware or instance id>\"");
  Print(L"       kyduninst -f dp_delete \"<oemN.inf>\"");
  return kUsage;
}

const SetupClass* ClassFromArgument(const wchar_t* argument) {
  if (argument[0] != L'=') return nullptr;
  for (const SetupClass& setupClass : kClasses)
    if (_wcsicmp(argument + 1, setupClass.word) == 0) return &setupClass;
  return nullptr;
}

struct Device {
  SP_DEVINFO_DATA data;
  std::wstring instanceId;
  std::vector<std::wstring> hardwareIds;
  std::vector<std::wstring> compatibleIds;
};

std::vector<std::wstring> MultiStringProperty(HDEVINFO set, SP_DEVINFO_DATA* device,
                                              DWORD property) {
  std::vector<std::wstring> strings;
  std::vector<BYTE> buffer(1024);
  for (;;) {
    DWORD type = 0, needed = 0;
    // Two spare characters keep the list terminated whatever the registry holds.
    if (Api().GetDeviceRegistryProperty(set, device, property, &type, buffer.data(),
                                          static_cast<DWORD>(buffer.size() - 2 * sizeof(wchar_t)),
                                          &needed))
      break;
    if (GetLastError() != ERROR_INSUFFICIENT_BUFFER || needed == 0) return strings;
    buffer.assign(needed + 2 * sizeof(wchar_t) + 16, 0);
  }
  const auto* text = reinterpret_cast<const wchar_t*>(buffer.data());
  for (const wchar_t* p = text; *p; p += std::wcslen(p) + 1) strings.emplace_back(p);
  return strings;
}

std::wstring InstanceIdOf(HDEVINFO set, SP_DEVINFO_DATA* device) {
  DWORD needed = 0;
  Api().GetDeviceInstanceId(set, device, nullptr, 0, &needed);
  std::vector<wchar_t> id(needed > 0 ? needed + 1 : 512, L'\0');
  if (!Api().GetDeviceInstanceId(set, device, id.data(), static_cast<DWORD>(id.size()), nullptr))
    return {};
  return id.data();
}

// Every device of the class that Windows has ever installed, present or not.
bool ListClass(const SetupClass& setupClass, DevInfoSet& set, std::vector<Device>& devices) {
  set.reset(Api().GetClassDevs(&setupClass.guid, nullptr, nullptr, 0));
  if (!set) return false;
  for (DWORD index = 0;; ++index) {
    Device device{};
    device.data.cbSize = sizeof device.data;
    if (!Api().EnumDeviceInfo(set.get(), index, &device.data)) break;
    device.instanceId = InstanceIdOf(set.get(), &device.data);
    device.hardwareIds = MultiStringProperty(set.get(), &device.data, SPDRP_HARDWAREID);
    device.compatibleIds = MultiStringProperty(set.get(), &device.data, SPDRP_COMPATIBLEIDS);
    devices.push_back(std::move(device));
  }
  return true;
}

int FindAll(const SetupClass& setupClass) {
  DevInfoSet set;
  std::vector<Device> devices;
  if (!ListClass(setupClass, set, devices)) {
    Print(L"Listing the " + std::wstring(setupClass.word) + L" class failed (error " +
          std::to_wstring(GetLastError()) + L").");
    return kFailed;
  }
  for (const Device& device : devices) {
    std::wstring line = device.instanceId;
    for (size_t i = 0; i < device.hardwareIds.size(); ++i)
      line += (i == 0 ? L": " : L", ") + device.hardwareIds[i];
    Print(line);
  }
  Print(std::to_wstring(devices.size()) + L" device(s) of the " + setupClass.word +
        L" class found.");
  return kDone;
}

// An instance ID that goes on with a letter, digit or underscore after the
// given text belongs to another device ("USB\ROOT_HUB" does not begin
// "USB\ROOT_HUB30\...").
bool CarriesId(const Device& device, const std::wstring& id) {
  for (const auto* list : {&device.hardwareIds, &device.compatibleIds})
    for (const std::wstring& candidate : *list)
      if (_wcsicmp(candidate.c_str(), id.c_str()) == 0) return true;
  const std::wstring& instance = device.instanceId;
  return instance.size() >= id.size() && _wcsnicmp(instance.c_str(), id.c_str(), id.size()) == 0 &&
         !kyd::ContinuesId(instance.c_str()[id.size()]);
}

// The class installer first, so that a class co-installer sees the removal;
// SetupAPI's own default handler when the class installer refuses.
bool RemoveOne(HDEVINFO set, SP_DEVINFO_DATA* device) {
  SP_REMOVEDEVICE_PARAMS params{};
  params.ClassInstallHeader.cbSize = sizeof(SP_CLASSINSTALL_HEADER);
  params.ClassInstallHeader.InstallFunction = DIF_REMOVE;
  params.Scope = DI_REMOVEDEVICE_GLOBAL;
  params.HwProfile = 0;
  Api().SetClassInstallParams(set, device, &params.ClassInstallHeader, sizeof params);
  if (Api().CallClassInstaller(DIF_REMOVE, set, device)) return true;
  return Api().RemoveDevice(set, device) != FALSE;
}

bool NeedsRestart(HDEVINFO set, SP_DEVINFO_DATA* device) {
  SP_DEVINSTALL_PARAMS_W params{};
  params.cbSize = sizeof params;
  if (!Api().GetDeviceInstallParams(set, device, &params)) return false;
  return (params.Flags & (DI_NEEDREBOOT | DI_NEEDRESTART)) != 0;
}

int Remove(const SetupClass& setupClass, const std::wstring& id) {
  // An empty ID would be the prefix of every instance ID in the class.
  if (id.empty()) return Usage();
  DevInfoSet set;
  std::vector<Device> devices;
  if (!ListClass(setupClass, set, devices)) {
    Print(L"Listing the " + std::wstring(setupClass.word) + L" class failed (error " +
          std::to_wstring(GetLastError()) + L").");
    return kFailed;
  }
  size_t matched = 0, taken = 0;
  bool restart = false;
  for (Device& device : devices) {
    if (!CarriesId(device, id)) continue;
    ++matched;
    if (RemoveOne(set.get(), &device.data)) {
      ++taken;
      Print(device.instanceId + L": Removed");
      if (NeedsRestart(set.get(), &device.data)) restart = true;
    } else {
      Print(device.instanceId + L": removal failed (error " + std::to_wstring(GetLastError()) +
            L")");
    }
  }
  Print(L"Removal finished: " + std::to_wstring(taken) + L" of " + std::to_wstring(matched) +
        L" matching device(s).");
  if (restart) Print(L"The system needs a reboot to complete the removal.");
  if (taken < matched) return kFailed;
  return restart ? kDoneRestart : kDone;
}

bool EndsWithNoCase(const std::wstring& text, const wchar_t* tail) {
  size_t n = std::wcslen(tail);
  return text.size() >= n && _wcsicmp(text.c_str() + text.size() - n, tail) == 0;
}

int DeletePackage(const std::wstring& infArgument) {
  // The library passes the full path; the driver store knows the package by
  // its published name alone.
  size_t slash = infArgument.find_last_of(L"\\/");
  std::wstring name = slash == std::wstring::npos ? infArgument : infArgument.substr(slash + 1);
  if (name.size() <= 7 || _wcsnicmp(name.c_str(), L"oem", 3) != 0 || !EndsWithNoCase(name, L".inf")) {
    Print(L"dp_delete: '" + name + L"' is not a published driver package (oem*.inf).");
    return kFailed;
  }
  UninstallOemInfFn uninstall = Api().UninstallOemInf;
  if (!uninstall) {
    Print(L"dp_delete: this Windows cannot delete driver packages.");
    return kFailed;
  }
  if (!uninstall(name.c_str(), SUOI_FORCEDELETE, nullptr)) {
    Print(L"Deleting driver package '" + name + L"' failed (error " +
          std::to_wstring(GetLastError()) + L").");
    return kFailed;
  }
  // Windows deletes the precompiled PNF together with the INF; a setup
  // implementation that leaves it behind would keep a stale twin in the INF
  // folder, so it goes here in any case (already gone on Windows).
  wchar_t windows[MAX_PATH] = {};
  UINT n = GetWindowsDirectoryW(windows, MAX_PATH);
  if (n > 0 && n < MAX_PATH) {
    std::wstring pnf = std::wstring(windows) + L"\\inf\\" + name.substr(0, name.size() - 3) + L"PNF";
    DeleteFileW(pnf.c_str());
  }
  Print(L"Driver package '" + name + L"' deleted.");
  return kDone;
}

int Run(int argc, wchar_t** argv) {
  if (!Api().loaded()) {
    Print(L"SetupAPI could not be loaded from the system folder.");
    return kFailed;
  }
  if (argc == 3 && _wcsicmp(argv[1], L"findall") == 0) {
    const SetupClass* setupClass = ClassFromArgument(argv[2]);
    return setupClass ? FindAll(*setupClass) : Usage();
  }
  if (argc == 4 && _wcsicmp(argv[1], L"remove") == 0) {
    const SetupClass* setupClass = ClassFromArgument(argv[2]);
    return setupClass ? Remove(*setupClass, argv[3]) : Usage();
  }
  if (argc == 4 && _wcsicmp(argv[1], L"-f") == 0 && _wcsicmp(argv[2], L"dp_delete") == 0)
    return argv[3][0] ? DeletePackage(argv[3]) : Usage();
  return Usage();
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  try {
    return Run(argc, argv);
  } catch (...) {
    return kFailed;
  }
}
