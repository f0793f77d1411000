#include "support/log_capture.h"

#include <windows.h>

#include <algorithm>
#include <sstream>

#include "platform/base_log.h"
#include "support/wine_bench.h"

namespace kydtest {

LogCapture::LogCapture() {
  static int counter = 0;
  wchar_t temp[MAX_PATH] = {};
  GetTempPathW(MAX_PATH, temp);
  path_ = std::wstring(temp) + L"kydlog-" + std::to_wstring(GetCurrentProcessId()) + L"-" +
          std::to_wstring(counter++) + L".log";
  DeleteFileW(path_.c_str());
  base::BaseLog::Instance()->Enable(path_, base::LOG_ALL);
}

LogCapture::~LogCapture() {
  base::BaseLog::Instance()->Disable();
  DeleteFileW(path_.c_str());
}

std::vector<LogCapture::Line> LogCapture::Lines() const {
  std::vector<Line> lines;
  std::istringstream in(ReadFileBytes(path_));
  std::string text;
  while (std::getline(in, text)) {
    if (!text.empty() && text.back() == '\r') text.pop_back();
    if (text.empty() || text[0] != '[') continue;
    size_t bar = text.find('|');
    size_t close = text.find("] ");
    if (bar == std::string::npos || close == std::string::npos) continue;
    Line line;
    line.level = text.substr(1, bar - 1);
    size_t open = text.rfind('(', close);
    size_t colon = text.rfind(':', close);
    if (open != std::string::npos && open > bar && colon != std::string::npos && colon > open)
      line.unit = text.substr(open + 1, colon - open - 1);
    line.message = text.substr(close + 2);
    lines.push_back(line);
  }
  return lines;
}

std::vector<std::string> LogCapture::Messages() const {
  std::vector<std::string> messages;
  for (const Line& line : Lines()) messages.push_back(line.message);
  return messages;
}

int LogCapture::Count(const std::string& text) const {
  std::vector<std::string> messages = Messages();
  return static_cast<int>(std::count(messages.begin(), messages.end(), text));
}

std::string LogCapture::Text() const { return ReadFileBytes(path_); }

std::vector<std::string> LogCapture::Summary() const {
  std::vector<std::string> summary;
  for (const Line& line : Lines()) summary.push_back(line.level + " " + line.unit + ": " + line.message);
  return summary;
}

}  // namespace kydtest
