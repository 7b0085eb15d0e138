#pragma once
// Finding the programs a finished video is handed to, and the compilation
// files the burning program reads.
//
// The burning and DVD programs of the vendor are found through its registry
// key: HKEY_CURRENT_USER\Software\Xol names them, as a program file or as the
// folder holding it. On a Linux desktop that vendor is usually absent, so the
// Burn command also accepts a disc-burning program found on the PATH.
#include <string>
#include <vector>

namespace sdm {

// The value names and program files of the vendor's tools.
inline constexpr const char* kVendorKey = "Software\\Xol";
inline constexpr const char* kBurnMutexName = "BRENNOCD_RUNNING";

// The string value `value` of the vendor's key: a file when one exists there,
// else a folder holding `executable`; empty when neither exists (or the value
// or key is missing). The key is only read, never created.
std::string FindToolPath(const std::string& value, const std::string& executable);
// "BrennoCD", then "Brenno" (both BrennoCd.exe).
std::string FindBurnTool();
// "Kerdova" (Kerdova.exe), then "Sandrovid" (sandrovid.exe).
std::string FindDvdTool();

// A program that burns discs: the vendor's (handed compilation files) or one
// on the PATH (handed the files themselves after its own options).
struct TBurner {
  std::string Path;  // empty: none found
  bool Vendor = false;
  std::vector<std::string> FileOptions;  // what goes before the files
  bool Found() const { return !Path.empty(); }
};
// The vendor's burning program when the registry names one, else the first
// of brasero, k3b and xfburn found on the PATH.
TBurner FindBurner();
// The program of that name in a folder of $PATH that can be run; "" if none.
std::string FindOnPath(const std::string& name);

// Compilation files: dataFolder + prefix + "_" + k + ".brn", one full path
// per line, each ended by CR LF.
std::string CompilationFileName(const std::string& dataFolder, const std::string& prefix, int k);
// False when the file could not be written whole.
bool WriteCompilationFile(const std::string& fileName, const std::vector<std::string>& files);
std::vector<std::string> ReadCompilationFile(const std::string& fileName);

// The command that hands compilation file `fileName` to the burner: the
// vendor's program takes "/datafl" and the file; another takes its options
// and the files listed in it.
std::vector<std::string> BurnCommand(const TBurner& burner, const std::string& fileName);

}  // namespace sdm
