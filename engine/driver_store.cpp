// Driver store cleanup with the embedded device-console tool, and the release
// of the tool itself.
#include "engine/driver_store.h"

#include <shlwapi.h>

#include <cstring>
#include <vector>

#include "engine/base_drv_uninst.h"
#include "platform/base_log.h"
#include "platform/module.h"
#include "platform/console_runner.h"
#include "machine/dir_tree.h"
#include "platform/env.h"
#include "platform/find_str.h"
#include "machine/machine.h"
#include "removal/components.h"
#include "removal/inf_users.h"
#include "removal/leftover_inf.h"

namespace kyd {
namespace {

constexpr char kLogUnit[] = "BaseDrvUninst";

// True when the open file holds exactly `size` bytes equal to `image`.
bool FileHolds(HANDLE file, const void* image, DWORD size) {
  LARGE_INTEGER fileSize{};
  if (!GetFileSizeEx(file, &fileSize) || fileSize.QuadPart != size) return false;
  const auto* expected = static_cast<const char*>(image);
  std::vector<char> buffer(65536);
  DWORD offset = 0;
  while (offset < size) {
    DWORD read = 0;
    if (!ReadFile(file, buffer.data(), static_cast<DWORD>(buffer.size()), &read, nullptr) || read == 0)
      return false;
    if (read > size - offset || std::memcmp(buffer.data(), expected + offset, read) != 0) return false;
    offset += read;
  }
  return true;
}

}  // namespace

CDeviceTool::~CDeviceTool() {
  lock_.reset();
  if (!path_.empty()) DeleteFileW(path_.c_str());
  if (!folder_.empty()) RemoveDirectoryW(folder_.c_str());
}

bool CDeviceTool::Release(WORD number) {
  if (released_) return true;
  if (folder_.empty()) {
    std::wstring temp = GetTempDir();
    if (!temp.empty() && temp.back() == L'\\') temp.pop_back();
    folder_ = temp.empty() ? std::wstring() : CreatePrivateFolder(temp);
    if (folder_.empty()) {
      KLOG(base::LOG_INFO, "create folder in (%S) failed(%d)", temp.c_str(),
           static_cast<int>(GetLastError()));
      return false;
    }
    path_ = folder_ + L"\\kyduninst.exe";
  }
  released_ = CBaseDrvUninst::ReleaseRes(number, path_, &lock_);
  return released_;
}

WORD CBaseDrvUninst::DeviceToolBuild() const {
  return DeviceToolBuildFor(GetOsVersionClass(), isWow64 != FALSE);
}

bool CBaseDrvUninst::ReleaseRes(WORD number, const std::wstring& path, UniqueFile* lock) {
  // The tool runs with the host's administrator rights. A file already at
  // the path is deleted rather than overwritten (it may be a link into a file
  // that must not be written), and the new one is created exclusively: no
  // other process can open it while it is written.
  machine::RemoveFile(path);
  UniqueFile file(CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                              FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
  if (!file) {
    KLOG(base::LOG_INFO, "create file (%S) failed(%d)", path.c_str(), static_cast<int>(GetLastError()));
    return false;
  }
  HRSRC resource = FindResourceW(g_moduleInstance, MAKEINTRESOURCEW(number), L"EXE");
  DWORD size = 0, written = 0;
  const void* image = nullptr;
  if (!resource) {
    KLOG(base::LOG_INFO, "FindResource failed");
  } else {
    size = SizeofResource(g_moduleInstance, resource);
    HGLOBAL loaded = LoadResource(g_moduleInstance, resource);
    image = loaded ? LockResource(loaded) : nullptr;
    if (!loaded) KLOG(base::LOG_INFO, "LoadResource failed");
    else if (!image) KLOG(base::LOG_INFO, "LockResource failed");
    else if (size == 0) KLOG(base::LOG_INFO, "SizeofResource == 0");
    else if (!WriteFile(file.get(), image, size, &written, nullptr)) written = 0;
  }
  file.reset();
  if (resource) {
    KLOG(base::LOG_INFO, "file size %d writen size %d", static_cast<int>(size),
         static_cast<int>(written));
  }
  if (size == 0 || written != size) {
    DeleteFileW(path.c_str());  // never leave a broken program behind
    return false;
  }
  if (!lock) return true;

  // From here until the tool has run the file is held open for reading and
  // shared for reading only: the tool can be started, but nobody can write,
  // rename or delete it. What the file holds once it is locked is checked
  // against the image, so a swap in the moment between the exclusive write
  // and the lock is caught rather than run.
  UniqueFile held(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
  if (!held || !FileHolds(held.get(), image, size)) {
    KLOG(base::LOG_ERROR, "file (%S) changed before it was locked", path.c_str());
    return false;
  }
  *lock = std::move(held);
  return true;
}

bool CBaseDrvUninst::CleanDriverStore(const wchar_t* hardwareId) {
  CDeviceTool tool;
  KLOG(base::LOG_INFO, "CleanDriverStore (%S)", hardwareId);
  if (!tool.Release(DeviceToolBuild())) {
    KLOG(base::LOG_INFO, "ReleaseRes (%S) failed", tool.path().c_str());
    return false;
  }
  KLOG(base::LOG_INFO, "Run kyduninst.exe");
  DeleteDriverStorePackages(hardwareId, tool.path());
  return true;  // the tool goes with `tool`
}

void CBaseDrvUninst::CleanComponents(const wchar_t* hardwareId) {
  KLOG(base::LOG_INFO, "CleanComponents (%S)", hardwareId);
  CleanDeviceComponents(hardwareId);
}

bool CBaseDrvUninst::DeleteDriverStorePackages(const wchar_t* hardwareId, std::wstring toolPath) {
  if (!hardwareId) return false;
  KLOG(base::LOG_INFO, "Find out (%S) inf", hardwareId);
  // The vendor and device part of the ID: what every INF of the device's
  // driver names, whatever subsystem or revision it was installed for.
  std::wstring key = LeftoverInfKey(hardwareId);
  bool found = false;
  const InfUsers users;
  for (const std::wstring& infPath : OemInfsNaming(key)) {
    // The device the host keeps, or another card of the same chip.
    if (users.KeptForItsDevice(infPath)) continue;
    KLOG(base::LOG_INFO, "%S Find inf file:%S\r\n", key.c_str(), infPath.c_str());
    std::wstring arguments;
    FormatWide(arguments, L"-f dp_delete \"%s\"", infPath.c_str());
    KLOG(base::LOG_INFO, "RunConsole %S", arguments.c_str());
    std::wstring reply;
    // A file name the command interpreter would expand never reaches it; the
    // INF and PNF still go below, as for a package the tool refused.
    if (IsPlainConsoleArgument(infPath.c_str())) machine::RunTool(toolPath, arguments, reply, infPath);
    else KLOG(base::LOG_ERROR, "inf path (%S) not passed to the command interpreter", infPath.c_str());
    KLOG(base::LOG_INFO, "Reply %S", reply.c_str());
    // Whatever the tool said: the INF and its precompiled twin must not stay
    // in the INF folder, or Windows would install the driver from them again.
    DeleteInfAndPnf(infPath);
    found = true;
  }
  return found;
}

}  // namespace kyd
