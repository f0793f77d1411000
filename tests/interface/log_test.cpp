#include <gtest/gtest.h>

#include <regex>

#include "platform/base_log.h"
#include "support/wine_bench.h"

namespace {

using kydtest::ReadFileBytes;
using kydtest::ScratchDir;

class LogFile : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(base::BaseLog::Instance()->Enable(path_, filter_)); }
  void TearDown() override { base::BaseLog::Instance()->Disable(); }
  std::string Text() const { return ReadFileBytes(path_); }

  ScratchDir dir_{L"log"};
  std::wstring path_ = dir_ / L"unit.log";
  int filter_ = base::LOG_ALL;
};

TEST_F(LogFile, LevelledLinesCarryLevelDateAndSource) {
  base::BaseLog::Instance()->Log(base::LOG_INFO, ".\\DrvUninstMangement", 42, "result=%d %S", 7, L"PCI\\VEN_1");
  base::BaseLog::Instance()->Log(base::LOG_ERROR, nullptr, 9, "no source");
  std::string text = Text();
  EXPECT_TRUE(std::regex_search(
      text, std::regex(R"(^\[INFO\|\d{4}-[1-9]\d?-[1-9]\d? \d{1,2}:\d{1,2}:\d{1,2}\(DrvUninstMangement:42\)\] result=7 PCI\\VEN_1\n)")))
      << text;
  EXPECT_TRUE(std::regex_search(text, std::regex(R"(\n\[ERROR\|[-0-9]+ [:0-9]+\] no source\n$)"))) << text;
}

TEST_F(LogFile, LevelNamesComeFromTheLowestKnownBit) {
  EXPECT_STREQ(base::BaseLog::LevelName(5), "ERROR");
  EXPECT_STREQ(base::BaseLog::LevelName(12), "TRACE");
  EXPECT_STREQ(base::BaseLog::LevelName(16), "");
  EXPECT_STREQ(base::BaseLog::LevelName(0xFFFF), "ALL");
  base::BaseLog::Instance()->Log(16, nullptr, 1, "nameless");
  EXPECT_EQ(Text().rfind("[|", 0), 0u) << Text();
}

TEST_F(LogFile, OverlongMessagesAreCutNotOverrun) {
  std::string big(30000, 'x');
  EXPECT_TRUE(base::BaseLog::Instance()->Log(base::LOG_INFO, nullptr, 1, "%s", big.c_str()));
  base::BaseLog::Instance()->Log(base::LOG_INFO, nullptr, 2, "after");
  std::string text = Text();
  size_t first = text.find('\n');
  ASSERT_NE(first, std::string::npos);
  EXPECT_LT(first, 10240u);
  EXPECT_GT(first, 10000u);
  EXPECT_NE(text.find("] after\n"), std::string::npos);
}

TEST_F(LogFile, RawTextIsWrittenUnchanged) {
  base::BaseLog::Instance()->LogRaw(2, "match hwIds:  %S\n", L"PCI\\VEN_1234");
  EXPECT_EQ(Text(), "match hwIds:  PCI\\VEN_1234\n");
}

TEST_F(LogFile, TracerWritesEntryAndLeaveWithAnEmptyLineAfter) {
  { base::FunctionTracer trace("CDrvUninstMangement::UninstallDrv"); }
  std::string text = Text();
  EXPECT_TRUE(std::regex_search(text, std::regex(R"(^\[TRACE\|[^\]]*\(base_log:\d+\)\] Function CDrvUninstMangement::UninstallDrv Entry\n)")))
      << text;
  EXPECT_TRUE(std::regex_search(text, std::regex(R"(\] Function CDrvUninstMangement::UninstallDrv Leave, used tick:\d+ ms\n\n$)")))
      << text;
}

class FilteredLog : public LogFile {
 protected:
  FilteredLog() { filter_ = base::LOG_ERROR | base::LOG_INFO; }
};

TEST_F(FilteredLog, LevelsOutsideTheMaskAreDropped) {
  base::BaseLog::Instance()->Log(base::LOG_TRACE, nullptr, 1, "trace");
  base::BaseLog::Instance()->Log(base::LOG_INFO, nullptr, 1, "info");
  std::string text = Text();
  EXPECT_EQ(text.find("trace"), std::string::npos);
  EXPECT_NE(text.find("info"), std::string::npos);
}

TEST(LogSwitchedOff, WritesNothingAndSaysSo) {
  base::BaseLog::Instance()->Disable();
  EXPECT_FALSE(base::BaseLog::Instance()->Log(base::LOG_ERROR, "x", 1, "%s", "y"));
  EXPECT_FALSE(base::BaseLog::Instance()->enabled());
}

}  // namespace
