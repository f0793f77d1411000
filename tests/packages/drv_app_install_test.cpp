// DrvUninst_IsDrvAppInstall end to end: a staged host folder (drvuninst.exe
// and KYDDrvUninst.dll) reads Kydconfig\unsetup.xml from its own folder; the
// CLI's "query" exits with the export's answer.
#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "platform/handle.h"
#include "support/package_bench.h"
#include "support/staged_host.h"

namespace {

using kydtest::kDisplayClass;
using kydtest::kMediaClass;
using kydtest::pkg::SeededUninstallEntry;
using kydtest::StagedHost;
using kydtest::pkg::UniqueName;

constexpr bool kView32 = false;
constexpr bool kView64 = true;

constexpr wchar_t kRealtekAudio[] = L"HDAUDIO\\FUNC_01&VEN_10EC&DEV_0662&SUBSYS_17AA3822&REV_1003";
constexpr wchar_t kNvidiaDisplay[] = L"PCI\\VEN_10DE&DEV_1C82&SUBSYS_11BF10DE&REV_A1";

class IsDrvAppInstallHost : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { host_ = new StagedHost(); }
  static void TearDownTestSuite() {
    delete host_;
    host_ = nullptr;
  }

  static std::wstring Config() { return host_->folder() + L"\\Kydconfig\\unsetup.xml"; }

  // A catalogue with one company and one class.
  static void WriteCatalogue(const std::wstring& vid, const std::wstring& guid, const std::wstring& keywords) {
    ASSERT_TRUE(kydtest::WriteFileBytes(
        Config(), kydtest::ToNarrow(L"<?xml version=\"1.0\" encoding=\"utf-8\"?>\r\n<KYD><KYDUNSETUP timeout=\"60\">"
                                  L"<company><vid id=\"" + vid + L"\"/><dev guid=\"" + guid + L"\">" + keywords +
                                  L"</dev></company></KYDUNSETUP></KYD>\r\n")));
  }

  // The export's answer for a device, as drvuninst prints it (-1 when the
  // host did not run).
  static int Query(const std::wstring& hardwareId, const std::wstring& guid) {
    return kydtest::LibraryResult(host_->Cli(L"query \"" + hardwareId + L"\" " + guid));
  }

  static StagedHost* host_;
  std::wstring token_ = UniqueName(L"KydHost");
};

StagedHost* IsDrvAppInstallHost::host_ = nullptr;

TEST_F(IsDrvAppInstallHost, KeywordGuidMatchesAnUninstallKeyByItsBeginning) {
  const std::wstring guid = L"{2B7E90C4-" + token_ + L"}";
  WriteCatalogue(L"10EC", kMediaClass, L"<keyword name=\"Kyd Audio Manager\" guid=\"" + guid + L"\"/>");
  {
    SeededUninstallEntry entry(guid + L"_is1", kView32, {{L"DisplayName", L"Unrelated display name"}});
    ASSERT_TRUE(entry.ok());
    EXPECT_EQ(Query(kRealtekAudio, kMediaClass), 1);
  }
  EXPECT_EQ(Query(kRealtekAudio, kMediaClass), 0);
}

TEST_F(IsDrvAppInstallHost, LowerCaseHardwareIdGivesTheSameVendor) {
  SeededUninstallEntry entry(token_, kView32, {{L"DisplayName", L"Kyd Display Tool " + token_}});
  ASSERT_TRUE(entry.ok());
  WriteCatalogue(L"10de", kDisplayClass, L"<keyword name=\"DISPLAY TOOL " + token_ + L"\"/>");
  EXPECT_EQ(Query(kNvidiaDisplay, kDisplayClass), 1);
  EXPECT_EQ(Query(L"pci\\ven_10de&dev_1c82&subsys_11bf10de&rev_a1", L"{4d36e968-e325-11ce-bfc1-08002be10318}"),
            1);
  EXPECT_EQ(Query(L"PCI\\VEN_10DF&DEV_1C82", kDisplayClass), 0);
  EXPECT_EQ(Query(kNvidiaDisplay, kMediaClass), 0);
}

TEST_F(IsDrvAppInstallHost, EmptyNameWithoutGuidMatchesNothing) {
  SeededUninstallEntry entry(token_, kView32, {{L"DisplayName", L"Anything"}});
  ASSERT_TRUE(entry.ok());
  WriteCatalogue(L"10EC", kMediaClass, L"<keyword/>");
  EXPECT_EQ(Query(kRealtekAudio, kMediaClass), 0);
}

TEST_F(IsDrvAppInstallHost, MissingUnreadableOrIllFormedFileAnswersZero) {
  SeededUninstallEntry entry(token_, kView32, {{L"DisplayName", L"Kyd Panel " + token_}});
  ASSERT_TRUE(entry.ok());
  WriteCatalogue(L"10EC", kMediaClass, L"<keyword name=\"panel " + token_ + L"\"/>");
  ASSERT_EQ(Query(kRealtekAudio, kMediaClass), 1);  // the file is all that changes below
  {
    // Held open without sharing: the host cannot read it.
    kyd::UniqueFile held(CreateFileW(Config().c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr));
    ASSERT_TRUE(held);
    EXPECT_EQ(Query(kRealtekAudio, kMediaClass), 0);
  }
  const std::string good = kydtest::ReadFileBytes(Config());
  ASSERT_TRUE(kydtest::WriteFileBytes(Config(), good + "<KYD/>"));  // a second root
  EXPECT_EQ(Query(kRealtekAudio, kMediaClass), 0);
  ASSERT_TRUE(kydtest::WriteFileBytes(Config(), good.substr(0, good.size() - 8)));  // cut short
  EXPECT_EQ(Query(kRealtekAudio, kMediaClass), 0);
  ASSERT_TRUE(DeleteFileW(Config().c_str()));
  EXPECT_EQ(Query(kRealtekAudio, kMediaClass), 0);
}

TEST_F(IsDrvAppInstallHost, ShippedCatalogueFindsTheRealtekAudioDriver) {
  ASSERT_TRUE(CopyFileW((kydtest::DistDir() + L"\\Kydconfig\\unsetup.xml").c_str(), Config().c_str(), FALSE));
  EXPECT_EQ(Query(kRealtekAudio, kMediaClass), 0);
  // The audio driver's installer registers under its own product key.
  SeededUninstallEntry entry(L"{7E4C2A31-5B0D-4F6E-9A1C-3D8B6F20C451}" + token_, kView32,
                             {{L"DisplayName", L"Realtek High Definition Audio Driver"},
                              {L"UninstallString", L"RtlUpd.exe -r -m -nrg2709"}});
  ASSERT_TRUE(entry.ok());
  EXPECT_EQ(Query(kRealtekAudio, kMediaClass), 1);
  EXPECT_EQ(Query(kRealtekAudio, kDisplayClass), 0);
}

// On 64-bit Windows a package that a 64-bit installer registered (64-bit
// view only) is found by the second lookup.
class IsDrvAppInstallHostW64 : public IsDrvAppInstallHost {};

TEST_F(IsDrvAppInstallHostW64, PackageInTheSixtyFourBitViewOnlyIsFound) {
  WriteCatalogue(L"10EC", kMediaClass, L"<keyword name=\"x64 panel " + token_ + L"\"/>");
  EXPECT_EQ(Query(kRealtekAudio, kMediaClass), 0);
  SeededUninstallEntry entry(token_, kView64, {{L"DisplayName", L"Kyd x64 Panel " + token_}});
  ASSERT_TRUE(entry.ok());
  EXPECT_EQ(Query(kRealtekAudio, kMediaClass), 1);
}

}  // namespace
