#include "support/staged_host.h"

#include <cstdlib>

#include "platform/handle.h"
#include "support/device_tool_bench.h"

namespace kydtest {

StagedHost::StagedHost() : StagedHost(Options{}) {}

StagedHost::StagedHost(const Options& options) : scratch_(options.folderName) {
  // What a host ships, and nothing an earlier run may have left in dist/.
  CreateDirectoryW((folder() + L"\\drv64").c_str(), nullptr);
  for (const wchar_t* file : {L"KYDDrvUninst.dll", L"drvuninst.exe", L"drv64\\drv64.exe"})
    CopyFileW((DistDir() + L"\\" + file).c_str(), (folder() + L"\\" + file).c_str(), FALSE);
  CopyTree(DistDir() + L"\\Kydconfig", folder() + L"\\Kydconfig");
  if (options.difxDouble) {
    CopyFileW((Ship32Dir() + L"\\difxapi.dll").c_str(), (folder() + L"\\difxapi.dll").c_str(), FALSE);
    CopyFileW((Ship64Dir() + L"\\difxapi.dll").c_str(), (folder() + L"\\drv64\\difxapi.dll").c_str(),
              FALSE);
  }
  if (options.exitCodeDrv64) {
    // The real program stays beside the double, for the commands it passes on.
    MoveFileExW((folder() + L"\\drv64\\drv64.exe").c_str(), (folder() + L"\\drv64\\drv64real.exe").c_str(),
                MOVEFILE_REPLACE_EXISTING);
    CopyFileW((TestExeDir() + L"\\exitcode.exe").c_str(), (folder() + L"\\drv64\\drv64.exe").c_str(),
              FALSE);
  }
}

std::wstring StagedHost::ReadDifxLog() const { return ToWide(ReadFileBytes(difxLog())); }

ProcessResult StagedHost::Cli(const std::wstring& arguments, std::vector<std::wstring> environment,
                              const OutputSink& onOutput) const {
  environment.push_back(L"KYD_DIFX_LOG=" + difxLog());
  return RunProgram(L"\"" + cli() + L"\" " + arguments, environment, 120000, onOutput);
}

int LibraryResult(const ProcessResult& run) {
  const std::string mark = "(library result ";
  size_t at = run.output.rfind(mark);
  if (!run.started || at == std::string::npos) return -1;
  return std::atoi(run.output.c_str() + at + mark.size());
}

ProcessResult RunAsWindowsVersion(const std::wstring& helper, const std::wstring& version,
                                  const std::wstring& arguments) {
  // Wine finds the version by the program's file name, in a key every test
  // program of the prefix shares: the name is this process's own, so that
  // another test asking for the same version cannot take the key away while
  // this copy starts.
  ScratchDir scratch(L"version");
  const std::wstring name = helper + L"_" + version + L"_" + std::to_wstring(GetCurrentProcessId()) + L".exe";
  const std::wstring copy = scratch / name;
  CopyFileW((TestExeDir() + L"\\" + helper + L".exe").c_str(), copy.c_str(), FALSE);
  WineAppVersion shown(name, version);
  return RunProgram(L"\"" + copy + L"\" " + arguments);
}

}  // namespace kydtest
