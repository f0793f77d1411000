// drv64\drv64.exe beside the host: the 64-bit program that makes the
// changes of a call that belong to 64-bit processes on 64-bit Windows (the
// device removal, a DCH driver's parts, the leftover packages, the native
// system files). Within one call (a Drv64Call alive on the calling thread),
// the first step that needs it starts it once, as "drv64.exe kydserve" with
// the session; each step is then one command to that run, in the call's
// order, and the run ends when the call does. Without a Drv64Call, each step
// starts the program for its one command, as a host calling the removal
// functions directly expects.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

namespace kyd {

class Drv64Call {
 public:
  Drv64Call();  // an inner Drv64Call shares the outer one's run
  ~Drv64Call();
  Drv64Call(const Drv64Call&) = delete;
  Drv64Call& operator=(const Drv64Call&) = delete;

 private:
  bool outer_ = false;
};

// Runs one drv64.exe command ("kydremove" and the hardware ID, ...):
// `exitCode` is what the command answered, `output` gets the lines it wrote.
// What it planned or journaled is the caller's afterwards, and the caller's
// registry reads are forgotten. False when the program could not be started
// or ended before it answered (the command failed).
bool RunDrv64Command(const std::vector<std::wstring>& arguments, DWORD& exitCode,
                     std::vector<std::wstring>* output = nullptr);

// The same, only to the call's run when it is already up (false, and nothing
// started, otherwise).
bool AskRunningDrv64(const std::vector<std::wstring>& arguments, DWORD& exitCode, std::vector<std::wstring>& output);

// drv64.exe starts this process made so far.
long Drv64Starts();

}  // namespace kyd
