// drvuninst.exe: the command line of KYDDrvUninst.dll, for administrators and
// support staff who want one driver off a machine now. It loads the library
// from its own folder, as a driver-management tool would, and behaves like
// the system's own device tools: commands that explain themselves with
// --help, and the exit codes scripts expect of them.
//
// Commands are rows of one table (kCommands): a new command or option is a
// row, a parameter check and, for a command, its run function.
#include <windows.h>

#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "interface/KYDDrvUninst.h"
#include "kyd_version.h"
#include "platform/command_line.h"
#include "platform/env.h"
#include "platform/handle.h"
#include "machine/journal.h"
#include "machine/seal.h"
#include "removal/inf_index.h"
#include "tools/drvuninst/arguments.h"
#include "tools/drvuninst/console_text.h"
#include "tools/drvuninst/devices.h"
#include "tools/drvuninst/library.h"
#include "tools/drvuninst/journal_folder.h"
#include "tools/drvuninst/json_report.h"
#include "tools/drvuninst/shell_watch.h"
#include "tools/drvuninst/summary.h"

namespace drvuninst {
namespace {


const wchar_t kExitCodes[] =
    L"Exit codes:\n"
    L"  0      done\n"
    L"  3010   done; restart Windows to finish the uninstall\n"
    L"  1      nothing was uninstalled (query: the package is not installed)\n"
    L"  2      bad usage\n"
    L"  1618   busy: another uninstall or restore ran on this machine for the\n"
    L"         whole wait (20 minutes; none with --no-wait); nothing was changed\n"
    L"  other  a Windows error code: KYDDrvUninst.dll could not be loaded from\n"
    L"         drvuninst's folder (126) or lacks an export (127)\n";

// ---------------------------------------------------------------- arguments

// Each check says what is wrong with a value; empty when nothing is.
using Check = std::wstring (*)(const std::wstring&);

struct Parameter {
  const wchar_t* name;
  const wchar_t* help;
  Check check;
};

const Parameter kHardwareId{
    L"HWID",
    L"a hardware ID of the device, as \"PCI\\VEN_10DE&DEV_1C82\"\n"
    L"(quote it: & separates commands in the command interpreter)",
    HardwareIdProblem};
const Parameter kClassGuid{
    L"GUID",
    L"the device's setup class GUID in braces, as\n"
    L"{4D36E968-E325-11CE-BFC1-08002BE10318} (display adapters)",
    ClassGuidProblem};
const Parameter kVendor{L"VEN_xxxx", L"", VendorProblem};
const Parameter kJournalFolder{L"DIR", L"a journal folder", FolderProblem};

struct Option {
  const wchar_t* name;
  const Parameter* value;  // null: a switch
  const wchar_t* help;
};

const Option kLogOption{L"--log", nullptr,
                        L"print the library's log lines as it writes them"};
const Option kJsonOption{L"--json", nullptr,
                         L"print one JSON document instead of text (log lines and notes\n"
                         L"go to standard error)"};

// The command line after the command's name.
struct Invocation {
  std::wstring command;
  std::vector<std::wstring> arguments;
  std::map<std::wstring, std::wstring> options;  // name -> value ("" for a switch)

