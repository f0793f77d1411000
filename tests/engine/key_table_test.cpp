// The run's table of keys against a plain model: random keys made, looked up,
// forgotten, and dropped with everything below them, in numbers that make
// the table grow several times and its probe runs wrap past its end.
#include <gtest/gtest.h>

#include <map>
#include <random>
#include <string>

#include "machine/key_table.h"

namespace {

using kyd::machine::KeyTable;

struct Mark {
  int value = 0;
};

// Every held key with its mark; a key is held with every key above it.
class Model {
 public:
  void Make(const std::wstring& id) {
    for (size_t slash = id.find(L'\\'); slash != std::wstring::npos; slash = id.find(L'\\', slash + 1))
      keys_.emplace(id.substr(0, slash), 0);
    keys_.emplace(id, 0);
  }
  void EraseTree(const std::wstring& id) {
    keys_.erase(id);
    const std::wstring below = id + L"\\";
    for (auto it = keys_.lower_bound(below); it != keys_.end() && it->first.starts_with(below);) it = keys_.erase(it);
  }
  std::map<std::wstring, int>& keys() { return keys_; }

 private:
  std::map<std::wstring, int> keys_;
};

// How a run of random steps uses the table.
struct Churn {
  const char* what;
  size_t firstSlots;   // the table's
  unsigned names;      // on each level of keys
  unsigned levels;     // of keys below a round's own key
  int rounds;          // each with keys of its own
  int steps;           // in each round
};

const Churn kChurns[] = {
    // Grows to some thousands of keys, from the table's usual start.
    {"many keys", 1024, 24, 4, 2, 30000},
    // Stays within a few dozen slots, so that probe runs wrap past the end
    // and removals close up runs that wrap.
    {"few keys", 4, 6, 2, 100, 600},
};

// A key one to `levels` steps below the round's key, at least `depth` steps
// down.
std::wstring RandomId(std::mt19937& rng, const Churn& churn, int round, unsigned depth = 1) {
  std::wstring id = L"HKLM\\R" + std::to_wstring(round);
  for (unsigned steps = depth + rng() % (churn.levels + 1 - depth); steps > 0; --steps)
    id += L"\\K" + std::to_wstring(rng() % churn.names);
  return id;
}

TEST(KeyTable, AgreesWithAPlainModel) {
  for (const Churn& churn : kChurns) {
    SCOPED_TRACE(churn.what);
    std::mt19937 rng(20261209);
    KeyTable<Mark> table(churn.firstSlots);
    Model model;
    auto expectSame = [&](const std::wstring& id) {
      const auto held = model.keys().find(id);
      Mark* found = table.Find(id);
      ASSERT_EQ(found != nullptr, held != model.keys().end()) << "key " << testing::PrintToString(id);
      if (found) {
        EXPECT_EQ(found->value, held->second) << "key " << testing::PrintToString(id);
      }
    };
    // Each round the table fills while deep branches go now and then; then
    // whole branches go until few keys are left; then everything goes.
    for (int step = 1; step <= churn.rounds * churn.steps; ++step) {
      const int round = (step - 1) / churn.steps;
      const bool shrinking = step % churn.steps > churn.steps * 4 / 5;
      const unsigned op = rng() % 20, drops = shrinking ? 10 : 1;
      if (op < drops) {  // dropped with everything below it
        const std::wstring id = RandomId(rng, churn, round, shrinking ? 1 : churn.levels);
        table.EraseTree(id);
        model.EraseTree(id);
      } else if (op < drops + 1) {  // forgotten, the keys below it kept
        const std::wstring id = RandomId(rng, churn, round);
        table.Erase(id);
        if (auto it = model.keys().find(id); it != model.keys().end()) it->second = 0;
      } else if (op < drops + 4) {
        expectSame(RandomId(rng, churn, round));
      } else {  // made (with the keys above it) and marked
        const std::wstring id = RandomId(rng, churn, round);
        auto [entry, parent] = table.WithParent(id);
        model.Make(id);
        entry->value = step;
        model.keys()[id] = step;
        ASSERT_NE(parent, nullptr);
        ASSERT_EQ(parent, table.Find(kyd::machine::ParentOf(id)));
      }
      if (step % churn.steps == 0) {
        ASSERT_EQ(table.size(), model.keys().size());
        for (const auto& [id, value] : model.keys()) expectSame(id);
        table.Clear();
        model.keys().clear();
      }
    }
    EXPECT_EQ(table.Find(L"HKLM"), nullptr);
  }
}

}  // namespace
