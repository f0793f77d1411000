#include "engine/driver_store.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <cstdio>
#include <cwchar>
#include <string>

#include "engine/base_drv_uninst.h"
#include "platform/module.h"
#include "platform/handle.h"
#include "support/device_tool_bench.h"
#include "support/staged_host.h"
#include "support/wine_bench.h"

namespace {

using kydtest::ScratchDir;

constexpr WORD kBuilds[] = {102, 103, 104, 105};

// Where each build must run: processor and oldest Windows.
struct BuildTarget {
  WORD number;
  WORD machine;
  WORD subsystemMajor, subsystemMinor;
};
constexpr BuildTarget kTargets[] = {
    {102, IMAGE_FILE_MACHINE_I386, 6, 0},
    {103, IMAGE_FILE_MACHINE_AMD64, 6, 0},
    {104, IMAGE_FILE_MACHINE_I386, 5, 1},
    {105, IMAGE_FILE_MACHINE_AMD64, 5, 2},
};

std::string ResourceBytes(HMODULE module, WORD number) {
  HRSRC resource = FindResourceExW(module, L"EXE", MAKEINTRESOURCEW(number),
                                   MAKELANGID(LANG_CHINESE, SUBLANG_CHINESE_SIMPLIFIED));
  if (!resource) return {};
  HGLOBAL loaded = LoadResource(module, resource);
  const void* data = loaded ? LockResource(loaded) : nullptr;
  if (!data) return {};
  return std::string(static_cast<const char*>(data), SizeofResource(module, resource));
}

TEST(DeviceToolResources, LibraryCarriesEachBuildForItsProcessorAndWindows) {
  kydtest::LibraryResourcesScope resources;
  ASSERT_TRUE(resources.ok());
  for (const BuildTarget& target : kTargets) {
    SCOPED_TRACE(target.number);
    std::string embedded = ResourceBytes(resources.module(), target.number);
    ASSERT_FALSE(embedded.empty()) << "no EXE resource in language 2052";
    EXPECT_EQ(embedded, kydtest::ReadFileBytes(kydtest::DeviceToolBuildFile(target.number)));
    kydtest::ImageHeader header = kydtest::ReadImageHeader(embedded);
    ASSERT_TRUE(header.ok);
    EXPECT_EQ(header.machine, target.machine);
    EXPECT_EQ(header.subsystemMajor, target.subsystemMajor);
    EXPECT_EQ(header.subsystemMinor, target.subsystemMinor);
    EXPECT_EQ(header.subsystem, IMAGE_SUBSYSTEM_WINDOWS_CUI);
  }
}

class ReleaseResTest : public ::testing::Test {
 protected:
  ScratchDir scratch_{L"release"};
  kydtest::LibraryResourcesScope resources_;
  std::wstring path_ = scratch_ / L"kyduninst.exe";
};

TEST_F(ReleaseResTest, WritesTheExactBytesOfEachBuildOverAnyOldFile) {
  ASSERT_TRUE(resources_.ok());
  ASSERT_TRUE(kydtest::WriteFileBytes(path_, std::string(400000, 'x')));  // longer than any build
  for (WORD number : kBuilds) {
    SCOPED_TRACE(number);
    ASSERT_TRUE(kyd::CBaseDrvUninst::ReleaseRes(number, path_));
    EXPECT_EQ(kydtest::ReadFileBytes(path_), kydtest::ReadFileBytes(kydtest::DeviceToolBuildFile(number)));
  }
}

TEST_F(ReleaseResTest, LockedToolCanRunButNotBeRewrittenRenamedOrDeleted) {
  ASSERT_TRUE(resources_.ok());
  kyd::UniqueFile lock;
  ASSERT_TRUE(kyd::CBaseDrvUninst::ReleaseRes(104, path_, &lock));
  ASSERT_TRUE(lock.valid());

  kyd::UniqueFile writer(CreateFileW(path_.c_str(), GENERIC_WRITE,
                                     FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                     OPEN_EXISTING, 0, nullptr));
  EXPECT_FALSE(writer.valid());
  EXPECT_FALSE(DeleteFileW(path_.c_str()));
  EXPECT_FALSE(MoveFileW(path_.c_str(), (scratch_ / L"moved.exe").c_str()));

  // The lock still lets it start: with no arguments it prints its usage (3).
  kydtest::ProcessResult run = kydtest::RunProgram(L"\"" + path_ + L"\"");
  EXPECT_TRUE(run.started);
  EXPECT_EQ(run.exitCode, 3u);

  lock.reset();
  EXPECT_TRUE(DeleteFileW(path_.c_str()));
}

TEST_F(ReleaseResTest, MissingResourceFailsAndLeavesNoFile) {
  ASSERT_TRUE(resources_.ok());
  EXPECT_FALSE(kyd::CBaseDrvUninst::ReleaseRes(106, path_));
  EXPECT_FALSE(kydtest::FileExists(path_));
}

// The tool goes into a new folder of its own inside the temp folder (where
// nobody else can put a DLL beside it), and both go when the tool does.
TEST_F(ReleaseResTest, DeviceToolLivesInAFolderOfItsOwnAndTakesItAlong) {
  ASSERT_TRUE(resources_.ok());
  const std::wstring temp = scratch_ / L"Documents and Settings";
  kydtest::TempFolderScope scope(temp);
  std::wstring first, second;
  {
    kyd::CDeviceTool tool, other;
    ASSERT_TRUE(tool.Release(kyd::kToolX86Xp) && other.Release(kyd::kToolX86Xp));
    first = tool.path();
    second = other.path();
    EXPECT_TRUE(kydtest::FileExists(first));
    EXPECT_EQ(first.substr(0, temp.size() + 1), temp + L"\\");
    EXPECT_EQ(first.substr(first.size() - 14), L"\\kyduninst.exe");
    EXPECT_GT(first.size(), temp.size() + 15 + 30);  // a folder name nobody can guess
    EXPECT_NE(first.substr(0, first.size() - 14), second.substr(0, second.size() - 14));
  }
  EXPECT_FALSE(kydtest::FileExists(first));
  EXPECT_TRUE(kydtest::FolderIsEmpty(temp));
}

TEST(DeviceToolBuildChoice, VistaAndLaterAboveClass32XpBuildsForTheRest) {
  EXPECT_EQ(kyd::DeviceToolBuildFor(0x40, false), 102);  // Vista, 32-bit
  EXPECT_EQ(kyd::DeviceToolBuildFor(0x40, true), 103);
  EXPECT_EQ(kyd::DeviceToolBuildFor(0x20, true), 105);   // Server 2003 x64
  EXPECT_EQ(kyd::DeviceToolBuildFor(0x20, false), 104);
  EXPECT_EQ(kyd::DeviceToolBuildFor(0, true), 105);      // a version the table does not know
  EXPECT_EQ(kyd::DeviceToolBuildFor(0, false), 104);
}

// The probe is kydverprobe.exe, shown the chosen Windows version.
TEST(DeviceToolBuildChoice, FollowsTheWindowsVersionAndBitness) {
  const bool windows64 = kydtest::Is64BitPrefix();
  struct Case {
    const wchar_t* version;
    bool vistaOrLater;  // class above 32 in the library's version table
  };
  const Case cases[] = {{L"winxp", false}, {L"win7", true}, {L"win81", true}, {L"win10", false}};
  for (const Case& c : cases) {
    SCOPED_TRACE(kydtest::ToNarrow(c.version));
    kydtest::ProcessResult run = kydtest::RunAsWindowsVersion(L"kydverprobe", c.version, L"");
    ASSERT_TRUE(run.started);
    unsigned long versionClass = 0;
    unsigned build = 0;
    ASSERT_EQ(std::sscanf(run.output.c_str(), "%lu %u", &versionClass, &build), 2) << run.output;
    WORD expected = c.vistaOrLater ? (windows64 ? 103 : 102) : (windows64 ? 105 : 104);
    EXPECT_EQ(build, expected) << "version class " << versionClass;
  }
}

// CleanDriverStore against oem INF files seeded in the prefix's INF folder.
class CleanDriverStoreTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(resources_.ok()); }

  // A unique device of a made-up vendor, so that parallel tests never meet.
  std::wstring DeviceKey() const {
    wchar_t key[64];
    std::swprintf(key, 64, L"PCI\\VEN_F0%02X&DEV_%04X", static_cast<unsigned>(GetCurrentProcessId() % 251),
                  static_cast<unsigned>(GetCurrentProcessId() % 65521));
    return key;
  }
  std::wstring InfText(const std::wstring& id) const {
    return L"[Version]\r\nSignature=\"$Windows NT$\"\r\n[Devices]\r\n%Dev%=Install, " + id + L"\r\n";
  }

  ScratchDir scratch_{L"store"};
  ScratchDir temp_{L"store temp"};
  kydtest::TempFolderScope tempScope_{temp_.path()};
  kydtest::LibraryResourcesScope resources_;
};

