// slidomat-spk: turns the text source of a language file into the .SPK file
// the program reads, and an .SPK file back into text.
//
//   slidomat-spk compile SOURCE.txt OUT.SPK [--version 1.2.3.4]
//   slidomat-spk text IN.SPK OUT.txt
//
// The build compiles the shipped translations with it; a translator turns the
// source-language file (slidomat -co) into text with it, translates, and
// compiles the result.
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include "localization/LangSource.h"
#include "support/Errors.h"
#include "support/SdmVersion.h"
#include "support/VersionInfo.h"

namespace fs = std::filesystem;

namespace {

std::string ReadFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) throw sdm::EError("Cannot read " + path.string());
  return std::string(std::istreambuf_iterator<char>(in), {});
}

void WriteFile(const fs::path& path, const std::string& data) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(data.data(), std::streamsize(data.size()));
  if (!out.flush()) throw sdm::EError("Cannot write " + path.string());
}

const char* const kUsage =
    "usage: slidomat-spk compile SOURCE.txt OUT.SPK [--version 1.2.3.4]\n"
    "       slidomat-spk text IN.SPK OUT.txt\n";

int Usage() {
  std::fputs(kUsage, stderr);
  return 2;
}

// --help and --version, as every installed program answers them.
int Help() {
  std::fputs(kUsage, stdout);
  std::fputs(
      "\n"
      "compile  turns the text source of a language file into the .SPK file the\n"
      "         program reads (--version stamps the program version it is for)\n"
      "text     turns an .SPK file (such as SDM_ORIGINAL.SPK, written by\n"
      "         `slidomat -co`) into text, its flag into a BMP beside it\n"
      "\n"
      "Exit status: 0 done, 1 a file could not be read or written, 2 wrong usage.\n",
      stdout);
  return std::fflush(stdout) == 0 ? 0 : 1;
}

void Compile(const fs::path& sourcePath, const fs::path& out, const std::string& version) {
  sdm::TLangSource src = sdm::ParseLangSource(ReadFile(sourcePath), sourcePath.string());
  if (!src.flagFile.empty()) {
    const std::string bmp = ReadFile(sourcePath.parent_path() / src.flagFile);
    src.header.Flag.assign(bmp.begin(), bmp.end());
  }
  if (!version.empty()) src.header.ProgramVersion = sdm::PackVersion(version);
  sdm::WriteLanguageFile(src, out.string());
}

void ToText(const fs::path& spk, const fs::path& out) {
  sdm::TLangSource src = sdm::ReadLanguageFile(spk.string());
  if (!src.header.Flag.empty()) {
    fs::path flag = out;
    flag.replace_extension(".bmp");
    WriteFile(flag, std::string(src.header.Flag.begin(), src.header.Flag.end()));
    src.flagFile = flag.filename().string();
  }
  WriteFile(out, sdm::FormatLangSource(src));
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 2 && (std::string(argv[1]) == "--help" || std::string(argv[1]) == "-h")) return Help();
  if (argc == 2 && std::string(argv[1]) == "--version") {
    std::printf("slidomat-spk %s\n", SDM_VERSION_TEXT);
    return std::fflush(stdout) == 0 ? 0 : 1;
  }
  if (argc < 4) return Usage();
  const std::string cmd = argv[1];
  try {
    if (cmd == "compile" && (argc == 4 || (argc == 6 && std::string(argv[4]) == "--version"))) {
      Compile(argv[2], argv[3], argc == 6 ? argv[5] : "");
    } else if (cmd == "text" && argc == 4) {
      ToText(argv[2], argv[3]);
    } else {
      return Usage();
    }
  } catch (const std::exception& e) {
    std::fprintf(stderr, "slidomat-spk: %s\n", e.what());
    return 1;
  }
  return 0;
}
