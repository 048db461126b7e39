#pragma once

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "engine/Calculator.h"
#include "grid/Grid.h"
#include "grid/Lattice.h"
#include "tiles/TileInput.h"

namespace vellumar::tiles {

// Nodes read around every tile on each side. The surface is the natural spline of the whole grid,
// and a tile solves it over its window instead: the solve's boundary reaches into a run by a
// factor of about 0.268 (2 - sqrt 3) per node, so 24 nodes bring its influence below
// 0.268^24 < 2e-14 of the grid's values, well under the 1e-10 a tiled result keeps to.
inline constexpr int kHaloNodes = 24;

// The output lattice cut into square tiles of size x size nodes, row of tiles after row from the
// bottom left; the last column and row of tiles take what is left.
class TilePlan {
 public:
  TilePlan() = default;
  TilePlan(const grid::Lattice& lattice, int size);
  const grid::Lattice& lattice() const { return lattice_; }
  int count() const { return columns_ * rows_; }
  grid::NodeWindow tile(int index) const;

 private:
  grid::Lattice lattice_;
  int size_ = 1;
  int columns_ = 0;
  int rows_ = 0;
};

// What a tile gives a reduction: the extremum of its nodes, or its share of an integral and of
// the area where the surface has values, over its own cells.
struct TileShare {
  double value = 0.0;
  double area = 0.0;
};

// A text that reduces one grid expression as a whole: MIN(e) or MAX(e), the extremum of its nodes
// (blanks left out); Integral(e, P) or Mean(e, P) over a polygon P that uses no grid. Each tile
// gives its share, and the shares combine in the order of the tiles into the very value the whole
// grid gives (up to the rounding of the sums), whichever process evaluated which tile.
class TiledReduction {
 public:
  enum class Kind { Min, Max, Integral, Mean };

  // The reduction a text asks for; nullopt for any other text (MIN(G1) + 1, MIN(G1, P1), ...).
  static std::optional<TiledReduction> of(const std::string& text);
  Kind kind() const { return kind_; }
  const char* function() const;
  const std::string& inner() const { return inner_; }
  // The text of the polygon argument of Integral and Mean; empty for MIN and MAX.
  const std::string& polygon() const { return polygon_; }

  // The share of a tile that has not been evaluated: what combines with any share to that share.
  TileShare none() const;
  // The extremum of the tile's nodes.
  TileShare extremumOf(const grid::Grid& part) const;
  // The value of the shares of every tile, combined in tile order; nullopt for a Mean over a part
  // without values, whose message noValues() gives.
  std::optional<double> combine(const std::vector<TileShare>& shares) const;
  std::string noValues(Language language) const;

 private:
  TiledReduction(Kind kind, std::string inner, std::string polygon);
  Kind kind_;
  std::string inner_;
  std::string polygon_;
};

// What came of one tile: its nodes, or the failure's message (and its second line), with the
// exit status the command line gives it.
struct TileOutcome {
  bool ok = false;
  grid::Grid part;  // for a text that does not reduce
  TileShare share;  // for one that does
  std::string message;
  std::string detail;
  int failure = 0;  // 1: the evaluation failed; 3: an input could not be read
};

// A display text evaluated tile by tile: each tile's window of every input, widened by the halo,
// stands in for the input under its name, the text is evaluated over those windows by a copy of
// the calculator, and the tile's own nodes are kept of the result. What the text may use is what
// gives each node from the nodes near it: numbers, node-wise operators and functions, derivatives
// and Spec, and Cut and Dense of the grids read, which become inputs of their own (deriveInputs).
// Grids on different lattices are combined as the engine combines them: a grid or intermediate
// result the arithmetic would read through its surface onto the common lattice is read so by
// its windows (planLattices), and every input the text then names lies on the result's lattice.
// Tiles are independent: any of them may be evaluated at any time on any thread or process, and
// gives the same nodes.
class TiledEvaluation {
 public:
  using Input = NamedInput;

  // calc holds the names and settings the text is evaluated with; it must outlive this. The tiles
  // cut the lattice of the result. A text that is a reduction (MIN(e),
  // Integral(e, P), ...) evaluates its expression by tiles and gives each tile's share.
  TiledEvaluation(const engine::S_Calculator& calc, std::vector<Input> inputs, int tileSize,
                  const std::string& text);

  // Why the text cannot be evaluated by tiles, in the calculator's language; empty when it can.
  // Found from the text and the inputs' lattices: nothing is read. A syntax error gives the
  // calculator's own message.
  const std::string& refusal() const { return refusal_; }
  // The tiles of the result.
  const TilePlan& plan() const { return plan_; }
  const grid::Georeference& georeference() const;
  Language language() const { return calc_.language(); }

  const std::optional<TiledReduction>& reduction() const { return reduction_; }

  // Evaluates the text over tile index of the plan: its nodes, or its share of the reduction.
  // Memory running out in the tile gives the out-of-memory message.
  TileOutcome evaluate(int index) const;

 private:
  TileOutcome evaluateTile(int index) const;
  std::string findRefusal() const;
  std::string wholeText(const std::string& derived) const;
  std::string tokenRefusal() const;
  // Evaluates the polygon of Integral and Mean into polygon_; why it cannot be used, if it cannot.
  std::string evaluatePolygon(const std::vector<Input>& inputs);
  // The tile's share of the reduction from the result over its window, own being the tile's nodes
  // in the window.
  void shareOf(engine::S_Calculator& calc, const grid::Grid& result, const grid::NodeWindow& own,
               TileOutcome& outcome) const;

  const engine::S_Calculator& calc_;
  std::optional<TiledReduction> reduction_;
  std::string text_;
  std::vector<Input> inputs_;  // those the text names
  engine::Operand polygon_;    // of Integral and Mean
  TilePlan plan_;
  std::string refusal_;
};

// Whether the built-in of that name gives each node from the nodes near it, so that it can be
// evaluated by tiles.
bool tileable(std::string_view function);

}  // namespace vellumar::tiles
