// One read per key: the path reads of machine.h and what they keep of a run.
//
// A key is held under its identity, the name journal::KeyName gives it in
// upper case ("HKLM\SOFTWARE\CLASSES\CLSID\{...}"), so that every path that
// reaches it shares one entry and the plan's overlay (kept under the same
// names) applies unchanged. An identity is made from the path: HKCR is
// HKLM\Software\Classes where no user registration overlays the path, HKCU is
// the user's own hive, and the registry links known to be on the way
// (CurrentControlSet, ...) are followed. Each key actually listed is asked
// for its real name too; a link found that way is followed from then on.
#include "machine/read_cache.h"

#include <algorithm>
#include <map>
#include <memory>
#include <set>
#include <string_view>
#include <unordered_set>

#include "machine/key_table.h"
#include "machine/session.h"

namespace kyd::machine {

namespace {

constexpr DWORD kFirstValueRoom = 2048;         // bytes, grown to what the value needs
constexpr DWORD kLargestValue = 0x1000000;      // 16 MB: a larger value is not read

// Hashes a name by its characters, so that a view of one finds it too.
struct NameHash {
  using is_transparent = void;
  size_t operator()(std::wstring_view name) const { return std::hash<std::wstring_view>()(name); }
};
using NameSet = std::unordered_set<std::wstring, NameHash, std::equal_to<>>;

struct Value {
  LONG status = ERROR_FILE_NOT_FOUND;
  DWORD type = REG_NONE;
  std::vector<BYTE> data;
};

// A key's subkeys or value names, as listed.
struct Names {
  std::vector<std::wstring> stored;  // as stored, in index order
  NameSet upper;                     // the same, upper case
};

// What the run knows of one key. Most keys are only read a value or two
// from, so the listings are held apart and the values in a short list.
struct Entry {
  bool absent = false;                    // the key is not there
  std::unique_ptr<Names> subKeys;         // its subkeys, once listed
  std::unique_ptr<Names> valueNames;      // its value names, once listed
  std::vector<std::pair<std::wstring, Value>> values;  // values read, by upper-case name

