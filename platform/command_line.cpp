#include "platform/command_line.h"

#include <windows.h>
#include <shellapi.h>

#include <memory>

namespace kyd {

std::vector<std::wstring> CommandLineArgs() {
  struct LocalFreeDeleter {
    void operator()(wchar_t** p) const { LocalFree(p); }
  };
  int argc = 0;
  std::unique_ptr<wchar_t*, LocalFreeDeleter> argv(CommandLineToArgvW(GetCommandLineW(), &argc));
  std::vector<std::wstring> args;
  if (!argv) return args;
  for (int i = 0; i < argc; ++i) args.emplace_back(argv.get()[i]);
  return args;
}

}  // namespace kyd
