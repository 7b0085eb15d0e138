// codecs: the compressor list as the main window's codec box shows it.
#include <iostream>

#include "Cli.h"
#include "avi/U_BmpToAvi.h"
#include "support/StringList.h"

namespace {

int RunCodecs(const sdm::cli::Args& args) {
  if (!args.empty()) throw sdm::cli::UsageError{"codecs takes no arguments"};
  sdm::TBmpToAvi writer;
  sdm::TStringList lines;
  writer.ListCodecs(lines);
  for (const std::string& line : lines.Items()) std::cout << line << "\n";
  return 0;
}

}  // namespace

SDM_CLI_COMMAND("codecs", "codecs", "Lists the installed video compressors, one \"FOURCC description\" per line",
                RunCodecs,
                R"(No options. The first four characters of a line are what --codec takes.
SLIDOMAT_CODECS (a comma-separated FourCC list) restricts the list.)");
