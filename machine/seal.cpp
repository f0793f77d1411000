#include "machine/seal.h"

#include <aclapi.h>
#include <sddl.h>

#include <algorithm>
#include <cwchar>

#include "machine/journal.h"
#include "machine/machine.h"

namespace kyd::machine::journal {
namespace {

constexpr DWORD kSecretBytes = 32;
constexpr wchar_t kSecretValue[] = L"Secret";
constexpr wchar_t kFolderValue[] = L"Folder";
// Full control for Administrators and SYSTEM, nothing from above (P).
constexpr wchar_t kKeyProtection[] = L"D:P(A;CI;KA;;;BA)(A;CI;KA;;;SY)";
constexpr wchar_t kFolderProtection[] = L"D:P(A;OICI;FA;;;BA)(A;OICI;FA;;;SY)";

// Rights that change a file or folder, what is in it, or its permissions.
constexpr ACCESS_MASK kFileChange = FILE_WRITE_DATA | FILE_APPEND_DATA | FILE_WRITE_EA | FILE_DELETE_CHILD |
                                    FILE_WRITE_ATTRIBUTES | DELETE | WRITE_DAC | WRITE_OWNER | GENERIC_WRITE |
                                    GENERIC_ALL | MAXIMUM_ALLOWED;
// Rights on a folder above a journal that let someone put another folder in
// the journal's way: delete or rename it or what is in it, or take it over.
constexpr ACCESS_MASK kFolderSwap =
    FILE_DELETE_CHILD | DELETE | WRITE_DAC | WRITE_OWNER | GENERIC_ALL | MAXIMUM_ALLOWED;
// Rights that read a secret's value or change the key.
constexpr ACCESS_MASK kKeyUse = KEY_QUERY_VALUE | KEY_SET_VALUE | KEY_CREATE_SUB_KEY | DELETE | WRITE_DAC |
                                WRITE_OWNER | GENERIC_READ | GENERIC_WRITE | GENERIC_ALL | MAXIMUM_ALLOWED;
// NT SERVICE\TrustedInstaller (S-1-5-80-956008885-3418522649-1831038044-
// 1853292631-2271478464), which owns Windows' own folders, laid out as a SID.
struct {
  BYTE revision = SID_REVISION, count = 6;
  SID_IDENTIFIER_AUTHORITY authority = {SECURITY_NT_AUTHORITY};
  DWORD subAuthorities[6] = {80, 956008885, 3418522649, 1831038044, 1853292631, 2271478464};
} kTrustedInstaller;

std::string SidText(PSID sid) {
  wchar_t* text = nullptr;
  if (!ConvertSidToStringSidW(sid, &text)) return "an unknown account";
  UniqueLocal owned(text);
  return ToUtf8(text);
}

// The SIDs trusted with a journal: Administrators, SYSTEM and the user who
// asks (an administrator, or Wine's Unix owner).
class Trusted {
 public:
  Trusted() {
    DWORD size = SECURITY_MAX_SID_SIZE;
    CreateWellKnownSid(WinBuiltinAdministratorsSid, nullptr, administrators_, &size);
    size = SECURITY_MAX_SID_SIZE;
    CreateWellKnownSid(WinLocalSystemSid, nullptr, system_, &size);
    size = SECURITY_MAX_SID_SIZE;
    CreateWellKnownSid(WinCreatorOwnerSid, nullptr, creatorOwner_, &size);
    size = SECURITY_MAX_SID_SIZE;
    CreateWellKnownSid(WinCreatorGroupSid, nullptr, creatorGroup_, &size);
    UniqueHandle token;
    if (OpenThreadToken(GetCurrentThread(), TOKEN_QUERY, TRUE, token.put()) ||
        OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, token.put())) {
      DWORD needed = 0;
      hasUser_ = GetTokenInformation(token.get(), TokenUser, user_, sizeof user_, &needed) != FALSE;
    }
  }
  PSID administrators() { return administrators_; }
  bool Is(PSID sid) {
    return EqualSid(sid, administrators_) || EqualSid(sid, system_) ||
           EqualSid(sid, &kTrustedInstaller) || (hasUser_ && EqualSid(sid, reinterpret_cast<TOKEN_USER*>(user_)->User.Sid));
  }
  // CREATOR OWNER and CREATOR GROUP stand for others only in what is made inside.
  bool Placeholder(PSID sid) { return EqualSid(sid, creatorOwner_) || EqualSid(sid, creatorGroup_); }

