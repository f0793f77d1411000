// What lets restore trust a journal: its seal and its folder's protection.
//
// Restore replays a journal as the administrator who runs it, so it must act
// only on what the library itself wrote. Each journal gets a random secret
// of its own, kept under
//   HKLM\SOFTWARE\KYDDrvUninst\Journals\<journal id>   (Secret, Folder)
// in a key only Administrators and SYSTEM may open; every manifest line and
// every saved file carries a keyed MAC (HMAC-SHA1) made with that secret. A
// journal whose secret is missing (another machine, a deleted key) cannot be
// restored. A restore that brought everything back deletes the key; a
// partial one keeps it, so that it may be retried once its cause is mended;
// ForgetJournal deletes it for a journal that will not be restored, so that
// secrets do not pile up under HKLM. HMAC-SHA1: what every Windows from XP SP3 on computes
// through CryptoAPI, and a sound MAC (HMAC does not rest on the hash's
// collision resistance).
//
// The journal folder itself gets, at session start, Administrators as owner
// and a protected DACL (Administrators and SYSTEM, full control, inherited
// by what is made inside); restore refuses a folder or manifest that anyone
// else may change, and one below a folder that anyone else could replace
// (rename, delete, or re-permission it or what is in it): through such a
// folder a user could put other bytes where restore reads. The user who runs
// the check counts as trusted: an administrator can change what they own
// anyway (and Wine, which keeps no security descriptors of its own for
// files, shows the Unix owner so).
#pragma once

#include <windows.h>
#include <wincrypt.h>

#include <string>
#include <vector>

#include "platform/handle.h"

namespace kyd {

struct CryptProviderTraits {
  using type = HCRYPTPROV;
  static HCRYPTPROV Invalid() { return 0; }
  static bool IsValid(HCRYPTPROV h) { return h != 0; }
  static void Close(HCRYPTPROV h) { ::CryptReleaseContext(h, 0); }
};
struct CryptKeyTraits {
  using type = HCRYPTKEY;
  static HCRYPTKEY Invalid() { return 0; }
  static bool IsValid(HCRYPTKEY h) { return h != 0; }
  static void Close(HCRYPTKEY h) { ::CryptDestroyKey(h); }
};
struct CryptHashTraits {
  using type = HCRYPTHASH;
  static HCRYPTHASH Invalid() { return 0; }
  static bool IsValid(HCRYPTHASH h) { return h != 0; }
  static void Close(HCRYPTHASH h) { ::CryptDestroyHash(h); }
};
using UniqueCryptProvider = UniqueAny<CryptProviderTraits>;
using UniqueCryptKey = UniqueAny<CryptKeyTraits>;
using UniqueCryptHash = UniqueAny<CryptHashTraits>;

}  // namespace kyd

namespace kyd::machine::journal {

struct Manifest;

// Registry home of the secrets (HKLM, 64-bit view).
constexpr wchar_t kSecretsKey[] = L"SOFTWARE\\KYDDrvUninst\\Journals";

class Seal {
 public:
  Seal() = default;
  Seal(const Seal&) = delete;
  Seal& operator=(const Seal&) = delete;

  // A new secret for journal `id` (a GUID in braces), kept under HKLM with
  // the journal's folder named beside it. False, with the reason, when it
  // cannot be made or kept.
  bool Create(const std::wstring& id, const std::wstring& folder, std::string& why);
  // The secret of journal `id`. False, with the reason, when it is missing,
  // malformed, or its key may be read or changed by others.
  bool Load(const std::wstring& id, std::string& why);
  bool ok() const { return key_.valid(); }
  // The journal's folder as kept beside the secret (Create, Load).
  const std::wstring& folder() const { return folder_; }

  // A keyed MAC over a manifest line's text or a saved file's bytes, as 40
  // hex digits; empty when it cannot be computed.
  enum Kind : char { kLine = 'L', kMaterial = 'M' };
  class Mac {
   public:
    Mac(const Seal& seal, Kind kind);
    Mac(const Mac&) = delete;
    Mac& operator=(const Mac&) = delete;
    void Add(const void* data, size_t size);
    std::wstring Finish();

   private:
    UniqueCryptHash hash_;
  };
  std::wstring Of(Kind kind, const void* data, size_t size) const;
  std::wstring Of(Kind kind, const std::string& bytes) const { return Of(kind, bytes.data(), bytes.size()); }

  // Deletes the secret of journal `id` (a session that could not begin).
  static void Forget(const std::wstring& id);

 private:
  bool Import(const std::vector<BYTE>& secret, std::string& why);

  UniqueCryptProvider provider_;
  UniqueCryptKey key_;
  std::wstring folder_;
};

// A new journal ID: a GUID in braces.
std::wstring NewJournalId();
// Whether the text is one (and so safe to name a registry key by).
bool IsJournalId(const std::wstring& id);

// Gives the folder Administrators as owner (where the caller may) and the
// protected DACL above. False, with the reason, when it cannot be set.
bool ProtectFolder(const std::wstring& folder, std::string& why);
// Makes `folder` (its parent must exist) with that protected DACL from the
// start; the Windows error, ERROR_SUCCESS when made.
DWORD CreateProtectedFolder(const std::wstring& folder);

// What a path is to a journal: the journal folder, its manifest or anything
// in it (any change counts), or a folder above the journal (what lets
// someone put another folder in the journal's way counts: deleting or
// renaming it or what is in it, changing its permissions or owner; adding
// entries does not, so a drive's root, where users may make folders, is fine).
enum class Reach { kJournal, kAbove };
// The trust decision on one security descriptor: whether its owner, or an
// entry of its DACL, lets anyone but Administrators, SYSTEM, TrustedInstaller
// and the calling user make such a change; `why` names who.
bool DescriptorLetsOthersChange(PSECURITY_DESCRIPTOR descriptor, Reach reach, std::string& why);
// The same decision on a file or folder's own descriptor; a descriptor that
// cannot be read counts as open to others.
bool OthersCanChange(const std::wstring& path, std::string& why, Reach reach = Reach::kJournal);
// Whether any folder above `folder` (a full path), up to its root, lets
// others change it in that way; `why` names the folder and who.
bool OthersCanChangeAbove(const std::wstring& folder, std::string& why);

// A journal folder as restore and the session name it: full, without a
// trailing backslash.
std::wstring FullFolder(const std::wstring& folder);
// Why restore would not trust a journal kept in `folder` (a full path):
// others can change the folder, its manifest (when it has one), or a folder
// above it; empty when none of these. The session makes the same check on a
// new journal's folder, so that no journal is written that restore refuses.
constexpr char kOthersAbove[] = "others can change a folder above it";
std::string OthersCouldChange(const std::wstring& folder);
// Whether restore may act on the journal in `folder` (a full path): it
// holds a journal (read into `manifest`), nobody else could have changed it
// or put it in its place, and its secret loads into `seal`. Otherwise, the
// refusal: what restore logs, and what drvuninst shows.
bool AdmitJournal(const std::wstring& folder, Manifest& manifest, Seal& seal, std::string& refusal);

// Deletes the secret of the journal in `folder`, which will not be restored.
// Only a secret the journal shows itself to belong to is deleted: one that
// seals a line of its manifest, or that names this folder beside it. False,
// with the reason, when nothing was deleted; `gone` tells a secret deleted
// before (nothing left to do) from a refusal.
bool ForgetJournal(const std::wstring& folder, bool& gone, std::string& why);

}  // namespace kyd::machine::journal
