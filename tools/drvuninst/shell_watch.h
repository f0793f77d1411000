// The Windows shell around an uninstall: the vendor deep clean ends it and
// the library leaves it so; drvuninst, which a person ran from that shell,
// starts it again.
#pragma once

#include <string>

namespace drvuninst {

class ShellWatch {
 public:
  // Notes whether the shell is running now.
  ShellWatch();
  // When the shell ran at construction and runs no more, starts it again
  // from its full path; true when it did.
  bool StartAgainIfEnded() const;
  const std::wstring& program() const { return program_; }

 private:
  std::wstring program_;  // full path of the shell's executable
  bool wasRunning_ = false;
};

}  // namespace drvuninst
