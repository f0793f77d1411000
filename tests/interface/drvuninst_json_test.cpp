// drvuninst --json as a script reads it: standard output alone parsed as one
// JSON document, texts that need escaping (quotes, backslashes, characters
// beyond ASCII) read back as they were; and the journal folder drvuninst
// makes when it is missing, which the export itself refuses.
#include <gtest/gtest.h>

#include <aclapi.h>
#include <sddl.h>

#include <nlohmann/json.hpp>

#include "interface/KYDDrvUninst.h"
#include "machine/journal.h"
#include "machine/seal.h"
#include "platform/handle.h"
#include "support/engine_bench.h"
#include "support/machine_snapshot.h"
#include "support/staged_host.h"

namespace {

using namespace kydtest;
using Json = nlohmann::json;
using kyd::machine::journal::ToUtf8;

struct JsonRun {
  DWORD exitCode = 0xFFFFFFFF;
  std::string out;  // standard output only
  Json document;
  bool parsed = false;
};

// drvuninst with its standard output to a file and its standard error
// dropped, as `drvuninst ... --json 2>nul | ConvertFrom-Json` sees it.
JsonRun RunJson(const StagedHost& host, const std::wstring& arguments) {
  JsonRun run;
  ScratchDir scratch(L"json out");
  SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
  kyd::UniqueFile out(CreateFileW((scratch / L"out.txt").c_str(), GENERIC_WRITE, FILE_SHARE_READ, &inherit,
                                  CREATE_ALWAYS, 0, nullptr));
  kyd::UniqueFile null(CreateFileW(L"NUL", GENERIC_WRITE, FILE_SHARE_WRITE, &inherit, OPEN_EXISTING, 0, nullptr));
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdOutput = out.get();
  startup.hStdError = null.get();
  std::wstring line = L"\"" + host.cli() + L"\" " + arguments;
  PROCESS_INFORMATION info{};
  SetEnvironmentVariableW(L"KYD_DIFX_LOG", host.difxLog().c_str());
  if (CreateProcessW(nullptr, line.data(), nullptr, nullptr, TRUE, CREATE_NO_WINDOW, nullptr, nullptr, &startup,
                     &info)) {
    kyd::UniqueHandle process(info.hProcess), thread(info.hThread);
    WaitForSingleObject(process.get(), 120000);
    GetExitCodeProcess(process.get(), &run.exitCode);
  }
  SetEnvironmentVariableW(L"KYD_DIFX_LOG", nullptr);
  out.reset();
  run.out = ReadFileBytes(scratch / L"out.txt");
  try {
    run.document = Json::parse(run.out);
    run.parsed = true;
  } catch (const Json::exception&) {
  }
  return run;
}

bool IsAscii(const std::string& text) {
  for (unsigned char c : text)
    if (c > 0x7F) return false;
  return true;
}

// A device listed with IDs that need escaping in JSON. Plug and Play keeps
// whatever text a driver writes as a hardware ID; `list` shows it as it is.
TEST(DrvuninstJson, ListedDevicesReadBackWithQuotesBackslashesAndNonAscii) {
  StagedHost host;
  const std::wstring odd = L"ROOT\\KYD_\"Q\"\\\u00E9\u4E2D\U0001F600";
  SeededDevice device({odd, L"ROOT\\KYD_PLAIN"});
  ASSERT_TRUE(device.ok());
  JsonRun run = RunJson(host, L"list --class " + std::wstring(kSystemClass) + L" --json");
  ASSERT_TRUE(run.parsed) << run.out;
  EXPECT_EQ(run.exitCode, 0u);
  EXPECT_TRUE(IsAscii(run.out)) << "characters beyond ASCII are escaped";
  EXPECT_NE(run.out.find("\\\"Q\\\"\\\\\\u00e9\\u4e2d\\ud83d\\ude00"), std::string::npos) << run.out;
  EXPECT_EQ(run.document["command"], "list");
  const Json* listed = nullptr;
  for (const Json& entry : run.document["devices"])
    if (entry["instanceId"] == ToUtf8(device.instanceId())) listed = &entry;
  ASSERT_NE(listed, nullptr) << run.out;
  EXPECT_EQ((*listed)["hardwareIds"], Json::array({ToUtf8(odd), "ROOT\\KYD_PLAIN"}));
  EXPECT_EQ((*listed)["class"], "System");
  EXPECT_EQ((*listed)["classGuid"], ToUtf8(kSystemClass));
  EXPECT_TRUE((*listed)["driverInf"].is_null());
  EXPECT_EQ((*listed)["extensionInfs"], Json::array());
  EXPECT_EQ((*listed)["componentInfs"], Json::array());
  EXPECT_EQ((*listed)["companionPackageInstalled"], false);
}

// A plan, the journaled uninstall and its restore of one device on the
// removal road, into a journal folder that does not exist yet (its name
// beyond ASCII), with the library's log on standard error.
TEST(DrvuninstJson, PlanUninstallAndRestoreCarryResultSummaryAndManifest) {
  StagedHost host;
  const std::wstring id = L"PCI\\VEN_1B21&DEV_\"14\"05";  // a quote is printable ASCII: a device ID may hold it
  const std::wstring quoted = L"\"PCI\\VEN_1B21&DEV_\\\"14\\\"05\"";
  SeededDevice device({id});
  ASSERT_TRUE(device.ok());
  ScratchDir scratch(L"json journal");
  const std::wstring plan = scratch / L"plan \u00E9\u4E2D\\new";
  const std::wstring journal = scratch / L"journal \u00E9\u4E2D\\new";

  JsonRun planned = RunJson(host, L"uninstall " + quoted + L" " + kSystemClass + L" --plan --journal \"" + plan +
                                      L"\" --json --log");
  ASSERT_TRUE(planned.parsed) << planned.out;
  const Json& p = planned.document;
  EXPECT_EQ(p["command"], "uninstall");
  EXPECT_EQ(p["hardwareId"], ToUtf8(id));
  EXPECT_EQ(p["mode"], "plan");
  EXPECT_EQ(p["manifest"], ToUtf8(plan + L"\\manifest.txt"));
  EXPECT_TRUE(FileExists(plan + L"\\manifest.txt")) << "drvuninst made the missing folder";
  EXPECT_EQ(p["libraryResult"], 1);
  EXPECT_EQ(p["exitCode"], 0);
  EXPECT_EQ(planned.exitCode, 0u);
  EXPECT_EQ(p["restartNeeded"], false);
  EXPECT_EQ(p["summary"]["devices"], 1) << planned.out;
  EXPECT_EQ(p["summary"]["all"], p["changes"].size());
  bool removal = false;
  for (const Json& change : p["changes"])
    removal = removal || (change["verb"] == "remove-device" && change["target"] == ToUtf8(device.instanceId()));
  EXPECT_TRUE(removal) << planned.out;
  EXPECT_TRUE(DevicePresent(device.instanceId())) << "a plan changes nothing";

  JsonRun run = RunJson(host, L"uninstall " + quoted + L" " + kSystemClass + L" --journal \"" + journal +
                                  L"\" --json --log");
  ASSERT_TRUE(run.parsed) << run.out;
  EXPECT_EQ(run.document["mode"], "journal");
  EXPECT_EQ(run.document["result"], "uninstalled");
  EXPECT_EQ(run.document["summary"], p["summary"]) << "the plan is what the run did";
  EXPECT_FALSE(DevicePresent(device.instanceId()));

  JsonRun restore = RunJson(host, L"restore \"" + journal + L"\" --json");
  ASSERT_TRUE(restore.parsed) << restore.out;
  const Json& r = restore.document;
  EXPECT_EQ(r["journal"], ToUtf8(journal));
  EXPECT_EQ(r["report"], ToUtf8(journal + L"\\restore.txt"));
  EXPECT_TRUE(r["refused"].is_null()) << restore.out;
  EXPECT_EQ(r["exitCode"], 0);
  EXPECT_EQ(r["summary"]["devices"]["cannotComeBack"], 1) << restore.out;
  EXPECT_EQ(r["summary"]["all"]["changed"], run.document["summary"]["all"]);
  EXPECT_EQ(r["summary"]["all"]["notBack"], 0);
  ASSERT_EQ(r["notes"].size(), 1u) << restore.out;
  EXPECT_EQ(r["notes"][0].get<std::string>().rfind("forgotten: everything is back", 0), 0u) << restore.out;
  EXPECT_EQ(r["changes"].size(), run.document["changes"].size());

  JsonRun query = RunJson(host, L"query " + quoted + L" " + kSystemClass + L" --json");
  ASSERT_TRUE(query.parsed) << query.out;
  EXPECT_EQ(query.document["hardwareId"], ToUtf8(id));
  EXPECT_EQ(query.document["companionPackageInstalled"], false);
  EXPECT_EQ(query.exitCode, 1u);
}

// A document names only a manifest the caller keeps: a plan without
// --journal goes into a folder of drvuninst's own, gone once it exits, so
// its manifest is null while its summary and changes are there; an
// uninstall without a journal has none of them.
TEST(DrvuninstJson, TheManifestNamedIsOneTheCallerKeeps) {
  StagedHost host;
  const struct Row {
    const char* what;
    const wchar_t* options;
    const char* mode;
    bool changes;  // a summary and the changes
    bool devicePresent;
  } rows[] = {{"a plan nobody keeps", L" --plan", "plan", true, true},
              {"an uninstall without a journal", L"", "direct", false, false}};
  for (const Row& row : rows) {
    SCOPED_TRACE(row.what);
    const std::wstring id = L"PCI\\VEN_1B21&DEV_1408";
    SeededDevice device({id});
    ASSERT_TRUE(device.ok());
    JsonRun run = RunJson(host, L"uninstall \"" + id + L"\" " + kSystemClass + row.options + L" --json");
    ASSERT_TRUE(run.parsed) << run.out;
    const Json& d = run.document;
    EXPECT_EQ(d["mode"], row.mode);
    EXPECT_EQ(d["libraryResult"], 1) << run.out;
    EXPECT_TRUE(d["manifest"].is_null()) << run.out;
    EXPECT_EQ(d["summary"].is_null(), !row.changes) << run.out;
    EXPECT_EQ(d["changes"].is_null(), !row.changes) << run.out;
    if (row.changes) {
      EXPECT_EQ(d["summary"]["devices"], 1) << run.out;
    }
    EXPECT_EQ(DevicePresent(device.instanceId()), row.devicePresent);
  }
}

// Whether a folder's access list grants nothing to everyone or to users, as
// a journal folder's (Administrators and SYSTEM only). Wine keeps no access
// list on a folder but maps it to the Unix permissions, so the list read
// back names the owner rather than Administrators; a folder made plain
// names Everyone.
bool ProtectedAsAJournal(const std::wstring& path) {
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  if (GetNamedSecurityInfoW(path.c_str(), SE_FILE_OBJECT, DACL_SECURITY_INFORMATION, nullptr, nullptr, nullptr,
                            nullptr, &descriptor) != ERROR_SUCCESS)
    return false;
  kyd::UniqueLocal owned(descriptor);
  wchar_t* text = nullptr;
  ConvertSecurityDescriptorToStringSecurityDescriptorW(descriptor, SDDL_REVISION_1, DACL_SECURITY_INFORMATION, &text,
                                                       nullptr);
  kyd::UniqueLocal ownedText(text);
  if (!text) return false;
  const std::wstring dacl = text;
  return dacl.find(L";WD)") == std::wstring::npos && dacl.find(L";AU)") == std::wstring::npos &&
         dacl.find(L";BU)") == std::wstring::npos;
}

// drvuninst makes a missing journal folder, and the folders above it, as
// protected as a journal folder; the export, called as a host calls it,
// refuses one and changes nothing. A second call into the same folder is
// refused, and reports no summary of the first; the journal that will not be
// restored gives up its secret.
TEST(DrvuninstJson, AMissingJournalFolderIsMadeByDrvuninstAndRefusedByTheExport) {
  StagedHost host;
  const std::wstring id = L"PCI\\VEN_1B21&DEV_1406";
  SeededDevice device({id});
  ASSERT_TRUE(device.ok());
  ScratchDir scratch(L"missing journal");
  const std::wstring missing = scratch / L"a\\b";
  kyd::UniqueModule library(LoadLibraryW(host.dll().c_str()));
  auto uninstallEx = reinterpret_cast<decltype(&DrvUninst_UninstallDrvEx)>(
      reinterpret_cast<void*>(GetProcAddress(library.get(), "DrvUninst_UninstallDrvEx")));
  ASSERT_NE(uninstallEx, nullptr);
  for (int flags : {KYD_UNINSTALL_PLAN, KYD_UNINSTALL_JOURNAL}) {
    EXPECT_EQ(uninstallEx(id.c_str(), kSystemClass, 0, flags, missing.c_str()), 0) << flags;
    EXPECT_FALSE(FileExists(scratch / L"a")) << flags;
  }
  EXPECT_TRUE(DevicePresent(device.instanceId()));
  library.reset();

  JsonRun run = RunJson(host, L"uninstall \"" + id + L"\" " + kSystemClass + L" --journal \"" + missing + L"\" --json");
  ASSERT_TRUE(run.parsed) << run.out;
  EXPECT_EQ(run.document["libraryResult"], 1);
  EXPECT_FALSE(DevicePresent(device.instanceId()));
  EXPECT_NE(ReadUtf8(missing + L"\\manifest.txt").find(L"\tremove-device\t" + device.instanceId()), std::wstring::npos);
  EXPECT_TRUE(ProtectedAsAJournal(scratch / L"a")) << "a folder above the journal";
  EXPECT_TRUE(ProtectedAsAJournal(missing));

  JsonRun again = RunJson(host, L"uninstall \"" + id + L"\" " + kSystemClass + L" --journal \"" + missing + L"\" --json");
  ASSERT_TRUE(again.parsed) << again.out;
  EXPECT_EQ(again.document["libraryResult"], 0);
  EXPECT_TRUE(again.document["summary"].is_null()) << again.out;
  EXPECT_TRUE(again.document["changes"].is_null()) << again.out;
  EXPECT_TRUE(again.document["manifest"].is_null()) << again.out;

  // A copy of it below a folder others may change is refused, and drvuninst says why.
  ScratchDir open(L"open above", ScratchDir::kMachine);
  ASSERT_TRUE(OpenToAllOnUnix(open.path()) && CopyTree(missing, open / L"journal"));
  const std::string reason = "others can change a folder above it: " + ToUtf8(open.path()) + ": S-1-1-0 may change it";
  JsonRun refused = RunJson(host, L"restore \"" + open / L"journal" + L"\" --json");
  ASSERT_TRUE(refused.parsed) << refused.out;
  EXPECT_EQ(refused.document["libraryResult"], 0);
  EXPECT_EQ(refused.document["refused"], reason) << refused.out;
  ProcessResult shown = host.Cli(L"restore \"" + open / L"journal" + L"\"");
  EXPECT_NE(shown.output.find("Refused: " + reason), std::string::npos) << shown.output;

  kyd::machine::journal::Manifest manifest;
  ASSERT_TRUE(kyd::machine::journal::ReadManifest(missing, manifest));
  const std::wstring secret = std::wstring(kyd::machine::journal::kSecretsKey) + L"\\" + manifest.id;
  EXPECT_TRUE(RegKeyExists(HKEY_LOCAL_MACHINE, secret, true));
  for (const char* said : {"its secret was deleted:", "its secret was deleted before"}) {
    JsonRun forget = RunJson(host, L"restore \"" + missing + L"\" --forget --json");
    ASSERT_TRUE(forget.parsed) << forget.out;
    EXPECT_EQ(forget.exitCode, 0u) << forget.out;
    EXPECT_EQ(forget.document["result"].get<std::string>().rfind(said, 0), 0u) << forget.out;
    EXPECT_FALSE(RegKeyExists(HKEY_LOCAL_MACHINE, secret, true));
  }
  EXPECT_FALSE(DevicePresent(device.instanceId())) << "nothing was restored";
}

// A library that cannot be loaded, or lacks an export: the document still
// comes, with the error and drvuninst's exit code in it.
TEST(DrvuninstJson, ALibraryThatCannotBeUsedStillGivesADocument) {
  struct Case {
    const wchar_t* standIn;  // put in the library's place; null: none there
    DWORD exitCode;
    const char* said;
  } cases[] = {{nullptr, ERROR_MOD_NOT_FOUND, "(error 126)"},
               {L"difxapi.dll", ERROR_PROC_NOT_FOUND, "lacks DrvUninst_"}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.exitCode);
    StagedHost host;
    ASSERT_TRUE(DeleteFileW(host.dll().c_str()));
    if (c.standIn) {
      ASSERT_TRUE(CopyFileW((host.folder() + L"\\" + c.standIn).c_str(), host.dll().c_str(), FALSE));
    }
    for (const wchar_t* command : {L"query", L"list"}) {
      JsonRun run = RunJson(host, std::wstring(command) +
                                      (command[0] == L'q' ? L" \"PCI\\VEN_1B21&DEV_1407\" " + std::wstring(kSystemClass)
                                                          : L"") +
                                      L" --json");
      ASSERT_TRUE(run.parsed) << run.out;
      EXPECT_EQ(run.exitCode, c.exitCode);
      EXPECT_EQ(run.document["command"], ToUtf8(command));
      EXPECT_EQ(run.document["exitCode"], c.exitCode);
      EXPECT_NE(run.document["error"].get<std::string>().find(c.said), std::string::npos) << run.out;
      EXPECT_TRUE(run.document["summary"].is_null());
    }
  }
}

}  // namespace
