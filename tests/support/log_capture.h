// The library's log captured into a file of the test's own.
#pragma once

#include <string>
#include <vector>

namespace kydtest {

// Switches the process logger on into a file of its own for the object's
// lifetime; Messages() gives the text after each line's "[LEVEL|time(unit:line)] ".
class LogCapture {
 public:
  LogCapture();
  ~LogCapture();
  LogCapture(const LogCapture&) = delete;
  LogCapture& operator=(const LogCapture&) = delete;

  struct Line {
    std::string level;    // "INFO", "ERROR", ...
    std::string unit;     // "BaseDrvUninst"
    std::string message;  // without the line end
  };
  std::vector<Line> Lines() const;
  std::vector<std::string> Messages() const;
  // How many messages equal text exactly.
  int Count(const std::string& text) const;
  // The whole file as written.
  std::string Text() const;
  // Each levelled line as "LEVEL Unit: message".
  std::vector<std::string> Summary() const;

 private:
  std::wstring path_;
};

}  // namespace kydtest
