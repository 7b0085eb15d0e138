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

namespace sdm {

namespace {

namespace fs = std::filesystem;

constexpr const char* kHeader = "Slidomat registry hive 1";
// A hive holds a few dozen values; anything this large is not one of ours and
// is refused rather than read into memory.
constexpr off_t kMaxHiveBytes = 16 * 1024 * 1024;

std::string Lower(const std::string& s) {
  std::string r = s;
  for (char& c : r)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return r;
}

struct Node {
  std::string name;
  std::vector<TRegValueInfo> values;                     // in the order first written
  std::map<std::string, std::unique_ptr<Node>> subkeys;  // by lower-case name: a stable order

  TRegValueInfo* FindValue(const std::string& n) {
    const std::string key = Lower(n);
    for (auto& v : values)
      if (Lower(v.name) == key) return &v;
    return nullptr;
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
  if (!SplitPath(path, parts)) return nullptr;
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
bool Unquote(const std::string& line, size_t& pos, std::string& out) {
  out.clear();
  if (pos >= line.size() || line[pos] != '"') return false;
  ++pos;
  while (pos < line.size()) {
    char c = line[pos++];
    if (c == '"') return true;
    if (c != '\\') {
      out += c;
      continue;
    }
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

void WriteNode(const Node& n, const std::string& path, std::string& out) {
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
  for (const auto& [lower, child] : n.subkeys) WriteNode(*child, path + "\\" + child->name, out);
}

std::string Serialise(const Node& root, const std::string& rootName) {
  std::string out = std::string(kHeader) + "\n";
  WriteNode(root, rootName, out);
  return out;
}

// Parses a whole hive; on failure names the first bad line.
bool Parse(const std::string& text, const std::string& rootName, Node& root, int& badLine) {
  root = Node{};
  root.name = rootName;
  Node* current = nullptr;
  size_t pos = 0;
  int lineNo = 0;
  bool sawHeader = false;
  while (pos < text.size()) {
    size_t end = text.find('\n', pos);
    if (end == std::string::npos) end = text.size();
    std::string line = text.substr(pos, end - pos);
    pos = end + 1;
    ++lineNo;
    if (!line.empty() && line.back() == '\r') line.pop_back();
    badLine = lineNo;
    if (!sawHeader) {
      if (line != kHeader) return false;
      sawHeader = true;
      continue;
    }
    if (line.empty() || line[0] == ';') continue;
    if (line[0] == '[') {
      if (line.back() != ']') return false;
      std::vector<std::string> parts;
      if (!SplitPath(line.substr(1, line.size() - 2), parts) || parts.empty() || Lower(parts[0]) != Lower(rootName))
        return false;
      current = &root;
      for (size_t i = 1; i < parts.size(); ++i) current = current->AddChild(parts[i]);
      continue;
    }
    if (!current) return false;
    size_t p = 0;
    TRegValueInfo v;
    if (!Unquote(line, p, v.name) || p >= line.size() || line[p] != '=') return false;
    ++p;
    if (line.compare(p, 6, "dword:") == 0) {
      std::string hex = line.substr(p + 6);
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
      current->values.push_back(v);
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
    FILE* f = std::fopen(path.c_str(), "rb");
    if (!f) {
      h.unreadable = true;
      g_problems.push_back("Registry file " + path + " cannot be read: " + std::strerror(errno));
      return;
    }
    char buf[65536];
    size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, f)) > 0 && text.size() <= static_cast<size_t>(kMaxHiveBytes))
      text.append(buf, n);
    bool failed = std::ferror(f);
    std::fclose(f);
    if (failed) {
      h.unreadable = true;
      g_problems.push_back("Registry file " + path + " cannot be read");
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
  const std::string text = Serialise(h.root, rootName);
  static int counter = 0;
  const std::string tmp = path + ".tmp" + std::to_string(::getpid()) + "_" + std::to_string(++counter);
  int fd = ::open(tmp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
  if (fd < 0) return false;
  size_t done = 0;
  bool ok = true;
  while (done < text.size()) {
    ssize_t w = ::write(fd, text.data() + done, text.size() - done);
    if (w < 0 && errno == EINTR) continue;
    if (w <= 0) {
      ok = false;
      break;
    }
    done += static_cast<size_t>(w);
  }
  if (ok && ::fsync(fd) != 0) ok = false;
  if (::close(fd) != 0) ok = false;
  if (ok && ::rename(tmp.c_str(), path.c_str()) != 0) ok = false;
  if (!ok) {
    ::unlink(tmp.c_str());
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
  if (Save(h, path, rootName)) return true;
  g_problems.push_back("Registry file " + path + " cannot be written");
  return false;
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
  if (!SplitPath(key, parts)) return false;
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
  if (!SplitPath(key, parts) || !KeyExists(key)) return false;
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
  if (!SplitPath(key, parts) || parts.empty()) return false;  // the root itself stays
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
bool WriteValue(TRootKey rootKey, const std::string& path, const TRegValueInfo& value) {
  for (unsigned char c : value.name)
    if (c < 0x20) return false;
  return Modify(rootKey, [&](Node& root, bool& changed) {
    Node* n = Find(root, path);
    if (!n) return false;  // the key was deleted since it was opened
    TRegValueInfo* v = n->FindValue(value.name);
    if (v && v->type == value.type && v->text == value.text && v->number == value.number) return true;
    if (v) {
      v->type = value.type;
      v->text = value.text;
      v->number = value.number;
    } else {
      n->values.push_back(value);
    }
    changed = true;
    return true;
  });
}
}  // namespace

bool TRegistry::WriteString(const std::string& name, const std::string& value) {
  if (!open_ || readOnly_) return false;
  TRegValueInfo v;
  v.name = name;
  v.type = REG_SZ;
  v.text = value;
  return WriteValue(root_, path_, v);
}

bool TRegistry::WriteInteger(const std::string& name, uint32_t value) {
  if (!open_ || readOnly_) return false;
  TRegValueInfo v;
  v.name = name;
  v.type = REG_DWORD;
  v.number = value;
  return WriteValue(root_, path_, v);
}

bool TRegistry::DeleteValue(const std::string& name) {
  if (!open_ || readOnly_) return false;
  return Modify(root_, [&](Node& root, bool& changed) {
    Node* n = Find(root, path_);
    if (!n) return false;
    const std::string key = Lower(name);
    auto it = std::find_if(n->values.begin(), n->values.end(), [&](const TRegValueInfo& v) { return Lower(v.name) == key; });
    if (it == n->values.end()) return false;
    n->values.erase(it);
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
