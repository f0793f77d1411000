// The AMD name tables: their sizes, and chosen entries where a slip is easy
// (first and last, repeats kept, trailing backslashes and periods, mixed
// case).
#include "vendors/amd_tables.h"

#include <gtest/gtest.h>

#include <string>

#include "engine/base_drv_uninst.h"

namespace {

using kyd::NameList;

TEST(AmdTables, SizesAndChosenEntries) {
  struct Table {
    const char* name;
    NameList list;
    int count;
    std::vector<std::pair<int, const wchar_t*>> entries;
  };
  const Table tables[] = {
      {"file table", kyd::amd::kFileTable, 226,
       {{0, L"amd_opencl32.dll"}, {61, L"ati2edxx.dll"}, {62, L"ati2edxx.dll"}, {123, L"ATIODCLI.exe"},
        {201, L"coinst_"}, {225, L"SlotMaximizerBe.dll"}}},
      {"driver table", kyd::amd::kDriverTable, 18, {{0, L"amdacpksd.sys"}, {17, L"atihdwt6.sys"}}},
      {"services", kyd::amd::kServices, 23, {{17, L"AMD External Events Utility"}, {22, L"ati2mtag"}}},
      {"programs", kyd::amd::kPrograms, 15, {{0, L"MOM.exe"}, {14, L"rundll32.exe"}}},
      {"program IDs", kyd::amd::kProgIdFragments, 4, {{1, L"c4.ccccom."}, {2, L"displaypage.displaycplext."}}},
      {"interfaces", kyd::amd::kInterfaceFragments, 10, {{8, L"IDisplayCplExt"}, {9, L"ISimpleShlExt"}}},
      {"classes", kyd::amd::kClassFragments, 8, {{4, L"ati technologies\\multimedia"}, {7, L"atitmmxx.dll"}}},
      {"filter instances", kyd::amd::kInstanceFriendlyNames, 7, {{6, L"ati video"}}},
      {"class servers", kyd::amd::kClassServerFragments, 2, {{1, L"atiacmxx.dll"}}},
      {"shell extensions", kyd::amd::kApprovedShellExtensions, 2, {{0, L"catalyst context menu extension"}}},
      {"install records", kyd::amd::kInstallSubkeys, 9, {{8, L"steadyvideo"}}},
      {"32-bit install records", kyd::amd::kInstallSubkeys32, 10, {{7, L"dndtranscoding64"}}},
      {"products", kyd::amd::kProductNames, 16, {{0, L"wucccapp"}, {15, L"amd avivo"}}},
      {"shared DLLs", kyd::amd::kSharedDllFragments, 12, {{0, L"ATI\\CIM\\"}, {8, L"kbdsdk64.dll"}}},
      {"installer folders", kyd::amd::kInstallerFolderFragments, 8,
       {{2, L"AMD APP\\"}, {7, L"ATI Technologies\\Multimedia\\"}}},
      {"32-bit classes", kyd::amd::kClassNames32, 5, {{1, L"ATI Transcoder DB Enum"}, {4, L"SteadyVideoBHO"}}},
  };
  for (const Table& table : tables) {
    SCOPED_TRACE(table.name);
    ASSERT_EQ(table.list.count(), table.count);
    for (const auto& [index, text] : table.entries) EXPECT_EQ(std::wstring(table.list[index]), text) << index;
  }
}

}  // namespace
