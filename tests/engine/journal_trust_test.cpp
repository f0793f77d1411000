// Whom a journal trusts and what it records: restore refuses a journal that
// others could have changed or whose secret is gone; stops are recorded as
// they happen; what the user changed since the run is left as it is; a
// change is not made when what it destroys cannot be read; a folder link
// comes back as the link it was or is reported as not back; a plan that
// lost lines says so.
#include <gtest/gtest.h>

#include <aclapi.h>
#include <sddl.h>

#include <functional>

#include "engine/base_drv_uninst.h"
#include "interface/driver_search.h"
#include "machine/journal.h"
#include "machine/machine.h"
#include "machine/seal.h"
#include "support/engine_bench.h"
#include "support/log_capture.h"
#include "support/machine_snapshot.h"
#include "support/wine_bench.h"

namespace {

using namespace kydtest;
namespace machine = kyd::machine;
namespace journal = kyd::machine::journal;

bool Contains(const std::vector<std::string>& lines, const std::string& part) {
  for (const std::string& line : lines)
    if (line.find(part) != std::string::npos) return true;
  return false;
}

bool HasLine(const std::wstring& folder, const std::wstring& part) {
  for (const std::wstring& line : ManifestLines(folder))
    if (line.find(part) != std::wstring::npos) return true;
  return false;
}

std::wstring Report(const std::wstring& folder) { return ReadUtf8(folder + L"\\restore.txt"); }

bool SetDacl(const std::wstring& path, const wchar_t* sddl) {
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  if (!ConvertStringSecurityDescriptorToSecurityDescriptorW(sddl, SDDL_REVISION_1, &descriptor, nullptr)) return false;
  kyd::UniqueLocal owned(descriptor);
  return SetFileSecurityW(path.c_str(), DACL_SECURITY_INFORMATION, descriptor) != FALSE;
}

// Whether the file's access list names Everyone at all.
bool OpenToEveryone(const std::wstring& path) {
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  wchar_t* text = nullptr;
  if (GetNamedSecurityInfoW(path.c_str(), SE_FILE_OBJECT, DACL_SECURITY_INFORMATION, nullptr, nullptr, nullptr,
                            nullptr, &descriptor) != ERROR_SUCCESS)
    return true;
  kyd::UniqueLocal owned(descriptor);
  ConvertSecurityDescriptorToStringSecurityDescriptorW(descriptor, SDDL_REVISION_1, DACL_SECURITY_INFORMATION, &text,
                                                       nullptr);
  kyd::UniqueLocal ownedText(text);
  return !text || std::wstring(text).find(L";WD)") != std::wstring::npos;
}

// The smallest journal (in a folder below one of the test's own): one file
// deleted under it. A folder open to everyone is no journal's: refused.
class OneFileJournal {
 public:
  OneFileJournal() {
    const std::wstring open = above_ / L"open";
    EXPECT_TRUE(CreateDirectoryW(open.c_str(), nullptr) && SetDacl(open, L"D:(A;OICI;FA;;;WD)"));
    EXPECT_FALSE(machine::Session(machine::Mode::kJournal, open).ok());
    EXPECT_TRUE(OpenToEveryone(open)) << "a refused folder was changed";
    EXPECT_TRUE(CreateDirectoryW(folder().c_str(), nullptr));
    EXPECT_TRUE(WriteFileBytes(file(), "kept"));
    machine::Session session(machine::Mode::kJournal, folder());
    EXPECT_TRUE(session.ok());
    EXPECT_TRUE(machine::RemoveFile(file()));
  }
  std::wstring above() const { return above_.path(); }
  std::wstring folder() const { return above_ / L"journal"; }
  std::wstring file() const { return dir_ / L"victim.txt"; }
  std::wstring SecretKey() const {
    journal::Manifest manifest;
    journal::ReadManifest(folder(), manifest);
    return std::wstring(journal::kSecretsKey) + L"\\" + manifest.id;
  }

