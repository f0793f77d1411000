// Startup entries recorded at the start of a deep clean, and deleted with the
// files their commands start.
#include <gtest/gtest.h>

#include "support/engine_bench.h"
#include "support/wine_bench.h"

using namespace kydtest;

namespace {

constexpr wchar_t kRun[] = L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Run";
constexpr wchar_t kRun32[] = L"SOFTWARE\\Wow6432Node\\Microsoft\\Windows\\CurrentVersion\\Run";

std::wstring Upper(std::wstring text) {
  for (wchar_t& c : text) c = static_cast<wchar_t>(towupper(c));
  return text;
}
std::wstring Lower(std::wstring text) {
  for (wchar_t& c : text) c = static_cast<wchar_t>(towlower(c));
  return text;
}

struct Seeded {
  HKEY root;
  const wchar_t* key;
  std::wstring name;
};

class StartupCleanup : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(WriteFileBytes(program_, "MZ"));
    // The program folder as an environment variable, as installers write it.
    ASSERT_TRUE(SetEnvironmentVariableW(variable_.c_str(), dir_.path().c_str()));
  }
  void TearDown() override {
    for (const Seeded& value : seeded_) RegDeleteValueIfPresent(value.root, value.key, value.name);
    SetEnvironmentVariableW(variable_.c_str(), nullptr);
  }
  std::wstring Seed(HKEY root, const wchar_t* key, const std::wstring& stem,
                    const std::wstring& command, DWORD type = REG_SZ) {
    std::wstring name = UniqueName(L"KydRun") + stem;
    EXPECT_TRUE(RegSetString(root, key, name, command, type));
    seeded_.push_back({root, key, name});
    return name;
  }
  bool Has(HKEY root, const wchar_t* key, const std::wstring& name) {
    return RegValueExists(root, key, name);
  }
  int DeleteLines(const wchar_t* key, const std::wstring& name) {
    return log_.Count("delete value " + ToNarrow(key) + " " + ToNarrow(name));
  }

  ScratchDir dir_{L"startup"};
  std::wstring program_ = dir_ / (UniqueName(L"KydTray") + L".exe");
  std::wstring variable_ = UniqueName(L"KYDTESTDIR");
  std::vector<Seeded> seeded_;
  TestEngine engine_;
  LogCapture log_;
};

TEST_F(StartupCleanup, DeletingAProgramDeletesTheRunValuesThatStartItFromEveryStartupKey) {
  const bool wow = Is64BitPrefix();
  ASSERT_EQ(engine_.isWow64 != FALSE, wow);
  std::wstring fileName = program_.substr(program_.rfind(L'\\') + 1);
  // Stored with the folder as a variable, in other letter case, with arguments.
  std::wstring expandable = Seed(HKEY_LOCAL_MACHINE, kRun, L"Expand",
                                 L"\"%" + variable_ + L"%\\" + Upper(fileName) + L"\" /tray",
                                 REG_EXPAND_SZ);
  std::wstring user = Seed(HKEY_CURRENT_USER, kRun, L"User", Lower(program_) + L" -autorun");
  std::wstring wow32;
  if (wow) wow32 = Seed(HKEY_LOCAL_MACHINE, kRun32, L"Wow", L"\"" + program_ + L"\" /x");
  // Names the file without its folder: stays.
  std::wstring bare = Seed(HKEY_LOCAL_MACHINE, kRun, L"Bare", fileName + L" /silent");
  // A value recorded from the user's key also goes from the machine's key by
  // name, whatever that one starts.
  std::wstring twin = Seed(HKEY_CURRENT_USER, kRun, L"Twin", L"\"" + program_ + L"\"");
  Seed(HKEY_LOCAL_MACHINE, kRun, L"Twin", L"C:\\elsewhere\\other.exe");

  engine_.DeleteFileAndStartup(dir_ / L"not-yet-recorded.exe");  // no snapshot yet: no values go
  EXPECT_TRUE(Has(HKEY_LOCAL_MACHINE, kRun, expandable));
  ASSERT_TRUE(engine_.SnapshotRunEntries());
  ASSERT_TRUE(engine_.DeleteFileAndStartup(program_));

  EXPECT_FALSE(FileExists(program_));
  EXPECT_EQ(log_.Count("delete file " + ToNarrow(program_) + " success"), 1);
  EXPECT_FALSE(Has(HKEY_LOCAL_MACHINE, kRun, expandable));
  EXPECT_FALSE(Has(HKEY_CURRENT_USER, kRun, user));
  if (wow) {
    EXPECT_FALSE(Has(HKEY_LOCAL_MACHINE, kRun32, wow32));
  }
  EXPECT_TRUE(Has(HKEY_LOCAL_MACHINE, kRun, bare));
  EXPECT_FALSE(Has(HKEY_CURRENT_USER, kRun, twin));
  EXPECT_FALSE(Has(HKEY_LOCAL_MACHINE, kRun, twin));

  // One line per key that opened: HKLM and HKCU show the same path.
  for (const std::wstring& name : {expandable, user, wow32, twin}) {
    if (name.empty()) continue;
    EXPECT_EQ(DeleteLines(kRun, name), 2) << ToNarrow(name);
    EXPECT_EQ(DeleteLines(kRun32, name), wow ? 1 : 0) << ToNarrow(name);
  }
  EXPECT_EQ(DeleteLines(kRun, bare), 0);
}

