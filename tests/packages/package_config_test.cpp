// Reading the package catalogue: which <keyword> entries a device selects,
// their time limits and window texts, and what a broken file gives.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "packages/analyse_package.h"
#include "packages/package_config.h"
#include "support/package_bench.h"

namespace {

using kyd::APP_UNSETUP_PACKAGE;
using kyd::CXml;
using kyd::DRV_APP_UNSETUP_PARAMS;
using kydtest::kDisplayClass;
using kydtest::kMediaClass;
using kydtest::pkg::LogCapture;
using kydtest::ScratchDir;

std::vector<std::wstring> Names(const std::vector<APP_UNSETUP_PACKAGE>& packages) {
  std::vector<std::wstring> names;
  for (const auto& p : packages) names.push_back(p.wsName);
  return names;
}

class PackageCatalogue : public ::testing::Test {
 protected:
  void Write(const std::string& bytes) { ASSERT_TRUE(kydtest::WriteFileBytes(path_, bytes)); }

  // The packages the catalogue selects for a vendor ID and class GUID.
  std::vector<APP_UNSETUP_PACKAGE> Select(const std::wstring& vid, const std::wstring& guid,
                                          bool* found = nullptr) const {
    DRV_APP_UNSETUP_PARAMS params{vid, guid};
    std::vector<APP_UNSETUP_PACKAGE> packages;
    bool result = xml_.ParseXml(params, packages);
    if (found) *found = result;
    EXPECT_EQ(result, !packages.empty());
    return packages;
  }

