// The footprint bench (tests/support/footprint_format.md): a vendor's
// footprint file seeded into the prefix, snapshots of the registry and the
// folders before and after an uninstall, and the three checks (targets gone,
// decoys intact, nothing else changed).
#pragma once

#include <windows.h>

#include <initializer_list>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "platform/handle.h"

namespace kydtest::fp {

// kTargetNative...: targets of the native-system option (see the format).
enum class Role { kTarget, kTarget64, kTargetUnlessKept, kDecoy, kContext, kTargetNative, kTargetNativeUnlessKept };
enum class Kind { kKey, kValue, kFile, kDir, kService, kProcess, kDevice, kInf };

struct Item {
  int line = 0;
  Role role = Role::kDecoy;
  int onlyIn = 0;  // 0 both prefixes, else 64 or 32
  Kind kind = Kind::kKey;
  std::wstring where;   // hive path, folder path, service or program name, hardware ID, INF name
  std::wstring name;    // value name ("" the default value), class GUID, hardware ID an INF names
  std::wstring data;    // "type:data" of a value, text of a file
  std::wstring option;  // "attr:readonly", "inuse:open" or "inuse:loaded" for a file;
                        // "attr:open" or "link:<folder>" for a folder
  std::string Describe() const;
};

struct Footprint {
  std::string name;
  std::vector<Item> items;
};

// False with the offending line in `error` when the text is not a footprint.
bool ParseFootprint(const std::string& text, Footprint& out, std::string& error);
bool LoadFootprint(const std::wstring& path, Footprint& out, std::string& error);

// What must become of an item in this prefix for this run.
enum class Expect { kGone, kIntact, kFree, kNotSeeded };
Expect ExpectFor(const Item& item, bool is64BitWindows, bool keepDevice, bool nativeSystem = false);

// Registry (every key of HKLM and HKEY_USERS, both views, with the volatile
// video keys) and the whole system drive, in canonical lower-case paths:
// "hklm\software\...", "hku\<sid>\...", "c:\windows\...".
struct Snapshot {
  // key path -> value name -> data as Wine writes it; "" names the default value
  std::map<std::wstring, std::map<std::wstring, std::wstring>> keys;
  std::map<std::wstring, std::wstring> files;  // path -> attributes, size and time
  std::map<std::wstring, std::wstring> links;  // registry link -> its target
};
// volatileKeys: further volatile keys to walk, as footprint paths ("HKLM\\...").
Snapshot TakeSnapshot(const std::vector<std::wstring>& volatileKeys = {});

struct Change {
  std::wstring path;       // canonical key, "key\:value name" or file path
  std::wstring valueName;  // for value changes; the key is `path`
  bool isValue = false;
  bool isFile = false;
  std::string what;  // "added", "removed", "changed"
  std::string Describe() const;
};
// shellKeys (canonical): keys under which added keys and values are left
// out, as ShellStartupKeys gives them.
std::vector<Change> Diff(const Snapshot& before, const Snapshot& after,
                         const std::vector<std::wstring>& shellKeys = {});

// What the Windows shell writes of its own when it starts: the keys of its
// user's hive (footprint paths) in which it makes keys and values the first
// time it runs. A deep clean ends the shell and drvuninst starts it again at
// the end of the run; the shell then writes in the background, into a later
// snapshot or the next. The comparisons leave out what was added in or below
// these keys, and only that: a key or value removed or changed there still
// counts, and a key the footprint names a key or value at or below is left
// out of the list, so that every change in it counts.
inline constexpr const wchar_t* kShellStartupKeys[] = {
    // The shell's folder settings: shell32 makes the key (creating it to read
    // HideFileExt) the first time it shows a file's name, as a starting shell
    // does when it lists the desktop.
    L"HKCU\\Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Advanced",
};
std::vector<std::wstring> ShellStartupKeys(const Footprint& footprint, const Snapshot& snapshot);

// Registry and file paths compare without regard to case.
std::wstring LowerCase(std::wstring text);

// The canonical form of a footprint registry path ("HKCR\CLSID\...") in this
// prefix, following the registry links the snapshot found.
std::wstring CanonicalKey(const std::wstring& hivePath, const Snapshot& snapshot);
// A physical folder path for a footprint path with folder tokens.
std::wstring ResolveFolder(const std::wstring& tokenPath);
// The second user's hive name under HKEY_USERS.
constexpr wchar_t kSecondUser[] = L"kydfp";

// What became of one seeded item between two snapshots.
struct Verdict {
  const Item* item = nullptr;
  Expect expect = Expect::kFree;
  bool gone = false;    // absent, stopped, ended, removed
  bool intact = false;  // as before: same subtree or data, running, present
  std::string failure;  // empty when the item is as `expect` says
};

// Seeds a footprint into the prefix, and removes what is left of it when it
// goes (keys and values, files and folders, services, processes, devices,
// INF files, the second user's hive).
class Bench {
 public:
  Bench(Footprint footprint, bool keepDevice, bool nativeSystem = false);
  ~Bench();
  Bench(const Bench&) = delete;
  Bench& operator=(const Bench&) = delete;