TEST_F(CleanDriverStoreTest, DeletesEveryPackageNamingTheDeviceAndKeepsTheRest) {
  const std::wstring key = DeviceKey();
  const std::wstring id = key + L"&SUBSYS_12345678&REV_01";
  kydtest::SeededInf first(kydtest::FreeOemInfName(), InfText(key));
  kydtest::SeededInf second(kydtest::FreeOemInfName(), InfText(key + L"&SUBSYS_0000AAAA"), true);
  // Only the vendor part: another device of the same maker.
  std::wstring vendorOnly = key.substr(0, key.find(L"&DEV_")) + L"&DEV_FFFF";
  kydtest::SeededInf sameVendor(kydtest::FreeOemInfName(), InfText(vendorOnly));
  // An INF that came with Windows names the device too, but is not a package.
  std::wstring inboxName = L"kydinbox" + std::to_wstring(GetCurrentProcessId()) + L".inf";
  kydtest::SeededInf inbox(inboxName, InfText(key));
  // The package the device the host keeps is installed from.
  kydtest::SeededInf inUse(kydtest::FreeOemInfName(), InfText(key));
  kydtest::SeededDevice kept({id});
  ASSERT_TRUE(kept.InstallFrom(inUse.path()));
  ASSERT_TRUE(kydtest::FileExists(first.path()) && kydtest::FileExists(second.path()));

  kydtest::LogToFile log(scratch_ / L"log.txt");
  kyd::CBaseDrvUninst engine;
  EXPECT_TRUE(engine.CleanDriverStore(id.c_str()));
  std::string text = log.Finish();

  for (const kydtest::SeededInf* inf : {&first, &second}) {
    std::string name = kydtest::ToNarrow(inf->path().substr(inf->path().rfind(L'\\') + 1));
    SCOPED_TRACE(name);
    EXPECT_FALSE(kydtest::FileExists(inf->path()));
    EXPECT_FALSE(kydtest::FileExists(inf->pnf()));
    EXPECT_EQ(kydtest::CountOf(text, "RunConsole -f dp_delete \"" + kydtest::ToNarrow(inf->path()) + "\""), 1u);
    // The tool itself deleted the package.
    EXPECT_EQ(kydtest::CountOf(text, "Driver package '" + name + "' deleted."), 1u) << text;
  }
  EXPECT_TRUE(kydtest::FileExists(sameVendor.path()));
  EXPECT_TRUE(kydtest::FileExists(sameVendor.pnf()));
  EXPECT_TRUE(kydtest::FileExists(inbox.path()));
  EXPECT_TRUE(kydtest::FileExists(inUse.path()));
  EXPECT_EQ(kydtest::CountOf(text, "dp_delete"), 2u);
  EXPECT_TRUE(kydtest::FolderIsEmpty(temp_.path()));  // tool and folder gone
}

