#include "platform/base_log.h"

#include <share.h>
#include <stdio.h>

#include <cstring>

namespace base {
namespace {

constexpr char kTracerUnit[] = "base_log";
constexpr size_t kBufferSize = 10240;
constexpr size_t kRawBufferSize = 256;

// Shared by every levelled call; guarded by the logger's critical section.
char g_message[kBufferSize];
char g_line[kBufferSize];

// vsnprintf that always terminates and never writes past the buffer. The
// Microsoft runtime's formatter is used on purpose: "%S" is a wide string.
void FormatInto(char* buffer, size_t size, const char* format, va_list args) {
  buffer[0] = '\0';
  int n = _vsnprintf(buffer, size - 1, format, args);
  if (n < 0 || static_cast<size_t>(n) >= size - 1) buffer[size - 1] = '\0';
}

void FormatInto(char* buffer, size_t size, const char* format, ...) {
  va_list args;
  va_start(args, format);
  FormatInto(buffer, size, format, args);
  va_end(args);
}

// Folder of the module that holds this code, with a trailing backslash.
std::wstring OwnModuleFolder() {
  HMODULE self = nullptr;
  if (!GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS |
                              GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                          reinterpret_cast<LPCWSTR>(&OwnModuleFolder), &self)) {
    return {};
  }
  wchar_t path[MAX_PATH] = {};
  DWORD n = GetModuleFileNameW(self, path, MAX_PATH);
  if (n == 0 || n >= MAX_PATH) return {};
  std::wstring folder(path, n);
  size_t slash = folder.find_last_of(L"\\/");
  if (slash == std::wstring::npos) return {};
  folder.resize(slash + 1);
  return folder;
}

}  // namespace

BaseLog* BaseLog::Instance() {
  static BaseLog* instance = [] {
    BaseLog* log = new BaseLog();
    log->EnableFromIni();
    return log;
  }();
  return instance;
}

BaseLog::BaseLog() { InitializeCriticalSection(&lock_); }

BaseLog::~BaseLog() {
  Disable();
  DeleteCriticalSection(&lock_);
}

// Switched on only when "log.ini" stands beside the module: its [log] filter
// key is the level mask (all levels when absent), and lines go to
// log\<module base name>.log in the same folder.
void BaseLog::EnableFromIni() { EnableFromIniIn(OwnModuleFolder(), ModuleBaseName()); }

bool BaseLog::EnableFromIniIn(const std::wstring& folder, const std::string& baseName) {
  if (folder.empty() || baseName.empty()) return false;
  std::wstring ini = folder + L"log.ini";
  if (GetFileAttributesW(ini.c_str()) == INVALID_FILE_ATTRIBUTES) return false;
  int filter = static_cast<int>(GetPrivateProfileIntW(L"log", L"filter", LOG_ALL, ini.c_str()));
  std::wstring logFolder = folder + L"log\\";
  CreateDirectoryW(logFolder.c_str(), nullptr);
  std::wstring wideBase(baseName.begin(), baseName.end());
  return Enable(logFolder + wideBase + L".log", filter);
}

bool BaseLog::Enable(const std::wstring& path, int filter) {
  EnterCriticalSection(&lock_);
  if (file_) fclose(file_);
  file_ = _wfsopen(path.c_str(), L"ab", _SH_DENYNO);
  settings_.filter = filter;
  enabled_ = file_ != nullptr;
  LeaveCriticalSection(&lock_);
  return enabled_;
}

void BaseLog::Disable() {
  EnterCriticalSection(&lock_);
  enabled_ = false;
  if (file_) fclose(file_);
  file_ = nullptr;
  LeaveCriticalSection(&lock_);
}

const char* BaseLog::LevelName(int level) {
  if (level == LOG_ALL) return "ALL";
  if (level & LOG_ERROR) return "ERROR";
  if (level & LOG_WARNING) return "WARNING";
  if (level & LOG_TRACE) return "TRACE";
  if (level & LOG_INFO) return "INFO";
  return "";
}