  Value* FindValue(std::wstring_view upper) {
    for (auto& [name, value] : values)
      if (name == upper) return &value;
    return nullptr;
  }
  void SetValue(const std::wstring& upper, Value value) {
    if (Value* held = FindValue(upper)) *held = std::move(value);
    else values.emplace_back(upper, std::move(value));
  }
};

struct Cache {
  KeyTable<Entry> keys;                                     // by identity
  std::map<std::wstring, std::wstring, std::less<>> links;  // a key's identity -> its real name
  std::vector<bool> linkSizes;                              // [n]: some such identity is n long
  std::wstring currentUser;                                  // HKCU's identity
  std::wstring userClasses;                                  // HKCU\Software\Classes's identity
  std::set<SC_HANDLE> stopping;  // services whose stop was accepted and is not seen complete
  RunReads::Counts counts;
  DWORD thread = GetCurrentThreadId();  // the run's; other threads read the registry themselves
};

std::unique_ptr<Cache> g_cache;

// The run's reads, for the thread that runs it.
Cache* Held() { return g_cache && g_cache->thread == GetCurrentThreadId() ? g_cache.get() : nullptr; }

void AddLink(Cache& c, const std::wstring& id, const std::wstring& real) {
  c.links[id] = real;
  if (c.linkSizes.size() <= id.size()) c.linkSizes.resize(id.size() + 1);
  c.linkSizes[id.size()] = true;
}

std::wstring RealName(HKEY key) { return UpperCase(journal::KeyName(key)); }

// The nearest key at or above `id` known to be a link leads elsewhere; so
// does everything below it (a link may lead to another).
void FollowLinks(const Cache& c, std::wstring& id) {
  for (int hops = 0; hops < 8 && !c.links.empty(); ++hops) {
    bool followed = false;
    for (size_t end = id.size(); end != std::wstring::npos && end > 0; end = id.rfind(L'\\', end - 1)) {
      // Most steps of a path are no link's length: no lookup for them.
      if (end >= c.linkSizes.size() || !c.linkSizes[end]) continue;
      auto link = c.links.find(std::wstring_view(id).substr(0, end));
      if (link == c.links.end()) continue;
      id = link->second + id.substr(end);
      followed = true;
      break;
    }
    if (!followed) return;
  }
}

// The key `id` names is really `real` (the path crossed a link, here or
// above): from now on `id` and everything below it name where it leads, and
// what was kept under the old names is dropped. Which step of the path is
// the link is not known, so only this key is taken as one.
void LearnLink(Cache& c, const std::wstring& id, const std::wstring& real) {
  c.keys.EraseTree(id);
  AddLink(c, id, real);
}

// Asks the key at root\path for its real name, and takes it as a link when
// that differs from the identity its path gives.
void Probe(Cache& c, HKEY root, const std::wstring& base, const std::wstring& path) {
  UniqueKey key;
  if (RegOpenKeyExW(root, path.c_str(), 0, KEY_QUERY_VALUE | KEY_WOW64_64KEY, key.put()) != ERROR_SUCCESS) return;
  std::wstring id = UpperCase(base + L"\\" + path), real = RealName(key.get());
  FollowLinks(c, id);
  if (!real.empty() && real != id) AddLink(c, id, real);
}

// A key whose parent is listed without it, or is missing itself, is missing.
bool KnownMissing(const Entry* parent, const std::wstring& id) {
  if (!parent) return false;
  return parent->absent || (parent->subKeys && !parent->subKeys->upper.contains(LastOf(id)));
}

bool PlainPath(const std::wstring& path) {
  return path.empty() ||
         (path.front() != L'\\' && path.back() != L'\\' && path.find(L"\\\\") == std::wstring::npos);
}

Entry* Load(Cache& c, HKEY root, const std::wstring& path, REGSAM view, std::wstring& id, bool subKeys,
            LONG& status);

// Can HKCR\path show a key or value of the user's own class registrations?
// Not when HKCU\Software\Classes lacks the key; an unreadable step counts as
// an overlay.
bool UserOverlays(Cache& c, const std::wstring& path) {
  if (c.userClasses.empty()) return false;
  // The user's path and its identity grow a step at a time, the identity's
  // steps upper-cased in place.
  std::wstring userPath = L"Software\\Classes", id = c.userClasses;
  userPath.reserve(userPath.size() + 1 + path.size());
  id.reserve(id.size() + 1 + path.size());
  for (size_t start = 0;;) {
    LONG status = ERROR_SUCCESS;
    Entry* entry = Load(c, HKEY_CURRENT_USER, userPath, KEY_WOW64_64KEY, id, true, status);
    if (!entry) return true;
    if (entry->absent) return false;
    if (path.empty()) return !entry->subKeys->stored.empty();  // HKCR's own listing
    const size_t end = std::min(path.find(L'\\', start), path.size());
    const std::wstring_view part = std::wstring_view(path).substr(start, end - start);
    (userPath += L'\\') += part;
    const size_t at = (id += L'\\').size();
    id += part;
    CharUpperBuffW(id.data() + at, static_cast<DWORD>(part.size()));
    if (!entry->subKeys->upper.contains(std::wstring_view(id).substr(at))) return false;
    if (end == path.size()) return true;  // the user has this very key
    start = end + 1;
  }
}

// The identity the path gives root\path, the links known so far followed;
// false when the run does not hold such a key (another view, an odd path,
// a root it does not know, HKCR where the user's registrations overlay it).
bool IdentityOf(Cache& c, HKEY root, const std::wstring& path, REGSAM view, std::wstring& id) {
  if ((view & (KEY_WOW64_64KEY | KEY_WOW64_32KEY)) != KEY_WOW64_64KEY || !PlainPath(path)) return false;
  // Settled before the name is made: the overlay's question reads (and may
  // learn links), which can change what FollowLinks does below.
  const bool machineClasses = root == HKEY_CLASSES_ROOT && !UserOverlays(c, path);
  std::wstring_view base;
  if (root == HKEY_LOCAL_MACHINE) base = L"HKLM";
  else if (root == HKEY_USERS) base = L"HKU";
  else if (root == HKEY_CURRENT_USER) base = c.currentUser;
  else if (machineClasses) base = L"HKLM\\SOFTWARE\\CLASSES";
  if (base.empty()) return false;
  id.reserve(base.size() + 1 + path.size());
  id.assign(base);
  if (!path.empty()) {
    const size_t at = (id += L'\\').size();
    id += path;
    CharUpperBuffW(id.data() + at, static_cast<DWORD>(path.size()));
  }
  FollowLinks(c, id);
  return true;
}

Entry& MarkMissing(Cache& c, const std::wstring& id) {
  Entry& entry = c.keys[id];
  entry.absent = true;
  return entry;
}

// The entry of `id`, with its subkeys (or with subKeys false, its value
// names) listed; null when the key cannot be read (status says why). `id`
// becomes the key's real name when the path crossed a link. No entry found
// before a call that may drop entries (LearnLink) is used after it.
Entry* Load(Cache& c, HKEY root, const std::wstring& path, REGSAM view, std::wstring& id, bool subKeys,
            LONG& status) {
  const auto [known, parent] = c.keys.FindWithParent(id);
  if (known && (known->absent || (subKeys ? known->subKeys : known->valueNames))) {
    ++c.counts.served;
    return known;
  }
  if (KnownMissing(parent, id)) {
    ++c.counts.served;
    if (!known) return &MarkMissing(c, id);
    known->absent = true;
    return known;
  }
  UniqueKey key;
  status = RegOpenKeyExW(root, path.empty() ? nullptr : path.c_str(), 0, KEY_READ | view, key.put());
  if (status == ERROR_FILE_NOT_FOUND) {
    ++c.counts.missing;
    return &MarkMissing(c, id);
  }
  if (status != ERROR_SUCCESS) return nullptr;
  const std::wstring real = RealName(key.get());
  if (!real.empty() && real != id) {
    LearnLink(c, id, real);
    id = real;
    // The key was just opened: only a listing held under its real name
    // answers (a mark that it is missing there is out of date).
    Entry* held = c.keys.Find(id);
    if (held && !held->absent && (subKeys ? held->subKeys : held->valueNames)) return held;
  }
  std::vector<std::wstring> names;
  if (!reads::EnumerateNames(key.get(), subKeys, [&](std::wstring name) { names.push_back(std::move(name)); })) {
    status = ERROR_READ_FAULT;
    return nullptr;
  }
  auto listing = std::make_unique<Names>();
  listing->upper.reserve(names.size());
  for (const std::wstring& name : names) listing->upper.insert(UpperCase(name));
  listing->stored = std::move(names);
  ++c.counts.listed;
  Entry& entry = c.keys[id];
  entry.absent = false;
  (subKeys ? entry.subKeys : entry.valueNames) = std::move(listing);
  return &entry;
}

// Reads a value with `query` (RegQueryValueExW's shape), growing the buffer
// to what the value needs.
template <typename Query>
LONG QueryWhole(Query query, DWORD& type, std::vector<BYTE>& data) {
  // Most values fit the first room; it is not cleared, only what was read
  // is kept.
  BYTE first[kFirstValueRoom];
  DWORD size = sizeof first;
  LONG status = query(&type, first, &size);
  if (status == ERROR_SUCCESS) {
    data.assign(first, first + size);
    return status;
  }
  for (int attempt = 0; status == ERROR_MORE_DATA && attempt < 8; ++attempt) {
    if (size > kLargestValue) break;
    data.assign(size + sizeof(wchar_t), 0);
    size = static_cast<DWORD>(data.size());
    status = query(&type, data.data(), &size);
    if (status == ERROR_SUCCESS) data.resize(size);
  }
  if (status != ERROR_SUCCESS) data.clear();
  return status;
}

// The plan's own view of a value: false when the plan does not touch it.
bool PlannedValue(const std::wstring& id, const std::wstring& name, LONG& status, DWORD& type,
                  std::vector<BYTE>& data) {
  Session::State* s = Planner();
  if (!s) return false;
  if (!s->overlay.keys.empty() && s->overlay.keys.count(id)) {
    status = ERROR_FILE_NOT_FOUND;
    return true;
  }
  if (s->overlay.values.empty() && s->overlay.written.empty()) return false;
  const std::wstring valueId = id + L"\n" + UpperCase(name);
  if (s->overlay.values.count(valueId)) {
    status = ERROR_FILE_NOT_FOUND;
    return true;
  }
  auto written = s->overlay.written.find(valueId);
  if (written == s->overlay.written.end()) return false;
  type = written->second.type;
  data = written->second.data;
  status = ERROR_SUCCESS;
  return true;
}

void RemoveName(Names& names, const std::wstring& upper) {
  if (!names.upper.erase(upper)) return;
  for (auto it = names.stored.begin(); it != names.stored.end(); ++it) {
    if (UpperCase(*it) == upper) {
      names.stored.erase(it);
      return;
    }
  }
}

}  // namespace

// ------------------------------------------------------------- the run

RunReads::RunReads() {
  if (g_cache) return;
  outer_ = true;
  g_cache = std::make_unique<Cache>();
  Cache& c = *g_cache;
  // HKCU's own hive by a handle of its own: the predefined handle itself
  // (which opening HKCU without a path may give back) has no name to ask.
  UniqueKey user, classes;
  if (RegOpenCurrentUser(KEY_QUERY_VALUE, user.put()) == ERROR_SUCCESS) c.currentUser = RealName(user.get());
  if (RegOpenKeyExW(HKEY_CURRENT_USER, L"Software\\Classes", 0, KEY_QUERY_VALUE | KEY_WOW64_64KEY,
                    classes.put()) == ERROR_SUCCESS)
    c.userClasses = RealName(classes.get());
  // Where Windows keeps links on the paths the cleaners walk: the current
  // control set and hardware profile, the 32-bit classes, and the class keys
  // the two views share (on 64-bit Windows HKCR\Wow6432Node\AppID is
  // HKCR\AppID). Links elsewhere are found as the keys are listed.
  // HKCU\Software\Classes is the user's classes hive (HKU\<SID>_Classes).
  if (!c.currentUser.empty()) Probe(c, HKEY_CURRENT_USER, c.currentUser, L"Software\\Classes");
  for (const wchar_t* path : {L"SYSTEM\\CurrentControlSet", L"SYSTEM\\CurrentControlSet\\Hardware Profiles\\Current",
                              L"SOFTWARE\\Wow6432Node\\Classes"})
    Probe(c, HKEY_LOCAL_MACHINE, L"HKLM", path);
  const std::wstring classes32 = L"SOFTWARE\\Classes\\Wow6432Node";
  UniqueKey shared;
  std::vector<std::wstring> names;
  if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, classes32.c_str(), 0, KEY_READ | KEY_WOW64_64KEY, shared.put()) ==
      ERROR_SUCCESS)
    reads::EnumerateNames(shared.get(), true, [&](std::wstring name) { names.push_back(std::move(name)); });
  for (const std::wstring& name : names) Probe(c, HKEY_LOCAL_MACHINE, L"HKLM", classes32 + L"\\" + name);
}

