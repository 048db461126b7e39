#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "common/ErrorSink.h"
#include "common/FillOnce.h"
#include "grid/Blank.h"
#include "grid/NodeAllocator.h"

namespace vellumar::grid {

enum class Interpolation : std::uint32_t { Spline = 1, Bilinear = 2 };

struct Lattice;

// Start values of a z-range scan, so that a grid without nodes keeps (kZRangeStart, -kZRangeStart).
inline constexpr double kZRangeStart = 3.4028234663852886e38;

// Where a grid lies on the Earth, as its raster file told: the coordinate system as WKT (empty
// when unknown, as for every DSAA grid), its short name for lists and the map view (an EPSG code
// or the system's name), and the file's own no-data value, which a raster save writes blank nodes
// as. Grids built over a prototype's lattice keep the prototype's georeference.
struct Georeference {
  std::string wkt;
  std::string shortName;
  std::optional<double> noData;

  bool hasCoordinateSystem() const { return !wkt.empty(); }
};

// A regular lattice of nx x ny nodes over the rectangle [left, right] x [bottom, top], one double
// per node, stored flat with X fastest and the bottom row first: node (i, j) is at j*nx + i.
//
// Over the rectangle the grid defines a surface: the natural bicubic B-spline through the nodes
// (Spline mode) or the bilinear interpolant of the nodes (Bilinear mode). The spline coefficients
// are computed on first use and shared between copies of the grid; every change of node values or
// of the mode drops them, so they always describe the current nodes. zmin/zmax are a stored range
// that operations set as they document, leaving blank nodes out; nothing keeps them up to date
// automatically.
//
// The surface is blank (kBlankValue) in every cell with a blank corner and finite elsewhere; see
// Spline.cpp for how the spline is solved around blanks.
//
// The grid has value semantics. Its const methods may run concurrently from several threads on one
// grid or on copies of it: the spline coefficients are solved once (FillOnce) and the
// blank flag is atomic.
class Grid {
 public:
  // 1 once the rectangle holds a real extent (loaded from a file or set by rectangle operations).
  std::uint32_t rectangleFlag = 0;
  double top = 0.0;     // Y of the last node row
  double bottom = 0.0;  // Y of the first node row
  double right = 0.0;   // X of the last node column
  double left = 0.0;    // X of the first node column
  double zmin = 0.0;
  double zmax = 0.0;
  std::string name;  // path the grid was loaded from; empty for computed grids
  Georeference georeference;

  Grid() = default;
  // nx x ny nodes, all 0, over an empty rectangle. Counts below 1 give a grid without nodes.
  Grid(int nx, int ny);
  // nx x ny nodes, all 0, over the rectangle of the prototype and with its georeference, spline
  // mode.
  Grid(int nx, int ny, const Grid& prototype);
  // A grid over the rectangle of the prototype holding the given node values (nx*ny of them), with
  // its georeference, spline mode; zmin/zmax become their minimum and maximum. Kernels build their
  // results with Lattice::holding.
  Grid(int nx, int ny, const Grid& prototype, NodeVector values);
  // As above, but zmin/zmax are left 0 for the caller, who already knows the range.
  static Grid fromNodes(int nx, int ny, const Grid& prototype, NodeVector values);

  // Replaces the lattice by nx x ny zero nodes; the name is emptied, coefficients dropped.
  void reinitialise(int nx, int ny);
  // As reinitialise, but the node values are left unset, for a reader that writes every node next:
  // the pages of a fresh grid are then touched first by that reader, in parallel, and only once.
  void reinitialiseUnset(int nx, int ny);

  int nx() const { return nx_; }
  int ny() const { return ny_; }
  bool hasNodes() const { return !nodes_.empty(); }
  std::size_t nodeCount() const { return nodes_.size(); }

  Interpolation mode() const { return mode_; }
  void setMode(Interpolation mode);