std::string BaseLog::ModuleBaseName() {
  HMODULE self = nullptr;
  if (!GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS |
                              GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                          reinterpret_cast<LPCSTR>(&OwnModuleFolder), &self)) {
    return {};
  }
  char path[MAX_PATH] = {};
  DWORD n = GetModuleFileNameA(self, path, MAX_PATH);
  if (n == 0 || n >= MAX_PATH) return {};
  std::string name(path, n);
  size_t slash = name.find_last_of("\\/");
  if (slash != std::string::npos) name.erase(0, slash + 1);
  size_t dot = name.rfind('.');
  if (dot != std::string::npos) name.resize(dot);
  return name;
}

bool BaseLog::Log(int level, const char* sourceFile, int line, const char* format, ...) {
  if (!enabled_) return false;
  va_list args;
  va_start(args, format);
  LogV(level, sourceFile, line, format, args);
  va_end(args);
  return true;
}

bool BaseLog::LogV(int level, const char* sourceFile, int line, const char* format,
                   va_list args) {
  if (!enabled_) return false;
  EnterCriticalSection(&lock_);
  FormatInto(g_message, sizeof g_message, format ? format : "", args);
  if (sourceFile) {
    const char* slash = std::strrchr(sourceFile, '\\');
    if (slash) sourceFile = slash + 1;
  }
  SYSTEMTIME now;
  GetLocalTime(&now);
  if ((level & settings_.filter) != 0) {
    if (sourceFile) {
      FormatInto(g_line, sizeof g_line, "[%s|%d-%d-%d %d:%d:%d(%s:%d)] %s\n", LevelName(level),
                 now.wYear, now.wMonth, now.wDay, now.wHour, now.wMinute, now.wSecond,
                 sourceFile, line, g_message);
    } else {
      FormatInto(g_line, sizeof g_line, "[%s|%d-%d-%d %d:%d:%d] %s\n", LevelName(level),
                 now.wYear, now.wMonth, now.wDay, now.wHour, now.wMinute, now.wSecond,
                 g_message);
    }
    // A line cut to fit the buffer still ends the line, so that the next
    // one starts on its own.
    size_t length = std::strlen(g_line);
    if (length == sizeof g_line - 1 && g_line[length - 1] != '\n') g_line[length - 1] = '\n';
    if (enabled_ && file_) {
      fwrite(g_line, 1, length, file_);
      fflush(file_);
    }
  }
  LeaveCriticalSection(&lock_);
  return true;
}

void BaseLog::LogRaw(int mode, const char* format, ...) {
  char message[kRawBufferSize];
  va_list args;
  if (mode == 1) {
    va_start(args, format);
    FormatInto(message, sizeof message, format, args);
    va_end(args);
    SYSTEMTIME now;
    GetLocalTime(&now);
    char prefix[32];
    FormatInto(prefix, sizeof prefix, "[%d-%d-%d %d:%d:%d 6]", now.wYear, now.wMonth, now.wDay,
               now.wHour, now.wMinute, now.wSecond);
    printf("%s%s", prefix, message);
    return;
  }
  if (!enabled_) return;
  va_start(args, format);
  FormatInto(message, sizeof message, format, args);
  va_end(args);
  EnterCriticalSection(&lock_);
  if (enabled_ && file_) {
    fwrite(message, 1, std::strlen(message), file_);
    fflush(file_);
  }
  LeaveCriticalSection(&lock_);
}

FunctionTracer::FunctionTracer(const char* name) : name_(name ? name : ""), start_(GetTickCount()) {
  BaseLog::Instance()->Log(LOG_TRACE, kTracerUnit, __LINE__, "Function %s Entry", name_.c_str());
}

FunctionTracer::~FunctionTracer() {
  DWORD used = GetTickCount() - start_;  // unsigned: right across the 2^32 wrap
  BaseLog::Instance()->Log(LOG_TRACE, kTracerUnit, __LINE__, "Function %s Leave, used tick:%d ms\n",
                           name_.c_str(), static_cast<int>(used));
}

}  // namespace base