 private:
  ScratchDir dir_{L"trusted"}, above_{L"trusted above"};
};

// The session protects the journal folder at once; restore
// refuses a journal that someone else could have changed since, or put in
// its way through a folder above it, or whose secret is gone, and says why;
// once the cause is mended it restores.
TEST(SeamTrust, RestoreRefusesAJournalOthersCouldHaveChanged) {
  enum Where { kFolder, kManifest, kAbove, kSecret };
  struct Case {
    Where opened;  // what is opened to everyone; kSecret: the secret is deleted
    const char* said;
  } cases[] = {{kFolder, "others can change the journal folder: "},
               {kManifest, "others can change its manifest: "},
               {kAbove, "others can change a folder above it: "},
               {kSecret, "its seal cannot be checked: its secret is missing"}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.said);
    OneFileJournal j;
    std::string why;
    EXPECT_FALSE(journal::OthersCanChange(j.folder(), why)) << "the session left its folder open: " << why;
    EXPECT_TRUE(RegKeyExists(HKEY_LOCAL_MACHINE, j.SecretKey(), true));
    const std::wstring opened = c.opened == kAbove      ? j.above()
                                : c.opened == kManifest ? j.folder() + L"\\manifest.txt"
                                                        : j.folder();
    if (c.opened != kSecret) {
      EXPECT_TRUE(SetDacl(opened, L"D:(A;OICI;FA;;;WD)"));
    } else {
      RegDeleteTreeIfPresent(HKEY_LOCAL_MACHINE, j.SecretKey(), true);
    }
    {
      LogCapture log;
      EXPECT_EQ(machine::Restore(j.folder()), machine::kRestoreNothing);
      EXPECT_TRUE(Contains(log.Messages(), "restore (" + ToNarrow(j.folder()) + "): refused, " + c.said +
                                               (c.opened == kAbove ? ToNarrow(j.above()) + ": S-1-1-0 may change it" : "")))
          << log.Text();
    }
    EXPECT_FALSE(FileExists(j.file()));
    if (c.opened == kAbove) {  // the journal folder itself is safe to write the reason in
      EXPECT_NE(Report(j.folder()).find(L"# refused\tothers can change a folder above it: " + j.above()),
                std::wstring::npos)
          << ToNarrow(Report(j.folder()));
    }
    if (c.opened == kSecret) continue;
    SetDacl(opened, L"D:P(A;OICI;FA;;;BA)(A;OICI;FA;;;SY)");
    EXPECT_EQ(machine::Restore(j.folder()), machine::kRestoreComplete) << ToNarrow(Report(j.folder()));
    EXPECT_EQ(ReadFileBytes(j.file()), "kept");
  }
}

