// drvuninst.exe: a console host for KYDDrvUninst.dll. It loads the library
// from its own folder, as a driver-management tool would, and calls its
// exports.
//
//   drvuninst list [--class GUID]
//   drvuninst query HWID GUID
//   drvuninst uninstall HWID GUID [--keep-device] [--plan] [--journal DIR]
//   drvuninst restore DIR
//   --log (any command): switch the library's log on for this run and print it
#include <windows.h>
#include <setupapi.h>

#include <cwchar>
#include <memory>
#include <string>
#include <vector>

#include "interface/exports.h"
#include "platform/command_line.h"
#include "platform/handle.h"
#include "platform/machine_journal.h"

namespace {

constexpr int kUsageError = 3;
constexpr int kLoadError = 4;

using InitFn = void(__stdcall*)();
using QueryFn = int(__stdcall*)(const wchar_t*, const wchar_t*);
using UninstallFn = int(__stdcall*)(const wchar_t*, const wchar_t*, int);
using UninstallExFn = int(__stdcall*)(const wchar_t*, const wchar_t*, int, int, const wchar_t*);
using RestoreFn = int(__stdcall*)(const wchar_t*);

void Write(HANDLE out, const std::wstring& text) {
  UINT codePage = GetConsoleOutputCP();
  if (codePage == 0) codePage = CP_ACP;
  int bytes = WideCharToMultiByte(codePage, 0, text.c_str(), static_cast<int>(text.size()), nullptr,
                                  0, nullptr, nullptr);
  if (bytes <= 0) return;
  std::string narrow(static_cast<size_t>(bytes), '\0');
  WideCharToMultiByte(codePage, 0, text.c_str(), static_cast<int>(text.size()), narrow.data(), bytes,
                      nullptr, nullptr);
  DWORD written = 0;
  WriteFile(out, narrow.data(), static_cast<DWORD>(narrow.size()), &written, nullptr);
}

void Print(const std::wstring& text) { Write(GetStdHandle(STD_OUTPUT_HANDLE), text); }
void Error(const std::wstring& text) { Write(GetStdHandle(STD_ERROR_HANDLE), text); }

int Usage(const std::wstring& problem) {
  if (!problem.empty()) Error(L"drvuninst: " + problem + L"\n");
  Error(
      L"usage:\n"
      L"  drvuninst list [--class GUID]           list present devices\n"
      L"  drvuninst query HWID GUID               is the device's companion package installed?\n"
      L"                                          (exit code 1 yes, 0 no)\n"
      L"  drvuninst uninstall HWID GUID [--keep-device]\n"
      L"                                          uninstall the device's driver\n"
      L"                                          (exit code 0 nothing, 1 done, 2 done, restart)\n"
      L"      --plan                              change nothing, print what would be changed\n"
      L"      --journal DIR                       save what is changed into the empty folder DIR\n"
      L"  drvuninst restore DIR                   put back what the journal in DIR saved\n"
      L"                                          (exit code 1 all back, 2 some not, 0 nothing)\n"
      L"  --log                                   print the library's log for this run\n"
      L"GUID is a setup class GUID in braces, e.g. {4D36E968-E325-11CE-BFC1-08002BE10318}.\n");
  return kUsageError;
}

std::wstring OwnFolder() {
  wchar_t path[MAX_PATH] = {};
  DWORD n = GetModuleFileNameW(nullptr, path, MAX_PATH);
  std::wstring folder(path, n);
  size_t slash = folder.rfind(L'\\');
  return slash == std::wstring::npos ? std::wstring() : folder.substr(0, slash + 1);
}

std::wstring ReadProperty(HDEVINFO set, SP_DEVINFO_DATA* device, DWORD property) {
  std::vector<wchar_t> buffer(4096, L'\0');
  if (!SetupDiGetDeviceRegistryPropertyW(set, device, property, nullptr,
                                         reinterpret_cast<BYTE*>(buffer.data()),
                                         static_cast<DWORD>((buffer.size() - 2) * sizeof(wchar_t)),
                                         nullptr))
    return {};
  return buffer.data();  // the first string of a multi-string
}

std::wstring DriverInf(HDEVINFO set, SP_DEVINFO_DATA* device) {
  HKEY raw = SetupDiOpenDevRegKey(set, device, DICS_FLAG_GLOBAL, 0, DIREG_DRV, KEY_READ);
  if (raw == INVALID_HANDLE_VALUE) return {};
  kyd::UniqueKey key(raw);
  wchar_t inf[MAX_PATH] = {};
  DWORD size = sizeof inf - sizeof(wchar_t);
  DWORD type = 0;
  if (RegQueryValueExW(key.get(), L"InfPath", nullptr, &type, reinterpret_cast<BYTE*>(inf), &size) !=
          ERROR_SUCCESS ||
      type != REG_SZ)
    return {};
  return inf;
}

int List(const wchar_t* classFilter) {
  kyd::UniqueDevInfo set(
      SetupDiGetClassDevsW(nullptr, nullptr, nullptr, DIGCF_ALLCLASSES | DIGCF_PRESENT));
  if (!set) {
    Error(L"drvuninst: cannot list devices (error " + std::to_wstring(GetLastError()) + L")\n");
    return 1;
  }
  SP_DEVINFO_DATA device{};
  device.cbSize = sizeof device;
  int count = 0;
  for (DWORD i = 0; SetupDiEnumDeviceInfo(set.get(), i, &device); ++i) {
    std::wstring classGuid = ReadProperty(set.get(), &device, SPDRP_CLASSGUID);
    if (classFilter && _wcsicmp(classGuid.c_str(), classFilter) != 0) continue;
    wchar_t instance[512] = {};
    SetupDiGetDeviceInstanceIdW(set.get(), &device, instance, 512, nullptr);
    std::wstring hardwareId = ReadProperty(set.get(), &device, SPDRP_HARDWAREID);
    std::wstring inf = DriverInf(set.get(), &device);
    Print(std::wstring(instance) + L"\n    class: " + (classGuid.empty() ? L"-" : classGuid) +
          L"\n    hwid:  " + (hardwareId.empty() ? L"-" : hardwareId) + L"\n    inf:   " +
          (inf.empty() ? L"-" : inf) + L"\n");
    ++count;
  }
  Print(std::to_wstring(count) + L" device(s)\n");
  return 0;
}

// Prints a UTF-8 file of a journal folder (the plan, a restore report)
// without the lines' checksums.
void PrintJournalFile(const std::wstring& path) {
  namespace journal = kyd::machine::journal;
  std::string bytes;
  if (!journal::ReadWholeFile(path, bytes)) {
    Error(L"drvuninst: cannot read " + path + L"\n");
    return;
  }
  std::wstring out;
  for (const std::string& text : journal::TextLines(bytes)) {
    std::wstring line = journal::FromUtf8(text);
    size_t mark = line.rfind(L"\t~");
    if (mark != std::wstring::npos && line.size() == mark + 10) line.resize(mark);
    out += line + L"\n";
  }
  Print(out);
}

// A fresh folder for a plan nobody asked to keep.
std::wstring MakePlanFolder() {
  wchar_t temp[MAX_PATH] = {};
  GetTempPathW(MAX_PATH, temp);
  std::wstring folder = std::wstring(temp) + L"drvuninst-plan-" + std::to_wstring(GetCurrentProcessId()) +
                        L"-" + std::to_wstring(GetTickCount());
  return CreateDirectoryW(folder.c_str(), nullptr) ? folder : std::wstring();
}

// Switches the library's log on for one run and prints what the run wrote.
class RunLog {
 public:
  explicit RunLog(const std::wstring& folder)
      : ini_(folder + L"log.ini"), file_(folder + L"log\\KYDDrvUninst.log") {
    iniExisted_ = GetFileAttributesW(ini_.c_str()) != INVALID_FILE_ATTRIBUTES;
    if (!iniExisted_) WritePrivateProfileStringW(L"log", L"filter", L"65535", ini_.c_str());
    start_ = Size();
  }
  ~RunLog() {
    if (!iniExisted_) DeleteFileW(ini_.c_str());
  }
  void PrintNew() const {
    kyd::UniqueFile file(CreateFileW(file_.c_str(), GENERIC_READ,
                                     FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                     OPEN_EXISTING, 0, nullptr));
    if (!file) return;
    LARGE_INTEGER offset{};
    offset.QuadPart = start_;
    SetFilePointerEx(file.get(), offset, nullptr, FILE_BEGIN);
    Print(L"---- log ----\n");
    char buffer[4096];
    DWORD read = 0;
    HANDLE out = GetStdHandle(STD_OUTPUT_HANDLE);
    while (ReadFile(file.get(), buffer, sizeof buffer, &read, nullptr) && read > 0) {
      DWORD written = 0;
      WriteFile(out, buffer, read, &written, nullptr);  // GBK text, as the library wrote it
    }
  }

