// footprint_demo FOOTPRINT WORKDIR: the story scripts/demo.sh tells, told on
// the prefix it runs in. A vendor's footprint is seeded by the footprint
// bench (its display driver's traces, other vendors' and Windows' look-alikes
// beside them); drvuninst lists the device, plans its uninstall, uninstalls
// it with a journal and restores the journal; after the uninstall and after
// the restore a table says what became of the footprint's targets and
// decoys, measured on snapshots of the whole registry and system drive.
//
// WORKDIR belongs on the simulated machine (inside the test area, which the
// snapshots leave out), where the library trusts the journal's folders. The
// plan and the journal stay in WORKDIR\plan and WORKDIR\journal (made by
// drvuninst); the uninstall's whole output and its exit code are written to
// WORKDIR\uninstall-output.txt and WORKDIR\uninstall-exit-code, and the steps
// that went wrong, one line each ("the restore: 2 targets not back"), to
// WORKDIR\failed-steps.txt. Exit code 0 when every target went, every decoy
// stayed, nothing else changed and the restore put back all that can come
// back; 1 when not; 2 when the demo could not be set up.
#include <windows.h>

#include <cstdio>
#include <functional>
#include <string>
#include <vector>

#include "support/footprint.h"
#include "support/footprint_host.h"
#include "support/wine_bench.h"

namespace {

using namespace kydtest;

// The footprint's kinds of items, in the order of fp::Kind, as table rows.
const char* const kRows[] = {"registry keys", "registry values", "files",   "folders",
                             "services",      "processes",       "devices", "driver packages (INF)"};
constexpr int kKinds = 8;
constexpr size_t kPlanLinesShown = 12;

void Say(const std::string& text) {
  std::fputs(text.c_str(), stdout);
  std::fflush(stdout);
}

void Heading(const std::string& text) { Say("\n== " + text + "\n"); }

// drvuninst's output, a line at a time, each line to `keep` as it comes.
class LineFilter {
 public:
  explicit LineFilter(std::function<void(const std::string&)> keep) : keep_(std::move(keep)) {}
  void operator()(const std::string& piece) {
    partial_ += piece;
    for (size_t end; (end = partial_.find('\n')) != std::string::npos; partial_.erase(0, end + 1)) {
      std::string line = partial_.substr(0, end);
      if (!line.empty() && line.back() == '\r') line.pop_back();
      keep_(line);
    }
  }

 private:
  std::function<void(const std::string&)> keep_;
  std::string partial_;
};

// The cleaner tries every file of the vendor's list in the system folders
// and logs two lines for each one this machine does not have; a run of such
// lines is shown as one (the whole output is kept in the work folder).
class MissingFiles {
 public:
  // False when the line is not one of them: it is shown, after the lines
  // held back so far.
  bool Take(const std::string& line) {
    const bool missing = line.find("] delete file(") != std::string::npos ||
                         (line.find("] delete file ") != std::string::npos && line.size() > 7 &&
                          line.compare(line.size() - 7, 7, " failed") == 0);
    if (missing) {
      held_.push_back(line);
      return true;
    }
    if (held_.size() > 4) {
      Say("[... " + std::to_string(held_.size()) + " log lines \"delete file(...)\" and \"delete file ... failed\": " +
          "files of the vendor's list this machine does not have]\n");
    } else {
      for (const std::string& held : held_) Say(held + "\n");
    }
    held_.clear();
    return false;
  }

