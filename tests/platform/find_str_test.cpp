#include <gtest/gtest.h>

#include <cstring>

#include "platform/find_str.h"
#include "platform/handle.h"
#include "support/wine_bench.h"

namespace {

using kydtest::ScratchDir;
using kydtest::WriteFileBytes;

std::string Utf16(const std::wstring& text, bool bom) {
  std::string bytes = bom ? "\xFF\xFE" : "";
  bytes.append(reinterpret_cast<const char*>(text.data()), text.size() * 2);
  return bytes;
}

class FindInFile : public ::testing::Test {
 protected:
  bool Find(const std::string& bytes, const wchar_t* text) {
    std::wstring path = dir_ / L"probe.inf";
    EXPECT_TRUE(WriteFileBytes(path, bytes));
    return kyd::CFindStrFormFile().FindInFile(path.c_str(), text);
  }
  ScratchDir dir_{L"findstr"};
};

TEST_F(FindInFile, NarrowTextIgnoresCase) {
  EXPECT_TRUE(Find("[Models]\r\n%Dev%=Install, PCI\\VEN_10DE&DEV_0DE1\r\n", L"pci\\ven_10de&dev_0de1"));
  EXPECT_FALSE(Find("[Models]\r\nPCI\\VEN_10DE&DEV_0DE2\r\n", L"PCI\\VEN_10DE&DEV_0DE1"));
}

TEST_F(FindInFile, Utf16WithMarkIsSearchedAsWideText) {
  EXPECT_TRUE(Find(Utf16(L"[Models]\r\nPCI\\VEN_8086&DEV_0166\r\n", true), L"pci\\VEN_8086&dev_0166"));
}

TEST_F(FindInFile, Utf16WithoutMarkIsNarrowAndStopsAtItsFirstZeroByte) {
  EXPECT_FALSE(Find(Utf16(L"PCI\\VEN_8086&DEV_0166", false), L"PCI\\VEN_8086&DEV_0166"));
}

TEST_F(FindInFile, Utf8MarkIsSearchedAsNarrowText) {
  EXPECT_TRUE(Find("\xEF\xBB\xBFPCI\\VEN_1002&DEV_6798", L"pci\\ven_1002&DEV_6798"));
}

TEST_F(FindInFile, TextAfterANulIsNotFound) {
  EXPECT_FALSE(Find(std::string("head\0PCI\\VEN_1002", 17), L"PCI\\VEN_1002"));
}

TEST_F(FindInFile, EmptyFileContainsNothing) { EXPECT_FALSE(Find("", L"x")); }

// A file filling its last page exactly has no NUL after it in memory: the
// search must end at the file's end, find text that ends there, and not fault.
TEST_F(FindInFile, FileFillingWholePagesIsSearchedToItsLastByte) {
  for (size_t size : {size_t(4096), size_t(65536)}) {
    std::string bytes(size, 'x');
    bytes.replace(size - 8, 8, "VEN_10EC");
    EXPECT_TRUE(Find(bytes, L"ven_10ec")) << size;
    EXPECT_FALSE(Find(bytes, L"VEN_10ECX")) << size;
    std::wstring wide(size / 2, L'y');
    wide.replace(wide.size() - 8, 8, L"VEN_10EC");
    std::string utf16 = Utf16(wide, true).substr(0, size);  // still exactly `size` bytes
    EXPECT_TRUE(Find(utf16, L"ven_10e")) << size;
    EXPECT_FALSE(Find(utf16, L"VEN_10ED")) << size;  // searched to the end, not past it
  }
}

TEST_F(FindInFile, FileHeldOpenByAnotherHandleCountsAsNotContaining) {
  std::wstring path = dir_ / L"held.inf";
  ASSERT_TRUE(WriteFileBytes(path, "PCI\\VEN_10DE"));
  kyd::UniqueFile held(CreateFileW(path.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr));
  ASSERT_TRUE(held.valid());
  EXPECT_FALSE(kyd::CFindStrFormFile().FindInFile(path.c_str(), L"VEN_10DE"));
  held.reset();
  EXPECT_TRUE(kyd::CFindStrFormFile().FindInFile(path.c_str(), L"VEN_10DE"));
}

// The bounded searches never touch the byte after their range: put the range
// against an inaccessible page.
TEST(BoundedSearch, StopsAtTheEndOfTheRangeNextToAGuardPage) {
  SYSTEM_INFO info;
  GetSystemInfo(&info);
  const size_t page = info.dwPageSize;
  auto* base = static_cast<char*>(VirtualAlloc(nullptr, page * 2, MEM_RESERVE | MEM_COMMIT, PAGE_READWRITE));
  ASSERT_NE(base, nullptr);
  DWORD old = 0;
  ASSERT_TRUE(VirtualProtect(base + page, page, PAGE_NOACCESS, &old));
  std::memset(base, 'a', page);
  std::memcpy(base + page - 3, "AbC", 3);
  EXPECT_TRUE(kyd::BoundedStrStrIA(base, page, "abc"));
  EXPECT_FALSE(kyd::BoundedStrStrIA(base, page, "abcd"));
  auto* wide = reinterpret_cast<wchar_t*>(base);
  for (size_t i = 0; i < page / 2; ++i) wide[i] = L'b';
  wide[page / 2 - 1] = L'Z';
  EXPECT_TRUE(kyd::BoundedStrStrIW(wide, page / 2, L"bz"));
  EXPECT_FALSE(kyd::BoundedStrStrIW(wide, page / 2, L"bzz"));
  VirtualFree(base, 0, MEM_RELEASE);
}

TEST(SafeStrStrIW, NullArgumentsFindNothing) {
  EXPECT_EQ(kyd::SafeStrStrIW(nullptr, L"x"), nullptr);
  EXPECT_EQ(kyd::SafeStrStrIW(L"x", nullptr), nullptr);
  const wchar_t* text = L"PCI\\VEN_10de&DEV_1";
  EXPECT_EQ(kyd::SafeStrStrIW(text, L"ven_10DE"), text + 4);
  // The sweeps' matcher: an empty or missing fragment matches nothing.
  EXPECT_FALSE(kyd::ContainsNoCase(text, L""));
  EXPECT_FALSE(kyd::ContainsNoCase(text, nullptr));
  EXPECT_FALSE(kyd::ContainsNoCase(nullptr, L"x"));
  EXPECT_TRUE(kyd::ContainsNoCase(text, L"dev_1"));
  EXPECT_FALSE(kyd::ContainsFolded(kyd::FoldCase(text), kyd::FoldCase(L"")));
  EXPECT_FALSE(kyd::ContainsFolded(kyd::FoldCase(text), kyd::FoldCase(nullptr)));
}

}  // namespace

