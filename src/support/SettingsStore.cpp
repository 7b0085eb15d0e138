#include "support/SettingsStore.h"

#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstring>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "platform/RegularFile.h"
#include "platform/registry/Registry.h"
#include "support/PendingFile.h"
#include "support/U_Log.h"
#include "support/U_SysUtils.h"

namespace sdm {

namespace {

// ---- settings.ini ---------------------------------------------------------
// The Windows initialisation-file rules the portable copy's file follows:
// sections and keys without regard to case, the first of duplicates wins,
// blanks around keys and values ignored, one pair of quotes around a value
// dropped, ';' lines are comments. Updating a key keeps every other line.

std::string Trim(const std::string& s) {
  size_t b = s.find_first_not_of(" \t"), e = s.find_last_not_of(" \t");
  return b == std::string::npos ? std::string() : s.substr(b, e - b + 1);
}

// A settings file is a few lines long; one this large is not ours to read
// whole, and none is written this large, or the next import would refuse it.
constexpr size_t kMaxIniBytes = 4u << 20;

class TIniFile {
public:
  // False when the file exists but cannot be read (problem says why); a
  // missing file is empty.
  bool Load(const std::string& path, std::string& problem) {
    lines_.clear();
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0 && errno == ENOENT) return true;
    // A named pipe or a device in its place would block or never end.
    const int fd = OpenRegularFileForReading(path, problem);
    if (fd < 0) {
      problem = path + " cannot be read: " + problem;
      return false;
    }
    std::string text;
    char buf[8192];
    ssize_t n = 0;
    while (text.size() < kMaxIniBytes && ((n = ::read(fd, buf, sizeof buf)) > 0 || (n < 0 && errno == EINTR)))
      if (n > 0) text.append(buf, static_cast<size_t>(n));
    const int err = n < 0 ? errno : 0;
    ::close(fd);
    if (err != 0 || text.size() >= kMaxIniBytes) {
      problem = path + (err != 0 ? " cannot be read: " + std::string(std::strerror(err)) : " is too large");
      return false;
    }
    size_t pos = 0;
    while (pos < text.size()) {
      size_t end = text.find('\n', pos);
      if (end == std::string::npos) end = text.size();
      std::string line = text.substr(pos, end - pos);
      if (!line.empty() && line.back() == '\r') line.pop_back();
      lines_.push_back(line);
      pos = end + 1;
    }
    return true;
  }

  std::vector<std::pair<std::string, std::string>> Section(const std::string& name) const {
    std::vector<std::pair<std::string, std::string>> r;
    std::unordered_set<std::string> seen;
    auto [first, last] = SectionRange(name);
    for (size_t i = first; i < last; ++i) {
      std::string key, value;
      if (KeyValue(lines_[i], key, value) && seen.insert(LowerCase(key)).second) r.emplace_back(key, value);
    }
    return r;
  }

  // Sets every key of pairs in the section: a key already there is updated
  // in its line, a new one goes after the section's last non-empty line, and
  // a missing section is added at the end. One pass over the file, however
  // many keys.
  void Write(const std::string& section, const std::vector<std::pair<std::string, std::string>>& pairs) {
    if (pairs.empty()) return;
    auto [first, last] = SectionRange(section);
    if (first == npos) {
      if (!lines_.empty() && !Trim(lines_.back()).empty()) lines_.push_back("");
      lines_.push_back("[" + section + "]");
      first = last = lines_.size();
    }
    std::unordered_map<std::string, size_t> lineOf;  // first line of each key
    size_t insertAt = first;
    for (size_t i = first; i < last; ++i) {
      std::string k, v;
      if (KeyValue(lines_[i], k, v)) lineOf.emplace(LowerCase(k), i);
      if (!Trim(lines_[i]).empty()) insertAt = i + 1;
    }
    std::vector<std::string> added;
    std::unordered_map<std::string, size_t> addedAt;
    for (const auto& [key, value] : pairs) {
      const std::string lower = LowerCase(key);
      if (auto it = lineOf.find(lower); it != lineOf.end())
        lines_[it->second] = key + "=" + value;
      else if (auto a = addedAt.find(lower); a != addedAt.end())
        added[a->second] = key + "=" + value;
      else {
        addedAt.emplace(lower, added.size());
        added.push_back(key + "=" + value);
      }
    }
    lines_.insert(lines_.begin() + static_cast<std::ptrdiff_t>(insertAt), added.begin(), added.end());
  }