 private:
  BYTE administrators_[SECURITY_MAX_SID_SIZE] = {};
  BYTE system_[SECURITY_MAX_SID_SIZE] = {};
  BYTE creatorOwner_[SECURITY_MAX_SID_SIZE] = {};
  BYTE creatorGroup_[SECURITY_MAX_SID_SIZE] = {};
  alignas(8) BYTE user_[sizeof(TOKEN_USER) + SECURITY_MAX_SID_SIZE] = {};
  bool hasUser_ = false;
};

// Whether an owner or an entry of the DACL lets anyone untrusted use `rights`.
bool OthersMay(PSECURITY_DESCRIPTOR descriptor, ACCESS_MASK rights, std::string& why) {
  Trusted trusted;
  PSID owner = nullptr;
  BOOL defaulted = FALSE, present = FALSE;
  PACL dacl = nullptr;
  if (!GetSecurityDescriptorOwner(descriptor, &owner, &defaulted) ||
      !GetSecurityDescriptorDacl(descriptor, &present, &dacl, &defaulted)) {
    why = "its permissions cannot be read";
    return true;
  }
  if (!owner || !trusted.Is(owner)) {  // an owner may always change the permissions
    why = "it is owned by " + (owner ? SidText(owner) : std::string("nobody"));
    return true;
  }
  if (!present || !dacl) {
    why = "it has no access list: everyone may change it";
    return true;
  }
  for (DWORD index = 0; index < dacl->AceCount; ++index) {
    void* entry = nullptr;
    if (!GetAce(dacl, index, &entry)) {
      why = "its access list cannot be read";
      return true;
    }
    const auto* header = static_cast<const ACE_HEADER*>(entry);
    if (header->AceType == ACCESS_DENIED_ACE_TYPE || (header->AceFlags & INHERIT_ONLY_ACE)) continue;
    if (header->AceType != ACCESS_ALLOWED_ACE_TYPE) {
      why = "its access list holds an entry of a kind not checked (" + std::to_string(header->AceType) + ")";
      return true;
    }
    const auto* allowed = static_cast<const ACCESS_ALLOWED_ACE*>(entry);
    PSID sid = const_cast<DWORD*>(&allowed->SidStart);
    if ((allowed->Mask & rights) && !trusted.Is(sid) && !trusted.Placeholder(sid)) {
      why = SidText(sid) + " may change it";
      return true;
    }
  }
  return false;
}

// The folder kept beside a secret; empty when there is none.
std::wstring ReadFolderValue(HKEY key) {
  std::vector<wchar_t> text(MAX_PATH * 2 + 1);
  DWORD type = 0, size = static_cast<DWORD>((text.size() - 1) * sizeof(wchar_t));
  if (RegQueryValueExW(key, kFolderValue, nullptr, &type, reinterpret_cast<BYTE*>(text.data()), &size) !=
          ERROR_SUCCESS ||
      type != REG_SZ)
    return {};
  text[size / sizeof(wchar_t)] = L'\0';
  return text.data();
}

PACL ProtectedDacl(UniqueLocal& descriptor) {
  PACL dacl = nullptr;
  BOOL present = FALSE, defaulted = FALSE;
  if (!ConvertStringSecurityDescriptorToSecurityDescriptorW(kFolderProtection, SDDL_REVISION_1,
                                                            reinterpret_cast<PSECURITY_DESCRIPTOR*>(descriptor.put()),
                                                            nullptr) ||
      !GetSecurityDescriptorDacl(descriptor.get(), &present, &dacl, &defaulted))
    return nullptr;
  return dacl;
}

}  // namespace

