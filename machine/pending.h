// Deletions at the next restart, private to machine/: the lists Windows
// carries out when it starts (PendingFileRenameOperations, then
// PendingFileRenameOperations2), read and written with only our entries taken
// out, everything else byte for byte as it was; the names a file has for the
// 64-bit system process that carries them out; and the library's holding
// folders, where a file in use is moved before its deletion is scheduled.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

namespace kyd::machine::journal {
struct Line;
}

namespace kyd::machine::pending {

// The values of HKLM\SYSTEM\CurrentControlSet\Control\Session Manager that
// Windows carries out at start, in that order.
extern const wchar_t* const kValues[2];

// One operation of a list: `from` renamed to `to`, or deleted when `to` is
// empty. Names are kept as written: a source is "\??\C:\...", "*1\??\C:\..."
// (any digits after the star: what Windows 10 22H2 and 11 write) or a plain
// path; a target is empty, "\??\..." or "!\??\..." (replace what is there).
struct Operation {
  std::wstring from, to;
  bool operator==(const Operation&) const = default;
};
// A list as stored (REG_MULTI_SZ): its operations, then `tail` empty
// strings (0: the list's closing one left out, 1: the usual closing one,
// more: padding some writers leave).
struct List {
  std::vector<Operation> operations;
  size_t tail = 1;
  bool operator==(const List&) const = default;
};

// False when the data is no such list (an operation without a name, a name
// without its pair, not closed), which is then left alone.
bool Parse(const std::vector<BYTE>& data, List& list);
// The list's bytes: Format(Parse(data)) == data.
std::vector<BYTE> Format(const List& list);
// The path a name stands for: without "*<digits>", "\??\" or "\\?\", and
// without a target's "!".
std::wstring PathOf(const std::wstring& name);
// Takes out the last operation that deletes `path` (matched by PathOf, in any
// letter case); false when none does. Every other operation keeps its place
// and its form.
bool DropDeletion(List& list, const std::wstring& path);

// How a 64-bit program names a path that a 32-bit program on 64-bit Windows
// reached with file-system redirection on: below `system` (but for the
// folders Windows leaves alone; DriverStore among them only when
// `driverStoreExempt`, from Windows 7 on) it is below `wow64`; below the
// Windows folder's Sysnative it is below `system`. A "\\?\" path is mapped
// the same way and keeps its prefix. Other paths are their own name.
std::wstring NativeNameOf(const std::wstring& path, const std::wstring& system, const std::wstring& wow64,
                          bool driverStoreExempt = true);

// Whether either list deletes `realPath` (a restore may have taken it out since).
bool Due(const std::wstring& realPath);

enum class Withdrawal { kWithdrawn, kAbsent, kFailed };
// Takes this path's deletion out of the list that holds it, writing the rest
// back unchanged (the value goes when no operation is left in it). The list
// is read again just before it is written, and the withdrawal starts over
// when it changed meanwhile, so that an operation another program added is
// kept.
Withdrawal Withdraw(const std::wstring& realPath, DWORD& error);

// ------------------------------------------------------------- holding folders

// Moves a file that is in use but may be renamed (a loaded DLL, a file open
// with delete sharing) into this run's holding folder on its own volume,
// `<volume root>\KYDDrvUninst.pending\<run id>`, under a name of its own
// ("<n>.<file name>"): `moved` is its new full path. The holding folders are
// made with a protected access list (Administrators and SYSTEM) and used only
// while no folder from the volume's root down lets others change them. False,
// with the last error, when the file was not moved.
bool MoveAside(const std::wstring& path, std::wstring& moved);
// Whether any folder on a full path, up to its root, lets others than
// Administrators and SYSTEM (and the caller) delete, rename or re-permission
// it or what is in it (journal::OthersCanChangeAbove); `why` names the folder
// and who. What lies there is then not deleted by name at the restart: a
// user could put a link in its way, and the restart would follow it.
bool OthersCanRedirect(const std::wstring& path, std::string& why);

// ------------------------------------------------------------- restore

// What restore makes of a journal's delete-at-restart line (or left-in-use
// line): before the restart the deletion is called off (ours only), and a
// file moved aside goes back to its path first, unless another file is there
// now; after the restart the item is gone and its deletion line (restored
// next) brings it back from the journal.
struct CallOffResult {
  enum Kind { kRestored, kPresent, kLeft, kFailed } kind;
  std::wstring detail;
};
CallOffResult CallOff(const journal::Line& line);

}  // namespace kyd::machine::pending
