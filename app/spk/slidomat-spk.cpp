// slidomat-spk: turns the text source of a language file into the .SPK file
// the program reads, and an .SPK file back into text.
//
//   slidomat-spk compile SOURCE.txt OUT.SPK [--version 1.2.3.4]
//   slidomat-spk text IN.SPK OUT.txt [--flag FLAG.bmp]
//
// The build compiles the shipped translations with it; a translator turns the
// source-language file (slidomat -co) into text with it, translates, and
// compiles the result.
//
// Outputs are checked as the other programs check theirs (no folder, pipe or
// device, never the input by any name), written under a name of their own
// and put in place only when complete. The files read are plain files of a
// bounded size: a flag picture that is a pipe would wait for ever, a device
// never end.
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "localization/LangSource.h"
#include "platform/RegularFile.h"
#include "support/Errors.h"
#include "support/PendingFile.h"
#include "support/SdmVersion.h"
#include "support/VersionInfo.h"

namespace fs = std::filesystem;

namespace {

// A flag is a picture of some 30 x 20 pixels: a few kilobytes.
constexpr int64_t kMaxFlagBytes = 1 << 20;
constexpr int64_t kMaxSourceBytes = 16 << 20;

std::string ReadFile(const fs::path& path, int64_t maxBytes, const char* what) {
  std::string problem;
  const int fd = sdm::OpenRegularFileForReading(path.string(), problem);
  if (fd < 0) throw sdm::EError("Cannot read " + std::string(what) + " " + path.string() + ": " + problem);
  struct Closer {
    int fd;
    ~Closer() { ::close(fd); }
  } closer{fd};
  std::string data;
  char buffer[65536];
  for (;;) {
    const ssize_t n = ::read(fd, buffer, sizeof buffer);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) throw sdm::EError("Cannot read " + path.string() + ": " + std::strerror(errno));
    if (n == 0) break;
    data.append(buffer, static_cast<size_t>(n));
    if (static_cast<int64_t>(data.size()) > maxBytes)
      throw sdm::EError("The " + std::string(what) + " " + path.string() + " is larger than " +
                        std::to_string(maxBytes >> 10) + " KiB");
  }
  return data;
}

// Refuses an output path where a folder, pipe or device stands, or that is
// one of the inputs by any name or link.
void CheckOutput(const fs::path& output, const std::vector<fs::path>& inputs) {
  struct stat out {};
  if (::stat(output.c_str(), &out) != 0) return;
  if (const std::string kind = sdm::NonRegularFileReason(out); !kind.empty())
    throw sdm::EError("The output \"" + output.string() + "\" " + kind + "; nothing was written.");
  for (const fs::path& input : inputs)
    if (sdm::SameFile(out, input.string()))
      throw sdm::EError("The output \"" + output.string() + "\" is the same file as the input \"" + input.string() +
                        "\"; nothing was written.");
}

// Writes through a file of its own beside path, put in place when complete.
void WriteFile(const fs::path& path, const std::string& data) {
  sdm::TPendingFile pending(path.string());
  std::string why;
  const int fd = pending.OpenForWriting(why);
  for (size_t done = 0; fd >= 0 && why.empty() && done < data.size();) {
    const ssize_t n = ::write(fd, data.data() + done, data.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0)
      why = std::strerror(n < 0 ? errno : ENOSPC);
    else
      done += static_cast<size_t>(n);
  }
  if (fd >= 0 && ::close(fd) != 0 && why.empty()) why = std::strerror(errno);
  if (!why.empty() || !pending.Commit(why)) throw sdm::EError("Cannot write " + path.string() + ": " + why);
}

const char* const kUsage =
    "usage: slidomat-spk compile SOURCE.txt OUT.SPK [--version 1.2.3.4]\n"
    "       slidomat-spk text IN.SPK OUT.txt [--flag FLAG.bmp]\n";

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
      "         `slidomat -co`) into text, its flag into OUT.bmp beside it or\n"
      "         the file --flag names; an existing different picture there is\n"
      "         never replaced\n"
      "\n"
      "Exit status: 0 done, 1 a file could not be read or written, 2 wrong usage.\n",
      stdout);
  return std::fflush(stdout) == 0 ? 0 : 1;
}

void Compile(const fs::path& sourcePath, const fs::path& out, const std::string& version) {
  sdm::TLangSource src =
      sdm::ParseLangSource(ReadFile(sourcePath, kMaxSourceBytes, "language source"), sourcePath.string());
  std::vector<fs::path> inputs{sourcePath};
  if (!src.flagFile.empty()) {
    const fs::path flag = sourcePath.parent_path() / src.flagFile;
    const std::string bmp = ReadFile(flag, kMaxFlagBytes, "flag picture");
    src.header.Flag.assign(bmp.begin(), bmp.end());
    inputs.push_back(flag);
  }
  if (!version.empty()) src.header.ProgramVersion = sdm::PackVersion(version);
  CheckOutput(out, inputs);
  sdm::TPendingFile pending(out.string());
  try {
    sdm::WriteLanguageFile(src, pending.TempPath());
  } catch (const sdm::EError&) {
    throw sdm::EError("Cannot write " + out.string());
  }
  std::string why;
  if (!pending.Commit(why)) throw sdm::EError("Cannot write " + out.string() + ": " + why);
}

// The flag picture goes to FLAG.bmp when one is given, else to OUT with the
// extension .bmp; an existing file there that is not this very flag is never
// replaced unasked (--flag names the file to write).
void ToText(const fs::path& spk, const fs::path& out, const fs::path& flagAsked) {
  CheckOutput(out, {spk});
  sdm::TLangSource src = sdm::ReadLanguageFile(spk.string());
  const std::string bmp(src.header.Flag.begin(), src.header.Flag.end());
  fs::path flag;
  if (!bmp.empty()) {
    flag = flagAsked;
    if (flag.empty()) {
      flag = out;
      flag.replace_extension(".bmp");
    }
    CheckOutput(flag, {spk, out});
    if (flag == out || flag.lexically_normal() == out.lexically_normal())
      throw sdm::EError("The flag picture and the text cannot both be " + out.string());
    std::error_code ec;
    if (flagAsked.empty() && fs::exists(flag, ec) && ReadFile(flag, kMaxFlagBytes + 1, "file") != bmp)
      throw sdm::EError("\"" + flag.string() +
                        "\" exists and is not this language file's flag; nothing was written. Give --flag FILE.bmp "
                        "to save the flag under another name.");
    // The text names the flag as seen from its own folder.
    const fs::path relative = flag.lexically_proximate(out.parent_path().empty() ? fs::path(".") : out.parent_path());
    src.flagFile = relative.string();
  }
  const std::string text = sdm::FormatLangSource(src);
  if (!bmp.empty()) WriteFile(flag, bmp);
  WriteFile(out, text);
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
    } else if (cmd == "text" && (argc == 4 || (argc == 6 && std::string(argv[4]) == "--flag"))) {
      ToText(argv[2], argv[3], argc == 6 ? argv[5] : "");
    } else {
      return Usage();
    }
  } catch (const std::exception& e) {
    std::fprintf(stderr, "slidomat-spk: %s\n", e.what());
    return 1;
  }
  return 0;
}
