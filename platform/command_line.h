// The process's command line split as the C runtime would split it.
#pragma once

#include <string>
#include <vector>

namespace kyd {

// argv[0] first; empty when the command line cannot be read.
std::vector<std::wstring> CommandLineArgs();

}  // namespace kyd
