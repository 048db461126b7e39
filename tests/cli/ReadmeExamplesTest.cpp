// Every example of the README that shows what vellumar-calc prints ("$ vellumar-calc ..." and
// the lines under it) is run on a copy of examples/ and must print exactly that, so the README
// cannot drift from the program.

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

struct Example {
  int line = 0;  // 1-based line of the command in the README
  std::vector<std::string> arguments;
  std::string out;  // the lines shown under the command, each ending in a line feed
  std::string err;  // the line marked "(on standard error, status N)"
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

// The examples of a Markdown text, each a "$ vellumar-calc" line in a code block with the
// output lines of the same indent under it.
std::vector<Example> examplesIn(const std::string& markdown) {
  const std::string prompt = "$ vellumar-calc ";
  std::vector<std::string> lines;
  std::istringstream in(markdown);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  std::vector<Example> examples;
  for (std::size_t i = 0; i < lines.size(); ++i) {
    const std::size_t indent = indentOf(lines[i]);
    if (indent < 4 || lines[i].compare(indent, prompt.size(), prompt) != 0) continue;
    Example example;
    example.line = static_cast<int>(i) + 1;
    EXPECT_TRUE(splitWords(lines[i].substr(indent + prompt.size()), example.arguments))
        << "README.md:" << example.line;
    for (std::size_t k = i + 1; k < lines.size(); ++k) {
      const std::string& shown = lines[k];
      if (indentOf(shown) != indent || shown.size() == indent || shown[indent] == '$') break;
      const std::string text = shown.substr(indent);
      std::string message;
      int status = 0;
      if (errorLine(text, message, status)) {
        example.err += message + "\n";
        example.status = status;
      } else {
        example.out += text + "\n";
      }
    }
    examples.push_back(std::move(example));
  }
  return examples;
}

TEST(ReadmeExamples, PrintWhatTheReadmeShows) {
  std::ifstream file(std::string(VELLUMAR_SOURCE_DIR) + "/README.md", std::ios::binary);
  ASSERT_TRUE(file) << "README.md not found";
  const std::string readme{std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
  const std::vector<Example> examples = examplesIn(readme);
  // The README shows at least these many runs; fewer means the parser lost them.
  ASSERT_GE(examples.size(), 8u);

  for (const Example& example : examples) {
    // A fresh copy of the samples for each run, since a run may save over one of them.
    ScratchFolder folder;
    std::filesystem::copy(VELLUMAR_EXAMPLES_DIR, folder.path("examples"),
                          std::filesystem::copy_options::recursive);
    RunSetup setup;
    setup.directory = folder.root();
    const RunResult run = runCalc(example.arguments, setup);
    SCOPED_TRACE("README.md:" + std::to_string(example.line));
    EXPECT_EQ(run.all(), std::tie(example.status, example.out, example.err));
  }
}

}  // namespace
}  // namespace vellumar::cli::testing