TEST_F(StartupCleanup, SnapshotExpandsCommandsAndSkipsValuesThatAreNotText) {
  std::wstring expandable = Seed(HKEY_LOCAL_MACHINE, kRun, L"Expand",
                                 L"%" + variable_ + L"%\\tool.exe /a", REG_EXPAND_SZ);
  std::wstring plain = Seed(HKEY_CURRENT_USER, kRun, L"Plain", L"%" + variable_ + L"%\\x.exe");
  std::wstring number = UniqueName(L"KydRun") + L"Number";
  ASSERT_TRUE(RegSetDword(HKEY_LOCAL_MACHINE, kRun, number, 1));
  seeded_.push_back({HKEY_LOCAL_MACHINE, kRun, number});
  std::wstring longCommand = std::wstring(1200, L'a');
  std::wstring longValue = Seed(HKEY_CURRENT_USER, kRun, L"Long", L"%" + variable_ + L"%\\" + longCommand);

  engine_.runEntries.push_back(std::make_unique<kyd::RunEntry>());  // replaced by the snapshot
  ASSERT_TRUE(engine_.SnapshotRunEntries());

  auto find = [&](const std::wstring& name) -> const kyd::RunEntry* {
    for (const auto& entry : engine_.runEntries)
      if (entry && entry->valueName == name) return entry.get();
    return nullptr;
  };
  ASSERT_NE(find(expandable), nullptr);
  EXPECT_EQ(find(expandable)->command, dir_.path() + L"\\tool.exe /a");
  ASSERT_NE(find(plain), nullptr);
  EXPECT_EQ(find(plain)->command, dir_.path() + L"\\x.exe");  // REG_SZ is expanded too
  EXPECT_EQ(find(number), nullptr);
  ASSERT_NE(find(longValue), nullptr);  // longer than 1000 characters once expanded
  EXPECT_EQ(find(longValue)->command, dir_.path() + L"\\" + longCommand);
  for (const auto& entry : engine_.runEntries) EXPECT_FALSE(entry->valueName.empty());
  EXPECT_TRUE(log_.Messages().empty());  // recording logs nothing
}

// On 32-bit Windows the 32-bit programs' Run key is neither recorded nor
// touched; in the 64-bit prefix that is the engine with isWow64 clear.
class StartupCleanupW64 : public StartupCleanup {};

TEST_F(StartupCleanupW64, ThirtyTwoBitRunKeyIsLeftWhenNotOnWow64) {
  ASSERT_TRUE(Is64BitPrefix());
  std::wstring wow32 = Seed(HKEY_LOCAL_MACHINE, kRun32, L"Wow", L"\"" + program_ + L"\"");
  std::wstring native = Seed(HKEY_LOCAL_MACHINE, kRun, L"Native", L"\"" + program_ + L"\" /n");
  engine_.isWow64 = FALSE;

  engine_.SnapshotRunEntries();
  for (const auto& entry : engine_.runEntries) EXPECT_NE(entry->valueName, wow32);
  engine_.DeleteFileAndStartup(program_);

  EXPECT_TRUE(Has(HKEY_LOCAL_MACHINE, kRun32, wow32));
  EXPECT_FALSE(Has(HKEY_LOCAL_MACHINE, kRun, native));
  EXPECT_EQ(DeleteLines(kRun32, native), 0);
}

}  // namespace
