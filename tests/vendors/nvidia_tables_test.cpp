// The NVIDIA cleaner's name tables, entry for entry (table_fingerprint.h).
#include "vendors/nvidia_tables.h"

#include <gtest/gtest.h>

#include "table_fingerprint.h"

namespace {

TEST(NvidiaTables, HoldEveryEntryInOrderWithRepeats) {
  using namespace kyd;
  kydtest::ExpectTables({
      {"file table", kNvFileTable, 130, 130, 0x89916351u},
      {"driver table", kNvDriverTable, 13, 12, 0x6F77E8A7u},
      {"services", kNvServices, 16, 16, 0xCADC5ED3u},
      {"programs", kNvPrograms, 31, 26, 0x1C5496DCu},
      {"program IDs", kNvProgIdFragments, 16, 16, 0xAC31DD93u},
      {"classes", kNvClassFragments, 25, 25, 0x0DE2CB0Cu},
      {"interfaces", kNvInterfaceFragments, 129, 129, 0xCCA0F8F2u},
      {"firewall rules", kNvFirewallRuleFragments, 3, 3, 0x5FC8A0BBu},
      {"user keys", kNvUserKeyFragments, 6, 6, 0x8A96E708u},
      {"machine keys", kNvMachineKeyFragments, 11, 11, 0x34BD9B8Eu},
      {"32-bit keys", kNv32BitKeyFragments, 3, 3, 0xE4DF3486u},
      {"32-bit uninstall entries", kNv32BitUninstallFragments, 15, 15, 0xE018A28Fu},
      {"uninstall entries", kNvUninstallFragments, 16, 16, 0x17F920E2u},
      {"approved extensions", kNvApprovedExtensions, 2, 2, 0xCC3064AAu},
      {"program folders", kNvProgramFolderFragments, 17, 16, 0xA7D16C50u},
      {"32-bit program folders", kNv32BitProgramFolderFragments, 10, 10, 0xBEA85DE6u},
  });
  EXPECT_STREQ(kNv3DVisionPluginId, L"@nvidia.com/3dvision");
}

}  // namespace
