#pragma once
// A small hierarchical registry in place of the Windows one: two roots
// (HKEY_CURRENT_USER and HKEY_LOCAL_MACHINE), keys with sub-keys, string and
// 32-bit values, names compared without regard to ASCII case.
//
// Each root is one text file (a hive) in a .reg-like format:
//
//   Slidomat registry hive 1
//
//   [HKEY_CURRENT_USER\SOFTWARE\Tarvenit\Slidomat]
//   "DebugMode"="1"
//   "langue"=dword:0000040c
//
// Every change is written at once through a temporary file and a rename, so a
// crash never leaves a half-written hive, and every access re-reads the file
// when another process changed it, so nothing is cached behind the user's back.
// A hive that cannot be parsed is renamed aside (never lost) and the problem is
// queued as a message for the log (TakeRegistryProblems). So is a hive larger
// than 16 MiB or with keys nested deeper than 512 levels: no hive of ours is
// ever like that. A change that would make the file larger than that is not
// written, so what the file holds stays readable.
//
// Where the hives live:
//   HKEY_CURRENT_USER : $SLIDOMAT_REGISTRY_DIR/HKEY_CURRENT_USER.reg when that
//                       variable is set (tests), else
//                       $XDG_CONFIG_HOME/Tarvenit/HKEY_CURRENT_USER.reg
//                       (XDG_CONFIG_HOME defaults to ~/.config).
//   HKEY_LOCAL_MACHINE: $SLIDOMAT_MACHINE_REGISTRY_DIR/HKEY_LOCAL_MACHINE.reg
//                       when set, else <program folder>/../share/slidomat/
//                       HKEY_LOCAL_MACHINE.reg, which `cmake --install` writes.
//                       A copy run from its build or unpacked folder has none.
//
// All calls are safe from any thread; changes from several processes are
// serialised with a lock file beside the hive.
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace sdm {

enum class TRootKey { CurrentUser, LocalMachine };
inline constexpr TRootKey HKEY_CURRENT_USER = TRootKey::CurrentUser;
inline constexpr TRootKey HKEY_LOCAL_MACHINE = TRootKey::LocalMachine;

// Value types, numbered as the Windows registry numbers them.
enum TRegDataType : uint32_t { REG_NONE = 0, REG_SZ = 1, REG_DWORD = 4 };

struct TRegValueInfo {
  std::string name;  // spelled as first written
  TRegDataType type = REG_NONE;
  std::string text;     // REG_SZ
  uint32_t number = 0;  // REG_DWORD
};

// The hive file of a root, as found now (environment read at each call).
std::string RegistryHivePath(TRootKey root);
// The root's name as written in hive files: "HKEY_CURRENT_USER".
std::string RootKeyName(TRootKey root);

// Messages about hives that could not be read (garbled file kept aside,
// failed write). Each message is returned once.
std::vector<std::string> TakeRegistryProblems();

// One open key of one root, in the manner of Delphi's TRegistry. Key paths use
// '\' between names ("SOFTWARE\Tarvenit\Slidomat"); a leading '\' is allowed.
// Nothing here throws: failures give false, an empty list or no value.
class TRegistry {
public:
  explicit TRegistry(TRootKey root = HKEY_CURRENT_USER) : root_(root) {}

  TRootKey RootKey() const { return root_; }
  void SetRootKey(TRootKey root) {
    root_ = root;
    CloseKey();
  }

  // Opens Key (absolute path under the root). With CanCreate the key and its
  // parents are created; returns false when the key is missing (and may not be
  // created) or the hive cannot be written.
  bool OpenKey(const std::string& key, bool canCreate);
  // Opens an existing key for reading only; writes through it fail.
  bool OpenKeyReadOnly(const std::string& key);
  void CloseKey();
  bool HasCurrentKey() const { return open_; }
  const std::string& CurrentPath() const { return path_; }

  // Whole-key operations on absolute paths under the root.
  bool KeyExists(const std::string& key) const;
  bool DeleteKey(const std::string& key);  // with all its sub-keys and values

  // Operations on the open key.
  bool ValueExists(const std::string& name) const;
  TRegDataType GetDataType(const std::string& name) const;               // REG_NONE when missing
  std::optional<std::string> ReadString(const std::string& name) const;  // only REG_SZ
  std::optional<uint32_t> ReadInteger(const std::string& name) const;    // only REG_DWORD
  bool WriteString(const std::string& name, const std::string& value);
  bool WriteInteger(const std::string& name, uint32_t value);
  // Writes many values (each REG_SZ or REG_DWORD) in one change of the hive,
  // so an import of many values reads and writes the file once. A value whose
  // name cannot be stored is left out and makes the result false.
  bool WriteValues(const std::vector<TRegValueInfo>& values);
  bool DeleteValue(const std::string& name);

  // Values in the order they were first written; sub-keys sorted by name
  // without regard to case. Both stay stable from one run to the next.
  std::vector<TRegValueInfo> GetValues() const;
  std::vector<std::string> GetValueNames() const;
  std::vector<std::string> GetKeyNames() const;
  bool HasSubKeys() const;

private:
  TRootKey root_;
  bool open_ = false;
  bool readOnly_ = false;
  std::string path_;  // normalised: names joined by '\', no leading '\'
};

}  // namespace sdm