// The trust decision itself, on descriptors built here (Wine keeps none of
// its own on folders): whom a journal's folder and manifest, and the folders
// above it, may belong to and be open to. "U" is a user other than the one
// who asks.
TEST(SeamTrust, WhoMayChangeAJournalOrAFolderAboveIt) {
  using journal::Reach;
  const std::wstring user = L"S-1-5-21-1004336348-1177238915-682003330-1001";
  const std::wstring installer = L"S-1-5-80-956008885-3418522649-1831038044-1853292631-2271478464";
  struct Case {
    const char* what;
    std::wstring sddl;
    Reach reach;
    const char* refusal;  // a part of the reason; null: trusted
  } cases[] = {
      {"the protected journal folder", L"O:BAD:P(A;OICI;FA;;;BA)(A;OICI;FA;;;SY)", Reach::kJournal, nullptr},
      {"owned by everyone", L"O:WDD:P(A;OICI;FA;;;BA)", Reach::kJournal, "it is owned by S-1-1-0"},
      {"owned by a user", L"O:" + user + L"D:P(A;OICI;FA;;;BA)", Reach::kJournal, "it is owned by S-1-5-21-"},
      {"a folder above owned by a user", L"O:" + user + L"D:P(A;OICI;FA;;;BA)", Reach::kAbove,
       "it is owned by S-1-5-21-"},
      {"owned by TrustedInstaller", L"O:" + installer + L"D:P(A;;FA;;;" + installer + L")(A;;FA;;;BA)",
       Reach::kAbove, nullptr},
      {"no access list", L"O:BA", Reach::kJournal, "it has no access list"},
      {"a user may change it", L"O:BAD:P(A;;FA;;;BA)(A;;FA;;;" + user + L")", Reach::kJournal, " may change it"},
      {"users may only read it", L"O:BAD:P(A;OICI;FA;;;BA)(A;OICI;0x1200a9;;;BU)", Reach::kJournal, nullptr},
      {"users' rights only for what is made inside", L"O:BAD:P(A;OICIIO;FA;;;BU)(A;;FA;;;BA)", Reach::kJournal,
       nullptr},
      {"users may add to the journal folder", L"O:BAD:P(A;;FA;;;BA)(A;;0x4;;;BU)", Reach::kJournal,
       "S-1-5-32-545 may change it"},
      {"a drive's root, where users may make folders",
       L"O:SYD:(A;OICIIO;SDGXGWGR;;;AU)(A;;LC;;;AU)(A;OICI;FA;;;SY)(A;OICIIO;GA;;;CO)(A;OICI;0x1200a9;;;BU)"
       L"(A;OICI;FA;;;BA)",
       Reach::kAbove, nullptr},
      {"users may delete what is in a folder above", L"O:BAD:(A;;FA;;;BA)(A;;0x1200a9;;;BU)(A;;DT;;;BU)",
       Reach::kAbove, "S-1-5-32-545 may change it"},
      {"users may rename a folder above", L"O:BAD:(A;;FA;;;BA)(A;;SD;;;BU)", Reach::kAbove,
       "S-1-5-32-545 may change it"},
      {"users may re-permission a folder above", L"O:BAD:(A;;FA;;;BA)(A;;WD;;;AU)", Reach::kAbove,
       "S-1-5-11 may change it"},
      {"everyone has full control of a folder above", L"O:BAD:(A;OICI;FA;;;WD)", Reach::kAbove,
       "S-1-1-0 may change it"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    ASSERT_TRUE(ConvertStringSecurityDescriptorToSecurityDescriptorW(c.sddl.c_str(), SDDL_REVISION_1, &descriptor,
                                                                     nullptr));
    kyd::UniqueLocal owned(descriptor);
    std::string why;
    EXPECT_EQ(journal::DescriptorLetsOthersChange(descriptor, c.reach, why), c.refusal != nullptr) << why;
    if (c.refusal) {
      EXPECT_NE(why.find(c.refusal), std::string::npos) << why;
    }
  }
}

// A stop is recorded once it was accepted, alike in plan and journal; restore
// starts only what the run stopped, and leaves a service disabled since.
TEST(SeamServices, AStopIsRecordedOnceAcceptedAndUndoneOnlyWhileWanted) {
  struct Case {
    const char* mode;
    bool disabledSince, recorded;
    DWORD afterRestore;
    const wchar_t* reported;  // restore's outcome for the stop, or null: no line
  } cases[] = {{"stop", false, true, SERVICE_RUNNING, L"\trestored\tstop-service\t"},
               {"refuse", false, false, SERVICE_RUNNING, nullptr},
               {"stop", true, true, SERVICE_STOPPED, L"\tleft\tstop-service\t"}};
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.mode) + (c.disabledSince ? ", disabled since" : ""));
    TestService service(UniqueName(L"KydSeamStop") + ToWide(c.mode) + (c.disabledSince ? L"Off" : L""), c.mode);
    ASSERT_TRUE(service.running());
    const wchar_t* const names[] = {service.name().c_str()};
    ScratchDir plan(L"stop plan"), journal(L"stop journal");
    for (const ScratchDir* folder : {&plan, &journal}) {
      machine::Session session(folder == &plan ? machine::Mode::kPlan : machine::Mode::kJournal, folder->path());
      ASSERT_TRUE(session.ok());
      TestEngine().StopServices(names);
      EXPECT_EQ(HasLine(folder->path(), L"\tstop-service\t" + service.name() + L"\t"), c.recorded);
    }
    if (c.recorded) {
      ASSERT_EQ(service.State(SERVICE_STOPPED, 30000), DWORD{SERVICE_STOPPED});
    }
    if (c.disabledSince) {
      kyd::UniqueService manager(OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT));
      kyd::UniqueService handle(OpenServiceW(manager.get(), service.name().c_str(), SERVICE_CHANGE_CONFIG));
      ASSERT_TRUE(ChangeServiceConfigW(handle.get(), SERVICE_NO_CHANGE, SERVICE_DISABLED, SERVICE_NO_CHANGE, nullptr,
                                       nullptr, nullptr, nullptr, nullptr, nullptr, nullptr));
    }
    EXPECT_EQ(machine::Restore(journal.path()), c.disabledSince ? machine::kRestorePartial : machine::kRestoreComplete);
    EXPECT_EQ(service.State(c.afterRestore, 30000), c.afterRestore);
    const std::wstring report = Report(journal.path());
    EXPECT_EQ(report.find(c.reported ? c.reported : L"stop-service") != std::wstring::npos, c.reported != nullptr)
        << ToNarrow(report);
  }
}

