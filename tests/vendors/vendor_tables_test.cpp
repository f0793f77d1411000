// The cleaners' built-in tables: sizes, repeats kept, the rows every package
// is known by, and the form of the identifiers we supply ourselves (a
// mistyped GUID or hardware ID would silently match nothing, or something
// else).
#include <gtest/gtest.h>
#include <shlwapi.h>

#include <cwctype>
#include <iterator>
#include <regex>
#include <set>
#include <string>
#include <utility>

#include "table_fingerprint.h"
#include "vendors/intel_tables.h"
#include "vendors/realtek_tables.h"

namespace {

template <size_t N>
int Occurrences(const wchar_t* const (&table)[N], const wchar_t* name) {
  int count = 0;
  for (const wchar_t* entry : table) count += StrCmpIW(entry, name) == 0;
  return count;
}

// The frame gets exactly these arrays, each whole and in its place.
void ExpectFrameTables(const kyd::VendorTables& tables, kyd::NameList services,
                       kyd::NameList files, kyd::NameList programs, kyd::NameList drivers) {
  const std::pair<kyd::NameList, kyd::NameList> slots[] = {{tables.services, services},
                                                           {tables.fileTable, files},
                                                           {tables.programs, programs},
                                                           {tables.driverTable, drivers}};
  for (const auto& [given, expected] : slots) {
    EXPECT_EQ(given.begin(), expected.begin());
    EXPECT_EQ(given.count(), expected.count());
  }
}

std::wstring Upper(std::wstring text) {
  for (wchar_t& c : text) c = static_cast<wchar_t>(std::towupper(c));
  return text;
}

TEST(VendorTables, IntelTablesKeepTheirRepeatsAndFeedTheFrame) {
  EXPECT_EQ(std::size(kyd::kIntelFileTable), 218u);
  EXPECT_EQ(Occurrences(kyd::kIntelFileTable, L"GfxUIEx.exe"), 2);
  EXPECT_EQ(Occurrences(kyd::kIntelFileTable, L"intel/opencl"), 2);
  EXPECT_EQ(Occurrences(kyd::kIntelFileTable, L"intel/media sdk"), 1);
  EXPECT_STREQ(kyd::kIntelFileTable[0], L"customModeApp.exe");
  EXPECT_STREQ(kyd::kIntelFileTable[217], L"igfxCoIn_v3621.dll");
  EXPECT_EQ(Occurrences(kyd::kIntelPrograms, L"GfxUIEx.exe"), 2);
  EXPECT_STREQ(kyd::kIntelPrograms[24], L"rundll32.exe");

  ExpectFrameTables(kyd::kIntelVendorTables, kyd::kIntelServices, kyd::kIntelFileTable,
                    kyd::kIntelPrograms, kyd::kIntelDriverTable);
}

// Every Intel table entry for entry (table_fingerprint.h).
TEST(VendorTables, IntelTablesHoldEveryEntryInOrder) {
  kydtest::ExpectTables({
      {"file table", kyd::kIntelFileTable, 218, 216, 0x291C46A4u},
      {"driver table", kyd::kIntelDriverTable, 2, 2, 0x1158084Fu},
      {"services", kyd::kIntelServices, 6, 6, 0x0481ACB0u},
      {"programs", kyd::kIntelPrograms, 25, 24, 0x4C255B0Fu},
      {"program IDs", kyd::kIntelProgIds, 12, 12, 0x2AE827C2u},
      {"interfaces", kyd::kIntelInterfaces, 10, 10, 0xBCD5E4FAu},
      {"class servers", kyd::kIntelClassServers, 13, 13, 0x8A29A4EAu},
      {"vendor subkeys", kyd::kIntelVendorSubKeys, 4, 4, 0x6A3D24E6u},
      {"startup values", kyd::kIntelStartupValues, 3, 3, 0xE01D1FB8u},
      {"context menu handlers", kyd::kIntelContextMenuHandlers, 3, 3, 0x0D00F8FAu},
  });
}

TEST(VendorTables, RealtekTablesKeepTheirRepeatsAndFeedTheFrame) {
  EXPECT_EQ(Occurrences(kyd::kRealtekProcesses, L"RtkNGUI.exe"), 2);
  EXPECT_EQ(Occurrences(kyd::kRealtekProcesses, L"ALCMTR.EXE"), 2);
  EXPECT_EQ(Occurrences(kyd::kRealtekFiles, L"RTLCPL.EXE"), 2);
  EXPECT_EQ(Occurrences(kyd::kRealtekMachineKeys,
                        L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\"
                        L"{F132AF7F-7BCA-4EDE-8A7C-958108FE7DBC}"),
            2);

  ExpectFrameTables(kyd::kRealtekVendorTables, kyd::kRealtekServices, kyd::kRealtekFiles,
                    kyd::kRealtekProcesses, kyd::kRealtekDriverFiles);
}

TEST(VendorTables, RealtekMediaCategoriesAreDistinctRegistryGuids) {
  const std::wregex guid(L"\\{[0-9A-Fa-f]{8}(-[0-9A-Fa-f]{4}){3}-[0-9A-Fa-f]{12}\\}");
  std::set<std::wstring> seen;
  for (const wchar_t* category : kyd::kRealtekMediaCategories) {
    EXPECT_TRUE(std::regex_match(category, guid)) << category;
    EXPECT_TRUE(seen.insert(Upper(category)).second) << "repeated: " << category;
  }
  EXPECT_STREQ(kyd::kRealtekMediaCategories[0], L"{0A8C1A80-42B0-11D2-95D2-00C04FB925D3}");
  EXPECT_STREQ(kyd::kRealtekMediaCategories[std::size(kyd::kRealtekMediaCategories) - 1],
               L"{94FCA009-B26E-4cdc-AC75-051613EF01BB}");
}

TEST(VendorTables, RealtekAudioControllersAreHardwareIdParts) {
  const std::wregex controller(
      L"VEN_[0-9A-F]{4}&DEV_[0-9A-F]{4}(&SUBSYS_[0-9A-F]{8})?|FUNC_01&VEN_1002&DEV_[0-9A-F]{4}");
  for (const wchar_t* id : kyd::kRealtekAudioControllers)
    EXPECT_TRUE(std::regex_match(id, controller)) << id;
  EXPECT_STREQ(kyd::kRealtekAudioControllers[0], L"VEN_8086&DEV_24C5&SUBSYS_010217AA");
  EXPECT_STREQ(kyd::kRealtekAudioControllers[std::size(kyd::kRealtekAudioControllers) - 1],
               L"FUNC_01&VEN_1002&DEV_AA19");
}

}  // namespace
