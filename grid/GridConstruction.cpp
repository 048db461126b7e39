#include "grid/GridConstruction.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <optional>
#include <random>
#include <vector>

#include "common/Parallel.h"
#include "grid/GridArithmetic.h"
#include "grid/Surface.h"

namespace vellumar::grid {

namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

// A lattice size that can be built: both counts at least 1 and the total within the limit.
bool buildableCounts(double nx, double ny) {
  return nx >= 1.0 && ny >= 1.0 && nx * ny <= mostNodes();
}

// ---- random draws ----

// Integers uniform over 0 ... 32767 (the top 15 bits of a Mersenne Twister), scaled to [0, 1].
class UnitDraws {
 public:
  explicit UnitDraws(std::uint32_t seed) : generator_(seed) {}
  double next() { return static_cast<double>(generator_() >> 17) / 32767.0; }
  // A draw strictly between 0 and 1, for the laws whose transform is infinite at an end (a
  // random map must never hold an infinite node, which would also spoil its spline).
  double nextInside() {
    double u = next();
    while (u == 0.0 || u == 1.0) u = next();
    return u;
  }

 private:
  std::mt19937 generator_;
};

double drawNormal(UnitDraws& draws, double a, double b) {
  double s = 0.0;
  for (int k = 0; k < 5; ++k) s += 2.0 * draws.next() - 1.0;
  s = s * 0.77459667;
  const double square = s * s;
  return a + b * 0.01 * s * (square + 97.0);
}

double drawTriangular(double u, double a, double b, double c) {
  const double f = (c - a) / (b - a);
  if (u <= f) return a + std::sqrt((b - a) * u * (c - a));
  return b - std::sqrt((b - c) * (1.0 - u) * (b - a));
}

double draw(UnitDraws& draws, int law, double a, double b, double c) {
  switch (law) {
    case 1:
      return a + (b - a) * draws.next();
    case 2:
      return drawNormal(draws, a, b);
    case 3:
      return std::exp(drawNormal(draws, a, b));
    case 4:
      return -a * std::log(1.0 - draws.nextInside());
    case 5:
      return b * std::pow(-std::log(draws.nextInside()), 1.0 / a);
    case 6:
      return a * std::sqrt(-std::log(draws.nextInside()));
    case 7:
      return std::pow(draws.nextInside(), -1.0 / a);
    default:
      return drawTriangular(draws.next(), a, b, c);
  }
}

// ---- cutting ----

// X (Y) of node number k (1 ... n) of an axis; the last node lies exactly on the far edge, so a
// rectangle reaching that edge always finds it whatever the rounding of the steps.
double nodeCoordinate(int k, int n, double low, double high, double step) {
  if (k == n) return high;
  return std::min(low + (k - 1) * step, high);
}

// First node number whose coordinate is at least value; 0 when no node reaches it.
int firstNodeAtOrAbove(double value, int n, double low, double high, double step) {
  for (int k = 1; k <= n; ++k) {
    if (nodeCoordinate(k, n, low, high, step) >= value) return k;
  }
  return 0;
}

struct NodeSpan {
  double first = 0.0;  // node numbers from 1, as doubles until validated
  double last = 0.0;
};

// The node numbers of [low, high] along an axis; inward narrows to inner nodes.
NodeSpan spanOf(double low, double high, bool inward, int n, double gridLow, double gridHigh,
                double step) {
  NodeSpan span;
  int k = firstNodeAtOrAbove(low, n, gridLow, gridHigh, step);
  if (k != 0) {
    const bool exact = nodeCoordinate(k, n, gridLow, gridHigh, step) == low;
    span.first = exact || inward ? k : k - 1;
  }
  k = firstNodeAtOrAbove(high, n, gridLow, gridHigh, step);
  if (k != 0) {
    const bool exact = nodeCoordinate(k, n, gridLow, gridHigh, step) == high;
    span.last = exact || !inward ? k : k - 1;
  }
  return span;
}

bool validSpan(const NodeSpan& span, int n) {
  return span.first >= 1.0 && span.first < n && span.last >= 2.0 && span.first < span.last;
}

// The nodes of the two spans, the upper ends capped at the counts; nullopt when a span is invalid.
std::optional<NodeWindow> spansWindow(const NodeSpan& xs, const NodeSpan& ys, int nx, int ny) {
  if (!validSpan(xs, nx) || !validSpan(ys, ny)) return std::nullopt;
  const int i1 = static_cast<int>(xs.first);
  const int i2 = static_cast<int>(std::min(xs.last, static_cast<double>(nx)));
  const int j1 = static_cast<int>(ys.first);
  const int j2 = static_cast<int>(std::min(ys.last, static_cast<double>(ny)));
  return NodeWindow{i1 - 1, j1 - 1, i2 - i1 + 1, j2 - j1 + 1};
}

// The grid's nodes inside the window, over the cut lattice; code 203 when there is no window.
Grid cutGridWindow(const Grid& grid, const std::optional<NodeWindow>& window, ErrorSink& sink) {
  if (!window) {
    sink.kernelError(sink_code::kGridDomain);
    return Grid();
  }
  const auto nx = static_cast<std::size_t>(window->nx);
  NodeVector values(window->nodeCount());
  ProgressPacer pacer(&sink, static_cast<std::int64_t>(values.size()));
  const bool done = parallel::forEachRowBlock(
      static_cast<std::size_t>(window->ny), nx, pacer,
      [&](std::size_t rowBegin, std::size_t rowEnd) {
        for (std::size_t j = rowBegin; j < rowEnd; ++j) {
          const double* row = grid.nodes().data() + (static_cast<std::size_t>(window->j0) + j) *
                                                        static_cast<std::size_t>(grid.nx());
          std::copy_n(row + window->i0, nx, values.data() + j * nx);
        }
      });
  if (!done) return Grid();
  return cutLattice(Lattice::of(grid), *window)
      .holding(std::move(values), Georeference{}, Interpolation::Spline);
}

}  // namespace

