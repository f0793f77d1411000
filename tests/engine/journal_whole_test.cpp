// A journal restored whole or said not to be: the bytes written back are
// those whose seal was checked, a hidden or system item comes back so,
// lines taken out of the manifest or a run cut short make the restore
// partial and are named, a moved journal is named as moved, and a journal's
// secret goes once it has served.
#include <gtest/gtest.h>

#include <functional>

#include "machine/journal.h"
#include "machine/machine.h"
#include "machine/seal.h"
#include "platform/handle.h"
#include "support/machine_snapshot.h"
#include "support/wine_bench.h"

namespace {

using namespace kydtest;
namespace machine = kyd::machine;
namespace journal = kyd::machine::journal;

std::wstring Report(const std::wstring& folder) { return ReadUtf8(folder + L"\\restore.txt"); }

std::wstring SecretKeyOf(const std::wstring& folder) {
  journal::Manifest manifest;
  journal::ReadManifest(folder, manifest);
  return std::wstring(journal::kSecretsKey) + L"\\" + manifest.id;
}

// Files deleted one by one in a journal, below a folder of the test's own.
class FilesJournal {
 public:
  explicit FilesJournal(int count) {
    EXPECT_TRUE(CreateDirectoryW(folder().c_str(), nullptr));
    for (int i = 1; i <= count; ++i) EXPECT_TRUE(WriteFileBytes(file(i), "kept " + std::to_string(i)));
    machine::Session session(machine::Mode::kJournal, folder());
    EXPECT_TRUE(session.ok());
    for (int i = 1; i <= count; ++i) EXPECT_TRUE(machine::RemoveFile(file(i)));
  }
  std::wstring folder() const { return above_ / L"journal"; }
  std::wstring above() const { return above_.path(); }
  std::wstring file(int i) const { return files_ / (L"f" + std::to_wstring(i) + L".txt"); }
  std::wstring Data(int i) const { return folder() + L"\\" + journal::MaterialName(i, L"") + L"\\1"; }

 private:
  ScratchDir files_{L"whole files"}, above_{L"whole above"};
};

// The hook's swap of a saved copy, as a user who could reach its path would
// make it between the check and the write.
enum class Swap { kFile, kFolder };
Swap g_swap;
bool g_swapped;

void SwapSavedCopy(const std::wstring& saved) {
  if (g_swap == Swap::kFile) {
    g_swapped = MoveFileExW(saved.c_str(), (saved + L".away").c_str(), 0) && WriteFileBytes(saved, "other bytes");
    return;
  }
  const std::wstring set = saved.substr(0, saved.rfind(L'\\'));
  g_swapped = MoveFileExW(set.c_str(), (set + L".away").c_str(), 0) && CreateDirectoryW(set.c_str(), nullptr) &&
              WriteFileBytes(saved, "other bytes");
}

// Whatever is done to the saved copy's path once it was checked, the bytes
// written back are the checked ones (the copy is held open from its check
// to its write; where Windows lets nobody swap it, the swap fails).
TEST(SeamRestore, WritesBackTheBytesItChecked) {
  for (Swap swap : {Swap::kFile, Swap::kFolder}) {
    SCOPED_TRACE(swap == Swap::kFile ? "the saved file swapped" : "the folder holding it swapped");
    FilesJournal j(1);
    g_swap = swap;
    g_swapped = false;
    machine::SetRestoreCheckedHook(SwapSavedCopy);
    const int result = machine::Restore(j.folder());
    machine::SetRestoreCheckedHook(nullptr);
    EXPECT_EQ(ReadFileBytes(j.file(1)), "kept 1") << "swap " << (g_swapped ? "made" : "refused");
    EXPECT_EQ(result, machine::kRestoreComplete) << ToNarrow(Report(j.folder()));
  }
}

// A hidden or system folder or file comes back as it was, not plain.
TEST(SeamRestore, AFolderAndAFileComeBackWithTheirAttributes) {
  struct Case {
    DWORD folder, file;
  } cases[] = {{FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM, FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM},
               {FILE_ATTRIBUTE_HIDDEN, FILE_ATTRIBUTE_ARCHIVE}};
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.folder) + "/" + std::to_string(c.file));
    ScratchDir dir(L"attributes"), above(L"attributes journal");
    const std::wstring folder = dir / L"Vendor", file = folder + L"\\cache.bin", journalFolder = above / L"j";
    ASSERT_TRUE(CreateDirectoryW(folder.c_str(), nullptr) && WriteFileBytes(file, "cache") &&
                CreateDirectoryW(journalFolder.c_str(), nullptr));
    ASSERT_TRUE(SetFileAttributesW(file.c_str(), c.file) && SetFileAttributesW(folder.c_str(), c.folder));
    const DWORD folderBefore = GetFileAttributesW(folder.c_str()), fileBefore = GetFileAttributesW(file.c_str());
    ASSERT_EQ(folderBefore & c.folder, c.folder) << "kept by this file system";
    {
      machine::Session session(machine::Mode::kJournal, journalFolder);
      ASSERT_TRUE(session.ok());
      ASSERT_TRUE(machine::RemoveFile(file) && machine::RemoveFolder(folder));
    }
    ASSERT_EQ(GetFileAttributesW(folder.c_str()), INVALID_FILE_ATTRIBUTES);
    EXPECT_EQ(machine::Restore(journalFolder), machine::kRestoreComplete) << ToNarrow(Report(journalFolder));
    EXPECT_EQ(GetFileAttributesW(folder.c_str()), folderBefore);
    EXPECT_EQ(GetFileAttributesW(file.c_str()), fileBefore);
    SetFileAttributesW(file.c_str(), FILE_ATTRIBUTE_NORMAL);
    SetFileAttributesW(folder.c_str(), FILE_ATTRIBUTE_NORMAL);
  }
}

