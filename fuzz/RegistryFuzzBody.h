#pragma once
// What the registry-hive fuzz target and its corpus test do with one hive
// file: read every key and value through TRegistry, write one value, and read
// everything again. A garbled hive must be set aside whole and the program
// must go on with an empty one; a readable hive must keep every key and value
// across the write, and never grow beyond what the next start reads.
#include <sys/stat.h>

#include <algorithm>
#include <deque>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "platform/registry/Registry.h"

namespace sdm::fuzz {

struct TRegistryRun {
  bool garbled = false;  // set aside as unreadable
  size_t keys = 0;       // keys below the root, as far as the walk went
  size_t values = 0;
  std::vector<std::string> faults;
};

namespace detail {

// The keys in breadth-first order with their values, in order, as one text
// each; "" is the root.
using THiveWalk = std::vector<std::pair<std::string, std::vector<std::string>>>;

inline std::string ValueText(const TRegValueInfo& v) {
  return v.name + '\0' + std::to_string(v.type) + '\0' + v.text + '\0' + std::to_string(v.number);
}

inline bool IsProbe(const std::string& path) {
  return path.size() >= 4 && (path[0] | 0x20) == 'f' && (path[1] | 0x20) == 'u' && (path[2] | 0x20) == 'z' &&
         (path[3] | 0x20) == 'z' && (path.size() == 4 || path[4] == '\\');
}

// Every access re-reads the hive, so a walk costs keys times file size, and
// the file of a deep tree grows with the square of its depth: the walk visits
// as many keys, nearest the root first, as keeps that cost near 500 kB (none
// for a file larger than that), so that no input runs for seconds.
inline size_t WalkBudget(const std::string& hive) {
  struct stat st {};
  const size_t size = ::stat(hive.c_str(), &st) == 0 ? static_cast<size_t>(st.st_size) : 0;
  return std::min<size_t>(500000 / (size + 1), 64);
}

// The keys under the root but the probe's, breadth first with a queue of its
// own, up to budget keys.
inline THiveWalk Walk(size_t budget) {
  THiveWalk walk;
  std::deque<std::string> pending{""};
  while (!pending.empty() && walk.size() < budget) {
    const std::string path = pending.front();
    pending.pop_front();
    TRegistry reg;
    if (!reg.OpenKeyReadOnly(path)) continue;
    std::vector<std::string> values;
    for (const TRegValueInfo& v : reg.GetValues()) values.push_back(ValueText(v));
    walk.emplace_back(path, std::move(values));
    for (const std::string& sub : reg.GetKeyNames()) {
      const std::string child = path.empty() ? sub : path + "\\" + sub;
      if (!IsProbe(child)) pending.push_back(child);
    }
  }
  return walk;
}

inline std::string FileText(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

}  // namespace detail

// Puts bytes in place of the current user's hive (SLIDOMAT_REGISTRY_DIR must
// point to a folder of the caller's) and runs the sequence. The folder is
// emptied afterwards.
inline TRegistryRun RunRegistryHive(const std::string& bytes) {
  namespace fs = std::filesystem;
  TRegistryRun run;
  const std::string hive = RegistryHivePath(HKEY_CURRENT_USER);
  {
    std::ofstream(hive, std::ios::binary | std::ios::trunc)
        .write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  }
  TakeRegistryProblems();

  // Whether the probe's key was there already: a hive that has it cannot
  // show that the write kept everything else.
  bool probeWasThere = false;
  {
    TRegistry root;
    if (root.OpenKeyReadOnly(""))
      for (const std::string& sub : root.GetKeyNames()) probeWasThere = probeWasThere || detail::IsProbe(sub);
  }
  const std::vector<std::string> problems = TakeRegistryProblems();
  run.garbled = !problems.empty();
  if (run.garbled && detail::FileText(hive + ".garbled") != bytes)
    run.faults.push_back("the garbled hive was not kept whole");
  const detail::THiveWalk before = detail::Walk(detail::WalkBudget(hive));
  if (run.garbled && before.size() != 1) run.faults.push_back("a garbled hive left keys behind");
  for (const auto& [path, values] : before) {
    run.keys += path.empty() ? 0 : 1;
    run.values += values.size();
  }

  TRegistry reg;
  const bool wrote = reg.OpenKey("Fuzz\\Probe", true) && reg.WriteString("v", "probe");
  if (wrote) {
    struct stat st {};
    if (::stat(hive.c_str(), &st) == 0 && st.st_size > 16 * 1024 * 1024)
      run.faults.push_back("the hive was written larger than 16 MiB");
    if (reg.ReadString("v").value_or("") != "probe") run.faults.push_back("the value written is not there");
    // The same keys nearest the root, as many as both walks can afford.
    const size_t compared = std::min(before.size(), detail::WalkBudget(hive));
    const detail::THiveWalk after = detail::Walk(compared);
    if (!TakeRegistryProblems().empty()) run.faults.push_back("the hive written could not be read back");
    if (!probeWasThere && (after.size() != compared || !std::equal(after.begin(), after.end(), before.begin())))
      run.faults.push_back("keys or values changed when another value was written");
  } else if (!run.garbled && detail::FileText(hive) != bytes) {
    run.faults.push_back("a failed write changed the hive");
  }
  TakeRegistryProblems();

  std::error_code ec;
  for (const auto& e : fs::directory_iterator(fs::path(hive).parent_path(), ec)) fs::remove_all(e.path(), ec);
  return run;
}

}  // namespace sdm::fuzz
