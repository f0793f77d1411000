// What the removal road deletes besides the driver package itself. Wine
// cannot name a device's installed INF (it builds no class driver list), so
// the decision is driven here with the INF paths Windows would report and
// the DIFx double answering for the package's folder.
#include <gtest/gtest.h>

#include "platform/env.h"
#include "removal/difx.h"
#include "removal/driver_removal.h"
#include "support/device_tool_bench.h"
#include "support/wine_bench.h"

namespace {

TEST(PackageFiles, OnlyAPublishedInfAndAFolderInsideTheDriverStoreGo) {
  const std::wstring system = kyd::GetSystemDir();
  kydtest::ScratchDir dir(L"package");
  kydtest::EnvironmentScope log(L"KYD_DIFX_LOG", dir / L"difx.log");
  kyd::DifxApi difx(kydtest::Ship32Dir() + L"\\difxapi.dll");
  ASSERT_TRUE(difx.loaded());

  // An INF that came with Windows: neither it nor its package is touched,
  // and DIFx is not even asked where the package lies.
  kyd::PackageFiles inbox = kyd::FindPackageFiles(difx, L"C:\\windows\\inf\\machine.inf");
  EXPECT_FALSE(inbox.oemInf);
  EXPECT_TRUE(inbox.folder.empty());
  EXPECT_TRUE(kydtest::ReadFileBytes(dir / L"difx.log").empty());

  struct Case {
    std::wstring store;  // the folder DIFx names for the package
    bool deleted;
  } cases[] = {
      {system + L"\\DriverStore\\FileRepository\\kyd.inf_x86_1f2e", true},
      {system + L"\\driverstore\\FILEREPOSITORY\\kyd.inf_x86_1f2e", true},
      {system + L"\\DRVSTORE\\kyd_1f2e", true},  // DIFx on Windows XP
      {system + L"\\DriverStore\\FileRepository", false},  // the store itself
      {system + L"\\DriverStore\\FileRepository\\..\\..\\drivers", false},
      {system + L"\\DriverStore\\FileRepository\\.. \\drivers", false},  // ".. " is ".."
      {system + L"\\DriverStore\\FileRepositoryX\\kyd", false},
      {dir / L"kyd.inf_x86_1f2e", false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(kydtest::ToNarrow(c.store));
    kydtest::EnvironmentScope store(L"KYD_DIFX_STORE", c.store);
    kyd::PackageFiles oem = kyd::FindPackageFiles(difx, L"C:\\windows\\inf\\oem12.inf");
    EXPECT_TRUE(oem.oemInf);
    EXPECT_EQ(oem.folder, c.deleted ? c.store : L"");
  }
}

}  // namespace
