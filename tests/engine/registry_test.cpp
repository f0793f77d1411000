// Registry primitives and sweeps on keys seeded under HKLM\SOFTWARE.
#include <gtest/gtest.h>

#include <algorithm>

#include "engine/base_drv_uninst.h"
#include "support/engine_bench.h"
#include "support/wine_bench.h"

using kyd::CBaseDrvUninst;
using kyd::NameList;
using kyd::UniqueKey;
using namespace kydtest;

namespace {

std::string N(const std::wstring& text) { return ToNarrow(text); }

UniqueKey OpenForTest(HKEY root, const std::wstring& path) {
  UniqueKey key;
  RegOpenKeyExW(root, path.c_str(), 0, KEY_READ | KEY_WOW64_64KEY, key.put());
  return key;
}

UniqueKey RootForDelete() {
  UniqueKey key;
  RegOpenKeyExW(HKEY_LOCAL_MACHINE, nullptr, 0, KEY_ALL_ACCESS | KEY_WOW64_64KEY, key.put());
  return key;
}

// ---------------------------------------------------------------- reading

class RegistryRead : public ::testing::Test {
 protected:
  SeededKey key_{HKEY_LOCAL_MACHINE, L"SOFTWARE\\" + UniqueName(L"KydTestRead")};
  const std::wstring& path() const { return key_.path(); }
};

TEST_F(RegistryRead, ReadStringValueTakesStringsOnlyAndTheFirstOfAMultiString) {
  ASSERT_TRUE(RegSetDword(HKEY_LOCAL_MACHINE, path(), L"Number", 7));
  const wchar_t multi[] = L"first\0second\0";
  ASSERT_TRUE(RegSetBytes(HKEY_LOCAL_MACHINE, path(), L"Multi", REG_MULTI_SZ, multi, sizeof multi));
  ASSERT_TRUE(RegSetString(HKEY_LOCAL_MACHINE, path(), L"Expand", L"%SystemRoot%\\kyd.exe",
                           REG_EXPAND_SZ));
  ASSERT_TRUE(RegSetString(HKEY_LOCAL_MACHINE, path(), L"", L"default text"));
  // Stored without its terminating zero.
  ASSERT_TRUE(RegSetBytes(HKEY_LOCAL_MACHINE, path(), L"Bare", REG_SZ, L"abc", 6));

  std::wstring text = L"unchanged";
  EXPECT_FALSE(CBaseDrvUninst::ReadStringValue(HKEY_LOCAL_MACHINE, path(), L"Number", text));
  EXPECT_EQ(text, L"unchanged");
  EXPECT_FALSE(CBaseDrvUninst::ReadStringValue(HKEY_LOCAL_MACHINE, path(), L"Missing", text));
  EXPECT_FALSE(CBaseDrvUninst::ReadStringValue(HKEY_LOCAL_MACHINE, path() + L"\\Nope", L"", text));
  EXPECT_EQ(text, L"unchanged");

  ASSERT_TRUE(CBaseDrvUninst::ReadStringValue(HKEY_LOCAL_MACHINE, path(), L"Multi", text));
  EXPECT_EQ(text, L"first");
  ASSERT_TRUE(CBaseDrvUninst::ReadStringValue(HKEY_LOCAL_MACHINE, path(), L"Expand", text));
  EXPECT_EQ(text, L"%SystemRoot%\\kyd.exe");  // not expanded
  ASSERT_TRUE(CBaseDrvUninst::ReadStringValue(HKEY_LOCAL_MACHINE, path(), L"", text));
  EXPECT_EQ(text, L"default text");
  ASSERT_TRUE(CBaseDrvUninst::ReadStringValue(HKEY_LOCAL_MACHINE, path(), L"Bare", text));
  EXPECT_EQ(text, L"abc");
}

TEST_F(RegistryRead, ReadStringValueEnlargesItsBufferForLongText) {
  // 4999 characters and the terminator: 10000 bytes, more than the first
  // three buffer sizes (2048, 4096, 8192 bytes) admit.
  std::wstring longText;
  for (int i = 0; i < 4999; ++i) longText += static_cast<wchar_t>(L'a' + i % 26);
  ASSERT_TRUE(RegSetString(HKEY_LOCAL_MACHINE, path(), L"Long", longText));
  std::wstring edge(1023, L'x');  // exactly 2048 bytes with its terminator
  ASSERT_TRUE(RegSetString(HKEY_LOCAL_MACHINE, path(), L"Edge", edge));

  std::wstring text;
  ASSERT_TRUE(CBaseDrvUninst::ReadStringValue(HKEY_LOCAL_MACHINE, path(), L"Long", text));
  EXPECT_EQ(text, longText);
  ASSERT_TRUE(CBaseDrvUninst::ReadStringValue(HKEY_LOCAL_MACHINE, path(), L"Edge", text));
  EXPECT_EQ(text, edge);
}

TEST_F(RegistryRead, EnumerationAppendsNamesAndTakesLongValueNames) {
  ASSERT_TRUE(RegCreate(HKEY_LOCAL_MACHINE, key_ / L"Alpha"));
  ASSERT_TRUE(RegCreate(HKEY_LOCAL_MACHINE, key_ / L"Beta"));
  std::wstring longName(600, L'v');  // far beyond a subkey name's 255 characters
  ASSERT_TRUE(RegSetString(HKEY_LOCAL_MACHINE, path(), longName, L"x"));
  ASSERT_TRUE(RegSetDword(HKEY_LOCAL_MACHINE, path(), L"Short", 1));

  std::vector<std::wstring> names = {L"kept"};
  ASSERT_TRUE(CBaseDrvUninst::EnumSubKeys(OpenForTest(HKEY_LOCAL_MACHINE, path()), names));
  std::sort(names.begin() + 1, names.end());
  EXPECT_EQ(names, (std::vector<std::wstring>{L"kept", L"Alpha", L"Beta"}));

  std::vector<std::wstring> values;
  ASSERT_TRUE(CBaseDrvUninst::EnumValueNames(HKEY_LOCAL_MACHINE, path(), values));
  std::sort(values.begin(), values.end());
  EXPECT_EQ(values, (std::vector<std::wstring>{L"Short", longName}));

  EXPECT_FALSE(CBaseDrvUninst::EnumValueNames(HKEY_LOCAL_MACHINE, path() + L"\\Nope", values));
  EXPECT_FALSE(CBaseDrvUninst::EnumSubKeys(UniqueKey(), names));
}

TEST_F(RegistryRead, EmptinessChecks) {
  ASSERT_TRUE(RegCreate(HKEY_LOCAL_MACHINE, key_ / L"Empty"));
  ASSERT_TRUE(RegSetDword(HKEY_LOCAL_MACHINE, path(), L"Value", 1));
  EXPECT_TRUE(CBaseDrvUninst::HasNoSubKeys(OpenForTest(HKEY_LOCAL_MACHINE, key_ / L"Empty")));
  EXPECT_TRUE(CBaseDrvUninst::HasNoValues(OpenForTest(HKEY_LOCAL_MACHINE, key_ / L"Empty")));
  EXPECT_FALSE(CBaseDrvUninst::HasNoSubKeys(OpenForTest(HKEY_LOCAL_MACHINE, path())));
  EXPECT_FALSE(CBaseDrvUninst::HasNoValues(OpenForTest(HKEY_LOCAL_MACHINE, path())));
  EXPECT_FALSE(CBaseDrvUninst::HasNoSubKeys(UniqueKey()));  // cannot be queried
}

// ---------------------------------------------------------------- deleting

class RegistryDelete : public ::testing::Test {
 protected:
  SeededKey key_{HKEY_LOCAL_MACHINE, L"SOFTWARE\\" + UniqueName(L"KydTestDelete")};
  LogCapture log_;
};

TEST_F(RegistryDelete, DeleteKeyTreeRemovesATreeSeveralLevelsDeep) {
  std::wstring tree = key_ / L"Tree";
  std::wstring deep = tree;
  for (int level = 0; level < 6; ++level) {
    deep += L"\\Level" + std::to_wstring(level);
    ASSERT_TRUE(RegSetDword(HKEY_LOCAL_MACHINE, deep, L"v", level));
    ASSERT_TRUE(RegCreate(HKEY_LOCAL_MACHINE, deep + L"\\Leaf"));  // a sibling on every level
  }
  ASSERT_TRUE(RegCreate(HKEY_LOCAL_MACHINE, key_ / L"Neighbour"));

  EXPECT_TRUE(CBaseDrvUninst::DeleteKeyTree(RootForDelete().get(), tree));
  EXPECT_FALSE(RegKeyExists(HKEY_LOCAL_MACHINE, tree, true));
  EXPECT_TRUE(RegKeyExists(HKEY_LOCAL_MACHINE, key_ / L"Neighbour", true));
  EXPECT_FALSE(CBaseDrvUninst::DeleteKeyTree(RootForDelete().get(), tree));  // now missing
  EXPECT_TRUE(log_.Messages().empty());  // the tree delete itself logs nothing
  // A path with an empty part (a name read empty, joined on) would name the
  // key above it: nothing goes.
  for (const std::wstring& path : {key_.path() + L"\\", key_.path() + L"\\\\Neighbour", std::wstring()}) {
    EXPECT_FALSE(CBaseDrvUninst::DeleteKey(HKEY_LOCAL_MACHINE, path)) << ToNarrow(path);
    EXPECT_TRUE(RegKeyExists(HKEY_LOCAL_MACHINE, key_ / L"Neighbour", true));
  }
}

TEST_F(RegistryDelete, DeleteKeyLogsEveryAttemptAndReportsAMissingKey) {
  std::wstring gone = key_ / L"Gone";
  ASSERT_TRUE(RegCreate(HKEY_LOCAL_MACHINE, gone + L"\\Child"));

  EXPECT_TRUE(CBaseDrvUninst::DeleteKey(HKEY_LOCAL_MACHINE, gone));
  EXPECT_FALSE(RegKeyExists(HKEY_LOCAL_MACHINE, gone, true));
  EXPECT_FALSE(CBaseDrvUninst::DeleteKey(HKEY_LOCAL_MACHINE, gone));

  std::vector<LogCapture::Line> lines = log_.Lines();
  ASSERT_EQ(lines.size(), 2u);
  for (const LogCapture::Line& line : lines) {
    EXPECT_EQ(line.level, "INFO");
    EXPECT_EQ(line.unit, "BaseDrvUninst");
    EXPECT_EQ(line.message, "delete key " + N(gone));
  }
}

TEST_F(RegistryDelete, DeleteValueLogsAndTellsWhetherItDeleted) {
  ASSERT_TRUE(RegSetDword(HKEY_LOCAL_MACHINE, key_.path(), L"Flag", 1));
  auto open = [&] {
    UniqueKey key;
    RegOpenKeyExW(HKEY_LOCAL_MACHINE, key_.path().c_str(), 0, KEY_ALL_ACCESS | KEY_WOW64_64KEY,
                  key.put());
    return key;
  };
  EXPECT_TRUE(CBaseDrvUninst::DeleteValue(open(), L"Flag", L"shown path"));
  EXPECT_FALSE(RegValueExists(HKEY_LOCAL_MACHINE, key_.path(), L"Flag"));
  EXPECT_FALSE(CBaseDrvUninst::DeleteValue(open(), L"Flag", L"shown path"));
  EXPECT_EQ(log_.Count("delete value shown path Flag"), 2);
}

// ---------------------------------------------------------------- sweeps

class RegistrySweep : public ::testing::Test {
 protected:
  SeededKey key_{HKEY_LOCAL_MACHINE, L"SOFTWARE\\" + UniqueName(L"KydTestSweep")};
  const std::wstring& path() const { return key_.path(); }
  std::vector<std::wstring> SubKeys() const { return RegSubKeys(HKEY_LOCAL_MACHINE, path()); }
  LogCapture log_;
};

TEST_F(RegistrySweep, SubKeysByNameMatchAnywhereInAnyCaseAndActOncePerKey) {
  for (const wchar_t* name : {L"InstallShield", L"MyINSTALL", L"preinstaller", L"Other"})
    ASSERT_TRUE(RegCreate(HKEY_LOCAL_MACHINE, key_ / name + L"\\Sub"));
  // Both fragments match the first three names; only the first acts.
  const wchar_t* const fragments[] = {L"install", L"INST"};

  CBaseDrvUninst::DeleteSubKeysByName(HKEY_LOCAL_MACHINE, path(), fragments);

  EXPECT_EQ(SubKeys(), std::vector<std::wstring>{L"Other"});
  for (const wchar_t* name : {L"InstallShield", L"MyINSTALL", L"preinstaller"})
    EXPECT_EQ(log_.Count("delete key " + N(key_ / name)), 1) << N(name);
  EXPECT_EQ(log_.Messages().size(), 3u);
}

TEST_F(RegistrySweep, SubKeysByExactNameIgnoreCaseButNotPrefixes) {
  for (const wchar_t* name : {L"VENDOR", L"VendorTools", L"Other"})
    ASSERT_TRUE(RegCreate(HKEY_LOCAL_MACHINE, key_ / name));
  const wchar_t* const names[] = {L"vendor", L"Othe"};

  CBaseDrvUninst::DeleteSubKeysByExactName(path(), names);

  EXPECT_EQ(SubKeys(), (std::vector<std::wstring>{L"Other", L"VendorTools"}));
  EXPECT_EQ(log_.Messages(), std::vector<std::string>{"delete key " + N(key_ / L"VENDOR")});
}

TEST_F(RegistrySweep, SubKeysByPrefixMatchTheStartOfTheNameInAnyCase) {
  for (const wchar_t* name : {L"ATI", L"ati technologies", L"Contoso Corporation", L"Navigation", L"AT"})
    ASSERT_TRUE(RegCreate(HKEY_LOCAL_MACHINE, key_ / name + L"\\Sub"));

  CBaseDrvUninst::DeleteSubKeysByPrefix(HKEY_LOCAL_MACHINE, path(), {L"", L"ATI"});

  EXPECT_EQ(SubKeys(), (std::vector<std::wstring>{L"AT", L"Contoso Corporation", L"Navigation"}));
  EXPECT_EQ(log_.Messages().size(), 2u);
}

// Each case: the keys below the seeded key, then the path handed over and
// the top, relative to it; what is left afterwards.
TEST_F(RegistrySweep, EmptyKeysGoBottomUpAsFarAsTheTopAndNoFurther) {
  struct Case {
    const char* title;
    std::vector<std::wstring> keys;
    std::vector<std::wstring> valuesAt;  // keys that get a value
    const wchar_t *path, *top;
    std::vector<std::wstring> left;  // subkeys of the seeded key afterwards
  };
  const Case cases[] = {
      {"all empty: up to and including the top", {L"K\\OpenCL\\Vendors"}, {}, L"K\\OpenCL\\Vendors", L"K", {}},
      {"a sibling keeps the top", {L"K\\OpenCL\\Vendors", L"K\\Vulkan"}, {}, L"K\\OpenCL\\Vendors", L"K", {L"K"}},
      {"a value keeps the key", {L"K\\OpenCL\\Vendors"}, {L"K\\OpenCL\\Vendors"}, L"K\\OpenCL\\Vendors", L"K", {L"K"}},
      {"a value keeps the parent", {L"K\\OpenCL\\Vendors"}, {L"K\\OpenCL"}, L"K\\OpenCL\\Vendors", L"K", {L"K"}},
      {"the top's parent stays", {L"K\\OpenCL"}, {}, L"K\\OpenCL", L"K\\OpenCL", {L"K"}},
      {"a path outside the top deletes nothing", {L"K\\OpenCL", L"KX"}, {}, L"KX", L"K", {L"K", L"KX"}},
      {"a missing key deletes nothing", {L"K"}, {}, L"K\\Missing", L"K", {L"K"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.title);
    for (const std::wstring& child : SubKeys()) RegDeleteTreeIfPresent(HKEY_LOCAL_MACHINE, key_ / child, true);
    for (const std::wstring& key : c.keys) ASSERT_TRUE(RegCreate(HKEY_LOCAL_MACHINE, key_ / key));
    for (const std::wstring& key : c.valuesAt) ASSERT_TRUE(RegSetDword(HKEY_LOCAL_MACHINE, key_ / key, L"v", 0));

    CBaseDrvUninst::DeleteKeyIfEmptyUpTo(HKEY_LOCAL_MACHINE, key_ / c.path, key_ / c.top);

    EXPECT_EQ(SubKeys(), c.left);
  }
}

// Startup values go by their whole names; a vendor key goes once no
// product's settings are left in it, whatever values it holds.
TEST_F(RegistrySweep, WholeNamedValuesAndKeysLeftWithoutSubKeys) {
  ASSERT_TRUE(RegSetString(HKEY_LOCAL_MACHINE, path(), L"NvBackend", L"a"));
  ASSERT_TRUE(RegSetString(HKEY_LOCAL_MACHINE, path(), L"NvBackendHelper", L"b"));
  CBaseDrvUninst::DeleteWholeValues(HKEY_LOCAL_MACHINE, path(), {L"nvbackend", L"Absent"});
  CBaseDrvUninst::DeleteWholeValues(HKEY_LOCAL_MACHINE, key_ / L"Missing", {L"NvBackendHelper"});
  EXPECT_FALSE(RegValueExists(HKEY_LOCAL_MACHINE, path(), L"NvBackend"));
  EXPECT_TRUE(RegValueExists(HKEY_LOCAL_MACHINE, path(), L"NvBackendHelper"));

  ASSERT_TRUE(RegSetDword(HKEY_LOCAL_MACHINE, key_ / L"OnlyValues", L"v", 1));
  ASSERT_TRUE(RegCreate(HKEY_LOCAL_MACHINE, key_ / L"Parent\\Child"));
  for (const wchar_t* name : {L"OnlyValues", L"Parent", L"Missing"})
    CBaseDrvUninst::DeleteKeyIfNoSubKeys(HKEY_LOCAL_MACHINE, key_ / name);
  EXPECT_EQ(SubKeys(), std::vector<std::wstring>{L"Parent"});
  EXPECT_EQ(log_.Messages(), (std::vector<std::string>{"delete value " + N(path()) + " nvbackend",
                                                       "delete value " + N(path()) + " Absent",
                                                       "delete key " + N(key_ / L"OnlyValues")}));
}

TEST_F(RegistrySweep, ValuesByNameAndByData) {
  ASSERT_TRUE(RegSetString(HKEY_LOCAL_MACHINE, path(), L"RtkAudio", L"a"));
  ASSERT_TRUE(RegSetString(HKEY_LOCAL_MACHINE, path(), L"myrtkaudioservice", L"b"));
  ASSERT_TRUE(RegSetString(HKEY_LOCAL_MACHINE, path(), L"Tray", L"C:\\Program Files\\Realtek\\RTKNGUI64.EXE -s"));
  ASSERT_TRUE(RegSetString(HKEY_LOCAL_MACHINE, path(), L"Keep", L"C:\\tools\\other.exe"));
  ASSERT_TRUE(RegSetDword(HKEY_LOCAL_MACHINE, path(), L"Count", 3));
  const wchar_t* const byName[] = {L"RTKAUDIO"};
  const wchar_t* const byData[] = {L"nothing", L"rtkngui64.exe"};

  CBaseDrvUninst::DeleteValuesByName(path(), byName);
  EXPECT_FALSE(RegValueExists(HKEY_LOCAL_MACHINE, path(), L"RtkAudio"));
  EXPECT_FALSE(RegValueExists(HKEY_LOCAL_MACHINE, path(), L"myrtkaudioservice"));
  EXPECT_TRUE(RegValueExists(HKEY_LOCAL_MACHINE, path(), L"Tray"));

  CBaseDrvUninst::DeleteValuesByData(path(), byData);
  EXPECT_FALSE(RegValueExists(HKEY_LOCAL_MACHINE, path(), L"Tray"));
  EXPECT_TRUE(RegValueExists(HKEY_LOCAL_MACHINE, path(), L"Keep"));
  EXPECT_TRUE(RegValueExists(HKEY_LOCAL_MACHINE, path(), L"Count"));

  EXPECT_EQ(log_.Count("delete value " + N(path()) + " RtkAudio"), 1);
  EXPECT_EQ(log_.Count("delete value " + N(path()) + " myrtkaudioservice"), 1);
  EXPECT_EQ(log_.Count("delete value " + N(path()) + " Tray"), 1);
  EXPECT_EQ(log_.Messages().size(), 3u);
}

TEST_F(RegistrySweep, SubKeysByValueNameLookAtNamesNotData) {
  const std::wstring product = L"4C1F3B2A9D8E7F605A4B3C2D1E0F9A8B";
  ASSERT_TRUE(RegSetString(HKEY_LOCAL_MACHINE, key_ / L"ByName", product, L""));
  ASSERT_TRUE(RegSetString(HKEY_LOCAL_MACHINE, key_ / L"ByName", L"other", L"x"));
  ASSERT_TRUE(RegSetString(HKEY_LOCAL_MACHINE, key_ / L"InDataOnly", L"ref", product));
  ASSERT_TRUE(RegCreate(HKEY_LOCAL_MACHINE, key_ / L"NoValues"));

  CBaseDrvUninst::DeleteSubKeysByValueName(path(), HKEY_LOCAL_MACHINE, L"4c1f3b2a9d8e7f60");

  EXPECT_EQ(SubKeys(), (std::vector<std::wstring>{L"InDataOnly", L"NoValues"}));
  EXPECT_EQ(log_.Messages(), std::vector<std::string>{"delete key " + N(key_ / L"ByName")});
}

TEST_F(RegistrySweep, SubKeysByValueDataReadTheNamedStringValue) {
  ASSERT_TRUE(RegSetString(HKEY_LOCAL_MACHINE, key_ / L"A", L"DisplayName", L"NVIDIA Control Panel"));
  ASSERT_TRUE(RegSetString(HKEY_LOCAL_MACHINE, key_ / L"B", L"DisplayName", L"Realtek HD Audio"));
  ASSERT_TRUE(RegSetString(HKEY_LOCAL_MACHINE, key_ / L"C", L"Publisher", L"NVIDIA Corporation"));
  ASSERT_TRUE(RegSetDword(HKEY_LOCAL_MACHINE, key_ / L"D", L"DisplayName", 5));
  ASSERT_TRUE(RegSetString(HKEY_LOCAL_MACHINE, key_ / L"E", L"DisplayName", L"Other"));
  const wchar_t* const fragments[] = {L"nvidia", L"REALTEK"};

  CBaseDrvUninst::DeleteSubKeysByValueData(fragments, HKEY_LOCAL_MACHINE, path(), L"DisplayName");

  EXPECT_EQ(SubKeys(), (std::vector<std::wstring>{L"C", L"D", L"E"}));
  EXPECT_EQ(log_.Messages().size(), 2u);
}

TEST_F(RegistrySweep, MissingKeysAndEmptyListsDeleteNothing) {
  ASSERT_TRUE(RegSetString(HKEY_LOCAL_MACHINE, key_ / L"A", L"DisplayName", L"x"));
  const wchar_t* const any[] = {L"A", L"x", L"DisplayName"};
  std::wstring missing = key_ / L"Missing";
  CBaseDrvUninst::DeleteSubKeysByName(HKEY_LOCAL_MACHINE, missing, any);
  CBaseDrvUninst::DeleteSubKeysByExactName(missing, any);
  CBaseDrvUninst::DeleteValuesByName(missing, any);
  CBaseDrvUninst::DeleteValuesByData(missing, any);
  CBaseDrvUninst::DeleteSubKeysByValueName(missing, HKEY_LOCAL_MACHINE, L"x");
  CBaseDrvUninst::DeleteSubKeysByValueData(any, HKEY_LOCAL_MACHINE, missing, L"DisplayName");

  CBaseDrvUninst::DeleteSubKeysByName(HKEY_LOCAL_MACHINE, path(), NameList());
  CBaseDrvUninst::DeleteSubKeysByValueData(NameList(), HKEY_LOCAL_MACHINE, path(), L"DisplayName");
  CBaseDrvUninst::DeleteSubKeysByValueName(path(), HKEY_LOCAL_MACHINE, nullptr);

  EXPECT_EQ(SubKeys(), std::vector<std::wstring>{L"A"});
  EXPECT_TRUE(log_.Messages().empty());
}

// ---------------------------------------------------------------- registry views

// On 64-bit Windows every path is taken in the 64-bit view; the 32-bit twin
// under Wow6432Node is reached only by naming it.
class RegistryViewW64 : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(Is64BitPrefix()); }
  std::wstring name_ = UniqueName(L"KydTestView");
  SeededKey native_{HKEY_LOCAL_MACHINE, L"SOFTWARE\\" + name_};
  SeededKey wow_{HKEY_LOCAL_MACHINE, L"SOFTWARE\\Wow6432Node\\" + name_};
  LogCapture log_;
};

