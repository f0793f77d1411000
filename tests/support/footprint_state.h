// What the footprint bench made while seeding, shared by its seeding
// (footprint.cpp) and its checks (footprint_check.cpp).
#pragma once

#include <map>
#include <memory>
#include <string>
#include <vector>

#include "support/engine_bench.h"
#include "support/footprint.h"
#include "support/wine_bench.h"

namespace kydtest::fp {

struct Bench::State {
  ScratchDir scratch{L"footprint"};
  SleeperProcesses sleepers{scratch.path()};
  std::map<int, int> processOf;  // item line -> sleeper index
  std::map<int, std::unique_ptr<TestService>> serviceOf;
  std::map<int, std::unique_ptr<SeededDevice>> deviceOf;
  std::map<int, std::unique_ptr<SeededInf>> infOf;
  struct CreatedKey {
    HKEY root;
    std::wstring path, hivePath;
    bool top;
  };
  std::vector<CreatedKey> createdKeys;
  struct SetValue {
    HKEY root;
    std::wstring path, name;
  };
  std::vector<SetValue> addedValues;  // new values in keys that were there before
  std::vector<std::wstring> volatileKeys;  // hive paths of keys made volatile
  std::vector<std::wstring> createdFiles, createdDirs;
  std::wstring hive;  // the second user's hive file, once loaded
  // Files in use: held open or loaded by a program of another maker (the
  // holder), with the bytes a loaded one was seeded with; the list of
  // deletions at the next restart as it was before the seeding, and the
  // operation another program has in it.
  std::vector<const Item*> inUse;
  std::map<int, std::string> seededBytes;
  int holder = -1;
  bool restarted = false;
  std::vector<BYTE> pendingBefore;
  bool hadPending = false;
  std::wstring othersFile;
};

// Files in use and the restart (footprint_restart.cpp).
bool IsInUse(const Item& item);
// Starts the holder of the seeded files in use and puts another program's
// operation in the list of deletions at the next restart.
bool HoldFilesInUse(Bench::State& s, std::string& error);
// Puts the list back as it was before the seeding.
void PutBackPending(Bench::State& s);
// Whether the list Windows carries out at start deletes `path` (a path as
// it is on disk, which is the name the 64-bit system process knows).
bool DueAtRestart(const std::wstring& path);
// The library's holding folders on the system drive (lower case), where a
// file in use that can be renamed is moved before it is given to the restart.
std::wstring HoldingFolder();

// A canonical path at or below another.
inline bool Under(const std::wstring& path, const std::wstring& root) {
  return !root.empty() && path.compare(0, root.size(), root) == 0 &&
         (path.size() == root.size() || path[root.size()] == L'\\');
}

}  // namespace kydtest::fp
