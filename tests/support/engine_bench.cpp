#include "support/engine_bench.h"

#include <objbase.h>

#include <algorithm>
#include <cwctype>
#include <sstream>

#include "platform/base_log.h"
#include "support/wine_bench.h"

namespace kydtest {
namespace {

REGSAM View(bool view64) { return view64 ? KEY_WOW64_64KEY : 0; }

constexpr DWORD kControlQuit = 200;  // testsvc: end in every mode

}  // namespace

// ------------------------------------------------------------------- log

// ------------------------------------------------------------------- registry

SeededKey::SeededKey(HKEY root, std::wstring path, bool view64)
    : root_(root), path_(std::move(path)), view64_(view64) {
  RegDeleteTreeIfPresent(root_, path_, view64_);
  RegCreate(root_, path_, view64_);
}

SeededKey::~SeededKey() { RegDeleteTreeIfPresent(root_, path_, view64_); }

bool RegCreate(HKEY root, const std::wstring& path, bool view64) {
  kyd::UniqueKey key;
  return RegCreateKeyExW(root, path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS | View(view64), nullptr,
                         key.put(), nullptr) == ERROR_SUCCESS;
}

bool RegSetBytes(HKEY root, const std::wstring& path, const std::wstring& name, DWORD type,
                 const void* data, DWORD size, bool view64) {
  kyd::UniqueKey key;
  if (RegCreateKeyExW(root, path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS | View(view64), nullptr,
                      key.put(), nullptr) != ERROR_SUCCESS)
    return false;
  return RegSetValueExW(key.get(), name.c_str(), 0, type, static_cast<const BYTE*>(data), size) ==
         ERROR_SUCCESS;
}

bool RegSetString(HKEY root, const std::wstring& path, const std::wstring& name,
                  const std::wstring& value, DWORD type, bool view64) {
  return RegSetBytes(root, path, name, type, value.c_str(),
                     static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t)), view64);
}

bool RegSetDword(HKEY root, const std::wstring& path, const std::wstring& name, DWORD value,
                 bool view64) {
  return RegSetBytes(root, path, name, REG_DWORD, &value, sizeof value, view64);
}

bool RegValueExists(HKEY root, const std::wstring& path, const std::wstring& name, bool view64) {
  kyd::UniqueKey key;
  if (RegOpenKeyExW(root, path.c_str(), 0, KEY_READ | View(view64), key.put()) != ERROR_SUCCESS)
    return false;
  return RegQueryValueExW(key.get(), name.c_str(), nullptr, nullptr, nullptr, nullptr) ==
         ERROR_SUCCESS;
}

void RegDeleteValueIfPresent(HKEY root, const std::wstring& path, const std::wstring& name,
                             bool view64) {
  kyd::UniqueKey key;
  if (RegOpenKeyExW(root, path.c_str(), 0, KEY_ALL_ACCESS | View(view64), key.put()) ==
      ERROR_SUCCESS)
    RegDeleteValueW(key.get(), name.c_str());
}

std::vector<std::wstring> RegSubKeys(HKEY root, const std::wstring& path, bool view64) {
  std::vector<std::wstring> names;
  kyd::UniqueKey key;
  if (RegOpenKeyExW(root, path.c_str(), 0, KEY_READ | View(view64), key.put()) != ERROR_SUCCESS)
    return names;
  for (DWORD index = 0;; ++index) {
    wchar_t name[256];
    DWORD length = 256;
    if (RegEnumKeyExW(key.get(), index, name, &length, nullptr, nullptr, nullptr, nullptr) !=
        ERROR_SUCCESS)
      break;
    names.emplace_back(name, length);
  }
  std::sort(names.begin(), names.end());
  return names;
}

std::wstring UniqueName(const std::wstring& prefix) {
  return prefix + std::to_wstring(GetCurrentProcessId());
}

// ------------------------------------------------------------------- processes

SleeperProcesses::~SleeperProcesses() {
  for (kyd::UniqueHandle& process : processes_) {
    if (WaitForSingleObject(process.get(), 0) == WAIT_TIMEOUT) {
      TerminateProcess(process.get(), 0xDEAD);
      WaitForSingleObject(process.get(), 5000);
    }
  }
  processes_.clear();
}