  // Written beside the file under a name of its own and renamed over it: a
  // failed write leaves the old file whole, and two programs saving at once
  // never write into one temporary file.
  bool Save(const std::string& path, std::string& problem) const {
    std::string text;
    for (const auto& l : lines_) text += l + "\r\n";
    if (text.size() >= kMaxIniBytes) {
      problem = path + " would grow beyond " + std::to_string(kMaxIniBytes >> 20) + " MiB";
      return false;
    }
    TPendingFile pending(path);
    std::string why;
    const int fd = pending.OpenForWriting(why);
    for (size_t done = 0; fd >= 0 && why.empty() && done < text.size();) {
      const ssize_t n = ::write(fd, text.data() + done, text.size() - done);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0)
        why = std::strerror(n < 0 ? errno : ENOSPC);
      else
        done += static_cast<size_t>(n);
    }
    if (fd >= 0 && ::close(fd) != 0 && why.empty()) why = std::strerror(errno);
    if (why.empty() && pending.Commit(why)) return true;
    problem = path + " cannot be written: " + why;
    return false;
  }

private:
  static constexpr size_t npos = static_cast<size_t>(-1);

  static bool IsHeader(const std::string& line, std::string& name) {
    std::string t = Trim(line);
    if (t.size() < 2 || t.front() != '[' || t.back() != ']') return false;
    name = Trim(t.substr(1, t.size() - 2));
    return true;
  }

  static bool KeyValue(const std::string& line, std::string& key, std::string& value) {
    std::string t = Trim(line);
    if (t.empty() || t[0] == ';' || t[0] == '[') return false;
    size_t eq = t.find('=');
    if (eq == std::string::npos) return false;
    key = Trim(t.substr(0, eq));
    value = Trim(t.substr(eq + 1));
    if (value.size() >= 2 && value.front() == value.back() && (value.front() == '"' || value.front() == '\''))
      value = value.substr(1, value.size() - 2);
    return !key.empty();
  }

  // Lines of the first section of that name: [first, last), or npos when missing.
  std::pair<size_t, size_t> SectionRange(const std::string& name) const {
    size_t first = npos;
    for (size_t i = 0; i < lines_.size(); ++i) {
      std::string n;
      if (!IsHeader(lines_[i], n)) continue;
      if (first != npos) return {first, i};
      if (SameText(n, name)) first = i + 1;
    }
    return {first, first == npos ? npos : lines_.size()};
  }

  std::vector<std::string> lines_;
};

// A value is written so that reading it back gives the same text: values with
// outer blanks or quotes get a pair of quotes, which reading removes.
std::string IniValue(const std::string& v) {
  if (v.empty()) return v;
  const char f = v.front(), b = v.back();
  if (f == ' ' || f == '\t' || b == ' ' || b == '\t' || f == '"' || f == '\'') return "\"" + v + "\"";
  return v;
}

// What an initialisation file cannot hold on one line.
bool FitsIni(const std::string& key, const std::string& value) {
  if (key.empty() || key.find('=') != std::string::npos || Trim(key) != key || key[0] == ';' || key[0] == '[')
    return false;
  for (char c : key + value)
    if (c == '\n' || c == '\r') return false;
  return true;
}

// An integer as the file's reader takes it: decimal, or hexadecimal after '$'
// or "0x", within 32 bits; anything else is 0.
uint32_t IniInteger(const std::string& text) {
  std::string t = Trim(text);
  bool neg = false;
  if (!t.empty() && (t[0] == '-' || t[0] == '+')) {
    neg = t[0] == '-';
    t = t.substr(1);
  }
  int base = 10;
  if (!t.empty() && t[0] == '$') {
    base = 16;
    t = t.substr(1);
  } else if (t.size() > 2 && t[0] == '0' && (t[1] == 'x' || t[1] == 'X')) {
    base = 16;
    t = t.substr(2);
  }
  if (t.empty() || t.size() > 10) return 0;
  int64_t v = 0;
  for (char c : t) {
    int d = c >= '0' && c <= '9'                 ? c - '0'
            : base == 16 && c >= 'a' && c <= 'f' ? c - 'a' + 10
            : base == 16 && c >= 'A' && c <= 'F' ? c - 'A' + 10
                                                 : -1;
    if (d < 0) return 0;
    v = v * base + d;
  }
  if (base == 16) {
    if (v > 0xFFFFFFFFLL) return 0;
    uint32_t u = static_cast<uint32_t>(v);
    return neg ? 0u - u : u;
  }
  if (neg) v = -v;
  if (v < INT32_MIN || v > INT32_MAX) return 0;
  return static_cast<uint32_t>(static_cast<int32_t>(v));
}

