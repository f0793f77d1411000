#include "support/wine_bench.h"

#include <objbase.h>
#include <tlhelp32.h>

#include <algorithm>
#include <atomic>
#include <cwchar>

#include "machine/dir_tree.h"
#include "platform/handle.h"
#include "removal/device_match.h"

namespace kydtest {

std::wstring ToWide(const std::string& narrow, UINT codePage) {
  if (narrow.empty()) return {};
  int n = MultiByteToWideChar(codePage, 0, narrow.data(), static_cast<int>(narrow.size()), nullptr, 0);
  std::wstring wide(static_cast<size_t>(n), L'\0');
  MultiByteToWideChar(codePage, 0, narrow.data(), static_cast<int>(narrow.size()), wide.data(), n);
  return wide;
}

std::string ToNarrow(const std::wstring& wide) {
  if (wide.empty()) return {};
  int n = WideCharToMultiByte(CP_UTF8, 0, wide.data(), static_cast<int>(wide.size()), nullptr, 0,
                              nullptr, nullptr);
  std::string narrow(static_cast<size_t>(n), '\0');
  WideCharToMultiByte(CP_UTF8, 0, wide.data(), static_cast<int>(wide.size()), narrow.data(), n,
                      nullptr, nullptr);
  return narrow;
}

std::wstring WinPath(const char* unixPath) {
  std::wstring path = L"Z:" + ToWide(unixPath);
  for (wchar_t& c : path)
    if (c == L'/') c = L'\\';
  return path;
}

std::wstring DistDir() { return WinPath(KYD_DIST_DIR); }
std::wstring Ship32Dir() { return WinPath(KYD_SHIP32_DIR); }
std::wstring Ship64Dir() { return WinPath(KYD_SHIP64_DIR); }

std::wstring TestExeDir() {
  wchar_t path[MAX_PATH] = {};
  GetModuleFileNameW(nullptr, path, MAX_PATH);
  std::wstring folder = path;
  return folder.substr(0, folder.rfind(L'\\'));
}

namespace {

// Every run of a test program gets a scratch root of its own, under a name
// no earlier run can have used (Wine hands out process IDs again, so a name
// made of one could meet a folder, or a link, a failed run left behind). It
// is removed when the program ends, whatever its tests gave; the prefix's
// drop fixture removes scratch\<prefix> with what a crashed run left.
// The prefix's folder name (w64, fp64, ...), as the prefix fixtures name
// its scratch folder; the bitness where Wine does not pass WINEPREFIX on.
std::wstring PrefixName() {
  wchar_t prefix[MAX_PATH] = {};
  DWORD length = GetEnvironmentVariableW(L"WINEPREFIX", prefix, MAX_PATH);
  std::wstring text = length > 0 && length < MAX_PATH ? prefix : L"";
  while (!text.empty() && text.back() == L'/') text.pop_back();
  text = text.substr(text.find_last_of(L"/\\") + 1);
  if (text.empty()) text = Is64BitPrefix() ? L"w64" : L"w32";
  return text;
}

class ScratchRoot {
 public:
  ScratchRoot() {
    std::wstring prefix = TestExeDir() + L"\\scratch";
    CreateDirectoryW(prefix.c_str(), nullptr);
    prefix += L"\\" + PrefixName();
    CreateDirectoryW(prefix.c_str(), nullptr);
    path_ = kyd::CreatePrivateFolder(prefix);
  }
  ~ScratchRoot() {
    if (!path_.empty()) kyd::RemoveDirectoryTree(path_);
  }
  const std::wstring& path() const { return path_; }