 private:
  std::vector<std::string> held_;
};

std::string Count(int done, int of) { return std::to_string(done) + " of " + std::to_string(of); }

std::string Pad(const std::string& text, size_t width) {
  return text.size() >= width ? text + " " : text + std::string(width - text.size(), ' ');
}

std::string PadLeft(const std::string& text, size_t width) {
  return text.size() >= width ? " " + text : std::string(width - text.size(), ' ') + text;
}

// Up to `limit` of a list of problems, each on a line of its own.
std::string Listed(const std::vector<std::string>& problems, const char* mark, size_t limit = 10) {
  std::string text;
  for (size_t i = 0; i < problems.size() && i < limit; ++i)
    text += std::string("    ") + mark + ": " + problems[i] + "\n";
  if (problems.size() > limit) text += "    ... and " + std::to_string(problems.size() - limit) + " more\n";
  return text;
}

// Every item of the footprint that is not as it should be is named.
constexpr size_t kEveryItem = static_cast<size_t>(-1);

struct Tally {
  int targets[kKinds] = {}, gone[kKinds] = {}, back[kKinds] = {};
  int decoys[kKinds] = {}, intact[kKinds] = {};
  std::vector<std::string> failures;
};

Tally TallyOf(const std::vector<fp::Verdict>& verdicts) {
  Tally t;
  for (const fp::Verdict& v : verdicts) {
    const int kind = static_cast<int>(v.item->kind);
    if (v.expect == fp::Expect::kGone) {
      ++t.targets[kind];
      t.gone[kind] += v.gone;
      t.back[kind] += v.intact;
    } else if (v.expect == fp::Expect::kIntact) {
      ++t.decoys[kind];
      t.intact[kind] += v.intact;
    }
    if (!v.failure.empty()) t.failures.push_back(v.failure);
  }
  return t;
}

int Sum(const int (&values)[kKinds]) {
  int sum = 0;
  for (int v : values) sum += v;
  return sum;
}

// After the uninstall: targets removed, decoys intact, by kind.
std::string RunTable(const Tally& t) {
  std::string text = "  " + Pad("", 24) + PadLeft("targets removed", 16) + PadLeft("decoys intact", 16) + "\n";
  for (int k = 0; k < kKinds; ++k) {
    if (t.targets[k] == 0 && t.decoys[k] == 0) continue;
    text += "  " + Pad(kRows[k], 24) + PadLeft(t.targets[k] ? Count(t.gone[k], t.targets[k]) : "-", 16) +
            PadLeft(t.decoys[k] ? Count(t.intact[k], t.decoys[k]) : "-", 16) + "\n";
  }
  return text + "  " + Pad("all", 24) + PadLeft(Count(Sum(t.gone), Sum(t.targets)), 16) +
         PadLeft(Count(Sum(t.intact), Sum(t.decoys)), 16) + "\n";
}

// After the restore: targets back as they were before the uninstall, by kind.
std::string RestoreTable(const Tally& t) {
  std::string text = "  " + Pad("", 24) + PadLeft("targets back", 16) + "   cannot come back\n";
  for (int k = 0; k < kKinds; ++k) {
    if (t.targets[k] == 0) continue;
    const int missing = t.targets[k] - t.back[k];
    std::string note;
    if (missing && k == static_cast<int>(fp::Kind::kProcess))
      note = std::to_string(missing) + " ended: start them again";
    if (missing && k == static_cast<int>(fp::Kind::kDevice))
      note = std::to_string(missing) + " removed: back when Windows detects it";
    text += "  " + Pad(kRows[k], 24) + PadLeft(Count(t.back[k], t.targets[k]), 16) + (note.empty() ? "" : "   " + note) +
            "\n";
  }
  return text + "  " + Pad("decoys intact", 24) + PadLeft(Count(Sum(t.intact), Sum(t.decoys)), 16) + "\n";
}

std::string Quote(const std::wstring& text) { return "\"" + ToNarrow(text) + "\""; }

// "2 targets left" for a count that is not zero.
void Counted(std::vector<std::string>& reasons, int count, const std::string& what) {
  if (count > 0) reasons.push_back(std::to_string(count) + " " + what);
}

// The steps that went wrong, each with its reasons: "the restore: 2 targets not back".
class FailedSteps {
 public:
  void Add(const std::string& step, const std::vector<std::string>& reasons) {
    if (reasons.empty()) return;
    std::string line = step + ":";
    for (size_t i = 0; i < reasons.size(); ++i) line += (i ? ", " : " ") + reasons[i];
    lines_ += line + "\n";
  }
  bool none() const { return lines_.empty(); }
  const std::string& text() const { return lines_; }

 private:
  std::string lines_;
};

}  // namespace