std::optional<NodeWindow> cutWindowByNodes(const Lattice& lattice, double nMin, double nMax,
                                           double mMin, double mMax) {
  return spansWindow({std::trunc(nMin), std::trunc(nMax)}, {std::trunc(mMin), std::trunc(mMax)},
                     lattice.nx, lattice.ny);
}

std::optional<NodeWindow> cutWindowByCoordinates(const Lattice& lattice, double xMin, double xMax,
                                                 double yMin, double yMax, double index) {
  const Lattice& g = lattice;
  const bool overlaps = xMin < g.right && g.left < xMax && xMin < xMax && yMin < g.top &&
                        g.bottom < yMax && yMin < yMax;
  if (!overlaps) return std::nullopt;
  const bool inward = index != 0.0;
  const NodeSpan xs = spanOf(std::max(xMin, g.left), std::min(xMax, g.right), inward, g.nx, g.left,
                             g.right, g.stepX());
  const NodeSpan ys = spanOf(std::max(yMin, g.bottom), std::min(yMax, g.top), inward, g.ny,
                             g.bottom, g.top, g.stepY());
  return spansWindow(xs, ys, g.nx, g.ny);
}

Lattice cutLattice(const Lattice& lattice, const NodeWindow& window) {
  const double hx = lattice.stepX();
  const double hy = lattice.stepY();
  return {window.nx,
          window.ny,
          lattice.left + window.i0 * hx,
          lattice.left + (window.i0 + window.nx - 1) * hx,
          lattice.bottom + window.j0 * hy,
          lattice.bottom + (window.j0 + window.ny - 1) * hy};
}

