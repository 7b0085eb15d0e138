#include "platform/registry/Registry.h"

#include <fcntl.h>
#include <limits.h>
#include <pwd.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <map>
#include <memory>
#include <mutex>
#include <string_view>
#include <unordered_map>

#include "platform/RegularFile.h"

namespace sdm {

namespace {

namespace fs = std::filesystem;

constexpr const char* kHeader = "Slidomat registry hive 1";
// A hive holds a few dozen values; anything this large is not one of ours and
// is refused rather than read into memory. The same bound holds for writing:
// a hive we wrote larger would be refused at the next start, every setting in
// it with it.
constexpr off_t kMaxHiveBytes = 16 * 1024 * 1024;
// Keys nest no deeper than the Windows registry lets them. A deeper key in a
// file is garbage, and refusing it keeps every walk over the tree shallow.
constexpr size_t kMaxKeyDepth = 512;

std::string Lower(const std::string& s) {
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

// Which version of the file was last read.
struct FileIdentity {
  bool exists = false;
  dev_t dev = 0;
  ino_t ino = 0;
  off_t size = 0;
  int64_t mtimeNs = 0;
  bool operator==(const FileIdentity&) const = default;
};

struct Hive {
  bool loaded = false;
  bool unreadable = false;  // the file exists but could not be read: never overwrite it
  FileIdentity identity;
  Node root;
};

std::mutex g_mutex;
std::map<std::string, Hive> g_hives;
std::vector<std::string> g_problems;

FileIdentity IdentityOf(const std::string& path) {
  FileIdentity id;
  struct stat st{};
  if (::stat(path.c_str(), &st) != 0) return id;
  id.exists = true;
  id.dev = st.st_dev;
  id.ino = st.st_ino;
  id.size = st.st_size;
  id.mtimeNs = static_cast<int64_t>(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec;
  return id;
}

// Splits "A\B\\C" into {"A","B","C"}; false for names no hive line can hold.
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

// A key path under the root, split; false for a path no key can have.
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

// ---- Text form ------------------------------------------------------------

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

// The hive's text, keys in the stable order of the tree, each key's section
// before those of its sub-keys. Walks with a stack of its own, and stops with
// false as soon as the text grows beyond limit: every section repeats its
// whole path, so a deep tree of long names is far larger as text than in
// memory.
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
bool SplitSectionPath(std::string_view path, std::vector<std::string_view>& parts) {
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

bool SameName(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    char x = a[i], y = b[i];
    if (x >= 'A' && x <= 'Z') x = static_cast<char>(x - 'A' + 'a');
    if (y >= 'A' && y <= 'Z') y = static_cast<char>(y - 'A' + 'a');
    if (x != y) return false;
  }
  return true;
}

// Parses a whole hive; on failure names the first bad line.
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
      if (!SplitSectionPath(line.substr(1, line.size() - 2), parts) || parts.empty() ||
          !SameName(parts[0], rootName) || parts.size() - 1 > kMaxKeyDepth)
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

// Keeps a garbled hive under a name of its own so the user can still look at it.
std::string KeepAside(const std::string& path) {
  for (int i = 0; i < 1000; ++i) {
    std::string aside = path + ".garbled" + (i ? "." + std::to_string(i) : "");
    if (::access(aside.c_str(), F_OK) == 0) continue;
    if (::rename(path.c_str(), aside.c_str()) == 0) return aside;
    return "";
  }
  return "";
}

void Load(Hive& h, const std::string& path, const std::string& rootName) {
  h.loaded = true;
  h.unreadable = false;
  h.root = Node{};
  h.root.name = rootName;
  h.identity = IdentityOf(path);
  if (!h.identity.exists) return;

  std::string text;
  bool tooLarge = h.identity.size > kMaxHiveBytes;
  if (!tooLarge) {
    // A hive that is a named pipe or a device would block or never end.
    std::string problem;
    const int fd = OpenRegularFileForReading(path, problem);
    if (fd < 0) {
      h.unreadable = true;
      g_problems.push_back("Registry file " + path + " cannot be read: " + problem);
      return;
    }
    text.reserve(static_cast<size_t>(h.identity.size) + 1);
    char buf[65536];
    ssize_t n = 0;
    while (text.size() <= static_cast<size_t>(kMaxHiveBytes) &&
           ((n = ::read(fd, buf, sizeof buf)) > 0 || (n < 0 && errno == EINTR)))
      if (n > 0) text.append(buf, static_cast<size_t>(n));
    const int err = n < 0 ? errno : 0;
    ::close(fd);
    if (err != 0) {
      h.unreadable = true;
      g_problems.push_back("Registry file " + path + " cannot be read: " + std::strerror(err));
      return;
    }
    tooLarge = text.size() > static_cast<size_t>(kMaxHiveBytes);
  }
  int badLine = 0;
  if (!tooLarge && Parse(text, rootName, h.root, badLine)) return;

  h.root = Node{};
  h.root.name = rootName;
  std::string aside = KeepAside(path);
  std::string why = tooLarge ? "is too large" : "is garbled (line " + std::to_string(badLine) + ")";
  if (aside.empty()) {
    // Could not move it: keep it where it is and refuse to write over it.
    h.unreadable = true;
    g_problems.push_back("Registry file " + path + " " + why + " and could not be set aside");
  } else {
    g_problems.push_back("Registry file " + path + " " + why + "; kept as " + aside + ", starting empty");
  }
  h.identity = IdentityOf(path);
}

// The hive as the file holds it now. Hives are a few hundred bytes, so the
// file is read at every access: another process's change is always seen,
// whatever the file system's time-stamp granularity. Only a file already found
// unusable is not read (and reported) again until it changes.
Hive& Current(const std::string& path, const std::string& rootName) {
  Hive& h = g_hives[path];
  if (!(h.loaded && h.unreadable && IdentityOf(path) == h.identity)) Load(h, path, rootName);
  return h;
}

bool Save(Hive& h, const std::string& path, const std::string& rootName) {
  std::string text;
  if (!Serialise(h.root, rootName, static_cast<size_t>(kMaxHiveBytes), text)) {
    g_problems.push_back("Registry file " + path + " would grow beyond " + std::to_string(kMaxHiveBytes >> 20) +
                         " MiB; the change is not written");
    return false;
  }
  static int counter = 0;
  const std::string tmp = path + ".tmp" + std::to_string(::getpid()) + "_" + std::to_string(++counter);
  int fd = ::open(tmp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
  int err = fd < 0 ? errno : 0;
  for (size_t done = 0; err == 0 && done < text.size();) {
    ssize_t w = ::write(fd, text.data() + done, text.size() - done);
    if (w < 0 && errno == EINTR) continue;
    if (w <= 0) err = w < 0 ? errno : EIO;
    else done += static_cast<size_t>(w);
  }
  if (err == 0 && ::fsync(fd) != 0) err = errno;
  if (fd >= 0 && ::close(fd) != 0 && err == 0) err = errno;
  if (err == 0 && ::rename(tmp.c_str(), path.c_str()) != 0) err = errno;
  if (err != 0) {
    if (fd >= 0) ::unlink(tmp.c_str());
    g_problems.push_back("Registry file " + path + " cannot be written: " + std::strerror(err));
    return false;
  }
  h.identity = IdentityOf(path);
  return true;
}

// Serialises writers of several processes on one hive.
class FileLock {
public:
  explicit FileLock(const std::string& hivePath) {
    std::error_code ec;
    fs::create_directories(fs::path(hivePath).parent_path(), ec);
    fd_ = ::open((hivePath + ".lock").c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    if (fd_ >= 0)
      while (::flock(fd_, LOCK_EX) != 0 && errno == EINTR) {
      }
  }
  ~FileLock() {
    if (fd_ >= 0) ::close(fd_);  // closing releases the lock
  }

private:
  int fd_ = -1;
};

// Runs f(root node) on the current content of the hive and writes the result
// when f reports a change.
template <class F>
bool Modify(TRootKey root, F f) {
  const std::string path = RegistryHivePath(root), rootName = RootKeyName(root);
  std::lock_guard<std::mutex> g(g_mutex);
  FileLock lock(path);
  Hive& h = Current(path, rootName);
  if (h.unreadable) return false;
  bool changed = false;
  if (!f(h.root, changed)) return false;
  if (!changed) return true;
  return Save(h, path, rootName);
}

template <class F>
auto Read(TRootKey root, F f) {
  const std::string path = RegistryHivePath(root), rootName = RootKeyName(root);
  std::lock_guard<std::mutex> g(g_mutex);
  return f(Current(path, rootName).root);
}

std::string HomeFolder() {
  const char* home = std::getenv("HOME");
  if (home && *home) return home;
  if (const passwd* pw = ::getpwuid(::getuid())) return pw->pw_dir ? pw->pw_dir : "";
  return "";
}

std::string ExeFolder() {
  char buf[PATH_MAX + 1];
  ssize_t n = ::readlink("/proc/self/exe", buf, PATH_MAX);
  if (n <= 0) return ".";
  buf[n] = 0;
  return fs::path(buf).parent_path().string();
}

std::string EnvDir(const char* name) {
  const char* v = std::getenv(name);
  return v && *v ? std::string(v) : std::string();
}

}  // namespace

std::string RootKeyName(TRootKey root) {
  return root == TRootKey::LocalMachine ? "HKEY_LOCAL_MACHINE" : "HKEY_CURRENT_USER";
}

std::string RegistryHivePath(TRootKey root) {
  const std::string file = RootKeyName(root) + ".reg";
  if (root == TRootKey::LocalMachine) {
    std::string dir = EnvDir("SLIDOMAT_MACHINE_REGISTRY_DIR");
    if (dir.empty()) dir = (fs::path(ExeFolder()) / ".." / "share" / "slidomat").lexically_normal().string();
    return (fs::path(dir) / file).string();
  }
  std::string dir = EnvDir("SLIDOMAT_REGISTRY_DIR");
  if (dir.empty()) {
    std::string config = EnvDir("XDG_CONFIG_HOME");
    if (config.empty() || config[0] != '/') config = HomeFolder() + "/.config";
    dir = config + "/Tarvenit";
  }
  return (fs::path(dir) / file).string();
}

std::vector<std::string> TakeRegistryProblems() {
  std::lock_guard<std::mutex> g(g_mutex);
  std::vector<std::string> r;
  r.swap(g_problems);
  return r;
}

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
