// The footprint bench's checks: what became of each seeded item, and the
// changes no item explains.
#include "support/footprint.h"

#include "machine/journal.h"
#include "support/footprint_state.h"

namespace kydtest::fp {
namespace {

// Equal subtrees (the root itself included) in two snapshots.
template <typename Map>
bool SameSubtree(const Map& before, const Map& after, const std::wstring& root) {
  auto collect = [&](const Map& map) {
    std::vector<typename Map::value_type> entries;
    for (auto it = map.lower_bound(root); it != map.end() && Under(it->first, root); ++it)
      entries.push_back(*it);
    return entries;
  };
  return collect(before) == collect(after);
}

// A file in use that is a target at or below `path` (lower case, on disk).
bool HoldsFileInUse(const Bench::State& s, const std::wstring& path) {
  for (const Item* item : s.inUse)
    if (Under(LowerCase(ResolveFolder(item->where)), path)) return true;
  return false;
}

}  // namespace

std::vector<Verdict> Bench::Judge(const Snapshot& before, const Snapshot& now, bool awaitTargets) const {
  const State& s = *state_;
  const bool is64 = Is64BitPrefix();
  std::vector<Verdict> verdicts;
  for (const Item& item : footprint_.items) {
    const Expect expect = ExpectFor(item, is64, keepDevice_, nativeSystem_);
    if (expect == Expect::kNotSeeded) continue;
    Verdict v;
    v.item = &item;
    v.expect = expect;
    const char* targetLeft = "target still there";
    const char* decoyHit = "decoy changed or gone";
    switch (item.kind) {
      case Kind::kKey: {
        std::wstring key = CanonicalKey(item.where, before);
        v.gone = !now.keys.count(key);
        v.intact = !v.gone && SameSubtree(before.keys, now.keys, key);
        break;
      }
      case Kind::kValue: {
        std::wstring key = CanonicalKey(item.where, before), name = LowerCase(item.name);
        auto find = [&](const Snapshot& shot) -> const std::wstring* {
          auto k = shot.keys.find(key);
          if (k == shot.keys.end()) return nullptr;
          auto found = k->second.find(name);
          return found == k->second.end() ? nullptr : &found->second;
        };
        const std::wstring *was = find(before), *is = find(now);
        v.gone = !is;
        v.intact = was && is && *is == *was;
        if (!was) {
          v.failure = item.Describe() + ": not seeded";
          v.gone = v.intact = false;
        }
        break;
      }
      case Kind::kFile:
      case Kind::kDir: {
        std::wstring path = LowerCase(ResolveFolder(item.where));
        v.gone = !now.files.count(path);
        v.intact = !v.gone && SameSubtree(before.files, now.files, path);
        // A target in use, or a folder holding one, goes at the restart.
        if (expect == Expect::kGone && !s.restarted && HoldsFileInUse(s, path) && !v.gone) {
          v.gone = DueAtRestart(ResolveFolder(item.where));
          targetLeft = "target in use still there and not due at the next restart";
        }
        break;
      }
      case Kind::kService: {
        // The library has a stop accepted and waits a few seconds; a target
        // still stopping then is given time to finish, as a process is.
        DWORD state =
            s.serviceOf.at(item.line)->State(SERVICE_STOPPED, expect == Expect::kGone && awaitTargets ? 30000 : 0);
        v.gone = state == SERVICE_STOPPED;
        v.intact = state == SERVICE_RUNNING;
        targetLeft = "target service not stopped";
        decoyHit = "decoy service no longer running";
        break;
      }
      case Kind::kProcess: {
        // A target is given time to end; a decoy is looked at once.
        v.gone = s.sleepers.Ended(s.processOf.at(item.line), expect == Expect::kGone && awaitTargets ? 5000 : 0);
        v.intact = !v.gone;
        targetLeft = "target program still running";
        decoyHit = "decoy program ended";
        break;
      }
      case Kind::kDevice: {
        v.intact = DevicePresent(s.deviceOf.at(item.line)->instanceId());
        v.gone = !v.intact;
        targetLeft = "target device still present";
        decoyHit = "decoy device removed";
        break;
      }
      case Kind::kInf: {
        const SeededInf& inf = *s.infOf.at(item.line);
        bool infThere = FileExists(inf.path()), pnfThere = FileExists(inf.pnf());
        v.gone = !infThere && !pnfThere;
        v.intact = infThere && pnfThere;
        targetLeft = "target INF or its PNF still there";
        decoyHit = "decoy INF or its PNF gone";
        break;
      }
    }
    if (v.failure.empty() && expect == Expect::kGone && !v.gone) v.failure = item.Describe() + ": " + targetLeft;
    if (v.failure.empty() && expect == Expect::kIntact && !v.intact) v.failure = item.Describe() + ": " + decoyHit;
    verdicts.push_back(v);
  }
  return verdicts;
}

std::vector<Change> Bench::Unexplained(const Snapshot& before, const Snapshot& now) const {
  const State& s = *state_;
  const bool is64 = Is64BitPrefix();
  std::vector<std::wstring> ownedKeys, ownedFiles;
  std::vector<std::pair<std::wstring, std::wstring>> ownedValues;

  // What the uninstall flow itself writes: the driver-search policy and the
  // driver folder list.
  ownedKeys.push_back(L"hklm\\software\\microsoft\\windows\\currentversion\\driversearching");
  ownedKeys.push_back(L"hklm\\software\\policies\\microsoft\\windows\\driversearching");
  ownedValues.emplace_back(L"hklm\\software\\microsoft\\windows\\currentversion", L"devicepath");
  // The removal road writes it as the 32-bit library sees the key.
  ownedValues.emplace_back(L"hklm\\software\\wow6432node\\microsoft\\windows\\currentversion", L"devicepath");
  // Files in use go at the next restart (CheckPending says how).
  if (!s.inUse.empty()) {
    ownedValues.emplace_back(L"hklm\\system\\currentcontrolset\\control\\session manager",
                             L"pendingfilerenameoperations");
    ownedFiles.push_back(HoldingFolder());
  }

  for (const State::CreatedKey& key : s.createdKeys) ownedKeys.push_back(CanonicalKey(key.hivePath, before));
  for (const std::wstring& file : s.createdFiles) ownedFiles.push_back(LowerCase(file));
  for (const std::wstring& dir : s.createdDirs) ownedFiles.push_back(LowerCase(dir));
  for (const Item& item : footprint_.items) {
    if (ExpectFor(item, is64, keepDevice_, nativeSystem_) == Expect::kNotSeeded) continue;
    switch (item.kind) {
      case Kind::kKey: ownedKeys.push_back(CanonicalKey(item.where, before)); break;
      case Kind::kValue: ownedValues.emplace_back(CanonicalKey(item.where, before), LowerCase(item.name)); break;
      case Kind::kFile:
      case Kind::kDir: ownedFiles.push_back(LowerCase(ResolveFolder(item.where))); break;
      case Kind::kService:
        ownedKeys.push_back(L"hklm\\system\\currentcontrolset\\services\\" + LowerCase(item.where));
        break;
      case Kind::kProcess: break;
      case Kind::kDevice: {
        const std::wstring& instance = s.deviceOf.at(item.line)->instanceId();
        ownedKeys.push_back(L"hklm\\system\\currentcontrolset\\enum\\" +
                            LowerCase(instance.substr(0, instance.rfind(L'\\'))));
        break;
      }
      case Kind::kInf: {
        const SeededInf& inf = *s.infOf.at(item.line);
        ownedFiles.push_back(LowerCase(inf.path()));
        ownedFiles.push_back(LowerCase(inf.pnf()));
        break;
      }
    }
  }

  std::vector<Change> unexplained;
  for (const Change& change : Diff(before, now, ShellStartupKeys(footprint_, before))) {
    bool explained = false;
    if (change.isFile) {
      for (const std::wstring& root : ownedFiles) explained = explained || Under(change.path, root);
    } else {
      for (const std::wstring& root : ownedKeys) explained = explained || Under(change.path, root);
      for (const auto& [key, name] : ownedValues)
        explained = explained || (change.isValue && change.path == key && change.valueName == name);
    }
    if (!explained) unexplained.push_back(change);
  }
  return unexplained;
}

std::vector<std::string> Bench::Check(const Snapshot& before, const Snapshot& after) const {
  std::vector<std::string> failures;
  for (const Verdict& verdict : Judge(before, after))
    if (!verdict.failure.empty()) failures.push_back(verdict.failure);
  for (const Change& change : Unexplained(before, after))
    failures.push_back("outside the footprint: " + change.Describe());
  return failures;
}

std::vector<std::string> Bench::CheckBack(const Snapshot& before, const Snapshot& now) const {
  std::vector<std::string> failures;
  for (const Verdict& v : Judge(before, now, false)) {
    const bool cannotComeBack = v.item->kind == Kind::kProcess || v.item->kind == Kind::kDevice;
    if (v.expect == Expect::kIntact && !v.failure.empty()) failures.push_back(v.failure);
    if (v.expect == Expect::kGone && !v.intact && !cannotComeBack)
      failures.push_back(v.item->Describe() + ": target not back");
  }
  return failures;
}

std::vector<std::string> Bench::CheckContents() const {
  std::vector<std::string> failures;
  kyd::machine::journal::NativePaths native(true);  // the folders as they are on disk
  for (const Item& item : footprint_.items) {
    if (item.kind != Kind::kFile || ExpectFor(item, Is64BitPrefix(), keepDevice_, nativeSystem_) == Expect::kNotSeeded)
      continue;
    const std::wstring path = ResolveFolder(item.where);
    std::string seeded = item.data.empty() ? "footprint " + item.Describe() : ToNarrow(item.data);
    if (auto loaded = state_->seededBytes.find(item.line); loaded != state_->seededBytes.end()) seeded = loaded->second;
    if (FileExists(path) && ReadFileBytes(path) != seeded) failures.push_back(item.Describe() + ": other bytes");
  }
  return failures;
}

}  // namespace kydtest::fp
