#include "isolines/IsolineComputer.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <new>

namespace vellumar::isolines {

namespace {

// Rank of a node value that takes part in no crossing (NaN).
constexpr std::uint32_t kNoRank = std::numeric_limits<std::uint32_t>::max();
// More levels than this cannot be indexed by the 32-bit level fields.
constexpr double kMostLevels = 4.0e9;
// Edges are numbered with signed 32-bit indices, the closing record included.
constexpr std::int64_t kMostEdges = std::numeric_limits<std::int32_t>::max() - 1;
// Progress is reported (and a cancel noticed) at least this often during the scan.
constexpr std::int64_t kScanChunk = 1 << 16;

}  // namespace

S_IsolineComputer::S_IsolineComputer(TracedLines& output, ErrorSink* progress,
                                     std::string_view caption)
    : progress_(progress), output_(output), caption_(caption) {}

bool S_IsolineComputer::traceLevels(const grid::Grid& lattice, double lowest, double highest,
                                    double step, int lowerEnd) {
  output_.clear();
  if (lattice.nx() < 2 || lattice.ny() < 2 || !lattice.hasNodes()) return false;
  z_ = lattice.nodes().data();
  nx_ = lattice.nx();
  ny_ = lattice.ny();
  horizontal_ = static_cast<std::int64_t>(nx_ - 1) * ny_;
  edgeCount_ = horizontal_ + static_cast<std::int64_t>(nx_) * (ny_ - 1);
  if (edgeCount_ > kMostEdges) return false;
  xmin_ = lattice.left;
  ymin_ = lattice.bottom;
  hx_ = (lattice.right - lattice.left) / (nx_ - 1);
  hy_ = (lattice.top - lattice.bottom) / (ny_ - 1);
  lowerEnd_ = lowerEnd != 0;
  if (!chooseLevels(lowest, highest, step)) return false;

  if (progress_ != nullptr) progress_->progressStart(caption_, 2 * edgeCount_);
  bool ok = false;
  try {
    ok = buildEdges() && scan();
  } catch (const std::bad_alloc&) {
    ok = false;
  }
  if (progress_ != nullptr) progress_->progressClose();
  // The records live for one call only.
  decltype(edges_)().swap(edges_);
  std::vector<std::uint64_t>().swap(visited_);
  if (!ok) output_.clear();
  return ok;
}

// Levels L0 + (Lhigh - L0) * k / (n - 1), k = 0 ... n - 1, with n = floor((L1 - L0) / s) + 1.
bool S_IsolineComputer::chooseLevels(double lowest, double highest, double step) {
  if (!std::isfinite(lowest) || !std::isfinite(highest) || lowest > highest) return false;
  lowLevel_ = lowest;
  highLevel_ = lowest;
  levelCount_ = 1;
  if (lowest == highest) return true;
  if (!(step > 0.0)) step = highest - lowest;
  const double q = (highest - lowest) / step;
  if (!(q < kMostLevels)) return false;
  double n = std::trunc(q + 0.5);
  if (n <= q) n += 1.0;
  levelCount_ = static_cast<std::uint32_t>(n);
  if (levelCount_ > 1) {
    highLevel_ = lowest + (n - 1.0) * step;
    levelScale_ = (n - 1.0) / (highLevel_ - lowLevel_);
  }
  return true;
}

double S_IsolineComputer::level(std::uint32_t k) const {
  if (levelCount_ == 1) return lowLevel_;
  return lowLevel_ + (highLevel_ - lowLevel_) * k / (levelCount_ - 1.0);
}

// The number of levels below v: the smallest k with level(k) >= v (lower-end rule; > v for the
// upper-end rule), 0 ... n. An edge with end ranks ra and rb is crossed by the levels
// min(ra, rb) ... max(ra, rb) - 1, so every node value is ranked once, not compared with every
// level. The rank is estimated on the scale u(v) = (v - L0) / (Lhigh - L0) * (n - 1) and, when u
// lies within rounding of a whole number, settled against the levels themselves, so a node value
// equal to a level counts exactly as the crossing rule says.
std::uint32_t S_IsolineComputer::rank(double v) const {
  if (std::isnan(v)) return kNoRank;
  const auto reaches = [this, v](std::uint32_t k) {
    return lowerEnd_ ? level(k) >= v : level(k) > v;
  };
  if (levelCount_ == 1) return reaches(0) ? 0 : 1;
  const double n = levelCount_;
  const double u = (v - lowLevel_) * levelScale_;
  if (!(u > -1.0)) return 0;
  if (!(u < n)) return levelCount_;
  const double whole = std::floor(u);
  const double fraction = u - whole;
  const double tolerance = 1e-9 * (1.0 + std::fabs(u));
  if (fraction > tolerance && fraction < 1.0 - tolerance) {
    return static_cast<std::uint32_t>(std::max(whole + 1.0, 0.0));
  }
  auto k = static_cast<std::uint32_t>(std::clamp(std::nearbyint(u), 0.0, n));
  while (k > 0 && reaches(k - 1)) --k;
  while (k < levelCount_ && !reaches(k)) ++k;
  return k;
}

// Edge records in index order, horizontal edges first, each with the offset of its first
// crossing; the closing record holds the total. Node ranks are computed row by row.
bool S_IsolineComputer::buildEdges() {
  edges_.resize(static_cast<std::size_t>(edgeCount_) + 1);
  std::vector<std::uint32_t> lower(static_cast<std::size_t>(nx_));
  std::vector<std::uint32_t> upper(static_cast<std::size_t>(nx_));
  const auto rankRow = [this](int j, std::vector<std::uint32_t>& ranks) {
    const double* row = z_ + static_cast<std::size_t>(j) * static_cast<std::size_t>(nx_);
    for (int i = 0; i < nx_; ++i) ranks[i] = rank(row[i]);
  };
  std::uint64_t offset = 0;
  std::size_t e = 0;
  const auto record = [&](std::uint32_t ra, std::uint32_t rb) {
    Edge& edge = edges_[e++];
    edge.offset = static_cast<std::uint32_t>(offset);
    if (ra == kNoRank || rb == kNoRank) {
      edge.firstLevel = 0;
      return;
    }
    edge.firstLevel = std::min(ra, rb);
    offset += std::max(ra, rb) - edge.firstLevel;
  };
  constexpr std::uint64_t kMostCrossings = std::numeric_limits<std::uint32_t>::max();
  for (int j = 0; j < ny_; ++j) {
    rankRow(j, lower);
    for (int i = 0; i + 1 < nx_; ++i) record(lower[i], lower[i + 1]);
    if (offset > kMostCrossings || !reportProgress(static_cast<std::int64_t>(e))) return false;
  }
  rankRow(0, lower);
  for (int j = 0; j + 1 < ny_; ++j) {
    rankRow(j + 1, upper);
    for (int i = 0; i < nx_; ++i) record(lower[i], upper[i]);
    lower.swap(upper);
    if (offset > kMostCrossings || !reportProgress(static_cast<std::int64_t>(e))) return false;
  }
  edges_[e] = {0, static_cast<std::uint32_t>(offset)};
  visited_.assign(static_cast<std::size_t>((offset + 63) / 64), 0);
  // Room for the most points the crossings can give, reserved once: pages that stay unused are
  // never touched, and the arrays never move while they grow.
  const auto mostPoints = static_cast<std::size_t>(offset + offset / 4 + 1);
  output_.x.reserve(mostPoints);
  output_.y.reserve(mostPoints);
  return true;
}

// Starts one piece at every crossing not yet visited, in edge order and then level order.
bool S_IsolineComputer::scan() {
  for (std::int64_t e = 0; e < edgeCount_; ++e) {
    const Edge& edge = edges_[static_cast<std::size_t>(e)];
    const std::uint32_t end = edges_[static_cast<std::size_t>(e) + 1].offset;
    for (std::uint32_t bit = edge.offset; bit < end; ++bit) {
      if ((visited_[bit >> 6] >> (bit & 63) & 1) != 0) continue;
      tracePiece(static_cast<std::int32_t>(e), edge.firstLevel + (bit - edge.offset));
    }
    if ((e + 1) % kScanChunk == 0 && !reportProgress(edgeCount_ + e + 1)) return false;
  }
  return reportProgress(2 * edgeCount_);
}

void S_IsolineComputer::tracePiece(std::int32_t edge, std::uint32_t k) {
  forward_.clear();
  backward_.clear();
  const Walk walk = walkForward(edge, k);
  if (walk == Walk::Abandoned) return;
  if (walk == Walk::Border && !walkBackward(edge, k)) return;
  emit(k);
}

// Follows the piece from the start crossing into the cell below (or left of) the start edge until
// it reaches the border or comes back to the start edge.
S_IsolineComputer::Walk S_IsolineComputer::walkForward(std::int32_t startEdge, std::uint32_t k) {
  const double levelValue = level(k);
  markVisited(startEdge, k);
  Cell cell = firstCell(startEdge, true);
  std::int32_t edge = startEdge;
  EdgeNodes nodes = decode(startEdge);
  for (bool first = true;; first = false) {
    forward_.push_back(crossingPoint(nodes, edge, levelValue));
    if (!first && edge == startEdge) return Walk::Closed;
    if (!cell.inside) return Walk::Border;
    std::int32_t sides[4];
    cellSides(cell.i, cell.j, sides);
    // The start edge is the entry of the first cell; elsewhere reaching it closes the piece.
    const int exit = chooseExit(cell, sides, k, first ? -1 : startEdge);
    if (exit < 0) return Walk::Abandoned;
    edge = sides[exit];
    if (edge != startEdge) markVisited(edge, k);
    nodes = sideNodes(cell, exit);
    cell = across(cell, exit);
  }
}

// Follows an open piece from the start crossing into the cell on the other side of the start
// edge up to the border. False when the walk cannot go on (the piece is dropped).
bool S_IsolineComputer::walkBackward(std::int32_t startEdge, std::uint32_t k) {
  const double levelValue = level(k);
  for (Cell cell = firstCell(startEdge, false); cell.inside;) {
    std::int32_t sides[4];
    cellSides(cell.i, cell.j, sides);
    const int exit = chooseExit(cell, sides, k, -1);
    if (exit < 0) return false;
    markVisited(sides[exit], k);
    backward_.push_back(crossingPoint(sideNodes(cell, exit), sides[exit], levelValue));
    cell = across(cell, exit);
  }
  return true;
}

// One unvisited crossing: leave through it; three (a saddle): the saddle rule. With the start edge
// among the sides, the saddle rule picks between the start edge and an unvisited side, and with no
// unvisited crossing left the piece closes through the start edge. Anything else stops the walk.
int S_IsolineComputer::chooseExit(const Cell& cell, const std::int32_t (&sides)[4], std::uint32_t k,
                                  std::int32_t startEdge) const {
  int unvisited = 0;
  int last = -1;
  int startSide = -1;
  const auto open = [&](int side) { return crosses(sides[side], k) && !visited(sides[side], k); };
  for (int side = 0; side < 4; ++side) {
    if (sides[side] == startEdge) {
      startSide = side;
    } else if (open(side)) {
      ++unvisited;
      last = side;
    }
  }
  if (startSide < 0) {
    if (unvisited == 1) return last;
    return unvisited == 3 ? saddleExit(cell) : -1;
  }
  if (unvisited == 0) return startSide;
  if (unvisited != 2) return -1;
  const int exit = saddleExit(cell);
  return exit == startSide || open(exit) ? exit : -1;
}

// A saddle cell entered on side s leaves through side s - 1 when corner s is the higher end of
// side s, else through side s + 1: the high corners stay apart, the low ones are joined.
int S_IsolineComputer::saddleExit(const Cell& cell) const {
  const double corners[4] = {nodeValue(cell.i, cell.j), nodeValue(cell.i + 1, cell.j),
                             nodeValue(cell.i + 1, cell.j + 1), nodeValue(cell.i, cell.j + 1)};
  const int s = cell.entry;
  return corners[s] > corners[(s + 1) % 4] ? (s + 3) % 4 : (s + 1) % 4;
}

// The backward points reversed, then the forward points, oriented with the higher values on the
// right; pieces of fewer than two points are dropped.
void S_IsolineComputer::emit(std::uint32_t k) {
  const std::size_t count = backward_.size() + forward_.size();
  if (count < 2) return;
  const std::size_t back = backward_.size();
  const auto at = [&](std::size_t n) -> const GridPoint& {
    return n < back ? backward_[back - 1 - n] : forward_[n - back];
  };
  const bool reversed = !highOnRight(at(0), at(1));
  for (std::size_t n = 0; n < count; ++n) {
    const GridPoint& p = at(reversed ? count - 1 - n : n);
    output_.x.push_back(p.x);
    output_.y.push_back(p.y);
  }
  output_.counts.push_back(static_cast<std::int32_t>(count));
  output_.levels.push_back(level(k));
}

// Whether walking from a to b leaves the higher node of a's edge on the right (x to the right,
// y upwards). The direction is read from b's edge: it is a side of the cell below (left of) a's
// edge or of the cell above (right of) it.
bool S_IsolineComputer::highOnRight(const GridPoint& a, const GridPoint& b) const {
  const EdgeNodes from = decode(a.edge);
  const EdgeNodes to = decode(b.edge);
  if (from.horizontal) {
    const double left = nodeValue(from.i, from.j);
    const double right = nodeValue(from.i + 1, from.j);
    return to.j < from.j ? left > right : right > left;
  }
  const double lower = nodeValue(from.i, from.j);
  const double upper = nodeValue(from.i, from.j + 1);
  return to.i < from.i ? upper > lower : lower > upper;
}

S_IsolineComputer::EdgeNodes S_IsolineComputer::decode(std::int32_t edge) const {
  if (edge < horizontal_) return {true, edge % (nx_ - 1), edge / (nx_ - 1)};
  const auto v = static_cast<std::int32_t>(edge - horizontal_);
  return {false, v % nx_, v / nx_};
}

void S_IsolineComputer::cellSides(int i, int j, std::int32_t (&sides)[4]) const {
  const auto h = static_cast<std::int32_t>(horizontal_);
  sides[0] = j * (nx_ - 1) + i;
  sides[1] = h + j * nx_ + i + 1;
  sides[2] = (j + 1) * (nx_ - 1) + i;
  sides[3] = h + j * nx_ + i;
}

S_IsolineComputer::EdgeNodes S_IsolineComputer::sideNodes(const Cell& cell, int side) const {
  switch (side) {
    case 0:
      return {true, cell.i, cell.j};
    case 1:
      return {false, cell.i + 1, cell.j};
    case 2:
      return {true, cell.i, cell.j + 1};
    default:
      return {false, cell.i, cell.j};
  }
}

S_IsolineComputer::Cell S_IsolineComputer::across(const Cell& cell, int side) const {
  switch (side) {
    case 0:
      return {cell.i, cell.j - 1, 2, cell.j > 0};
    case 1:
      return {cell.i + 1, cell.j, 3, cell.i + 2 < nx_};
    case 2:
      return {cell.i, cell.j + 1, 0, cell.j + 2 < ny_};
    default:
      return {cell.i - 1, cell.j, 1, cell.i > 0};
  }
}

// The cell below a horizontal edge (left of a vertical one) for the forward walk, the cell above
// (right of) it for the backward walk.
S_IsolineComputer::Cell S_IsolineComputer::firstCell(std::int32_t edge, bool forward) const {
  const EdgeNodes e = decode(edge);
  const Cell on = {e.i, e.j, e.horizontal ? 0 : 3, e.horizontal ? e.j + 1 < ny_ : e.i + 1 < nx_};
  return forward ? across(on, e.horizontal ? 0 : 3) : on;
}

bool S_IsolineComputer::crosses(std::int32_t edge, std::uint32_t k) const {
  const Edge& record = edges_[static_cast<std::size_t>(edge)];
  const std::uint32_t count = edges_[static_cast<std::size_t>(edge) + 1].offset - record.offset;
  return k >= record.firstLevel && k - record.firstLevel < count;
}

std::size_t S_IsolineComputer::bitOf(std::int32_t edge, std::uint32_t k) const {
  const Edge& record = edges_[static_cast<std::size_t>(edge)];
  return std::size_t(record.offset) + (k - record.firstLevel);
}

bool S_IsolineComputer::visited(std::int32_t edge, std::uint32_t k) const {
  const std::size_t bit = bitOf(edge, k);
  return (visited_[bit >> 6] >> (bit & 63) & 1) != 0;
}

void S_IsolineComputer::markVisited(std::int32_t edge, std::uint32_t k) {
  const std::size_t bit = bitOf(edge, k);
  visited_[bit >> 6] |= std::uint64_t(1) << (bit & 63);
}

// The point where level crosses the edge from its left (lower) node P0 to P1:
// P0 + t * (P1 - P0), t = (level - z0) / (z1 - z0) limited to [0, 1].
S_IsolineComputer::GridPoint S_IsolineComputer::crossingPoint(const EdgeNodes& e, std::int32_t edge,
                                                              double levelValue) const {
  const int i1 = e.horizontal ? e.i + 1 : e.i;
  const int j1 = e.horizontal ? e.j : e.j + 1;
  const double z0 = nodeValue(e.i, e.j);
  const double t = std::clamp((levelValue - z0) / (nodeValue(i1, j1) - z0), 0.0, 1.0);
  const double x0 = xmin_ + e.i * hx_;
  const double y0 = ymin_ + e.j * hy_;
  const double x1 = xmin_ + i1 * hx_;
  const double y1 = ymin_ + j1 * hy_;
  return {x0 + t * (x1 - x0), y0 + t * (y1 - y0), edge};
}

bool S_IsolineComputer::reportProgress(std::int64_t done) {
  return progress_ == nullptr || progress_->progressStep(done);
}

}  // namespace vellumar::isolines
