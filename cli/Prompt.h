#pragma once

#include <optional>
#include <string>

namespace vellumar::cli {

// Reads the lines of an interactive session at a terminal, with readline's line editing and
// history. As in a shell, Ctrl-C clears the line being typed and shows a fresh prompt, and Ctrl-D
// on an empty line ends the input. Ctrl-C keeps its usual meaning (stop the program) while no
// line is being read, so a long evaluation can still be interrupted.
class Prompt {
 public:
  explicit Prompt(std::string prompt) : prompt_(std::move(prompt)) {}

  // The next line (without its line break); nullopt at the end of the input.
  std::optional<std::string> next();

 private:
  std::string prompt_;
};

}  // namespace vellumar::cli