std::string ProductKeyOf(const std::string& productName) { return std::string(kCompanyKey) + "\\" + productName; }

// Opens the product key, creating it; read-only when the hive cannot be written.
bool OpenProduct(TRegistry& reg, const std::string& productName) {
  return reg.OpenKey(ProductKeyOf(productName), true) || reg.OpenKeyReadOnly(ProductKeyOf(productName));
}

}  // namespace

std::string GetSetting(const std::string& name) {
  TRegistry reg(HKEY_CURRENT_USER);
  if (!OpenProduct(reg, kProductName)) return "";
  return reg.ReadString(name).value_or("");
}

bool SetSetting(const std::string& name, const std::string& value) {
  TRegistry reg(HKEY_CURRENT_USER);
  return reg.OpenKey(kProductKey, true) && reg.WriteString(name, value);
}

bool SetSettingBool(const std::string& name, bool flag) { return SetSetting(name, flag ? "1" : "0"); }

std::optional<uint32_t> GetSettingDWord(const std::string& name) {
  TRegistry reg(HKEY_CURRENT_USER);
  if (!OpenProduct(reg, kProductName)) return std::nullopt;
  return reg.ReadInteger(name);
}

bool SetSettingDWord(const std::string& name, uint32_t value) {
  TRegistry reg(HKEY_CURRENT_USER);
  return reg.OpenKey(kProductKey, true) && reg.WriteInteger(name, value);
}

bool IsProgramInstalled(const std::string& displayNamePrefix) {
  const std::pair<TRootKey, const char*> roots[] = {
      {HKEY_CURRENT_USER, kUninstallKey}, {HKEY_LOCAL_MACHINE, kUninstallKey}, {HKEY_LOCAL_MACHINE, kUninstallKeyWow}};
  for (const auto& [root, path] : roots) {
    TRegistry reg(root);
    if (!reg.OpenKeyReadOnly(path)) continue;
    for (const std::string& sub : reg.GetKeyNames()) {
      TRegistry entry(root);
      if (!entry.OpenKeyReadOnly(std::string(path) + "\\" + sub)) continue;
      const std::string name = entry.ReadString("DisplayName").value_or(sub);
      if (StartsText(name, displayNamePrefix)) return true;
    }
  }
  return false;
}

void ImportSettingsFromIni(const std::string& productName, const std::string& iniPath, std::string* problem) {
  std::string why;
  TRegistry reg(HKEY_CURRENT_USER);
  TIniFile ini;
  if (reg.OpenKey(ProductKeyOf(productName), true) && ini.Load(iniPath, why)) {
    // All values in one change: a file of many values costs one write of
    // the hive, not one per value.
    std::vector<TRegValueInfo> values;
    for (const auto& [key, value] : ini.Section("Settings")) values.push_back({key, REG_SZ, value, 0});
    for (const auto& [key, value] : ini.Section("Settings_DWORD"))
      values.push_back({key, REG_DWORD, "", IniInteger(value)});
    if (!values.empty() && !reg.WriteValues(values)) why = "not every value of " + iniPath + " could be stored";
  }
  if (problem) *problem = why;
}

