#include "platform/registry/HiveText.h"

#include <cstdio>
#include <string_view>

namespace sdm::hive {

namespace {

constexpr const char* kHeader = "Slidomat registry hive 1";

std::string Quote(const std::string& s) {
  std::string r = "\"";
  for (unsigned char c : s) {
    switch (c) {
      case '\\': r += "\\\\"; break;
      case '"': r += "\\\""; break;
      case '\n': r += "\\n"; break;
      case '\r': r += "\\r"; break;
      case '\t': r += "\\t"; break;
      default:
        if (c < 0x20 || c == 0x7F) {
          char buf[8];
          std::snprintf(buf, sizeof buf, "\\x%02x", c);
          r += buf;
        } else {
          r += static_cast<char>(c);
        }
    }
  }
  return r + "\"";
}

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// Reads a quoted string starting at line[pos] == '"'; pos ends after the quote.
bool Unquote(std::string_view line, size_t& pos, std::string& out) {
  out.clear();
  if (pos >= line.size() || line[pos] != '"') return false;
  ++pos;
  while (pos < line.size()) {
    // Plain runs in one piece: a value may be megabytes long.
    const size_t special = line.find_first_of("\"\\", pos);
    if (special == std::string::npos) return false;
    out.append(line.data() + pos, special - pos);
    pos = special;
    char c = line[pos++];
    if (c == '"') return true;
    if (pos >= line.size()) return false;
    char e = line[pos++];
    switch (e) {
      case '\\': out += '\\'; break;
      case '"': out += '"'; break;
      case 'n': out += '\n'; break;
      case 'r': out += '\r'; break;
      case 't': out += '\t'; break;
      case 'x': {
        if (pos + 2 > line.size()) return false;
        int hi = HexDigit(line[pos]), lo = HexDigit(line[pos + 1]);
        if (hi < 0 || lo < 0) return false;
        out += static_cast<char>(hi * 16 + lo);
        pos += 2;
        break;
      }
      default: return false;
    }
  }
  return false;
}

void WriteSection(const Node& n, const std::string& path, std::string& out) {
  out += "\n[" + path + "]\n";
  for (const auto& v : n.values) {
    out += Quote(v.name) + "=";
    if (v.type == REG_DWORD) {
      char buf[16];
      std::snprintf(buf, sizeof buf, "dword:%08x", v.number);
      out += buf;
    } else {
      out += Quote(v.text);
    }
    out += "\n";
  }
}

}  // namespace

bool SplitPath(const std::string& key, std::vector<std::string>& parts) {
  parts.clear();
  std::string cur;
  for (char c : key) {
    if (static_cast<unsigned char>(c) < 0x20) return false;
    if (c == '\\' || c == '/') {
      if (!cur.empty()) parts.push_back(cur);
      cur.clear();
    } else {
      cur += c;
    }
  }
  if (!cur.empty()) parts.push_back(cur);
  return true;
}

bool SplitKeyPath(const std::string& key, std::vector<std::string>& parts) {
  return SplitPath(key, parts) && parts.size() <= kMaxKeyDepth;
}

std::string JoinPath(const std::vector<std::string>& parts) {
  std::string r;
  for (const auto& p : parts) {
    if (!r.empty()) r += '\\';
    r += p;
  }
  return r;
}

Node* Find(Node& root, const std::string& path) {
  std::vector<std::string> parts;
  if (!SplitKeyPath(path, parts)) return nullptr;
  Node* n = &root;
  for (const auto& p : parts) {
    n = n->Child(p);
    if (!n) return nullptr;
  }
  return n;
}

bool Serialise(const Node& root, const std::string& rootName, size_t limit, std::string& out) {
  struct Level {
    const Node* node;
    std::map<std::string, std::unique_ptr<Node>>::const_iterator next;
    size_t pathLength;
  };
  out = std::string(kHeader) + "\n";
  std::string path = rootName;
  std::vector<Level> stack;
  WriteSection(root, path, out);
  stack.push_back({&root, root.subkeys.begin(), path.size()});
  while (!stack.empty() && out.size() <= limit) {
    Level& level = stack.back();
    if (level.next == level.node->subkeys.end()) {
      stack.pop_back();
      continue;
    }
    const Node& child = *level.next->second;
    ++level.next;
    path.resize(level.pathLength);
    path += '\\';
    path += child.name;
    WriteSection(child, path, out);
    stack.push_back({&child, child.subkeys.begin(), path.size()});
  }
  return out.size() <= limit;
}

// Splits a section's path at '\\' and '/' into views of it, skipping empty
// names; false for a name no hive line can hold.
static bool SplitSectionPath(std::string_view path, std::vector<std::string_view>& parts) {
  parts.clear();
  size_t start = 0;
  for (size_t i = 0; i <= path.size(); ++i) {
    if (i < path.size() && static_cast<unsigned char>(path[i]) < 0x20) return false;
    if (i == path.size() || path[i] == '\\' || path[i] == '/') {
      if (i > start) parts.push_back(path.substr(start, i - start));
      start = i + 1;
    }
  }
  return true;
}

static bool SameName(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    char x = a[i], y = b[i];
    if (x >= 'A' && x <= 'Z') x = static_cast<char>(x - 'A' + 'a');
    if (y >= 'A' && y <= 'Z') y = static_cast<char>(y - 'A' + 'a');
    if (x != y) return false;
  }
  return true;
}

