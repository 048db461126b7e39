#pragma once

#include <cstdio>
#include <optional>
#include <string>

namespace vellumar::cli {

// Reads the lines of an interactive session at a terminal, with readline's line editing and
// history. As in a shell, Ctrl-C clears the line being typed and shows a fresh prompt, and Ctrl-D
// on an empty line ends the input. Ctrl-C keeps its usual meaning (stop the program) while no
// line is being read, so a long evaluation can still be interrupted.
class Prompt {
 public:
  // screen is where the prompt and the echo of the typed line go (standard error when standard
  // output carries a saved file).
  explicit Prompt(std::string prompt, std::FILE* screen = stdout)
      : prompt_(std::move(prompt)), screen_(screen) {}

  // The next line (without its line break); nullopt at the end of the input.
  std::optional<std::string> next();

 private:
  std::string prompt_;
  std::FILE* screen_;
};

}  // namespace vellumar::cli