TEST_F(CleanDriverStoreTest, WithoutAMatchTheToolIsStillWrittenAndDeleted) {
  kydtest::LogToFile log(scratch_ / L"log.txt");
  kyd::CBaseDrvUninst engine;
  std::wstring id = DeviceKey() + L"&SUBSYS_00000000";
  EXPECT_TRUE(engine.CleanDriverStore(id.c_str()));
  std::string text = log.Finish();
  EXPECT_EQ(kydtest::CountOf(text, "Run kyduninst.exe"), 1u) << text;
  EXPECT_EQ(kydtest::CountOf(text, "dp_delete"), 0u);
  EXPECT_TRUE(kydtest::FolderIsEmpty(temp_.path()));  // tool and folder gone
}

TEST_F(CleanDriverStoreTest, InfNameTheInterpreterWouldExpandRunsNothingButIsDeleted) {
  // An INF file name is text that reaches the command interpreter; one with
  // %...% in it would be expanded there, on Windows into a command of its
  // own. (Wine's cmd expands it but does not split the line at the '&' that
  // came out of the variable, so there only the tool's empty reply shows
  // that the line never ran.)
  std::wstring marker = scratch_ / L"injected.txt";
  kydtest::EnvironmentScope inject(L"KYDINJECT", L"\" & echo injected > \"" + marker + L"\" & \"");
  std::wstring name = L"oem" + std::to_wstring(GetCurrentProcessId()) + L"%KYDINJECT%.inf";
  kydtest::SeededInf inf(name, InfText(DeviceKey()));
  ASSERT_TRUE(kydtest::FileExists(inf.path()));
  kydtest::LogToFile log(scratch_ / L"log.txt");
  kyd::CBaseDrvUninst engine;
  EXPECT_TRUE(engine.CleanDriverStore(DeviceKey().c_str()));
  std::string text = log.Finish();
  size_t reply = text.find("] Reply ");
  ASSERT_NE(reply, std::string::npos) << text;
  EXPECT_TRUE(text[reply + 8] == '\r' || text[reply + 8] == '\n') << text;
  EXPECT_FALSE(kydtest::FileExists(marker));
  EXPECT_FALSE(kydtest::FileExists(inf.path()));
  EXPECT_FALSE(kydtest::FileExists(inf.pnf()));
}

TEST_F(CleanDriverStoreTest, ReleaseFailureTouchesNoInf) {
  kydtest::SeededInf inf(kydtest::FreeOemInfName(), InfText(DeviceKey()));
  HINSTANCE saved = g_moduleInstance;
  g_moduleInstance = nullptr;  // the test program holds no tool
  kyd::CBaseDrvUninst engine;
  bool cleaned = engine.CleanDriverStore(DeviceKey().c_str());
  g_moduleInstance = saved;
  EXPECT_FALSE(cleaned);
  EXPECT_TRUE(kydtest::FileExists(inf.path()));
  EXPECT_TRUE(kydtest::FolderIsEmpty(temp_.path()));  // tool and folder gone
}

}  // namespace
