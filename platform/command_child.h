// A program of our own that takes commands one by one, for as long as we
// keep its input open: each command is one line on its standard input, and
// its answer is the lines it writes to its standard output, the last of
// them "kyd-answer <exit code>". Text is UTF-8 both ways.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

#include "platform/handle.h"

namespace kyd {

// The line that ends an answer, before the exit code.
inline constexpr char kAnswerMark[] = "kyd-answer ";

// The next line from a pipe (without its line end), `pending` holding what
// was read past the last line; false once the pipe is closed or broken.
bool ReadPipeLine(HANDLE pipe, std::string& pending, std::string& line);

class CommandChild {
 public:
  CommandChild() = default;
  ~CommandChild() { Finish(); }
  CommandChild(const CommandChild&) = delete;
  CommandChild& operator=(const CommandChild&) = delete;

  // Starts `program` with the full command line, no window, in a job that
  // ends it when this object goes (where the host's own job allows one
  // inside it). False when it could not be started.
  bool Start(const std::wstring& program, std::wstring commandLine);
  bool running() const { return process_.valid(); }

  // Sends one command line and waits for its answer, without a time limit.
  // False when the program ended (or its pipes broke) before it answered:
  // then it is finished, and `exitCode` is its own exit code.
  bool Ask(const std::wstring& command, DWORD& exitCode, std::vector<std::wstring>& output);

  // Closes its input, which tells it to end, and waits up to `waitMs` for it
  // to end; the job ends whatever is left. Its exit code, when known.
  DWORD Finish(DWORD waitMs = 30000);

 private:
  bool ReadLine(std::string& line);

  UniqueHandle job_, process_, input_, output_;
  std::string pending_;  // read but not yet handed out
};

}  // namespace kyd