 private:
  std::wstring path_;
};

const std::wstring& ScratchRootPath() {
  static const ScratchRoot root;
  return root.path();
}

}  // namespace

ScratchDir::ScratchDir(const std::wstring& name) {
  static std::atomic<int> counter{0};
  path_ = ScratchRootPath() + L"\\" + name + L"-" + std::to_wstring(counter++);
  CreateDirectoryW(path_.c_str(), nullptr);
}

ScratchDir::~ScratchDir() { kyd::RemoveDirectoryTree(path_); }

// The double is built as a program; its copy becomes a DLL without an entry
// point (the runtime library's start-up is not needed by its functions).
bool MakeNetapiDouble(const std::wstring& dll) {
  std::string image = ReadFileBytes(TestExeDir() + L"\\netapi_double.exe");
  if (image.size() < 0x200) return false;
  uint32_t pe = *reinterpret_cast<const uint32_t*>(&image[0x3C]);
  if (pe + 24 + 20 > image.size() || image.compare(pe, 4, std::string("PE\0\0", 4)) != 0) return false;
  auto* characteristics = reinterpret_cast<uint16_t*>(&image[pe + 4 + 18]);
  *characteristics |= IMAGE_FILE_DLL;
  auto* entryPoint = reinterpret_cast<uint32_t*>(&image[pe + 24 + 16]);
  *entryPoint = 0;
  return WriteFileBytes(dll, image);
}

bool FileExists(const std::wstring& path) {
  return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

bool FolderIsEmpty(const std::wstring& folder) {
  bool empty = true;
  return kyd::ForEachEntry(folder, [&](const WIN32_FIND_DATAW&) { return empty = false; }) && empty;
}

namespace {

// The Unix name Wine gives a path of any drive (the last part may be
// missing); drive Z: by hand where Wine does not say.
std::wstring UnixPathOf(const std::wstring& windowsPath) {
  using UnixNameFn = char*(CDECL*)(const wchar_t*);
  static const auto unixName = reinterpret_cast<UnixNameFn>(
      reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"kernel32.dll"), "wine_get_unix_file_name")));
  if (char* name = unixName ? unixName(windowsPath.c_str()) : nullptr) {
    std::wstring path = ToWide(name);
    HeapFree(GetProcessHeap(), 0, name);
    return path;
  }
  std::wstring path = windowsPath.substr(2);  // "Z:" off
  for (wchar_t& c : path)
    if (c == L'\\') c = L'/';
  return path;
}

// Wine starts a Unix program and returns at once: wait for its effect.
bool WaitForPresence(const std::wstring& path, bool present) {
  for (int i = 0; i < 100; ++i) {
    if (FileExists(path) == present) return true;
    Sleep(50);
  }
  return false;
}

}  // namespace

