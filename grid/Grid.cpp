#include "grid/Grid.h"

#include <algorithm>
#include <cassert>
#include <cmath>
#include <cstdint>
#include <limits>

#include "common/Memory.h"
#include "common/Parallel.h"
#include "grid/Lattice.h"
#include "grid/Surface.h"
#include "grid/SurfaceKernel.h"

namespace vellumar::grid {

namespace {

std::size_t countOf(int nx, int ny) {
  return nx >= 1 && ny >= 1 ? static_cast<std::size_t>(nx) * static_cast<std::size_t>(ny) : 0;
}

}  // namespace

namespace {

// The smallest and largest of the values (NaN never counts), blank values left out when
// SkipBlanks. Four running minima and maxima, so that the comparisons do not wait on each other;
// they give exactly what one running pair gives.
template <bool SkipBlanks>
Range scanRange(std::span<const double> values) {
  constexpr std::size_t kWays = 4;
  Range ways[kWays];
  const std::size_t n = values.size();
  const auto add = [](Range& range, double v) {
    const bool counted = !SkipBlanks || !isBlank(v);
    range.min = counted && v < range.min ? v : range.min;
    range.max = counted && v > range.max ? v : range.max;
  };
  std::size_t k = 0;
  for (; k + kWays <= n; k += kWays) {
    for (std::size_t w = 0; w < kWays; ++w) add(ways[w], values[k + w]);
  }
  for (; k < n; ++k) add(ways[0], values[k]);
  for (std::size_t w = 1; w < kWays; ++w) ways[0].add(ways[w]);
  return ways[0];
}

// The largest of the values below the blanking value, or -kZRangeStart.
double largestBelowBlanks(std::span<const double> values) {
  constexpr std::size_t kWays = 4;
  double ways[kWays] = {-kZRangeStart, -kZRangeStart, -kZRangeStart, -kZRangeStart};
  const std::size_t n = values.size();
  const auto add = [](double& largest, double v) {
    largest = v < kBlankValue && v > largest ? v : largest;
  };
  std::size_t k = 0;
  for (; k + kWays <= n; k += kWays) {
    for (std::size_t w = 0; w < kWays; ++w) add(ways[w], values[k + w]);
  }
  for (; k < n; ++k) add(ways[0], values[k]);
  return std::max(std::max(ways[0], ways[1]), std::max(ways[2], ways[3]));
}

}  // namespace

namespace {

// Blocks of half a megabyte: the scans are bound by memory, so each block must be worth a thread.
constexpr parallel::Blocking kScanBlocks{std::size_t(1) << 16, std::size_t(1) << 18};

// scan(block) over blocks of values at once, folded with fold in block order.
template <class T, class Scan, class Fold>
T scanBlocks(std::span<const double> values, T start, Scan scan, Fold fold) {
  ProgressPacer quiet(nullptr, 0);
  parallel::reduceBlocks(
      values.size(), quiet, start,
      [&](std::size_t begin, std::size_t end) { return scan(values.subspan(begin, end - begin)); },
      fold, kScanBlocks);
  return start;
}

Range widenedBy(Range total, const Range& block) {
  total.add(block);
  return total;
}

}  // namespace

Range rangeOf(std::span<const double> values) {
  // Blank values lie at or above the blanking value, so a scan that does not look for them is
  // right unless its largest value reaches it. Then the smallest value still is (blanks never
  // lower it) unless every value reaches it, and the largest is sought again below the blanking
  // value, or is +inf, which is a number.
  const Range all = scanBlocks(values, Range{}, scanRange<false>, widenedBy);
  if (all.max < kBlankValue) return all;
  if (!(all.min < kBlankValue)) return scanBlocks(values, Range{}, scanRange<true>, widenedBy);
  const double inf = std::numeric_limits<double>::infinity();
  if (all.max == inf) return Range{all.min, inf};
  return Range{all.min, scanBlocks(values, -kZRangeStart, largestBelowBlanks,
                                   [](double a, double b) { return std::max(a, b); })};
}

bool anyBlank(std::span<const double> values) {
  // Candidates first, at memory speed; the exact test only when there are any.
  std::uint32_t candidate = 0;
  for (const double v : values) candidate |= static_cast<std::uint32_t>(mayBeBlank(v));
  return candidate != 0 && std::any_of(values.begin(), values.end(), isBlank);
}

Grid::Grid(int nx, int ny) {
  reinitialise(nx, ny);
}

Grid::Grid(int nx, int ny, const Grid& prototype) : Grid(fromNodes(nx, ny, prototype, {})) {}

Grid::Grid(int nx, int ny, const Grid& prototype, NodeVector values)
    : Grid(Lattice::of(prototype).sized(nx, ny).holding(std::move(values), prototype.georeference,
                                                        Interpolation::Spline)) {}

Grid Grid::fromNodes(int nx, int ny, const Grid& prototype, NodeVector values) {
  return Lattice::of(prototype).sized(nx, ny).holding(
      std::move(values), Range{0.0, 0.0}, prototype.georeference, Interpolation::Spline);
}

void Grid::reinitialise(int nx, int ny) {
  reinitialiseUnset(nx, ny);
  std::fill(nodes_.begin(), nodes_.end(), 0.0);
}

void Grid::reinitialiseUnset(int nx, int ny) {
  nx_ = nx;
  ny_ = ny;
  // The node allocator leaves the values that resize() adds uninitialised.
  nodes_.clear();
  nodes_.resize(countOf(nx, ny));
  nodesChanged();
  name.clear();
}

void Grid::setMode(Interpolation mode) {
  if (mode == mode_) return;
  mode_ = mode;
  coefficients_.drop();
}

std::span<double> Grid::mutableNodes() {
  nodesChanged();
  return nodes_;
}

void Grid::setNode(int i, int j, double value) {
  nodesChanged();
  nodes_[index(i, j)] = value;
}

void Grid::replaceNodes(NodeVector values) {
  nodesChanged();
  nodes_ = std::move(values);
  nodes_.resize(countOf(nx_, ny_), 0.0);
}

std::vector<double> nodeCoordinates(double low, double high, int count) {
  const Lattice axis{count, 1, low, high, 0.0, 0.0};
  std::vector<double> coordinates(static_cast<std::size_t>(std::max(count, 0)));
  for (int i = 0; i < count; ++i) coordinates[i] = axis.nodeX(i);
  return coordinates;
}

double Grid::nodeX(int i) const {
  return Lattice::of(*this).nodeX(i);
}

double Grid::nodeY(int j) const {
  return Lattice::of(*this).nodeY(j);
}

std::vector<double> Grid::nodeXs() const {
  return Lattice::of(*this).nodeXs();
}

std::vector<double> Grid::nodeYs() const {
  return Lattice::of(*this).nodeYs();
}

bool Grid::sameRectangle(const Grid& other) const {
  return left == other.left && right == other.right && bottom == other.bottom && top == other.top;
}

bool Grid::sameLattice(const Grid& other) const {
  return Lattice::of(*this).sameNodes(Lattice::of(other));
}

bool Grid::findBlanks() const {
  const bool blanks = anyBlank(nodes_);
  blanks_.set(blanks ? BlankState::kSome : BlankState::kNone);
  return blanks;
}

bool Grid::cellIsBlank(int i, int j) const {
  const double* low = nodes_.data() + index(i, j);
  const double* high = low + nx_;
  return isBlank(low[0]) || isBlank(low[1]) || isBlank(high[0]) || isBlank(high[1]);
}

bool Grid::blankAt(double x, double y) const {
  if (!detail::surfaceUsable(*this) || !hasBlanks()) return false;
  if (!(x >= left && x <= right && y >= bottom && y <= top)) return false;
  int i = 0;
  int j = 0;
  double s = 0.0;
  double t = 0.0;
  return !detail::surfaceCell(*this, (x - left) / stepX(), (y - bottom) / stepY(), i, j, s, t);
}

const NodeVector* Grid::splineCoefficients() const {
  if (nodes_.empty()) return nullptr;
  // Without a sink nothing can cancel the solve, so it always ends solved.
  [[maybe_unused]] const bool solved = solveCoefficients(nullptr);
  assert(solved);
  return &coefficients_.values();
}

bool Grid::prepareSurface(ErrorSink* progress) const {
  if (mode_ != Interpolation::Spline || !detail::surfaceUsable(*this) || coefficients_.solved()) {
    return true;
  }
  return solveCoefficients(progress);
}

namespace {

// Thrown out of a cancelled solve: FillOnce then leaves the coefficients unsolved, so a
// cancelled solve keeps nothing and the next use solves them again.
struct SolveCancelled {};

}  // namespace

bool Grid::solveCoefficients(ErrorSink* progress) const {
  try {
    coefficients_.get([&] {
      bool blanks = false;
      NodeVector solved = computeSplineCoefficients(nodes_, nx_, ny_, &blanks, progress);
      if (progress != nullptr && progress->failed()) throw SolveCancelled{};
      blanks_.set(blanks ? BlankState::kSome : BlankState::kNone);
      return solved;
    });
  } catch (const SolveCancelled&) {
    return false;
  }
  return true;
}

double Grid::value(double x, double y) const {
  if (!detail::surfaceUsable(*this)) return 0.0;
  if (!(x >= left && x <= right && y >= bottom && y <= top)) return 0.0;
  const double hx = stepX();
  const double hy = stepY();
  int i = 0;
  int j = 0;
  double s = 0.0;
  double t = 0.0;
  if (!detail::surfaceCell(*this, (x - left) / hx, (y - bottom) / hy, i, j, s, t)) {
    return kBlankValue;
  }
  if (mode_ == Interpolation::Bilinear) {
    const double* low = nodes_.data() + index(i, j);
    return detail::bilinear(low, low + nx_, detail::bilinearOffset(x - left, i, hx),
                            detail::bilinearOffset(y - bottom, j, hy));
  }
  return detail::splineAt(splineCoefficients()->data(), static_cast<std::size_t>(nx_) + 2, i, j, s,
                          t);
}

void Grid::recomputeZRange() {
  Range range;
  if (hasNodes()) {
    const std::vector<double> xs = nodeXs();
    std::vector<double> row(xs.size());
    SurfaceSampler sampler(*this, xs);
    for (int j = 0; j < ny_; ++j) {
      sampler.sampleRow(nodeY(j), row.data());
      for (const double v : row) range.add(v);
    }
  }
  zmin = range.min;
  zmax = range.max;
}

bool Grid::resample(int nx, int ny, ErrorSink* progress) {
  if (nx < 1 || ny < 1) return false;
  if (nx == nx_ && ny == ny_) return true;
  const Lattice lattice = Lattice::of(*this).sized(nx, ny);
  NodeVector values = sampleLattice(*this, lattice.nodeXs(), lattice.nodeYs(), progress);
  if (progress != nullptr && progress->failed()) return false;
  nx_ = nx;
  ny_ = ny;
  replaceNodes(std::move(values));
  const Range range = rangeOf(nodes_);
  zmin = range.min;
  zmax = range.max;
  return true;
}

namespace {
double mostNodesSetting = 0.0;  // 0: follow the usable memory
}  // namespace

double mostNodes() {
  if (mostNodesSetting > 0.0) return mostNodesSetting;
  // As many nodes as the memory the program may use holds values of, so that a machine with more
  // memory takes larger grids; beyond 2^31 - 1 nodes the counts of a lattice no longer fit the
  // 32-bit integers they are kept in. Never below 2^28 nodes (2 GB of values): a request that
  // large but beyond the memory is refused by the memory claim, with the out-of-memory message.
  constexpr double kLeast = double(1 << 28);
  const auto usable = static_cast<double>(memory::usableBytes());
  return std::clamp(usable / sizeof(double), kLeast,
                    double(std::numeric_limits<std::int32_t>::max()));
}

void setMostNodes(double nodes) {
  mostNodesSetting = nodes;
}

}  // namespace vellumar::grid
