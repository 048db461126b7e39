#include "tiles/DerivedInputs.h"

#include <algorithm>
#include <cctype>
#include <optional>

#include "common/CFormat.h"
#include "common/ErrorSink.h"
#include "engine/EngineMessages.h"
#include "engine/Lexer.h"
#include "grid/GridConstruction.h"
#include "tiles/TileMessages.h"

namespace vellumar::tiles {

namespace {

std::string trimmed(const std::string& text) {
  const std::size_t first = text.find_first_not_of(" \t\r\n");
  if (first == std::string::npos) return {};
  return text.substr(first, text.find_last_not_of(" \t\r\n") - first + 1);
}

// The first call of Cut or Dense in the text whose first argument is one of the names.
std::optional<Call> nextCall(const std::string& text, const std::vector<NamedInput>& inputs) {
  for (std::size_t k = 0; k < text.size(); ++k) {
    if (k > 0 && nameCharacter(text[k - 1])) continue;
    for (const std::string function : {"Cut", "Dense"}) {
      if (text.compare(k, function.size(), function) != 0) continue;
      if (k + function.size() < text.size() && nameCharacter(text[k + function.size()])) continue;
      std::optional<Call> call = callAt(text, k, function);
      if (!call || call->arguments.empty()) continue;
      const bool named = std::any_of(inputs.begin(), inputs.end(), [&](const NamedInput& input) {
        return input.name == call->arguments.front();
      });
      if (named) return call;
    }
  }
  return std::nullopt;
}

// The text with the names of the calls taken out before replaced by the calls' own texts.
std::string spelledOut(std::string text, const std::vector<NamedInput>& inputs) {
  for (auto input = inputs.rbegin(); input != inputs.rend(); ++input) {
    if (input->call.empty()) continue;
    for (std::size_t at = text.find(input->name); at != std::string::npos;
         at = text.find(input->name, at + 1)) {
      const std::size_t after = at + input->name.size();
      if ((at > 0 && nameCharacter(text[at - 1])) ||
          (after < text.size() && nameCharacter(text[after]))) {
        continue;
      }
      text.replace(at, input->name.size(), input->call);
      at += input->call.size() - 1;
    }
  }
  return text;
}

// A name for the input a call becomes that neither the calculator nor the inputs know.
std::string freeName(const engine::S_Calculator& calc, const std::vector<NamedInput>& inputs,
                     const std::string& function) {
  for (int n = 1;; ++n) {
    const std::string name = function + "_" + std::to_string(n);
    const bool taken = std::any_of(inputs.begin(), inputs.end(),
                                   [&](const NamedInput& input) { return input.name == name; });
    if (!taken && calc.registry().find(name) == nullptr) return name;
  }
}

// The input a call makes of its grid, or the message why it cannot.
class CallInput {
 public:
  CallInput(const engine::S_Calculator& calc, const std::vector<NamedInput>& inputs)
      : calc_(calc), inputs_(inputs) {}

  std::optional<TileInput> of(const Call& call, std::string& refusal) const {
    std::vector<double> numbers;
    for (std::size_t k = 1; k < call.arguments.size(); ++k) {
      const std::optional<double> number = numberOf(call, k, refusal);
      if (!number) return std::nullopt;
      numbers.push_back(*number);
    }
    const TileInput& grid = inputNamed(call.arguments.front());
    return call.function == "Dense" ? dense(grid, numbers, refusal) : cut(grid, numbers, refusal);
  }

 private:
  // Argument k of the call as a number, evaluated now; the message when it is not one.
  std::optional<double> numberOf(const Call& call, std::size_t k, std::string& refusal) const {
    const Language language = calc_.language();
    if (!inputsNamedIn(call.arguments[k], inputs_).empty()) {
      refusal = cformat(text::kNumbersKnownFirst.in(language), call.function.c_str());
      return std::nullopt;
    }
    engine::S_Calculator scratch(calc_);
    const engine::TextEvaluation evaluation = engine::evaluateText(scratch, call.arguments[k]);
    if (!evaluation.ok) {
      refusal = evaluation.message;
      return std::nullopt;
    }
    if (!scratch.result().isNumber()) {
      refusal = engine::argumentMessageOf(call.function, engine::ArgumentMessage::InvalidType,
                                          static_cast<std::uint32_t>(k + 1), language);
      return std::nullopt;
    }
    return scratch.result().numberValue();
  }

  const TileInput& inputNamed(const std::string& name) const {
    return std::find_if(inputs_.begin(), inputs_.end(),
                        [&](const NamedInput& input) { return input.name == name; })
        ->source;
  }

