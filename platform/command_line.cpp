#include "platform/command_line.h"

#include <windows.h>
#include <shellapi.h>

#include <memory>

namespace kyd {

std::vector<std::wstring> CommandLineArgs() { return SplitCommandLine(GetCommandLineW()); }

std::vector<std::wstring> SplitCommandLine(const std::wstring& line) {
  struct LocalFreeDeleter {
    void operator()(wchar_t** p) const { LocalFree(p); }
  };
  int argc = 0;
  std::unique_ptr<wchar_t*, LocalFreeDeleter> argv(CommandLineToArgvW(line.c_str(), &argc));
  std::vector<std::wstring> args;
  if (!argv) return args;
  for (int i = 0; i < argc; ++i) args.emplace_back(argv.get()[i]);
  return args;
}

std::wstring QuoteArgument(const std::wstring& argument) {
  std::wstring quoted = L"\"";
  size_t backslashes = 0;
  for (wchar_t c : argument) {
    if (c == L'\\') {
      ++backslashes;
      continue;
    }
    quoted.append(c == L'"' ? backslashes * 2 + 1 : backslashes, L'\\');
    backslashes = 0;
    quoted += c;
  }
  quoted.append(backslashes * 2, L'\\');
  return quoted + L"\"";
}

}  // namespace kyd