  bool Seed(std::string& error);
  // The footprint's device: the hardware ID and class the uninstall is for.
  const std::wstring& hardwareId() const { return hardwareId_; }
  const std::wstring& classGuid() const { return classGuid_; }
  // Accounts the host's account list names ("name:privilege;..."), for the
  // netapi32 double: this account (an administrator), the second user, a
  // guest and an ordinary user named ASPNET.
  std::wstring Accounts() const;

  // Volatile keys the seeding made outside the video adapter keys.
  std::vector<std::wstring> VolatileKeys() const;

  // The footprint as loaded.
  const Footprint& footprint() const { return footprint_; }

  // Each seeded item in `now`, against `before`. A target service or
  // program still running is given time to stop or end, unless the run is
  // not one that removes them (the seeding, a restore): then it is looked
  // at once, as a decoy always is.
  std::vector<Verdict> Judge(const Snapshot& before, const Snapshot& now, bool awaitTargets = true) const;
  // The changes from `before` to `now` that no seeded item explains (nor
  // what the uninstall flow itself writes).
  std::vector<Change> Unexplained(const Snapshot& before, const Snapshot& now) const;
  // The three checks; each failure is one message.
  std::vector<std::string> Check(const Snapshot& before, const Snapshot& after) const;
  // After a restore: every decoy is intact and every target is back, but
  // the programs ended and the devices removed, which cannot come back. Each
  // failure is one message naming the item.
  std::vector<std::string> CheckBack(const Snapshot& before, const Snapshot& now) const;
  // Every seeded file still holds the bytes it was seeded with (after a
  // restore: the targets came back byte for byte).
  std::vector<std::string> CheckContents() const;

  // Files in use (the file option inuse:open or inuse:loaded): seeded and
  // then held by a program of another maker. Until SimulateRestart a target
  // in use, and a target folder that holds one, counts as gone when it is
  // still there and due for deletion at the next restart; afterwards when it
  // is gone.
  bool HasFilesInUse() const;
  // The list of deletions at the next restart after an uninstall: the other
  // program's operation first and as it was, then exactly the targets in
  // use, where they are on disk, and folders above them, each file before
  // the folders that hold it. Each failure is one message.
  std::vector<std::string> CheckPending() const;
  // A restart as far as files go: the holder ends (nothing holds the files
  // any more), then "wineboot -r" carries out the list as Windows does at
  // start.
  bool SimulateRestart(std::string& error);

  // The registry keys of the seeded devices (enumerator keys), as `snapshot`
  // names them: removing a device changes them, and the plan names that
  // removal only as what would run.
  std::vector<std::wstring> DeviceKeys(const Snapshot& snapshot) const;

 public:
  struct State;

 private:
  std::unique_ptr<State> state_;
  Footprint footprint_;
  bool keepDevice_, nativeSystem_;
  std::wstring hardwareId_, classGuid_;
};

// Plans and journals (tests/support/footprint_plan.cpp), against snapshots.
// The plan in planFolder, its registry and file changes mapped to the
// snapshot's, against the real run's difference item for item (processes,
// services and devices are what the plan says would run or end: not in a
// snapshot). Each failure is one message.
// journalFolder: the real run's journal; a deletion it marks as left for the
// next restart counts as done.
std::vector<std::string> ComparePlan(const std::wstring& planFolder, const Snapshot& before, const Snapshot& after,
                                     const std::vector<std::wstring>& deviceKeys,
                                     const std::vector<std::wstring>& shellKeys,
                                     const std::wstring& journalFolder = {});
// After a restore from journalFolder: everything of `before` is back, except
// what its restore.txt names as not restorable.
std::vector<std::string> CheckRestored(const std::wstring& journalFolder, const Snapshot& before,
                                       const Snapshot& restored, const std::vector<std::wstring>& deviceKeys,
                                       const std::vector<std::wstring>& shellKeys);

// Privileges of the test process's token switched on for the object's life,
// then put back as they were.
class PrivilegesScope {
 public:
  explicit PrivilegesScope(std::initializer_list<const wchar_t*> names);
  ~PrivilegesScope();
  PrivilegesScope(const PrivilegesScope&) = delete;
  PrivilegesScope& operator=(const PrivilegesScope&) = delete;

 private:
  kyd::UniqueHandle token_;
  std::vector<BYTE> previous_;
};

}  // namespace kydtest::fp
