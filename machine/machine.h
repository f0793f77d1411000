// The one place where the library changes the machine.
//
// Every change an uninstall makes goes through a function of this unit: a
// registry key or value deleted, a value written, a file or folder deleted,
// file attributes changed, a process ended, a service stopped, a device
// removed, a driver package removed, an INF with its PNF deleted, the
// device-console tool or another program run. Each function does what the
// Win32 call it replaces does, and returns what that call returns, so that a
// call site changes by one name only.
//
// A session (Session below) decides what "change" means:
//   no session   perform: the Win32 call, nothing more. The four original
//                exports run this way.
//   kPlan        record only. Nothing is changed; every change the run would
//                make is written to the plan in order, and the reads below
//                see the plan's earlier changes as done (a key planned for
//                deletion is absent, a planned file deletion hides the file
//                from listings), so later steps decide as they would in a
//                real run. A planned change is assumed to succeed unless
//                its failure can be seen now (missing item, read-only file,
//                key with subkeys left, service not running).
//   kJournal     save, then perform: what a change destroys is saved to the
//                journal folder first; an item that cannot be saved is not
//                changed (the call fails with ERROR_WRITE_FAULT) and the
//                manifest says so when it still can be written.
//
// Journal folder (plan and journal): manifest.txt (UTF-8; '#' header lines,
// then one line per change in order: number, verb, target, key=value fields,
// a checksum) and the saved material, named after the line's number. The
// plan is the manifest of a plan session. Restore (below) reads the manifest.
// A journal is sealed (machine/seal.h): its folder is kept from
// everyone but Administrators and SYSTEM, and its lines and material carry
// keyed MACs, so that restore acts only on what the library itself wrote.
//
// Routing a new change: call the function below that does it; for a change
// that cannot be saved or undone (a program run, a window clicked, a job
// ended) wrap the Win32 calls in RunProgram or EndProcess. Reads that decide
// what to delete should use the read functions, so that plans stay faithful.
//
// Not routed, on purpose: the device-console tool's own temporary copy (the
// library writes it, runs it and deletes it within one call), the device
// tool's listing run (it only reads), and the process's own privileges. In a
// plan the tool is still written to the temp folder and run to list devices,
// and is deleted again.
//
// The functions are written in this folder, one file per kind of change
// (registry.cpp, files.cpp, programs.cpp, devices.cpp) with its three faces
// side by side; the session, its overlay and the recording of a line are in
// session.cpp, with the state they share in the private session.h.
//
// One session per process at a time, on one thread: the exports hold the
// machine-wide uninstall lock while one is open.
#pragma once

#include <windows.h>
#include <setupapi.h>
#include <winsvc.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "platform/handle.h"

namespace kyd::machine {

enum class Mode { kPerform, kPlan, kJournal };

// The failure a journaled change reports when what it would destroy could not
// be saved (the item is left as it was).
constexpr DWORD kNotSaved = ERROR_WRITE_FAULT;

// File names inside a journal folder.
constexpr wchar_t kManifestName[] = L"manifest.txt";
constexpr wchar_t kRestoreReportName[] = L"restore.txt";

class Session {
 public:
  // kPlan or kJournal into `folder`, which must exist, be writable and be
  // empty (refused with a log line otherwise: ok() is false and the session
  // is not in force). A journal's folder is given Administrators as owner and
  // a protected DACL (Administrators and SYSTEM) first, and its secret is
  // made. With `continueIn`, the folder already holds the manifest of a
  // session of the same mode that this process continues (a child program
  // started by that session); a journal's secret must be at hand.
  Session(Mode mode, const std::wstring& folder, bool continueIn = false);
  ~Session();
  Session(const Session&) = delete;
  Session& operator=(const Session&) = delete;

  bool ok() const { return state_ != nullptr; }
  // False when a line of a change made or planned could not be written (here
  // or in a child program): a plan that lacks lines is no plan.
  bool complete() const;

  struct State;