RunReads::~RunReads() {
  if (outer_) g_cache.reset();
}

RunReads::Counts RunReads::counts() const { return Held() ? Held()->counts : Counts(); }

// ------------------------------------------------------------- reads

namespace {

// The run's entry of root\path with its subkeys or value names listed, or
// null when the run does not hold the key: then `names` has them read now
// (through the plan's overlay) and `status` says how that went.
Entry* HeldNames(HKEY root, const std::wstring& path, REGSAM view, bool subKeys, std::wstring& id,
                 std::vector<std::wstring>& names, LONG& status) {
  status = ERROR_SUCCESS;
  Entry* entry =
      Held() && IdentityOf(*Held(), root, path, view, id) ? Load(*Held(), root, path, view, id, subKeys, status)
                                                          : nullptr;
  if (entry) {
    if (entry->absent) status = ERROR_FILE_NOT_FOUND;
    return entry->absent ? nullptr : entry;
  }
  UniqueKey key;
  status = OpenKey(root, path, KEY_READ | view, key);
  if (status == ERROR_SUCCESS && !(subKeys ? ListSubKeys(key.get(), names) : ListValueNames(key.get(), names)))
    status = ERROR_READ_FAULT;
  return nullptr;
}

}  // namespace

LONG ReadSubKeys(HKEY root, const std::wstring& path, REGSAM view, std::vector<std::wstring>& names) {
  std::wstring id;
  LONG status = ERROR_SUCCESS;
  Entry* entry = HeldNames(root, path, view, true, id, names, status);
  if (!entry) return status;
  Session::State* s = Planner();
  const bool planned = s && !s->overlay.keys.empty();
  if (planned && s->overlay.keys.count(id)) return ERROR_FILE_NOT_FOUND;
  for (const std::wstring& name : entry->subKeys->stored)
    if (!planned || !s->overlay.keys.count(id + L"\\" + UpperCase(name))) names.push_back(name);
  return ERROR_SUCCESS;
}

