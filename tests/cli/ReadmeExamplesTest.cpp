// Every command in the README's code blocks runs as written, on a copy of examples/: the commands
// of one block in turn, in a fresh copy, as a user would type them in the checkout. A command with
// a prompt ("$ vellumar-calc ..." and the lines under it) must print exactly what the README
// shows; one without must succeed and say nothing on standard error. Commands are vellumar-calc,
// after any VARIABLE=value settings, and cp; mpirun's lines are left to the tiles' tests (they
// need a launcher, and a hostfile's lines a cluster).

#include <gtest/gtest.h>
#include <wordexp.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "CalcRunner.h"

namespace vellumar::cli::testing {
namespace {

// A command of the README: its 1-based line, its VARIABLE=value settings, its program
// ("vellumar-calc" or "cp") and arguments; for one typed after a prompt, what the README shows
// under it: the lines it prints, each ending in a line feed, and the line marked "(on standard
// error, status N)" with N.
struct Command {
  int line = 0;
  std::vector<std::pair<std::string, std::string>> environment{};
  std::string program{};
  std::vector<std::string> arguments{};
  bool shown = false;
  std::string out{}, err{};
  int status = 0;
};

// The words of a command line as a POSIX shell splits them (blanks separate, quotes keep their
// text together), without running anything; none for a line no shell would take as a simple
// command, such as one with an unterminated quote.
std::optional<std::vector<std::string>> splitWords(const std::string& text) {
  wordexp_t expanded;
  if (wordexp(text.c_str(), &expanded, WRDE_NOCMD | WRDE_UNDEF) != 0) return std::nullopt;
  std::vector<std::string> words(expanded.we_wordv, expanded.we_wordv + expanded.we_wordc);
  wordfree(&expanded);
  return words;
}

// Reads a shown line "TEXT (on standard error, status N)", with blanks before the parenthesis,
// into the error and status of the command shown; false for an output line. Read by hand:
// std::regex warns at -O2 under the sanitizers.
bool errorLine(const std::string& line, Command& shown) {
  const std::size_t at = line.rfind(" (on standard error, status ");
  const std::size_t end = line.find_last_not_of(" \t", at);
  int status = 0, length = 0;
  if (at == std::string::npos || end == std::string::npos ||
      std::sscanf(line.c_str() + at, " (on standard error, status %d)%n", &status, &length) != 1 ||
      at + length != line.size()) {
    return false;
  }
  shown.err += line.substr(0, end + 1) + "\n";
  shown.status = status;
  return true;
}

// The command a code line holds ("$ " for a prompt), or false for a line that holds none.
bool commandIn(const std::string& text, int line, Command& command) {
  command = Command{.line = line, .shown = text.starts_with("$ ")};
  const auto words = splitWords(command.shown ? text.substr(2) : text);
  if (!words) return false;
  auto word = words->begin();
  for (; word != words->end(); ++word) {  // the settings VARIABLE=value before the program
    const std::size_t equals = word->find('=');
    if (equals == std::string::npos || equals == 0 ||
        word->find_first_not_of("ABCDEFGHIJKLMNOPQRSTUVWXYZ_0123456789") != equals) {
      break;
    }
    command.environment.emplace_back(word->substr(0, equals), word->substr(equals + 1));
  }
  if (word == words->end() || (*word != "vellumar-calc" && *word != "cp")) return false;
  command.program = *word;
  command.arguments.assign(word + 1, words->end());
  return true;
}

// The commands of a Markdown text, by code block: a run of lines indented by four spaces or more,
// with the lines a prompted command shows under it at its indent.
std::vector<std::vector<Command>> blocksIn(const std::string& markdown) {
  std::vector<std::vector<Command>> blocks(1);
  Command* shown = nullptr;  // the prompted command whose lines are being read
  std::size_t shownIndent = 0;
  std::istringstream in(markdown);
  int number = 1;  // of the line
  for (std::string line; std::getline(in, line); ++number) {
    const std::size_t indent = std::min(line.find_first_not_of(' '), line.size());
    const std::string text = line.substr(indent);
    Command command;
    if (indent < 4 || indent == line.size()) {
      if (!blocks.back().empty()) blocks.emplace_back();
      shown = nullptr;
    } else if (commandIn(text, number, command)) {
      blocks.back().push_back(std::move(command));
      shown = blocks.back().back().shown ? &blocks.back().back() : nullptr;
      shownIndent = indent;
    } else if (shown == nullptr || indent != shownIndent) {
      shown = nullptr;
    } else if (!errorLine(text, *shown)) {
      shown->out += text + "\n";
    }
  }
  if (blocks.back().empty()) blocks.pop_back();
  return blocks;
}

// Runs a command in folder: cp copies a file there, vellumar-calc runs there.
RunResult run(const Command& command, const ScratchFolder& folder) {
  if (command.program == "cp") {
    std::error_code error;
    const bool copied = command.arguments.size() == 2 &&
                        std::filesystem::copy_file(
                            folder.path(command.arguments[0]), folder.path(command.arguments[1]),
                            std::filesystem::copy_options::overwrite_existing, error);
    return RunResult{.status = copied ? 0 : 1};
  }
  return runCalc(command.arguments,
                 RunSetup{.environment = command.environment, .directory = folder.root()});
}

TEST(ReadmeExamples, EveryCommandRunsAndPrintsWhatTheReadmeShows) {
  const auto readme = readWholeFile(std::string(VELLUMAR_SOURCE_DIR) + "/README.md");
  ASSERT_TRUE(readme.has_value()) << "README.md not found";
  std::size_t commands = 0, shown = 0;
  for (const std::vector<Command>& block : blocksIn(*readme)) {
    // A fresh copy of the samples for each block, since a command may save over one of them.
    ScratchFolder folder;
    std::filesystem::copy(VELLUMAR_EXAMPLES_DIR, folder.path("examples"),
                          std::filesystem::copy_options::recursive);
    for (const Command& command : block) {
      SCOPED_TRACE("README.md:" + std::to_string(command.line));
      const RunResult result = run(command, folder);
      ++commands;
      if (command.shown) {
        ++shown;
        EXPECT_EQ(result.all(), std::tie(command.status, command.out, command.err));
      } else {
        EXPECT_EQ(result.outcome(), "0: ");
      }
    }
  }
  // The README holds at least these many commands and shown runs; fewer means the parser lost
  // them.
  EXPECT_GE(commands, 30u);
  EXPECT_GE(shown, 12u);
}

}  // namespace
}  // namespace vellumar::cli::testing
