// COM registrations seeded under HKEY_CLASSES_ROOT with IDs of their own.
#include <gtest/gtest.h>

#include <algorithm>

#include "support/engine_bench.h"
#include "support/wine_bench.h"

using namespace kydtest;

namespace {

std::string N(const std::wstring& text) { return ToNarrow(text); }

class ComCleanup : public ::testing::Test {
 protected:
  // A class with an application ID and a type library; prefix "" or
  // "Wow6432Node\\".
  struct Class {
    std::wstring id = NewGuid(), appId = NewGuid(), typeLib = NewGuid();
  };
  Class SeedClass(const std::wstring& name, const std::wstring& inProc,
                  const std::wstring& local = L"", const std::wstring& prefix = L"") {
    Class c;
    std::wstring key = keys_.Add(HKEY_CLASSES_ROOT, prefix + L"CLSID\\" + c.id);
    EXPECT_TRUE(RegSetString(HKEY_CLASSES_ROOT, key, L"", name));
    EXPECT_TRUE(RegSetString(HKEY_CLASSES_ROOT, key, L"AppID", c.appId));
    if (!inProc.empty()) {
      EXPECT_TRUE(RegSetString(HKEY_CLASSES_ROOT, key + L"\\InProcServer32", L"", inProc));
    }
    if (!local.empty()) {
      EXPECT_TRUE(RegSetString(HKEY_CLASSES_ROOT, key + L"\\LocalServer32", L"", local));
    }
    EXPECT_TRUE(RegSetString(HKEY_CLASSES_ROOT, key + L"\\TypeLib", L"", c.typeLib));
    keys_.Add(HKEY_CLASSES_ROOT, prefix + L"AppID\\" + c.appId);
    keys_.Add(HKEY_CLASSES_ROOT, prefix + L"TypeLib\\" + c.typeLib);
    EXPECT_TRUE(RegCreate(HKEY_CLASSES_ROOT, prefix + L"TypeLib\\" + c.typeLib + L"\\1.0"));
    return c;
  }
  bool Exists(const std::wstring& path) { return RegKeyExists(HKEY_CLASSES_ROOT, path, true); }

