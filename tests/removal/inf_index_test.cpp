#include <gtest/gtest.h>

#include <algorithm>
#include <memory>

#include "machine/machine.h"
#include "removal/inf_index.h"
#include "removal/leftover_inf.h"
#include "support/wine_bench.h"

namespace {

using kydtest::FileExists;
using kydtest::FreeOemInfName;
using kydtest::SeededInf;

struct Seed {
  const wchar_t* ids;
  bool utf16;
};
// The INF folder of this case: one INF per line.
const Seed kSeeds[] = {
    {L"pci\\ven_8086&DEV_0166&SUBSYS_00000000", false},  // 0
    {L"PCI\\VEN_8086&DEV_0166", true},                   // 1
    {L"PCI\\VEN_8086&DEV_0167", false},                  // 2
    {L"USB\\ROOT_HUB30, usb\\root_hub", false},          // 3
    {L"USB\\ROOT_HUB30", true},                          // 4
    {L"SWC\\VID_1A2B&CID_0001", false},                  // 5
    {L"SWC\\VID_1A2B&CID_00010", true},                  // 6
};
struct Search {
  const wchar_t* key;
  std::vector<int> found;  // the seeds, by index
};
const Search kSearches[] = {
    {L"PCI\\VEN_8086&DEV_0166", {0, 1}},    {L"PCI\\VEN_8086&DEV_0167", {2}}, {L"USB\\ROOT_HUB", {3}},
    {L"USB\\ROOT_HUB30", {3, 4}},           {L"SWC\\VID_1A2B&CID_0001", {5}}, {L"SWC\\VID_1A2B&CID_00010", {6}},
    {L"PCI\\VEN_8086&DEV_016", {}},
};

std::vector<int> Found(const std::vector<std::unique_ptr<SeededInf>>& infs, const std::wstring& key) {
  std::vector<int> found;
  for (const std::wstring& path : kyd::OemInfsNaming(key))
    for (size_t i = 0; i < infs.size(); ++i)
      if (_wcsicmp(path.c_str(), infs[i]->path().c_str()) == 0) found.push_back(static_cast<int>(i));
  std::sort(found.begin(), found.end());
  return found;
}

// Within a call every search, for any key, is answered from one pass over
// the folder, as a pass of its own answers it; an INF the call removes (or
// a plan plans away) is not found again.
TEST(InfIndex, OnePassAnswersEverySearchOfTheCall) {
  std::vector<std::unique_ptr<SeededInf>> infs;
  for (const Seed& seed : kSeeds)
    infs.push_back(std::make_unique<SeededInf>(FreeOemInfName(), L"[Models]\r\n\"x\"=i, " + std::wstring(seed.ids) +
                                                                     L"\r\n", seed.utf16));
  for (const Search& search : kSearches)
    EXPECT_EQ(Found(infs, search.key), search.found) << "alone: " << kydtest::ToNarrow(search.key);

  const long before = kyd::InfFolderPasses();
  {
    kyd::InfIndexCall call;
    for (const Search& search : kSearches) {
      EXPECT_EQ(Found(infs, search.key), search.found) << "in a call: " << kydtest::ToNarrow(search.key);
      // What the 64-bit run answers the library is the same search.
      std::vector<std::wstring> answered;
      EXPECT_TRUE(kyd::ReadInfsNamingAnswer(kyd::InfsNamingAnswer(search.key), answered));
      EXPECT_EQ(answered, kyd::OemInfsNaming(search.key)) << "answered: " << kydtest::ToNarrow(search.key);
    }
    kyd::DeleteLeftoverInfHere(L"PCI\\VEN_8086&DEV_0167&SUBSYS_1");
    EXPECT_FALSE(FileExists(infs[2]->path()));
    EXPECT_EQ(Found(infs, L"PCI\\VEN_8086&DEV_0167"), std::vector<int>{});
    {
      kydtest::ScratchDir folder(L"inf-index-plan");
      kyd::machine::Session plan(kyd::machine::Mode::kPlan, folder.path());
      ASSERT_TRUE(plan.ok());
      kyd::machine::RemoveInfAndPnf(infs[5]->path());
      EXPECT_EQ(Found(infs, L"SWC\\VID_1A2B&CID_0001"), std::vector<int>{}) << "planned away";
    }
    EXPECT_EQ(Found(infs, L"SWC\\VID_1A2B&CID_0001"), std::vector<int>{5}) << "after the plan";
    EXPECT_EQ(kyd::InfFolderPasses() - before, 1);
  }
  // The next call reads the folder afresh.
  {
    kyd::InfIndexCall call;
    EXPECT_EQ(Found(infs, L"USB\\ROOT_HUB"), std::vector<int>{3});
    EXPECT_EQ(kyd::InfFolderPasses() - before, 2);
  }
}

// Only a whole answer is taken: one cut short, or a program that does not
// know the command (an older one, or one that answers anything with an exit
// code), leaves the search to the library rather than finding nothing.
TEST(InfIndex, OnlyAWholeAnswerOfTheRunIsTaken) {
  struct Row {
    std::vector<std::wstring> lines;
    bool taken;
    std::vector<std::wstring> paths;
  } rows[] = {
      {{L"kyd-inf C:\\W\\INF\\oem1.inf", L"kyd-inf C:\\W\\INF\\oem7.inf", L"kyd-infs 2"},
       true, {L"C:\\W\\INF\\oem1.inf", L"C:\\W\\INF\\oem7.inf"}},
      {{L"drv64.exe kydinfs PCI\\VEN_1", L"kyd-infs 0"}, true, {}},
      {{}, false, {}},
      {{L"kyd-inf C:\\W\\INF\\oem1.inf"}, false, {}},
      {{L"kyd-inf C:\\W\\INF\\oem1.inf", L"kyd-infs 2"}, false, {}},
      {{L"kyd-inf ", L"kyd-infs 1"}, false, {}},
      {{L"kyd-infs x"}, false, {}},
  };
  for (const Row& row : rows) {
    std::vector<std::wstring> paths{L"untouched"};
    EXPECT_EQ(kyd::ReadInfsNamingAnswer(row.lines, paths), row.taken) << row.lines.size() << " lines";
    if (row.taken) EXPECT_EQ(paths, row.paths);
    else EXPECT_EQ(paths, std::vector<std::wstring>{L"untouched"});
  }
}

}  // namespace