  ScratchDir dir_{L"catalogue"};
  std::wstring path_ = dir_ / L"unsetup.xml";
  CXml xml_{path_};
};

TEST_F(PackageCatalogue, VendorIdAndClassGuidMatchWithoutRegardToCase) {
  Write(R"(<?xml version="1.0" encoding="utf-8"?>
<KYD><KYDUNSETUP timeout="60">
  <company timeout="30">
    <vid id="10ec"/>
    <dev guid="{4d36e96c-e325-11ce-bfc1-08002be10318}"><keyword name="Audio Panel"/></dev>
  </company>
</KYDUNSETUP></KYD>)");
  EXPECT_EQ(Names(Select(L"10EC", kMediaClass)), std::vector<std::wstring>{L"Audio Panel"});
  bool found = true;
  EXPECT_TRUE(Select(L"10EC", kDisplayClass, &found).empty());
  EXPECT_FALSE(found);
  EXPECT_TRUE(Select(L"10E", kMediaClass).empty());
  EXPECT_TRUE(Select(L"10EC0", kMediaClass).empty());
}

TEST_F(PackageCatalogue, ElementAndAttributeNamesMatchExactly) {
  Write(R"(<KYD>
  <KYDUNSETUP>
    <Company><vid id="10EC"/><dev guid="G"><keyword name="Company"/></dev></Company>
    <company><VID id="10EC"/><dev guid="G"><keyword name="VID"/></dev></company>
    <company><vid ID="10EC"/><dev guid="G"><keyword name="ID"/></dev></company>
    <company><vids id="10EC"/><dev guid="G"><keyword name="vids"/></dev></company>
    <company>
      <vid id="10EC"/>
      <Dev guid="G"><keyword name="Dev"/></Dev>
      <dev guid="G">
        <Keyword name="Keyword"/>
        <keyword name="kept">
          <Windows><wnd beginwnd_title="Windows"/></Windows>
          <windows><WND beginwnd_title="WND"/><wnd beginwnd_title="wnd"/></windows>
        </keyword>
      </dev>
    </company>
  </KYDUNSETUP>
  <kydunsetup><company><vid id="10EC"/><dev guid="G"><keyword name="kydunsetup"/></dev></company></kydunsetup>
</KYD>)");
  auto packages = Select(L"10EC", L"G");
  ASSERT_EQ(Names(packages), std::vector<std::wstring>{L"kept"});
  ASSERT_EQ(packages[0].vWindows.size(), 1u);
  EXPECT_EQ(packages[0].vWindows[0].wsBeginWndTitle, L"wnd");

  Write(R"(<kyd><KYDUNSETUP><company><vid id="10EC"/><dev guid="G"><keyword name="x"/></dev></company></KYDUNSETUP></kyd>)");
  EXPECT_TRUE(Select(L"10EC", L"G").empty());
}

TEST_F(PackageCatalogue, VidEnablesOnlyTheDevElementsAfterIt) {
  Write(R"(<KYD>
  <KYDUNSETUP>
    <company>
      <dev guid="G"><keyword name="before vid"/></dev>
      <vid id="10DE"/>
      <vid id="10EC"/>
      <dev guid="G"><keyword name="first"/><keyword name="second"/></dev>
      <dev guid="H"><keyword name="other class"/></dev>
      <vid id="FFFF"/>
      <dev guid="G"><keyword name="after another vid"/></dev>
    </company>
    <company><vid id="8086"/><dev guid="G"><keyword name="other vendor"/></dev></company>
    <company><vid id="10EC"/><dev guid="G"><keyword name="second company"/></dev></company>
  </KYDUNSETUP>
  <KYDUNSETUP><company><vid id="10EC"/><dev guid="G"><keyword name="second catalogue"/></dev></company></KYDUNSETUP>
</KYD>)");
  EXPECT_EQ(Names(Select(L"10EC", L"G")),
            (std::vector<std::wstring>{L"first", L"second", L"after another vid", L"second company",
                                       L"second catalogue"}));
}

TEST_F(PackageCatalogue, CompanyWithoutTimeoutTakesTheLastGlobalOne) {
  Write(R"(<KYD>
  <KYDUNSETUP timeout="100">
    <company timeout="0"><vid id="10EC"/><dev guid="G"><keyword name="zero"/></dev></company>
    <company><vid id="10EC"/><dev guid="G"><keyword name="none"/></dev></company>
    <company timeout="45s"><vid id="10EC"/><dev guid="G"><keyword name="own"/></dev></company>
    <company timeout="abc"><vid id="10EC"/><dev guid="G"><keyword name="not a number"/></dev></company>
    <company timeout="-5"><vid id="10EC"/><dev guid="G"><keyword name="negative"/></dev></company>
  </KYDUNSETUP>
  <Other timeout="7"/>
  <KYDUNSETUP timeout=" 250"/>
</KYD>)");
  EXPECT_EQ(xml_.GetTimeOut(), 250);
  auto packages = Select(L"10EC", L"G");
  ASSERT_EQ(packages.size(), 5u);
  EXPECT_EQ(packages[0].nTimeOut, 250);
  EXPECT_EQ(packages[1].nTimeOut, 250);
  EXPECT_EQ(packages[2].nTimeOut, 45);
  EXPECT_EQ(packages[3].nTimeOut, 250);
  EXPECT_EQ(packages[4].nTimeOut, 250);

  // The last catalogue wins even when it names no limit.
  Write(R"(<KYD><KYDUNSETUP timeout="9"><company><vid id="1"/><dev guid="G"><keyword/></dev></company></KYDUNSETUP><KYDUNSETUP/></KYD>)");
  EXPECT_EQ(xml_.GetTimeOut(), 0);
  packages = Select(L"1", L"G");
  ASSERT_EQ(packages.size(), 1u);
  EXPECT_EQ(packages[0].nTimeOut, 0);

  Write(R"(<KYD><KYDUNSETUP timeout="99999999999"/></KYD>)");
  EXPECT_EQ(xml_.GetTimeOut(), 2147483647);
}

TEST_F(PackageCatalogue, MissingAttributesReadAsEmpty) {
  Write(R"(<KYD><KYDUNSETUP timeout="5"><company><vid id="14F1"/><dev guid="G">
  <keyword name="full" main_exec="app.exe" guid="{ABC}">
    <windows>
      <wnd beginwnd_title="T &amp; Co" beginwnd_btn="&lt;OK&gt;" completewnd_title="Done"/>
      <wnd completewnd_btn="Finish"/>
    </windows>
  </keyword>
  <keyword/>
</dev></company></KYDUNSETUP></KYD>)");
  auto packages = Select(L"14F1", L"G");
  ASSERT_EQ(packages.size(), 2u);
  const APP_UNSETUP_PACKAGE& full = packages[0];
  EXPECT_EQ(full.wsMainExec, L"app.exe");
  EXPECT_EQ(full.wsGuid, L"{ABC}");
  EXPECT_TRUE(full.wsUninstString.empty());
  EXPECT_TRUE(full.wsInstallLocation.empty());
  ASSERT_EQ(full.vWindows.size(), 2u);
  EXPECT_EQ(full.vWindows[0].wsBeginWndTitle, L"T & Co");
  EXPECT_EQ(full.vWindows[0].wsBeginWndBtn, L"<OK>");
  EXPECT_EQ(full.vWindows[0].wsCompleteWndTitle, L"Done");
  EXPECT_EQ(full.vWindows[0].wsCompleteWndBtn, L"");
  EXPECT_EQ(full.vWindows[1].wsBeginWndTitle, L"");
  EXPECT_EQ(full.vWindows[1].wsCompleteWndBtn, L"Finish");

  const APP_UNSETUP_PACKAGE& bare = packages[1];
  EXPECT_EQ(bare.wsName, L"");
  EXPECT_EQ(bare.wsMainExec, L"");
  EXPECT_EQ(bare.wsGuid, L"");
  EXPECT_TRUE(bare.vWindows.empty());
  EXPECT_EQ(bare.nTimeOut, 5);
}

TEST_F(PackageCatalogue, BrokenOrMissingFileSelectsNothing) {
  const char* broken[] = {
      // A second root element.
      R"(<KYD><KYDUNSETUP timeout="9"><company><vid id="1"/><dev guid="G"><keyword name="a"/></dev></company></KYDUNSETUP></KYD><KYD/>)",
      // An element left open.
      R"(<KYD><KYDUNSETUP timeout="9"><company><vid id="1"/><dev guid="G"><keyword name="a"></dev></company></KYDUNSETUP></KYD>)",
      "",
  };
  for (const char* text : broken) {
    Write(text);
    std::vector<APP_UNSETUP_PACKAGE> packages(1);  // cleared by the call
    EXPECT_FALSE(xml_.ParseXml({L"1", L"G"}, packages)) << text;
    EXPECT_TRUE(packages.empty());
    EXPECT_EQ(xml_.GetTimeOut(), 0) << text;
  }
  DeleteFileW(path_.c_str());
  std::vector<APP_UNSETUP_PACKAGE> packages(1);
  EXPECT_FALSE(xml_.ParseXml({L"1", L"G"}, packages));
  EXPECT_TRUE(packages.empty());
  EXPECT_EQ(xml_.GetTimeOut(), 0);
}

TEST_F(PackageCatalogue, ChineseWindowTextsFollowTheDeclaredEncoding) {
  const std::wstring restart = L"是，立即重新启动计算机。";
  Write("<?xml version=\"1.0\" encoding=\"UTF-8\"?><KYD><KYDUNSETUP><company timeout=\"1\"><vid id=\"1\"/>"
        "<dev guid=\"G\"><keyword name=\"p\"><windows><wnd completewnd_btn=\"" +
        kydtest::ToNarrow(restart) + "\"/></windows></keyword></dev></company></KYDUNSETUP></KYD>");
  auto packages = Select(L"1", L"G");
  ASSERT_EQ(packages.size(), 1u);
  ASSERT_EQ(packages[0].vWindows.size(), 1u);
  EXPECT_EQ(packages[0].vWindows[0].wsCompleteWndBtn, restart);

  // A gb2312 catalogue is read in the system's ANSI code page: the Chinese
  // text itself on Chinese Windows (code page 936). The Wine prefixes of the
  // tests run in code page 1252, where the same bytes read differently.
  const std::string gbk = "是，立即重新启动计算机。";  // GBK bytes: narrow literals are compiled so
  Write("<?xml version=\"1.0\" encoding=\"gb2312\"?><KYD><KYDUNSETUP><company timeout=\"1\"><vid id=\"1\"/>"
        "<dev guid=\"G\"><keyword name=\"p\"><windows><wnd completewnd_btn=\"" +
        gbk + "\"/></windows></keyword></dev></company></KYDUNSETUP></KYD>");
  packages = Select(L"1", L"G");
  ASSERT_EQ(packages.size(), 1u);
  ASSERT_EQ(packages[0].vWindows.size(), 1u);
  EXPECT_EQ(packages[0].vWindows[0].wsCompleteWndBtn, kydtest::ToWide(gbk, CP_ACP));
  if (GetACP() == 936) {
    EXPECT_EQ(packages[0].vWindows[0].wsCompleteWndBtn, restart);
  }
}

TEST_F(PackageCatalogue, LogsTheQueryThePathAndFailures) {
  Write(R"(<KYD><KYDUNSETUP timeout="12"><company><vid id="10EC"/><dev guid="G"><keyword name="a"/></dev></company></KYDUNSETUP></KYD>)");
  const std::string path = kydtest::ToNarrow(path_);
  {
    LogCapture log;
    Select(L"10EC", L"G");
    EXPECT_EQ(log.Summary(), (std::vector<std::string>{
                               "TRACE Xml: DRV_APP_UNSETUP_PARAMS : GUID G",
                               "TRACE Xml: DRV_APP_UNSETUP_PARAMS : VID 10EC",
                               "TRACE Xml: XML Path: " + path,
                               // The company names no limit: the global one is read.
                               "TRACE Xml: XML Path: " + path,
                               "TRACE Xml: GetTimeOut = 12s",
                           }));
  }
  {
    LogCapture log;
    Select(L"10DE", L"G");
    EXPECT_EQ(log.Summary(), (std::vector<std::string>{
                               "TRACE Xml: DRV_APP_UNSETUP_PARAMS : GUID G",
                               "TRACE Xml: DRV_APP_UNSETUP_PARAMS : VID 10DE",
                               "TRACE Xml: XML Path: " + path,
                               "TRACE Xml: vfXmlNode.size == 0",
                           }));
  }
  Write("<KYD/><KYD/>");
  {
    LogCapture log;
    Select(L"10EC", L"G");
    EXPECT_EQ(xml_.GetTimeOut(), 0);
    EXPECT_EQ(log.Summary(), (std::vector<std::string>{
                               "TRACE Xml: DRV_APP_UNSETUP_PARAMS : GUID G",
                               "TRACE Xml: DRV_APP_UNSETUP_PARAMS : VID 10EC",
                               "TRACE Xml: XML Path: " + path,
                               "ERROR Xml: XML Load Err",
                               "TRACE Xml: XML Path: " + path,
                               "ERROR Xml: XML Load Err",
                           }));
  }
}

// The catalogue lies beside the executable of the process, not beside the
// library: here the test program is the host.
TEST(PackageCatalogueLocation, IsBesideTheHostExecutable) {
  EXPECT_EQ(CXml().path(), kydtest::TestExeDir() + L"\\Kydconfig\\unsetup.xml");
  EXPECT_EQ(kyd::PackageConfigPath(), CXml().path());
}

// The catalogue shipped in dist\Kydconfig.
class SampleCatalogue : public ::testing::Test {
 protected:
  std::vector<APP_UNSETUP_PACKAGE> Select(const std::wstring& hardwareId, const std::wstring& guid) const {
    std::vector<APP_UNSETUP_PACKAGE> packages;
    xml_.ParseXml({kyd::VendorIdOf(hardwareId), guid}, packages);
    return packages;
  }
  CXml xml_{kydtest::DistDir() + L"\\Kydconfig\\unsetup.xml"};
};

TEST_F(SampleCatalogue, RealtekAudioSelectsItsPanels) {
  EXPECT_EQ(xml_.GetTimeOut(), 300);
  auto packages = Select(L"HDAUDIO\\FUNC_01&VEN_10EC&DEV_0662&SUBSYS_17AA3822&REV_1003", kMediaClass);
  ASSERT_EQ(Names(packages),
            (std::vector<std::wstring>{L"Realtek High Definition Audio Driver", L"Realtek Audio Console"}));
  const APP_UNSETUP_PACKAGE& driver = packages[0];
  EXPECT_EQ(driver.nTimeOut, 180);
  EXPECT_EQ(driver.wsMainExec, L"RtHDVCpl.exe");
  EXPECT_EQ(driver.wsGuid, L"{7E4C2A31-5B0D-4F6E-9A1C-3D8B6F20C451}");
  ASSERT_EQ(driver.vWindows.size(), 2u);
  EXPECT_EQ(driver.vWindows[0].wsBeginWndTitle, L"Realtek High Definition Audio Driver - InstallShield Wizard");
  EXPECT_EQ(driver.vWindows[0].wsBeginWndBtn, kydtest::ToWide("是(&Y)", CP_ACP));
  EXPECT_EQ(driver.vWindows[0].wsCompleteWndBtn, kydtest::ToWide("是，立即重新启动计算机。", CP_ACP));
  EXPECT_EQ(driver.vWindows[1].wsBeginWndBtn, L"&Yes");
  EXPECT_TRUE(packages[1].vWindows.empty());
  EXPECT_TRUE(packages[1].wsGuid.empty());

  EXPECT_TRUE(Select(L"HDAUDIO\\FUNC_01&VEN_10EC&DEV_0662", kDisplayClass).empty());
}

TEST_F(SampleCatalogue, OtherVendorsAndTheGlobalLimit) {
  auto nvidia = Select(L"PCI\\VEN_10DE&DEV_1C82&SUBSYS_11BF10DE&REV_A1", kDisplayClass);
  ASSERT_EQ(Names(nvidia), std::vector<std::wstring>{L"NVIDIA Control Panel"});
  EXPECT_EQ(nvidia[0].nTimeOut, 300);  // company timeout 0
  ASSERT_EQ(nvidia[0].vWindows.size(), 1u);
  EXPECT_EQ(nvidia[0].vWindows[0].wsCompleteWndTitle, kydtest::ToWide("NVIDIA 卸载程序", CP_ACP));

  // AMD lists a second vendor ID.
  auto amd = Select(L"PCI\\VEN_1022&DEV_15D8", kDisplayClass);
  ASSERT_EQ(Names(amd), std::vector<std::wstring>{L"AMD Catalyst Install Manager"});
  EXPECT_EQ(amd[0].nTimeOut, 600);

  auto conexant = Select(L"HDAUDIO\\FUNC_01&VEN_14F1&DEV_5069", kMediaClass);
  ASSERT_EQ(conexant.size(), 1u);
  EXPECT_EQ(conexant[0].wsGuid, L"CnxtHdAudPkg");
  EXPECT_EQ(conexant[0].nTimeOut, 300);  // no company timeout

  EXPECT_TRUE(Select(L"PCI\\VEN_8086&DEV_3E92", kDisplayClass).empty());
}

}  // namespace