TEST_F(RegistryViewW64, SweepsReadsAndDeletesTouchTheNamedViewOnly) {
  for (const SeededKey* key : {&native_, &wow_}) {
    ASSERT_TRUE(RegCreate(HKEY_LOCAL_MACHINE, *key / L"VendorApp"));
    ASSERT_TRUE(RegSetString(HKEY_LOCAL_MACHINE, key->path(), L"VendorValue",
                             key == &native_ ? L"64-bit" : L"32-bit"));
  }
  // The two keys are distinct in the registry, or the test proves nothing.
  ASSERT_TRUE(RegSetString(HKEY_LOCAL_MACHINE, native_.path(), L"Only64", L"x"));
  ASSERT_FALSE(RegValueExists(HKEY_LOCAL_MACHINE, wow_.path(), L"Only64"));

  std::wstring text;
  ASSERT_TRUE(CBaseDrvUninst::ReadStringValue(HKEY_LOCAL_MACHINE, native_.path(), L"VendorValue", text));
  EXPECT_EQ(text, L"64-bit");
  ASSERT_TRUE(CBaseDrvUninst::ReadStringValue(HKEY_LOCAL_MACHINE, wow_.path(), L"VendorValue", text));
  EXPECT_EQ(text, L"32-bit");

  const wchar_t* const vendor[] = {L"vendor"};
  CBaseDrvUninst::DeleteSubKeysByName(HKEY_LOCAL_MACHINE, native_.path(), vendor);
  CBaseDrvUninst::DeleteValuesByName(native_.path(), vendor);
  EXPECT_FALSE(RegKeyExists(HKEY_LOCAL_MACHINE, native_ / L"VendorApp", true));
  EXPECT_FALSE(RegValueExists(HKEY_LOCAL_MACHINE, native_.path(), L"VendorValue"));
  EXPECT_TRUE(RegKeyExists(HKEY_LOCAL_MACHINE, wow_ / L"VendorApp", true));
  EXPECT_TRUE(RegValueExists(HKEY_LOCAL_MACHINE, wow_.path(), L"VendorValue"));

  CBaseDrvUninst::DeleteSubKeysByName(HKEY_LOCAL_MACHINE, wow_.path(), vendor);
  CBaseDrvUninst::DeleteValuesByName(wow_.path(), vendor);
  EXPECT_FALSE(RegKeyExists(HKEY_LOCAL_MACHINE, wow_ / L"VendorApp", true));
  EXPECT_FALSE(RegValueExists(HKEY_LOCAL_MACHINE, wow_.path(), L"VendorValue"));
}

TEST_F(RegistryViewW64, DeleteKeyRemovesTheSixtyFourBitKeyAndLeavesItsTwin) {
  ASSERT_TRUE(RegCreate(HKEY_LOCAL_MACHINE, native_ / L"Tree\\Deeper"));
  ASSERT_TRUE(RegCreate(HKEY_LOCAL_MACHINE, wow_ / L"Tree\\Deeper"));

  EXPECT_TRUE(CBaseDrvUninst::DeleteKey(HKEY_LOCAL_MACHINE, native_ / L"Tree"));

  EXPECT_FALSE(RegKeyExists(HKEY_LOCAL_MACHINE, native_ / L"Tree", true));
  EXPECT_TRUE(RegKeyExists(HKEY_LOCAL_MACHINE, wow_ / L"Tree\\Deeper", true));
}

}  // namespace
