// Deletions at the next restart, private to machine/: the list Windows
// carries out when it starts (PendingFileRenameOperations), read and written
// as a whole with only our entries added or taken out, and the names a file
// has for the 64-bit system process that carries it out.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

namespace kyd::machine::pending {

// One operation of the list: `from` renamed to `to`, or deleted when `to` is
// empty. Names are kept as written ("\??\C:\...", "!\??\..." and so on).
struct Operation {
  std::wstring from, to;
  bool operator==(const Operation&) const = default;
};

// The value's data (REG_MULTI_SZ of pairs, an empty string standing for "no
// destination") as operations; false when it is no such list, which is then
// left alone.
bool Parse(const std::vector<BYTE>& data, std::vector<Operation>& operations);
std::vector<BYTE> Format(const std::vector<Operation>& operations);
// Takes out the last operation that deletes `path` (a full path, matched
// with or without the "\??\" prefix, in any letter case); false when none
// does. Every other operation keeps its place.
bool DropDeletion(std::vector<Operation>& operations, const std::wstring& path);

// How a 64-bit program names a path that a 32-bit program on 64-bit Windows
// reached with file-system redirection on: below `system` (but for the
// folders Windows leaves alone) it is below `wow64`; below the Windows
// folder's Sysnative it is below `system`. Other paths are their own name.
std::wstring NativeNameOf(const std::wstring& path, const std::wstring& system, const std::wstring& wow64);

// Whether the list deletes `realPath` (a restore may have taken it out since).
bool Due(const std::wstring& realPath);

enum class Withdrawal { kWithdrawn, kAbsent, kFailed };
// Takes this path's deletion out of the list Windows carries out at start,
// writing the rest back unchanged in one go (the value goes when nothing is
// left in it).
Withdrawal Withdraw(const std::wstring& realPath, DWORD& error);

}  // namespace kyd::machine::pending