LONG ReadValueNames(HKEY root, const std::wstring& path, REGSAM view, std::vector<std::wstring>& names) {
  std::wstring id;
  LONG status = ERROR_SUCCESS;
  Entry* entry = HeldNames(root, path, view, false, id, names, status);
  if (!entry) return status;
  Session::State* s = Planner();
  if (s && !s->overlay.keys.empty() && s->overlay.keys.count(id)) return ERROR_FILE_NOT_FOUND;
  if (!s || (s->overlay.values.empty() && s->overlay.written.empty())) {
    names.insert(names.end(), entry->valueNames->stored.begin(), entry->valueNames->stored.end());
    return ERROR_SUCCESS;
  }
  // As ListValueNames shows a plan's values: deleted ones gone, written ones
  // that are not there yet last.
  const std::wstring prefix = id + L"\n";
  for (const std::wstring& name : entry->valueNames->stored)
    if (!s->overlay.values.count(prefix + UpperCase(name))) names.push_back(name);
  for (auto it = s->overlay.written.lower_bound(prefix);
       it != s->overlay.written.end() && it->first.compare(0, prefix.size(), prefix) == 0; ++it)
    if (!entry->valueNames->upper.contains(std::wstring_view(it->first).substr(prefix.size())))
      names.push_back(it->second.name);
  return ERROR_SUCCESS;
}

