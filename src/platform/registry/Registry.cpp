#include "platform/registry/Registry.h"

#include "platform/registry/HiveFile.h"

namespace sdm {

using namespace hive;

bool TRegistry::OpenKey(const std::string& key, bool canCreate) {
  CloseKey();
  std::vector<std::string> parts;
  if (!SplitKeyPath(key, parts)) return false;
  const std::string path = JoinPath(parts);
  bool ok;
  if (canCreate) {
    ok = Modify(root_, [&](Node& root, bool& changed) {
      Node* n = &root;
      for (const auto& p : parts) {
        Node* c = n->Child(p);
        if (!c) {
          c = n->AddChild(p);
          changed = true;
        }
        n = c;
      }
      return true;
    });
  } else {
    ok = KeyExists(path);
  }
  if (ok) {
    open_ = true;
    readOnly_ = false;
    path_ = path;
  }
  return ok;
}

bool TRegistry::OpenKeyReadOnly(const std::string& key) {
  CloseKey();
  std::vector<std::string> parts;
  if (!SplitKeyPath(key, parts) || !KeyExists(key)) return false;
  open_ = true;
  readOnly_ = true;
  path_ = JoinPath(parts);
  return true;
}

void TRegistry::CloseKey() {
  open_ = false;
  readOnly_ = false;
  path_.clear();
}

bool TRegistry::KeyExists(const std::string& key) const {
  return Read(root_, [&](Node& root) { return Find(root, key) != nullptr; });
}

bool TRegistry::DeleteKey(const std::string& key) {
  std::vector<std::string> parts;
  if (!SplitKeyPath(key, parts) || parts.empty()) return false;  // the root itself stays
  return Modify(root_, [&](Node& root, bool& changed) {
    std::vector<std::string> parent(parts.begin(), parts.end() - 1);
    Node* p = Find(root, JoinPath(parent));
    if (!p || !p->Child(parts.back())) return false;
    p->subkeys.erase(Lower(parts.back()));
    changed = true;
    return true;
  });
}

bool TRegistry::ValueExists(const std::string& name) const { return GetDataType(name) != REG_NONE; }

TRegDataType TRegistry::GetDataType(const std::string& name) const {
  if (!open_) return REG_NONE;
  return Read(root_, [&](Node& root) {
    Node* n = Find(root, path_);
    TRegValueInfo* v = n ? n->FindValue(name) : nullptr;
    return v ? v->type : REG_NONE;
  });
}

std::optional<std::string> TRegistry::ReadString(const std::string& name) const {
  if (!open_) return std::nullopt;
  return Read(root_, [&](Node& root) -> std::optional<std::string> {
    Node* n = Find(root, path_);
    TRegValueInfo* v = n ? n->FindValue(name) : nullptr;
    if (!v || v->type != REG_SZ) return std::nullopt;
    return v->text;
  });
}

std::optional<uint32_t> TRegistry::ReadInteger(const std::string& name) const {
  if (!open_) return std::nullopt;
  return Read(root_, [&](Node& root) -> std::optional<uint32_t> {
    Node* n = Find(root, path_);
    TRegValueInfo* v = n ? n->FindValue(name) : nullptr;
    if (!v || v->type != REG_DWORD) return std::nullopt;
    return v->number;
  });
}

namespace {

bool NameFits(const std::string& name) {
  for (unsigned char c : name)
    if (c < 0x20) return false;
  return true;
}

// Writes the values into the key at path in one change of the hive. A value
// whose name no hive line can hold is left out and makes the result false.
bool StoreValues(TRootKey rootKey, const std::string& path, const std::vector<TRegValueInfo>& values) {
  bool allFit = true;
  const bool written = Modify(rootKey, [&](Node& root, bool& changed) {
    Node* n = Find(root, path);
    if (!n) return false;  // the key was deleted since it was opened
    for (const TRegValueInfo& value : values) {
      if (!NameFits(value.name)) {
        allFit = false;
        continue;
      }
      TRegValueInfo* v = n->FindValue(value.name);
      if (v && v->type == value.type && v->text == value.text && v->number == value.number) continue;
      if (v) {
        v->type = value.type;
        v->text = value.text;
        v->number = value.number;
      } else {
        n->AddValue(value);
      }
      changed = true;
    }
    return true;
  });
  return written && allFit;
}

}  // namespace

bool TRegistry::WriteString(const std::string& name, const std::string& value) {
  if (!open_ || readOnly_) return false;
  TRegValueInfo v;
  v.name = name;
  v.type = REG_SZ;
  v.text = value;
  return StoreValues(root_, path_, {v});
}

bool TRegistry::WriteInteger(const std::string& name, uint32_t value) {
  if (!open_ || readOnly_) return false;
  TRegValueInfo v;
  v.name = name;
  v.type = REG_DWORD;
  v.number = value;
  return StoreValues(root_, path_, {v});
}

bool TRegistry::WriteValues(const std::vector<TRegValueInfo>& values) {
  if (!open_ || readOnly_) return false;
  return StoreValues(root_, path_, values);
}

bool TRegistry::DeleteValue(const std::string& name) {
  if (!open_ || readOnly_) return false;
  return Modify(root_, [&](Node& root, bool& changed) {
    Node* n = Find(root, path_);
    if (!n) return false;
    if (!n->EraseValue(name)) return false;
    changed = true;
    return true;
  });
}

std::vector<TRegValueInfo> TRegistry::GetValues() const {
  if (!open_) return {};
  return Read(root_, [&](Node& root) {
    Node* n = Find(root, path_);
    return n ? n->values : std::vector<TRegValueInfo>{};
  });
}

std::vector<std::string> TRegistry::GetValueNames() const {
  std::vector<std::string> r;
  for (const auto& v : GetValues()) r.push_back(v.name);
  return r;
}

std::vector<std::string> TRegistry::GetKeyNames() const {
  if (!open_) return {};
  return Read(root_, [&](Node& root) {
    std::vector<std::string> r;
    if (Node* n = Find(root, path_))
      for (const auto& [lower, child] : n->subkeys) r.push_back(child->name);
    return r;
  });
}

bool TRegistry::HasSubKeys() const { return !GetKeyNames().empty(); }

}  // namespace sdm
