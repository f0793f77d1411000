// kydseed: prepares a simulated machine inside a Wine prefix for the demo.
//   kydseed device HWID [CLASSGUID]   a present root-enumerated device; prints its instance ID
//   kydseed inf NAME HWID             C:\windows\inf\NAME (and its .PNF) naming the hardware ID
//   kydseed present HWID              exit 0 when a present device carries the ID, else 1
#include <windows.h>
#include <objbase.h>
#include <setupapi.h>

#include <cstdio>
#include <cwchar>
#include <string>
#include <vector>

#include "platform/command_line.h"
#include "platform/handle.h"

namespace {

int Device(const wchar_t* hardwareId, const wchar_t* classText) {
  GUID guid;
  if (CLSIDFromString(const_cast<wchar_t*>(classText), &guid) != NOERROR) return 2;
  kyd::UniqueDevInfo owner(SetupDiCreateDeviceInfoList(&guid, nullptr));
  if (!owner) return 2;
  HDEVINFO set = owner.get();
  SP_DEVINFO_DATA device{};
  device.cbSize = sizeof device;
  int rc = 2;
  if (SetupDiCreateDeviceInfoW(set, L"KYDDEMO", &guid, nullptr, nullptr, DICD_GENERATE_ID, &device) &&
      SetupDiRegisterDeviceInfo(set, &device, 0, nullptr, nullptr, nullptr)) {
    std::wstring ids = std::wstring(hardwareId) + L'\0' + L'\0';
    SetupDiSetDeviceRegistryPropertyW(set, &device, SPDRP_HARDWAREID,
                                      reinterpret_cast<const BYTE*>(ids.data()),
                                      static_cast<DWORD>(ids.size() * sizeof(wchar_t)));
    wchar_t instance[512] = {};
    SetupDiGetDeviceInstanceIdW(set, &device, instance, 512, nullptr);
    wprintf(L"%ls\n", instance);
    rc = 0;
  }
  return rc;
}

int Inf(const wchar_t* name, const wchar_t* hardwareId) {
  wchar_t windows[MAX_PATH] = {};
  GetWindowsDirectoryW(windows, MAX_PATH);
  std::wstring path = std::wstring(windows) + L"\\inf\\" + name;
  std::wstring text = L"; demo driver package\r\n[Version]\r\nSignature=\"$WINDOWS NT$\"\r\n"
                      L"Class=System\r\nProvider=%Demo%\r\n\r\n[Manufacturer]\r\n%Demo%=Demo\r\n\r\n"
                      L"[Demo]\r\n%DeviceDesc%=DemoInstall, " +
                      std::wstring(hardwareId) +
                      L"\r\n\r\n[Strings]\r\nDemo=\"Demo Devices\"\r\nDeviceDesc=\"Demo device\"\r\n";
  std::string bytes(text.begin(), text.end());
  for (const std::wstring& file : {path, path.substr(0, path.size() - 3) + L"PNF"}) {
    kyd::UniqueFile h(CreateFileW(file.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
    if (!h) return 2;
    DWORD written = 0;
    WriteFile(h.get(), bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
  }
  wprintf(L"%ls\n", path.c_str());
  return 0;
}

int Present(const wchar_t* hardwareId) {
  kyd::UniqueDevInfo owner(SetupDiGetClassDevsW(nullptr, nullptr, nullptr, DIGCF_ALLCLASSES | DIGCF_PRESENT));
  if (!owner) return 2;
  HDEVINFO set = owner.get();
  SP_DEVINFO_DATA device{};
  device.cbSize = sizeof device;
  int rc = 1;
  for (DWORD i = 0; rc == 1 && SetupDiEnumDeviceInfo(set, i, &device); ++i) {
    std::vector<wchar_t> ids(8192, L'\0');
    if (!SetupDiGetDeviceRegistryPropertyW(set, &device, SPDRP_HARDWAREID, nullptr,
                                           reinterpret_cast<BYTE*>(ids.data()),
                                           static_cast<DWORD>((ids.size() - 2) * 2), nullptr))
      continue;
    for (const wchar_t* p = ids.data(); *p; p += std::wcslen(p) + 1)
      if (_wcsicmp(p, hardwareId) == 0) rc = 0;
  }
  return rc;
}

}  // namespace

int main() {
  const std::vector<std::wstring> args = kyd::CommandLineArgs();
  const size_t argc = args.size();
  if (argc >= 3 && args[1] == L"device")
    return Device(args[2].c_str(), argc >= 4 ? args[3].c_str() : L"{4D36E97D-E325-11CE-BFC1-08002BE10318}");
  if (argc == 4 && args[1] == L"inf") return Inf(args[2].c_str(), args[3].c_str());
  if (argc == 3 && args[1] == L"present") return Present(args[2].c_str());
  fwprintf(stderr, L"usage: kydseed device HWID [GUID] | inf NAME HWID | present HWID\n");
  return 3;
}
