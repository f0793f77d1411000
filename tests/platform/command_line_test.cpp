// Every command line the library builds for a program of its own (drv64.exe,
// a journal's child runs) quotes its arguments one way; the program splits
// the line with CommandLineToArgvW and must get each argument back as it was.
#include <gtest/gtest.h>

#include <windows.h>
#include <shellapi.h>

#include <string>

#include "platform/command_line.h"
#include "support/wine_bench.h"

namespace {

TEST(QuoteArgument, EachArgumentComesBackWhole) {
  const struct {
    std::wstring argument, quoted;
  } cases[] = {
      {L"kydsysfiles", L"\"kydsysfiles\""},
      {L"", L"\"\""},
      {L"PCI\\VEN_10DE&DEV_1C82&SUBSYS_00000000", L"\"PCI\\VEN_10DE&DEV_1C82&SUBSYS_00000000\""},
      {L"C:\\Program Files\\Kyd Journal", L"\"C:\\Program Files\\Kyd Journal\""},
      // A folder's trailing backslashes would escape the closing quote.
      {L"C:\\Kyd Journal\\", L"\"C:\\Kyd Journal\\\\\""},
      {L"\\\\server\\share\\\\", L"\"\\\\server\\share\\\\\\\\\""},
      // Quotes inside, with and without backslashes before them.
      {L"say \"hi\"", L"\"say \\\"hi\\\"\""},
      {L"a\\\"b", L"\"a\\\\\\\"b\""},
      {L"tab\there", L"\"tab\there\""},
  };
  for (const auto& c : cases) {
    const std::wstring quoted = kyd::QuoteArgument(c.argument);
    EXPECT_EQ(quoted, c.quoted) << kydtest::ToNarrow(c.argument);
    const std::wstring line = L"\"C:\\Kyd Tools\\drv64.exe\" " + quoted + L" " + kyd::QuoteArgument(L"last");
    int count = 0;
    wchar_t** argv = CommandLineToArgvW(line.c_str(), &count);
    ASSERT_NE(argv, nullptr);
    ASSERT_EQ(count, 3) << kydtest::ToNarrow(line);
    EXPECT_EQ(std::wstring(argv[1]), c.argument) << kydtest::ToNarrow(line);
    EXPECT_EQ(std::wstring(argv[2]), L"last") << kydtest::ToNarrow(line);
    LocalFree(argv);
  }
}

}  // namespace