namespace {

// ---- merging ----

// One axis of the merged lattice: from low with count nodes step apart.
struct MergeAxis {
  double low = 0.0;
  double high = 0.0;
  double step = 0.0;
  double count = 0.0;
};

// The largest k >= 0 with from - k*step >= limit (downward) or from + k*step <= limit (upward).
double wholeSteps(double from, double limit, double step, bool downward) {
  const auto fits = [&](double k) {
    return downward ? from - k * step >= limit : from + k * step <= limit;
  };
  double k = std::floor(std::abs(from - limit) / step);
  if (k > 0.0 && !fits(k)) k -= 1.0;
  if (fits(k + 1.0)) k += 1.0;
  return k;
}

// The union of [low1, high1] and [low2, high2] on the finer step, aligned to the grid with that
// step (the first grid when the steps are equal).
MergeAxis mergeAxis(double low1, double high1, double step1, double low2, double high2,
                    double step2) {
  MergeAxis axis;
  const bool firstIsReference = step2 >= step1;
  const double refLow = firstIsReference ? low1 : low2;
  const double refHigh = firstIsReference ? high1 : high2;
  axis.step = std::min(step1, step2);
  axis.low = std::min(low1, low2);
  axis.high = std::max(high1, high2);
  if (refLow > axis.low)
    axis.low = refLow - wholeSteps(refLow, axis.low, axis.step, true) * axis.step;
  if (axis.high > refHigh) {
    axis.high = refHigh + wholeSteps(refHigh, axis.high, axis.step, false) * axis.step;
  }
  axis.count = std::trunc((axis.high - axis.low) / axis.step + 0.1) + 1.0;
  return axis;
}

// Where the merged lattice's coordinates meet one grid along one axis: the coordinate clamped
// into the grid, or NaN outside it. A node within rounding of an edge counts as on the edge.
std::vector<double> coordinatesInside(const std::vector<double>& coordinates, double low,
                                      double high, double tolerance) {
  std::vector<double> inside(coordinates.size(), kNaN);
  for (std::size_t k = 0; k < coordinates.size(); ++k) {
    const double c = coordinates[k];
    if (c >= low - tolerance && c <= high + tolerance) inside[k] = std::clamp(c, low, high);
  }
  return inside;
}

// One grid as seen from the merged lattice: its coordinates per column and row, and a sampler.
struct MergeSource {
  MergeSource(const Grid& grid, const std::vector<double>& xs, const std::vector<double>& ys,
              double toleranceX, double toleranceY)
      : columns(coordinatesInside(xs, grid.left, grid.right, toleranceX)),
        rows(coordinatesInside(ys, grid.bottom, grid.top, toleranceY)),
        sampler(grid, columns) {}

  // The rows a block samples, with a sampler of its own.
  struct Rows {
    explicit Rows(const MergeSource& source)
        : source(source), sampler(source.sampler), values(source.columns.size(), 0.0) {}
    // Samples row j; false when the row lies outside the grid.
    bool sample(std::size_t j) {
      if (std::isnan(source.rows[j])) return false;
      sampler.sampleRow(source.rows[j], values.data());
      return true;
    }
    const MergeSource& source;
    SurfaceSampler sampler;
    std::vector<double> values;
  };

  bool coversColumn(std::size_t i) const { return !std::isnan(columns[i]); }

