// The process-wide diagnostic log. Created switched off; a file "log.ini"
// beside the module switches it on (see base_log.cpp). Every unit logs through
// KLOG / KLOG_RAW so that the call site passes its unit name and line.
#pragma once

#include <windows.h>

#include <cstdarg>
#include <string>

namespace base {

enum LogLevel : int {
  LOG_ERROR = 1,
  LOG_WARNING = 2,
  LOG_TRACE = 4,
  LOG_INFO = 8,
  LOG_ALL = 0xFFFF,
};

struct LogSettings {
  int filter = LOG_ERROR | LOG_WARNING;
  std::string folder;
  std::string fileName;
};

class BaseLog {
 public:
  static BaseLog* Instance();

  BaseLog();
  virtual ~BaseLog();
  BaseLog(const BaseLog&) = delete;
  BaseLog& operator=(const BaseLog&) = delete;

  // A levelled line: "[LEVEL|y-m-d h:m:s(file:line)] message\n".
  bool Log(int level, const char* sourceFile, int line, const char* format, ...)
      __attribute__((format(ms_printf, 5, 6)));
  bool LogV(int level, const char* sourceFile, int line, const char* format, va_list args);
  // An unprefixed text; mode 1 goes to standard output, any other to the file.
  void LogRaw(int mode, const char* format, ...) __attribute__((format(ms_printf, 3, 4)));

  bool enabled() const { return enabled_; }

  // Opens (appending) the given file and switches the log on with the mask.
  bool Enable(const std::wstring& path, int filter);
  // Switches the log on as a module named `baseName` in `folder` would
  // switch on its own (see EnableFromIni); false, and nothing changed, when
  // no "log.ini" stands there.
  bool EnableFromIniIn(const std::wstring& folder, const std::string& baseName);
  void Disable();

  // "[LEVEL" name of a level value: ALL for 0xFFFF, else its lowest known bit.
  static const char* LevelName(int level);
  // The file name of the module holding the logger, without folder and
  // extension; empty when it cannot be read.
  static std::string ModuleBaseName();

 private:
  void EnableFromIni();

  bool enabled_ = false;
  std::string name_;
  FILE* file_ = nullptr;
  CRITICAL_SECTION lock_;
  LogSettings settings_;
};

// Traces a function's Entry and Leave with the elapsed milliseconds.
class FunctionTracer {
 public:
  explicit FunctionTracer(const char* name);
  ~FunctionTracer();
  FunctionTracer(const FunctionTracer&) = delete;
  FunctionTracer& operator=(const FunctionTracer&) = delete;

 private:
  std::string name_;
  DWORD start_;
};

}  // namespace base

// Each .cpp that logs names its unit once: static constexpr char kLogUnit[] = "...";
#define KLOG(level, ...) ::base::BaseLog::Instance()->Log((level), kLogUnit, __LINE__, __VA_ARGS__)
#define KLOG_RAW(...) ::base::BaseLog::Instance()->LogRaw(2, __VA_ARGS__)
