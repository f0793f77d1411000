// The published INFs (oem*.inf in the INF folder) read once per call. While
// an InfIndexCall is alive, the first search lists the folder and reads each
// file into memory; every later search of the call, for any key, is answered
// from those texts, so that a device's DCH parts, its driver-store packages
// and its leftover INFs cost one pass over the folder between them. A file
// the call has removed (or, in a plan, planned away) is no longer found, and
// its text goes; every text goes when the call ends. Without an
// InfIndexCall, each search is a pass of its own. On 64-bit Windows the
// call's drv64.exe run holds the call's index (its steps search it): a
// search the library makes while that run is up is answered by the run, so
// that the folder is read once for the call on either side.
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

// The answer of drv64.exe "kydinfs" "<key>": IndexedInfsNaming in that
// process, one line per path, then the count. The library takes the paths
// from an answer only when it is whole.
std::vector<std::wstring> InfsNamingAnswer(const std::wstring& key);
bool ReadInfsNamingAnswer(const std::vector<std::wstring>& lines, std::vector<std::wstring>& paths);

// Passes over the INF folder this process has made so far (each one lists
// it and reads every oem*.inf).
long InfFolderPasses();

}  // namespace kyd
