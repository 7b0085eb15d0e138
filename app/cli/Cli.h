#pragma once
// The command registry of slidomat-cli. Each command is one file in this folder
// that registers itself with a static SDM_CLI_COMMAND(...) object, so commands
// can be added without touching a shared table.
#include <functional>
#include <string>
#include <vector>

#include "frames/FrameOptions.h"

namespace sdm::cli {

using Args = std::vector<std::string>;
// A command returns the process exit status. Errors are reported by throwing;
// main prints the exception's text on stderr and exits with status 1.
using Handler = std::function<int(const Args& args)>;

struct Command {
  std::string name;
  std::string usage;    // one line: "fit INPUT WIDTHxHEIGHT OUTPUT.bmp [--greyscale] [--sepia]"
  std::string summary;  // one line saying what it does
  Handler run;
  // What "slidomat-cli NAME --help" adds after the usage and the summary: the
  // arguments and options, one per line, with their defaults.
  std::string options = {};
};

std::vector<Command>& Registry();

struct Registrar {
  Registrar(Command c) { Registry().push_back(std::move(c)); }
};

// Helpers for the small argument parsers of the commands.
// Parses "WIDTHxHEIGHT"; throws a usage error when it is not two positive integers.
void ParseSize(const std::string& text, int& width, int& height);
// Parses a whole decimal integer; throws a usage error naming the option otherwise.
long long ParseInt(const std::string& text, const std::string& what);
// "sharp" (or "auto": a picture on its own is fitted as the classic program
// did) or "smooth"; a usage error otherwise.
TFitFilter ParseFitFilter(const std::string& text);

// Refuses, before anything is written, an output path where an existing
// folder, named pipe or device stands, or that is the same file as one of the
// inputs, by whatever name or link: writing it would destroy what the command
// was to read, or hang. Throws EError saying which.
void CheckOutputPath(const std::string& output, const std::vector<std::string>& inputs);

// A question on stderr answered by `yes` (the --yes option), by the user at a
// terminal, or else No, so an unattended run never overwrites anything by
// surprise.
bool AskOnTerminal(const std::string& question, bool yes);

// Writes an output file the safe way: `write` writes it at the temporary
// name it is given, beside the output, and only a complete file takes the
// output's name; a failure (an exception from write) leaves an earlier file
// of that name as it was. Messages name the output, not the temporary file.
void WriteOutputFile(const std::string& output, const std::function<void(const std::string& temp)>& write);

// A usage error: main prints it with the command's usage line, status 2.
struct UsageError {
  std::string message;
};

}  // namespace sdm::cli

#define SDM_CLI_CONCAT2(a, b) a##b
#define SDM_CLI_CONCAT(a, b) SDM_CLI_CONCAT2(a, b)
#define SDM_CLI_COMMAND(...) \
  static ::sdm::cli::Registrar SDM_CLI_CONCAT(sdm_cli_registrar_, __LINE__)(::sdm::cli::Command{__VA_ARGS__})