// What the user changed since the run is the user's: restore puts back only
// what still holds what the run left there, names the rest as left (and the
// restore as partial), and a value the run deleted that the user wrote again
// keeps the user's data. The written value is the driver-search policy's
// write; the attributes are the read-only bit a folder clean takes off.
TEST(SeamJournal, WhatChangedSinceTheRunIsLeftAsItIs) {
  constexpr DWORD kNone = 0xFFFFFFFF;       // no value
  constexpr DWORD kUntouched = 0xFFFFFFFE;  // since: nobody changed it after the run
  enum class Change { kWrite, kDelete, kAttributes };
  struct Row {
    const char* what;
    Change change;
    DWORD before, since;  // the value's data (or the file's attributes) before the run, and set after it
    const wchar_t* reported;
    DWORD after;  // after the restore
  };
  const DWORD ro = FILE_ATTRIBUTE_READONLY, hidden = FILE_ATTRIBUTE_HIDDEN;
  const Row rows[] = {
      {"written, untouched since", Change::kWrite, 1, kUntouched, L"\trestored\tset-value\t", 1},
      {"written, changed since", Change::kWrite, 1, 7, L"\tleft\tset-value\t", 7},
      {"written, deleted since", Change::kWrite, 1, kNone, L"\tleft\tset-value\t", kNone},
      {"written, set back to its old data since", Change::kWrite, 1, 1, L"\tpresent\tset-value\t", 1},
      {"made by the run, untouched since", Change::kWrite, kNone, kUntouched, L"\trestored\tset-value\t", kNone},
      {"made by the run, changed since", Change::kWrite, kNone, 7, L"\tleft\tset-value\t", 7},
      {"deleted, untouched since", Change::kDelete, 1, kUntouched, L"\trestored\tdelete-value\t", 1},
      {"deleted, written again since", Change::kDelete, 1, 7, L"\tpresent\tdelete-value\t", 7},
      {"read-only taken off, untouched since", Change::kAttributes, ro, kUntouched,
       L"\trestored\tset-attributes\t", ro},
      {"read-only taken off, hidden since", Change::kAttributes, ro, hidden, L"\tleft\tset-attributes\t", hidden},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.what);
    SeededKey key(HKEY_LOCAL_MACHINE, L"SOFTWARE\\" + UniqueName(L"KydSeamSince"));
    ScratchDir files(L"since"), journal(L"since journal");
    const std::wstring file = files / L"kept.bin";
    auto setValue = [&](DWORD data) {
      if (data == kNone) RegDeleteValueIfPresent(HKEY_LOCAL_MACHINE, key.path(), L"v");
      else ASSERT_TRUE(RegSetDword(HKEY_LOCAL_MACHINE, key.path(), L"v", data));
    };
    auto value = [&] {
      DWORD data = kNone;
      return RegDwordValue(HKEY_LOCAL_MACHINE, key.path(), L"v", data, true) ? data : kNone;
    };
    const DWORD shown = ro | hidden | FILE_ATTRIBUTE_SYSTEM;
    auto attributes = [&] { return GetFileAttributesW(file.c_str()) & shown; };
    const bool onFile = row.change == Change::kAttributes;
    if (onFile) {
      ASSERT_TRUE(WriteFileBytes(file, "kept") && SetFileAttributesW(file.c_str(), row.before));
    } else {
      ASSERT_TRUE(RegCreate(HKEY_LOCAL_MACHINE, key.path()));
      setValue(row.before);
    }
    {
      machine::Session session(machine::Mode::kJournal, journal.path());
      ASSERT_TRUE(session.ok());
      const DWORD zero = 0, size = sizeof zero;
      if (row.change == Change::kWrite) {
        ASSERT_TRUE(kyd::WriteRegDword(key.path().c_str(), L"v", &zero, &size, !Is64BitPrefix()));
      } else if (row.change == Change::kDelete) {
        kyd::UniqueKey handle;
        ASSERT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, key.path().c_str(), 0, KEY_ALL_ACCESS | KEY_WOW64_64KEY,
                                handle.put()),
                  ERROR_SUCCESS);
        ASSERT_EQ(machine::RemoveValue(handle.get(), L"v"), ERROR_SUCCESS);
      } else {
        ASSERT_TRUE(machine::ChangeAttributes(file, FILE_ATTRIBUTE_ARCHIVE));
      }
    }
    if (row.since != kUntouched) {
      if (onFile) {
        ASSERT_TRUE(SetFileAttributesW(file.c_str(), row.since));
        ASSERT_EQ(attributes(), row.since) << "kept by this file system";
      } else {
        setValue(row.since);
      }
    }
    const bool left = std::wstring(row.reported).find(L"\tleft\t") != std::wstring::npos;
    EXPECT_EQ(machine::Restore(journal.path()), left ? machine::kRestorePartial : machine::kRestoreComplete);
    const std::wstring report = Report(journal.path());
    EXPECT_NE(report.find(row.reported), std::wstring::npos) << ToNarrow(report);
    EXPECT_EQ(onFile ? attributes() : value(), row.after);
    if (onFile) SetFileAttributesW(file.c_str(), FILE_ATTRIBUTE_NORMAL);
  }
}