 private:
  std::unique_ptr<State> state_;
};

Mode CurrentMode();
inline bool Planning() { return CurrentMode() == Mode::kPlan; }
// A plan is in force and some of its lines could not be written.
bool PlanIncomplete();

// Arguments that hand the session on to a child program that routes its own
// changes through this unit (drv64.exe): empty without a session, otherwise
// ` "--plan" "<folder>"` or ` "--journal" "<folder>"`. After the child has
// ended, ChildFinished takes in what it recorded; a child whose session is
// not complete() exits with kChildRecordLost.
std::wstring ChildArguments();
constexpr DWORD kChildRecordLost = 4;
void ChildFinished(DWORD exitCode);
// The lines written to the session's manifest by others since this process
// last looked (a child's after it answered; in a child that takes several
// commands, the starting program's before each): numbered on from them, and
// in a plan, done.
void TakeInRecorded();
// Parses those two arguments (args[i], args[i + 1]); false when they are not.
bool ParseChildArguments(const std::wstring& option, const std::wstring& folder, Mode& mode);

// ------------------------------------------------------------- registry
// view: the view flag the caller opens keys with (KEY_WOW64_64KEY or 0).

// Deletes parent\path, which must have no subkeys (RegDeleteKeyExW in the
// given view where Windows has it, RegDeleteKeyW on 32-bit Windows XP).
LONG RemoveKey(HKEY parent, const std::wstring& path, REGSAM view);
// RegDeleteValueW.
LONG RemoveValue(HKEY key, const std::wstring& name);
// Opens root\path with `access` (creating it first when `create`) and sets
// the value: RegCreateKeyExW / RegOpenKeyExW, then RegSetValueExW. The
// result of whichever failed.
LONG WriteValue(HKEY root, const std::wstring& path, REGSAM access, bool create,
                const std::wstring& name, DWORD type, const void* data, DWORD size);

// ------------------------------------------------------------- files
// Paths are full paths as the calling process sees them.

BOOL RemoveFile(const std::wstring& path);                      // DeleteFileW
BOOL RemoveFolder(const std::wstring& path);                    // RemoveDirectoryW
BOOL ChangeAttributes(const std::wstring& path, DWORD attributes);  // SetFileAttributesW
// A file the running system holds (a loaded program file, one open without
// delete sharing) cannot be deleted now; these delete it at the next restart
// instead. "In use": a sharing violation, or access denied on a file that is
// not read-only and that this process may open for deletion; what access
// control keeps from us stays a failure, as it would for Windows' own
// deletion at the restart. A file that can still be renamed (a loaded DLL,
// one open with delete sharing) is first moved, on its own volume, into this
// run's holding folder (`<volume root>\KYDDrvUninst.pending\<run id>`, which
// only Administrators and SYSTEM can change) under a name of its own, and that
// name is given to Windows; its path is free at once. One that cannot be
// moved is given under its own name only when no folder on its path lets
// others change it (delete, rename or re-permission it: a user could put a
// link in its way, and the restart would follow it); otherwise it is left in
// place (kLeftInPlace, logged "left in place: in use below a folder others can
// change: <path>"). The deletion is given to Windows (MoveFileExW,
// MOVEFILE_DELAY_UNTIL_REBOOT) under the item's real name, RealPath, as the
// 64-bit system process that carries it out finds it. A plan names the
// deletion as RemoveFile does (it cannot know what will be in use); a journal
// saves the item first, like any deletion, and then writes a
// delete-at-restart line (with the file's own name in `from` when it was
// moved) or a left-in-use line after it. `scheduledAs` is the real name the
// file had.
enum class Removal { kGone, kAtRestart, kLeftInPlace, kFailed };
Removal RemoveFileOrSchedule(const std::wstring& path, std::wstring* scheduledAs = nullptr);
// A folder that holds nothing but what goes at the next restart goes then
// too, after what is in it, under the same rule for the folders above it.
Removal RemoveFolderOrSchedule(const std::wstring& path, std::wstring* scheduledAs = nullptr);
// Deletions at the next restart this process has given Windows so far,
// those of its child programs (ChildScheduled) included.
long ScheduledDeletions();
void ChildScheduled();
// Files in use this process left in place (kLeftInPlace) so far.
long LeftInPlace();
// A full path as a 64-bit program names it: on 64-bit Windows a 32-bit
// program's System32 (apart from the folders WOW64 leaves alone; DriverStore
// among them from Windows 7 on) is SysWOW64, and its Sysnative is System32;
// a "\\?\" path the same.
std::wstring RealPath(const std::wstring& path);
// drv64.exe's exit code for a run that left deletions for the next restart.
constexpr DWORD kChildScheduledAtRestart = 2;

// An INF and its precompiled twin (oem12.inf, oem12.PNF), each deleted when
// present. True when at least one was deleted.
bool RemoveInfAndPnf(const std::wstring& infPath);

// ------------------------------------------------------------- programs

// TerminateProcess(process, 0); exeName and pid say which, for the record.
BOOL EndProcess(HANDLE process, DWORD pid, const wchar_t* exeName);
// ControlService(SERVICE_CONTROL_STOP). name may be null on a repeated
// request through the same handle. Recorded once the stop is accepted (a plan
// foresees that from the controls the service accepts).
BOOL StopService(SC_HANDLE service, const wchar_t* name, SERVICE_STATUS* status);
// The caller has stopped waiting for the services whose stop was accepted
// (a stop ServiceStatus saw complete needs no call).
void ServiceStopsAwaited();
// Removes a device: `remove` makes the SetupAPI calls. Recorded once per
// device instance.
bool RemoveDevice(HDEVINFO set, SP_DEVINFO_DATA* device, const std::function<bool()>& remove);
// Removes the driver package of infPath (with storeFolder, its folder in the
// driver store, when known): `remove` makes the call (DIFx, or
// SetupUninstallOEMInfW) and returns its Win32 error. The INF, its PNF and
// the store folder are saved first.
DWORD RemoveDriverPackage(const std::wstring& infPath, const std::wstring& storeFolder,
                          const std::function<DWORD()>& remove);
// The folder of the driver store that holds the package published as
// infPath (SetupGetInfDriverStoreLocationW, looked up at run time); empty
// where there is none (Windows XP, or Wine).
std::wstring DriverStoreFolder(const std::wstring& infPath);
// RunConsole(program, arguments, output) for a run that changes the machine.
// packageInf: the run removes that driver package (the tool's dp_delete),
// which is saved first as with RemoveDriverPackage. Planned: true, no output.
bool RunTool(const std::wstring& program, const std::wstring& arguments, std::wstring& output,
             const std::wstring& packageInf = {});
// Any other change that cannot be saved or undone (an uninstaller run, ...):
// `what` describes it for the record; `perform` does it. Planned: true.
bool RunProgram(const std::wstring& what, const std::function<bool()>& perform);

// ------------------------------------------------------------- reads
// These see a plan's earlier changes as done; without a plan they are the
// plain Win32 reads.

// RegOpenKeyExW (an empty path opens root itself).
LONG OpenKey(HKEY root, const std::wstring& path, REGSAM access, UniqueKey& key);
// RegQueryInfoKeyW's subkey and value counts; either pointer may be null.
bool KeyCounts(HKEY key, DWORD* subKeys, DWORD* values);
// Appends the names of the key's subkeys / values in index order; false when
// the key cannot be queried.
bool ListSubKeys(HKEY key, std::vector<std::wstring>& names);
bool ListValueNames(HKEY key, std::vector<std::wstring>& names);
// RegQueryValueExW.
LONG QueryValue(HKEY key, const std::wstring& name, DWORD* type, BYTE* data, DWORD* size);
// GetFileAttributesW, and whether the path names anything.
DWORD Attributes(const std::wstring& path);
inline bool Exists(const std::wstring& path) { return Attributes(path) != INVALID_FILE_ATTRIBUTES; }
// For folder listings: false when the entry of `folder` is gone in the plan;
// otherwise true, with its attributes as the plan has them.
bool Listed(const std::wstring& folder, WIN32_FIND_DATAW& entry);
// True when a plan has removed the device of that instance ID.
bool DeviceGone(const std::wstring& instanceId);
// QueryServiceStatus.
BOOL ServiceStatus(SC_HANDLE service, SERVICE_STATUS* status);

// ------------------------------------------------------------- one read per key
// While a RunReads is alive (one uninstall run), the path reads below read a
// key's subkey list, its value list and each of its values from the registry
// once, and answer later reads of the same key from memory, however the path
// names it (HKEY_CLASSES_ROOT and HKLM\Software\Classes, a linked control
// set and the set it links to). The seam keeps what it holds true after its
// own changes: a key or value it deletes is gone from the listings, a value
// it writes is read afresh. A program or tool run, a process ended, a device
// or driver package removal and a service stop may change the registry
// behind its back: after one, everything is read afresh (after a stop, once
// the service is seen stopped or the wait for it is over). Held are keys of the 64-bit
// view (KEY_WOW64_64KEY) under HKLM, HKU, HKCU and HKCR, except HKCR keys
// that a user's own class registrations overlay; every other read goes to
// the registry each time, as do all reads without a RunReads.
// One thread runs an uninstall: reads on other threads are plain reads.
class RunReads {
 public:
  RunReads();  // an inner RunReads shares the outer one's reads
  ~RunReads();
  RunReads(const RunReads&) = delete;
  RunReads& operator=(const RunReads&) = delete;

