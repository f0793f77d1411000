#include "tools/drvuninst/console_text.h"

#include <algorithm>

#include "platform/handle.h"

namespace drvuninst {
namespace {

constexpr UINT kLogCodePage = 936;  // the library writes its Chinese texts in GBK
constexpr DWORD kLogPollMs = 100;

// A console takes Unicode as it is, whatever its output code page; anything
// else (a file, a pipe) gets UTF-8, which keeps every character.
void Write(DWORD which, const std::wstring& text) {
  HANDLE out = GetStdHandle(which);
  if (out == nullptr || out == INVALID_HANDLE_VALUE || text.empty()) return;
  DWORD mode = 0;
  if (GetConsoleMode(out, &mode)) {
    constexpr size_t kChunk = 8192;  // old consoles refuse very long writes
    for (size_t at = 0; at < text.size(); at += kChunk) {
      DWORD written = 0;
      DWORD count = static_cast<DWORD>(std::min(kChunk, text.size() - at));
      WriteConsoleW(out, text.data() + at, count, &written, nullptr);
    }
    return;
  }
  int bytes = WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0,
                                  nullptr, nullptr);
  if (bytes <= 0) return;
  std::string utf8(static_cast<size_t>(bytes), '\0');
  WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), utf8.data(), bytes,
                      nullptr, nullptr);
  DWORD written = 0;
  WriteFile(out, utf8.data(), static_cast<DWORD>(utf8.size()), &written, nullptr);
}

std::wstring FromLogCodePage(const std::string& bytes) {
  if (bytes.empty()) return {};
  int n = MultiByteToWideChar(kLogCodePage, 0, bytes.data(), static_cast<int>(bytes.size()), nullptr, 0);
  if (n <= 0) return std::wstring(bytes.begin(), bytes.end());
  std::wstring wide(static_cast<size_t>(n), L'\0');
  MultiByteToWideChar(kLogCodePage, 0, bytes.data(), static_cast<int>(bytes.size()), wide.data(), n);
  return wide;
}

LONGLONG FileSize(const std::wstring& path) {
  WIN32_FILE_ATTRIBUTE_DATA data;
  if (!GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &data)) return 0;
  return (static_cast<LONGLONG>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
}

DWORD WINAPI RunCall(void* parameter) {
  auto* job = static_cast<std::pair<const std::function<int()>*, int>*>(parameter);
  try {
    job->second = (*job->first)();
  } catch (...) {  // nothing may leave a thread
    job->second = 0;
    return 1;
  }
  return 0;
}

}  // namespace

void Print(const std::wstring& text) { Write(STD_OUTPUT_HANDLE, text); }
void Error(const std::wstring& text) { Write(STD_ERROR_HANDLE, text); }

LogFollower::LogFollower(const std::wstring& folder, bool on, bool toError)
    : ini_(folder + L"log.ini"), file_(folder + L"log\\KYDDrvUninst.log"), on_(on), out_(toError ? Error : Print) {
  if (!on_) return;
  if (GetFileAttributesW(ini_.c_str()) == INVALID_FILE_ATTRIBUTES)
    madeIni_ = WritePrivateProfileStringW(L"log", L"filter", L"65535", ini_.c_str()) != FALSE;
  offset_ = FileSize(file_);
}

LogFollower::~LogFollower() {
  if (madeIni_) DeleteFileW(ini_.c_str());
}

int LogFollower::Follow(const std::function<int()>& call) {
  if (!on_) return call();
  std::pair<const std::function<int()>*, int> job(&call, 0);
  kyd::UniqueHandle thread(CreateThread(nullptr, 0, RunCall, &job, 0, nullptr));
  if (!thread) {
    job.second = call();
  } else {
    while (WaitForSingleObject(thread.get(), kLogPollMs) == WAIT_TIMEOUT) PrintNew(false);
  }
  PrintNew(true);
  return job.second;
}

void LogFollower::PrintNew(bool everything) {
  kyd::UniqueFile file(CreateFileW(file_.c_str(), GENERIC_READ,
                                   FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                   OPEN_EXISTING, 0, nullptr));
  if (file) {
    LARGE_INTEGER at{};
    at.QuadPart = offset_;
    if (SetFilePointerEx(file.get(), at, nullptr, FILE_BEGIN)) {
      char buffer[4096];
      DWORD read = 0;
      while (ReadFile(file.get(), buffer, sizeof buffer, &read, nullptr) && read > 0) {
        partial_.append(buffer, read);
        offset_ += read;
      }
    }
  }
  // Whole lines only: a GBK character never holds a line-feed byte, so a
  // line cut here is never cut inside a character.
  std::wstring text;
  size_t start = 0;
  for (size_t end; (end = partial_.find('\n', start)) != std::string::npos; start = end + 1) {
    std::string line = partial_.substr(start, end - start);
    while (!line.empty() && line.back() == '\r') line.pop_back();
    if (!line.empty()) text += FromLogCodePage(line) + L"\n";
  }
  partial_.erase(0, start);
  if (everything && !partial_.empty()) {
    text += FromLogCodePage(partial_) + L"\n";
    partial_.clear();
  }
  out_(text);
}

}  // namespace drvuninst
