// Test bench for the cleaning engine: captured log lines, seeded registry
// keys, sleeping processes under chosen names, services of our own.
#pragma once

#include <windows.h>

#include <deque>
#include <string>
#include <vector>

#include "engine/base_drv_uninst.h"
#include "platform/handle.h"
#include "support/log_capture.h"

namespace kydtest {

// A registry key under HKEY_LOCAL_MACHINE or another root, deleted (with its
// tree) before and after the test. view64 adds KEY_WOW64_64KEY to every open,
// so a path that names Wow6432Node reaches the 32-bit view.
class SeededKey {
 public:
  SeededKey(HKEY root, std::wstring path, bool view64 = true);
  ~SeededKey();
  SeededKey(const SeededKey&) = delete;
  SeededKey& operator=(const SeededKey&) = delete;

  const std::wstring& path() const { return path_; }
  std::wstring operator/(const std::wstring& child) const { return path_ + L"\\" + child; }

 private:
  HKEY root_;
  std::wstring path_;
  bool view64_;
};

// Creation and inspection of keys and values; view64 as above.
bool RegCreate(HKEY root, const std::wstring& path, bool view64 = true);
bool RegSetString(HKEY root, const std::wstring& path, const std::wstring& name,
                  const std::wstring& value, DWORD type = REG_SZ, bool view64 = true);
bool RegSetBytes(HKEY root, const std::wstring& path, const std::wstring& name, DWORD type,
                 const void* data, DWORD size, bool view64 = true);
bool RegSetDword(HKEY root, const std::wstring& path, const std::wstring& name, DWORD value,
                 bool view64 = true);
bool RegValueExists(HKEY root, const std::wstring& path, const std::wstring& name,
                    bool view64 = true);
void RegDeleteValueIfPresent(HKEY root, const std::wstring& path, const std::wstring& name,
                             bool view64 = true);
// Subkey names of root\path, sorted; empty when the key is missing.
std::vector<std::wstring> RegSubKeys(HKEY root, const std::wstring& path, bool view64 = true);

// A name no other test process uses at the same time: prefix + process id.
std::wstring UniqueName(const std::wstring& prefix);

// Copies of tests/programs/sleeper under chosen file names in a folder of
// the test's, started by the test and ended by handle when the object goes
// (or with the test's process, whichever ends first; never by a timer).
class SleeperProcesses {
 public:
  explicit SleeperProcesses(const std::wstring& folder) : folder_(folder) {}
  ~SleeperProcesses();
  SleeperProcesses(const SleeperProcesses&) = delete;
  SleeperProcesses& operator=(const SleeperProcesses&) = delete;

  // Starts one more process from a copy named exeName; returns its index.
  // arguments: the sleeper's own after its time ("--hold <file>", "--load <dll>").
  int Start(const std::wstring& exeName, const std::wstring& arguments = {});
  // Ends the process and waits for it.
  void End(int index);
  // Starts one that holds files as another maker's program would: `open`
  // held open without delete sharing, `loaded` loaded as DLLs. Returns its
  // index once it holds them all, -1 when it does not.
  int StartHolding(const std::wstring& exeName, const std::vector<std::wstring>& open,
                   const std::vector<std::wstring>& loaded);
  // True when the process has ended (waits up to timeoutMs for it).
  bool Ended(int index, DWORD timeoutMs = 5000) const;
  DWORD ExitCode(int index) const;

 private:
  std::wstring folder_;
  std::vector<kyd::UniqueHandle> processes_;
};

// A service of ours (tests/programs/testsvc) installed under a name, with
// its stop behaviour: "stop", "pause" or "ignore". Ended and deleted when the
// object goes.
class TestService {
 public:
  TestService(const std::wstring& name, const std::string& mode, bool start = true);
  ~TestService();
  TestService(const TestService&) = delete;
  TestService& operator=(const TestService&) = delete;

  bool installed() const { return installed_; }
  bool running() const;  // SERVICE_RUNNING reached after start
  // The current state, 0 when it cannot be queried; with `awaited`, once it
  // is reached or waitMs have passed (under load Wine's services answer a
  // request late).
  DWORD State(DWORD awaited = 0, DWORD waitMs = 0) const;
  const std::wstring& name() const { return name_; }
  DWORD error() const { return error_; }  // why it was not installed or started

 private:
  std::wstring name_;
  DWORD error_ = 0;
  bool installed_ = false;
  bool running_ = false;
};

// The engine with its state open to the tests.
class TestEngine : public kyd::CBaseDrvUninst {
 public:
  using CBaseDrvUninst::isWow64;
  using CBaseDrvUninst::keepDevice;
  using CBaseDrvUninst::runEntries;
};

// Registry keys a test created; each is deleted with its tree when the
// object goes (view64 as above).
class SeededKeys {
 public:
  SeededKeys() = default;
  ~SeededKeys();
  SeededKeys(const SeededKeys&) = delete;
  SeededKeys& operator=(const SeededKeys&) = delete;
  // Remembers root\path for deletion and creates it; returns the path.
  const std::wstring& Add(HKEY root, const std::wstring& path, bool view64 = true);

 private:
  struct Entry {
    HKEY root;
    std::wstring path;
    bool view64;
  };
  std::vector<Entry> keys_;
  std::deque<std::wstring> paths_;  // stable references for Add's callers
};

// A new GUID in braces, upper case: "{XXXXXXXX-XXXX-...}".
std::wstring NewGuid();
// The 32 hexadecimal digits of a new GUID, as Windows Installer packs codes.
std::wstring NewPackedCode();

// Windows' own folders as the test program sees them.
std::wstring SystemDir();
std::wstring WindowsDir();

}  // namespace kydtest