  std::span<const double> nodes() const { return nodes_; }
  // Node values for writing; drops the coefficients.
  std::span<double> mutableNodes();
  double node(int i, int j) const { return nodes_[index(i, j)]; }
  void setNode(int i, int j, double value);
  // Replaces all node values (size must be nx*ny); drops the coefficients.
  void replaceNodes(NodeVector values);

  // Steps between node columns and rows; 0 for an axis with fewer than two nodes.
  double stepX() const { return nx_ >= 2 ? (right - left) / (nx_ - 1) : 0.0; }
  double stepY() const { return ny_ >= 2 ? (top - bottom) / (ny_ - 1) : 0.0; }
  // Node coordinates, clamped to the right (top) edge where rounding would carry them past it.
  double nodeX(int i) const;
  double nodeY(int j) const;
  std::vector<double> nodeXs() const;
  std::vector<double> nodeYs() const;

  // All four extents exactly equal.
  bool sameRectangle(const Grid& other) const;
  // Equal node counts and each extent within 1e-9 of a cell step of the other's: the same nodes,
  // whatever rounding the extents went through in a file written with fewer digits.
  bool sameLattice(const Grid& other) const;

  // Whether any node is blank. Found by one scan on first use (or by the spline solve, or by a
  // kernel that read every node) and kept until the nodes change.
  bool hasBlanks() const {
    const std::int8_t state = blanks_.get();
    return state == BlankState::kUnknown ? findBlanks() : state == BlankState::kSome;
  }
  // True when it is already known that no node is blank (that some is); never scans.
  bool knownWithoutBlanks() const { return blanks_.get() == BlankState::kNone; }
  bool knownToHaveBlanks() const { return blanks_.get() == BlankState::kSome; }
  // Records what a kernel that read every node found: the grid has no blank node.
  void noteWithoutBlanks() const { blanks_.set(BlankState::kNone); }
  // Whether the cell with lower-left node (i, j) (i < nx - 1, j < ny - 1) has a blank corner.
  bool cellIsBlank(int i, int j) const;
  // Whether the surface is blank at (x, y): the point lies in the rectangle and its cell (as the
  // surface value chooses it) has a blank corner.
  bool blankAt(double x, double y) const;

  // Surface value at (x, y); 0 outside the closed rectangle and for grids with fewer than two
  // nodes along an axis; kBlankValue in a cell with a blank corner. Points on the right (top) edge
  // are evaluated in the last cell.
  double value(double x, double y) const;

  // The natural bicubic-spline coefficients of the nodes, whatever the mode, computed on first
  // use: (nx+2) x (ny+2) values row by row, node (i, j) at (j+1)*(nx+2) + (i+1), the pads around.
  // Null when the grid has no nodes.
  const NodeVector* splineCoefficients() const;
  // Solves the spline coefficients now where the surface will need them (spline mode, more than
  // one node along each axis, not yet known), so that a long solve reports its progress to the
  // sink and may be cancelled. False when the user cancelled: nothing is kept then.
  bool prepareSurface(ErrorSink* progress) const;
  // Coefficient of node (k, l), k = -1 ... nx, l = -1 ... ny; needs splineCoefficients().
  double coefficient(int k, int l) const {
    return coefficients_.values()[static_cast<std::size_t>(l + 1) * (nx_ + 2) + (k + 1)];
  }
  bool hasCoefficients() const { return coefficients_.solved(); }
  // Drops the coefficients so that they are recomputed from the nodes on next use.
  void dropCoefficients() { coefficients_.drop(); }

  // zmin/zmax from the surface at every node (clamped positions), blanks left out.
  void recomputeZRange();
  // Replaces the nodes by the surface values at the nodes of an nx x ny lattice over the same
  // rectangle; zmin/zmax become the range of the new nodes. No effect when the counts are
  // unchanged; false when a count is below 1, or (the grid unchanged) when progress cancelled.
  bool resample(int nx, int ny, ErrorSink* progress = nullptr);

 private:
  friend struct Lattice;  // builds grids over its nodes

