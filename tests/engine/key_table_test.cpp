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
using Model = std::map<std::wstring, int>;  // every held key with its mark

// Held with every key above it, as the table holds a key.
void Make(Model& model, const std::wstring& id) {
  for (size_t slash = id.find(L'\\'); slash != std::wstring::npos; slash = id.find(L'\\', slash + 1))
    model.emplace(id.substr(0, slash), 0);
  model.emplace(id, 0);
}

void EraseTree(Model& model, const std::wstring& id) {
  model.erase(id);
  const std::wstring below = id + L"\\";
  for (auto it = model.lower_bound(below); it != model.end() && it->first.starts_with(below);) it = model.erase(it);
}

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
    KeyTable<int> table(churn.firstSlots);
    Model model;
    auto expectSame = [&](const std::wstring& id) {
      const auto held = model.find(id);
      const int* found = table.Find(id);
      ASSERT_EQ(found != nullptr, held != model.end()) << "key " << testing::PrintToString(id);
      if (found) {
        EXPECT_EQ(*found, held->second) << "key " << testing::PrintToString(id);
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
        EraseTree(model, id);
      } else if (op < drops + 1) {  // forgotten, the keys below it kept
        const std::wstring id = RandomId(rng, churn, round);
        table.Erase(id);
        if (auto it = model.find(id); it != model.end()) it->second = 0;
      } else if (op < drops + 4) {
        expectSame(RandomId(rng, churn, round));
      } else {  // made (with the keys above it) and marked
        const std::wstring id = RandomId(rng, churn, round);
        auto [entry, parent] = table.WithParent(id);
        Make(model, id);
        *entry = model[id] = step;
        ASSERT_NE(parent, nullptr);
        ASSERT_EQ(parent, table.Find(kyd::machine::ParentOf(id)));
      }
      if (step % churn.steps == 0) {
        ASSERT_EQ(table.size(), model.size());
        for (const auto& [id, value] : model) expectSame(id);
        table.Clear();
        model.clear();
      }
    }
    EXPECT_EQ(table.Find(L"HKLM"), nullptr);
  }
}

}  // namespace