LONG ReadValue(HKEY root, const std::wstring& path, REGSAM view, const std::wstring& name, DWORD& type,
               std::vector<BYTE>& data) {
  std::wstring id;
  if (!Held() || !IdentityOf(*Held(), root, path, view, id)) {
    UniqueKey key;
    LONG status = OpenKey(root, path, KEY_READ | view, key);
    if (status != ERROR_SUCCESS) return status;
    return QueryWhole([&](DWORD* t, BYTE* d, DWORD* size) { return QueryValue(key.get(), name, t, d, size); },
                      type, data);
  }
  LONG status = ERROR_SUCCESS;
  if (PlannedValue(id, name, status, type, data)) return status;
  Cache& c = *Held();
  const auto [held, parent] = c.keys.WithParent(id);
  Entry& entry = *held;
  const std::wstring upper = UpperCase(name);
  if (entry.absent || KnownMissing(parent, id)) {
    ++c.counts.served;
    return ERROR_FILE_NOT_FOUND;
  }
  const Value* known = entry.FindValue(upper);
  if (known || (entry.valueNames && !entry.valueNames->upper.contains(upper))) {
    ++c.counts.served;
    if (!known) return ERROR_FILE_NOT_FOUND;
    type = known->type;
    data = known->data;
    return known->status;
  }
  UniqueKey key;
  status = RegOpenKeyExW(root, path.empty() ? nullptr : path.c_str(), 0, KEY_QUERY_VALUE | view, key.put());
  if (status == ERROR_FILE_NOT_FOUND) {
    ++c.counts.missing;
    entry.absent = true;
    return status;
  }
  if (status != ERROR_SUCCESS) return status;
  status = QueryWhole(
      [&](DWORD* t, BYTE* d, DWORD* size) { return RegQueryValueExW(key.get(), name.c_str(), nullptr, t, d, size); },
      type, data);
  if (status != ERROR_SUCCESS && status != ERROR_FILE_NOT_FOUND) return status;
  ++c.counts.values;
  entry.SetValue(upper, {status, type, data});
  return status;
}

// ------------------------------------------------------------- the seam's own changes

namespace reads {

bool Active() { return Held() != nullptr; }

void KeyRemoved(const std::wstring& keyName) {
  if (!Held() || keyName.empty()) return;
  Cache& c = *Held();
  const std::wstring id = UpperCase(keyName);
  c.keys.EraseTree(id);
  c.keys[id].absent = true;
  if (Entry* parent = c.keys.Find(ParentOf(id)))
    if (parent->subKeys) RemoveName(*parent->subKeys, std::wstring(LastOf(id)));
}

void ValueRemoved(const std::wstring& keyName, const std::wstring& valueName) {
  if (!Held() || keyName.empty()) return;
  Entry* entry = Held()->keys.Find(UpperCase(keyName));
  if (!entry) return;
  const std::wstring upper = UpperCase(valueName);
  entry->SetValue(upper, Value());
  if (entry->valueNames) RemoveName(*entry->valueNames, upper);
}

void ValueWritten(HKEY root, const std::wstring& path, REGSAM view) {
  if (!Held()) return;
  Cache& c = *Held();
  std::wstring id;
  if (!IdentityOf(c, root, path, view, id)) {
    Forget();
    return;
  }
  // The key is read afresh, and so are the listings of the keys above it,
  // which it may have been created in.
  c.keys.EraseTree(id);
  for (std::wstring_view above = ParentOf(id); !above.empty(); above = ParentOf(above)) c.keys.Erase(above);
}

void Forget() {
  if (Held()) Held()->keys.Clear();
}

void StopAccepted(SC_HANDLE service) {
  if (Held()) Held()->stopping.insert(service);
}

void StopSeen(SC_HANDLE service) {
  if (Held() && Held()->stopping.erase(service)) Forget();
}

void StopWaitOver() {
  if (!Held() || Held()->stopping.empty()) return;
  Held()->stopping.clear();
  Forget();
}

}  // namespace reads

}  // namespace kyd::machine
