// The demo's story (tests/bench/footprint_demo.cpp, which scripts/demo.sh
// runs) on the Intel footprint, end to end: its tables must count what the
// footprint file says of the run, kind by kind.
#include <gtest/gtest.h>

#include <algorithm>
#include <sstream>

#include "support/footprint.h"
#include "support/wine_bench.h"

namespace {

using namespace kydtest;

const char* const kRows[] = {"registry keys", "registry values", "files",   "folders",
                             "services",      "processes",       "devices", "driver packages (INF)"};

// The text from the line `heading` to the next heading ("== ...").
std::string Section(const std::string& output, const std::string& heading) {
  size_t at = output.find("\n== " + heading);
  if (at == std::string::npos) return {};
  size_t end = output.find("\n== ", at + 1);
  return output.substr(at, end == std::string::npos ? std::string::npos : end - at);
}

// The cells after a row's label, as words ("3 of 3" stays one cell).
std::vector<std::string> Cells(const std::string& section, const std::string& label) {
  std::istringstream lines(section);
  std::string line;
  while (std::getline(lines, line)) {
    if (line.rfind("  " + label + "  ", 0) != 0) continue;
    std::vector<std::string> cells;
    std::istringstream words(line.substr(label.size() + 2));
    for (std::string word; words >> word;) {
      if (word == "of" && !cells.empty() && words >> word) cells.back() += " of " + word;
      else cells.push_back(word);
    }
    return cells;
  }
  return {};
}

// The rows of a drvuninst table of counts ("  registry keys    12").
std::vector<std::string> TableRows(const std::string& output, const std::string& heading) {
  std::vector<std::string> rows;
  size_t at = output.find(heading + "\n");
  if (at == std::string::npos) return rows;
  std::istringstream lines(output.substr(at + heading.size() + 1));
  for (std::string line; std::getline(lines, line) && line.rfind("  ", 0) == 0;) rows.push_back(line);
  return rows;
}

std::string Of(int count) { return std::to_string(count) + " of " + std::to_string(count); }

TEST(FootprintDemoW64, TablesCountTheFootprintsTargetsAndDecoys) {
  const std::wstring file = WinPath(KYD_SOURCE_DIR "/tests/vendors/footprints/intel.fp");
  fp::Footprint footprint;
  std::string error;
  ASSERT_TRUE(fp::LoadFootprint(file, footprint, error)) << error;
  int targets[8] = {}, decoys[8] = {};
  for (const fp::Item& item : footprint.items) {
    const fp::Expect expect = fp::ExpectFor(item, true, false);
    targets[static_cast<int>(item.kind)] += expect == fp::Expect::kGone;
    decoys[static_cast<int>(item.kind)] += expect == fp::Expect::kIntact;
  }

  ScratchDir work(L"demo");
  ProcessResult run = RunProgram(L"\"" + TestExeDir() + L"\\footprint_demo.exe\" \"" + file + L"\" \"" +
                                     work.path() + L"\"",
                                 {}, 500000);
  ASSERT_TRUE(run.started);
  run.output.erase(std::remove(run.output.begin(), run.output.end(), '\r'), run.output.end());
  EXPECT_EQ(run.exitCode, 0u) << run.output;
  EXPECT_EQ(ReadFileBytes(work / L"uninstall-exit-code"), "3010") << "the device was removed: restart";

  // What the plan said would change is what the journaled run changed.
  std::vector<std::string> planned = TableRows(run.output, "The uninstall would change:");
  EXPECT_EQ(planned, TableRows(run.output, "The uninstall changed:")) << run.output;
  // Each device and service of the footprint is one change of the plan.
  const std::string plan = Section(run.output, "drvuninst uninstall");
  for (fp::Kind kind : {fp::Kind::kDevice, fp::Kind::kService}) {
    const int k = static_cast<int>(kind);
    EXPECT_EQ(Cells(plan, kRows[k]), std::vector<std::string>{std::to_string(targets[k])}) << plan;
  }

  const std::string removed = Section(run.output, "the machine after the uninstall");
  const std::string restored = Section(run.output, "the machine after the restore");
  int allTargets = 0, allDecoys = 0;
  for (int k = 0; k < 8; ++k) {
    SCOPED_TRACE(kRows[k]);
    allTargets += targets[k];
    allDecoys += decoys[k];
    std::vector<std::string> expected;
    if (targets[k] || decoys[k])
      expected = {targets[k] ? Of(targets[k]) : "-", decoys[k] ? Of(decoys[k]) : "-"};
    EXPECT_EQ(Cells(removed, kRows[k]), expected) << removed;
    if (!targets[k]) continue;
    // Everything comes back but ended programs and the removed device.
    std::vector<std::string> back = Cells(restored, kRows[k]);
    ASSERT_FALSE(back.empty()) << restored;
    const bool cannot = k == static_cast<int>(fp::Kind::kProcess) || k == static_cast<int>(fp::Kind::kDevice);
    EXPECT_EQ(back[0], cannot ? "0 of " + std::to_string(targets[k]) : Of(targets[k])) << restored;
  }
  EXPECT_EQ(Cells(removed, "all"), (std::vector<std::string>{Of(allTargets), Of(allDecoys)})) << removed;
  EXPECT_EQ(Cells(restored, "decoys intact"), std::vector<std::string>{Of(allDecoys)}) << restored;
  EXPECT_NE(removed.find("  anything else changed: none\n"), std::string::npos) << removed;
  EXPECT_NE(removed.find("  the plan named what the uninstall changed: every change, and no other\n"),
            std::string::npos)
      << removed;
  EXPECT_NE(restored.find("  anything else different from before the uninstall: none\n"), std::string::npos)
      << restored;
}

}  // namespace
