// Registry keys by identity ("HKLM\SOFTWARE\CLASSES\CLSID\{...}"), each with
// what is known of it; private to machine/ (the run's reads keep theirs in
// one).
//
// A run looks several keys up for each read, in a table of some hundred
// thousand, so the table is open: linear probing over slots that hold each
// name's hash beside its node, and each node holds its name right after
// itself. A lookup touches one run of slots and the one node it finds.
//
// A key is held with every key above it (those hold a default Entry until
// told otherwise), and each held key knows the held keys right below it, so
// that a key goes with everything below it in one step.
#pragma once

#include <algorithm>
#include <cstddef>
#include <functional>
#include <new>
#include <string_view>
#include <utility>
#include <vector>

namespace kyd::machine {

inline std::wstring_view ParentOf(std::wstring_view id) {
  const size_t slash = id.rfind(L'\\');
  return slash == std::wstring_view::npos ? std::wstring_view() : id.substr(0, slash);
}

inline std::wstring_view LastOf(std::wstring_view id) {
  const size_t slash = id.rfind(L'\\');
  return slash == std::wstring_view::npos ? id : id.substr(slash + 1);
}

template <typename Entry>
class KeyTable {
 public:
  // The table starts with firstSlots slots (a power of two) and doubles.
  explicit KeyTable(size_t firstSlots = 1024) : firstSlots_(firstSlots) {}
  KeyTable(const KeyTable&) = delete;
  KeyTable& operator=(const KeyTable&) = delete;
  ~KeyTable() { Clear(); }

  size_t size() const { return count_; }

  Entry* Find(std::wstring_view id) const {
    Node* node = Lookup(id, Hash(id));
    return node ? &node->entry : nullptr;
  }
  // The key's entry and the entry of the key above it, each null when not
  // held.
  std::pair<Entry*, Entry*> FindWithParent(std::wstring_view id) const {
    if (Node* node = Lookup(id, Hash(id))) return {&node->entry, node->up ? &node->up->entry : nullptr};
    const std::wstring_view parent = ParentOf(id);
    return {nullptr, parent.empty() ? nullptr : Find(parent)};
  }
  // The key's entry, made when not held.
  Entry& operator[](std::wstring_view id) { return NodeOf(id).entry; }
  // The same, with the entry of the key above it (null for a root).
  std::pair<Entry*, Entry*> WithParent(std::wstring_view id) {
    Node& node = NodeOf(id);
    return {&node.entry, node.up ? &node.up->entry : nullptr};
  }
  // What the key holds is forgotten; the keys below it stay.
  void Erase(std::wstring_view id) {
    if (Entry* entry = Find(id)) *entry = Entry();
  }
  // The key and everything below it.
  void EraseTree(std::wstring_view id) {
    Node* node = Lookup(id, Hash(id));
    if (!node) return;
    if (node->up) std::erase(node->up->below, node);
    Drop(node);
  }
  void Clear() {
    for (Slot& slot : slots_)
      if (slot.node) Free(slot.node);
    slots_.clear();
    count_ = 0;
  }

 private:
  struct Node {
    Entry entry;
    Node* up = nullptr;        // the key above, held as long as this one is
    std::vector<Node*> below;  // the held keys right below
    size_t hash = 0;
    size_t length = 0;         // of the name, which follows the node
    wchar_t* Chars() { return reinterpret_cast<wchar_t*>(this + 1); }
    std::wstring_view Name() const { return {reinterpret_cast<const wchar_t*>(this + 1), length}; }
  };
  static_assert(sizeof(Node) % alignof(wchar_t) == 0);
  struct Slot {
    size_t hash = 0;
    Node* node = nullptr;  // null: free
  };

  static size_t Hash(std::wstring_view id) { return std::hash<std::wstring_view>()(id); }
  size_t Mask() const { return slots_.size() - 1; }

  static Node* Make(std::wstring_view id, size_t hash) {
    void* memory = ::operator new(sizeof(Node) + id.size() * sizeof(wchar_t));
    Node* node;
    try {
      node = new (memory) Node();
    } catch (...) {
      ::operator delete(memory);
      throw;
    }
    std::copy(id.begin(), id.end(), node->Chars());
    node->length = id.size();
    node->hash = hash;
    return node;
  }
  static void Free(Node* node) {
    node->~Node();
    ::operator delete(node);
  }

  Node* Lookup(std::wstring_view id, size_t hash) const {
    if (slots_.empty()) return nullptr;
    for (size_t i = hash & Mask();; i = (i + 1) & Mask()) {
      const Slot& slot = slots_[i];
      if (!slot.node) return nullptr;
      if (slot.hash == hash && slot.node->Name() == id) return slot.node;
    }
  }
  void Place(Node* node) {
    size_t i = node->hash & Mask();
    while (slots_[i].node) i = (i + 1) & Mask();
    slots_[i] = {node->hash, node};
  }
  Node& NodeOf(std::wstring_view id) {
    const size_t hash = Hash(id);
    if (Node* held = Lookup(id, hash)) return *held;
    const std::wstring_view parent = ParentOf(id);
    Node* above = parent.empty() ? nullptr : &NodeOf(parent);
    if ((count_ + 1) * 4 > slots_.size() * 3) Grow();
    // Room below the parent first, so that nothing fails once the node is
    // made; grown by doubling, as a key may have many thousands below it.
    if (above && above->below.size() == above->below.capacity()) above->below.reserve(2 * above->below.size() + 4);
    Node* node = Make(id, hash);
    node->up = above;
    if (above) above->below.push_back(node);
    Place(node);
    ++count_;
    return *node;
  }
  void Grow() {
    std::vector<Slot> old(slots_.empty() ? firstSlots_ : slots_.size() * 2);
    old.swap(slots_);
    for (const Slot& slot : old)
      if (slot.node) Place(slot.node);
  }
  // Takes the node's slot out. The slots after it, up to the next free
  // one, close up behind it: one moves back into the gap when its home slot
  // is not between the gap and itself, so every node stays reachable by
  // probing from its home.
  void Unplace(const Node* node) {
    size_t gap = node->hash & Mask();
    while (slots_[gap].node != node) gap = (gap + 1) & Mask();
    for (size_t j = (gap + 1) & Mask(); slots_[j].node; j = (j + 1) & Mask()) {
      const size_t home = slots_[j].hash & Mask();
      const bool between = gap < j ? (home > gap && home <= j) : (home > gap || home <= j);
      if (between) continue;
      slots_[gap] = slots_[j];
      gap = j;
    }
    slots_[gap] = Slot();
  }
  void Drop(Node* node) {
    for (Node* below : node->below) Drop(below);
    Unplace(node);
    --count_;
    Free(node);
  }

  const size_t firstSlots_;
  std::vector<Slot> slots_;  // a power of two, never more than three quarters full
  size_t count_ = 0;
};

}  // namespace kyd::machine
