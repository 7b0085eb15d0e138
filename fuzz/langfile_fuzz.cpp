// libFuzzer target for language files: the record store, the language list's
// reading, LoadAndApply onto an in-memory program, and the text form. The
// store works on files, so each input is written to a file of this process
// first. Build and run it with scripts/fuzz.sh.
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "LangFuzzBody.h"

namespace {

const std::string& InputPath() {
  static const std::string path =
      (std::filesystem::temp_directory_path() / ("sdm_langfile_fuzz_" + std::to_string(::getpid()) + ".SPK")).string();
  return path;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string& path = InputPath();
  {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
    if (!out) {
      std::fprintf(stderr, "langfile_fuzz: cannot write %s\n", path.c_str());
      std::abort();
    }
  }
  const sdm::fuzz::TLangRun run = sdm::fuzz::RunLangFile(path);
  // Removed after every input: libFuzzer ends without running exit handlers.
  std::remove(path.c_str());
  if (!run.faults.empty()) {
    for (const std::string& f : run.faults) std::fprintf(stderr, "langfile_fuzz: %s\n", f.c_str());
    std::abort();
  }
  return 0;
}
