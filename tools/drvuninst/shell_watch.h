// The Windows shell around an uninstall: the vendor deep clean ends it, in
// every session, and the library leaves it so; drvuninst starts each one
// again, as the user it ran as, or says which sessions were left without
// one.
//
// drvuninst may run with other credentials than a shell's (a technician's
// administrator account in a user's session, other users' sessions): a
// shell is started again only with the token of the shell that was running,
// taken before the uninstall, never with drvuninst's own, and in its own
// session (another session's shell needs the right to assign a primary
// token, which a host running as SYSTEM holds; the secondary logon would
// start it in drvuninst's session and is used only for drvuninst's own).
// Without that, the shell stays stopped, and drvuninst says so.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

#include "platform/handle.h"

namespace drvuninst {

class ShellWatch {
 public:
  // Notes which sessions' shells run now, and takes each one's token.
  ShellWatch();
  // Starts each shell that ran at construction and runs no more again with
  // its own token; returns what became of them, for the person at the
  // console (empty when no shell was ended).
  std::wstring StartAgainIfEnded() const;
  const std::wstring& program() const { return program_; }

 private:
  struct Shell {
    DWORD session = 0;
    kyd::UniqueHandle token;  // a primary token of the running shell's
    std::wstring user;        // DOMAIN\name of that token, for the message
    DWORD tokenError = ERROR_SUCCESS;
  };
  std::wstring program_;         // full path of drvuninst's user's shell
  std::wstring machineProgram_;  // the machine's, which other sessions run
  DWORD ownSession_ = 0;
  std::vector<Shell> shells_;
};

}  // namespace drvuninst