bool ExportSettingsToIni(const std::string& productName, const std::string& iniPath, std::string* problem) {
  std::string why;
  const bool ok = [&] {
    TRegistry reg(HKEY_CURRENT_USER);
    if (!OpenProduct(reg, productName)) return false;
    TIniFile ini;
    // A file we cannot read is not overwritten: it may hold what the user has.
    if (!ini.Load(iniPath, why)) return false;
    std::vector<std::pair<std::string, std::string>> strings, numbers;
    for (const TRegValueInfo& v : reg.GetValues()) {
      if (v.type != REG_SZ && v.type != REG_DWORD) continue;
      if (!FitsIni(v.name, v.text)) {
        why = "the value \"" + v.name + "\" cannot be kept in " + iniPath;
        return false;
      }
      if (v.type == REG_SZ)
        strings.emplace_back(v.name, IniValue(v.text));
      else
        numbers.emplace_back(v.name, std::to_string(static_cast<int32_t>(v.number)));
    }
    ini.Write("Settings", strings);
    ini.Write("Settings_DWORD", numbers);
    return ini.Save(iniPath, why);
  }();
  if (problem) *problem = why;
  return ok;
}

bool DeleteProductKey(const std::string& productName) {
  TRegistry reg(HKEY_CURRENT_USER);
  return reg.DeleteKey(ProductKeyOf(productName));
}

void DeleteCompanyKeyIfEmpty() {
  TRegistry reg(HKEY_CURRENT_USER);
  if (!reg.OpenKeyReadOnly(kCompanyKey)) return;
  if (!reg.HasSubKeys() && reg.GetValues().empty()) reg.DeleteKey(kCompanyKey);
}

bool SetProgramLocation(const std::string& title, const std::string& programPath) {
  TRegistry reg(HKEY_CURRENT_USER);
  return reg.OpenKey(kCompanyKey, true) && reg.WriteString(title, programPath);
}

void DeleteProgramLocation(const std::string& title) {
  TRegistry reg(HKEY_CURRENT_USER);
  if (reg.OpenKey(kCompanyKey, false)) reg.DeleteValue(title);
}

void RemoveEmptyCompanyDataFolder() {
  const std::string appData = RoamingDataFolder();
  if (appData.empty()) return;
  const std::string company = IncludeTrailingBackslashW(appData) + "Tarvenit";
  std::vector<std::string> subfolders;
  ListSubfolders(company, subfolders);
  if (subfolders.empty()) ::rmdir(company.c_str());  // only an empty folder goes
}

namespace {

// Deletes the language files of Folder, and cleans folders whose names end in
// ".SPK" the same way, then removes Folder when that left it empty. Links are
// removed as links and never followed out of the folder.
void CleanSpkFolder(const std::string& folder, int depth) {
  DIR* d = ::opendir(folder.c_str());
  if (!d) return;
  std::vector<std::pair<std::string, bool>> entries;
  while (dirent* e = ::readdir(d)) {
    const std::string name = e->d_name;
    if (name == "." || name == ".." || !EndsText(name, ".SPK")) continue;
    struct stat st {};
    if (::lstat((folder + name).c_str(), &st) != 0) continue;
    entries.emplace_back(name, S_ISDIR(st.st_mode));
  }
  ::closedir(d);
  for (const auto& [name, isDir] : entries) {
    if (isDir) {
      if (depth < 64) CleanSpkFolder(folder + name + "/", depth + 1);
    } else {
      ::unlink((folder + name).c_str());  // a file that will not go is left
    }
  }
  ::rmdir(folder.c_str());
}

}  // namespace

std::string CleanVirtualStore(const std::string& programFolder) {
  const std::string local = LocalDataFolder();
  if (local.empty()) return "";
  // The program folder stands in the store without its root, as a drive
  // letter would be dropped.
  size_t skip = programFolder.find_first_not_of('/');
  const std::string rel = skip == std::string::npos ? std::string() : programFolder.substr(skip);
  const std::string store = IncludeTrailingBackslashW(IncludeTrailingBackslashW(local) + "VirtualStore/" + rel);
  if (!DirectoryExistsLong(store)) return "";
  CleanSpkFolder(store, 0);
  return store;
}

std::string SettingsIniPath(const std::string& programPath) { return ExtractFilePath(programPath) + "settings.ini"; }

int LogRegistryProblems(TKLog& log) {
  int n = 0;
  for (const std::string& message : TakeRegistryProblems()) {
    log.AddLine(message, llError);
    ++n;
  }
  return n;
}

}  // namespace sdm