  std::wstring tag_ = UniqueName(L"Kyd");  // in every name this test seeds
  SeededKeys keys_;
  TestEngine engine_;
  LogCapture log_;
};

TEST_F(ComCleanup, ClassFoundByItsServerFileTakesAppIdAndTypeLibBeforeItself) {
  std::wstring server = tag_ + L"tmmxx.dll";
  Class byInProc = SeedClass(L"Any Name", L"C:\\Windows\\System32\\" + server);
  Class byLocal = SeedClass(L"", L"", L"\"C:\\Program Files\\Vendor\\" + tag_ + L"Svc.exe\" /automation");
  Class bystander = SeedClass(L"Other Class", L"C:\\Windows\\System32\\other.dll");
  std::wstring second = tag_ + L"svc.EXE";
  const wchar_t* const list[] = {server.c_str(), second.c_str()};

  EXPECT_TRUE(engine_.CleanClasses(list));

  for (const Class* c : {&byInProc, &byLocal}) {
    EXPECT_FALSE(Exists(L"CLSID\\" + c->id));
    EXPECT_FALSE(Exists(L"AppID\\" + c->appId));
    EXPECT_FALSE(Exists(L"TypeLib\\" + c->typeLib));
  }
  EXPECT_TRUE(Exists(L"CLSID\\" + bystander.id));
  EXPECT_TRUE(Exists(L"AppID\\" + bystander.appId));
  // The references go before the class, each logged once.
  std::vector<std::string> lines = log_.Messages();
  auto at = [&](const std::string& line) {
    return std::find(lines.begin(), lines.end(), line) - lines.begin();
  };
  auto appId = at("delete key AppID\\" + N(byInProc.appId));
  auto typeLib = at("delete key TypeLib\\" + N(byInProc.typeLib));
  auto clsid = at("delete key CLSID\\" + N(byInProc.id));
  ASSERT_LT(clsid, static_cast<long>(lines.size()));
  EXPECT_LT(appId, typeLib);
  EXPECT_LT(typeLib, clsid);
}

TEST_F(ComCleanup, FragmentMaySpanTheJointOfClassNameAndServerPath) {
  Class joined = SeedClass(tag_ + L"Joint", L"C:\\kyd\\joint.dll");
  Class apart = SeedClass(tag_ + L"JointX", L"C:\\kyd\\joint.dll");
  std::wstring fragment = tag_ + L"JointC:\\kyd";
  const wchar_t* const list[] = {fragment.c_str()};

  engine_.CleanClasses(list);

  EXPECT_FALSE(Exists(L"CLSID\\" + joined.id));
  EXPECT_TRUE(Exists(L"CLSID\\" + apart.id));
}

TEST_F(ComCleanup, ProgIdTakesItsClassAndAProgIdWithoutOneGoesAlone) {
  Class target = SeedClass(L"Control", L"C:\\kyd\\control.dll");
  std::wstring withClass = keys_.Add(HKEY_CLASSES_ROOT, tag_ + L".Control.1");
  ASSERT_TRUE(RegSetString(HKEY_CLASSES_ROOT, withClass + L"\\CLSID", L"", target.id));
  std::wstring lonely = keys_.Add(HKEY_CLASSES_ROOT, tag_ + L".Lonely");
  // A class reference that is empty or more than one key name is not followed:
  // it would name the whole CLSID key or something below another class.
  std::wstring empty = keys_.Add(HKEY_CLASSES_ROOT, tag_ + L".Empty");
  ASSERT_TRUE(RegSetString(HKEY_CLASSES_ROOT, empty + L"\\CLSID", L"", L""));
  Class other = SeedClass(L"Other", L"C:\\kyd\\other.dll");
  std::wstring nested = keys_.Add(HKEY_CLASSES_ROOT, tag_ + L".Nested");
  ASSERT_TRUE(RegSetString(HKEY_CLASSES_ROOT, nested + L"\\CLSID", L"", other.id + L"\\TypeLib"));
  std::wstring fragment = L"." + tag_ + L".";  // not in any name: a bystander check
  const wchar_t* const list[] = {fragment.c_str(), tag_.c_str()};

  EXPECT_TRUE(engine_.CleanProgIds(list));

  for (const std::wstring& progId : {withClass, lonely, empty, nested}) EXPECT_FALSE(Exists(progId));
  EXPECT_FALSE(Exists(L"CLSID\\" + target.id));
  EXPECT_FALSE(Exists(L"AppID\\" + target.appId));
  EXPECT_FALSE(Exists(L"TypeLib\\" + target.typeLib));
  EXPECT_TRUE(Exists(L"CLSID\\" + other.id + L"\\TypeLib"));
  EXPECT_TRUE(Exists(L"CLSID"));
  EXPECT_EQ(log_.Count("delete key " + N(lonely)), 1);
  EXPECT_EQ(log_.Count("delete key CLSID\\"), 0);
}

TEST_F(ComCleanup, InterfacesFoundByKeyNameOrByInterfaceName) {
  std::wstring byName = NewGuid(), byId = NewGuid(), kept = NewGuid(), typeLib = NewGuid();
  std::wstring named = keys_.Add(HKEY_CLASSES_ROOT, L"Interface\\" + byName);
  ASSERT_TRUE(RegSetString(HKEY_CLASSES_ROOT, named, L"", L"I" + tag_ + L"DisplayCplExt"));
  ASSERT_TRUE(RegSetString(HKEY_CLASSES_ROOT, named + L"\\TypeLib", L"", typeLib));
  keys_.Add(HKEY_CLASSES_ROOT, L"TypeLib\\" + typeLib);
  keys_.Add(HKEY_CLASSES_ROOT, L"Interface\\" + byId);
  keys_.Add(HKEY_CLASSES_ROOT, L"Interface\\" + kept);
  ASSERT_TRUE(RegSetString(HKEY_CLASSES_ROOT, L"Interface\\" + kept, L"", L"I" + tag_ + L"Other"));
  std::wstring interfaceName = L"i" + tag_ + L"displaycplext";
  std::wstring idPart = byId.substr(10, 14);  // the middle of the braced ID
  const wchar_t* const list[] = {interfaceName.c_str(), idPart.c_str()};

  EXPECT_TRUE(engine_.CleanInterfaces(list));

  EXPECT_FALSE(Exists(L"Interface\\" + byName));
  EXPECT_FALSE(Exists(L"TypeLib\\" + typeLib));
  EXPECT_FALSE(Exists(L"Interface\\" + byId));
  EXPECT_TRUE(Exists(L"Interface\\" + kept));
  EXPECT_EQ(log_.Count("delete key Interface\\" + N(byName)), 1);
  EXPECT_EQ(log_.Count("delete key TypeLib\\" + N(typeLib)), 1);
}

TEST_F(ComCleanup, AppIdNamedByAProgramFileGoesWithTheIdItNames) {
  std::wstring appId = NewGuid();
  std::wstring byFile = keys_.Add(HKEY_CLASSES_ROOT, L"AppID\\" + tag_ + L"Service.exe");
  ASSERT_TRUE(RegSetString(HKEY_CLASSES_ROOT, byFile, L"AppID", appId));
  keys_.Add(HKEY_CLASSES_ROOT, L"AppID\\" + appId);
  std::wstring fragment = tag_ + L"service";
  const wchar_t* const list[] = {fragment.c_str()};

  engine_.CleanClasses(list);

  EXPECT_FALSE(Exists(byFile));
  EXPECT_FALSE(Exists(L"AppID\\" + appId));
  EXPECT_TRUE(Exists(L"AppID"));
}

// The 32-bit registrations of 64-bit Windows, under Wow6432Node.
class ComCleanupW64 : public ComCleanup {
 protected:
  void SetUp() override { ASSERT_TRUE(Is64BitPrefix()); }
};

TEST_F(ComCleanupW64, ThirtyTwoBitRegistrationsOnlyWhenOnWow64AndOnlyThere) {
  std::wstring server = tag_ + L"32.dll";
  Class wow = SeedClass(L"Vendor 32", L"C:\\Windows\\SysWOW64\\" + server, L"", L"Wow6432Node\\");
  // The same class ID in the 64-bit view, with a server the list does not name.
  std::wstring twin = keys_.Add(HKEY_CLASSES_ROOT, L"CLSID\\" + wow.id);
  ASSERT_TRUE(RegSetString(HKEY_CLASSES_ROOT, twin + L"\\InProcServer32", L"", L"C:\\x\\other64.dll"));
  std::wstring iid = NewGuid();
  std::wstring iface = keys_.Add(HKEY_CLASSES_ROOT, L"Wow6432Node\\Interface\\" + iid);
  ASSERT_TRUE(RegSetString(HKEY_CLASSES_ROOT, iface, L"", L"I" + tag_ + L"Ext32"));
  std::wstring appFile = keys_.Add(HKEY_CLASSES_ROOT, L"Wow6432Node\\AppID\\" + tag_ + L"Svc32.exe");
  std::wstring interfaceName = L"I" + tag_ + L"Ext32", fileFragment = tag_ + L"svc32";
  const wchar_t* const list[] = {server.c_str(), interfaceName.c_str(), fileFragment.c_str()};

  engine_.isWow64 = FALSE;
  engine_.CleanClasses(list);
  engine_.CleanInterfaces(list);
  EXPECT_TRUE(Exists(L"Wow6432Node\\CLSID\\" + wow.id));
  EXPECT_TRUE(Exists(iface));
  // (AppID is one key for both views on Windows 7 and later, and in Wine: the
  // Wow6432Node path reaches the key the 64-bit pass sweeps, so it is not
  // looked at here.)

  engine_.isWow64 = TRUE;
  engine_.CleanClasses(list);
  engine_.CleanInterfaces(list);
  EXPECT_FALSE(Exists(L"Wow6432Node\\CLSID\\" + wow.id));
  EXPECT_FALSE(Exists(L"Wow6432Node\\AppID\\" + wow.appId));
  EXPECT_FALSE(Exists(L"Wow6432Node\\TypeLib\\" + wow.typeLib));
  EXPECT_FALSE(Exists(iface));
  EXPECT_FALSE(Exists(appFile));
  EXPECT_TRUE(Exists(twin));  // the 64-bit view is another key
  EXPECT_EQ(log_.Count("delete key Wow6432Node\\CLSID\\" + N(wow.id)), 1);
}

}  // namespace
