// Restore of the deletions a run left for the next restart (see pending.h).
#include "machine/journal.h"
#include "machine/pending.h"
#include "machine/restore.h"

namespace kyd::machine::pending {

namespace {

bool Exists(const std::wstring& path) { return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

std::wstring ParentOf(const std::wstring& path) {
  const size_t slash = path.rfind(L'\\');
  return slash == std::wstring::npos ? std::wstring() : path.substr(0, slash);
}

}  // namespace

CallOffResult CallOff(const journal::Line& line) {
  using R = CallOffResult;
  if (line.verb == L"left-in-use")
    return {R::kPresent, L"left in place by the run: in use below a folder others can change"};
  journal::NativePaths native(true);  // the names are the 64-bit file system's
  const std::wstring& held = line.target;
  const std::wstring from = line.Get(L"from");
  DWORD error = 0;
  if (!from.empty() && Exists(held)) {
    // Moved aside and not deleted yet: back to its path, as long as nothing
    // took its place (a driver installed again keeps its file; ours still
    // goes at the restart).
    if (Exists(from))
      return {R::kLeft, L"another file is at " + from + L" now; the run's file stays in " + held +
                            L" and goes at the next restart"};
    // Back only through folders that lead where they did: a folder of the
    // path others could change may have become a link since the run.
    const restoring::CheckedWay way(from, {});
    if (!way.ok())
      return {R::kFailed, way.elsewhere().empty()
                              ? L"not moved back to " + from + L", error " + std::to_wstring(way.error())
                              : L"not moved back: a folder on its path now leads elsewhere: " + way.elsewhere()};
    if (!MoveFileExW(held.c_str(), from.c_str(), 0))
      return {R::kFailed, L"not moved back from " + held + L", error " + std::to_wstring(GetLastError())};
    std::wstring detail = L"called off before the restart: moved back from " + held;
    if (Withdraw(held, error) == Withdrawal::kFailed)
      detail += L" (its deletion, now of nothing, stays in the list: error " + std::to_wstring(error) + L")";
    // The run's holding folder and the volume's go when nothing is left in them.
    const std::wstring run = ParentOf(held);
    if (RemoveDirectoryW(run.c_str())) RemoveDirectoryW(ParentOf(run).c_str());
    return {R::kRestored, detail};
  }
  switch (Withdraw(held, error)) {
    case Withdrawal::kWithdrawn:
      if (from.empty()) return {R::kRestored, L"called off before the restart: it stayed where it was"};
      break;
    case Withdrawal::kAbsent:
      if (from.empty() && Exists(held)) return {R::kPresent, L"no longer due at the next restart, and still there"};
      break;
    case Withdrawal::kFailed:
      return {R::kFailed, L"its deletion at the next restart could not be called off, error " + std::to_wstring(error)};
  }
  return {R::kPresent, L"deleted at a restart: it comes back from the journal's copy (line " + line.Get(L"of") + L")"};
}

}  // namespace kyd::machine::pending