  // Keys listed, values read and keys found missing in the registry, and
  // reads answered from memory, so far in this run.
  struct Counts {
    long listed = 0, values = 0, missing = 0, served = 0;
  };
  Counts counts() const;

 private:
  bool outer_ = false;
};

// The subkey names / value names of root\path in `view` (appended, in index
// order), and one value's type and data. They see a plan's earlier changes
// as done. Each returns the registry's answer (ERROR_FILE_NOT_FOUND for a
// missing key or value; ERROR_MORE_DATA for a value over 16 MB, not read).
LONG ReadSubKeys(HKEY root, const std::wstring& path, REGSAM view, std::vector<std::wstring>& names);
LONG ReadValueNames(HKEY root, const std::wstring& path, REGSAM view, std::vector<std::wstring>& names);
LONG ReadValue(HKEY root, const std::wstring& path, REGSAM view, const std::wstring& name, DWORD& type,
               std::vector<BYTE>& data);

// ------------------------------------------------------------- restore

enum RestoreResult {
  kRestoreNothing = 0,   // no journal there, a plan, unreadable, or not to be trusted
  kRestoreComplete = 1,  // everything saved is back (or was already)
  kRestorePartial = 2,   // some items could not be put back: see the report
};
// Puts back, last change first, what the journal in `folder` saved, and
// writes restore.txt there: one line per change with what became of it
// (restored, present, left, not restorable and why, damaged, refused,
// failed). The whole run is undone, values it wrote included (the
// driver-search policy among them). A partial restore tried again finds
// what came back present. Only lines and material that carry the journal's seal
// are acted on (the others are named "refused" or "damaged"); a journal
// whose secret is missing, or whose folder or manifest others may change, or
// that lies below a folder others may change, is refused whole, with a log
// line saying why (and, for a folder above, restore.txt). A saved file is
// written from the very bytes whose seal was checked. Line numbers that are
// missing or repeated, or a missing end marker, make the restore partial
// (what the journal holds is still restored) and are named in the report,
// as is a journal moved from the folder it was made in. A restore that
// brought everything back deletes the journal's secret. A service is started again
// only if the run stopped it and it is stopped and not disabled now. A
// driver package is added back
// through SetupAPI (SetupCopyOEMInfW from the saved copy), never by copying
// into the INF folder or the driver store, except that a package without a
// store folder gets its INF and PNF back under their own free names.
int Restore(const std::wstring& folder);
// For tests: called with a saved copy's path after its seal was checked and
// before its bytes are written back (null: nothing is called).
void SetRestoreCheckedHook(void (*hook)(const std::wstring& savedCopy));

// Adds the driver package whose INF is `inf`, its files beside it in
// `folder`, to the driver store and publishes it (SetupCopyOEMInfW). On
// 64-bit Windows drv64.exe beside the host makes the call, as device
// installation belongs to 64-bit processes there; without it, this process.
// Returns the Win32 error (ERROR_FILE_EXISTS: published already); `published`
// is the oem INF the package is published as.
DWORD PublishDriverPackage(const std::wstring& inf, const std::wstring& folder, std::wstring& published);
// drv64.exe "kydpublish" "<inf>" "<folder>": the call made here; the exit
// code is the error, the published name is left in the folder for the caller.
int PublishDriverPackageCommand(const std::wstring& inf, const std::wstring& folder);

}  // namespace kyd::machine
