// Device removal of the display and media layers, end to end: the embedded
// tool is released from the shipped library's resources into a temp folder
// whose path holds blanks, run through the command interpreter, and deleted.
#include "vendors/class_layers.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <cwctype>
#include <string>
#include <vector>

#include "platform/module.h"
#include "machine/dir_tree.h"
#include "support/device_tool_bench.h"
#include "support/wine_bench.h"

namespace {

using kydtest::SeededDevice;
using kydtest::ScratchDir;

std::wstring UniqueId(const wchar_t* tag) {
  static int counter = 0;
  return L"KYDTEST\\VEN_F00D&DEV_" + std::to_wstring(GetCurrentProcessId()) + L"_" + tag +
         std::to_wstring(counter++);
}

std::wstring Lower(std::wstring text) {
  for (wchar_t& c : text) c = static_cast<wchar_t>(std::towlower(c));
  return text;
}

class RemoveThroughToolTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(resources_.ok()); }

  // The tool and the folder it was written to are gone again.
  bool TempFolderEmpty() const { return kydtest::FolderIsEmpty(temp_.path()); }

  ScratchDir scratch_{L"layers"};
  // Windows XP keeps temp folders under "Documents and Settings".
  ScratchDir temp_{L"Documents and Settings"};
  kydtest::TempFolderScope tempScope_{temp_.path()};
  kydtest::LibraryResourcesScope resources_;
};

TEST_F(RemoveThroughToolTest, RemoveDisplayRemovesTheListedDeviceAndDeletesTheTool) {
  std::wstring id = UniqueId(L"DISPLAY");
  SeededDevice device({id}, {}, kydtest::kDisplayClass);
  ASSERT_TRUE(device.ok());
  kydtest::LogToFile log(scratch_ / L"log.txt");
  kyd::CDisplayDrvUninst cleaner;
  EXPECT_EQ(cleaner.RemoveDisplay(Lower(id).c_str()), 2);  // the listing is searched in any case
  std::string text = log.Finish();
  EXPECT_TRUE(kydtest::PresentDevicesWithId(id).empty());
  EXPECT_TRUE(TempFolderEmpty());
  EXPECT_EQ(kydtest::CountOf(text, "(DisplayDrvUninst:"), 4u) << text;
  EXPECT_EQ(kydtest::CountOf(text, "] RemoveDisplay (" + kydtest::ToNarrow(Lower(id)) + ")"), 1u);
  EXPECT_EQ(kydtest::CountOf(text, "] RunConsole findall =display Reply:"), 1u);
  EXPECT_EQ(kydtest::CountOf(text, "] RunConsole remove =display \"" + kydtest::ToNarrow(Lower(id)) + "\""), 1u);
  EXPECT_EQ(kydtest::CountOf(text, "] Reply "), 1u);
}

TEST_F(RemoveThroughToolTest, RemoveMediaRemovesOnlyTheMediaDevice) {
  std::wstring id = UniqueId(L"MEDIA");
  SeededDevice media({id}, {}, kydtest::kMediaClass);
  SeededDevice display({id}, {}, kydtest::kDisplayClass);
  ASSERT_TRUE(media.ok() && display.ok());
  kyd::CMediaDrvUninst cleaner;
  EXPECT_EQ(cleaner.RemoveMedia(id.c_str()), 2);
  EXPECT_EQ(kydtest::PresentDevicesWithId(id), std::vector<std::wstring>{display.instanceId()});
  EXPECT_TRUE(TempFolderEmpty());
}

TEST_F(RemoveThroughToolTest, HardwareIdAbsentFromTheListingGivesZeroAndDeletesTheTool) {
  std::wstring id = UniqueId(L"ABSENT");
  SeededDevice media({id}, {}, kydtest::kMediaClass);  // another class is not listed
  ASSERT_TRUE(media.ok());
  kydtest::LogToFile log(scratch_ / L"log.txt");
  kyd::CDisplayDrvUninst cleaner;
  EXPECT_EQ(cleaner.RemoveDisplay(id.c_str()), 0);
  std::string text = log.Finish();
  EXPECT_EQ(kydtest::CountOf(text, "] RunConsole findall =display Reply:"), 1u) << text;
  EXPECT_EQ(kydtest::CountOf(text, "remove =display"), 0u);
  EXPECT_TRUE(TempFolderEmpty());
  EXPECT_EQ(kydtest::PresentDevicesWithId(id).size(), 1u);
}

TEST_F(RemoveThroughToolTest, ListedIdThatNoDeviceCarriesGivesZero) {
  // Listed as part of a longer hardware ID, so the removal runs, but the tool
  // matches whole IDs and removes nothing.
  std::wstring id = UniqueId(L"LONGER");
  SeededDevice device({id + L"&REV_01"}, {}, kydtest::kDisplayClass);
  ASSERT_TRUE(device.ok());
  kyd::CDisplayDrvUninst cleaner;
  EXPECT_EQ(cleaner.RemoveDisplay(id.c_str()), 0);
  EXPECT_EQ(kydtest::PresentDevicesWithId(id + L"&REV_01").size(), 1u);
  EXPECT_TRUE(TempFolderEmpty());
}