  std::size_t index(int i, int j) const {
    return static_cast<std::size_t>(j) * static_cast<std::size_t>(nx_) +
           static_cast<std::size_t>(i);
  }

  // Solves and keeps the coefficients; false, keeping nothing, when progress cancelled the solve.
  [[nodiscard]] bool solveCoefficients(ErrorSink* progress) const;

  // Scans the nodes for a blank and keeps what it found.
  bool findBlanks() const;

  // Drops everything derived from the node values.
  void nodesChanged() {
    coefficients_.drop();
    blanks_.set(BlankState::kUnknown);
  }

  // Whether the grid has blank nodes: unknown until found. Atomic, because a grid shared between
  // threads may have it settled by any reader; copying a grid copies what is known.
  class BlankState {
   public:
    static constexpr std::int8_t kUnknown = -1;
    static constexpr std::int8_t kNone = 0;
    static constexpr std::int8_t kSome = 1;
    BlankState() = default;
    BlankState(const BlankState& other) : state_(other.get()) {}
    BlankState& operator=(const BlankState& other) {
      set(other.get());
      return *this;
    }
    std::int8_t get() const { return state_.load(std::memory_order_relaxed); }
    void set(std::int8_t state) const { state_.store(state, std::memory_order_relaxed); }

   private:
    mutable std::atomic<std::int8_t> state_{kUnknown};
  };

  // The spline coefficients of one set of node values, shared between the copies of a grid that
  // hold those values: solved once by whichever reader asks first (FillOnce), never modified
  // after, and replaced by a fresh, unsolved cache when this grid's nodes change. Moving a grid
  // shares the cache as copying does, so that a moved-from grid still has one.
  class CoefficientCache {
   public:
    CoefficientCache() : state_(std::make_shared<State>()) {}
    CoefficientCache(const CoefficientCache&) = default;
    CoefficientCache& operator=(const CoefficientCache&) = default;

    // The coefficients, solving them with solve() (which returns a NodeVector) on first use.
    template <class Solve>
    const NodeVector& get(Solve&& solve) const {
      State& state = *state_;
      state.fill([&] { state.values = solve(); });
      return state.values;
    }
    bool solved() const { return state_->fill.done(); }
    const NodeVector& values() const { return state_->values; }
    // Detaches from the solved or shared coefficients; an unused cache of this grid alone stays.
    void drop() {
      if (state_.use_count() > 1 || solved()) state_ = std::make_shared<State>();
    }

   private:
    struct State {
      FillOnce fill;
      NodeVector values;
    };
    std::shared_ptr<State> state_;
  };

  Interpolation mode_ = Interpolation::Spline;
  int nx_ = 0;
  int ny_ = 0;
  NodeVector nodes_;
  CoefficientCache coefficients_;
  BlankState blanks_;
};

// The largest number of nodes an operation may give a new grid: a request beyond it fails with its
// operation's message instead of exhausting memory. As many nodes as the usable memory
// (common/Memory.h) holds values of, from 2^28 to 2^31 - 1; unless set, as the fuzzing harnesses do
// to keep every run small (0 returns to the usable memory).
double mostNodes();
void setMostNodes(double nodes);

// Smallest and largest of the values, scanning from (kZRangeStart, -kZRangeStart); blank values
// are left out, so a range of blanks only keeps the start values.
struct Range {
  double min = kZRangeStart;
  double max = -kZRangeStart;
  void add(double v) {
    if (isBlank(v)) return;
    if (v < min) min = v;
    if (v > max) max = v;
  }
  // Widens the range to hold another one; a range that met no value changes nothing.
  void add(const Range& other) {
    if (other.min < min) min = other.min;
    if (other.max > max) max = other.max;
  }
};
Range rangeOf(std::span<const double> values);
// Whether any of the values is blank.
bool anyBlank(std::span<const double> values);

// Coordinates of count nodes spaced evenly from low to high, each clamped to high where rounding
// would carry it past; all equal to low when count is 1.
std::vector<double> nodeCoordinates(double low, double high, int count);

}  // namespace vellumar::grid
