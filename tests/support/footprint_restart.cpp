// The footprint bench's files in use: a program of another maker that holds
// them, the list of deletions Windows carries out at start, and a restart as
// far as files go.
#include <algorithm>

#include "machine/journal.h"
#include "machine/pending.h"
#include "platform/handle.h"
#include "support/engine_bench.h"
#include "support/footprint.h"
#include "support/footprint_state.h"
#include "support/wine_bench.h"

namespace kydtest::fp {
namespace {

namespace pending = kyd::machine::pending;
using Ops = std::vector<pending::Operation>;

constexpr wchar_t kSessionManager[] = L"SYSTEM\\CurrentControlSet\\Control\\Session Manager";
constexpr wchar_t kPendingValue[] = L"PendingFileRenameOperations";
constexpr wchar_t kNt[] = L"\\??\\";

bool ReadPendingBytes(std::vector<BYTE>& data) {
  kyd::UniqueKey key;
  DWORD size = 0;
  data.clear();
  if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, kSessionManager, 0, KEY_QUERY_VALUE | KEY_WOW64_64KEY, key.put()) != 0 ||
      RegQueryValueExW(key.get(), kPendingValue, nullptr, nullptr, nullptr, &size) != ERROR_SUCCESS)
    return false;
  data.resize(size);
  return RegQueryValueExW(key.get(), kPendingValue, nullptr, nullptr, data.data(), &size) == ERROR_SUCCESS;
}

Ops ReadPending() {
  std::vector<BYTE> data;
  pending::List list;
  if (ReadPendingBytes(data)) pending::Parse(data, list);
  return list.operations;
}

// A target in use that the library can move aside (a loaded DLL).
bool Movable(const Item& item) { return item.option == L"inuse:loaded"; }

bool WritePendingBytes(const std::vector<BYTE>* data) {
  kyd::UniqueKey key;
  if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, kSessionManager, 0, KEY_SET_VALUE | KEY_WOW64_64KEY, key.put()) != 0)
    return false;
  if (!data) return RegDeleteValueW(key.get(), kPendingValue) == ERROR_SUCCESS;
  return RegSetValueExW(key.get(), kPendingValue, 0, REG_MULTI_SZ, data->data(), static_cast<DWORD>(data->size())) ==
         ERROR_SUCCESS;
}

bool SamePath(const std::wstring& a, const std::wstring& b) { return LowerCase(a) == LowerCase(b); }

// How the holder, a 32-bit program, opens a file that lies at `path` on
// disk: the native system folder of 64-bit Windows through Sysnative.
std::wstring HolderPath(const std::wstring& path) {
  const std::wstring system = LowerCase(SystemDir());
  if (!Is64BitPrefix() || !Under(LowerCase(path), system)) return path;
  return WindowsDir() + L"\\Sysnative" + path.substr(system.size());
}

}  // namespace

std::wstring HoldingFolder() { return LowerCase(WindowsDir().substr(0, 3) + L"KYDDrvUninst.pending"); }

bool IsInUse(const Item& item) {
  return item.kind == Kind::kFile && (item.option == L"inuse:open" || item.option == L"inuse:loaded");
}

bool HoldFilesInUse(Bench::State& s, std::string& error) {
  std::vector<std::wstring> open, loaded;
  for (const Item* item : s.inUse)
    (item->option == L"inuse:loaded" ? loaded : open).push_back(HolderPath(ResolveFolder(item->where)));
  s.holder = s.sleepers.StartHolding(L"kydholder.exe", open, loaded);
  if (s.holder < 0) {
    error = "the program that holds the files in use did not hold them";
    return false;
  }
  // Another program's operation, there before the uninstall.
  s.hadPending = ReadPendingBytes(s.pendingBefore);
  s.othersFile = s.scratch / L"otherupdate.tmp";
  pending::List list;
  if (s.hadPending && !pending::Parse(s.pendingBefore, list)) {
    error = "the list of deletions at the next restart cannot be read";
    return false;
  }
  list.operations.push_back({kNt + s.othersFile, kNt + s.scratch / L"otherupdate.dll"});
  list.tail = 1;
  std::vector<BYTE> data = pending::Format(list);
  if (!WriteFileBytes(s.othersFile, "update") || !WritePendingBytes(&data)) {
    error = "another program's operation could not be put in the list";
    return false;
  }
  return true;
}

void PutBackPending(Bench::State& s) { WritePendingBytes(s.hadPending ? &s.pendingBefore : nullptr); }

bool DueAtRestart(const std::wstring& path) {
  for (const pending::Operation& op : ReadPending())
    if (op.to.empty() && SamePath(pending::PathOf(op.from), path)) return true;
  return false;
}

bool Bench::HasFilesInUse() const { return !state_->inUse.empty(); }

