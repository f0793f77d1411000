// The Windows shell around an uninstall: the vendor deep clean ends it and
// the library leaves it so; drvuninst, which a person ran from that shell,
// starts it again, as the user it ran as.
//
// drvuninst may run with other credentials than the shell's (a technician's
// administrator account in a user's session): the shell is started again
// only with the token of the shell that was running, taken before the
// uninstall, never with drvuninst's own. Without that token it stays
// stopped, and drvuninst says so.
#pragma once

#include <windows.h>

#include <string>

#include "platform/handle.h"

namespace drvuninst {

class ShellWatch {
 public:
  // Notes whether the shell of this session runs now, and takes its token.
  ShellWatch();
  // When the shell ran at construction and runs no more, starts it again
  // with its own token; returns what became of it, for the person at the
  // console (empty when the shell was not ended).
  std::wstring StartAgainIfEnded() const;
  const std::wstring& program() const { return program_; }

 private:
  std::wstring program_;  // full path of the shell's executable
  bool wasRunning_ = false;
  kyd::UniqueHandle token_;  // a primary token of the running shell's
  std::wstring user_;        // DOMAIN\name of that token, for the message
  DWORD tokenError_ = ERROR_SUCCESS;
};

}  // namespace drvuninst
