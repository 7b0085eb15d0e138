#pragma once
// What the fuzz targets share: a scratch name of this process, the input
// written to a file (the readers under test open files, not memory), and the
// end of the run when a check found a fault.
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace sdm::fuzz {

// temp/sdm_<target>_<pid><suffix>: parallel fuzz jobs never share a file.
inline std::string ScratchPath(const char* target, const std::string& suffix) {
  const std::string name = "sdm_" + std::string(target) + "_" + std::to_string(::getpid()) + suffix;
  return (std::filesystem::temp_directory_path() / name).string();
}

// Writes the input to path. A run on a file that was not written would prove
// nothing, so a failed write ends the fuzzing.
inline void WriteInput(const char* target, const std::string& path, const uint8_t* data, size_t size) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
  out.close();
  if (!out) {
    std::fprintf(stderr, "%s: cannot write %s\n", target, path.c_str());
    std::abort();
  }
}

// Names every fault and aborts, which libFuzzer reports with the input.
inline void AbortOnFaults(const std::string& target, const std::vector<std::string>& faults) {
  if (faults.empty()) return;
  for (const std::string& f : faults) std::fprintf(stderr, "%s: %s\n", target.c_str(), f.c_str());
  std::abort();
}

}  // namespace sdm::fuzz