  std::optional<TileInput> dense(const TileInput& grid, const std::vector<double>& numbers,
                                 std::string& refusal) const {
    const Language language = calc_.language();
    if (numbers.size() != 1) return wrongCount("Dense", refusal);
    if (!(numbers[0] > 0.0)) {
      refusal =
          engine::argumentMessageOf("Dense", engine::ArgumentMessage::InvalidValue, 2, language);
      return std::nullopt;
    }
    const std::optional<grid::Lattice> lattice = grid::denseLattice(grid.lattice(), numbers[0]);
    if (!lattice) {
      refusal =
          engine::argumentMessageOf("Dense", engine::ArgumentMessage::ExecutionError, 0, language);
      return std::nullopt;
    }
    // Unchanged counts keep the grid as it is, as Dense copies it then.
    if (lattice->nx == grid.lattice().nx && lattice->ny == grid.lattice().ny) return grid;
    return TileInput::resampled(grid, *lattice);
  }

  std::optional<TileInput> cut(const TileInput& grid, const std::vector<double>& n,
                               std::string& refusal) const {
    if (n.size() != 4 && n.size() != 5) return wrongCount("Cut", refusal);
    const grid::Lattice& lattice = grid.lattice();
    const std::optional<grid::NodeWindow> nodes =
        n.size() == 4 ? grid::cutWindowByNodes(lattice, n[0], n[1], n[2], n[3])
                      : grid::cutWindowByCoordinates(lattice, n[0], n[1], n[2], n[3], n[4]);
    if (!nodes) {
      // A kernel's code is worded after the outermost context, which is empty, as the whole
      // evaluation words it.
      refusal = engine::kernelMessageOf("", sink_code::kGridDomain, calc_.language());
      return std::nullopt;
    }
    return TileInput::cut(grid, *nodes);
  }

  // A call with a count of arguments the function has no form for: the evaluation's message.
  std::optional<TileInput> wrongCount(const std::string& function, std::string& refusal) const {
    refusal = cformat(text::kNotTileable.in(calc_.language()), function.c_str());
    return std::nullopt;
  }

  const engine::S_Calculator& calc_;
  const std::vector<NamedInput>& inputs_;
};

}  // namespace

std::optional<Call> callAt(const std::string& text, std::size_t begin,
                           const std::string& function) {
  std::size_t k = text.find_first_not_of(" \t\r\n", begin + function.size());
  if (k == std::string::npos || text[k] != '(') return std::nullopt;
  Call call{begin, 0, function, {}};
  int depth = 0;
  std::size_t start = k + 1;
  for (; k < text.size(); ++k) {
    const char c = text[k];
    if (c == '(') ++depth;
    if (c == ',' && depth == 1) {
      call.arguments.push_back(trimmed(text.substr(start, k - start)));
      start = k + 1;
    }
    if (c == ')' && --depth == 0) {
      call.arguments.push_back(trimmed(text.substr(start, k - start)));
      call.end = k + 1;
      return call;
    }
  }
  return std::nullopt;
}

std::vector<NamedInput> inputsNamedIn(const std::string& text, std::vector<NamedInput> inputs) {
  engine::Lexer lexer;
  lexer.reset(text);
  ErrorSink sink;
  std::vector<std::string> names;
  for (int token = lexer.next(sink, Language::English); token != engine::token::kEnd;
       token = lexer.next(sink, Language::English)) {
    if (token == engine::token::kName) names.push_back(lexer.identifier());
  }
  std::erase_if(inputs, [&](const NamedInput& input) {
    return std::find(names.begin(), names.end(), input.name) == names.end();
  });
  return inputs;
}

bool nameCharacter(char c) {
  const auto byte = static_cast<unsigned char>(c);
  return byte >= 0x80 || std::isalnum(byte) != 0 || c == '_';
}

DerivedText deriveInputs(const engine::S_Calculator& calc, const std::string& text,
                         std::vector<NamedInput> inputs) {
  DerivedText derived{text, std::move(inputs), {}};
  // The innermost calls come first, since the first argument of a call taken out is a name.
  while (const std::optional<Call> call = nextCall(derived.text, derived.inputs)) {
    std::optional<TileInput> input = CallInput(calc, derived.inputs).of(*call, derived.refusal);
    if (!input) return derived;
    const std::string name = freeName(calc, derived.inputs, call->function);
    std::string text =
        spelledOut(derived.text.substr(call->begin, call->end - call->begin), derived.inputs);
    derived.text.replace(call->begin, call->end - call->begin, name);
    derived.inputs.push_back({name, std::move(*input), std::move(text)});
  }
  return derived;
}

}  // namespace vellumar::tiles