bool Parse(const std::string& text, const std::string& rootName, Node& root, int& badLine) {
  root = Node{};
  root.name = rootName;
  Node* current = nullptr;
  // The names of the section read last and their nodes (chain[0] is the
  // root): a hive lists each key right after its parent, so a section shares
  // all but its last name with the one before, and only the rest is looked
  // up. Reading stays proportional to the file even for deep keys.
  std::vector<std::string_view> parts, lastNames;
  std::vector<Node*> chain{&root};
  size_t pos = 0;
  int lineNo = 0;
  bool sawHeader = false;
  while (pos < text.size()) {
    size_t end = text.find('\n', pos);
    if (end == std::string::npos) end = text.size();
    std::string_view line(text.data() + pos, end - pos);
    pos = end + 1;
    ++lineNo;
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    badLine = lineNo;
    if (!sawHeader) {
      if (line != kHeader) return false;
      sawHeader = true;
      continue;
    }
    if (line.empty() || line[0] == ';') continue;
    if (line[0] == '[') {
      if (line.back() != ']' || line.size() < 2) return false;
      if (!SplitSectionPath(line.substr(1, line.size() - 2), parts) || parts.empty() || !SameName(parts[0], rootName) ||
          parts.size() - 1 > kMaxKeyDepth)
        return false;
      size_t common = 0;
      while (common + 1 < parts.size() && common < lastNames.size() && SameName(parts[common + 1], lastNames[common]))
        ++common;
      chain.resize(common + 1);
      for (size_t i = common + 1; i < parts.size(); ++i) chain.push_back(chain.back()->AddChild(std::string(parts[i])));
      lastNames.assign(parts.begin() + 1, parts.end());
      current = chain.back();
      continue;
    }
    if (!current) return false;
    size_t p = 0;
    TRegValueInfo v;
    if (!Unquote(line, p, v.name) || p >= line.size() || line[p] != '=') return false;
    ++p;
    if (line.compare(p, 6, "dword:") == 0) {
      const std::string_view hex = line.substr(p + 6);
      if (hex.empty() || hex.size() > 8) return false;
      uint32_t n = 0;
      for (char c : hex) {
        int d = HexDigit(c);
        if (d < 0) return false;
        n = n * 16 + static_cast<uint32_t>(d);
      }
      v.type = REG_DWORD;
      v.number = n;
    } else {
      if (!Unquote(line, p, v.text) || p != line.size()) return false;
      v.type = REG_SZ;
    }
    if (TRegValueInfo* old = current->FindValue(v.name))
      *old = v;
    else
      current->AddValue(v);
  }
  // An empty file is an empty hive; anything else must begin with the header.
  return sawHeader || text.empty();
}

}  // namespace sdm::hive