// The manifest's text lines, changed by `edit`, written back.
void EditManifest(const std::wstring& folder, const std::function<void(std::vector<std::string>&)>& edit) {
  std::vector<std::string> lines = journal::TextLines(ReadFileBytes(folder + L"\\manifest.txt"));
  edit(lines);
  std::string text;
  for (const std::string& line : lines) text += line + "\r\n";
  ASSERT_TRUE(DeleteFileW((folder + L"\\manifest.txt").c_str()) && WriteFileBytes(folder + L"\\manifest.txt", text));
}

// The index of the manifest's line that starts so.
size_t LineStarting(const std::vector<std::string>& lines, const std::string& start) {
  for (size_t i = 0; i < lines.size(); ++i)
    if (lines[i].rfind(start, 0) == 0) return i;
  ADD_FAILURE() << "no line " << start;
  return 0;
}

// Lines taken out, repeated, or a run cut short: the restore puts back what
// the journal holds, says what is missing, and is partial; its secret stays
// for another try. A whole journal, moved or not, is restored whole, and
// its secret goes.
TEST(SeamRestore, LinesTakenOutOrARunCutShortAreNamedAndTheRestoreIsPartial) {
  struct Case {
    const char* what;
    std::function<void(std::vector<std::string>&)> edit;  // null: none
    bool moved;
    int result;
    const wchar_t* said;  // a note of restore.txt
    bool back[3];         // which of the three files are back
  } cases[] = {
      {"whole", nullptr, false, machine::kRestoreComplete, L"# forgotten\t", {true, true, true}},
      {"moved", nullptr, true, machine::kRestoreComplete, L"# moved\tthe journal was made in ", {true, true, true}},
      {"first line taken out",
       [](std::vector<std::string>& l) { l.erase(l.begin() + LineStarting(l, "1\t")); },
       false, machine::kRestorePartial, L"# missing\tline(s) 1 not in the journal", {false, true, true}},
      {"a line repeated",
       [](std::vector<std::string>& l) { l.insert(l.begin() + LineStarting(l, "2\t"), l[LineStarting(l, "2\t")]); },
       false, machine::kRestorePartial, L"# repeated\tline(s) 2 stand", {true, true, true}},
      {"last line taken out, the end marker kept",
       [](std::vector<std::string>& l) { l.erase(l.begin() + LineStarting(l, "3\t")); },
       false, machine::kRestorePartial, L"# missing\tline(s) 3 not in the journal", {true, true, false}},
      {"cut short: no end marker, nor the last line",
       [](std::vector<std::string>& l) {
         l.erase(l.begin() + LineStarting(l, "# ended"));
         l.erase(l.begin() + LineStarting(l, "3\t"));
       },
       false, machine::kRestorePartial, L"# unended\tno end marker", {true, true, false}},
      {"an end marker not sealed",
       [](std::vector<std::string>& l) { l[LineStarting(l, "# ended")] = "# ended\t2026-01-01 00:00:00\tlast 3"; },
       false, machine::kRestorePartial, L"# unended\t", {true, true, true}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    FilesJournal j(3);
    std::wstring folder = j.folder();
    if (c.edit) EditManifest(folder, c.edit);
    if (c.moved) {
      const std::wstring moved = j.above() + L"\\moved";
      ASSERT_TRUE(MoveFileW(folder.c_str(), moved.c_str()));
      folder = moved;
    }
    const std::wstring key = SecretKeyOf(folder);
    EXPECT_EQ(machine::Restore(folder), c.result);
    const std::wstring report = Report(folder);
    EXPECT_NE(report.find(c.said), std::wstring::npos) << ToNarrow(report);
    if (c.moved) {
      EXPECT_NE(report.find(L"made in " + j.folder() + L"\r\n"), std::wstring::npos) << ToNarrow(report);
    }
    for (int i = 0; i < 3; ++i) EXPECT_EQ(FileExists(j.file(i + 1)), c.back[i]) << i + 1;
    EXPECT_EQ(RegKeyExists(HKEY_LOCAL_MACHINE, key, true), c.result != machine::kRestoreComplete)
        << "a complete restore deletes the secret, a partial one keeps it";
    RegDeleteTreeIfPresent(HKEY_LOCAL_MACHINE, key, true);
  }
}

// A change whose line cannot be written is not made, and leaves no gap in
// the numbers: the journal restores whole.
TEST(SeamRestore, AChangeNotRecordedLeavesNoGap) {
  ScratchDir dir(L"unrecorded"), above(L"unrecorded journal");
  const std::wstring journalFolder = above / L"j";
  ASSERT_TRUE(CreateDirectoryW(journalFolder.c_str(), nullptr));
  for (const wchar_t* name : {L"1", L"2", L"3"}) ASSERT_TRUE(WriteFileBytes(dir / name, "kept"));
  {
    machine::Session session(machine::Mode::kJournal, journalFolder);
    ASSERT_TRUE(session.ok());
    EXPECT_TRUE(machine::RemoveFile(dir / L"1"));
    {
      kyd::UniqueFile held(CreateFileW((journalFolder + L"\\manifest.txt").c_str(), GENERIC_READ, 0, nullptr,
                                       OPEN_EXISTING, 0, nullptr));
      ASSERT_TRUE(held);
      EXPECT_FALSE(machine::RemoveFile(dir / L"2"));
    }
    EXPECT_TRUE(machine::RemoveFile(dir / L"3"));
  }
  EXPECT_TRUE(FileExists(dir / L"2"));
  EXPECT_EQ(machine::Restore(journalFolder), machine::kRestoreComplete) << ToNarrow(Report(journalFolder));
  EXPECT_TRUE(FileExists(dir / L"1") && FileExists(dir / L"3"));
}

// A journal that will not be restored gives its secret up; a manifest that
// names another journal's secret does not take that one with it.
TEST(SeamRestore, AJournalForgetsOnlyItsOwnSecret) {
  FilesJournal mine(1), other(1);
  const std::wstring mineKey = SecretKeyOf(mine.folder()), otherKey = SecretKeyOf(other.folder());
  // A manifest with the other's id and no line of the other's.
  EditManifest(mine.folder(), [&](std::vector<std::string>& lines) {
    journal::Manifest manifest;
    journal::ReadManifest(other.folder(), manifest);
    lines[LineStarting(lines, "# id\t")] = "# id\t" + journal::ToUtf8(manifest.id);
  });
  bool gone = true;
  std::string why;
  EXPECT_FALSE(journal::ForgetJournal(mine.folder(), gone, why));
  EXPECT_FALSE(gone);
  EXPECT_NE(why.find("made for another journal"), std::string::npos) << why;
  EXPECT_TRUE(RegKeyExists(HKEY_LOCAL_MACHINE, otherKey, true));

  EXPECT_TRUE(journal::ForgetJournal(other.folder(), gone, why)) << why;
  EXPECT_FALSE(RegKeyExists(HKEY_LOCAL_MACHINE, otherKey, true));
  EXPECT_FALSE(journal::ForgetJournal(other.folder(), gone, why));
  EXPECT_TRUE(gone) << "forgotten before: " << why;
  EXPECT_EQ(machine::Restore(other.folder()), machine::kRestoreNothing);
  EXPECT_FALSE(FileExists(other.file(1)));
  RegDeleteTreeIfPresent(HKEY_LOCAL_MACHINE, mineKey, true);
}

}  // namespace
