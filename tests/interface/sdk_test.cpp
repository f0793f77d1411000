// The integrator's kit as an integrator uses it: a C host built against
// dist/sdk's header and each import library (gcc with the mingw-w64 one, gcc
// with the one in Microsoft's format, lld-link with that one), run beside the
// DLL in a host folder.
#include <gtest/gtest.h>

#include "platform/handle.h"
#include "support/staged_host.h"

namespace {

using kydtest::StagedHost;

TEST(IntegratorKit, CHostsCallEveryExportThroughEachImportLibrary) {
  int round = 0;
  for (const wchar_t* hostName : {L"sdkhost_gnu", L"sdkhost_mslib", L"sdkhost_lld"}) {
    SCOPED_TRACE(kydtest::ToNarrow(hostName));
    StagedHost host;
    const std::wstring program = host.folder() + L"\\" + hostName + L".exe";
    ASSERT_TRUE(CopyFileW((kydtest::TestExeDir() + L"\\" + hostName + L".exe").c_str(), program.c_str(), FALSE));
    const std::wstring hwid = L"PCI\\VEN_1B21&DEV_15" + std::to_wstring(10 + round++);
    kydtest::SeededDevice device({hwid});
    ASSERT_TRUE(device.ok());

    auto run = kydtest::RunProgram(L"\"" + program + L"\"",
                                   {L"KYD_HOST_HWID=" + hwid, L"KYD_HOST_CLASS=" + std::wstring(kydtest::kSystemClass),
                                    L"KYD_DIFX_LOG=" + host.difxLog()});
    ASSERT_TRUE(run.started);
    EXPECT_EQ(run.exitCode, 0u) << run.output;
    EXPECT_NE(run.output.find("IsDrvAppInstall=0\r\n"), std::string::npos) << run.output;
    // The arguments arrived: the device named by the host is gone.
    EXPECT_NE(run.output.find("UninstallDrv=1\r\n"), std::string::npos) << run.output;
    EXPECT_FALSE(kydtest::DevicePresent(device.instanceId()));
    EXPECT_NE(run.output.find("UninstallDrvNull=0\r\n"), std::string::npos) << run.output;

    // The plan-and-journal exports: the host finds them exactly when the
    // DLL it runs with has them.
    kyd::UniqueModule dll(LoadLibraryW(host.dll().c_str()));
    ASSERT_TRUE(dll.valid());
    for (const char* name : {"UninstallDrvEx", "Restore"}) {
      bool present = GetProcAddress(dll.get(), (std::string("DrvUninst_") + name).c_str()) != nullptr;
      EXPECT_NE(run.output.find(std::string(name) + "=" + (present ? "1" : "0") + "\r\n"), std::string::npos)
          << run.output;
    }
  }
}

}  // namespace