// A value that may be deleted through a handle but not read through it is
// not deleted unsaved: the journal says it was not saved.
TEST(SeamJournal, AChangeWhoseItemCannotBeReadIsNotMade) {
  SeededKey key(HKEY_LOCAL_MACHINE, L"SOFTWARE\\" + UniqueName(L"KydSeamUnread"));
  ASSERT_TRUE(RegSetString(HKEY_LOCAL_MACHINE, key.path(), L"v", L"kept"));
  kyd::UniqueKey writeOnly;
  ASSERT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, key.path().c_str(), 0, KEY_SET_VALUE | KEY_WOW64_64KEY,
                          writeOnly.put()),
            ERROR_SUCCESS);
  ScratchDir journal(L"unread journal");
  {
    machine::Session session(machine::Mode::kJournal, journal.path());
    ASSERT_TRUE(session.ok());
    EXPECT_EQ(machine::RemoveValue(writeOnly.get(), L"v"), LONG{machine::kNotSaved});
  }
  EXPECT_TRUE(RegValueExists(HKEY_LOCAL_MACHINE, key.path(), L"v"));
  EXPECT_TRUE(HasLine(journal.path(), L"\tnot-saved\t")) << ToNarrow(ReadUtf8(journal / L"manifest.txt"));
}

// What the library saves for a folder link (Wine cannot read a link's
// reparse data, so the test writes the material the library would: sealed
// with the journal's own secret, as only an administrator could).
void MakeLinkMaterial(const std::wstring& folder, const std::wstring& link, const std::string& reparse) {
  journal::Manifest manifest;
  ASSERT_TRUE(journal::ReadManifest(folder, manifest));
  ASSERT_EQ(manifest.lines.size(), 1u);
  journal::Seal seal;
  std::string why;
  ASSERT_TRUE(seal.Load(manifest.id, why)) << why;
  journal::Line line = manifest.lines[0];
  const std::wstring set = folder + L"\\" + line.Get(L"material");
  journal::SavedItem item;
  item.folder = true;
  item.path = link;
  item.attributes = FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT;
  item.data = L"1";
  item.mac = seal.Of(journal::Seal::kMaterial, reparse);
  std::vector<journal::SavedLink> links;  // Wine shows drive Z:'s root as a link
  journal::AddLinksAbove(link, links);
  const std::string index = journal::FormatIndex({item}, links);
  ASSERT_TRUE(WriteFileBytes(set + L"\\1", reparse) && WriteFileBytes(set + L"\\index.txt", index));
  line.Set(L"mac", seal.Of(journal::Seal::kMaterial, index));
  ASSERT_TRUE(WriteFileBytes(folder + L"\\manifest.txt", "# KYDDrvUninst journal\r\n# mode\tjournal\r\n# id\t" +
                                                             journal::ToUtf8(manifest.id) + "\r\n" +
                                                             journal::Format(line, &seal) + "\r\n"));
}

