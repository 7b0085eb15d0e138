#pragma once
// Inside the registry: the hive file of each root, read at every access and
// written whole through a temporary file, and the locks that keep threads and
// processes from changing it at once. Not for use outside this folder.
#include <sys/types.h>

#include <cstdint>
#include <mutex>
#include <string>

#include "platform/registry/HiveText.h"

namespace sdm::hive {

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

// Guards every hive of the process and the queue of problems.
std::mutex& HivesMutex();

// The hive as the file holds it now (the caller holds HivesMutex()).
Hive& Current(const std::string& path, const std::string& rootName);
// Writes the hive through a temporary file and a rename; false, with a
// problem queued, when it cannot (the caller holds HivesMutex()).
bool Save(Hive& h, const std::string& path, const std::string& rootName);

// Serialises writers of several processes on one hive.
class THiveLock {
public:
  explicit THiveLock(const std::string& hivePath);
  ~THiveLock();
  THiveLock(const THiveLock&) = delete;
  THiveLock& operator=(const THiveLock&) = delete;

private:
  int fd_ = -1;
};

// Runs f(root node) on the current content of the hive and writes the result
// when f reports a change.
template <class F>
bool Modify(TRootKey root, F f) {
  const std::string path = RegistryHivePath(root), rootName = RootKeyName(root);
  std::lock_guard<std::mutex> g(HivesMutex());
  THiveLock lock(path);
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
  std::lock_guard<std::mutex> g(HivesMutex());
  return f(Current(path, rootName).root);
}

}  // namespace sdm::hive
