// The seam under the engine: a footprint that every engine primitive acts on
// (registry trees in both views and the user's hive, values of every type,
// COM classes, a startup entry, folder trees with read-only files, driver
// packages through the device-console tool, leftover INFs, a written value,
// a process, a service) cleaned in plan, journal and plain runs.
#include <gtest/gtest.h>

#include <cstdio>
#include <functional>
#include <memory>

#include "engine/base_drv_uninst.h"
#include "interface/driver_search.h"
#include "machine/dir_tree.h"
#include "machine/journal.h"
#include "machine/machine.h"
#include "removal/leftover_inf.h"
#include "support/device_tool_bench.h"
#include "support/engine_bench.h"
#include "support/machine_snapshot.h"
#include "support/staged_host.h"
#include "support/wine_bench.h"

namespace {

using namespace kydtest;
namespace machine = kyd::machine;

// One seeded item. Tokens: %R% the test's key below SOFTWARE, %U% the user's
// hive, %G1%..%G3% class, application and type library IDs, %D% the test's
// folder. Values are "type:data": sz, expand, multi ('|' between strings),
// dword, qword, binary (hex), none (hex), rawsz (hex bytes of a string value
// without its terminator). Files: data is the content, name "ro" makes it
// read-only, "hs" hidden and system.
struct Seed {
  const wchar_t* kind;
  const wchar_t* where;
  const wchar_t* name;
  const wchar_t* data;
};

const Seed kFootprint[] = {
    // The vendor's tree, three levels deep, with a value of every type.
    {L"value", L"HKLM\\%R%\\Vendor\\Deep\\Deeper", L"sz", L"sz:text"},
    {L"value", L"HKLM\\%R%\\Vendor\\Deep", L"binary", L"binary:00ff10fe"},
    {L"value", L"HKLM\\%R%\\Vendor\\Deep", L"multi", L"multi:one|two||three"},
    {L"value", L"HKLM\\%R%\\Vendor\\Deep", L"expand", L"expand:%SystemRoot%\\kyd"},
    {L"value", L"HKLM\\%R%\\Vendor\\Deep", L"dword", L"dword:0x12345678"},
    {L"value", L"HKLM\\%R%\\Vendor\\Deep", L"qword", L"qword:0x1122334455667788"},
    {L"value", L"HKLM\\%R%\\Vendor\\Deep", L"none", L"none:0102"},
    {L"value", L"HKLM\\%R%\\Vendor\\Deep", L"\u540d\u524d\u03a9\U0001F600 tab\there", L"sz:outside the code page"},
    {L"value", L"HKLM\\%R%\\Vendor\\Deep", L"lone\xD800", L"rawsz:41004200"},
    {L"value", L"HKLM\\%R%\\Vendor", L"", L"sz:the default value"},
    {L"key", L"HKLM\\%R%\\Vendor\\Empty", L"", L""},
    {L"value", L"HKLM\\%R%\\Keep", L"x", L"sz:stays"},
    // The same in the 32-bit view and in the user's hive.
    {L"value", L"HKLM\\SOFTWARE\\Wow6432Node\\%N%\\Vendor\\Sub", L"v", L"dword:1"},
    {L"value", L"HKLM\\SOFTWARE\\Wow6432Node\\%N%\\Keep", L"v", L"dword:2"},
    {L"value", L"%U%\\Vendor\\Sub", L"v", L"sz:user"},
    {L"value", L"%U%\\Keep", L"v", L"sz:user"},
    // Values swept by name and by data; keys found by a value's name and data.
    {L"value", L"HKLM\\%R%\\Values", L"VendorTray", L"sz:a"},
    {L"value", L"HKLM\\%R%\\Values", L"OtherTray", L"sz:b"},
    {L"value", L"HKLM\\%R%\\Data", L"one", L"sz:C:\\Vendor\\one.exe"},
    {L"value", L"HKLM\\%R%\\Data", L"two", L"sz:C:\\Other\\two.exe"},
    {L"value", L"HKLM\\%R%\\ByName\\A", L"VendorMark", L"sz:x"},
    {L"value", L"HKLM\\%R%\\ByName\\B", L"Other", L"sz:x"},
    {L"value", L"HKLM\\%R%\\ByData\\A", L"DisplayName", L"sz:Vendor Suite"},
    {L"value", L"HKLM\\%R%\\ByData\\B", L"DisplayName", L"sz:Other Suite"},
    // A COM class found by its server file, with its application ID and type library.
    {L"value", L"HKLM\\Software\\Classes\\CLSID\\%G1%\\InprocServer32", L"", L"sz:C:\\x\\kydseamvendor%N%.dll"},
    {L"value", L"HKLM\\Software\\Classes\\CLSID\\%G1%", L"AppID", L"sz:%G2%"},
    {L"value", L"HKLM\\Software\\Classes\\CLSID\\%G1%\\TypeLib", L"", L"sz:%G3%"},
    {L"value", L"HKLM\\Software\\Classes\\AppID\\%G2%", L"", L"sz:kydseam"},
    {L"value", L"HKLM\\Software\\Classes\\TypeLib\\%G3%\\1.0", L"", L"sz:kydseam"},
    // A startup entry of a program the folder clean deletes.
    {L"value", L"HKLM\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Run", L"%N%", L"sz:\"%D%\\Vendor\\tray.exe\" /s"},
    // Folders and files.
    {L"file", L"%D%\\Vendor\\tray.exe", L"", L"tray"},
    {L"file", L"%D%\\Vendor\\A\\B\\deep.dll", L"ro", L"deep, read-only"},
    {L"file", L"%D%\\Vendor\\A\\desktop.ini", L"hs", L"hidden and system"},
    {L"dir", L"%D%\\Vendor\\Empty", L"", L""},
    {L"file", L"%D%\\Parent\\kydvOne\\x.txt", L"", L"x"},
    {L"dir", L"%D%\\Parent\\KYDVtwo", L"", L""},
    {L"file", L"%D%\\Coinst\\coinst_1.dll", L"", L"c"},
    {L"file", L"%D%\\Coinst\\coinst_dir\\y.txt", L"", L"y"},
    {L"file", L"%D%\\Coinst\\other.dll", L"", L"o"},
    {L"file", L"%D%\\Named\\a.dll", L"", L"a"},
    {L"file", L"%D%\\Named\\ro.dll", L"ro", L"r"},
    {L"file", L"%D%\\Named\\keep.dll", L"", L"k"},
};

std::wstring Replace(std::wstring text, const std::wstring& token, const std::wstring& value) {
  for (size_t at = text.find(token); at != std::wstring::npos; at = text.find(token, at + value.size()))
    text.replace(at, token.size(), value);
  return text;
}

bool SplitName(const std::wstring& name, HKEY& root, std::wstring& path) {
  if (name.rfind(L"HKLM\\", 0) == 0) root = HKEY_LOCAL_MACHINE, path = name.substr(5);
  else if (name.rfind(L"HKU\\", 0) == 0) root = HKEY_USERS, path = name.substr(4);
  else return false;
  return true;
}

std::vector<BYTE> HexBytes(const std::wstring& hex) {
  std::vector<BYTE> bytes;
  for (size_t i = 0; i + 1 < hex.size(); i += 2) bytes.push_back(static_cast<BYTE>(std::stoul(hex.substr(i, 2), nullptr, 16)));
  return bytes;
}

bool SeedValue(HKEY root, const std::wstring& path, const std::wstring& name, const std::wstring& spec) {
  std::wstring type = spec.substr(0, spec.find(L':')), text = spec.substr(spec.find(L':') + 1);
  std::vector<BYTE> bytes;
  DWORD kind = REG_SZ;
  auto wide = [&](const std::wstring& s) {
    const BYTE* p = reinterpret_cast<const BYTE*>(s.c_str());
    bytes.assign(p, p + (s.size() + 1) * sizeof(wchar_t));
  };
  if (type == L"sz") wide(text);
  else if (type == L"expand") kind = REG_EXPAND_SZ, wide(text);
  else if (type == L"multi") kind = REG_MULTI_SZ, wide(Replace(text, L"|", std::wstring(1, L'\0')) + L'\0');
  else if (type == L"binary") kind = REG_BINARY, bytes = HexBytes(text);
  else if (type == L"none") kind = REG_NONE, bytes = HexBytes(text);
  else if (type == L"rawsz") bytes = HexBytes(text);
  else if (type == L"dword" || type == L"qword") {
    unsigned long long number = std::stoull(text, nullptr, 0);
    kind = type == L"dword" ? REG_DWORD : REG_QWORD;
    const BYTE* p = reinterpret_cast<const BYTE*>(&number);
    bytes.assign(p, p + (type == L"dword" ? 4 : 8));
  }
  return RegSetBytes(root, path, name, kind, bytes.data(), static_cast<DWORD>(bytes.size()));
}

// The footprint seeded into the prefix, with everything the engine needs to
// clean it; gone again when the object goes.
class Footprint {
 public:
  Footprint() {
    const std::wstring n = UniqueName(L"KydSeam");
    tokens_ = {{L"%R%", L"SOFTWARE\\" + n}, {L"%N%", n}, {L"%U%", CurrentUserKeyName() + L"\\Software\\" + n},
               {L"%G1%", NewGuid()}, {L"%G2%", NewGuid()}, {L"%G3%", NewGuid()}, {L"%D%", dir_.path()}};
    // On 32-bit Windows a plain key, shared by every footprint: made here and
    // left, so that no footprint's cleanup takes another's keys with it.
    if (!Is64BitPrefix()) RegCreate(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Wow6432Node");
    for (const wchar_t* root : {L"HKLM\\%R%", L"HKLM\\SOFTWARE\\Wow6432Node\\%N%", L"%U%",
                                L"HKLM\\Software\\Classes\\CLSID\\%G1%", L"HKLM\\Software\\Classes\\AppID\\%G2%",
                                L"HKLM\\Software\\Classes\\TypeLib\\%G3%"}) {
      HKEY hive;
      std::wstring path;
      if (SplitName(Expand(root), hive, path)) keys_.Add(hive, path);
      watch_.Tree(Expand(root));
    }
    for (const Seed& seed : kFootprint) {
      std::wstring where = Expand(seed.where), kind = seed.kind;
      HKEY hive;
      std::wstring path;
      if (kind == L"value" && SplitName(where, hive, path)) {
        EXPECT_TRUE(SeedValue(hive, path, Expand(seed.name), Expand(seed.data))) << ToNarrow(where);
      } else if (kind == L"key" && SplitName(where, hive, path)) {
        EXPECT_TRUE(RegCreate(hive, path));
      } else {
        MakeFolders(kind == L"dir" ? where : where.substr(0, where.rfind(L'\\')));
        if (kind == L"file") {
          EXPECT_TRUE(WriteFileBytes(where, ToNarrow(seed.data)));
          if (std::wstring(seed.name) == L"ro") SetFileAttributesW(where.c_str(), FILE_ATTRIBUTE_READONLY);
          if (std::wstring(seed.name) == L"hs")
            SetFileAttributesW(where.c_str(), FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM);
        }
      }
    }
    watch_.Value(L"HKLM\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Run", Expand(L"%N%"));
    watch_.Folder(dir_.path());
    // Driver packages naming the device (the tool removes them) and a
    // leftover INF naming a second device.
    for (const std::wstring& id : {device_, leftover_, device_.substr(0, 12) + L"&DEV_FFFF"}) {
      infs_.push_back(std::make_unique<SeededInf>(FreeOemInfName(), InfText(id)));
      std::wstring name = infs_.back()->path().substr(infs_.back()->path().rfind(L'\\') + 1);
      watch_.Files(InfDir(), name.substr(0, name.size() - 3) + L"*");
    }
    tray_ = Expand(L"kydseamtray%N%.exe");
    EXPECT_GE(sleepers_.Start(tray_), 0);
    watch_.Processes(tray_);
    service_ = std::make_unique<TestService>(Expand(L"KydSeamSvc%N%"), "stop");
    EXPECT_TRUE(service_->running());
    watch_.Service(service_->name());
    EXPECT_TRUE(resources_.ok());
  }
  ~Footprint() {
    RegDeleteValueIfPresent(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Run", Expand(L"%N%"));
    for (const std::wstring& path : {Expand(L"%D%\\Vendor\\A\\B\\deep.dll"), Expand(L"%D%\\Named\\ro.dll")})
      SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_NORMAL);
  }

  std::wstring Expand(const std::wstring& text) const {
    std::wstring out = text;
    for (const auto& [token, value] : tokens_) out = Replace(out, token, value);
    return out;
  }
  const MachineWatch& watch() const { return watch_; }
  MachineState Take() const { return watch_.Take(); }

  // The clean, as a list of engine steps in the order a vendor cleaner
  // takes them: programs first, then registry, then files.
  std::vector<std::function<void()>> Steps() {
    const wchar_t* const vendor[] = {L"vendor"};
    std::wstring r = Expand(L"SOFTWARE\\%N%");
    return {
        [this] { engine_.SnapshotRunEntries(); },
        [this] {
          const wchar_t* const services[] = {service_->name().c_str()};
          engine_.StopServices(services);
        },
        [this] {
          const wchar_t* const programs[] = {tray_.c_str()};
          engine_.KillProcesses(programs);
        },
        [=, this] { engine_.DeleteSubKeysByName(HKEY_LOCAL_MACHINE, r, vendor); },
        [=, this] { engine_.DeleteSubKeysByName(HKEY_LOCAL_MACHINE, Expand(L"SOFTWARE\\Wow6432Node\\%N%"), vendor); },
        [=, this] { engine_.DeleteSubKeysByName(HKEY_CURRENT_USER, Expand(L"Software\\%N%"), vendor); },
        [=, this] { engine_.DeleteValuesByName(r + L"\\Values", vendor); },
        [=, this] {
          const wchar_t* const data[] = {L"\\vendor\\"};
          engine_.DeleteValuesByData(r + L"\\Data", data);
        },
        [=, this] { engine_.DeleteSubKeysByValueName(r + L"\\ByName", HKEY_LOCAL_MACHINE, L"VendorMark"); },
        [=, this] {
          const wchar_t* const suite[] = {L"Vendor Suite"};
          engine_.DeleteSubKeysByValueData(suite, HKEY_LOCAL_MACHINE, r + L"\\ByData", L"DisplayName");
        },
        [this] {
          // Named after this footprint: another test program may clean classes at the same time.
          const std::wstring name = Expand(L"kydseamvendor%N%");
          const wchar_t* const server[] = {name.c_str()};
          engine_.CleanClasses(server);
        },
        [this] {
          const DWORD one = 1, size = sizeof one;
          kyd::WriteRegDword(Expand(L"%R%\\Policy").c_str(), L"Set", &one, &size, !Is64BitPrefix());
        },
        [this] { engine_.DeleteFolderTree(Expand(L"%D%\\Vendor")); },
        [this] { engine_.DeleteMatchingSubfolders(L"kydv", Expand(L"%D%\\Parent")); },
        [this] { engine_.DeleteMatchingEntries(L"\\coinst_*.*", Expand(L"%D%\\Coinst")); },
        [this] {
          const wchar_t* const named[] = {L"a.dll", L"ro.dll"};
          engine_.DeleteFilesInFolder(named, Expand(L"%D%\\Named"));
        },
        [this] { engine_.CleanDriverStore(device_.c_str()); },
        [this] { kyd::DeleteLeftoverInfHere(leftover_.c_str()); },
    };
  }
  void Run(size_t from = 0, size_t to = SIZE_MAX) {
    auto steps = Steps();
    for (size_t i = from; i < std::min(to, steps.size()); ++i) steps[i]();
  }
  static constexpr size_t kProgramSteps = 3;  // the steps that end programs come first

 private:
  static std::wstring InfText(const std::wstring& id) {
    return L"[Version]\r\nSignature=\"$Windows NT$\"\r\n[Devices]\r\n%Dev%=Install, " + id + L"\r\n";
  }
  static void MakeFolders(const std::wstring& folder) {
    size_t slash = folder.rfind(L'\\');
    if (!FileExists(folder) && slash != std::wstring::npos) MakeFolders(folder.substr(0, slash));
    CreateDirectoryW(folder.c_str(), nullptr);
  }

  ScratchDir dir_{L"seam"};
  ScratchDir temp_{L"seam temp"};
  TempFolderScope tempScope_{temp_.path()};
  LibraryResourcesScope resources_;
  std::vector<std::pair<std::wstring, std::wstring>> tokens_;
  SeededKeys keys_;
  MachineWatch watch_;
  std::vector<std::unique_ptr<SeededInf>> infs_;
  std::wstring device_ = L"PCI\\VEN_F1" + std::to_wstring(10 + GetCurrentProcessId() % 89) + L"&DEV_" +
                         std::to_wstring(1000 + GetCurrentProcessId() % 8999) + L"&SUBSYS_00000001";
  std::wstring leftover_ = L"PCI\\VEN_F2" + std::to_wstring(10 + GetCurrentProcessId() % 89) + L"&DEV_0001";
  std::wstring tray_;
  SleeperProcesses sleepers_{dir_.path()};
  std::unique_ptr<TestService> service_;
  TestEngine engine_;
};

std::string Join(const std::vector<std::string>& lines) {
  std::string text;
  for (const std::string& line : lines) text += "  " + line + "\n";
  return text;
}

std::wstring Outcomes(const std::wstring& journal) { return ReadUtf8(journal + L"\\restore.txt"); }

// The footprint's state, then its clean (from step `from` on) kept in a journal.
MachineState TakeAndRunJournaled(Footprint& footprint, const ScratchDir& journal, size_t from = 0) {
  MachineState before = footprint.Take();
  machine::Session session(machine::Mode::kJournal, journal.path());
  EXPECT_TRUE(session.ok());
  if (session.ok()) footprint.Run(from);
  return before;
}

// A plan changes nothing, and carried out on the machine as it was it gives
// exactly what a real run leaves: every later step saw the plan's earlier
// deletions (emptied keys and folders go too, the tool's packages are not
// deleted twice, the startup entry goes with its program).
TEST(SeamPlan, ChangesNothingAndEqualsWhatARealRunChanges) {
  Footprint footprint;
  ScratchDir journal(L"plan");
  const MachineState before = footprint.Take();
  ASSERT_GT(before.size(), 40u);
  {
    machine::Session plan(machine::Mode::kPlan, journal.path());
    ASSERT_TRUE(plan.ok());
    footprint.Run();
  }
  EXPECT_EQ(Join(Differences(before, footprint.Take())), "") << "the plan changed the machine";

  MachineState planned = before;
  std::string problem;
  ASSERT_TRUE(ApplyPlan(journal.path(), footprint.watch(), planned, problem)) << problem;
  footprint.Run();
  const MachineState after = footprint.Take();
  EXPECT_EQ(Join(Differences(planned, after)), "") << "planned (left) against real (right)";
  EXPECT_GT(Differences(before, after).size(), 30u);  // the clean did clean
}

// Restore gives back what a journaled run took, byte for byte (every value
// type, the read-only and the hidden system file with their attributes and
// times), except the ended
// process, which the report names. Having served, the journal's secret is
// deleted; with it put back, a second restore finds it all present.
TEST(SeamJournal, RestoreGivesBackWhatTheRunTook) {
  Footprint footprint;
  ScratchDir journal(L"journal");
  const MachineState before = TakeAndRunJournaled(footprint, journal);
  const MachineState cleaned = footprint.Take();
  ASSERT_GT(Differences(before, cleaned).size(), 30u);

  const KeptSecret secret(journal.path());
  EXPECT_EQ(machine::Restore(journal.path()), machine::kRestoreComplete) << ToNarrow(Outcomes(journal.path()));
  for (const std::string& line : Differences(before, footprint.Take()))
    EXPECT_EQ(line.rfind("PROCESS ", 0), 0u) << line << "\n" << ToNarrow(Outcomes(journal.path()));
  EXPECT_NE(Outcomes(journal.path()).find(L"\tnot restorable\tend-process\t"), std::wstring::npos);

  EXPECT_FALSE(RegKeyExists(HKEY_LOCAL_MACHINE, secret.key(), true));
  EXPECT_EQ(machine::Restore(journal.path()), machine::kRestoreNothing) << "its secret is gone";
  ASSERT_TRUE(secret.PutBack());
  EXPECT_EQ(machine::Restore(journal.path()), machine::kRestoreComplete);
  EXPECT_EQ(Outcomes(journal.path()).find(L"\trestored\t"), std::wstring::npos) << ToNarrow(Outcomes(journal.path()));
}

// A journal that stops being writable in the middle of a run stops the
// deletions it cannot save: nothing is lost, and restore (from where the
// journal now is) gives the machine back.
TEST(SeamJournal, ChangesThatCannotBeSavedAreNotMade) {
  struct Sabotage {
    const char* name;
    std::function<std::wstring(const std::wstring&)> apply;  // returns where the journal is now
    std::function<void(const std::wstring&)> undo;
    bool manifestSaysSo;
  };
  const Sabotage cases[] = {
      {"folder moved away",
       [](const std::wstring& f) {
         MoveFileW(f.c_str(), (f + L" away").c_str());
         return f + L" away";
       },
       [](const std::wstring& f) { MoveFileW((f + L" away").c_str(), f.c_str()); }, false},
      {"manifest read-only",
       [](const std::wstring& f) {
         SetFileAttributesW((f + L"\\manifest.txt").c_str(), FILE_ATTRIBUTE_READONLY);
         return f;
       },
       [](const std::wstring& f) { SetFileAttributesW((f + L"\\manifest.txt").c_str(), FILE_ATTRIBUTE_NORMAL); },
       false},
      // Every name the coming material would take is taken already (as when
      // the disk is full, only the short manifest lines still fit).
      {"material cannot be written",
       [](const std::wstring& f) {
         int next = static_cast<int>(ManifestLines(f).size()) + 1;
         for (int n = next; n < next + 100; ++n) {
           std::wstring name = kyd::machine::journal::MaterialName(n, L"");
           WriteFileBytes(f + L"\\" + name, "");
           WriteFileBytes(f + L"\\" + name + L".values", "");
         }
         return f;
       },
       [](const std::wstring&) {}, true},
  };
  for (const Sabotage& sabotage : cases) {
    SCOPED_TRACE(sabotage.name);
    Footprint footprint;
    ScratchDir journal(L"broken journal");
    const MachineState before = footprint.Take();
    std::wstring now;
    MachineState broken;
    {
      machine::Session session(machine::Mode::kJournal, journal.path());
      ASSERT_TRUE(session.ok());
      footprint.Run(0, Footprint::kProgramSteps + 4);
      broken = footprint.Take();
      now = sabotage.apply(journal.path());
      // Wine run by root opens a read-only file for writing all the same.
      kyd::UniqueFile probe(CreateFileW((now + L"\\manifest.txt").c_str(), FILE_APPEND_DATA,
                                        FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr));
      if (probe && !sabotage.manifestSaysSo) {
        std::printf("[ NOTE ] %s: the manifest stays writable here; case not run\n", sabotage.name);
        sabotage.undo(journal.path());
        continue;
      }
      probe.reset();
      footprint.Run(Footprint::kProgramSteps + 4);
    }
    const MachineState after = footprint.Take();
    for (const auto& [item, state] : broken)
      EXPECT_TRUE(after.count(item)) << ToNarrow(item) << " was deleted unsaved";
    bool refusedLines = false;
    for (const std::wstring& line : ManifestLines(now)) refusedLines |= line.find(L"\tnot-saved\t") != std::wstring::npos;
    EXPECT_EQ(refusedLines, sabotage.manifestSaysSo);
    sabotage.undo(journal.path());
    EXPECT_EQ(machine::Restore(journal.path()), machine::kRestoreComplete) << ToNarrow(Outcomes(journal.path()));
    for (const std::string& line : Differences(before, footprint.Take()))
      EXPECT_EQ(line.rfind("PROCESS ", 0), 0u) << line;
  }
}

// The plain checksum of a manifest line's text, as a damaged line is told by.
std::string WithChecksum(const std::string& text) {
  return text + "\t~" +
         kyd::machine::journal::ToUtf8(kyd::machine::journal::HexNumber(
             kyd::machine::journal::Fnv64(text.data(), text.size()) & 0xFFFFFFFFu, 8));
}

// A journal tampered with restores what is intact and names the rest: a
// damaged line, material lost, cut or changed (still well formed), and lines
// the library did not write, even with their plain checksum made right, are
// not acted on.
TEST(SeamJournal, RestoreActsOnlyOnIntactLinesAndMaterialItWrote) {
  namespace journal = kyd::machine::journal;
  Footprint footprint;
  ScratchDir folder(L"tampered journal");
  const MachineState before = TakeAndRunJournaled(footprint, folder, Footprint::kProgramSteps);
  const std::wstring forged = L"HKLM\\" + footprint.Expand(L"%R%") + L"\\Forged";
  std::string manifest = ReadFileBytes(folder / L"manifest.txt");
  auto material = [&](const journal::Line& line) { return folder / line.Get(L"material"); };
  auto replaceLine = [&](const std::string& old, const std::string& now) {
    size_t at = manifest.find(old + "\r\n");
    ASSERT_NE(at, std::string::npos);
    manifest.replace(at, old.size(), now);
  };
  struct Tamper {
    const char* what;
    const wchar_t* verb;  // the line tampered with: its verb and a part of it
    const wchar_t* part;
    std::function<void(const std::string& text, journal::Line& line)> apply;
    const wchar_t* outcome;  // what the report says of the line (number first)
    const char* missing;     // what stays missing, in the watch's names; null: nothing
    int missingItems;
  };
  const Tamper tampers[] = {
      {"line text altered", L"\tdelete-key\t", L"\\ByName\\A",
       [&](const std::string& text, journal::Line&) {
         std::string altered = text;
         altered[altered.find("ByName") + 2] = 'X';
         replaceLine(text, altered);
       },
       nullptr, "\\BYNAME\\A", 2},
      {"value material lost", L"\tdelete-value\t", L"\tname=VendorTray\t",
       [&](const std::string&, journal::Line& line) { ASSERT_TRUE(DeleteFileW(material(line).c_str())); },
       L"\tdamaged\tdelete-value\t", "|VENDORTRAY", 1},
      {"values changed, still well formed", L"\tdelete-value\t", L"\tname=one\t",
       [&](const std::string&, journal::Line& line) {
         std::vector<journal::SavedValue> values;
         ASSERT_TRUE(journal::ParseValues(ReadFileBytes(material(line)), values) && values.size() == 1u);
         values[0].data[0] ^= 1;
         ASSERT_TRUE(WriteFileBytes(material(line), journal::FormatValues(values)));
       },
       L"\tdamaged\tdelete-value\t", "|ONE", 1},
      {"file copy changed, same size", L"\tdelete-file\t", L"\\Named\\a.dll",
       [&](const std::string&, journal::Line& line) { ASSERT_TRUE(WriteFileBytes(material(line) + L"\\1", "b")); },
       L"\tdamaged\tdelete-file\t", "\\NAMED\\A.DLL", 1},
      {"index changed, still well formed", L"\tdelete-file\t", L"tray.exe",
       [&](const std::string&, journal::Line& line) {
         std::vector<journal::SavedItem> items;
         ASSERT_TRUE(journal::ParseIndex(ReadFileBytes(material(line) + L"\\index.txt"), items));
         items[0].attributes |= FILE_ATTRIBUTE_HIDDEN;
         ASSERT_TRUE(WriteFileBytes(material(line) + L"\\index.txt", journal::FormatIndex(items)));
       },
       L"\tdamaged\tdelete-file\t", "\\VENDOR\\TRAY.EXE", 1},
      {"a line added, its checksum made right", nullptr, nullptr,
       [&](const std::string&, journal::Line&) {
         journal::Line line;
         line.number = 9000;
         line.verb = L"delete-key";
         line.target = forged;
         const std::string values = journal::FormatValues({{L"ImagePath", REG_SZ, {'x', 0, 0, 0}}});
         ASSERT_TRUE(WriteFileBytes(folder / L"009000.values", values));
         line.Set(L"view", L"64").Set(L"material", L"009000.values").Set(L"mac", std::wstring(40, L'0'));
         manifest += journal::Format(line) + "\r\n";
       },
       L"9000\trefused\tdelete-key\t", nullptr, 0},
      {"a line retargeted, its seal kept, its checksum made right", L"\tdelete-key\t", L"\\ByData\\A",
       [&](const std::string& text, journal::Line& line) {
         std::string now = line.sealed, old = journal::ToUtf8(line.target);
         now.replace(now.find(old), old.size(), journal::ToUtf8(forged));
         replaceLine(text, WithChecksum(now + "\t@" + journal::ToUtf8(line.seal)));
       },
       L"\trefused\tdelete-key\t", "\\BYDATA\\A", 2},
  };
  std::wstring expected;
  int missingItems = 0;
  for (const Tamper& tamper : tampers) {
    SCOPED_TRACE(tamper.what);
    journal::Line line;
    std::string text;
    for (const std::wstring& candidate : ManifestLines(folder.path()))
      if (tamper.verb && candidate.find(tamper.verb) != std::wstring::npos &&
          candidate.find(tamper.part) != std::wstring::npos)
        text = journal::ToUtf8(candidate);
    ASSERT_TRUE(!tamper.verb || journal::Parse(text, line)) << "no line " << ToNarrow(tamper.part);
    tamper.apply(text, line);
    if (tamper.outcome) expected += (tamper.verb ? std::to_wstring(line.number) : L"") + tamper.outcome + L"\n";
    missingItems += tamper.missingItems;
  }
  ASSERT_TRUE(WriteFileBytes(folder / L"manifest.txt", manifest));

  EXPECT_EQ(machine::Restore(folder.path()), machine::kRestorePartial);
  const std::wstring report = Outcomes(folder.path());
  EXPECT_NE(report.find(L"\tdamaged\tline not restored:"), std::wstring::npos) << ToNarrow(report);
  for (size_t at = 0, end; (end = expected.find(L'\n', at)) != std::wstring::npos; at = end + 1)
    EXPECT_NE(report.find(expected.substr(at, end - at)), std::wstring::npos)
        << ToNarrow(expected.substr(at, end - at)) << "\n" << ToNarrow(report);
  // What is missing is exactly what the tampered parts held; nothing forged came.
  std::vector<std::string> missing = Differences(before, footprint.Take());
  for (const std::string& item : missing) {
    bool fromTamper = false;
    for (const Tamper& tamper : tampers)
      fromTamper = fromTamper || (tamper.missing && item.find(tamper.missing) != std::string::npos);
    EXPECT_TRUE(fromTamper) << item;
  }
  EXPECT_EQ(missing.size(), static_cast<size_t>(missingItems)) << Join(missing);
  EXPECT_FALSE(RegKeyExists(HKEY_LOCAL_MACHINE, forged.substr(5), true));
}

// A removed driver package whose oem INF name another package took since
// comes back through SetupAPI, published under a name of its own, while the
// other package's INF stays; with a store folder (Windows Vista on) nothing is
// copied into the store by hand. A second restore finds it published. The
// store folder is saved where Windows keeps it (a 32-bit program on 64-bit
// Windows reads it with redirection off: Windows Vista and Server 2008 x64,
// like Wine, redirect System32\DriverStore for it). On 64-bit Windows the
// shipped library hands the package to drv64.exe; without drv64.exe the
// library publishes it itself. A package whose store folder cannot be seen is
// not removed: the journal would not hold it.
TEST(SeamJournal, ARemovedDriverPackageIsPublishedAgainThroughSetupApi) {
  StagedHost host;
  enum class Store { kSaved, kNone, kUnseen };
  struct Case {
    const char* what;
    Store store;
    bool byDrv64;
  };
  const Case cases[] = {
      {"store folder", Store::kSaved, Is64BitPrefix()},
      {"store folder, published by the library itself", Store::kSaved, false},
      {"no store folder (Windows XP)", Store::kNone, Is64BitPrefix()},
      {"store folder that cannot be seen", Store::kUnseen, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    auto restore = [&](const std::wstring& journal) {
      return c.byDrv64 ? LibraryResult(host.Cli(L"restore \"" + journal + L"\"")) : machine::Restore(journal);
    };
    const bool withStore = c.store != Store::kNone;
    const std::wstring name = UniqueName(L"kydpkg") + L".inf";
    // Without a store folder nothing but the INF was saved: its catalog is not at hand.
    const std::string text = "[Version]\r\nSignature=\"$Windows NT$\"\r\nClass=KydTest\r\n" +
                             std::string(withStore ? "CatalogFile=kydpkg.cat\r\n" : "");
    wchar_t system[MAX_PATH] = {};
    GetSystemDirectoryW(system, MAX_PATH);
    const std::wstring store = withStore ? std::wstring(system) + L"\\DriverStore\\FileRepository\\" + name +
                                               L"_x86_" + NewGuid().substr(1, 16)
                                         : std::wstring();
    SeededInf published(FreeOemInfName(), ToWide(text));
    if (c.store == Store::kSaved) {
      kyd::machine::journal::NativePaths native(true);
      for (const std::wstring& folder : {std::wstring(system) + L"\\DriverStore",
                                         std::wstring(system) + L"\\DriverStore\\FileRepository", store, store + L"\\sub"})
        CreateDirectoryW(folder.c_str(), nullptr);
      ASSERT_TRUE(WriteFileBytes(store + L"\\" + name, text) && WriteFileBytes(store + L"\\kydpkg.cat", "cat") &&
                  WriteFileBytes(store + L"\\sub\\kydpkg.sys", "sys"));
    }
    ScratchDir journal(L"package journal");
    bool removed = false;
    {
      machine::Session session(machine::Mode::kJournal, journal.path());
      ASSERT_TRUE(session.ok());
      // What Windows does when asked to remove the package.
      const DWORD result = machine::RemoveDriverPackage(published.path(), store, [&] {
        kyd::machine::journal::NativePaths native(true);
        for (const std::wstring& file : {published.path(), published.pnf(), store + L"\\" + name,
                                         store + L"\\kydpkg.cat", store + L"\\sub\\kydpkg.sys"})
          DeleteFileW(file.c_str());
        RemoveDirectoryW((store + L"\\sub").c_str());
        RemoveDirectoryW(store.c_str());
        removed = true;
        return DWORD{ERROR_SUCCESS};
      });
      EXPECT_EQ(result, c.store == Store::kUnseen ? machine::kNotSaved : DWORD{ERROR_SUCCESS});
    }
    if (c.store == Store::kUnseen) {
      EXPECT_FALSE(removed);
      EXPECT_TRUE(FileExists(published.path()));
      continue;
    }
    // The journal holds every file of the package.
    kyd::machine::journal::Manifest manifest;
    std::vector<kyd::machine::journal::SavedItem> items;
    ASSERT_TRUE(kyd::machine::journal::ReadManifest(journal.path(), manifest) && manifest.lines.size() == 1u);
    ASSERT_TRUE(kyd::machine::journal::ParseIndex(
        ReadFileBytes(journal / (manifest.lines[0].Get(L"material") + L"\\index.txt")), items));
    EXPECT_EQ(items.size(), withStore ? 7u : 2u);  // INF, PNF; the store, its INF, catalog, subfolder and driver
    ASSERT_FALSE(FileExists(published.path()));
    const std::string other = "[Version]\r\nSignature=\"$Windows NT$\"\r\nClass=Other\r\n";
    ASSERT_TRUE(WriteFileBytes(published.path(), other));  // installed since

    const KeptSecret secret(journal.path());
    EXPECT_EQ(restore(journal.path()), machine::kRestoreComplete) << ToNarrow(Outcomes(journal.path()));
    const std::wstring report = Outcomes(journal.path()), said = L"added back to the driver store as ";
    const size_t at = report.find(said);
    ASSERT_NE(at, std::wstring::npos) << ToNarrow(report);
    const std::wstring again = report.substr(at + said.size(), report.find_first_of(L"\t\r\n", at) - at - said.size());
    EXPECT_NE(kyd::machine::journal::UpperCase(again), kyd::machine::journal::UpperCase(published.path()));
    EXPECT_EQ(ReadFileBytes(again), text);
    EXPECT_EQ(ReadFileBytes(published.path()), other);
    {
      // Wine keeps no driver store: the folder could only have come back by hand.
      kyd::machine::journal::NativePaths native(true);
      EXPECT_FALSE(withStore && FileExists(store));
      EXPECT_FALSE(FileExists(journal / kyd::machine::journal::MaterialName(1, L"-stage")));
    }

    ASSERT_TRUE(secret.PutBack());  // deleted by the complete restore
    EXPECT_EQ(restore(journal.path()), machine::kRestoreComplete);
    EXPECT_NE(Outcomes(journal.path()).find(L"\tpresent\tremove-driver-package\t"), std::wstring::npos)
        << ToNarrow(Outcomes(journal.path()));
    for (const std::wstring& file : {again, again.substr(0, again.size() - 3) + L"PNF"}) DeleteFileW(file.c_str());
  }
}

}  // namespace

namespace {

// A journal kept inside a folder the clean deletes is left alone, and so is
// the folder around it, however the journal's path names it.
TEST(SeamJournal, ItsOwnFolderIsNeverCleaned) {
  struct Case {
    const char* what;
    std::function<std::wstring(const std::wstring& vendor, const std::wstring& scratch)> name;
  };
  const Case cases[] = {
      {"as it is", [](const std::wstring& vendor, const std::wstring&) { return vendor + L"\\journal"; }},
      {"as a \\\\?\\ path", [](const std::wstring& vendor, const std::wstring&) { return L"\\\\?\\" + vendor + L"\\journal"; }},
      {"by its short name",
       [](const std::wstring& vendor, const std::wstring&) {
         wchar_t name[MAX_PATH] = {};
         GetShortPathNameW((vendor + L"\\journal").c_str(), name, MAX_PATH);
         return std::wstring(name);
       }},
      {"through a folder link",
       [](const std::wstring& vendor, const std::wstring& scratch) {
         EXPECT_TRUE(MakeFolderLink(scratch + L"\\alias", vendor));
         return scratch + L"\\alias\\journal";
       }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    ScratchDir dir(L"own folder");
    const std::wstring vendor = dir / L"Vendor Files", journal = vendor + L"\\journal";
    ASSERT_TRUE(CreateDirectoryW(vendor.c_str(), nullptr) && CreateDirectoryW(journal.c_str(), nullptr));
    ASSERT_TRUE(WriteFileBytes(vendor + L"\\tray.exe", "t"));
    const std::wstring named = c.name(vendor, dir.path());
    if (&c != &cases[0]) {  // a name of its own, not the path's text
      EXPECT_NE(kyd::machine::journal::UpperCase(named), kyd::machine::journal::UpperCase(journal));
    }
    {
      machine::Session session(machine::Mode::kJournal, named);
      ASSERT_TRUE(session.ok());
      TestEngine().DeleteFolderTree(vendor);
    }
    EXPECT_TRUE(FileExists(journal + L"\\manifest.txt"));
    EXPECT_TRUE(FileExists(vendor));
    EXPECT_EQ(machine::Restore(named), machine::kRestoreComplete) << ToNarrow(Outcomes(named));
    EXPECT_TRUE(FileExists(vendor + L"\\tray.exe"));
    RemoveFolderLink(dir / L"alias");
  }
}

}  // namespace
