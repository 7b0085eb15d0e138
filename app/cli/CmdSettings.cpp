// settings: what the program remembers, read and written through the same
// settings store the window uses (the product key of the user's hive).
#include <iostream>

#include "Cli.h"
#include "platform/registry/Registry.h"
#include "support/SettingsStore.h"

namespace {

// Problems with the hive (a garbled file set aside) go to stderr, where the
// window would put them in its log.
void ReportHiveProblems() {
  for (const std::string& m : sdm::TakeRegistryProblems()) std::cerr << m << "\n";
}

int Run(const sdm::cli::Args& a) {
  using sdm::cli::UsageError;
  if (a.empty()) throw UsageError{"missing action (get, set or list)"};
  const std::string& action = a[0];
  if (action == "get") {
    if (a.size() != 2) throw UsageError{"get takes one NAME"};
    const std::string value = sdm::GetSetting(a[1]);
    ReportHiveProblems();
    std::cout << value << "\n";
    return 0;
  }
  if (action == "set") {
    if (a.size() != 3) throw UsageError{"set takes NAME and VALUE"};
    const bool ok = sdm::SetSetting(a[1], a[2]);
    ReportHiveProblems();
    if (!ok)
      throw std::runtime_error("Cannot write the setting \"" + a[1] + "\" to " +
                               sdm::RegistryHivePath(sdm::HKEY_CURRENT_USER));
    return 0;
  }
  if (action == "list") {
    if (a.size() != 1) throw UsageError{"list takes no arguments"};
    sdm::TRegistry reg(sdm::HKEY_CURRENT_USER);
    if (reg.OpenKeyReadOnly(sdm::kProductKey))
      for (const auto& v : reg.GetValues()) {
        if (v.type == sdm::REG_DWORD)
          std::cout << v.name << "=" << static_cast<int32_t>(v.number) << " (dword)\n";
        else
          std::cout << v.name << "=" << v.text << "\n";
      }
    ReportHiveProblems();
    return 0;
  }
  throw UsageError{"unknown action \"" + action + "\" (get, set or list)"};
}

}  // namespace

SDM_CLI_COMMAND("settings", "settings get NAME | settings set NAME VALUE | settings list",
                "Reads or writes the values the program remembers (its settings key)", Run,
                R"(  get NAME         print a value (an empty line when it is not set)
  set NAME VALUE   store a value
  list             print every value as NAME=VALUE

The values live in the registry hive under $XDG_CONFIG_HOME/Tarvenit/
(SLIDOMAT_REGISTRY_DIR points it elsewhere); a copy run from a folder without
the install record keeps them in settings.ini beside the program.)");
