#include "tiles/TiledEvaluation.h"

#include <algorithm>
#include <array>

#include "common/CFormat.h"
#include "common/ErrorSink.h"
#include "engine/Builtins.h"
#include "engine/EngineMessages.h"
#include "engine/Lexer.h"
#include "grid/GridArithmetic.h"
#include "tiles/DerivedInputs.h"
#include "tiles/TileMessages.h"

namespace vellumar::tiles {

namespace {

// The built-ins that give each node from the nodes near it: pointwise functions, comparisons and
// logic, the node-wise choice, the derivatives and Spec.
constexpr std::array<std::string_view, 29> kTileable = {
    "min",    "max",    "Sqrt",  "Abs", "Exp", "Ln",    "Lg",    "Sin",        "Cos",  "Tg",
    "ArcSin", "ArcCos", "ArcTg", "And", "Or",  "Equal", "Great", "GreatEqual", "Less", "LessEqual",
    "Not",    "Mul_SP", "IF",    "Dx",  "Dy",  "Dxx",   "Dxy",   "Dyy",        "Spec"};

}  // namespace

bool tileable(std::string_view function) {
  return std::find(kTileable.begin(), kTileable.end(), function) != kTileable.end();
}

TiledExtremum::TiledExtremum(bool largest, std::string inner)
    : largest_(largest),
      inner_(std::move(inner)),
      value_(largest ? -grid::kMinMaxStart : grid::kMinMaxStart) {}

std::optional<TiledExtremum> TiledExtremum::of(const std::string& text) {
  const std::size_t first = text.find_first_not_of(" \t\r\n");
  const std::size_t last = text.find_last_not_of(" \t\r\n");
  if (first == std::string::npos || text[last] != ')') return std::nullopt;
  const std::string_view head = std::string_view(text).substr(first, 3);
  if (head != "MIN" && head != "MAX") return std::nullopt;
  const std::size_t open = text.find_first_not_of(" \t", first + 3);
  if (open == std::string::npos || text[open] != '(') return std::nullopt;
  // The parenthesis that opens the argument must be the one that closes the text, and the
  // argument one expression: no comma or statement break outside inner parentheses.
  int depth = 0;
  for (std::size_t k = open; k <= last; ++k) {
    const char c = text[k];
    if (c == '(') ++depth;
    if (c == ')' && --depth == 0 && k != last) return std::nullopt;
    if ((c == ',' || c == ';') && depth == 1) return std::nullopt;
  }
  return TiledExtremum(head == "MAX", text.substr(open + 1, last - open - 1));
}

void TiledExtremum::add(const grid::Grid& part) {
  add(largest_ ? grid::maximum(part) : grid::minimum(part));
}

void TiledExtremum::add(double value) {
  value_ = largest_ ? std::max(value_, value) : std::min(value_, value);
}

TilePlan::TilePlan(const grid::Lattice& lattice, int size)
    : lattice_(lattice),
      size_(std::max(size, 1)),
      columns_((lattice.nx + size_ - 1) / size_),
      rows_((lattice.ny + size_ - 1) / size_) {}

grid::NodeWindow TilePlan::tile(int index) const {
  const int i0 = (index % columns_) * size_;
  const int j0 = (index / columns_) * size_;
  return {i0, j0, std::min(size_, lattice_.nx - i0), std::min(size_, lattice_.ny - j0)};
}

namespace {

// The inputs the text names, in their order.
std::vector<NamedInput> namedInputs(const std::string& text, std::vector<NamedInput> inputs) {
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

}  // namespace

TiledEvaluation::TiledEvaluation(const engine::S_Calculator& calc, std::vector<Input> inputs,
                                 int tileSize, const std::string& text)
    : calc_(calc) {
  DerivedText derived = deriveInputs(calc, text, std::move(inputs));
  text_ = std::move(derived.text);
  inputs_ = namedInputs(text_, derived.inputs);
  // A text of numbers alone still has the lattice of the first grid read to give its nodes.
  if (inputs_.empty() && !derived.inputs.empty()) inputs_.push_back(derived.inputs.front());
  plan_ = TilePlan(inputs_.empty() ? grid::Lattice{} : inputs_.front().source.lattice(), tileSize);
  refusal_ = derived.refusal.empty() ? findRefusal() : std::move(derived.refusal);
}

const grid::Georeference& TiledEvaluation::georeference() const {
  return inputs_.front().source.georeference();
}

std::string TiledEvaluation::findRefusal() const {
  const Language language = calc_.language();
  if (inputs_.empty()) return text::kNoGrid.in(language);
  for (const Input& input : inputs_) {
    if (!input.source.lattice().sameNodes(plan_.lattice())) {
      return cformat(text::kLatticesDiffer.in(language), inputs_.front().name.c_str(),
                     input.name.c_str());
    }
  }
  return tokenRefusal();
}

// Every name of the text: a built-in must be one that tiles, and a named operand must be a grid
// read by tiles or a number (a grid not read by tiles is held whole, and refused as well); names
// the text assigns itself are left to the evaluation, which checks what they hold as it always
// does. Cut and Dense left in the text are calls of another shape than deriveInputs takes out.
std::string TiledEvaluation::tokenRefusal() const {
  const Language language = calc_.language();
  engine::Lexer lexer;
  lexer.reset(text_);
  ErrorSink sink;
  for (int token = lexer.next(sink, language); token != engine::token::kEnd;
       token = lexer.next(sink, language)) {
    if (token != engine::token::kName) continue;
    const std::string& name = lexer.identifier();
    if (engine::findBuiltin(name) != nullptr) {
      if (name == "Cut" || name == "Dense") {
        return cformat(text::kOfGridNameOnly.in(language), name.c_str());
      }
      if (!tileable(name)) return cformat(text::kNotTileable.in(language), name.c_str());
      continue;
    }
    const bool input = std::any_of(inputs_.begin(), inputs_.end(),
                                   [&](const Input& known) { return known.name == name; });
    const engine::Calc_ID* entry = calc_.registry().find(name);
    if (!input && entry != nullptr && !entry->value.isNumber()) {
      return cformat(text::kNotAGrid.in(language), name.c_str());
    }
  }
  return {};
}

TileOutcome TiledEvaluation::evaluate(int index) const {
  TileOutcome outcome;
  const grid::Lattice& lattice = plan_.lattice();
  const grid::NodeWindow tile = plan_.tile(index);
  const grid::NodeWindow window = tile.widened(kHaloNodes, lattice.nx, lattice.ny);
  engine::S_Calculator calc(calc_);
  for (const Input& input : inputs_) {
    auto part = std::make_shared<grid::Grid>();
    if (const formats::RasterRead read = input.source.read(window, *part); !read) {
      // A window too large for the memory left is said as every other shortage is.
      const bool memory = read.status == formats::RasterStatus::OutOfMemory;
      outcome.message =
          memory ? engine::text::kOutOfMemory.in(calc_.language())
                 : cformat(text::kWindowReadFailed.in(calc_.language()), input.name.c_str());
      outcome.detail = read.libraryError;
      outcome.failure = memory ? 1 : 3;
      return outcome;
    }
    calc.registry().findOrCreate(input.name).value = engine::Operand::grid(std::move(part));
  }
  const engine::TextEvaluation evaluation = engine::evaluateText(calc, text_);
  if (!evaluation.ok) {
    outcome.message = evaluation.message;
    outcome.detail = evaluation.detail;
    outcome.failure = 1;
    return outcome;
  }
  const grid::Grid* result = calc.result().gridValue();
  if (calc.result().kind() != engine::Kind::Grid || result == nullptr ||
      !grid::Lattice::of(*result).sameNodes(lattice.window(window))) {
    outcome.message = text::kResultNotGrid.in(calc_.language());
    outcome.failure = 1;
    return outcome;
  }
  outcome.part =
      grid::cutWindow(*result, {tile.i0 - window.i0, tile.j0 - window.j0, tile.nx, tile.ny});
  outcome.ok = true;
  return outcome;
}

}  // namespace vellumar::tiles