// ------------------------------------------------------------- the secret

bool Seal::Import(const std::vector<BYTE>& secret, std::string& why) {
  // An HMAC key goes in as a plain RC2 key blob; CRYPT_IPSEC_HMAC_KEY lets it
  // be longer than RC2's 16 bytes.
  struct {
    BLOBHEADER header;
    DWORD size;
    BYTE bytes[kSecretBytes];
  } blob{};
  if (secret.size() != kSecretBytes) {
    why = "its secret is malformed";
    return false;
  }
  blob.header.bType = PLAINTEXTKEYBLOB;
  blob.header.bVersion = CUR_BLOB_VERSION;
  blob.header.aiKeyAlg = CALG_RC2;
  blob.size = kSecretBytes;
  std::copy(secret.begin(), secret.end(), blob.bytes);
  bool imported = (provider_ || CryptAcquireContextW(provider_.put(), nullptr, nullptr, PROV_RSA_FULL,
                                                     CRYPT_VERIFYCONTEXT | CRYPT_SILENT)) &&
                  CryptImportKey(provider_.get(), reinterpret_cast<const BYTE*>(&blob), sizeof blob, 0,
                                 CRYPT_IPSEC_HMAC_KEY, key_.put());
  SecureZeroMemory(&blob, sizeof blob);
  if (!imported) why = "the seal cannot be computed (CryptoAPI error " + std::to_string(GetLastError()) + ")";
  return imported;
}

bool Seal::Create(const std::wstring& id, const std::wstring& folder, std::string& why) {
  std::vector<BYTE> secret(kSecretBytes);
  if (!CryptAcquireContextW(provider_.put(), nullptr, nullptr, PROV_RSA_FULL, CRYPT_VERIFYCONTEXT | CRYPT_SILENT) ||
      !CryptGenRandom(provider_.get(), kSecretBytes, secret.data())) {
    why = "no random secret (CryptoAPI error " + std::to_string(GetLastError()) + ")";
    return false;
  }
  UniqueLocal descriptor;
  if (!ConvertStringSecurityDescriptorToSecurityDescriptorW(kKeyProtection, SDDL_REVISION_1,
                                                            reinterpret_cast<PSECURITY_DESCRIPTOR*>(descriptor.put()),
                                                            nullptr)) {
    why = "error " + std::to_string(GetLastError()) + " building the key's permissions";
    return false;
  }
  SECURITY_ATTRIBUTES protection{sizeof protection, descriptor.get(), FALSE};
  // Each level made with the protection (a level that exists is kept as it is).
  const std::wstring path = std::wstring(kSecretsKey) + L"\\" + id;
  UniqueKey key;
  DWORD disposition = 0;
  LONG status = ERROR_SUCCESS;
  for (size_t at = path.find(L'\\', std::wcslen(L"SOFTWARE\\")); status == ERROR_SUCCESS;
       at = path.find(L'\\', at + 1)) {
    status = RegCreateKeyExW(HKEY_LOCAL_MACHINE, path.substr(0, at).c_str(), 0, nullptr, 0,
                             KEY_SET_VALUE | KEY_WOW64_64KEY, &protection, key.put(), &disposition);
    if (at == std::wstring::npos) break;
  }
  if (status == ERROR_SUCCESS && disposition != REG_CREATED_NEW_KEY) status = ERROR_ALREADY_EXISTS;
  if (status == ERROR_SUCCESS) status = RegSetValueExW(key.get(), kSecretValue, 0, REG_BINARY, secret.data(), kSecretBytes);
  if (status == ERROR_SUCCESS) {
    status = RegSetValueExW(key.get(), kFolderValue, 0, REG_SZ, reinterpret_cast<const BYTE*>(folder.c_str()),
                            static_cast<DWORD>((folder.size() + 1) * sizeof(wchar_t)));
  }
  if (status != ERROR_SUCCESS) {
    why = "its secret cannot be kept under HKLM\\" + ToUtf8(path) + " (error " + std::to_string(status) + ")";
    if (status != ERROR_ALREADY_EXISTS) Forget(id);
    return false;
  }
  bool imported = Import(secret, why);
  SecureZeroMemory(secret.data(), secret.size());
  if (!imported) Forget(id);
  if (imported) folder_ = folder;
  return imported;
}

