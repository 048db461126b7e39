#include "tiles/TiledEvaluation.h"

#include <algorithm>
#include <array>
#include <new>

#include "common/CFormat.h"
#include "common/ErrorSink.h"
#include "engine/Builtins.h"
#include "engine/EngineMessages.h"
#include "engine/Evaluation.h"
#include "engine/GridOverPolygon.h"
#include "engine/Lexer.h"
#include "grid/GridArithmetic.h"
#include "tiles/DerivedInputs.h"
#include "tiles/LatticePlan.h"
#include "tiles/TileMessages.h"

namespace vellumar::tiles {

namespace {

// The built-ins that give each node from the nodes near it: pointwise functions, comparisons and
// logic, the node-wise choice, the derivatives and Spec.
constexpr std::array<std::string_view, 29> kTileable = {
    "min",    "max",    "Sqrt",  "Abs", "Exp", "Ln",    "Lg",    "Sin",        "Cos",  "Tg",
    "ArcSin", "ArcCos", "ArcTg", "And", "Or",  "Equal", "Great", "GreatEqual", "Less", "LessEqual",
    "Not",    "Mul_SP", "IF",    "Dx",  "Dy",  "Dxx",   "Dxy",   "Dyy",        "Spec"};

// Whether every built-in the text calls is one the tiles evaluate, or Cut, Dense or a reduction,
// each cheap over a small grid.
bool callsOnlyCheapFunctions(const std::string& text) {
  engine::Lexer lexer;
  lexer.reset(text);
  ErrorSink sink;
  for (int token = lexer.next(sink, Language::English); token != engine::token::kEnd;
       token = lexer.next(sink, Language::English)) {
    const std::string& name = lexer.identifier();
    if (token != engine::token::kName || engine::findBuiltin(name) == nullptr) continue;
    const bool cheap = tileable(name) || name == "Cut" || name == "Dense" || name == "MIN" ||
                       name == "MAX" || name == "Integral" || name == "Mean";
    if (!cheap) return false;
  }
  return true;
}

// The calculator's own message for a text whose structure could not be read, found by evaluating
// it once over stand-ins for its grids: grids of 2 x 2 blank nodes, on which no node leaves a
// function's domain, so that a syntax error says what it says over the whole grids. Empty when
// the text evaluates, and when it calls a function that could build a large grid of its own
// (XG, RG, ...), which the tiles refuse by its name instead.
std::string syntaxFailure(const engine::S_Calculator& calc, const std::string& text,
                          const std::vector<NamedInput>& inputs) {
  if (!callsOnlyCheapFunctions(text)) return {};
  const grid::Lattice square{2, 2, 0.0, 1.0, 0.0, 1.0};
  const auto standIn = std::make_shared<grid::Grid>(
      square.holding(grid::NodeVector(4, grid::kBlankValue), {}, grid::Interpolation::Spline));
  engine::S_Calculator scratch(calc);
  for (const NamedInput& input : inputs) {
    scratch.registry().findOrCreate(input.name).value = engine::Operand::grid(standIn);
  }
  const engine::TextEvaluation evaluation = engine::evaluateText(scratch, text);
  return evaluation.ok ? std::string() : evaluation.message;
}

}  // namespace

bool tileable(std::string_view function) {
  return std::find(kTileable.begin(), kTileable.end(), function) != kTileable.end();
}

TiledReduction::TiledReduction(Kind kind, std::string inner, std::string polygon)
    : kind_(kind), inner_(std::move(inner)), polygon_(std::move(polygon)) {}

std::optional<TiledReduction> TiledReduction::of(const std::string& text) {
  const std::size_t first = text.find_first_not_of(" \t\r\n");
  const std::size_t last = text.find_last_not_of(" \t\r\n");
  if (first == std::string::npos) return std::nullopt;
  constexpr std::pair<std::string_view, Kind> kFunctions[] = {
      {"MIN", Kind::Min}, {"MAX", Kind::Max}, {"Integral", Kind::Integral}, {"Mean", Kind::Mean}};
  const auto named = std::find_if(std::begin(kFunctions), std::end(kFunctions), [&](auto& f) {
    return text.compare(first, f.first.size(), f.first) == 0;
  });
  if (named == std::end(kFunctions)) return std::nullopt;
  // The call must be the whole text, one statement: MIN and MAX of one expression, Integral and
  // Mean of two.
  const std::optional<Call> call = callAt(text, first, std::string(named->first));
  if (!call || call->end != last + 1) return std::nullopt;
  const Kind kind = named->second;
  const std::size_t count = kind == Kind::Integral || kind == Kind::Mean ? 2 : 1;
  if (call->arguments.size() != count) return std::nullopt;
  for (const std::string& argument : call->arguments) {
    if (argument.empty() || argument.find(';') != std::string::npos) return std::nullopt;
  }
  return TiledReduction(kind, call->arguments[0], count == 2 ? call->arguments[1] : std::string());
}

const char* TiledReduction::function() const {
  switch (kind_) {
    case Kind::Min:
      return "MIN";
    case Kind::Max:
      return "MAX";
    case Kind::Integral:
      return "Integral";
    case Kind::Mean:
      break;
  }
  return "Mean";
}

TileShare TiledReduction::none() const {
  if (kind_ == Kind::Min) return {grid::kMinMaxStart, 0.0};
  if (kind_ == Kind::Max) return {-grid::kMinMaxStart, 0.0};
  return {};
}

TileShare TiledReduction::extremumOf(const grid::Grid& part) const {
  return {kind_ == Kind::Max ? grid::maximum(part) : grid::minimum(part), 0.0};
}

std::optional<double> TiledReduction::combine(const std::vector<TileShare>& shares) const {
  TileShare total = none();
  for (const TileShare& share : shares) {
    if (kind_ == Kind::Min) total.value = std::min(total.value, share.value);
    if (kind_ == Kind::Max) total.value = std::max(total.value, share.value);
    if (kind_ == Kind::Integral || kind_ == Kind::Mean) {
      total.value += share.value;
      total.area += share.area;
    }
  }
  if (kind_ != Kind::Mean) return total.value;
  if (!(total.area > 0.0)) return std::nullopt;
  return total.value / total.area;
}

std::string TiledReduction::noValues(Language language) const {
  return engine::functionMessageOf("Mean", engine::text::kNoGridValues, language);
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
                                 int tileSize, const std::string& text)
    : calc_(calc), reduction_(TiledReduction::of(text)) {
  DerivedText derived =
      deriveInputs(calc, reduction_ ? reduction_->inner() : text, std::move(inputs));
  LatticePlan lattices;
  std::string syntax;
  if (derived.refusal.empty()) {
    lattices = planLattices(calc, derived.text, derived.inputs);
    // A text the plan cannot read is a syntax error, said as the whole evaluation says it, or a
    // shape the calculator passes over, which tiles on one lattice as it is.
    if (!lattices.understood) syntax = syntaxFailure(calc, wholeText(derived.text), derived.inputs);
  }
  text_ = lattices.understood ? lattices.text : derived.text;
  const std::vector<Input>& all = lattices.understood ? lattices.inputs : derived.inputs;
  inputs_ = inputsNamedIn(text_, all);
  // A text of numbers alone still has the lattice of the first grid read to give its nodes.
  if (inputs_.empty() && !all.empty()) inputs_.push_back(all.front());
  // The tiles cut the result's lattice; or the first input's, where the plan found none.
  grid::Lattice lattice;
  if (lattices.lattice) {
    lattice = *lattices.lattice;
  } else if (!inputs_.empty()) {
    lattice = inputs_.front().source.lattice();
  }
  plan_ = TilePlan(lattice, tileSize);
  for (std::string* found : {&derived.refusal, &syntax, &lattices.refusal}) {
    if (refusal_.empty()) refusal_ = std::move(*found);
  }
  if (refusal_.empty()) refusal_ = findRefusal();
  if (refusal_.empty()) refusal_ = evaluatePolygon(derived.inputs);
}

// The text as the whole evaluation reads it, with the calls made inputs taken out of it: a
// reduction's expression is put back into its call.
std::string TiledEvaluation::wholeText(const std::string& derived) const {
  if (!reduction_) return derived;
  const std::string polygon = reduction_->polygon().empty() ? "" : ", " + reduction_->polygon();
  return std::string(reduction_->function()) + "(" + derived + polygon + ")";
}

const grid::Georeference& TiledEvaluation::georeference() const {
  return inputs_.front().source.georeference();
}

std::string TiledEvaluation::findRefusal() const {
  const Language language = calc_.language();
  if (inputs_.empty()) return text::kNoGrid.in(language);
  // What the plan did not bring onto the result's lattice (the branch IF does not choose, a text
  // the plan could not read) is named beside an input that lies on it.
  const auto onLattice = [&](const Input& input) {
    return input.source.lattice().sameNodes(plan_.lattice());
  };
  const auto on = std::find_if(inputs_.begin(), inputs_.end(), onLattice);
  const Input& reference = on != inputs_.end() ? *on : inputs_.front();
  for (const Input& input : inputs_) {
    if (!onLattice(input)) {
      return cformat(text::kLatticesDiffer.in(language), reference.label().c_str(),
                     input.label().c_str());
    }
  }
  return tokenRefusal();
}

// The polygon of Integral and Mean, evaluated once before any tile: it must be a polygon, as the
// whole evaluation would find it, and use no grid read by tiles, whose nodes no tile has whole.
std::string TiledEvaluation::evaluatePolygon(const std::vector<Input>& inputs) {
  if (!reduction_ || reduction_->polygon().empty()) return {};
  if (!inputsNamedIn(reduction_->polygon(), inputs).empty()) {
    return cformat(text::kPolygonUsesGrid.in(calc_.language()), reduction_->function());
  }
  engine::S_Calculator scratch(calc_);
  const engine::TextEvaluation evaluation = engine::evaluateText(scratch, reduction_->polygon());
  if (!evaluation.ok) return evaluation.message;
  if (scratch.result().kind() != engine::Kind::Polygon) {
    return engine::argumentMessageOf(reduction_->function(), engine::ArgumentMessage::InvalidType,
                                     2, calc_.language());
  }
  polygon_ = scratch.result();
  polygon_.setArgumentPosition(2);
  return {};
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
  try {
    return evaluateTile(index);
  } catch (const std::bad_alloc&) {
    // A window, an intermediate or a share too large for the memory left is said as every other
    // shortage is.
    TileOutcome outcome;
    outcome.message = engine::text::kOutOfMemory.in(calc_.language());
    outcome.failure = 1;
    return outcome;
  }
}

TileOutcome TiledEvaluation::evaluateTile(int index) const {
  TileOutcome outcome;
  const grid::Lattice& lattice = plan_.lattice();
  const grid::NodeWindow tile = plan_.tile(index);
  const grid::NodeWindow window = tile.widened(kHaloNodes, lattice.nx, lattice.ny);
  engine::S_Calculator calc(calc_);
  for (const Input& input : inputs_) {
    auto part = std::make_shared<grid::Grid>();
    if (const WindowRead read = input.source.read(window, *part); !read) {
      if (!read.message.empty()) {  // an expression's failure, as the calculator says it
        outcome.message = read.message;
        outcome.detail = read.detail;
        outcome.failure = 1;
        return outcome;
      }
      outcome.message = cformat(text::kWindowReadFailed.in(calc_.language()), input.name.c_str());
      outcome.detail = read.raster.libraryError;
      outcome.failure = 3;
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
  const grid::NodeWindow own{tile.i0 - window.i0, tile.j0 - window.j0, tile.nx, tile.ny};
  if (!reduction_) {
    outcome.part = grid::cutWindow(*result, own);
    outcome.ok = true;
    return outcome;
  }
  shareOf(calc, *result, own, outcome);
  return outcome;
}

// The extremum of the tile's own nodes; or the integral over the tile's own cells, those from its
// nodes to the first nodes of the next tiles, so that the tiles' cells cover the lattice's once.
void TiledEvaluation::shareOf(engine::S_Calculator& calc, const grid::Grid& result,
                              const grid::NodeWindow& own, TileOutcome& outcome) const {
  const TiledReduction& reduction = *reduction_;
  if (reduction.kind() == TiledReduction::Kind::Min ||
      reduction.kind() == TiledReduction::Kind::Max) {
    outcome.share = reduction.extremumOf(grid::cutWindow(result, own));
    outcome.ok = true;
    return;
  }
  const grid::NodeWindow cells{own.i0, own.j0, std::min(own.nx + 1, result.nx() - own.i0),
                               std::min(own.ny + 1, result.ny() - own.j0)};
  const grid::Lattice clip = grid::Lattice::of(result).window(cells);
  engine::Evaluation evaluation(calc, nullptr, engine::Undo::Never);
  calc.setContextName(reduction.function());
  if (reduction.kind() == TiledReduction::Kind::Integral) {
    const engine::Operand value = engine::integralWithin(calc, result, polygon_, clip);
    outcome.ok = !calc.failed() && value.isNumber();
    if (outcome.ok) outcome.share.value = value.numberValue();
  } else {
    const std::optional<engine::PolygonSums> sums =
        engine::valuedSumsWithin(calc, result, polygon_, clip);
    outcome.ok = !calc.failed() && sums.has_value();
    if (outcome.ok) outcome.share = {sums->integral, sums->area};
  }
  if (outcome.ok) return;
  // A kernel's code is worded after the outermost, empty context, as the whole evaluation words
  // it; the functions' own messages already carry their names.
  calc.setContextName({});
  outcome.message = calc.failureMessage();
  outcome.detail = evaluation.sink().detail();
  outcome.failure = 1;
}

}  // namespace vellumar::tiles
