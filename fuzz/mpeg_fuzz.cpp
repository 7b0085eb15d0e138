// libFuzzer target for the MPEG audio reader: the frame search, the frame
// index, the Layer I, II and III decoders and the fast play-time estimate.
// The reader works on files, so each input is written to a file of this
// process first. Build and run it with scripts/fuzz.sh.
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "MpegFuzzBody.h"

namespace {

const std::string& InputPath() {
  static const std::string path =
      (std::filesystem::temp_directory_path() / ("sdm_mpeg_fuzz_" + std::to_string(::getpid()) + ".mp3")).string();
  return path;
}

uint64_t Seed(const uint8_t* data, size_t size) {
  // FNV-1a over the input: the same input always gets the same request sizes,
  // so a crash reproduces from its file alone.
  uint64_t h = 14695981039346656037ull;
  for (size_t i = 0; i < size; ++i) h = (h ^ data[i]) * 1099511628211ull;
  return h;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string& path = InputPath();
  {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
    if (!out) {
      std::fprintf(stderr, "mpeg_fuzz: cannot write %s\n", path.c_str());
      std::abort();
    }
  }
  const sdm::fuzz::TMpegRun run = sdm::fuzz::RunMpegFile(path, Seed(data, size));
  // Removed after every input: libFuzzer ends without running exit handlers.
  std::remove(path.c_str());
  if (!run.faults.empty()) {
    for (const std::string& f : run.faults) std::fprintf(stderr, "mpeg_fuzz: %s\n", f.c_str());
    std::abort();
  }
  return 0;
}