namespace {

// The skipping search against the obvious one, on texts made of few letters
// (many near-matches), with NULs and wide units that share a low byte.
template <typename Char>
bool Reference(const std::basic_string<Char>& text, const std::basic_string<Char>& part,
               kyd::MatchEnd matchEnd = kyd::MatchEnd::kAnywhere) {
  auto fold = [](Char c) { return (c >= 'A' && c <= 'Z') ? static_cast<Char>(c + 32) : c; };
  size_t end = text.find(Char(0));
  if (end == std::basic_string<Char>::npos) end = text.size();
  for (size_t i = 0; i + part.size() <= end; ++i) {
    size_t k = 0;
    while (k < part.size() && fold(text[i + k]) == fold(part[k])) ++k;
    Char next = i + k < text.size() ? text[i + k] : Char(0);
    bool idEnds = !(next == '_' || (next >= '0' && next <= '9') || (fold(next) >= 'a' && fold(next) <= 'z'));
    if (k == part.size() && (matchEnd == kyd::MatchEnd::kAnywhere || idEnds)) return true;
  }
  return part.empty();
}

TEST(BoundedSearch, AgreesWithAPlainSearchOnManyNearMatches) {
  unsigned seed = 12345;
  auto next = [&seed] { return (seed = seed * 1103515245u + 12345u) >> 16; };
  const char narrowLetters[] = {'a', 'B', 'b', '&', '\0'};
  const wchar_t wideLetters[] = {L'a', L'A', L'\x0141', L'\x0241', L'b', L'\0'};
  for (int round = 0; round < 3000; ++round) {
    std::string text, part;
    std::wstring wtext, wpart;
    size_t n = next() % 40, m = 1 + next() % 5;
    for (size_t i = 0; i < n; ++i) {
      text += narrowLetters[next() % (round % 3 == 0 ? 5 : 4)];
      wtext += wideLetters[next() % (round % 3 == 0 ? 6 : 5)];
    }
    for (size_t i = 0; i < m; ++i) {
      part += narrowLetters[next() % 4];
      wpart += wideLetters[next() % 5];
    }
    ASSERT_EQ(kyd::BoundedStrStrIA(text.data(), text.size(), part.c_str()), Reference(text, part))
        << "text '" << text << "' part '" << part << "'";
    ASSERT_EQ(kyd::BoundedStrStrIW(wtext.data(), wtext.size(), wpart.c_str()), Reference(wtext, wpart))
        << "round " << round;
    ASSERT_EQ(kyd::ContainsNoCase(wtext.c_str(), wpart.c_str()), Reference(wtext, wpart)) << "round " << round;
    ASSERT_EQ(kyd::ContainsFolded(kyd::FoldCase(wtext.c_str()), kyd::FoldCase(wpart.c_str())), Reference(wtext, wpart))
        << "round " << round;
    // As an ID: '&', NUL and the wide letters beyond ASCII end one.
    const auto id = kyd::MatchEnd::kIdEnd;
    ASSERT_EQ(kyd::BoundedStrStrIA(text.data(), text.size(), part.c_str(), id), Reference(text, part, id))
        << "text '" << text << "' part '" << part << "'";
    ASSERT_EQ(kyd::BoundedStrStrIW(wtext.data(), wtext.size(), wpart.c_str(), id), Reference(wtext, wpart, id))
        << "round " << round;
  }
}

}  // namespace

