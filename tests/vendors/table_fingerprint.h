// A cleaner's name tables hold every entry in the order the cleaner hands
// them on, repeats kept: each is checked by its count, its number of
// distinct entries and a fingerprint of the whole list (FNV-1a over the
// entries, each followed by a line feed), taken from the lists the tables
// were written from. A dropped, added, moved or mistyped entry changes it.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <initializer_list>
#include <set>
#include <string>

#include "engine/base_drv_uninst.h"

namespace kydtest {

inline uint32_t Fingerprint(kyd::NameList list) {
  uint32_t hash = 2166136261u;
  auto mix = [&](wchar_t c) { hash = (hash ^ static_cast<uint32_t>(c)) * 16777619u; };
  for (const wchar_t* entry : list) {
    for (const wchar_t* c = entry; *c; ++c) mix(*c);
    mix(L'\n');
  }
  return hash;
}

struct ExpectedTable {
  const char* name;
  kyd::NameList list;
  int count;
  size_t distinct;
  uint32_t fingerprint;
};

inline void ExpectTables(std::initializer_list<ExpectedTable> tables) {
  for (const ExpectedTable& table : tables) {
    SCOPED_TRACE(table.name);
    ASSERT_EQ(table.list.count(), table.count);
    std::set<std::wstring> distinct;
    for (const wchar_t* entry : table.list) {
      ASSERT_NE(entry, nullptr);
      distinct.insert(entry);
    }
    EXPECT_EQ(distinct.size(), table.distinct);
    EXPECT_EQ(Fingerprint(table.list), table.fingerprint);
  }
}

}  // namespace kydtest