  bool Has(const wchar_t* name) const { return options.count(name) != 0; }
  const wchar_t* Value(const wchar_t* name) const {
    auto found = options.find(name);
    return found == options.end() ? nullptr : found->second.c_str();
  }
};

struct Command {
  const wchar_t* name;
  const wchar_t* summary;
  std::vector<const Parameter*> arguments;
  std::vector<Option> options;
  const wchar_t* details;
  int (*run)(const Invocation&);
};

// ---------------------------------------------------------------- commands

// A vendor part "VEN_xxxx" standing whole in a hardware ID.
bool HasVendor(const std::vector<std::wstring>& hardwareIds, const std::wstring& vendor) {
  for (const std::wstring& id : hardwareIds) {
    for (size_t at = 0; at + vendor.size() <= id.size(); ++at) {
      if (_wcsnicmp(id.c_str() + at, vendor.c_str(), vendor.size()) != 0) continue;
      bool startsPart = at == 0 || id[at - 1] == L'\\' || id[at - 1] == L'&';
      bool endsPart = at + vendor.size() == id.size() || !IsHexDigit(id[at + vendor.size()]);
      if (startsPart && endsPart) return true;
    }
  }
  return false;
}

// The extension and component packages of a device, a line each kind.
std::wstring Packages(const Device& device) {
  std::wstring text;
  for (const auto& [title, infs] : {std::pair{L"\nExtension INFs:     ", &device.extensionInfs},
                                    std::pair{L"\nComponent INFs:     ", &device.componentInfs}}) {
    std::wstring names;
    for (const std::wstring& inf : *infs) names += (names.empty() ? L"" : L", ") + inf;
    if (!names.empty()) text += title + names;
  }
  return text;
}

// The library cannot be used: said on standard error, and with --json as
// the document too, so that a script reading it learns why.
int LibraryFailure(const Invocation& invocation, const Library& library) {
  const int exitCode = library.Failure();
  if (invocation.Has(L"--json")) Print(ErrorDocument(invocation.command, library.Problem(), exitCode));
  return exitCode;
}

int RunList(const Invocation& invocation) {
  Library library;
  if (!library) return LibraryFailure(invocation, library);
  DWORD error = ERROR_SUCCESS;
  std::vector<Device> devices = PresentDevices(error);
  if (error != ERROR_SUCCESS) {
    Error(L"drvuninst: cannot list the devices (error " + std::to_wstring(error) + L")\n");
    return static_cast<int>(error);
  }
  const wchar_t* classFilter = invocation.Value(L"--class");
  const wchar_t* vendorFilter = invocation.Value(L"--vendor");
  library.init();
  int shown = 0;
  std::vector<ListedDevice> listed;
  kyd::InfIndexCall infs;  // one read of the INF folder for every device listed
  for (Device& device : devices) {
    if (classFilter && _wcsicmp(device.classGuid.c_str(), classFilter) != 0) continue;
    if (vendorFilter && !HasVendor(device.hardwareIds, vendorFilter)) continue;
    FindComponentPackages(device);
    std::wstring ids;
    for (const std::wstring& id : device.hardwareIds)
      ids += (ids.empty() ? L"" : L"\n                    ") + id;
    std::wstring package = L"-";
    int installed = -1;
    if (!device.hardwareIds.empty() && !device.classGuid.empty()) {
      installed = library.query(device.hardwareIds.front().c_str(), device.classGuid.c_str()) == KYD_APP_INSTALLED;
      package = installed ? L"installed" : L"not installed";
    }
    listed.push_back({&device, installed});
    if (invocation.Has(L"--json")) continue;
    std::wstring className = device.className.empty() ? L"" : device.className + L" ";
    Print(L"Instance ID:        " + device.instanceId +
          L"\nClass:              " + className + (device.classGuid.empty() ? L"-" : device.classGuid) +
          L"\nHardware IDs:       " + (ids.empty() ? L"-" : ids) +
          L"\nDriver INF:         " + (device.inf.empty() ? L"-" : device.inf) + Packages(device) +
          L"\nCompanion package:  " + package + L"\n\n");
    ++shown;
  }
  library.unit();
  if (invocation.Has(L"--json"))
    Print(ListDocument(listed));
  else
    Print(shown == 0 ? std::wstring(L"No matching devices found.\n")
                     : std::to_wstring(shown) + L" device(s) listed.\n");
  return kExitDone;
}

// Loads the library and makes one call between its Init and Unit, following
// its log when --log was given. False when the library cannot be used; the
// result is then the exit code.
bool CallLibrary(const Invocation& invocation, const std::function<int(const Library&)>& call,
                 int& result, bool needsJournalExports = false) {
  LogFollower log(kyd::GetHostFolder(), invocation.Has(L"--log"), invocation.Has(L"--json"));
  Library library;
  if (library && needsJournalExports)
    library.Needs(library.uninstallEx, "DrvUninst_UninstallDrvEx") &&
        library.Needs(library.restore, "DrvUninst_Restore");
  if (!library) {
    result = LibraryFailure(invocation, library);
    return false;
  }
  library.init();
  result = log.Follow([&] { return call(library); });
  library.unit();
  return true;
}

// What a library result means to the one who asked, and drvuninst's exit
// code for it: one table per command.
struct Answer {
  int result;
  int exitCode;
  const wchar_t* meaning;
};

// Another uninstall or restore held the machine: nothing was done.
constexpr Answer kBusy{KYD_RESULT_BUSY, kExitBusy,
                       L"busy: another uninstall or restore is running on this machine; nothing was changed, "
                       L"try again later"};
constexpr Answer kUninstallAnswers[] = {
    {KYD_RESULT_UNINSTALLED, kExitDone, L"uninstalled"},
    {KYD_RESULT_UNINSTALLED_RESTART, kExitRestart, L"uninstalled; restart Windows to finish"},
    kBusy,
};
constexpr Answer kRestoreAnswers[] = {
    {KYD_RESTORE_NOTHING, kExitNothing, L"nothing restored"},
    {KYD_RESTORE_COMPLETE, kExitDone, L"everything restored"},
    {KYD_RESTORE_PARTIAL, kExitNothing, L"partly restored (see the changes not back)"},
    kBusy,
};

template <size_t N>
Answer AnswerTo(int result, const Answer (&answers)[N], const wchar_t* otherwise) {
  for (const Answer& answer : answers)
    if (answer.result == result) return answer;
  return {result, kExitNothing, otherwise};
}

void PrintResult(const wchar_t* label, const Answer& answer) {
  Print(std::wstring(label) + answer.meaning + L" (library result " + std::to_wstring(answer.result) + L")\n");
}

int RunQuery(const Invocation& invocation) {
  const std::wstring& hardwareId = invocation.arguments[0];
  const std::wstring& classGuid = invocation.arguments[1];
  int answer = 0;
  if (!CallLibrary(
          invocation,
          [&](const Library& library) { return library.query(hardwareId.c_str(), classGuid.c_str()); },
          answer))
    return answer;
  const int exitCode = answer == KYD_APP_INSTALLED ? kExitDone : kExitNothing;
  if (invocation.Has(L"--json")) {
    Print(QueryDocument(hardwareId, classGuid, answer, exitCode));
    return exitCode;
  }
  Print(std::wstring(L"Companion package: ") +
        (answer == KYD_APP_INSTALLED ? L"installed" : L"not installed") + L" (library result " +
        std::to_wstring(answer) + L")\n");
  return exitCode;
}

int RunUninstall(const Invocation& invocation) {
  const std::wstring& hardwareId = invocation.arguments[0];
  const std::wstring& classGuid = invocation.arguments[1];
  const int keepDevice = invocation.Has(L"--keep-device") ? KYD_KEEP_DEVICE : KYD_REMOVE_DEVICE;
  const bool plan = invocation.Has(L"--plan");
  const bool json = invocation.Has(L"--json");
  const wchar_t* journal = invocation.Value(L"--journal");
  if (!json)
    Print(std::wstring(plan ? L"Planning the uninstall of " : L"Uninstalling ") + hardwareId + L" " + classGuid +
          L"\n");
  // A plan nobody keeps is written into a folder of drvuninst's own.
  std::unique_ptr<PlanFolder> ownFolder;
  std::wstring folder = journal ? journal : L"";
  if (plan && !journal) {
    ownFolder = std::make_unique<PlanFolder>();
    folder = ownFolder->path();
    if (folder.empty()) {
      Error(L"drvuninst: cannot make a folder for the plan\n");
      return ERROR_CANNOT_MAKE;
    }
  }
  // The library takes only an existing empty folder; one the caller names
  // is made here when it is missing. Only a manifest that was not there
  // before the call is this call's to report.
  const std::wstring manifestPath = folder + L"\\manifest.txt";
  const bool manifestBefore = !folder.empty() && GetFileAttributesW(manifestPath.c_str()) != INVALID_FILE_ATTRIBUTES;
  if (journal) {
    DWORD error = MakeFolderPath(folder);
    if (error != ERROR_SUCCESS) {
      Error(L"drvuninst: cannot make the journal folder " + folder + L" (error " + std::to_wstring(error) + L")\n");
      return ERROR_CANNOT_MAKE;
    }
  }
  const int flags = (plan ? KYD_UNINSTALL_PLAN : (journal ? KYD_UNINSTALL_JOURNAL : 0)) |
                    (invocation.Has(L"--native-system") ? KYD_UNINSTALL_NATIVE_SYSTEM : 0) |
                    (invocation.Has(L"--no-wait") ? KYD_UNINSTALL_NO_WAIT : 0);
  // Before the call: the shell's token can be taken only while it runs.
  ShellWatch shell;
  int result = 0;
  if (!CallLibrary(
          invocation,
          [&](const Library& library) {
            // The newer export tells a busy machine from nothing uninstalled;
            // a build without it gets the old call.
            if (flags == 0 && !library.uninstallEx)
              return library.uninstall(hardwareId.c_str(), classGuid.c_str(), keepDevice);
            return library.uninstallEx(hardwareId.c_str(), classGuid.c_str(), keepDevice, flags, folder.c_str());
          },
          result, flags != 0))
    return result;
  const Answer answer = AnswerTo(result, kUninstallAnswers, L"nothing was uninstalled");
  const int exitCode = answer.exitCode;
  kyd::machine::journal::Manifest manifest;
  const bool haveManifest = (plan || journal) && result != KYD_RESULT_BUSY && !manifestBefore &&
                            kyd::machine::journal::ReadManifest(folder, manifest);
  if ((plan || journal) && result != KYD_RESULT_BUSY && !haveManifest)
    Error(L"drvuninst: no " + std::wstring(plan ? L"plan" : L"journal") + L" was written in " + folder +
          (manifestBefore ? L": it holds one already" : NotWrittenBecause(plan, folder)) + L"\n");
  if (haveManifest && !json) {
    Print(ChangeTable(plan ? L"The uninstall would change:" : L"The uninstall changed:", CountChanges(manifest)));
    Print(plan ? L"---- plan ----\n" : L"---- journal ----\n");
    Print(JournalFileText(manifestPath));
  }
  if (json) {
    UninstallReport report;
    report.hardwareId = hardwareId;
    report.classGuid = classGuid;
    report.mode = plan ? L"plan" : (journal ? L"journal" : L"direct");
    report.keepDevice = keepDevice == KYD_KEEP_DEVICE;
    report.libraryResult = result;
    report.exitCode = exitCode;
    report.restartNeeded = exitCode == kExitRestart;
    report.meaning = answer.meaning;
    if (haveManifest) report.manifest = &manifest;
    if (haveManifest && journal) report.manifestPath = manifestPath;
    Print(UninstallDocument(report));
  } else {
    PrintResult(plan && result != KYD_RESULT_BUSY ? L"Planned result: " : L"Result: ", answer);
  }
  if (result != KYD_RESULT_BUSY) {  // a busy call ran nothing, and ended no shell
    const std::wstring shellNote = shell.StartAgainIfEnded();
    if (!shellNote.empty()) (json ? Error : Print)(shellNote);
  }
  return exitCode;
}

// `restore DIR --forget`: the journal will not be restored; its secret goes.
int RunForget(const Invocation& invocation) {
  const std::wstring& folder = invocation.arguments[0];
  bool gone = false;
  std::string why;
  const bool forgotten = kyd::machine::journal::ForgetJournal(folder, gone, why);
  const std::wstring meaning =
      forgotten ? L"its secret was deleted: the journal cannot be restored any more"
      : gone    ? L"its secret was deleted before: nothing to do"
                : L"nothing deleted: " + kyd::machine::journal::FromUtf8(why);
  const int exitCode = forgotten || gone ? kExitDone : kExitNothing;
  if (invocation.Has(L"--json"))
    Print(ForgetDocument(folder, meaning, exitCode));
  else
    Print(L"Journal " + folder + L": " + meaning + L"\n");
  return exitCode;
}

int RunRestore(const Invocation& invocation) {
  if (invocation.Has(L"--forget")) return RunForget(invocation);
  const std::wstring& folder = invocation.arguments[0];
  int result = KYD_RESTORE_NOTHING;
  if (!CallLibrary(invocation, [&](const Library& library) { return library.restore(folder.c_str()); }, result,
                   true))
    return result;
  const bool json = invocation.Has(L"--json");
  const Answer answer = AnswerTo(result, kRestoreAnswers, L"unknown");
  const int exitCode = answer.exitCode;
  // The report a restore wrote, with the manifest that says what each of
  // its lines touched, and its notes (what the journal lacks, a move).
  const std::wstring reportPath = folder + L"\\restore.txt";
  const std::vector<std::wstring> notes =
      result == KYD_RESTORE_COMPLETE || result == KYD_RESTORE_PARTIAL ? ReportNotes(reportPath)
                                                                      : std::vector<std::wstring>();
  kyd::machine::journal::Manifest manifest;
  std::vector<RestoreEntry> entries;
  const bool haveReport = result != KYD_RESTORE_NOTHING && kyd::machine::journal::ReadManifest(folder, manifest) &&
                          ReadRestoreReport(reportPath, entries);
  const std::wstring refusal = RestoreRefusal(result, folder);
  if (json) {
    RestoreReport report;
    report.folder = folder;
    report.libraryResult = result;
    report.exitCode = exitCode;
    report.meaning = answer.meaning;
    report.notes = notes;
    report.refused = refusal;
    if (haveReport) {
      report.reportPath = reportPath;
      report.manifest = &manifest;
      report.entries = &entries;
    }
    Print(RestoreDocument(report));
    return exitCode;
  }
  if (haveReport) {
    // The table, then only what is not back: the whole report is in the folder.
    std::wstring notBack;
    for (const RestoreEntry& entry : entries)
      if (FateOf(entry) == Fate::kCannotComeBack || FateOf(entry) == Fate::kNotBack) notBack += kyd::machine::journal::FromUtf8(entry.text) + L"\n";
    for (const std::wstring& note : notes) notBack += L"Note: " + note + L"\n";
    Print(RestoreTable(CountRestore(manifest, entries)) + notBack + L"Every change and its outcome: " + reportPath +
          L"\n");
  }
  if (!refusal.empty()) Print(L"Refused: " + refusal + L"\n");
  PrintResult(L"Result: ", answer);
  return exitCode;
}

const std::vector<Command> kCommands = {
    {L"list",
     L"present devices, their driver INF and companion package",
     {},
     {{L"--class", &kClassGuid, L"only devices of this setup class"},
      {L"--vendor", &kVendor, L"only devices with this PCI vendor in a hardware ID"},
      kJsonOption},
     L"Shows, for each present device: its instance ID, class, hardware IDs, the\n"
     L"INF of its installed driver, the extension and component INFs published\n"
     L"for it (a Windows 10 DCH driver's), and whether the companion application\n"
     L"package of its driver is installed (as `query` tells).\n",
     RunList},
    {L"query",
     L"is a device's companion application package installed?",
     {&kHardwareId, &kClassGuid},
     {kLogOption, kJsonOption},
     L"Looks the packages that Kydconfig\\unsetup.xml describes for the device up\n"
     L"among the installed programs. Changes nothing. Exit code 0 when the\n"
     L"package is installed, 1 when it is not.\n",
     RunQuery},
    {L"uninstall",
     L"uninstall a device's driver",
     {&kHardwareId, &kClassGuid},
     {{L"--keep-device", nullptr, L"vendor deep clean only: keep the device itself"},
      {L"--plan", nullptr, L"change nothing: print every change the uninstall would make"},
      {L"--journal", &kJournalFolder,
       L"save what each change destroys into the empty folder DIR first,\n"
       L"for `restore` (with --plan: keep the plan there); DIR is made\n"
       L"when it does not exist"},
      {L"--native-system", nullptr,
       L"64-bit Windows: the vendor deep clean also deletes the vendor's\n"
       L"files from the native System32 and System32\\drivers (by drv64.exe)"},
      {L"--no-wait", nullptr,
       L"when another uninstall or restore is running, answer busy at once\n"
       L"instead of waiting for it (up to 20 minutes)"},
      kLogOption, kJsonOption},
     L"Switches off Windows' automatic driver search, then removes the device's\n"
     L"driver: the vendor's deep clean for NVIDIA, Intel and AMD display adapters\n"
     L"and Realtek sound devices, a silent uninstall of the companion package where\n"
     L"one is installed, otherwise the device and its OEM driver package; with a\n"
     L"Windows 10 DCH driver, its software components and extension packages too;\n"
     L"then removes the oem*.inf files that still name the device (as driver\n"
     L"packages from Windows Vista on). Needs administrator\n"
     L"rights. Waits while another uninstall or restore runs on the machine.\n"
     L"The vendor deep clean ends the Windows shell; if it was running before,\n"
     L"drvuninst starts it again as the user it ran as (with that shell's own\n"
     L"token, taken before the uninstall), or leaves it stopped and says so.\n",
     RunUninstall},
    {L"restore",
     L"put back what a journaled uninstall saved",
     {&kJournalFolder},
     {{L"--forget", nullptr,
       L"restore nothing: delete the journal's secret, for a journal that\n"
       L"will not be restored (it can then never be restored)"},
      kLogOption, kJsonOption},
     L"Puts back, last change first, what `uninstall --journal DIR` saved: registry\n"
     L"keys and values, files, folders, driver package files; starts stopped\n"
     L"services again. Ended programs, uninstalled applications and removed devices\n"
     L"do not come back (a device returns when Windows detects it again). Writes\n"
     L"DIR\\restore.txt, prints a table of what came back by kind of change, the\n"
     L"changes that did not, and what the journal lacks (lines taken out, the end\n"
     L"of a run cut short). A restore that brought everything back deletes the\n"
     L"journal's secret kept in the registry, so it cannot be restored again; a\n"
     L"partial one keeps it, to be tried again once its cause is mended. Refuses\n"
     L"a journal that others could have changed, also through a folder above it.\n"
     L"Waits while another uninstall or restore runs on the machine (up to 20\n"
     L"minutes). Exit code 0 when everything saved is back (--forget: when the\n"
     L"secret is gone), 1 otherwise.\n",
     RunRestore},
};

// ---------------------------------------------------------------- help

std::wstring Synopsis(const Command& command) {
  std::wstring text = std::wstring(L"drvuninst ") + command.name;
  for (const Parameter* argument : command.arguments) text += std::wstring(L" ") + argument->name;
  for (const Option& option : command.options)
    text += std::wstring(L" [") + option.name + (option.value ? std::wstring(L" ") + option.value->name : L"") + L"]";
  return text;
}

// "  name          help", the help's further lines indented to match.
std::wstring Row(const std::wstring& name, const std::wstring& help) {
  constexpr size_t kColumn = 20;
  std::wstring indent(kColumn, L' ');
  std::wstring text = L"  " + name;
  text += text.size() < kColumn ? std::wstring(kColumn - text.size(), L' ') : L"\n" + indent;
  for (wchar_t c : help) text += c == L'\n' ? L"\n" + indent : std::wstring(1, c);
  return text + L"\n";
}

std::wstring Header() {
  return L"drvuninst " KYD_VERSION_TEXT_W L" - uninstalls a device's driver with KYDDrvUninst.dll\n\n";
}

std::wstring GeneralHelp() {
  std::wstring text = Header() + L"Usage:\n";
  for (const Command& command : kCommands) text += L"  " + Synopsis(command) + L"\n";
  text += L"  drvuninst <command> --help\n\nCommands:\n";
  for (const Command& command : kCommands) text += Row(command.name, command.summary);
  text += std::wstring(L"\n") + kExitCodes +
          L"\nOutput to a console is Unicode; redirected output is UTF-8.\n"
          L"\nExamples:\n"
          L"  drvuninst list --vendor VEN_10DE\n"
          L"  drvuninst uninstall \"PCI\\VEN_10DE&DEV_1C82\" {4D36E968-E325-11CE-BFC1-08002BE10318} --log\n";
  return text;
}

std::wstring CommandHelp(const Command& command) {
  std::wstring text = Header() + Synopsis(command) + L"\n\n" + command.details + L"\n";
  for (const Parameter* argument : command.arguments) text += Row(argument->name, argument->help);
  for (const Option& option : command.options)
    text += Row(std::wstring(option.name) + (option.value ? std::wstring(L" ") + option.value->name : L""),
                option.help);
  return text + L"\n" + kExitCodes;
}

const Command* FindCommand(const std::wstring& name) {
  for (const Command& command : kCommands)
    if (_wcsicmp(command.name, name.c_str()) == 0) return &command;
  return nullptr;
}

bool IsHelp(const std::wstring& arg) {
  return arg == L"--help" || arg == L"-h" || arg == L"/?" || arg == L"-?";
}

int UsageError(const Command* command, const std::wstring& problem) {
  std::wstring more = command ? std::wstring(command->name) + L" --help" : L"--help";
  Error(L"drvuninst: " + problem + L"\nusage: " +
        (command ? Synopsis(*command) : std::wstring(L"drvuninst <command> [arguments] [options]")) +
        L"\n(drvuninst " + more + L" tells more)\n");
  return kExitUsage;
}

int Run() {
  const std::vector<std::wstring> args = kyd::CommandLineArgs();
  if (args.size() < 2) return UsageError(nullptr, L"no command given");
  if (IsHelp(args[1]) || args[1] == L"help") {
    const Command* about = args.size() > 2 ? FindCommand(args[2]) : nullptr;
    Print(about ? CommandHelp(*about) : GeneralHelp());
    return kExitDone;
  }
  const Command* command = FindCommand(args[1]);
  if (!command) return UsageError(nullptr, L"unknown command " + args[1]);

  Invocation invocation;
  invocation.command = command->name;
  for (size_t i = 2; i < args.size(); ++i) {
    const std::wstring& arg = args[i];
    if (IsHelp(arg)) {
      Print(CommandHelp(*command));
      return kExitDone;
    }
    if (arg.rfind(L"--", 0) != 0) {
      invocation.arguments.push_back(arg);
      continue;
    }
    const Option* option = nullptr;
    for (const Option& candidate : command->options)
      if (arg == candidate.name) option = &candidate;
    if (!option) return UsageError(command, command->name + std::wstring(L" has no option ") + arg);
    if (invocation.Has(option->name)) return UsageError(command, arg + L" is given twice");
    std::wstring value;
    if (option->value) {
      if (i + 1 >= args.size()) return UsageError(command, arg + L" needs " + option->value->name);
      value = args[++i];
      std::wstring problem = option->value->check(value);
      if (!problem.empty()) return UsageError(command, problem);
    }
    invocation.options[option->name] = value;
  }
  const size_t wanted = command->arguments.size();
  if (invocation.arguments.size() < wanted)
    return UsageError(command, command->name + std::wstring(L" needs ") +
                                   command->arguments[invocation.arguments.size()]->name);
  if (invocation.arguments.size() > wanted)
    return UsageError(command, L"unexpected argument " + invocation.arguments[wanted]);
  for (size_t i = 0; i < wanted; ++i) {
    std::wstring problem = command->arguments[i]->check(invocation.arguments[i]);
    if (!problem.empty()) return UsageError(command, problem);
  }
  return command->run(invocation);
}

}  // namespace
}  // namespace drvuninst

int main() {
  try {
    return drvuninst::Run();
  } catch (...) {
    drvuninst::Error(L"drvuninst: unexpected failure\n");
    return ERROR_INTERNAL_ERROR;
  }
}
