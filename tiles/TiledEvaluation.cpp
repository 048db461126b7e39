#include "tiles/TiledEvaluation.h"

#include <algorithm>
#include <array>

#include "common/CFormat.h"
#include "common/ErrorSink.h"
#include "engine/Builtins.h"
#include "engine/EngineMessages.h"
#include "engine/Lexer.h"
#include "grid/GridArithmetic.h"
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

TileInput TileInput::ofRaster(std::shared_ptr<const formats::RasterWindowReader> reader) {
  TileInput input;
  input.lattice_ = reader->lattice();
  input.reader_ = std::move(reader);
  return input;
}

TileInput TileInput::ofGrid(std::shared_ptr<const grid::Grid> grid) {
  TileInput input;
  input.lattice_ = grid::Lattice::of(*grid);
  input.grid_ = std::move(grid);
  return input;
}

const grid::Georeference& TileInput::georeference() const {
  return reader_ ? reader_->georeference() : grid_->georeference;
}

formats::RasterRead TileInput::read(const grid::NodeWindow& window, grid::Grid& part) const {
  if (reader_) return reader_->read(window, part);
  part = grid::cutWindow(*grid_, window);
  return {};
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

TiledEvaluation::TiledEvaluation(const engine::S_Calculator& calc, std::vector<Input> inputs,
                                 int tileSize)
    : calc_(calc),
      inputs_(std::move(inputs)),
      plan_(inputs_.empty() ? grid::Lattice{} : inputs_.front().source.lattice(), tileSize) {}

const grid::Georeference& TiledEvaluation::georeference() const {
  return inputs_.front().source.georeference();
}

std::string TiledEvaluation::refusal(const std::string& text) const {
  const Language language = calc_.language();
  if (inputs_.empty()) return text::kNoGrid.in(language);
  for (const Input& input : inputs_) {
    if (!input.source.lattice().sameNodes(plan_.lattice())) {
      return cformat(text::kLatticesDiffer.in(language), inputs_.front().name.c_str(),
                     input.name.c_str());
    }
  }
  // MIN or MAX of the whole text reduces the tiles of what it holds.
  if (const std::optional<TiledExtremum> extremum = TiledExtremum::of(text)) {
    return tokenRefusal(extremum->inner());
  }
  return tokenRefusal(text);
}

// Every name of the text: a built-in must be one that tiles, and a named operand must be a grid
// read by tiles or a number (a grid not read by tiles is held whole, and refused as well); names
// the text assigns itself are left to the evaluation, which checks what they hold as it always
// does.
std::string TiledEvaluation::tokenRefusal(const std::string& text) const {
  const Language language = calc_.language();
  engine::Lexer lexer;
  lexer.reset(text);
  ErrorSink sink;
  for (int token = lexer.next(sink, language); token != engine::token::kEnd;
       token = lexer.next(sink, language)) {
    if (token != engine::token::kName) continue;
    const std::string& name = lexer.identifier();
    if (engine::findBuiltin(name) != nullptr) {
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

TileOutcome TiledEvaluation::evaluate(const std::string& text, int index) const {
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
  const engine::TextEvaluation evaluation = engine::evaluateText(calc, text);
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