bool MakeFolderLink(const std::wstring& link, const std::wstring& target) {
  RunProgram(L"Z:\\bin\\ln -s \"" + UnixPathOf(target) + L"\" \"" + UnixPathOf(link) + L"\"");
  if (!WaitForPresence(link, true)) return false;
  return (GetFileAttributesW(link.c_str()) & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
}

bool MakeOpenToEveryone(const std::wstring& folder) {
  const std::wstring unixPath = UnixPathOf(folder);
  if (unixPath.empty() || !FileExists(folder)) return false;
  RunProgram(L"Z:\\bin\\chmod 0777 \"" + unixPath + L"\"");
  return true;
}

void RemoveFolderLink(const std::wstring& link) {
  if (!FileExists(link)) return;
  RunProgram(L"Z:\\bin\\rm -f \"" + UnixPathOf(link) + L"\"");
  WaitForPresence(link, false);
}

bool WriteFileBytes(const std::wstring& path, const std::string& bytes) {
  kyd::UniqueFile file(CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                   FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file) return false;
  DWORD written = 0;
  return WriteFile(file.get(), bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) &&
         written == bytes.size();
}

std::string ReadFileBytes(const std::wstring& path) {
  kyd::UniqueFile file(CreateFileW(path.c_str(), GENERIC_READ,
                                   FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                   OPEN_EXISTING, 0, nullptr));
  if (!file) return {};
  std::string bytes;
  char buffer[65536];
  DWORD read = 0;
  while (ReadFile(file.get(), buffer, sizeof buffer, &read, nullptr) && read > 0)
    bytes.append(buffer, read);
  return bytes;
}

bool CopyTree(const std::wstring& from, const std::wstring& to) {
  CreateDirectoryW(to.c_str(), nullptr);
  bool ok = true;
  bool listed = kyd::ForEachEntry(from, [&](const WIN32_FIND_DATAW& entry) {
    std::wstring source = from + L"\\" + entry.cFileName;
    std::wstring target = to + L"\\" + entry.cFileName;
    if (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) ok = CopyTree(source, target) && ok;
    else ok = CopyFileW(source.c_str(), target.c_str(), FALSE) && ok;
    return true;
  });
  return listed && ok;
}

namespace {

// Our environment plus the extra entries ("NAME=value", replacing ours of
// that name), as one block.
std::wstring EnvironmentBlock(const std::vector<std::wstring>& extraEnvironment) {
  std::wstring block;
  if (wchar_t* env = GetEnvironmentStringsW()) {
    for (const wchar_t* p = env; *p; p += std::wcslen(p) + 1) {
      std::wstring entry = p;
      bool replaced = false;
      for (const std::wstring& extra : extraEnvironment) {
        size_t eq = extra.find(L'=');
        if (_wcsnicmp(entry.c_str(), extra.c_str(), eq + 1) == 0) replaced = true;
      }
      if (!replaced) block += entry + L'\0';
    }
    FreeEnvironmentStringsW(env);
  }
  for (const std::wstring& extra : extraEnvironment) block += extra + L'\0';
  block += L'\0';
  return block;
}

// The child's output pipe. Its read end is a named pipe of this process's
// own, opened for overlapped reads, so that waiting for output never outlasts
// the time limit, whatever the child or its own children do with the write
// end.
class OutputPipe {
 public:
  OutputPipe() {
    static std::atomic<unsigned> counter{0};
    const std::wstring name = L"\\\\.\\pipe\\kydtest-" + std::to_wstring(GetCurrentProcessId()) +
                              L"-" + std::to_wstring(counter++);
    read_.reset(CreateNamedPipeW(name.c_str(),
                                 PIPE_ACCESS_INBOUND | FILE_FLAG_OVERLAPPED | FILE_FLAG_FIRST_PIPE_INSTANCE,
                                 PIPE_TYPE_BYTE | PIPE_READMODE_BYTE | PIPE_WAIT, 1, 0, 65536, 0, nullptr));
    if (!read_) return;
    SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
    write_.reset(CreateFileW(name.c_str(), GENERIC_WRITE, 0, &inherit, OPEN_EXISTING,
                             FILE_ATTRIBUTE_NORMAL, nullptr));
    event_.reset(CreateEventW(nullptr, TRUE, FALSE, nullptr));
  }
  ~OutputPipe() { Cancel(); }
  OutputPipe(const OutputPipe&) = delete;
  OutputPipe& operator=(const OutputPipe&) = delete;

  bool ok() const { return read_ && write_ && event_; }
  HANDLE writeEnd() const { return write_.get(); }
  void CloseWriteEnd() { write_.reset(); }
  bool ended() const { return ended_; }
  // Signalled when the read under way has completed.
  HANDLE event() const { return event_.get(); }

  // Starts the next read unless one is under way or the pipe has ended.
  void Arm() {
    if (pending_ || ended_) return;
    overlapped_ = OVERLAPPED{};
    overlapped_.hEvent = event_.get();
    if (ReadFile(read_.get(), buffer_, sizeof buffer_, nullptr, &overlapped_) ||
        GetLastError() == ERROR_IO_PENDING)
      pending_ = true;
    else
      ended_ = true;  // ERROR_BROKEN_PIPE: every write end is closed
  }

  // Takes what the completed read brought. False while it is under way.
  bool Collect(std::string& output, const OutputSink& onOutput, bool wait = false) {
    if (!pending_) return true;
    DWORD read = 0;
    if (!GetOverlappedResult(read_.get(), &overlapped_, &read, wait ? TRUE : FALSE)) {
      if (GetLastError() == ERROR_IO_INCOMPLETE) return false;
      ended_ = GetLastError() != ERROR_OPERATION_ABORTED;
    }
    pending_ = false;
    if (read > 0) {
      output.append(buffer_, read);
      if (onOutput) onOutput(std::string(buffer_, read));
    }
    return true;
  }

  // Gives up the read under way; the buffer is ours again once it returns.
  void Cancel(std::string* output = nullptr, const OutputSink& onOutput = {}) {
    if (!pending_) return;
    CancelIo(read_.get());
    std::string ignored;
    Collect(output ? *output : ignored, onOutput, true);
  }

 private:
  kyd::UniqueFile read_, write_;
  kyd::UniqueHandle event_;
  OVERLAPPED overlapped_{};
  char buffer_[4096];
  bool pending_ = false;
  bool ended_ = false;
};

// How long output is still gathered after the child has ended, from
// programs it started that still hold the pipe.
constexpr DWORD kDrainAfterExitMs = 2000;
constexpr UINT kTimedOutExitCode = 0xDEAD;

}  // namespace

ProcessResult RunProgram(const std::wstring& commandLine,
                         const std::vector<std::wstring>& extraEnvironment, DWORD timeoutMs,
                         const OutputSink& onOutput) {
  ProcessResult result;
  OutputPipe pipe;
  if (!pipe.ok()) return result;
  std::wstring block = EnvironmentBlock(extraEnvironment);

  // The child and what it starts run in a job of their own (programs may
  // still leave it, as the package road's uninstallers do), so that a time
  // limit ends all of them.
  kyd::UniqueHandle job(CreateJobObjectW(nullptr, nullptr));
  if (job) {
    JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits{};
    limits.BasicLimitInformation.LimitFlags = JOB_OBJECT_LIMIT_BREAKAWAY_OK;
    SetInformationJobObject(job.get(), JobObjectExtendedLimitInformation, &limits, sizeof limits);
  }

  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdOutput = pipe.writeEnd();
  startup.hStdError = pipe.writeEnd();
  startup.hStdInput = nullptr;
  PROCESS_INFORMATION process{};
  std::wstring line = commandLine;
  if (!CreateProcessW(nullptr, line.data(), nullptr, nullptr, TRUE,
                      CREATE_UNICODE_ENVIRONMENT | CREATE_NO_WINDOW | CREATE_SUSPENDED, block.data(),
                      nullptr, &startup, &process))
    return result;
  result.started = true;
  // A Unix program (ln, rm) started from a 32-bit program under WOW64 comes
  // back without its process information: what is there is no handle of
  // ours, and closing it could close one that is (this program's output).
  // Such a program is over when its output ends, within the time limit.
  const bool known = process.dwProcessId != 0 && GetProcessId(process.hProcess) == process.dwProcessId;
  kyd::UniqueHandle processHandle(known ? process.hProcess : nullptr), threadHandle(known ? process.hThread : nullptr);
  if (known) {
    if (job && !AssignProcessToJobObject(job.get(), processHandle.get())) job.reset();
    ResumeThread(threadHandle.get());
  }
  pipe.CloseWriteEnd();

  const DWORD start = GetTickCount();
  bool exited = !known;
  DWORD exitedAt = known ? 0 : timeoutMs;
  for (;;) {
    pipe.Arm();
    if (exited && pipe.ended()) break;
    const DWORD now = GetTickCount() - start;
    const DWORD limit = exited ? std::min(timeoutMs, exitedAt + kDrainAfterExitMs) : timeoutMs;
    if (now >= limit) break;
    HANDLE waits[2];
    DWORD count = 0;
    if (!pipe.ended()) waits[count++] = pipe.event();
    if (!exited) waits[count++] = processHandle.get();
    const DWORD woke = WaitForMultipleObjects(count, waits, FALSE, limit - now);
    if (woke == WAIT_TIMEOUT) continue;
    if (woke >= WAIT_OBJECT_0 + count) break;  // a wait that fails cannot be retried
    if (waits[woke - WAIT_OBJECT_0] == processHandle.get()) {
      exited = true;
      exitedAt = GetTickCount() - start;
    } else {
      pipe.Collect(result.output, onOutput);
    }
  }
  if (!exited) {
    result.timedOut = true;
    if (job) TerminateJobObject(job.get(), kTimedOutExitCode);
    else TerminateProcess(processHandle.get(), kTimedOutExitCode);
    WaitForSingleObject(processHandle.get(), 5000);
  }
  pipe.Cancel(&result.output, onOutput);
  GetExitCodeProcess(processHandle.get(), &result.exitCode);
  return result;
}

std::vector<DWORD> ProcessIdsNamed(const std::wstring& exeName, DWORD waitGoneMs) {
  for (const DWORD start = GetTickCount();; Sleep(100)) {
    std::vector<DWORD> ids;
    kyd::UniqueHandle snapshot(CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
    PROCESSENTRY32W entry{};
    entry.dwSize = sizeof entry;
    for (BOOL more = snapshot && Process32FirstW(snapshot.get(), &entry); more;
         more = Process32NextW(snapshot.get(), &entry))
      if (_wcsicmp(entry.szExeFile, exeName.c_str()) == 0) ids.push_back(entry.th32ProcessID);
    if (ids.empty() || GetTickCount() - start >= waitGoneMs) return ids;
  }
}

void EndProcess(DWORD id, UINT exitCode) {
  kyd::UniqueHandle process(OpenProcess(PROCESS_TERMINATE | SYNCHRONIZE, FALSE, id));
  if (process && TerminateProcess(process.get(), exitCode)) WaitForSingleObject(process.get(), 5000);
}

bool Is64BitPrefix() {
  BOOL wow = FALSE;
  IsWow64Process(GetCurrentProcess(), &wow);
  return wow != FALSE;
}

SeededDevice::SeededDevice(const std::vector<std::wstring>& hardwareIds,
                           const std::vector<std::wstring>& compatibleIds, const wchar_t* classGuid) {
  GUID guid;
  if (CLSIDFromString(const_cast<wchar_t*>(classGuid), &guid) != NOERROR) return;
  kyd::UniqueDevInfo set(SetupDiCreateDeviceInfoList(&guid, nullptr));
  if (!set) return;
  SP_DEVINFO_DATA device{};
  device.cbSize = sizeof device;
  // An enumerator name of this process's own ("ROOT\KYD<pid>\0000"): instance
  // numbers of removed devices are handed out again, and with a shared name
  // the device this object removes at the end could by then be another test
  // program's.
  const std::wstring enumerator = L"KYD" + std::to_wstring(GetCurrentProcessId());
  if (!SetupDiCreateDeviceInfoW(set.get(), enumerator.c_str(), &guid, nullptr, nullptr,
                                DICD_GENERATE_ID, &device))
    return;
  if (!SetupDiRegisterDeviceInfo(set.get(), &device, 0, nullptr, nullptr, nullptr)) return;
  auto multi = [](const std::vector<std::wstring>& ids) {
    std::wstring block;
    for (const std::wstring& id : ids) block += id + L'\0';
    block += L'\0';
    return block;
  };
  if (!hardwareIds.empty()) {
    std::wstring block = multi(hardwareIds);
    SetupDiSetDeviceRegistryPropertyW(set.get(), &device, SPDRP_HARDWAREID,
                                      reinterpret_cast<const BYTE*>(block.data()),
                                      static_cast<DWORD>(block.size() * sizeof(wchar_t)));
  }
  if (!compatibleIds.empty()) {
    std::wstring block = multi(compatibleIds);
    SetupDiSetDeviceRegistryPropertyW(set.get(), &device, SPDRP_COMPATIBLEIDS,
                                      reinterpret_cast<const BYTE*>(block.data()),
                                      static_cast<DWORD>(block.size() * sizeof(wchar_t)));
  }
  wchar_t id[512] = {};
  if (SetupDiGetDeviceInstanceIdW(set.get(), &device, id, 512, nullptr)) instanceId_ = id;
}

SeededDevice::~SeededDevice() {
  if (instanceId_.empty()) return;
  kyd::UniqueDevInfo set(SetupDiGetClassDevsW(nullptr, nullptr, nullptr, DIGCF_ALLCLASSES));
  if (!set) return;
  SP_DEVINFO_DATA device{};
  device.cbSize = sizeof device;
  for (DWORD i = 0; SetupDiEnumDeviceInfo(set.get(), i, &device); ++i) {
    wchar_t id[512] = {};
    if (SetupDiGetDeviceInstanceIdW(set.get(), &device, id, 512, nullptr) &&
        _wcsicmp(id, instanceId_.c_str()) == 0) {
      SetupDiRemoveDevice(set.get(), &device);
      break;
    }
  }
}

namespace {

std::vector<std::wstring> MultiProperty(HDEVINFO set, SP_DEVINFO_DATA* device, DWORD property) {
  std::vector<wchar_t> buffer(16384, L'\0');
  std::vector<std::wstring> ids;
  if (!SetupDiGetDeviceRegistryPropertyW(set, device, property, nullptr,
                                         reinterpret_cast<BYTE*>(buffer.data()),
                                         static_cast<DWORD>((buffer.size() - 2) * 2), nullptr))
    return ids;
  for (const wchar_t* p = buffer.data(); *p; p += std::wcslen(p) + 1) ids.emplace_back(p);
  return ids;
}

}  // namespace

bool DevicePresent(const std::wstring& instanceId) {
  bool found = false;
  kyd::ForEachPresentDevice([&](HDEVINFO set, SP_DEVINFO_DATA* device) {
    wchar_t id[512] = {};
    found = SetupDiGetDeviceInstanceIdW(set, device, id, 512, nullptr) &&
            _wcsicmp(id, instanceId.c_str()) == 0;
    return !found;
  });
  return found;
}

std::vector<std::wstring> PresentDevicesWithId(const std::wstring& wanted) {
  std::vector<std::wstring> found;
  kyd::ForEachPresentDevice([&](HDEVINFO set, SP_DEVINFO_DATA* device) {
    for (DWORD property : {SPDRP_HARDWAREID, SPDRP_COMPATIBLEIDS}) {
      for (const std::wstring& id : MultiProperty(set, device, property)) {
        if (_wcsicmp(id.c_str(), wanted.c_str()) == 0) {
          wchar_t instance[512] = {};
          SetupDiGetDeviceInstanceIdW(set, device, instance, 512, nullptr);
          found.emplace_back(instance);
          return true;
        }
      }
    }
    return true;
  });
  return found;
}

std::wstring InfDir() {
  wchar_t windows[MAX_PATH] = {};
  GetWindowsDirectoryW(windows, MAX_PATH);
  return std::wstring(windows) + L"\\inf";
}

std::wstring FreeOemInfName() {
  // Test programs seed INF files side by side in one prefix, and Wine hands
  // neighbouring processes neighbouring IDs: the name is claimed by creating
  // the file, so that no two processes can be given the same one.
  GUID guid{};
  CoCreateGuid(&guid);
  for (unsigned n = 1000 + guid.Data1 % 8000;; ++n) {
    std::wstring name = L"oem" + std::to_wstring(n) + L".inf";
    kyd::UniqueFile claim(CreateFileW((InfDir() + L"\\" + name).c_str(), GENERIC_WRITE, 0, nullptr,
                                      CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (claim) return name;
    if (GetLastError() != ERROR_FILE_EXISTS) return name;
  }
}

SeededInf::SeededInf(const std::wstring& fileName, const std::wstring& text, bool utf16,
                     bool withPnf)
    : path_(InfDir() + L"\\" + fileName) {
  std::string bytes;
  if (utf16) {
    bytes = "\xFF\xFE";
    bytes.append(reinterpret_cast<const char*>(text.data()), text.size() * sizeof(wchar_t));
  } else {
    int n = WideCharToMultiByte(CP_ACP, 0, text.data(), static_cast<int>(text.size()), nullptr, 0,
                                nullptr, nullptr);
    bytes.assign(static_cast<size_t>(n), '\0');
    WideCharToMultiByte(CP_ACP, 0, text.data(), static_cast<int>(text.size()), bytes.data(), n,
                        nullptr, nullptr);
  }
  WriteFileBytes(path_, bytes);
  if (withPnf) WriteFileBytes(pnf(), "PNF test companion");
}

SeededInf::~SeededInf() {
  DeleteFileW(path_.c_str());
  DeleteFileW(pnf().c_str());
}

bool RegDwordValue(HKEY root, const std::wstring& key, const std::wstring& name, DWORD& value,
                   bool view64) {
  kyd::UniqueKey handle;
  if (RegOpenKeyExW(root, key.c_str(), 0, KEY_READ | (view64 ? KEY_WOW64_64KEY : 0), handle.put()) !=
      ERROR_SUCCESS)
    return false;
  DWORD type = 0, size = sizeof value;
  return RegQueryValueExW(handle.get(), name.c_str(), nullptr, &type,
                          reinterpret_cast<BYTE*>(&value), &size) == ERROR_SUCCESS &&
         type == REG_DWORD;
}

bool RegKeyExists(HKEY root, const std::wstring& key, bool view64) {
  kyd::UniqueKey handle;
  return RegOpenKeyExW(root, key.c_str(), 0, KEY_READ | (view64 ? KEY_WOW64_64KEY : 0),
                       handle.put()) == ERROR_SUCCESS;
}

void RegDeleteTreeIfPresent(HKEY root, const std::wstring& key, bool view64) {
  kyd::UniqueKey handle;
  if (RegOpenKeyExW(root, key.c_str(), 0, KEY_ALL_ACCESS | (view64 ? KEY_WOW64_64KEY : 0),
                    handle.put()) != ERROR_SUCCESS)
    return;
  // Depth first, so it also works where RegDeleteTree is missing.
  for (;;) {
    wchar_t child[256];
    DWORD length = 256;
    if (RegEnumKeyExW(handle.get(), 0, child, &length, nullptr, nullptr, nullptr, nullptr) !=
        ERROR_SUCCESS)
      break;
    RegDeleteTreeIfPresent(root, key + L"\\" + child, view64);
  }
  handle.reset();
  using DeleteKeyExFn = LONG(WINAPI*)(HKEY, LPCWSTR, REGSAM, DWORD);
  auto deleteKeyEx = reinterpret_cast<DeleteKeyExFn>(reinterpret_cast<void*>(
      GetProcAddress(GetModuleHandleW(L"advapi32.dll"), "RegDeleteKeyExW")));
  if (deleteKeyEx) deleteKeyEx(root, key.c_str(), view64 ? KEY_WOW64_64KEY : 0, 0);
  else RegDeleteKeyW(root, key.c_str());
}

}  // namespace kydtest

namespace kydtest {

bool GiveDeviceADriver(const std::wstring& instanceId, const std::wstring& infName,
                       const std::wstring& section, const std::wstring& description,
                       const std::wstring& provider, const std::wstring& manufacturer) {
  kyd::UniqueDevInfo set(SetupDiGetClassDevsW(nullptr, nullptr, nullptr, DIGCF_ALLCLASSES));
  if (!set) return false;
  SP_DEVINFO_DATA device{};
  device.cbSize = sizeof device;
  for (DWORD i = 0; SetupDiEnumDeviceInfo(set.get(), i, &device); ++i) {
    wchar_t id[512] = {};
    if (!SetupDiGetDeviceInstanceIdW(set.get(), &device, id, 512, nullptr) ||
        _wcsicmp(id, instanceId.c_str()) != 0)
      continue;
    HKEY raw = SetupDiCreateDevRegKeyW(set.get(), &device, DICS_FLAG_GLOBAL, 0, DIREG_DRV, nullptr,
                                       nullptr);
    if (raw == INVALID_HANDLE_VALUE) return false;
    kyd::UniqueKey key(raw);
    auto set_sz = [&](const wchar_t* name, const std::wstring& value) {
      RegSetValueExW(key.get(), name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                     static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t)));
    };
    set_sz(L"InfPath", infName);
    set_sz(L"InfSection", section);
    set_sz(L"DriverDesc", description);
    set_sz(L"ProviderName", provider);
    set_sz(L"DriverVersion", L"1.2.3.4");
    SetupDiSetDeviceRegistryPropertyW(set.get(), &device, SPDRP_MFG,
                                      reinterpret_cast<const BYTE*>(manufacturer.c_str()),
                                      static_cast<DWORD>((manufacturer.size() + 1) * sizeof(wchar_t)));
    return true;
  }
  return false;
}

std::wstring DriverInfText(const std::wstring& hardwareId, const std::wstring& description,
                           const std::wstring& provider, const std::wstring& manufacturer) {
  return L"[Version]\r\nSignature=\"$WINDOWS NT$\"\r\nClass=System\r\n"
         L"ClassGuid={4D36E97D-E325-11CE-BFC1-08002BE10318}\r\nProvider=\"" + provider +
         L"\"\r\nDriverVer=01/02/2015,1.2.3.4\r\n\r\n[Manufacturer]\r\n\"" + manufacturer +
         L"\"=Models\r\n\r\n[Models]\r\n\"" + description + L"\"=KydInstall, " + hardwareId +
         L"\r\n\r\n[KydInstall]\r\n\r\n[KydInstall.Services]\r\nAddService=,2\r\n";
}

}  // namespace kydtest
