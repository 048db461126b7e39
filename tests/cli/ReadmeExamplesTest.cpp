// Every command in the README's code blocks runs as written, on a copy of examples/: the commands
// of one block in turn, in a fresh copy, as a user would type them in the checkout. A command with
// a prompt ("$ vellumar-calc ..." and the lines under it) must print exactly what the README
// shows; one without must succeed and say nothing on standard error. Commands are vellumar-calc,
// after any VARIABLE=value settings, and cp; mpirun's lines are left to the tiles' tests (they
// need a launcher, and a hostfile's lines a cluster).

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <vector>

#include "CalcRunner.h"

namespace vellumar::cli::testing {
namespace {

struct Command {
  int line = 0;  // 1-based line of the command in the README
  std::vector<std::pair<std::string, std::string>> environment;
  std::string program;  // "vellumar-calc" or "cp"
  std::vector<std::string> arguments;
  bool shown = false;  // typed after a prompt, with what it prints under it
  std::string out;     // the lines shown under it, each ending in a line feed
  std::string err;     // the line marked "(on standard error, status N)"
  int status = 0;
};

// The words of a command line as a POSIX shell splits them: blanks separate, single and double
// quotes keep their text together. False for an unterminated quote.
bool splitWords(const std::string& text, std::vector<std::string>& words) {
  words.clear();
  std::string word;
  bool inWord = false;
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if (c == ' ' || c == '\t') {
      if (inWord) words.push_back(word);
      word.clear();
      inWord = false;
    } else if (c == '\'' || c == '"') {
      const std::size_t end = text.find(c, i + 1);
      if (end == std::string::npos) return false;
      word.append(text, i + 1, end - i - 1);
      inWord = true;
      i = end;
    } else {
      word += c;
      inWord = true;
    }
  }
  if (inWord) words.push_back(word);
  return true;
}

std::size_t indentOf(const std::string& line) {
  const std::size_t first = line.find_first_not_of(' ');
  return first == std::string::npos ? line.size() : first;
}

// A shown line "TEXT (on standard error, status N)": TEXT and N, or false for an output line.
// Read by hand: std::regex warns at -O2 under the sanitizers.
bool errorLine(const std::string& line, std::string& text, int& status) {
  const std::string marker = "(on standard error, status ";
  const std::size_t at = line.rfind(marker);
  if (at == std::string::npos || line.empty() || line.back() != ')') return false;
  const std::string digits = line.substr(at + marker.size(), line.size() - 1 - at - marker.size());
  if (digits.empty() || digits.find_first_not_of("0123456789") != std::string::npos) return false;
  const std::size_t end = line.find_last_not_of(" \t", at == 0 ? 0 : at - 1);
  if (at == 0 || end == std::string::npos || end + 1 == at) return false;
  text = line.substr(0, end + 1);
  status = std::stoi(digits);
  return true;
}

// A setting VARIABLE=value before a command's program.
bool isSetting(const std::string& word) {
  const std::size_t equals = word.find('=');
  return equals != std::string::npos && equals > 0 &&
         word.find_first_not_of("ABCDEFGHIJKLMNOPQRSTUVWXYZ_0123456789") == equals;
}

// The command a code line holds ("$ " for a prompt), or false for a line that holds none.
bool commandIn(const std::string& text, int line, Command& command) {
  command = Command{};
  command.line = line;
  command.shown = text.rfind("$ ", 0) == 0;
  std::vector<std::string> words;
  if (!splitWords(command.shown ? text.substr(2) : text, words)) return false;
  std::size_t first = 0;
  for (; first < words.size() && isSetting(words[first]); ++first) {
    const std::size_t equals = words[first].find('=');
    command.environment.emplace_back(words[first].substr(0, equals),
                                     words[first].substr(equals + 1));
  }
  if (first == words.size() || (words[first] != "vellumar-calc" && words[first] != "cp")) {
    return false;
  }
  command.program = words[first];
  command.arguments.assign(words.begin() + static_cast<std::ptrdiff_t>(first) + 1, words.end());
  return true;
}

// The commands of a Markdown text, by code block: a run of lines indented by four spaces or more,
// with the lines a prompted command shows under it at its indent.
std::vector<std::vector<Command>> blocksIn(const std::string& markdown) {
  std::vector<std::string> lines;
  std::istringstream in(markdown);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  std::vector<std::vector<Command>> blocks(1);
  Command* shown = nullptr;  // the prompted command whose lines are being read
  std::size_t shownIndent = 0;
  for (std::size_t i = 0; i < lines.size(); ++i) {
    const std::size_t indent = indentOf(lines[i]);
    if (indent < 4 || indent == lines[i].size()) {
      if (!blocks.back().empty()) blocks.emplace_back();
      shown = nullptr;
      continue;
    }
    const std::string text = lines[i].substr(indent);
    Command command;
    if (commandIn(text, static_cast<int>(i) + 1, command)) {
      blocks.back().push_back(std::move(command));
      shown = blocks.back().back().shown ? &blocks.back().back() : nullptr;
      shownIndent = indent;
    } else if (shown != nullptr && indent == shownIndent) {
      std::string message;
      int status = 0;
      if (errorLine(text, message, status)) {
        shown->err += message + "\n";
        shown->status = status;
      } else {
        shown->out += text + "\n";
      }
    } else {
      shown = nullptr;
    }
  }
  if (blocks.back().empty()) blocks.pop_back();
  return blocks;
}

// Runs a command in folder: cp copies a file there, vellumar-calc runs there.
RunResult run(const Command& command, const ScratchFolder& folder) {
  if (command.program == "cp") {
    RunResult copied;
    std::error_code error;
    copied.status =
        command.arguments.size() == 2 &&
                std::filesystem::copy_file(folder.path(command.arguments[0]),
                                           folder.path(command.arguments[1]),
                                           std::filesystem::copy_options::overwrite_existing, error)
            ? 0
            : 1;
    return copied;
  }
  RunSetup setup;
  setup.directory = folder.root();
  setup.environment = command.environment;
  return runCalc(command.arguments, setup);
}

TEST(ReadmeExamples, EveryCommandRunsAndPrintsWhatTheReadmeShows) {
  std::ifstream file(std::string(VELLUMAR_SOURCE_DIR) + "/README.md", std::ios::binary);
  ASSERT_TRUE(file) << "README.md not found";
  const std::string readme{std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
  const std::vector<std::vector<Command>> blocks = blocksIn(readme);
  // The README holds at least these many commands and shown runs; fewer means the parser lost
  // them.
  std::size_t commands = 0;
  std::size_t shown = 0;
  for (const auto& block : blocks) {
    commands += block.size();
    for (const Command& command : block) shown += command.shown;
  }
  ASSERT_GE(commands, 30u);
  ASSERT_GE(shown, 12u);

  for (const std::vector<Command>& block : blocks) {
    // A fresh copy of the samples for each block, since a command may save over one of them.
    ScratchFolder folder;
    std::filesystem::copy(VELLUMAR_EXAMPLES_DIR, folder.path("examples"),
                          std::filesystem::copy_options::recursive);
    for (const Command& command : block) {
      SCOPED_TRACE("README.md:" + std::to_string(command.line));
      const RunResult result = run(command, folder);
      if (command.shown) {
        EXPECT_EQ(result.all(), std::tie(command.status, command.out, command.err));
      } else {
        EXPECT_EQ(result.outcome(), "0: ");
      }
    }
  }
}

}  // namespace
}  // namespace vellumar::cli::testing