  std::vector<double> columns;
  std::vector<double> rows;
  SurfaceSampler sampler;
};

// Row j of the merged lattice from the rows of the two sources sampled there (null: the row lies
// outside that source): their mean where both cover a node, the one that covers it, or fill.
void mergeRow(const MergeSource::Rows* a, const MergeSource::Rows* b, bool blanks, double fill,
              double* out, std::size_t n, Range& covered) {
  for (std::size_t i = 0; i < n; ++i) {
    const bool inA = a != nullptr && a->source.coversColumn(i);
    const bool inB = b != nullptr && b->source.coversColumn(i);
    if (!inA && !inB) {
      out[i] = fill;
      continue;
    }
    if (inA && inB) {
      const double x = a->values[i];
      const double y = b->values[i];
      out[i] = blanks && (isBlank(x) || isBlank(y)) ? kBlankValue : (x + y) / 2.0;
    } else {
      out[i] = inA ? a->values[i] : b->values[i];
    }
    covered.add(out[i]);
  }
}

std::optional<Grid> mergeDifferent(const Grid& first, const Grid& second, double fill,
                                   ErrorSink& sink) {
  const MergeAxis ax =
      mergeAxis(first.left, first.right, first.stepX(), second.left, second.right, second.stepX());
  const MergeAxis ay =
      mergeAxis(first.bottom, first.top, first.stepY(), second.bottom, second.top, second.stepY());
  if (!(ax.step > 0.0 && ay.step > 0.0) || !buildableCounts(ax.count, ay.count)) {
    return std::nullopt;
  }
  const int nx = static_cast<int>(ax.count);
  const int ny = static_cast<int>(ay.count);
  std::vector<double> xs(static_cast<std::size_t>(nx));
  std::vector<double> ys(static_cast<std::size_t>(ny));
  for (int i = 0; i < nx; ++i) xs[i] = std::min(ax.low + i * ax.step, ax.high);
  for (int j = 0; j < ny; ++j) ys[j] = std::min(ay.low + j * ay.step, ay.high);
  const double tx = 1e-9 * ax.step;
  const double ty = 1e-9 * ay.step;
  if (!first.prepareSurface(&sink) || !second.prepareSurface(&sink)) return std::nullopt;
  MergeSource a(first, xs, ys, tx, ty);
  MergeSource b(second, xs, ys, tx, ty);
  const bool blanks = first.hasBlanks() || second.hasBlanks();
  NodeVector values(xs.size() * ys.size());
  ProgressPacer pacer(&sink, static_cast<std::int64_t>(values.size()));
  Range covered{kMinMaxStart, -kMinMaxStart};
  const bool done = parallel::reduceRowBlocks(
      ys.size(), xs.size(), pacer, covered,
      [&](std::size_t rowBegin, std::size_t rowEnd) {
        MergeSource::Rows rowsA(a);
        MergeSource::Rows rowsB(b);
        Range block{kMinMaxStart, -kMinMaxStart};
        for (std::size_t j = rowBegin; j < rowEnd; ++j) {
          mergeRow(rowsA.sample(j) ? &rowsA : nullptr, rowsB.sample(j) ? &rowsB : nullptr, blanks,
                   fill, values.data() + j * xs.size(), xs.size(), block);
        }
        return block;
      },
      [](Range total, const Range& block) {
        total.add(block);
        return total;
      });
  if (!done) return std::nullopt;
  const Lattice merged{nx, ny, ax.low, ax.high, ay.low, ay.high};
  return merged.holding(std::move(values), covered, Georeference{}, Interpolation::Spline);
}

// The grid with nx x ny nodes over its own rectangle: grid itself when it has them (no copy),
// else, kept in held, a grid of its mode holding its surface sampled at those nodes, as
// Grid::resample would give, without first copying the nodes it replaces; null when the sampling
// was cancelled.
const Grid* withCounts(const Grid& grid, int nx, int ny, std::optional<Grid>& held,
                       ErrorSink& sink) {
  if (grid.nx() == nx && grid.ny() == ny) return &grid;
  const Lattice lattice = Lattice::of(grid).sized(nx, ny);
  NodeVector values = sampleLattice(grid, lattice.nodeXs(), lattice.nodeYs(), &sink);
  if (sink.failed()) return nullptr;
  held = lattice.holding(std::move(values), grid.georeference, grid.mode());
  return &*held;
}

Grid mergeEqual(const Grid& first, const Grid& second, ErrorSink& sink) {
  const int nx = std::max(first.nx(), second.nx());
  const int ny = std::max(first.ny(), second.ny());
  std::optional<Grid> heldFirst;
  std::optional<Grid> heldSecond;
  const Grid* a = withCounts(first, nx, ny, heldFirst, sink);
  const Grid* b = a != nullptr ? withCounts(second, nx, ny, heldSecond, sink) : nullptr;
  if (b == nullptr) return Grid();
  // The sum is a grid of its own, which the halving takes over.
  return combine(combine(*a, *b, BinaryOp::Add, sink), 2.0, BinaryOp::Divide, false, sink);
}

}  // namespace

std::optional<Grid> latticeFromSteps(double xMin, double xMax, double yMin, double yMax, double hx,
                                     double hy) {
  const double nx = std::trunc((xMax - xMin) / hx + 0.5) + 1.0;
  const double ny = std::trunc((yMax - yMin) / hy + 0.5) + 1.0;
  if (!buildableCounts(nx, ny)) return std::nullopt;
  const double right = (nx - 1.0) * hx + xMin;
  const double top = (ny - 1.0) * hy + yMin;
  const Lattice lattice{static_cast<int>(nx), static_cast<int>(ny), xMin, right, yMin, top};
  // Zero nodes, whose range is (0, 0).
  return lattice.holding(NodeVector(), Range{0.0, 0.0}, Georeference{}, Interpolation::Spline);
}

Grid onesLike(const Grid& shape) {
  return filled(shape, 1.0);
}

