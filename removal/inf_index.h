// The published INFs (oem*.inf in the INF folder) read once per call. While
// an InfIndexCall is alive, the first search lists the folder and reads each
// file into memory; every later search of the call, for any key, is answered
// from those texts, so that a device's DCH parts, its driver-store packages
// and its leftover INFs cost one pass over the folder between them. A file
// the call has removed (or, in a plan, planned away) is no longer found, and
// its text goes; every text goes when the call ends. Without an
// InfIndexCall, each search is a pass of its own.
#pragma once

#include <string>
#include <vector>

namespace kyd {

class InfIndexCall {
 public:
  InfIndexCall();  // an inner one shares the outer one's texts
  ~InfIndexCall();
  InfIndexCall(const InfIndexCall&) = delete;
  InfIndexCall& operator=(const InfIndexCall&) = delete;

 private:
  bool outer_ = false;
};

// Full paths of the oem*.inf files whose text holds `key` as an ID (any
// case, encoding by byte-order mark, not followed by a letter, digit or
// underscore), in the folder's listing order.
std::vector<std::wstring> IndexedInfsNaming(const std::wstring& key);

// Passes over the INF folder this process has made so far (each one lists
// it and reads every oem*.inf).
long InfFolderPasses();

}  // namespace kyd