std::vector<std::string> Bench::CheckPending() const {
  const State& s = *state_;
  std::vector<std::string> failures;
  Ops ops = ReadPending();
  pending::List had;
  if (s.hadPending) pending::Parse(s.pendingBefore, had);
  Ops before = had.operations;
  before.push_back({kNt + s.othersFile, kNt + s.scratch / L"otherupdate.dll"});
  if (ops.size() < before.size() || !std::equal(before.begin(), before.end(), ops.begin())) {
    failures.push_back("the operations others had in the list of deletions at the next restart were changed");
    return failures;
  }
  ops.erase(ops.begin(), ops.begin() + static_cast<std::ptrdiff_t>(before.size()));
  auto at = [&](const std::wstring& path) {
    return std::find_if(ops.begin(), ops.end(),
                        [&](const auto& op) { return SamePath(pending::PathOf(op.from), path); }) -
           ops.begin();
  };
  // A file moved aside: due under a name of its own in a holding folder,
  // ending in its own name; its path is free.
  auto moved = [&](const std::wstring& path) {
    const std::wstring name = LowerCase(L"." + path.substr(path.rfind(L'\\') + 1));
    return std::count_if(ops.begin(), ops.end(), [&](const auto& op) {
      const std::wstring from = LowerCase(pending::PathOf(op.from));
      return op.to.empty() && Under(from, HoldingFolder()) && from.size() > name.size() &&
             from.compare(from.size() - name.size(), name.size(), name) == 0;
    });
  };
  const bool is64 = Is64BitPrefix();
  for (const Item* item : s.inUse) {
    const std::wstring path = ResolveFolder(item->where);
    const bool target = ExpectFor(*item, is64, keepDevice_, nativeSystem_) == Expect::kGone;
    if (Movable(*item)) {
      if ((moved(path) == 1) != target || (target && FileExists(path)))
        failures.push_back(item->Describe() + (target ? ": not moved aside and due at the next restart"
                                                      : ": a decoy moved aside"));
      continue;
    }
    const ptrdiff_t file = at(path);
    if (target != (file < static_cast<ptrdiff_t>(ops.size())))
      failures.push_back(item->Describe() + (target ? ": not due at the next restart where it is on disk"
                                                    : ": a decoy due at the next restart"));
    // Each folder above it that is due goes after it.
    if (file == static_cast<ptrdiff_t>(ops.size())) continue;
    for (std::wstring folder = path.substr(0, path.rfind(L'\\')); folder.size() > 3;
         folder = folder.substr(0, folder.rfind(L'\\')))
      if (at(folder) < static_cast<ptrdiff_t>(ops.size()) && at(folder) < file)
        failures.push_back(item->Describe() + ": due after its folder " + ToNarrow(folder));
  }
  // Nothing else, and nothing twice: every operation of ours deletes a file
  // in use or a folder above one.
  for (const pending::Operation& op : ops) {
    if (std::count(ops.begin(), ops.end(), op) > 1) failures.push_back("due twice: " + ToNarrow(op.from));
    bool explained = op.to.empty() && Under(LowerCase(pending::PathOf(op.from)), HoldingFolder());
    for (const Item* item : s.inUse) {
      const std::wstring path = LowerCase(kNt + ResolveFolder(item->where));
      explained = explained || (op.to.empty() && Under(path, LowerCase(op.from)));
    }
    if (!explained) failures.push_back("due at the next restart, not in use: " + ToNarrow(op.from));
  }
  return failures;
}

bool Bench::SimulateRestart(std::string& error) {
  State& s = *state_;
  s.sleepers.End(s.holder);
  s.holder = -1;
  kyd::machine::journal::NativePaths native(true);
  // What a user does before the restart: a folder on the path of what the
  // run left is swapped for a link to another folder (`link:`), and the
  // driver is installed again (a new file where a moved target was).
  const bool is64 = Is64BitPrefix();
  std::vector<std::wstring> reinstalled;
  for (const Item* item : s.inUse) {
    if (!Movable(*item) || ExpectFor(*item, is64, keepDevice_, nativeSystem_) != Expect::kGone) continue;
    reinstalled.push_back(ResolveFolder(item->where));
    WriteFileBytes(reinstalled.back(), "installed again");
  }
  std::vector<std::pair<std::wstring, std::wstring>> swapped;  // link, the folder moved away
  for (const Item& item : footprint_.items) {
    if (item.kind != Kind::kDir || item.option.rfind(L"link:", 0) != 0) continue;
    const std::wstring link = ResolveFolder(item.option.substr(5)), away = link + L".kydswap";
    if (!MoveFileW(link.c_str(), away.c_str()) || !MakeFolderLink(link, ResolveFolder(item.where))) {
      error = ToNarrow(link) + " could not be swapped for a link";
      return false;
    }
    swapped.emplace_back(link, away);
  }
  ProcessResult boot = RunProgram(L"wineboot.exe -r");
  for (const auto& [link, away] : swapped) {
    RemoveFolderLink(link);
    MoveFileW(away.c_str(), link.c_str());
  }
  if (!boot.started || boot.exitCode != 0) {
    error = "wineboot -r did not run: " + boot.output;
    return false;
  }
  for (const std::wstring& path : reinstalled) {
    if (ReadFileBytes(path) != "installed again") error += ToNarrow(path) + " installed again was lost; ";
    DeleteFileW(path.c_str());
  }
  s.restarted = true;
  return error.empty();
}

}  // namespace kydtest::fp