int SleeperProcesses::Start(const std::wstring& exeName, const std::wstring& arguments) {
  std::wstring exe = folder_ + L"\\" + exeName;
  if (!FileExists(exe)) CopyFileW((TestExeDir() + L"\\sleeper.exe").c_str(), exe.c_str(), FALSE);
  // It lives until this object ends it, or this process ends: a slow run
  // cannot outlast it and make a decoy look ended by the library.
  std::wstring line = L"\"" + exe + L"\" --with " + std::to_wstring(GetCurrentProcessId()) +
                      (arguments.empty() ? L"" : L" " + arguments);
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION info{};
  // Detached, without a console: under Wine a hidden console (CREATE_NO_WINDOW)
  // brings a conhost.exe that can outlive a process ended early, holding the
  // test's output open.
  if (!CreateProcessW(exe.c_str(), line.data(), nullptr, nullptr, FALSE, DETACHED_PROCESS, nullptr,
                      nullptr, &startup, &info))
    return -1;
  kyd::UniqueHandle thread(info.hThread);
  processes_.emplace_back(info.hProcess);
  return static_cast<int>(processes_.size()) - 1;
}

int SleeperProcesses::StartHolding(const std::wstring& exeName, const std::vector<std::wstring>& open,
                                   const std::vector<std::wstring>& loaded) {
  const std::wstring ready = UniqueName(L"kydready");
  kyd::UniqueHandle event(CreateEventW(nullptr, TRUE, FALSE, ready.c_str()));
  std::wstring arguments;
  for (const std::wstring& path : open) arguments += L" --hold \"" + path + L"\"";
  for (const std::wstring& path : loaded) arguments += L" --load \"" + path + L"\"";
  int index = event ? Start(exeName, arguments + L" --ready " + ready) : -1;
  if (index < 0) return -1;
  HANDLE waits[] = {event.get(), processes_[index].get()};
  if (WaitForMultipleObjects(2, waits, FALSE, 20000) == WAIT_OBJECT_0) return index;
  End(index);
  return -1;
}

void SleeperProcesses::End(int index) {
  if (index < 0 || static_cast<size_t>(index) >= processes_.size()) return;
  TerminateProcess(processes_[index].get(), 0xDEAD);
  WaitForSingleObject(processes_[index].get(), 5000);
}

bool SleeperProcesses::Ended(int index, DWORD timeoutMs) const {
  if (index < 0 || static_cast<size_t>(index) >= processes_.size()) return false;
  return WaitForSingleObject(processes_[index].get(), timeoutMs) == WAIT_OBJECT_0;
}

DWORD SleeperProcesses::ExitCode(int index) const {
  DWORD code = STILL_ACTIVE;
  if (index >= 0 && static_cast<size_t>(index) < processes_.size())
    GetExitCodeProcess(processes_[index].get(), &code);
  return code;
}

// ------------------------------------------------------------------- services

TestService::TestService(const std::wstring& name, const std::string& mode, bool start)
    : name_(name) {
  kyd::UniqueService manager(OpenSCManagerW(nullptr, nullptr, SC_MANAGER_ALL_ACCESS));
  if (!manager) return;
  std::wstring command = L"\"" + TestExeDir() + L"\\testsvc.exe\" " + ToWide(mode);
  // A service of the same name deleted a moment ago (a footprint's previous
  // case) stays marked for deletion until the service manager has seen its
  // process end; the name is free again once it has.
  kyd::UniqueService service;
  for (DWORD waited = 0;; waited += 100) {
    service.reset(CreateServiceW(manager.get(), name_.c_str(), name_.c_str(), SERVICE_ALL_ACCESS,
                                 SERVICE_WIN32_OWN_PROCESS, SERVICE_DEMAND_START, SERVICE_ERROR_IGNORE,
                                 command.c_str(), nullptr, nullptr, nullptr, nullptr, nullptr));
    error_ = service ? 0 : GetLastError();
    if (error_ != ERROR_SERVICE_MARKED_FOR_DELETE || waited >= 30000) break;
    Sleep(100);
  }
  if (!service) return;
  installed_ = true;
  if (!start) return;
  if (!StartServiceW(service.get(), 0, nullptr)) {
    error_ = GetLastError();
    return;
  }
  for (int i = 0; i < 100; ++i) {
    SERVICE_STATUS status{};
    // Running, and its control handler answers: a stop sent from now on
    // reaches the service itself.
    if (QueryServiceStatus(service.get(), &status) && status.dwCurrentState == SERVICE_RUNNING &&
        ControlService(service.get(), SERVICE_CONTROL_INTERROGATE, &status)) {
      running_ = true;
      return;
    }
    Sleep(100);
  }
  error_ = ERROR_SERVICE_REQUEST_TIMEOUT;  // started, but never answered as running
}

