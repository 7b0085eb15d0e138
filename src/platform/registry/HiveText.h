#pragma once
// Inside the registry: the tree of keys and values a hive holds, and its text
// form, parsed from and written to the hive file. Not for use outside this
// folder.
#include <cstddef>
#include <map>
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

#include "platform/registry/Registry.h"

namespace sdm::hive {

// Keys nest no deeper than the Windows registry lets them. A deeper key in a
// file is garbage, and refusing it keeps every walk over the tree shallow.
constexpr size_t kMaxKeyDepth = 512;

// ASCII lower case: key and value names compare without regard to it.
inline std::string Lower(const std::string& s) {
  std::string r = s;
  for (char& c : r)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return r;
}

struct Node {
  std::string name;
  std::vector<TRegValueInfo> values;                     // in the order first written
  std::unordered_map<std::string, size_t> valueIndex;    // lower-case name -> position in values
  std::map<std::string, std::unique_ptr<Node>> subkeys;  // by lower-case name: a stable order

  // Looked up through the index: a key with tens of thousands of values is
  // read in time proportional to its size, not to its square.
  TRegValueInfo* FindValue(const std::string& n) {
    auto it = valueIndex.find(Lower(n));
    return it == valueIndex.end() ? nullptr : &values[it->second];
  }
  void AddValue(const TRegValueInfo& v) {
    valueIndex.emplace(Lower(v.name), values.size());
    values.push_back(v);
  }
  bool EraseValue(const std::string& n) {
    auto it = valueIndex.find(Lower(n));
    if (it == valueIndex.end()) return false;
    values.erase(values.begin() + static_cast<std::ptrdiff_t>(it->second));
    valueIndex.clear();
    for (size_t i = 0; i < values.size(); ++i) valueIndex.emplace(Lower(values[i].name), i);
    return true;
  }
  Node* Child(const std::string& n) {
    auto it = subkeys.find(Lower(n));
    return it == subkeys.end() ? nullptr : it->second.get();
  }
  Node* AddChild(const std::string& n) {
    auto& slot = subkeys[Lower(n)];
    if (!slot) {
      slot = std::make_unique<Node>();
      slot->name = n;
    }
    return slot.get();
  }
};

// Splits "A\B\\C" into {"A","B","C"}; false for names no hive line can hold.
bool SplitPath(const std::string& key, std::vector<std::string>& parts);
// A key path under the root, split; false for a path no key can have.
bool SplitKeyPath(const std::string& key, std::vector<std::string>& parts);
std::string JoinPath(const std::vector<std::string>& parts);
// The key at path under root, or null.
Node* Find(Node& root, const std::string& path);

// The hive's text, keys in the stable order of the tree, each key's section
// before those of its sub-keys; false (and no more text) as soon as the text
// would grow beyond limit.
bool Serialise(const Node& root, const std::string& rootName, size_t limit, std::string& out);
// Parses a whole hive; on failure names the first bad line.
bool Parse(const std::string& text, const std::string& rootName, Node& root, int& badLine);

}  // namespace sdm::hive