int main(int argc, char** argv) {
  if (argc < 3) {
    std::fprintf(stderr, "usage: footprint_demo FOOTPRINT WORKDIR\n");
    return 2;
  }
  const std::wstring footprintPath = ToWide(argv[1]), work = ToWide(argv[2]);
  const std::wstring planFolder = work + L"\\plan", journalFolder = work + L"\\journal";
  TestArea();  // made as the library makes its folders, when WORKDIR is in it
  CreateDirectoryW(work.c_str(), nullptr);
  fp::Footprint footprint;
  std::string error;
  if (!fp::LoadFootprint(footprintPath, footprint, error)) {
    std::fprintf(stderr, "footprint_demo: %s\n", error.c_str());
    return 2;
  }
  fp::Bench bench(footprint, false);
  if (!bench.Seed(error)) {
    std::fprintf(stderr, "footprint_demo: seeding: %s\n", error.c_str());
    return 2;
  }
  fp::FootprintHost host(bench.Accounts());
  if (!host.ready()) {
    std::fprintf(stderr, "footprint_demo: the host folder could not be staged\n");
    return 2;
  }
  const std::wstring id = bench.hardwareId(), guid = bench.classGuid();
  const std::vector<std::wstring> volatileKeys = bench.VolatileKeys();
  const fp::Snapshot before = fp::TakeSnapshot(volatileKeys);
  const std::vector<std::wstring> shellKeys = fp::ShellStartupKeys(footprint, before);
  const Tally seeded = TallyOf(bench.Judge(before, before, false));
  Say("seeded: " + ToNarrow(footprintPath.substr(footprintPath.find_last_of(L"\\/") + 1)) + "\n  " +
      std::to_string(Sum(seeded.targets)) +
      " traces of the vendor's driver and software (targets), " + std::to_string(Sum(seeded.decoys)) +
      " look-alikes of other vendors and of Windows (decoys)\n  the device: " + ToNarrow(id) + "\n");

  Heading("drvuninst list --class " + ToNarrow(guid));
  Say(host.Cli(L"list --class " + guid).output);

  Heading("drvuninst uninstall " + Quote(id) + " " + ToNarrow(guid) + " --plan --journal " + Quote(planFolder));
  size_t planLines = 0;
  bool inPlan = false;
  LineFilter plan([&](const std::string& line) {
    if (inPlan && line.rfind("Planned result: ", 0) != 0) {
      if (line.rfind("# ", 0) != 0 && ++planLines <= kPlanLinesShown) Say(line + "\n");
      return;
    }
    if (inPlan && planLines > kPlanLinesShown)
      Say("... " + std::to_string(planLines - kPlanLinesShown) + " more changes: the whole plan is " +
          ToNarrow(planFolder) + "\\manifest.txt\n");
    inPlan = line == "---- plan ----";
    Say(line + "\n");
  });
  ProcessResult planned = host.Uninstall(id, guid, false, L" --plan --journal \"" + planFolder + L"\"", plan);

  Heading("drvuninst uninstall " + Quote(id) + " " + ToNarrow(guid) + " --journal " + Quote(journalFolder) +
          " --log");
  bool inJournal = false;
  MissingFiles missing;
  LineFilter journal([&](const std::string& line) {
    if (missing.Take(line)) return;
    if (line == "---- journal ----") {
      inJournal = true;
      Say("(the journal: " + ToNarrow(journalFolder) + "\\manifest.txt, with what each change destroyed)\n");
    }
    if (line.rfind("Result: ", 0) == 0) inJournal = false;
    if (!inJournal) Say(line + "\n");
  });
  ProcessResult run = host.Uninstall(id, guid, false, L" --journal \"" + journalFolder + L"\" --log", journal);
  WriteFileBytes(work + L"\\uninstall-output.txt", run.output);
  const fp::Snapshot after = fp::TakeSnapshot(volatileKeys);
  Say("drvuninst exit code: " + std::to_string(run.exitCode) + "\n");
  WriteFileBytes(work + L"\\uninstall-exit-code", std::to_string(run.exitCode));

  Heading("the machine after the uninstall, against the footprint");
  const Tally removed = TallyOf(bench.Judge(before, after));
  std::vector<std::string> elsewhere;
  for (const fp::Change& change : bench.Unexplained(before, after)) elsewhere.push_back(change.Describe());
  const std::vector<std::wstring> deviceKeys = bench.DeviceKeys(before);
  const std::vector<std::string> planDiffers =
      fp::ComparePlan(planFolder, before, after, deviceKeys, shellKeys, journalFolder);
  // Files another program holds: still there, and due at the next restart.
  std::string inUse;
  const std::vector<std::string> pendingWrong = bench.HasFilesInUse() ? bench.CheckPending() : std::vector<std::string>{};
  for (const fp::Item& item : footprint.items)
    if (item.option.rfind(L"inuse:", 0) == 0 && fp::ExpectFor(item, Is64BitPrefix(), false) == fp::Expect::kGone)
      inUse += "    " + ToNarrow(item.where) + (item.option == L"inuse:loaded" ? " (loaded" : " (held open") +
               " by another program): going at the next restart\n";
  if (!inUse.empty()) inUse = "  targets in use, counted as removed:\n" + inUse;
  Say(RunTable(removed) + inUse + Listed(pendingWrong, "NOT AS EXPECTED") +
      Listed(removed.failures, "NOT AS EXPECTED", kEveryItem) +
      "  anything else changed: " +
      (elsewhere.empty() ? "none\n" : std::to_string(elsewhere.size()) + "\n" + Listed(elsewhere, "CHANGED")) +
      "  the plan named what the uninstall changed: " +
      (planDiffers.empty() ? "every change, and no other\n" : "NO\n" + Listed(planDiffers, "DIFFERS")));

  Heading("drvuninst restore " + Quote(journalFolder));
  ProcessResult restore = host.Restore(journalFolder, LineFilter([](const std::string& line) { Say(line + "\n"); }));

  Heading("the machine after the restore, against the machine before the uninstall");
  const fp::Snapshot back = fp::TakeSnapshot(volatileKeys);
  const Tally restored = TallyOf(bench.Judge(before, back, false));
  // Each decoy touched and each target not back, by name.
  const std::vector<std::string> notBack = bench.CheckBack(before, back);
  const std::vector<std::string> differs = fp::CheckRestored(journalFolder, before, back, deviceKeys, shellKeys);
  Say(RestoreTable(restored) + Listed(notBack, "NOT AS BEFORE", kEveryItem) +
      "  anything else different from before the uninstall: " +
      (differs.empty() ? "none\n" : std::to_string(differs.size()) + "\n" + Listed(differs, "DIFFERENT")));

  FailedSteps failed;
  std::vector<std::string> reasons;
  if (!planned.started) reasons.push_back("drvuninst did not run");
  Counted(reasons, static_cast<int>(planDiffers.size()), "differences from what the uninstall changed");
  failed.Add("the plan", reasons);
  reasons.clear();
  if (!run.started) reasons.push_back("drvuninst did not run");
  Counted(reasons, Sum(removed.decoys) - Sum(removed.intact), "decoys touched");
  Counted(reasons, static_cast<int>(removed.failures.size()) - (Sum(removed.decoys) - Sum(removed.intact)),
          "targets not as expected");
  Counted(reasons, static_cast<int>(pendingWrong.size()), "deletions at the next restart not as expected");
  Counted(reasons, static_cast<int>(elsewhere.size()), "other changes to the machine");
  failed.Add("the uninstall", reasons);
  reasons.clear();
  if (!restore.started) reasons.push_back("drvuninst did not run");
  Counted(reasons, Sum(restored.decoys) - Sum(restored.intact), "decoys touched");
  Counted(reasons, static_cast<int>(notBack.size()) - (Sum(restored.decoys) - Sum(restored.intact)),
          "targets not back");
  Counted(reasons, static_cast<int>(differs.size()), "differences from before the uninstall");
  failed.Add("the restore", reasons);
  WriteFileBytes(work + L"\\failed-steps.txt", failed.text());

  const bool decoysIntact = Sum(removed.intact) == Sum(removed.decoys) && Sum(restored.intact) == Sum(restored.decoys);
  if (!decoysIntact) Say("\nDEMO FAILED: A DECOY WAS TOUCHED (named above)\n");
  else if (!failed.none()) Say("\nDEMO FAILED: see the lines in capitals above\n");
  return failed.none() ? 0 : 1;
}
