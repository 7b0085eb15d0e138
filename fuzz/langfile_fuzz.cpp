// libFuzzer target for language files: the record store, the language list's
// reading, LoadAndApply onto an in-memory program, and the text form. The
// store works on files, so each input is written to a file of this process
// first. Build and run it with scripts/fuzz.sh.
#include <string>

#include "FuzzInput.h"
#include "LangFuzzBody.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const std::string path = sdm::fuzz::ScratchPath("langfile_fuzz", ".SPK");
  sdm::fuzz::WriteInput("langfile_fuzz", path, data, size);
  const sdm::fuzz::TLangRun run = sdm::fuzz::RunLangFile(path);
  // Removed after every input: libFuzzer ends without running exit handlers.
  std::remove(path.c_str());
  sdm::fuzz::AbortOnFaults("langfile_fuzz", run.faults);
  return 0;
}