// A mount point's reparse data, pointing at `target`.
std::string MountPoint(const std::wstring& target) {
  const std::wstring name = L"\\??\\" + target;
  const WORD bytes = static_cast<WORD>(name.size() * sizeof(wchar_t));
  std::string data(16 + bytes + 2 * sizeof(wchar_t), '\0');
  const DWORD tag = IO_REPARSE_TAG_MOUNT_POINT;
  const WORD length = static_cast<WORD>(data.size() - 8), fields[4] = {0, bytes, static_cast<WORD>(bytes + 2), 0};
  memcpy(&data[0], &tag, 4);
  memcpy(&data[4], &length, 2);
  memcpy(&data[8], fields, 8);
  memcpy(&data[16], name.data(), bytes);
  return data;
}

// A folder link is back only as that link: what stands in its place (a
// plain folder a failed restore left) is not taken for it, and link data
// that was changed is not used.
TEST(SeamJournal, AFolderLinkIsBackOnlyAsTheLinkItWas) {
  struct Case {
    const char* what;
    bool plainFolderThere, dataChanged;
    const wchar_t* reported;
  };
  const Case cases[] = {
      {"link missing", false, false, nullptr},
      {"a plain folder with a file in its place", true, false, L"\tfailed\tremove-folder\t"},
      {"link data changed", false, true, L"\tdamaged\tremove-folder\t"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    ScratchDir dir(L"link"), journal(L"link journal");
    const std::wstring link = dir / L"Link", target = dir / L"Target";
    ASSERT_TRUE(CreateDirectoryW(link.c_str(), nullptr) && CreateDirectoryW(target.c_str(), nullptr));
    {
      machine::Session session(machine::Mode::kJournal, journal.path());
      ASSERT_TRUE(session.ok());
      ASSERT_TRUE(machine::RemoveFolder(link));
    }
    MakeLinkMaterial(journal.path(), link, MountPoint(target));
    if (c.dataChanged) {
      ASSERT_TRUE(WriteFileBytes(journal / L"000001\\1", MountPoint(dir / L"Elsewhere")));
    }
    if (c.plainFolderThere) {
      ASSERT_TRUE(CreateDirectoryW(link.c_str(), nullptr) && WriteFileBytes(link + L"\\mine.txt", "x"));
    }
    const int first = machine::Restore(journal.path());
    const std::wstring report = Report(journal.path());
    if (c.reported) {
      EXPECT_EQ(first, machine::kRestorePartial);
      EXPECT_NE(report.find(c.reported), std::wstring::npos) << ToNarrow(report);
    }
    const bool isLink = (GetFileAttributesW(link.c_str()) & FILE_ATTRIBUTE_REPARSE_POINT) != 0 &&
                        GetFileAttributesW(link.c_str()) != INVALID_FILE_ATTRIBUTES;
    // Complete only with the link back (Windows); Wine cannot set one, and a
    // second restore must not take the folder it left for the link.
    EXPECT_EQ(first == machine::kRestoreComplete, isLink) << ToNarrow(report);
    EXPECT_EQ(machine::Restore(journal.path()) == machine::kRestoreComplete, isLink) << ToNarrow(Report(journal.path()));
    if (c.plainFolderThere) {
      EXPECT_TRUE(FileExists(link + L"\\mine.txt"));
    }
  }
}

// Restore writes an item only through folders that lead where they led when
// it was saved: not through a link made since (a user's, in a vendor folder
// users may change), nor through a link of then that now leads elsewhere;
// through a link that was there then and still leads there, it does.
TEST(SeamJournal, RestoreWritesOnlyThroughTheFoldersItWasSavedBy) {
  struct Case {
    const char* what;
    bool linkedWhenSaved;    // Vendor a link to Real when the file is saved
    const wchar_t* linkAfter;  // then made a link to Protected; null: none
  } cases[] = {{"a link made since on the way", false, L"Vendor\\Support"},
               {"the link of then, leading where it did", true, nullptr},
               {"the link of then, now leading elsewhere", true, L"Vendor"}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    ScratchDir root(L"way", ScratchDir::kMachine), journal(L"way journal", ScratchDir::kMachine);
    const std::wstring vendor = root / L"Vendor", support = vendor + L"\\Support", file = support + L"\\user.txt";
    ASSERT_TRUE(CreateDirectoryW((root / L"Protected").c_str(), nullptr) &&
                CreateDirectoryW((root / L"Real").c_str(), nullptr));
    ASSERT_TRUE(c.linkedWhenSaved ? MakeFolderLink(vendor, root / L"Real") : CreateDirectoryW(vendor.c_str(), nullptr));
    ASSERT_TRUE(CreateDirectoryW(support.c_str(), nullptr) && WriteFileBytes(file, "the user's"));
    {
      machine::Session session(machine::Mode::kJournal, journal.path());
      ASSERT_TRUE(session.ok());
      ASSERT_TRUE(machine::RemoveFile(file) && machine::RemoveFolder(support));
      if (!c.linkedWhenSaved) {
        ASSERT_TRUE(machine::RemoveFolder(vendor));
      }
    }
    if (c.linkAfter) {
      const std::wstring link = root / c.linkAfter;
      if (c.linkedWhenSaved) RemoveFolderLink(vendor);
      else ASSERT_TRUE(CreateDirectoryW(vendor.c_str(), nullptr));
      ASSERT_TRUE(MakeFolderLink(link, root / L"Protected"));
    }
    const int result = machine::Restore(journal.path());
    const std::wstring report = Report(journal.path());
    EXPECT_TRUE(FolderIsEmpty(root / L"Protected")) << "written behind the link: " << ToNarrow(report);
    if (c.linkAfter) {
      EXPECT_EQ(result, machine::kRestorePartial) << ToNarrow(report);
      EXPECT_NE(report.find(file + L": a folder on its path now leads elsewhere: " + root / c.linkAfter),
                std::wstring::npos)
          << ToNarrow(report);
    } else {
      EXPECT_EQ(result, machine::kRestoreComplete) << ToNarrow(report);
      EXPECT_EQ(ReadFileBytes(root / L"Real\\Support\\user.txt"), "the user's");
    }
  }
}

// A plan whose lines stop being written is no complete plan, and says so.
TEST(SeamPlan, APlanThatLostLinesIsIncomplete) {
  ScratchDir dir(L"lost plan files"), plan(L"lost plan");
  ASSERT_TRUE(WriteFileBytes(dir / L"one.txt", "1") && WriteFileBytes(dir / L"two.txt", "2"));
  LogCapture log;
  machine::Session session(machine::Mode::kPlan, plan.path());
  ASSERT_TRUE(session.ok());
  EXPECT_TRUE(machine::RemoveFile(dir / L"one.txt"));
  EXPECT_TRUE(session.complete());
  EXPECT_FALSE(machine::PlanIncomplete());
  const std::wstring away = plan.path() + L" away";
  ASSERT_TRUE(MoveFileW(plan.path().c_str(), away.c_str()));
  EXPECT_TRUE(machine::RemoveFile(dir / L"two.txt"));
  MoveFileW(away.c_str(), plan.path().c_str());
  EXPECT_FALSE(session.complete());
  EXPECT_TRUE(machine::PlanIncomplete());
  EXPECT_TRUE(Contains(log.Messages(), "plan: line 2 (delete-file " + ToNarrow(dir / L"two.txt") +
                                           ") could not be written"))
      << log.Text();
}

}  // namespace