 private:
  LONGLONG Size() const {
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (!GetFileAttributesExW(file_.c_str(), GetFileExInfoStandard, &data)) return 0;
    return (static_cast<LONGLONG>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
  }
  std::wstring ini_, file_;
  bool iniExisted_ = false;
  LONGLONG start_ = 0;
};

int Run() {
  const std::vector<std::wstring> argv = kyd::CommandLineArgs();
  if (argv.empty()) return Usage(L"cannot read the command line");
  const int argc = static_cast<int>(argv.size());
  std::vector<std::wstring> args;
  bool log = false, keepDevice = false, plan = false;
  std::wstring journal;
  const wchar_t* classFilter = nullptr;
  std::wstring classFilterText;
  for (int i = 1; i < argc; ++i) {
    std::wstring arg = argv[i];
    if (arg == L"--log") {
      log = true;
    } else if (arg == L"--keep-device") {
      keepDevice = true;
    } else if (arg == L"--plan") {
      plan = true;
    } else if (arg == L"--journal") {
      if (i + 1 >= argc) return Usage(L"--journal needs a folder");
      journal = argv[++i];
    } else if (arg == L"--class") {
      if (i + 1 >= argc) return Usage(L"--class needs a GUID");
      classFilterText = argv[++i];
      classFilter = classFilterText.c_str();
    } else if (arg == L"-h" || arg == L"--help" || arg == L"/?") {
      Usage(L"");
      return 0;
    } else if (arg.rfind(L"--", 0) == 0) {
      return Usage(L"unknown option " + arg);
    } else {
      args.push_back(arg);
    }
  }
  if (args.empty()) return Usage(L"no command given");
  const std::wstring& command = args[0];
  if (command == L"list") {
    if (args.size() != 1) return Usage(L"list takes no arguments besides --class");
    return List(classFilter);
  }
  if (command != L"query" && command != L"uninstall" && command != L"restore")
    return Usage(L"unknown command " + command);
  if (command == L"restore" && args.size() != 2) return Usage(L"restore needs the journal folder");
  if (command != L"restore" && args.size() != 3) return Usage(command + L" needs HWID and GUID");
  if (keepDevice && command != L"uninstall") return Usage(L"--keep-device goes with uninstall");
  if ((plan || !journal.empty()) && command != L"uninstall")
    return Usage(L"--plan and --journal go with uninstall");

  std::wstring folder = OwnFolder();
  std::unique_ptr<RunLog> runLog = log ? std::make_unique<RunLog>(folder) : nullptr;
  kyd::UniqueModule library(LoadLibraryW((folder + L"KYDDrvUninst.dll").c_str()));
  if (!library) {
    Error(L"drvuninst: cannot load " + folder + L"KYDDrvUninst.dll (error " +
          std::to_wstring(GetLastError()) + L")\n");
    return kLoadError;
  }
  auto init = reinterpret_cast<InitFn>(reinterpret_cast<void*>(GetProcAddress(library.get(), "DrvUninst_Init")));
  auto unit = reinterpret_cast<InitFn>(reinterpret_cast<void*>(GetProcAddress(library.get(), "DrvUninst_Unit")));
  auto query = reinterpret_cast<QueryFn>(
      reinterpret_cast<void*>(GetProcAddress(library.get(), "DrvUninst_IsDrvAppInstall")));
  auto uninstall = reinterpret_cast<UninstallFn>(
      reinterpret_cast<void*>(GetProcAddress(library.get(), "DrvUninst_UninstallDrv")));
  auto uninstallEx = reinterpret_cast<UninstallExFn>(
      reinterpret_cast<void*>(GetProcAddress(library.get(), "DrvUninst_UninstallDrvEx")));
  auto restore = reinterpret_cast<RestoreFn>(reinterpret_cast<void*>(GetProcAddress(library.get(), "DrvUninst_Restore")));
  if (!init || !unit || !query || !uninstall || !uninstallEx || !restore) {
    Error(L"drvuninst: KYDDrvUninst.dll lacks an export\n");
    return kLoadError;
  }
  init();
  int result = 0;
  if (command == L"query") {
    result = query(args[1].c_str(), args[2].c_str());
    Print(std::wstring(L"companion package installed: ") + (result == 1 ? L"yes" : L"no") + L" (" +
          std::to_wstring(result) + L")\n");
  } else if (command == L"restore") {
    result = restore(args[1].c_str());
    static const wchar_t* kRestored[] = {L"nothing restored", L"restored", L"partly restored"};
    Print(L"restore result: " + std::to_wstring(result) + L" (" +
          (result >= 0 && result <= 2 ? kRestored[result] : L"unknown") + L")\n");
    if (result != DRVUNINST_RESTORE_NOTHING) PrintJournalFile(args[1] + L"\\restore.txt");
  } else if (plan || !journal.empty()) {
    // A plan nobody keeps goes to a folder of its own that is removed after
    // it has been printed.
    std::wstring folder = journal.empty() ? MakePlanFolder() : journal;
    if (folder.empty()) {
      Error(L"drvuninst: cannot make a folder for the plan\n");
      return kLoadError;
    }
    result = uninstallEx(args[1].c_str(), args[2].c_str(), keepDevice ? 1 : 0,
                         plan ? DRVUNINST_FLAG_PLAN : DRVUNINST_FLAG_JOURNAL, folder.c_str());
    const std::wstring manifest = folder + L"\\manifest.txt";
    if (GetFileAttributesW(manifest.c_str()) != INVALID_FILE_ATTRIBUTES) {
      Print(plan ? L"---- plan ----\n" : L"---- journal ----\n");
      PrintJournalFile(manifest);
    }
    if (journal.empty()) {
      DeleteFileW(manifest.c_str());
      RemoveDirectoryW(folder.c_str());
    }
    Print(std::wstring(plan ? L"planned result: " : L"uninstall result: ") + std::to_wstring(result) + L"\n");
  } else {
    result = uninstall(args[1].c_str(), args[2].c_str(), keepDevice ? 1 : 0);
    static const wchar_t* kMeaning[] = {L"nothing uninstalled", L"uninstalled",
                                        L"uninstalled, restart needed"};
    Print(L"uninstall result: " + std::to_wstring(result) + L" (" +
          (result >= 0 && result <= 2 ? kMeaning[result] : L"unknown") + L")\n");
  }
  unit();
  if (runLog) runLog->PrintNew();
  return result;
}

}  // namespace

int main() {
  try {
    return Run();
  } catch (...) {
    Error(L"drvuninst: unexpected failure\n");
    return kLoadError;
  }
}
