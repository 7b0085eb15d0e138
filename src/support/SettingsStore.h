#pragma once
// Unit U_SDMFct.
// The settings store: the program's values under the product key
// "SOFTWARE\Tarvenit\Slidomat" of HKEY_CURRENT_USER (string values, "1"/"0"
// for flags, "" for "not set"; the remembered language `langue` is the one
// 32-bit value), and the portable mode that keeps them in settings.ini beside
// the program between runs, so a portable copy leaves no trace in the hive.
//
// Values are read when needed and written at once; nothing is cached here.
#include <cstdint>
#include <optional>
#include <string>

namespace sdm {

class TKLog;

inline constexpr const char* kCompanyKey = "SOFTWARE\\Tarvenit";
inline constexpr const char* kProductName = "Slidomat";
inline constexpr const char* kProductKey = "SOFTWARE\\Tarvenit\\Slidomat";
inline constexpr const char* kUninstallDisplayName = "Tarvenit Slidomat";
inline constexpr const char* kUninstallKey = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall";
inline constexpr const char* kUninstallKeyWow = "SOFTWARE\\Wow6432Node\\Microsoft\\Windows\\CurrentVersion\\Uninstall";

// The string value Name of the product key, "" when missing (or not a string).
// The key is created when missing.
std::string GetSetting(const std::string& name);
// Writes a string value; false when the key could not be opened or written.
bool SetSetting(const std::string& name, const std::string& value);
// SetSetting(name, "1" or "0").
bool SetSettingBool(const std::string& name, bool flag);
// The 32-bit values of the product key (the remembered language `langue`).
std::optional<uint32_t> GetSettingDWord(const std::string& name);
bool SetSettingDWord(const std::string& name, uint32_t value);

// True when an uninstall entry (HKEY_CURRENT_USER, then HKEY_LOCAL_MACHINE and
// its Wow6432Node twin) has a display name starting with the prefix, ignoring
// case; an entry without a "DisplayName" string goes by its key name.
bool IsProgramInstalled(const std::string& displayNamePrefix);

// settings.ini: section "Settings" holds the string values, "Settings_DWORD"
// the 32-bit ones as signed decimal numbers. A file that is not a plain file
// (a named pipe, a device) or larger than 4 MiB is not read. When given,
// problem receives why the file was not (wholly) read or written, for the
// log; "" when all went well.
void ImportSettingsFromIni(const std::string& productName, const std::string& iniPath, std::string* problem = nullptr);
// True when every value reached the file. The file is updated in place: keys
// not in the registry stay. On failure the file is left as it was, and so is
// the registry, so nothing is lost; a file that would grow beyond what import
// reads is not written.
bool ExportSettingsToIni(const std::string& productName, const std::string& iniPath, std::string* problem = nullptr);

bool DeleteProductKey(const std::string& productName);
// Deletes "SOFTWARE\Tarvenit" when it has neither sub-keys nor values.
void DeleteCompanyKeyIfEmpty();
// The program-location marker: value Title = ProgramPath in the company key.
bool SetProgramLocation(const std::string& title, const std::string& programPath);
void DeleteProgramLocation(const std::string& title);
// Removes Tarvenit/ under the per-user data folder when it has no subfolder.
void RemoveEmptyCompanyDataFolder();
// This system keeps no virtualised copy of program folders. The folder such a
// copy would have is $XDG_CACHE_HOME/VirtualStore/<ProgramFolder without its
// leading '/'>; when it exists its language files (*.SPK) are deleted, the
// folder removed when empty, and its path returned; otherwise "".
std::string CleanVirtualStore(const std::string& programFolder);

// settings.ini beside the program file.
std::string SettingsIniPath(const std::string& programPath);

// Hands the registry layer's queued problems (a garbled hive kept aside, a
// failed write) to the log as Error lines. Returns how many there were.
int LogRegistryProblems(TKLog& log);

}  // namespace sdm