// The tool runs with the host's rights; the temp folder is open to the
// user's other programs. DLLs planted there under the names of the DLLs the
// tool loads (msvcrt imported, setupapi loaded at run time) must not be
// loaded. Wine would take its own builtin DLLs anyway, so the tool is told to
// prefer native ones, as Windows does for a name it does not protect.
// (kernel32 is not planted: Wine cannot start a program with another one.)
TEST_F(RemoveThroughToolTest, DllsPlantedInTheTempFolderAreNotLoaded) {
  std::wstring id = UniqueId(L"PLANTED");
  SeededDevice device({id}, {}, kydtest::kDisplayClass);
  ASSERT_TRUE(device.ok());
  const std::wstring planted =
      (kydtest::Is64BitPrefix() ? kydtest::Ship64Dir() : kydtest::Ship32Dir()) + L"\\kydplanted.dll";
  const std::vector<std::wstring> names = {L"msvcrt", L"setupapi"};
  kydtest::NativeDllsFirst nativeFirst(L"kyduninst.exe", names);
  for (const std::wstring& name : names)
    ASSERT_TRUE(CopyFileW(planted.c_str(), (temp_ / name + L".dll").c_str(), FALSE));
  kyd::CDisplayDrvUninst cleaner;
  EXPECT_EQ(cleaner.RemoveDisplay(id.c_str()), 2);
  EXPECT_TRUE(kydtest::PresentDevicesWithId(id).empty());
  for (const std::wstring& name : names) {
    EXPECT_FALSE(kydtest::FileExists(temp_ / name + L".dll.loaded")) << kydtest::ToNarrow(name);
    DeleteFileW((temp_ / name + L".dll").c_str());
    DeleteFileW((temp_ / name + L".dll.loaded").c_str());
  }
  EXPECT_TRUE(TempFolderEmpty());
}

// A hardware ID is text from the host that goes between double quotes on a
// command interpreter line run with administrator rights. A device whose ID
// is listed with a quote or a %variable% in it must not get it there.
// Wine's cmd expands %KYDINJECT% but, unlike Windows' cmd, does not then
// split the line at the '&' that came out of the variable; the log shows
// that neither line ever reached the interpreter.
TEST_F(RemoveThroughToolTest, HardwareIdThatWouldBreakOutOfItsQuotesRunsNothing) {
  std::wstring marker = scratch_ / L"injected.txt";
  kydtest::EnvironmentScope inject(L"KYDINJECT", L"\" & echo injected > \"" + marker + L"\" & \"");
  const std::wstring ids[] = {
      UniqueId(L"QUOTE") + L"\" & echo injected > \"" + marker + L"\" & \"",
      UniqueId(L"PERCENT") + L"%KYDINJECT%",
  };
  for (const std::wstring& id : ids) {
    SCOPED_TRACE(kydtest::ToNarrow(id));
    SeededDevice device({id}, {}, kydtest::kDisplayClass);
    ASSERT_TRUE(device.ok());
    kydtest::LogToFile log(scratch_ / L"log.txt");
    kyd::CDisplayDrvUninst cleaner;
    EXPECT_EQ(cleaner.RemoveDisplay(id.c_str()), 0);
    std::string text = log.Finish();
    EXPECT_FALSE(kydtest::FileExists(marker));
    EXPECT_EQ(kydtest::CountOf(text, "RunConsole"), 0u) << text;
    EXPECT_EQ(kydtest::PresentDevicesWithId(id).size(), 1u);
    EXPECT_TRUE(TempFolderEmpty());  // the tool was never even written
    DeleteFileW(marker.c_str());
  }
}

TEST_F(RemoveThroughToolTest, EmptyOrMissingHardwareIdRunsNothing) {
  SeededDevice device({UniqueId(L"EMPTY")}, {}, kydtest::kDisplayClass);
  ASSERT_TRUE(device.ok());
  kyd::CDisplayDrvUninst display;
  kyd::CMediaDrvUninst media;
  // An empty ID is in every listing and begins every instance ID.
  EXPECT_EQ(display.RemoveDisplay(L""), 0);
  EXPECT_EQ(display.RemoveDisplay(nullptr), 0);
  EXPECT_EQ(media.RemoveMedia(L""), 0);
  EXPECT_TRUE(kydtest::DevicePresent(device.instanceId()));
  EXPECT_TRUE(TempFolderEmpty());
}

TEST_F(RemoveThroughToolTest, ToolThatCannotBeReleasedGivesZero) {
  std::wstring id = UniqueId(L"NORES");
  SeededDevice device({id}, {}, kydtest::kDisplayClass);
  ASSERT_TRUE(device.ok());
  HINSTANCE saved = g_moduleInstance;
  g_moduleInstance = nullptr;  // the test program carries no tool
  kyd::CDisplayDrvUninst cleaner;
  int result = cleaner.RemoveDisplay(id.c_str());
  g_moduleInstance = saved;
  EXPECT_EQ(result, 0);
  EXPECT_EQ(kydtest::PresentDevicesWithId(id).size(), 1u);
  EXPECT_TRUE(TempFolderEmpty());
}

}  // namespace
