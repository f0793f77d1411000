// The vendor road through the exports, in process as a host calls them:
// SeDebugPrivilege is held while the deep clean runs, so that protected
// vendor processes can be ended, and the host's token is as it was after
// each call, also for two calls in a row.
#include <gtest/gtest.h>
#include <windows.h>

#include <atomic>
#include <thread>

#include "machine/pending.h"
#include "platform/env.h"
#include "platform/handle.h"
#include "support/staged_host.h"

namespace {

using namespace kydtest;

// Sets the attributes of SeDebugPrivilege in this process's token.
bool SetDebugPrivilegeAttributes(DWORD attributes) {
  kyd::UniqueHandle token;
  if (!OpenProcessToken(GetCurrentProcess(), TOKEN_ADJUST_PRIVILEGES, token.put())) return false;
  TOKEN_PRIVILEGES privileges{};
  privileges.PrivilegeCount = 1;
  privileges.Privileges[0].Attributes = attributes;
  if (!LookupPrivilegeValueW(nullptr, L"SeDebugPrivilege", &privileges.Privileges[0].Luid)) return false;
  return AdjustTokenPrivileges(token.get(), FALSE, &privileges, 0, nullptr, nullptr) && GetLastError() == 0;
}

// Watches the token from a thread of its own while the host's thread is in
// the library.
class PrivilegeWatch {
 public:
  PrivilegeWatch()
      : thread_([this] {
          while (!stop_) {
            long attributes = kyd::DebugPrivilegeAttributes();
            if (attributes != -1 && (attributes & SE_PRIVILEGE_ENABLED)) sawEnabled_ = true;
            Sleep(5);
          }
        }) {}
  ~PrivilegeWatch() { Stop(); }
  bool Stop() {
    stop_ = true;
    if (thread_.joinable()) thread_.join();
    return sawEnabled_;
  }

 private:
  std::atomic<bool> stop_{false}, sawEnabled_{false};
  std::thread thread_;
};

// The staged library, loaded, and its uninstall export.
struct LoadedLibrary {
  using UninstallFn = int(__stdcall*)(const wchar_t*, const wchar_t*, int);
  StagedHost host;
  kyd::UniqueModule module{LoadLibraryW(host.dll().c_str())};
  UninstallFn uninstall = module.valid() ? reinterpret_cast<UninstallFn>(reinterpret_cast<void*>(
                                               GetProcAddress(module.get(), "DrvUninst_UninstallDrv")))
                                         : nullptr;
};

TEST(FootprintVendorRoad, DebugPrivilegeIsHeldForTheDeepCleanAndPutBackEachTime) {
  LoadedLibrary library;
  auto uninstall = library.uninstall;
  ASSERT_TRUE(uninstall);

  const std::wstring hardwareId = L"PCI\\VEN_1002&DEV_67DF&SUBSYS_E3531DA2&REV_E7";
  SeededDevice device({hardwareId}, {}, kDisplayClass);
  ASSERT_TRUE(device.ok());
  // The host holds the privilege but has not switched it on.
  ASSERT_TRUE(SetDebugPrivilegeAttributes(0));
  const long before = kyd::DebugPrivilegeAttributes();
  ASSERT_NE(before, -1) << "the test token lacks SeDebugPrivilege";
  ASSERT_FALSE(before & SE_PRIVILEGE_ENABLED);

  struct Call {
    int keepDevice, result;
  };
  for (const Call& call : {Call{0, 2}, Call{1, 1}}) {
    SCOPED_TRACE(call.keepDevice ? "device kept" : "device removed");
    PrivilegeWatch watch;
    EXPECT_EQ(uninstall(hardwareId.c_str(), kDisplayClass, call.keepDevice), call.result);
    EXPECT_TRUE(watch.Stop()) << "SeDebugPrivilege was never on during the call";
    EXPECT_EQ(kyd::DebugPrivilegeAttributes(), before);
  }
  EXPECT_FALSE(DevicePresent(device.instanceId()));
}

// A road whose device removal fails (the device is not there) removed
// nothing: a file in use that its deep clean gave to the next restart does
// not make that an uninstall, and the answer stays 0.
TEST(FootprintVendorRoad, AFailedDeviceRemovalAnswersNothingThoughAFileInUseGoesAtTheRestart) {
  LoadedLibrary library;
  auto uninstall = library.uninstall;
  ASSERT_TRUE(uninstall);
  const std::wstring folder = kyd::GetSystemDriveRoot() + L"AMD", held = folder + L"\\kydroad.log";
  ASSERT_TRUE(CreateDirectoryW(folder.c_str(), nullptr) || GetLastError() == ERROR_ALREADY_EXISTS);
  kyd::UniqueFile open(CreateFileW(held.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS, 0, nullptr));
  ASSERT_TRUE(open.valid());

  EXPECT_EQ(uninstall(L"PCI\\VEN_1002&DEV_67DF&SUBSYS_E3531DA2&REV_E7", kDisplayClass, 0), 0);
  EXPECT_TRUE(kyd::machine::pending::Due(held)) << "the deep clean gave nothing to the restart";
  DWORD error = 0;
  for (const std::wstring& path : {held, folder}) kyd::machine::pending::Withdraw(path, error);
  open.reset();
  DeleteFileW(held.c_str());
  RemoveDirectoryW(folder.c_str());
}

}  // namespace
