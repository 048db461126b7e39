#include "isolines/IsolineComputer.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <new>
#include <type_traits>

#include "common/Memory.h"
#include "common/Parallel.h"
#include "geometry/Crossings.h"
#include "grid/Blank.h"

namespace vellumar::isolines {

namespace {

// Rank of a node value that takes part in no crossing: a blank node (NaN among them). rank()
// gives it as the 32-bit mark; a narrower store keeps it as its own type's largest value.
template <class Rank>
constexpr Rank kNoRank = std::numeric_limits<Rank>::max();
// More levels than this cannot be indexed by the 32-bit level fields.
constexpr double kMostLevels = 4.0e9;
// Edges are numbered with signed 32-bit indices, the closing record included.
constexpr std::int64_t kMostEdges = std::numeric_limits<std::int32_t>::max() - 1;

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
  geometry::Rect extent;
  extent.include(lattice.left, lattice.bottom);
  extent.include(lattice.right, lattice.top);
  const double nearNode = geometry::contactTolerance(extent);
  nearNodeX_ = nearNode / hx_;
  nearNodeY_ = nearNode / hy_;
  lowerEnd_ = lowerEnd != 0;
  if (!chooseLevels(lowest, highest, step)) return false;

  if (progress_ != nullptr) progress_->progressStart(caption_, 2 * edgeCount_);
  // Ends the call however it ends, memory running out included: the progress closes, the ranks
  // and bits (which live for one call only) are freed, and a failed trace leaves no lines.
  struct CallEnd {
    S_IsolineComputer& computer;
    bool ok = false;
    explicit CallEnd(S_IsolineComputer& traced) : computer(traced) {}
    CallEnd(const CallEnd&) = delete;
    CallEnd& operator=(const CallEnd&) = delete;
    ~CallEnd() { computer.endCall(ok); }
  } end{*this};
  // Ranks run 0 ... levelCount_, and the type's largest value marks a blank node.
  if (levelCount_ < kNoRank<std::uint8_t>) {
    end.ok = traceWithRanks<std::uint8_t>();
  } else if (levelCount_ < kNoRank<std::uint16_t>) {
    end.ok = traceWithRanks<std::uint16_t>();
  } else {
    end.ok = traceWithRanks<std::uint32_t>();
  }
  return end.ok;
}

void S_IsolineComputer::endCall(bool ok) noexcept {
  if (progress_ != nullptr) progress_->progressClose();
  decltype(ranks8_)().swap(ranks8_);
  decltype(ranks16_)().swap(ranks16_);
  decltype(ranks32_)().swap(ranks32_);
  decltype(offsets_)().swap(offsets_);
  rankData_ = nullptr;
  std::vector<std::uint64_t>().swap(visited_);
  if (!ok) output_.clear();
}

// The narrower rank types save memory and cache on the common traces of a few hundred levels at
// most; the steps that read ranks are compiled once per type, so no read chooses a type.
template <class Rank>
bool S_IsolineComputer::traceWithRanks() {
  return rankNodes<Rank>() && scan<Rank>();
}

template <class Rank>
std::vector<Rank>& S_IsolineComputer::rankStore() {
  if constexpr (std::is_same_v<Rank, std::uint8_t>) {
    return ranks8_;
  } else if constexpr (std::is_same_v<Rank, std::uint16_t>) {
    return ranks16_;
  } else {
    return ranks32_;
  }
}

template <class Rank>
const Rank* S_IsolineComputer::ranks() const {
  return static_cast<const Rank*>(rankData_);
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
  if (grid::isBlank(v)) return kNoRank<std::uint32_t>;
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

// Ranks every node, row by row, and counts the crossings of the edges: the most on one edge
// decides the layout of the visited bits. Progress counts the edges whose crossings are known.
// Ranks the nodes, counts the crossings they give and lays out the visited bits and the output
// for them. False when the user cancels or the crossings are more than 32 bits can count.
template <class Rank>
bool S_IsolineComputer::rankNodes() {
  std::vector<Rank>& store = rankStore<Rank>();
  store.resize(static_cast<std::size_t>(nx_) * static_cast<std::size_t>(ny_));
  Rank* const ranked = store.data();
  rankData_ = ranked;
  // The ranks in parallel blocks first (a blank's 32-bit mark narrows to the type's largest
  // value; every other rank fits), then the crossings counted row by row.
  parallel::forEachBlock(store.size(), [&](std::size_t begin, std::size_t end) {
    for (std::size_t k = begin; k < end; ++k) ranked[k] = static_cast<Rank>(rank(z_[k]));
  });
  std::uint64_t total = 0;
  std::uint32_t widest = 0;
  if (!countCrossings<Rank>(total, widest)) return false;
  layOutVisitedBits<Rank>(total, widest);
  reserveOutput(total);
  return true;
}

template <class Rank>
std::uint32_t S_IsolineComputer::rankSpan(std::size_t a, std::size_t b) const {
  const Rank* const ranked = ranks<Rank>();
  const std::uint32_t ra = ranked[a];
  const std::uint32_t rb = ranked[b];
  if (ra == kNoRank<Rank> || rb == kNoRank<Rank>) return 0;
  return ra > rb ? ra - rb : rb - ra;
}

template <class Rank>
bool S_IsolineComputer::countCrossings(std::uint64_t& total, std::uint32_t& widest) {
  const auto nx = static_cast<std::size_t>(nx_);
  const auto count = [&](std::size_t a, std::size_t b) {
    const std::uint32_t n = rankSpan<Rank>(a, b);
    total += n;
    widest = std::max(widest, n);
  };
  constexpr std::uint64_t kMostCrossings = std::numeric_limits<std::uint32_t>::max();
  for (std::size_t j = 0; j < static_cast<std::size_t>(ny_); ++j) {
    const std::size_t row = j * nx;
    for (std::size_t i = 0; i + 1 < nx; ++i) count(row + i, row + i + 1);
    if (j > 0) {
      for (std::size_t i = 0; i < nx; ++i) count(row - nx + i, row + i);
    }
    const auto known = static_cast<std::int64_t>((j + 1) * (nx - 1) + j * nx);
    if (total > kMostCrossings || !reportProgress(known)) return false;
  }
  return true;
}

template <class Rank>
void S_IsolineComputer::layOutVisitedBits(std::uint64_t total, std::uint32_t widest) {
  const auto nx = static_cast<std::size_t>(nx_);
  std::uint64_t bits = 0;
  if (widest <= 32) {
    slotWidth_ = widest;
    bits = static_cast<std::uint64_t>(edgeCount_) * widest;
  } else {
    slotWidth_ = 0;
    offsets_.resize(static_cast<std::size_t>(edgeCount_));
    std::uint32_t offset = 0;
    std::size_t e = 0;
    for (std::size_t j = 0; j < static_cast<std::size_t>(ny_); ++j) {
      for (std::size_t i = 0; i + 1 < nx; ++i, ++e) {
        offsets_[e] = offset;
        offset += rankSpan<Rank>(j * nx + i, j * nx + i + 1);
      }
    }
    for (std::size_t j = 0; j + 1 < static_cast<std::size_t>(ny_); ++j) {
      for (std::size_t i = 0; i < nx; ++i, ++e) {
        offsets_[e] = offset;
        offset += rankSpan<Rank>(j * nx + i, (j + 1) * nx + i);
      }
    }
    bits = total;
  }
  visited_.assign(static_cast<std::size_t>((bits + 63) / 64), 0);
}

// Room for the most points the crossings can give, reserved once: pages that stay unused are
// never touched, and the arrays never move while they grow.
void S_IsolineComputer::reserveOutput(std::uint64_t total) {
  const auto mostPoints = static_cast<std::size_t>(total + total / 4 + 1);
  output_.x.reserve(mostPoints);
  output_.y.reserve(mostPoints);
  memory::adviseHugePages(output_.x.data(), mostPoints * sizeof(double));
  memory::adviseHugePages(output_.y.data(), mostPoints * sizeof(double));
}

// Starts one piece at every crossing not yet visited, in edge order and then level order. An
// edge whose ends have the same rank is crossed by no level (two blank ends share the blank
// mark): most edges of a fine lattice are such, and are passed over without a look at their
// bits. Progress is reported (and a cancel noticed) after every row of edges.
template <class Rank>
bool S_IsolineComputer::scan() {
  const Rank* const ranked = ranks<Rank>();
  const auto nx = static_cast<std::size_t>(nx_);
  const auto ny = static_cast<std::size_t>(ny_);
  std::int32_t e = 0;
  for (std::size_t j = 0; j < ny; ++j) {
    const std::size_t row = j * nx;
    for (std::size_t i = 0; i + 1 < nx; ++i, ++e) {
      if (ranked[row + i] != ranked[row + i + 1]) scanEdge<Rank>(e, row + i, row + i + 1);
    }
    if (!reportProgress(edgeCount_ + e)) return false;
  }
  for (std::size_t j = 0; j + 1 < ny; ++j) {
    const std::size_t row = j * nx;
    for (std::size_t i = 0; i < nx; ++i, ++e) {
      if (ranked[row + i] != ranked[row + nx + i]) scanEdge<Rank>(e, row + i, row + nx + i);
    }
    if (!reportProgress(edgeCount_ + e)) return false;
  }
  return true;
}

// Traces the unvisited crossings of one edge.
template <class Rank>
void S_IsolineComputer::scanEdge(std::int32_t edge, std::size_t a, std::size_t b) {
  const Crossings crossings = crossingsOf<Rank>(edge, a, b);
  for (std::uint32_t n = 0; n < crossings.count; ++n) {
    if (!visited(crossings, crossings.first + n)) {
      tracePiece<Rank>(crossings, crossings.first + n);
    }
  }
}

template <class Rank>
void S_IsolineComputer::tracePiece(const Crossings& start, std::uint32_t k) {
  forward_.clear();
  backward_.clear();
  const Walk walk = walkForward<Rank>(start, k);
  if (walk == Walk::Abandoned) return;
  if (walk == Walk::Border && !walkBackward<Rank>(start, k)) return;
  emit(k);
}

// Follows the piece from the start crossing into the cell below (or left of) the start edge until
// it reaches the border or comes back to the start edge.
template <class Rank>
S_IsolineComputer::Walk S_IsolineComputer::walkForward(const Crossings& start, std::uint32_t k) {
  const double levelValue = level(k);
  markVisited(start, k);
  Cell cell = firstCell<Rank>(start.edge, true);
  std::int32_t edge = start.edge;
  EdgeNodes nodes = decode(start.edge);
  for (bool first = true;; first = false) {
    forward_.push_back(crossingPoint(nodes, edge, levelValue));
    if (!first && edge == start.edge) return Walk::Closed;
    if (!cell.inside) return Walk::Border;
    Crossings sides[4];
    cellSides<Rank>(cell, sides);
    // The start edge is the entry of the first cell; elsewhere reaching it closes the piece.
    const int exit = chooseExit(cell, sides, k, first ? -1 : start.edge);
    if (exit < 0) return Walk::Abandoned;
    edge = sides[exit].edge;
    if (edge != start.edge) markVisited(sides[exit], k);
    nodes = sideNodes(cell, exit);
    cell = across<Rank>(cell, exit);
  }
}

// Follows an open piece from the start crossing into the cell on the other side of the start
// edge up to the border. False when the walk cannot go on (the piece is dropped).
template <class Rank>
bool S_IsolineComputer::walkBackward(const Crossings& start, std::uint32_t k) {
  const double levelValue = level(k);
  for (Cell cell = firstCell<Rank>(start.edge, false); cell.inside;) {
    Crossings sides[4];
    cellSides<Rank>(cell, sides);
    const int exit = chooseExit(cell, sides, k, -1);
    if (exit < 0) return false;
    markVisited(sides[exit], k);
    backward_.push_back(crossingPoint(sideNodes(cell, exit), sides[exit].edge, levelValue));
    cell = across<Rank>(cell, exit);
  }
  return true;
}

// One unvisited crossing: leave through it; three (a saddle): the saddle rule. With the start edge
// among the sides, the saddle rule picks between the start edge and an unvisited side, and with no
// unvisited crossing left the piece closes through the start edge. Anything else stops the walk.
int S_IsolineComputer::chooseExit(const Cell& cell, const Crossings (&sides)[4], std::uint32_t k,
                                  std::int32_t startEdge) const {
  int unvisited = 0;
  int last = -1;
  int startSide = -1;
  const auto open = [&](int side) { return crosses(sides[side], k) && !visited(sides[side], k); };
  for (int side = 0; side < 4; ++side) {
    if (sides[side].edge == startEdge) {
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
    if (p.onNode) output_.nodePoints.push_back(output_.x.size());
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

// The sides of a cell with their crossings; side s joins corner s to corner s + 1.
template <class Rank>
void S_IsolineComputer::cellSides(const Cell& cell, Crossings (&sides)[4]) const {
  const auto h = static_cast<std::int32_t>(horizontal_);
  const std::int32_t i = cell.i;
  const std::int32_t j = cell.j;
  const std::size_t lowerLeft = static_cast<std::size_t>(j) * static_cast<std::size_t>(nx_) + i;
  const std::size_t corners[4] = {lowerLeft, lowerLeft + 1, lowerLeft + nx_ + 1, lowerLeft + nx_};
  sides[0] = crossingsOf<Rank>(j * (nx_ - 1) + i, corners[0], corners[1]);
  sides[1] = crossingsOf<Rank>(h + j * nx_ + i + 1, corners[1], corners[2]);
  sides[2] = crossingsOf<Rank>((j + 1) * (nx_ - 1) + i, corners[2], corners[3]);
  sides[3] = crossingsOf<Rank>(h + j * nx_ + i, corners[3], corners[0]);
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

// A cell with a blank corner is outside, as the cells past the border are: a walk that reaches it
// ends there, so isolines end at the edge of the valid area as open lines.
template <class Rank>
S_IsolineComputer::Cell S_IsolineComputer::across(const Cell& cell, int side) const {
  Cell next;
  switch (side) {
    case 0:
      next = {cell.i, cell.j - 1, 2, cell.j > 0};
      break;
    case 1:
      next = {cell.i + 1, cell.j, 3, cell.i + 2 < nx_};
      break;
    case 2:
      next = {cell.i, cell.j + 1, 0, cell.j + 2 < ny_};
      break;
    default:
      next = {cell.i - 1, cell.j, 1, cell.i > 0};
      break;
  }
  next.inside = next.inside && !hasBlankCorner<Rank>(next.i, next.j);
  return next;
}

template <class Rank>
bool S_IsolineComputer::hasBlankCorner(int i, int j) const {
  const std::size_t lowerLeft = static_cast<std::size_t>(j) * static_cast<std::size_t>(nx_) + i;
  const std::size_t upperLeft = lowerLeft + static_cast<std::size_t>(nx_);
  const Rank* const ranked = ranks<Rank>();
  constexpr Rank kBlank = kNoRank<Rank>;
  return ranked[lowerLeft] == kBlank || ranked[lowerLeft + 1] == kBlank ||
         ranked[upperLeft] == kBlank || ranked[upperLeft + 1] == kBlank;
}

// The cell below a horizontal edge (left of a vertical one) for the forward walk, the cell above
// (right of) it for the backward walk.
template <class Rank>
S_IsolineComputer::Cell S_IsolineComputer::firstCell(std::int32_t edge, bool forward) const {
  const EdgeNodes e = decode(edge);
  Cell on = {e.i, e.j, e.horizontal ? 0 : 3, e.horizontal ? e.j + 1 < ny_ : e.i + 1 < nx_};
  if (forward) return across<Rank>(on, e.horizontal ? 0 : 3);
  on.inside = on.inside && !hasBlankCorner<Rank>(on.i, on.j);
  return on;
}

template <class Rank>
S_IsolineComputer::Crossings S_IsolineComputer::crossingsOf(std::int32_t edge, std::size_t a,
                                                            std::size_t b) const {
  const Rank* const ranked = ranks<Rank>();
  const std::uint32_t ra = ranked[a];
  const std::uint32_t rb = ranked[b];
  if (ra == kNoRank<Rank> || rb == kNoRank<Rank>) return {edge, 0, 0};
  return ra < rb ? Crossings{edge, ra, rb - ra} : Crossings{edge, rb, ra - rb};
}

std::size_t S_IsolineComputer::bitOf(const Crossings& edge, std::uint32_t k) const {
  const std::size_t slot = slotWidth_ != 0
                               ? static_cast<std::size_t>(edge.edge) * slotWidth_
                               : std::size_t(offsets_[static_cast<std::size_t>(edge.edge)]);
  return slot + (k - edge.first);
}

bool S_IsolineComputer::visited(const Crossings& edge, std::uint32_t k) const {
  const std::size_t bit = bitOf(edge, k);
  return (visited_[bit >> 6] >> (bit & 63) & 1) != 0;
}

void S_IsolineComputer::markVisited(const Crossings& edge, std::uint32_t k) {
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
  double t = std::clamp((levelValue - z0) / (nodeValue(i1, j1) - z0), 0.0, 1.0);
  // A crossing nearer a node than the polygon check tells points apart is that node: the lines of
  // a level that nearly meets node values then meet where they pass the node, as at the level
  // itself, instead of leaving slivers no check can tell from shared stretches.
  const double nearNode = e.horizontal ? nearNodeX_ : nearNodeY_;
  if (t <= nearNode) t = 0.0;
  if (t >= 1.0 - nearNode) t = 1.0;
  const double x0 = xmin_ + e.i * hx_;
  const double y0 = ymin_ + e.j * hy_;
  const double x1 = xmin_ + i1 * hx_;
  const double y1 = ymin_ + j1 * hy_;
  // A crossing at a node is that node's position exactly, whichever edge reaches it: the pieces
  // of lines that pass through a node at the level then meet there bit for bit.
  if (t == 0.0) return {x0, y0, edge, true};
  if (t == 1.0) return {x1, y1, edge, true};
  return {x0 + t * (x1 - x0), y0 + t * (y1 - y0), edge, false};
}

bool S_IsolineComputer::reportProgress(std::int64_t done) {
  return progress_ == nullptr || progress_->progressStep(done);
}

}  // namespace vellumar::isolines