bool Seal::Load(const std::wstring& id, std::string& why) {
  if (!IsJournalId(id)) {
    why = "it names no journal id";
    return false;
  }
  const std::wstring path = std::wstring(kSecretsKey) + L"\\" + id;
  UniqueKey key;
  LONG status = RegOpenKeyExW(HKEY_LOCAL_MACHINE, path.c_str(), 0, KEY_QUERY_VALUE | READ_CONTROL | KEY_WOW64_64KEY,
                              key.put());
  if (status == ERROR_FILE_NOT_FOUND) {
    why = "its secret is missing (a journal of another machine, or its key HKLM\\" + ToUtf8(path) + " was deleted)";
    return false;
  }
  if (status != ERROR_SUCCESS) {
    why = "its secret cannot be read (error " + std::to_string(status) + ")";
    return false;
  }
  DWORD size = 0;
  RegGetKeySecurity(key.get(), OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION, nullptr, &size);
  std::vector<BYTE> descriptor(size ? size : 1);
  std::string who;
  if (RegGetKeySecurity(key.get(), OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION, descriptor.data(),
                        &size) != ERROR_SUCCESS ||
      OthersMay(descriptor.data(), kKeyUse, who)) {
    why = "its secret's key is not kept from others (" + (who.empty() ? "its permissions cannot be read" : who) + ")";
    return false;
  }
  std::vector<BYTE> secret(kSecretBytes + 1);
  DWORD type = 0;
  size = static_cast<DWORD>(secret.size());
  status = RegQueryValueExW(key.get(), kSecretValue, nullptr, &type, secret.data(), &size);
  if (status != ERROR_SUCCESS || type != REG_BINARY || size != kSecretBytes) {
    why = "its secret is malformed";
    return false;
  }
  secret.resize(size);
  folder_ = ReadFolderValue(key.get());
  bool imported = Import(secret, why);
  SecureZeroMemory(secret.data(), secret.size());
  return imported;
}

void Seal::Forget(const std::wstring& id) {
  if (!IsJournalId(id)) return;
  UniqueKey parent;
  if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, kSecretsKey, 0, KEY_ALL_ACCESS | KEY_WOW64_64KEY, parent.put()) ==
      ERROR_SUCCESS)
    DeleteKeyIn(parent.get(), id, KEY_WOW64_64KEY);
}

// ------------------------------------------------------------- MACs

Seal::Mac::Mac(const Seal& seal, Kind kind) {
  HMAC_INFO info{};
  info.HashAlgid = CALG_SHA1;
  if (!seal.ok() || !CryptCreateHash(seal.provider_.get(), CALG_HMAC, seal.key_.get(), 0, hash_.put()) ||
      !CryptSetHashParam(hash_.get(), HP_HMAC_INFO, reinterpret_cast<const BYTE*>(&info), 0)) {
    hash_.reset();
    return;
  }
  // What is sealed says what it is, so that no sealed text passes for another kind.
  const char domain[2] = {static_cast<char>(kind), '\n'};
  Add(domain, sizeof domain);
}

void Seal::Mac::Add(const void* data, size_t size) {
  const auto* bytes = static_cast<const BYTE*>(data);
  while (hash_ && size > 0) {
    DWORD chunk = size > 0x40000000 ? 0x40000000 : static_cast<DWORD>(size);
    if (!CryptHashData(hash_.get(), bytes, chunk, 0)) hash_.reset();
    bytes += chunk;
    size -= chunk;
  }
}

std::wstring Seal::Mac::Finish() {
  BYTE value[20];
  DWORD size = sizeof value;
  if (!hash_ || !CryptGetHashParam(hash_.get(), HP_HASHVAL, value, &size, 0) || size != sizeof value) return {};
  hash_.reset();
  return Hex(value, size);
}

