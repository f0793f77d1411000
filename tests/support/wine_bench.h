// What the tests need from the Wine prefix they run in: paths of the build,
// child processes, seeded devices, INF files and registry keys.
#pragma once

#include <windows.h>
#include <setupapi.h>

#include <functional>
#include <string>
#include <vector>

namespace kydtest {

// A Linux path of the build as the Windows side sees it (drive Z:).
std::wstring WinPath(const char* unixPath);
std::wstring DistDir();    // dist\ (no trailing backslash)
std::wstring Ship32Dir();  // the i686 shipping tree
std::wstring Ship64Dir();  // the x86_64 shipping tree
std::wstring TestExeDir();  // this test program's folder

// A fresh empty folder for one test, removed with the object.
class ScratchDir {
 public:
  explicit ScratchDir(const std::wstring& name);
  ~ScratchDir();
  ScratchDir(const ScratchDir&) = delete;
  ScratchDir& operator=(const ScratchDir&) = delete;
  const std::wstring& path() const { return path_; }
  std::wstring operator/(const std::wstring& child) const { return path_ + L"\\" + child; }

 private:
  std::wstring path_;
};

struct ProcessResult {
  bool started = false;
  DWORD exitCode = 0;
  std::string output;  // standard output and error together
  bool timedOut = false;  // ended (with its job) when the time limit ran out
};

// Sees a program's output as it comes, piece by piece.
using OutputSink = std::function<void(const std::string&)>;

// Runs a program (command line as given) and waits for it, gathering output.
// Extra environment entries ("NAME=value") are added to ours. Returns within
// timeoutMs (and a few seconds' grace) whatever the program does: when the
// limit runs out it is ended with what it started in its job (exit code
// 0xDEAD). Output that programs it started write after it ended is gathered
// for two seconds more at most.
ProcessResult RunProgram(const std::wstring& commandLine,
                         const std::vector<std::wstring>& extraEnvironment = {},
                         DWORD timeoutMs = 120000, const OutputSink& onOutput = {});

bool Is64BitPrefix();

// IDs of the running processes with this file name (any case); with
// waitGoneMs, once none is left or that time has passed.
std::vector<DWORD> ProcessIdsNamed(const std::wstring& exeName, DWORD waitGoneMs = 0);
// Ends the process with this ID, if there is one, and waits up to 5 s for it.
void EndProcess(DWORD id, UINT exitCode = 0);

// Writes the netapi32.dll test double (tests/programs/netapi_double) to
// `dll`. A program beside it uses it when Wine is told to prefer the native
// netapi32 for that program (WINEDLLOVERRIDES or AppDefaults).
bool MakeNetapiDouble(const std::wstring& dll);  // the test runs under WOW64

bool FileExists(const std::wstring& path);
bool FolderIsEmpty(const std::wstring& folder);  // false for a missing folder too

// A symbolic link at `link` to the folder `target`, made on the Unix side:
// Wine cannot make junctions, but it shows a Unix link to a folder as a
// folder with FILE_ATTRIBUTE_REPARSE_POINT. True once it shows.
bool MakeFolderLink(const std::wstring& link, const std::wstring& target);
// Takes such a link away again (Wine's RemoveDirectory refuses one).
void RemoveFolderLink(const std::wstring& link);
// Gives the folder's Unix side the mode 0777, which Wine shows as a folder
// everyone may change.
bool MakeOpenToEveryone(const std::wstring& folder);
bool WriteFileBytes(const std::wstring& path, const std::string& bytes);
std::string ReadFileBytes(const std::wstring& path);
bool CopyTree(const std::wstring& from, const std::wstring& to);
std::wstring ToWide(const std::string& narrow, UINT codePage = CP_UTF8);
std::string ToNarrow(const std::wstring& wide);  // UTF-8

constexpr wchar_t kSystemClass[] = L"{4D36E97D-E325-11CE-BFC1-08002BE10318}";
constexpr wchar_t kDisplayClass[] = L"{4D36E968-E325-11CE-BFC1-08002BE10318}";
constexpr wchar_t kMediaClass[] = L"{4D36E96C-E325-11CE-BFC1-08002BE10318}";

// A root-enumerated device, present while the object lives (unless the code
// under test removes it first).
class SeededDevice {
 public:
  SeededDevice(const std::vector<std::wstring>& hardwareIds,
               const std::vector<std::wstring>& compatibleIds = {},
               const wchar_t* classGuid = kSystemClass);
  ~SeededDevice();
  SeededDevice(const SeededDevice&) = delete;
  SeededDevice& operator=(const SeededDevice&) = delete;

  bool ok() const { return !instanceId_.empty(); }
  const std::wstring& instanceId() const { return instanceId_; }

 private:
  std::wstring instanceId_;
};

bool DevicePresent(const std::wstring& instanceId);
// Instance IDs of present devices with this exact hardware or compatible ID.
std::vector<std::wstring> PresentDevicesWithId(const std::wstring& id);

// An oemN.inf (and its .PNF) in the Windows INF folder, deleted afterwards
// if the code under test left it.
class SeededInf {
 public:
  // utf16: write UTF-16LE with a byte-order mark; otherwise ANSI bytes.
  SeededInf(const std::wstring& fileName, const std::wstring& text, bool utf16 = false,
            bool withPnf = true);
  ~SeededInf();
  SeededInf(const SeededInf&) = delete;
  SeededInf& operator=(const SeededInf&) = delete;
  const std::wstring& path() const { return path_; }
  std::wstring pnf() const { return path_.substr(0, path_.size() - 3) + L"PNF"; }

 private:
  std::wstring path_;
};

std::wstring InfDir();  // C:\windows\inf
// A file name oemNNNN.inf not yet used in the INF folder.
std::wstring FreeOemInfName();

// Registry helpers; view64 adds KEY_WOW64_64KEY.
bool RegDwordValue(HKEY root, const std::wstring& key, const std::wstring& name, DWORD& value,
                   bool view64);
bool RegKeyExists(HKEY root, const std::wstring& key, bool view64);
void RegDeleteTreeIfPresent(HKEY root, const std::wstring& key, bool view64);

}  // namespace kydtest

namespace kydtest {

// Gives a seeded device an installed driver from an INF in the INF folder:
// the driver key values SetupAPI keeps for an installed driver, and the
// device's manufacturer.
bool GiveDeviceADriver(const std::wstring& instanceId, const std::wstring& infName,
                       const std::wstring& section, const std::wstring& description,
                       const std::wstring& provider, const std::wstring& manufacturer);

// The text of a small but complete driver INF for one hardware ID.
std::wstring DriverInfText(const std::wstring& hardwareId, const std::wstring& description,
                           const std::wstring& provider = L"KydTest",
                           const std::wstring& manufacturer = L"KydTest Devices");

}  // namespace kydtest
