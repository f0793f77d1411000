// The process's command line split as the C runtime would split it.
#pragma once

#include <string>
#include <vector>

namespace kyd {

// argv[0] first; empty when the command line cannot be read.
std::vector<std::wstring> CommandLineArgs();
// A command line given as text, split the same way.
std::vector<std::wstring> SplitCommandLine(const std::wstring& line);

// One argument in quotes, written so that the splitting above gives it back
// as it is: a quote inside, and backslashes before a quote or the end,
// escaped with backslashes.
std::wstring QuoteArgument(const std::wstring& argument);

}  // namespace kyd