Grid coordinateGrid(const Grid& shape, Axis axis, double step) {
  const std::size_t nx = static_cast<std::size_t>(std::max(shape.nx(), 0));
  NodeVector values(shape.nodeCount());
  for (std::size_t j = 0; j < values.size() / std::max<std::size_t>(nx, 1); ++j) {
    double* row = values.data() + j * nx;
    for (std::size_t i = 0; i < nx; ++i) {
      row[i] = axis == Axis::X ? static_cast<double>(i) * step + shape.left
                               : static_cast<double>(j) * step + shape.bottom;
    }
  }
  const Range range =
      axis == Axis::X ? Range{shape.left, shape.right} : Range{shape.bottom, shape.top};
  return Lattice::of(shape).holding(std::move(values), range, shape.georeference,
                                    Interpolation::Spline);
}

RandomParameter invalidRandomParameter(double law, double a, double b, double c) {
  if (!(law >= 1.0 && law <= kRandomLawCount)) return RandomParameter::Law;
  const int n = static_cast<int>(law);
  if (n == 2 && !(b > 0.0)) return RandomParameter::B;
  if (n == 8) {
    if (!(a >= 0.0)) return RandomParameter::A;
    if (!(a < b)) return RandomParameter::B;
    if (!(a < c && c < b)) return RandomParameter::C;
  }
  if (n == 4 || n == 6 || n == 7) return a > 0.0 ? RandomParameter::None : RandomParameter::A;
  if (n == 1) return a < b ? RandomParameter::None : RandomParameter::B;
  if (!(b > 0.0)) return RandomParameter::B;
  if (n == 5 && !(a > 0.0)) return RandomParameter::A;
  return RandomParameter::None;
}

Grid randomGrid(const Grid& shape, double law, double a, double b, double c, std::uint32_t seed) {
  const int n = static_cast<int>(std::clamp(std::trunc(law), 1.0, kRandomLawCount));
  const std::size_t nx = static_cast<std::size_t>(std::max(shape.nx(), 0));
  const std::size_t ny = nx == 0 ? 0 : shape.nodeCount() / nx;
  NodeVector values(shape.nodeCount());
  UnitDraws draws(seed);
  Range range{kMinMaxStart, -kMinMaxStart};
  for (std::size_t i = 0; i < nx; ++i) {
    for (std::size_t j = 0; j < ny; ++j) {
      const double value = draw(draws, n, a, b, c);
      values[j * nx + i] = value;
      range.add(value);
    }
  }
  return Lattice::of(shape).holding(std::move(values), range, shape.georeference,
                                    Interpolation::Spline);
}

std::optional<Lattice> denseLattice(const Lattice& lattice, double factor) {
  const double nx = std::trunc(lattice.nx * factor - (factor - 1.0));
  const double ny = std::trunc(lattice.ny * factor - (factor - 1.0));
  if (!buildableCounts(nx, ny)) return std::nullopt;
  return lattice.sized(static_cast<int>(nx), static_cast<int>(ny));
}

std::optional<Grid> dense(const Grid& grid, double factor, ErrorSink* progress) {
  const std::optional<Lattice> lattice = denseLattice(Lattice::of(grid), factor);
  if (!lattice) return std::nullopt;
  if (lattice->nx == grid.nx() && lattice->ny == grid.ny()) {
    Grid copy = grid;
    copy.name.clear();
    return copy;
  }
  NodeVector values = sampleLattice(grid, lattice->nodeXs(), lattice->nodeYs(), progress);
  if (progress != nullptr && progress->failed()) return Grid();
  return lattice->holding(std::move(values), grid.georeference, Interpolation::Spline);
}

Grid cutByNodes(const Grid& grid, double nMin, double nMax, double mMin, double mMax,
                ErrorSink& sink) {
  return cutGridWindow(grid, cutWindowByNodes(Lattice::of(grid), nMin, nMax, mMin, mMax), sink);
}

Grid cutByCoordinates(const Grid& grid, double xMin, double xMax, double yMin, double yMax,
                      double index, ErrorSink& sink) {
  return cutGridWindow(
      grid, cutWindowByCoordinates(Lattice::of(grid), xMin, xMax, yMin, yMax, index), sink);
}

Grid merge(const Grid& first, const Grid& second, double fill, ErrorSink& sink) {
  if (!first.hasNodes() || !second.hasNodes()) return Grid();
  if (first.sameRectangle(second) || first.sameLattice(second)) {
    return mergeEqual(first, second, sink);
  }
  std::optional<Grid> result = mergeDifferent(first, second, fill, sink);
  if (!result) {
    sink.kernelError(sink_code::kGridDomain);
    return Grid();
  }
  return std::move(*result);
}

}  // namespace vellumar::grid
