// Text out of drvuninst: to a console as Unicode (so Chinese reads right in
// any console code page), to a file or pipe as UTF-8; and the library's log
// followed while a call runs.
#pragma once

#include <windows.h>

#include <functional>
#include <string>

namespace drvuninst {

void Print(const std::wstring& text);  // standard output
void Error(const std::wstring& text);  // standard error

// When on, switches the library's log on for this run (a log.ini beside
// it, unless one is there already; removed again afterwards) and prints the
// lines the library writes to log\KYDDrvUninst.log from now on, converted
// from the log's code page (936), to standard output or, with `toError`, to
// standard error. When off, it only makes the call.
class LogFollower {
 public:
  LogFollower(const std::wstring& folder, bool on, bool toError = false);
  ~LogFollower();
  LogFollower(const LogFollower&) = delete;
  LogFollower& operator=(const LogFollower&) = delete;

  // Runs the call on a thread of its own and prints the log's new lines
  // while it runs; returns the call's result.
  int Follow(const std::function<int()>& call);

 private:
  // Prints the complete lines written since the last look; with
  // `everything`, also a last line that has no line end yet.
  void PrintNew(bool everything);

  std::wstring ini_, file_;
  bool on_;
  void (*out_)(const std::wstring&);
  bool madeIni_ = false;
  LONGLONG offset_ = 0;
  std::string partial_;
};

}  // namespace drvuninst
