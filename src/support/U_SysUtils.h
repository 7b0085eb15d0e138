#pragma once
// File and system utilities used across the program: the file layer (kept as
// routines that report failure by their result, never by an exception), file
// and folder tests, the per-user data folder, file sizes, folder listings, the
// duration text of the soundtrack, the description of the running system for
// the start-up log, and a few string tests.
//
// Linux has neither the 260-character limit nor path prefixes, so the "Long"
// routines are ordinary file calls with the results the callers expect.
#include <cstdint>
#include <string>
#include <vector>

namespace sdm {

// The file functions of this system always handle any path.
inline constexpr bool WideApiAvailable = true;

// ---- File layer ---------------------------------------------------------

using THandle = int;  // a file descriptor
inline constexpr THandle INVALID_HANDLE_VALUE = -1;

// Access rights and dispositions of CreateFileLong, numbered as on Windows.
inline constexpr uint32_t GENERIC_READ = 0x80000000u;
inline constexpr uint32_t GENERIC_WRITE = 0x40000000u;
enum : uint32_t { CREATE_NEW = 1, CREATE_ALWAYS = 2, OPEN_EXISTING = 3, OPEN_ALWAYS = 4, TRUNCATE_EXISTING = 5 };

// File attributes reported by the searches.
enum : uint32_t {
  FILE_ATTRIBUTE_READONLY = 0x01,
  FILE_ATTRIBUTE_HIDDEN = 0x02,
  FILE_ATTRIBUTE_DIRECTORY = 0x10,
  FILE_ATTRIBUTE_ARCHIVE = 0x20,
};

// Opens an existing file. Mode: access = Mode and 3 (0 read, 1 write, 2 both;
// 3 is refused), sharing = Mode and 0xF0 (0x00..0x40; larger is refused; Linux
// does not enforce sharing). Empty path or refused mode: INVALID_HANDLE_VALUE.
THandle OpenFileLong(const std::string& path, uint32_t mode);
// The general create/open call. Share, template, flags and security are
// accepted for the callers' sake and have no effect here. A path of two
// characters or fewer gives INVALID_HANDLE_VALUE.
THandle CreateFileLong(const std::string& path, uint32_t access, uint32_t share, THandle templateFile,
                       uint32_t flagsAndAttributes, uint32_t disposition, const void* security = nullptr);
void CloseHandleLong(THandle handle);
// Creates one folder (not its parents); false when it exists already or fails.
bool CreateDirectoryLong(const std::string& path, const void* security = nullptr);

// A search over one folder. The last part of Path may hold the wildcards '*'
// and '?', matched without regard to case as the callers expect ("*.SPK").
struct TFindData {
  std::string name;  // the entry's name, without folder
  uint32_t attributes = 0;
  int64_t size = 0;
  int64_t modified = 0;  // seconds since 1970
};
struct TFileSearch;
using TSearchHandle = TFileSearch*;
inline constexpr TSearchHandle INVALID_SEARCH_HANDLE = nullptr;
TSearchHandle FindFirstLong(const std::string& path, TFindData& data);
bool FindNextLong(TSearchHandle handle, TFindData& data);
void FindCloseLong(TSearchHandle handle);

bool FileExistsLong(const std::string& path);       // exists and is not a folder
bool DirectoryExistsLong(const std::string& path);  // exists and is a folder
// There are no short names here: the path itself when it exists, else "".
std::string GetShortPathLong(const std::string& path);

// Adds the path separator '/' unless the path is empty or already ends in one.
std::string IncludeTrailingBackslashW(const std::string& path);
// The part after the last '/'.
std::string ExtractFileNameW(const std::string& path);
// The part up to and including the last '/' ("" when there is none).
std::string ExtractFilePath(const std::string& path);

// ---- Files and folders --------------------------------------------------

// The per-user data folder Tarvenit/<Title>/ under $XDG_DATA_HOME (default
// ~/.local/share), created when missing; the folder of ProgramPath when that
// cannot be made. Always ends with '/'.
std::string GetAppDataFolder(const std::string& programPath, const std::string& title);
// The full path of the running program file.
std::string ProgramFilePath();
// The per-user roaming data folder ($XDG_DATA_HOME, default ~/.local/share)
// and the local one ($XDG_CACHE_HOME, default ~/.cache); "" when unknown.
std::string RoamingDataFolder();
std::string LocalDataFolder();

// Size in bytes (64-bit); 0 when the file cannot be found.
int64_t FileSizeOf(const std::string& path);
// True when the file exists and holds at least one byte.
bool FileIsNonEmpty(const std::string& path);
// No file-system redirection exists here; kept for callers. Always true.
bool SetWow64Redirection(bool disable);

// Listings add full paths (folder + name) to List, skipping "." and "..".
// Entries come sorted by name so results do not depend on the file system.
void ListSubfolders(const std::string& folder, std::vector<std::string>& list);
void ListFiles(const std::string& folder, std::vector<std::string>& list);
void FindFileByName(const std::string& folder, const std::string& name, std::vector<std::string>& list);
// Recursive: files named Name, or whose extension (with its dot) is Ext, in
// Folder and all its subfolders, compared without regard to case.
void FindFilesByName(const std::string& folder, const std::string& name, std::vector<std::string>& list);
void FindFilesByExt(const std::string& folder, const std::string& ext, std::vector<std::string>& list);

// ---- Text and system information ---------------------------------------

// "m:ss" below an hour, else "h:mm:ss": 59 -> "0:59", 3725 -> "1:02:05".
std::string FormatDuration(int64_t seconds);

// The program's four version numbers joined by "." ("1.0.0.0") for a program
// file built by this project, "" for a file without version information, and
// "File not found" when the file does not exist.
std::string GetFileVersionString(const std::string& path);

// The pieces of the operating-system lines of the start-up log.
std::string GetWindowsName();  // kernel name and release: "Linux 6.1.0-18-amd64"
// The name of a Windows NT version, for version texts read from elsewhere:
// 6.1 -> "6.1 (Seven)"; 10.0 -> "10.0.<build> (Windows10)" or, from build 20000,
// "11.0.<build> (Windows11)".
std::string GetNTName(int major, int minor, int build);
std::string GetReactOSName();  // always "" here
bool IsWow64();                // a 32-bit program on a 64-bit kernel
bool IsAdministrator();        // root, or a member of the group sudo or wheel
std::string BoolToYesNo(bool b);
// The three lines in the order the start-up log writes them:
// "Windows : ...", "64Bits : Yes|No", "Administrator : Yes|No".
std::vector<std::string> OperatingSystemLogLines();

// String tests; "Text" compares without regard to (ASCII) case.
std::string LeftStr(const std::string& s, int64_t n);
std::string RightStr(const std::string& s, int64_t n);
bool StartsText(const std::string& s, const std::string& prefix);
bool EndsText(const std::string& s, const std::string& suffix);
bool StartsStr(const std::string& s, const std::string& prefix);
bool ContainsText(const std::string& sub, const std::string& s);  // note the order: Sub first
bool SameText(const std::string& a, const std::string& b);
std::string LowerCase(const std::string& s);  // ASCII letters only

// Keeps A-Z a-z 0-9 - . _ , a space becomes "%20", any other byte "%XX".
std::string UrlEncode(const std::string& s);

}  // namespace sdm
