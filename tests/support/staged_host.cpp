#include "support/staged_host.h"

#include <cstdlib>

#include "platform/handle.h"

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
  if (options.exitCodeDrv64)
    CopyFileW((TestExeDir() + L"\\exitcode.exe").c_str(), (folder() + L"\\drv64\\drv64.exe").c_str(),
              FALSE);
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
  ScratchDir scratch(L"version");
  std::wstring name = helper + L"_" + version + L".exe";
  std::wstring copy = scratch / name;
  CopyFileW((TestExeDir() + L"\\" + helper + L".exe").c_str(), copy.c_str(), FALSE);
  std::wstring key = L"Software\\Wine\\AppDefaults\\" + name;
  kyd::UniqueKey appKey;
  RegCreateKeyExW(HKEY_CURRENT_USER, key.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, appKey.put(),
                  nullptr);
  RegSetValueExW(appKey.get(), L"Version", 0, REG_SZ, reinterpret_cast<const BYTE*>(version.c_str()),
                 static_cast<DWORD>((version.size() + 1) * sizeof(wchar_t)));
  appKey.reset();
  ProcessResult result = RunProgram(L"\"" + copy + L"\" " + arguments);
  RegDeleteTreeIfPresent(HKEY_CURRENT_USER, key, false);
  return result;
}

}  // namespace kydtest
