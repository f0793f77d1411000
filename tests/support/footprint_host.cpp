#include "support/footprint_host.h"

#include <tlhelp32.h>

#include "platform/handle.h"

namespace kydtest::fp {
namespace {

// The Windows shell's processes in the prefix, by process ID.
std::set<DWORD> ShellProcesses() {
  std::set<DWORD> ids;
  kyd::UniqueHandle snapshot(CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
  PROCESSENTRY32W entry{};
  entry.dwSize = sizeof entry;
  for (BOOL more = Process32FirstW(snapshot.get(), &entry); more; more = Process32NextW(snapshot.get(), &entry))
    if (!lstrcmpiW(entry.szExeFile, L"explorer.exe")) ids.insert(entry.th32ProcessID);
  return ids;
}

}  // namespace

FootprintHost::FootprintHost(const std::wstring& accounts) : accounts_(accounts), shellsBefore_(ShellProcesses()) {
  doubleReady_ = MakeNetapiDouble(host_.folder() + L"\\netapi32.dll");
  override_ = keys_.Add(HKEY_CURRENT_USER, L"Software\\Wine\\AppDefaults\\drvuninst.exe\\DllOverrides", false);
  RegSetString(HKEY_CURRENT_USER, override_, L"netapi32", L"native,builtin", REG_SZ, false);
}

FootprintHost::~FootprintHost() {
  for (DWORD id : ShellProcesses()) {
    if (shellsBefore_.count(id)) continue;
    kyd::UniqueHandle process(OpenProcess(PROCESS_TERMINATE | SYNCHRONIZE, FALSE, id));
    if (process && TerminateProcess(process.get(), 0)) WaitForSingleObject(process.get(), 5000);
  }
}

ProcessResult FootprintHost::Uninstall(const std::wstring& hardwareId, const std::wstring& classGuid,
                                       bool keepDevice, const std::wstring& options,
                                       const OutputSink& onOutput) const {
  return Cli(L"uninstall \"" + hardwareId + L"\" " + classGuid + (keepDevice ? L" --keep-device" : L"") + options,
             onOutput);
}

ProcessResult FootprintHost::Restore(const std::wstring& journalFolder, const OutputSink& onOutput) const {
  return Cli(L"restore \"" + journalFolder + L"\"", onOutput);
}

ProcessResult FootprintHost::Cli(const std::wstring& arguments, const OutputSink& onOutput) const {
  return host_.Cli(arguments, {L"KYD_NETAPI_USERS=" + accounts_}, onOutput);
}

}  // namespace kydtest::fp