bool TestService::running() const { return running_; }

DWORD TestService::State(DWORD awaited, DWORD waitMs) const {
  kyd::UniqueService manager(OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT));
  if (!manager) return 0;
  kyd::UniqueService service(OpenServiceW(manager.get(), name_.c_str(), SERVICE_QUERY_STATUS));
  SERVICE_STATUS status{};
  for (DWORD start = GetTickCount();; Sleep(100)) {
    if (!service || !QueryServiceStatus(service.get(), &status)) return 0;
    if (status.dwCurrentState == awaited || GetTickCount() - start >= waitMs) return status.dwCurrentState;
  }
}

TestService::~TestService() {
  if (!installed_) return;
  kyd::UniqueService manager(OpenSCManagerW(nullptr, nullptr, SC_MANAGER_ALL_ACCESS));
  if (!manager) return;
  kyd::UniqueService service(OpenServiceW(manager.get(), name_.c_str(), SERVICE_ALL_ACCESS));
  if (!service) return;
  SERVICE_STATUS status{};
  if (QueryServiceStatus(service.get(), &status) && status.dwCurrentState != SERVICE_STOPPED) {
    // Wine's service manager refuses every control to a paused service
    // (ERROR_SERVICE_CANNOT_ACCEPT_CTRL), so a refused request goes
    // straight to ending the process.
    if (ControlService(service.get(), kControlQuit, &status)) {
      for (int i = 0; i < 50; ++i) {
        if (QueryServiceStatus(service.get(), &status) && status.dwCurrentState == SERVICE_STOPPED)
          break;
        Sleep(100);
      }
    }
    // Still there: end its process by id.
    SERVICE_STATUS_PROCESS process{};
    DWORD needed = 0;
    if (QueryServiceStatusEx(service.get(), SC_STATUS_PROCESS_INFO,
                             reinterpret_cast<BYTE*>(&process), sizeof process, &needed) &&
        process.dwCurrentState != SERVICE_STOPPED && process.dwProcessId != 0)
      EndProcess(process.dwProcessId, 0xDEAD);
  }
  DeleteService(service.get());
}

// ------------------------------------------------------------------- misc

SeededKeys::~SeededKeys() {
  for (auto it = keys_.rbegin(); it != keys_.rend(); ++it)
    RegDeleteTreeIfPresent(it->root, it->path, it->view64);
}

const std::wstring& SeededKeys::Add(HKEY root, const std::wstring& path, bool view64) {
  RegDeleteTreeIfPresent(root, path, view64);
  // The first key along the path that does not exist yet goes at the end,
  // so that parents made on the way do not stay behind.
  std::wstring first = path;
  for (size_t slash = path.find(L'\\'); slash != std::wstring::npos;
       slash = path.find(L'\\', slash + 1)) {
    if (!RegKeyExists(root, path.substr(0, slash), view64)) {
      first = path.substr(0, slash);
      break;
    }
  }
  RegCreate(root, path, view64);
  keys_.push_back({root, first, view64});
  paths_.push_back(path);
  return paths_.back();
}

std::wstring NewGuid() {
  GUID guid;
  CoCreateGuid(&guid);
  wchar_t text[64] = {};
  StringFromGUID2(guid, text, 64);
  return text;
}

std::wstring NewPackedCode() {
  std::wstring packed;
  for (wchar_t c : NewGuid())
    if (iswxdigit(c)) packed += c;
  return packed;
}

std::wstring SystemDir() {
  wchar_t path[MAX_PATH] = {};
  GetSystemDirectoryW(path, MAX_PATH);
  return path;
}

std::wstring WindowsDir() {
  wchar_t path[MAX_PATH] = {};
  GetWindowsDirectoryW(path, MAX_PATH);
  return path;
}

}  // namespace kydtest