std::wstring Seal::Of(Kind kind, const void* data, size_t size) const {
  Mac mac(*this, kind);
  mac.Add(data, size);
  return mac.Finish();
}

// ------------------------------------------------------------- ids

std::wstring NewJournalId() {
  GUID guid;
  wchar_t text[40] = {};
  if (CoCreateGuid(&guid) != S_OK || StringFromGUID2(guid, text, 40) != 39) return {};
  return text;
}

bool IsJournalId(const std::wstring& id) {
  if (id.size() != 38 || id.front() != L'{' || id.back() != L'}') return false;
  for (size_t i = 1; i + 1 < id.size(); ++i) {
    const bool dash = i == 9 || i == 14 || i == 19 || i == 24;
    const wchar_t c = id[i];
    const bool hex = (c >= L'0' && c <= L'9') || (c >= L'A' && c <= L'F') || (c >= L'a' && c <= L'f');
    if (dash ? c != L'-' : !hex) return false;
  }
  return true;
}

// ------------------------------------------------------------- folders

bool ProtectFolder(const std::wstring& folder, std::string& why) {
  UniqueLocal descriptor;
  PACL dacl = ProtectedDacl(descriptor);
  if (!dacl) {
    why = "error " + std::to_string(GetLastError()) + " building its permissions";
    return false;
  }
  const DWORD share = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
  UniqueFile handle(CreateFileW(folder.c_str(), READ_CONTROL | WRITE_DAC | WRITE_OWNER, share, nullptr, OPEN_EXISTING,
                                FILE_FLAG_BACKUP_SEMANTICS, nullptr));
  Trusted trusted;
  DWORD error = ERROR_SUCCESS;
  if (handle) {
    error = SetSecurityInfo(handle.get(), SE_FILE_OBJECT,
                            OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION | PROTECTED_DACL_SECURITY_INFORMATION,
                            trusted.administrators(), nullptr, dacl, nullptr);
  }
  if (!handle || error != ERROR_SUCCESS) {
    // A caller that may not give the folder away keeps it as its owner.
    handle.reset(CreateFileW(folder.c_str(), READ_CONTROL | WRITE_DAC, share, nullptr, OPEN_EXISTING,
                             FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    error = !handle ? GetLastError()
                    : SetSecurityInfo(handle.get(), SE_FILE_OBJECT,
                                      DACL_SECURITY_INFORMATION | PROTECTED_DACL_SECURITY_INFORMATION, nullptr, nullptr,
                                      dacl, nullptr);
  }
  if (error != ERROR_SUCCESS) {
    why = "its permissions cannot be set (error " + std::to_string(error) + ")";
    return false;
  }
  return true;
}

DWORD CreateProtectedFolder(const std::wstring& folder) {
  UniqueLocal descriptor;
  if (!ConvertStringSecurityDescriptorToSecurityDescriptorW(kFolderProtection, SDDL_REVISION_1,
                                                            reinterpret_cast<PSECURITY_DESCRIPTOR*>(descriptor.put()),
                                                            nullptr))
    return GetLastError();
  SECURITY_ATTRIBUTES protection{sizeof protection, descriptor.get(), FALSE};
  return CreateDirectoryW(folder.c_str(), &protection) ? ERROR_SUCCESS : GetLastError();
}

bool DescriptorLetsOthersChange(PSECURITY_DESCRIPTOR descriptor, Reach reach, std::string& why) {
  return OthersMay(descriptor, reach == Reach::kAbove ? kFolderSwap : kFileChange, why);
}

bool OthersCanChange(const std::wstring& path, std::string& why, Reach reach) {
  UniqueFile handle(CreateFileW(path.c_str(), READ_CONTROL, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  DWORD error = handle ? GetSecurityInfo(handle.get(), SE_FILE_OBJECT,
                                         OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION, nullptr, nullptr,
                                         nullptr, nullptr, &descriptor)
                       : GetLastError();
  UniqueLocal owned(descriptor);
  if (error != ERROR_SUCCESS) {
    why = "its permissions cannot be read (error " + std::to_string(error) + ")";
    return true;
  }
  return DescriptorLetsOthersChange(descriptor, reach, why);
}

bool OthersCanChangeAbove(const std::wstring& folder, std::string& why) {
  // "C:\a\b" has "C:\a" and "C:\" above it; "\\server\share\a" has the
  // share's root.
  const size_t rootEnd = folder.rfind(L"\\\\", 0) == 0 ? folder.find(L'\\', folder.find(L'\\', 2) + 1) : 2;
  std::wstring above = folder;
  while (rootEnd != std::wstring::npos && above.size() > rootEnd + 1) {
    const size_t slash = above.rfind(L'\\');
    if (slash == std::wstring::npos || slash < rootEnd) break;
    above.resize(slash == rootEnd ? slash + 1 : slash);
    std::string who;
    if (OthersCanChange(above, who, Reach::kAbove)) {
      why = ToUtf8(above) + ": " + who;
      return true;
    }
  }
  return false;
}

std::wstring FullFolder(const std::wstring& folderIn) {
  wchar_t full[MAX_PATH * 2] = {};
  const DWORD length = GetFullPathNameW(folderIn.c_str(), MAX_PATH * 2, full, nullptr);
  std::wstring folder = length > 0 && length < MAX_PATH * 2 ? full : folderIn;
  while (folder.size() > 3 && folder.back() == L'\\') folder.pop_back();
  return folder;
}

std::string OthersCouldChange(const std::wstring& folder) {
  std::string why;
  const std::wstring manifest = folder + L"\\" + kManifestName;
  // A folder above first: through it the rest could be put in its place.
  if (OthersCanChangeAbove(folder, why)) return std::string(kOthersAbove) + ": " + why;
  if (OthersCanChange(folder, why)) return "others can change the journal folder: " + why;
  if (GetFileAttributesW(manifest.c_str()) != INVALID_FILE_ATTRIBUTES && OthersCanChange(manifest, why))
    return "others can change its manifest: " + why;
  return {};
}

bool AdmitJournal(const std::wstring& folder, Manifest& manifest, Seal& seal, std::string& refusal) {
  if (folder.empty() || !ReadManifest(folder, manifest)) refusal = "no journal there";
  else if (manifest.mode != L"journal") refusal = manifest.mode == L"plan" ? "a plan, nothing to restore"
                                                                            : "not a journal, nothing to restore";
  else refusal = OthersCouldChange(folder);
  std::string why;
  if (refusal.empty() && !seal.Load(manifest.id, why)) refusal = "its seal cannot be checked: " + why;
  return refusal.empty();
}

bool ForgetJournal(const std::wstring& folderIn, bool& gone, std::string& why) {
  gone = false;
  const std::wstring folder = FullFolder(folderIn);
  Manifest manifest;
  if (!ReadManifest(folder, manifest) || manifest.mode != L"journal") {
    why = "no journal there";
    return false;
  }
  Seal seal;
  if (!seal.Load(manifest.id, why)) {
    UniqueKey key;
    gone = IsJournalId(manifest.id) &&
           RegOpenKeyExW(HKEY_LOCAL_MACHINE, (std::wstring(kSecretsKey) + L"\\" + manifest.id).c_str(), 0,
                         KEY_QUERY_VALUE | KEY_WOW64_64KEY, key.put()) == ERROR_FILE_NOT_FOUND;
    return false;
  }
  // A manifest may name any journal's id: only a secret that sealed one of
  // its lines, or that was made for this folder, is this journal's.
  bool ours = _wcsicmp(seal.folder().c_str(), folder.c_str()) == 0;
  for (const Line& line : manifest.lines) ours = ours || Sealed(line, seal);
  if (!ours) {
    why = "the secret it names was made for another journal (" + ToUtf8(seal.folder()) + ")";
    return false;
  }
  Seal::Forget(manifest.id);
  return true;
}

}  // namespace kyd::machine::journal
