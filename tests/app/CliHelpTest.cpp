// What the command line says about itself: every command answers --help with
// its usage and a line for each of its options, and the top-level help lists
// the exit statuses a script can rely on.
#include <gtest/gtest.h>

#include <cctype>
#include <filesystem>
#include <sstream>

#include "testsupport/TestSupport.h"

using namespace sdm::test;
namespace fs = std::filesystem;

namespace {

// The command names of the top-level help: the lines of its "Commands:"
// list indented by exactly two blanks.
std::vector<std::string> CommandNames(const std::string& help) {
  std::vector<std::string> names;
  std::istringstream lines(help.substr(help.find("Commands:")));
  std::string line;
  std::getline(lines, line);
  while (std::getline(lines, line) && !line.empty())
    if (line.size() > 2 && line.compare(0, 2, "  ") == 0 && line[2] != ' ')
      names.push_back(line.substr(2, line.find(' ', 2) - 2));
  return names;
}

// The long options named in a text: "--" and the letters, digits and dashes
// after it.
std::vector<std::string> Options(const std::string& text) {
  std::vector<std::string> options;
  for (size_t at = text.find("--"); at != std::string::npos; at = text.find("--", at + 2)) {
    size_t end = at + 2;
    while (end < text.size() && (std::islower(static_cast<unsigned char>(text[end])) ||
                                 std::isdigit(static_cast<unsigned char>(text[end])) || text[end] == '-'))
      ++end;
    if (end > at + 2) options.push_back(text.substr(at, end - at));
    at = end - 2;
  }
  return options;
}

}  // namespace

using CliHelp = PrivateRegistryTest;

TEST_F(CliHelp, EveryCommandAnswersHelpWithItsUsageAndOptions) {
  const CommandResult top = RunCli({"--help"});
  ASSERT_EQ(top.status, 0);
  for (const char* status : {"Exit status:", "\n  0  ", "\n  1  ", "\n  2  "})
    EXPECT_NE(top.out.find(status), std::string::npos) << status << "\n" << top.out;
  const std::vector<std::string> names = CommandNames(top.out);
  ASSERT_GE(names.size(), 11u) << top.out;

  for (const std::string& name : names) {
    SCOPED_TRACE(name);
    const CommandResult r = RunCli({name, "--help"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.err, "");
    ASSERT_EQ(r.out.rfind("Usage: slidomat-cli " + name, 0), 0u) << r.out;
    EXPECT_NE(r.out.find("Exit status:"), std::string::npos);
    // Every option of the usage line is explained below it.
    const std::string usage = r.out.substr(0, r.out.find('\n'));
    const std::string rest = r.out.substr(usage.size());
    for (const std::string& option : Options(usage))
      EXPECT_NE(rest.find("  " + option), std::string::npos) << option << " is not explained:\n" << r.out;
    // -h and "help NAME" say the same.
    EXPECT_EQ(RunCli({name, "-h"}).out, r.out);
    EXPECT_EQ(RunCli({"help", name}).out, r.out);
  }
}

TEST_F(CliHelp, HelpAmongOtherArgumentsDoesNothingElse) {
  const std::string out = dir.file("never.avi");
  const CommandResult r = RunCli({"render", "-o", out, SourcePath("examples/bars.bmp"), "--help"});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out.rfind("Usage: slidomat-cli render", 0), 0u);
  EXPECT_FALSE(fs::exists(out));
  // A wrong line is still a usage error, status 2, with the usage.
  const CommandResult bad = RunCli({"render", "--no-such-option", SourcePath("examples/bars.bmp")});
  EXPECT_EQ(bad.status, 2);
  EXPECT_NE(bad.err.find("Usage: slidomat-cli render"), std::string::npos) << bad.err;
  EXPECT_EQ(RunCli({"no-such-command"}).status, 2);
  EXPECT_EQ(RunCli({}).status, 2);
}