namespace {

std::string Utf16Be(const std::wstring& text) {
  std::string bytes = "\xFE\xFF";
  for (wchar_t c : text) {
    bytes += static_cast<char>(c >> 8);
    bytes += static_cast<char>(c & 0xFF);
  }
  return bytes;
}

// The read-based search finds exactly what the mapped one does. The rows are
// searched in order by one reader, which keeps its buffer from file to file
// (a short file after a long one must not see the long one's bytes), and by
// one that maps every file over 4 KB. A file another program reads counts as
// not containing, even when that program lets others read and delete it.
TEST(FileTextSearch, FindsWhatTheMappedSearchFinds) {
  struct Row {
    const char* name;
    std::string bytes;
    const wchar_t* key;
    bool found;
    bool heldOpen = false;
  };
  const std::string longWithKey = std::string(40000, 'x') + "\r\nPCI\\VEN_10DE&DEV_0DE1\r\n" + std::string(40000, 'y');
  const Row rows[] = {
      {"ANSI, the ID in another case", "[Models]\r\n%D%=I, PCI\\VEN_10DE&DEV_0DE1&SUBSYS_1\r\n", L"pci\\ven_10de&dev_0de1", true},
      {"ANSI, the ID continues", "[Models]\r\nPCI\\VEN_10DE&DEV_0DE12\r\n", L"PCI\\VEN_10DE&DEV_0DE1", false},
      {"ANSI, continued once, then whole", "USB\\ROOT_HUB30, USB\\ROOT_HUB\r\n", L"usb\\root_hub", true},
      {"ANSI, the ID ends the file", "x=USB\\ROOT_HUB", L"USB\\ROOT_HUB", true},
      {"long file with the ID", longWithKey, L"PCI\\VEN_10DE&DEV_0DE1", true},
      {"short file after it, without", "[Models]\r\n", L"PCI\\VEN_10DE&DEV_0DE1", false},
      {"UTF-16 LE mark", Utf16(L"[Models]\r\nPCI\\VEN_8086&DEV_0166\r\n", true), L"pci\\ven_8086&dev_0166", true},
      {"UTF-16 LE, the ID continues", Utf16(L"PCI\\VEN_8086&DEV_01666", true), L"PCI\\VEN_8086&DEV_0166", false},
      {"UTF-16 LE, odd size", Utf16(L"PCI\\VEN_8086&DEV_0166", true) + "!", L"PCI\\VEN_8086&DEV_0166", true},
      {"UTF-16 LE, a NUL before the ID", Utf16(std::wstring(L"head\0PCI\\VEN_8086", 17), true), L"PCI\\VEN_8086", false},
      {"UTF-16 BE mark, compared as LE", Utf16Be(L"PCI\\VEN_8086&DEV_0166"), L"PCI\\VEN_8086", false},
      {"UTF-16 without a mark", Utf16(L"PCI\\VEN_8086&DEV_0166", false), L"PCI\\VEN_8086", false},
      {"UTF-8 mark", "\xEF\xBB\xBFPCI\\VEN_1002&DEV_6798\r\n", L"pci\\ven_1002&DEV_6798", true},
      {"ANSI, a NUL before the ID", std::string("head\0PCI\\VEN_1002", 17), L"PCI\\VEN_1002", false},
      {"ANSI, a NUL after the ID", std::string("PCI\\VEN_1002\0tail", 17), L"PCI\\VEN_1002", true},
      {"held open, read and delete shared", "PCI\\VEN_1002&DEV_6798", L"PCI\\VEN_1002", false, true},
      {"a mark alone", "\xFF\xFE", L"P", false},
      {"empty", "", L"P", false},
  };
  ScratchDir dir(L"filetext");
  kyd::FileTextSearch reader;
  kyd::FileTextSearch mapsOver4K(4096);
  int number = 0;
  for (const Row& row : rows) {
    std::wstring path = dir / (L"oem" + std::to_wstring(++number) + L".inf");
    ASSERT_TRUE(WriteFileBytes(path, row.bytes)) << row.name;
    kyd::UniqueFile held(row.heldOpen ? CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_DELETE,
                                                    nullptr, OPEN_EXISTING, 0, nullptr)
                                      : INVALID_HANDLE_VALUE);
    ASSERT_EQ(held.valid(), row.heldOpen) << row.name;
    const auto id = kyd::MatchEnd::kIdEnd;
    EXPECT_EQ(kyd::CFindStrFormFile().FindInFile(path.c_str(), row.key, id), row.found) << row.name << " (mapped)";
    EXPECT_EQ(reader.FindInFile(path.c_str(), row.key, id), row.found) << row.name << " (read)";
    EXPECT_EQ(mapsOver4K.FindInFile(path.c_str(), row.key, id), row.found) << row.name << " (read, over 4 KB mapped)";
  }
}

}  // namespace
