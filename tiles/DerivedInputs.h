#pragma once

#include <optional>
#include <string>
#include <vector>

#include "engine/Calculator.h"
#include "tiles/TileInput.h"

namespace vellumar::tiles {

// A text whose calls of Cut and Dense on grids read by tiles were taken out: each call became an
// input of its own, which reads its windows from the grid it cuts or resamples, and the text
// names that input in its place.
struct DerivedText {
  std::string text;
  std::vector<NamedInput> inputs;  // the inputs given, then the derived ones
  std::string refusal;  // the message of a call that cannot be made, in the calculator's words
};

// Takes out of text every call Cut(G, numbers) and Dense(G, number) whose first argument names
// one of the inputs (or an input taken out before, so Dense(Cut(G1, ...), 2) is taken out too)
// and whose other arguments are numbers known before any tile is read. Arguments are checked as
// the calculator checks them, with its messages. A call of any other shape is left in the text.
DerivedText deriveInputs(const engine::S_Calculator& calc, const std::string& text,
                         std::vector<NamedInput> inputs);

// A call found in a text: where it starts and ends (one past its closing parenthesis), the
// function's name and the texts of its arguments, trimmed.
struct Call {
  std::size_t begin = 0;
  std::size_t end = 0;
  std::string function;
  std::vector<std::string> arguments;
};

// The call of function whose name starts at begin, when a parenthesis follows the name and its
// match closes the call; its arguments split at the commas outside inner parentheses.
std::optional<Call> callAt(const std::string& text, std::size_t begin, const std::string& function);

// The inputs the text names, in their order.
std::vector<NamedInput> inputsNamedIn(const std::string& text, std::vector<NamedInput> inputs);

// Whether the character starts or continues a name: Latin letters, digits, '_' and the bytes of
// the Cyrillic letters.
bool nameCharacter(char c);

}  // namespace vellumar::tiles
