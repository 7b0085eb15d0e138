// slidomat-cli: the headless front end. It runs the same jobs as the window,
// through the same project, frame and video code, reporting on stdout/stderr.
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <exception>
#include <iostream>
#include <string>

#include "Cli.h"
#include "frames/PictureNotes.h"
#include "platform/RegularFile.h"
#include "support/Errors.h"
#include "support/PendingFile.h"
#include "support/PortableMode.h"
#include "support/SdmVersion.h"
#include "support/U_SysUtils.h"

namespace sdm::cli {

std::vector<Command>& Registry() {
  static std::vector<Command> commands;
  return commands;
}

void ParseSize(const std::string& text, int& width, int& height) {
  auto x = text.find_first_of("xX");
  if (x == std::string::npos) throw UsageError{"bad size \"" + text + "\" (expected WIDTHxHEIGHT)"};
  long long w = ParseInt(text.substr(0, x), "width");
  long long h = ParseInt(text.substr(x + 1), "height");
  if (w <= 0 || h <= 0 || w > 65535 || h > 65535) throw UsageError{"bad size \"" + text + "\""};
  width = static_cast<int>(w);
  height = static_cast<int>(h);
}

TFitFilter ParseFitFilter(const std::string& text) {
  if (text == "sharp" || text == "auto") return TFitFilter::Sharp;
  if (text == "smooth") return TFitFilter::Smooth;
  throw UsageError{"scaling must be auto, sharp or smooth"};
}

long long ParseInt(const std::string& text, const std::string& what) {
  long long value = 0;
  auto [ptr, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (text.empty() || ec != std::errc() || ptr != text.data() + text.size())
    throw UsageError{"bad " + what + " \"" + text + "\""};
  return value;
}

void CheckOutputPath(const std::string& output, const std::vector<std::string>& inputs) {
  struct stat out {};
  if (::stat(output.c_str(), &out) != 0) return;
  if (const std::string kind = sdm::NonRegularFileReason(out); !kind.empty())
    throw EError("The output \"" + output + "\" " + kind + "; nothing was written.");
  for (const std::string& input : inputs) {
    if (sdm::SameFile(out, input))
      throw EError("The output \"" + output + "\" is the same file as the input \"" + input +
                   "\"; nothing was written.");
  }
}

bool AskOnTerminal(const std::string& question, bool yes) {
  std::cerr << question;
  if (yes) {
    std::cerr << " yes\n";
    return true;
  }
  if (!::isatty(STDIN_FILENO)) {
    std::cerr << " no (use --yes to answer yes)\n";
    return false;
  }
  std::cerr << " [y/N] " << std::flush;
  std::string answer;
  if (!std::getline(std::cin, answer)) answer.clear();
  return !answer.empty() && (answer[0] == 'y' || answer[0] == 'Y');
}

void WriteOutputFile(const std::string& output, const std::function<void(const std::string& temp)>& write) {
  sdm::TPendingFile pending(output);
  auto named = [&](std::string text) {
    for (size_t at; (at = text.find(pending.TempPath())) != std::string::npos;)
      text.replace(at, pending.TempPath().size(), output);
    return text;
  };
  try {
    write(pending.TempPath());
  } catch (const std::exception& e) {
    throw EError(named(e.what()));
  }
  std::string why;
  if (!pending.Commit(why)) throw EError("Cannot write \"" + output + "\": " + why);
}

// What a command printed must have reached its destination: a full disk or a
// closed pipe behind stdout is a failure like any other.
static int FinishOutput(int status) {
  errno = 0;
  std::cout.flush();
  const bool failed = !std::cout || std::fflush(stdout) != 0 || std::ferror(stdout);
  if (!failed) return status;
  std::cerr << "slidomat-cli: the output cannot be written: " << std::strerror(errno != 0 ? errno : EIO) << "\n";
  return status == 0 ? 1 : status;
}

// The exit statuses every command keeps to, for scripts.
static const char* const kExitStatusHelp =
    "Exit status:\n"
    "  0  the command did what it was asked (render: the video is complete)\n"
    "  1  it failed or was cancelled; the reason is on stderr\n"
    "  2  the command line was wrong (unknown command or option, missing argument)\n";

static void PrintHelp(std::ostream& out) {
  out << "Usage: slidomat-cli COMMAND [ARGUMENTS]\n"
         "       slidomat-cli COMMAND --help   (the command's options)\n"
         "       slidomat-cli --version\n\nCommands:\n";
  auto commands = Registry();
  std::sort(commands.begin(), commands.end(), [](const Command& a, const Command& b) { return a.name < b.name; });
  for (const auto& c : commands) out << "  " << c.usage << "\n      " << c.summary << "\n";
  out << "\n" << kExitStatusHelp;
}

static void PrintCommandHelp(std::ostream& out, const Command& c) {
  out << "Usage: slidomat-cli " << c.usage << "\n\n" << c.summary << ".\n";
  if (!c.options.empty()) out << "\n" << c.options << (c.options.back() == '\n' ? "" : "\n");
  out << "\n" << kExitStatusHelp;
}

static bool AsksForHelp(const Args& args) {
  return std::any_of(args.begin(), args.end(), [](const std::string& a) { return a == "--help" || a == "-h"; });
}

static const Command* FindCommand(const std::string& name) {
  const auto& commands = Registry();
  auto it = std::find_if(commands.begin(), commands.end(), [&](const Command& c) { return c.name == name; });
  return it == commands.end() ? nullptr : &*it;
}

}  // namespace sdm::cli

int main(int argc, char** argv) {
  using namespace sdm::cli;
  // Past a file-size limit a write should fail with "File too large" and be
  // reported like a full disk, not kill the program half-way through a file.
  std::signal(SIGXFSZ, SIG_IGN);
  const std::string first = argc < 2 ? std::string() : argv[1];
  // "help COMMAND" is "COMMAND --help".
  if (first == "help" && argc >= 3) {
    if (const Command* c = FindCommand(argv[2])) {
      PrintCommandHelp(std::cout, *c);
      return FinishOutput(0);
    }
  }
  if (argc < 2 || first == "--help" || first == "-h" || first == "help") {
    PrintHelp(argc < 2 ? std::cerr : std::cout);
    return FinishOutput(argc < 2 ? 2 : 0);
  }
  if (first == "--version") {
    std::cout << "slidomat-cli " << SDM_VERSION_TEXT << "\n";
    return FinishOutput(0);
  }
  const Command* it = FindCommand(first);
  if (!it) {
    std::cerr << "slidomat-cli: unknown command \"" << first << "\"\n";
    PrintHelp(std::cerr);
    return 2;
  }
  Args args(argv + 2, argv + argc);
  // Every command answers --help, whatever else is on its line, and touches
  // nothing then (not even the portable settings).
  if (AsksForHelp(args)) {
    PrintCommandHelp(std::cout, *it);
    return FinishOutput(0);
  }
  int status;
  // What the picture readers have to say (a colour profile they could not
  // use) goes to stderr; render sends it to the log as well.
  sdm::SetPictureNoteSink([](const std::string& line, int) { std::cerr << line << "\n"; });
  // A copy without an uninstall entry keeps its settings in settings.ini
  // beside it: read in now, written back (and the registry cleared) however
  // the command ends.
  sdm::TPortableMode portable(sdm::ProgramFilePath());
  try {
    status = it->run(args);
  } catch (const UsageError& e) {
    std::cerr << "slidomat-cli " << it->name << ": " << e.message << "\nUsage: slidomat-cli " << it->usage << "\n";
    status = 2;
  } catch (const std::exception& e) {
    std::cerr << e.what() << "\n";
    status = 1;
  }
  // Settings that did not reach settings.ini stay in the registry (nothing
  // deletes them there), and the next run writes them back; but this run
  // did not do all it was asked, and says so.
  if (!portable.Finish()) {
    std::cerr << "slidomat-cli: the settings could not be written to " << portable.IniPath()
              << (portable.Problem().empty() ? "" : " (" + portable.Problem() + ")")
              << "; they stay in the registry until a later run writes them\n";
    if (status == 0) status = 1;
  }
  return FinishOutput(status);
}
