#include "isolines/IsolineComputer.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <limits>
#include <new>
#include <queue>
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
// Lattices of fewer edges are traced by the serial scan alone: thread start-up and the recording
// and replaying of every walk would cost more than they save.
constexpr std::int64_t kLeastParallelEdges = std::int64_t{1} << 18;
// About this many edges per band of rows of the parallel planning: bands small enough for the
// threads to even out their unequal work, cut by the lattice alone, never by the number of threads.
constexpr std::size_t kEdgesPerBand = std::size_t{1} << 17;
// Pieces per batch of the parallel writing.
constexpr std::size_t kPiecesPerBatch = 512;

}  // namespace

bool S_IsolineComputer::startsBefore(const Piece& p, const Piece& q) {
  return p.edge != q.edge ? p.edge < q.edge : p.level < q.level;
}

std::size_t S_IsolineComputer::edgeRows() const {
  return 2 * static_cast<std::size_t>(ny_) - 1;
}

void S_IsolineComputer::Trail::clear() {
  forward.clear();
  backward.clear();
  forwardCount = 0;
  backwardCount = 0;
  lowestEdge = std::numeric_limits<std::int32_t>::max();
}

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
  freeScanState();
  if (!ok) output_.clear();
}

void S_IsolineComputer::freeScanState() noexcept {
  decltype(ranks8_)().swap(ranks8_);
  decltype(ranks16_)().swap(ranks16_);
  decltype(ranks32_)().swap(ranks32_);
  decltype(offsets_)().swap(offsets_);
  rankData_ = nullptr;
  std::vector<std::uint64_t>().swap(visited_);
}

// The narrower rank types save memory and cache on the common traces of a few hundred levels at
// most; the steps that read ranks are compiled once per type, so no read chooses a type.
template <class Rank>
bool S_IsolineComputer::traceWithRanks() {
  if (!rankNodes<Rank>()) return false;
  const bool parallel = parallel::threadLimit() > 1 && edgeCount_ >= kLeastParallelEdges;
  return parallel ? scanInParallel<Rank>() : scan<Rank>();
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
  struct Count {
    std::uint64_t total = 0;
    std::uint32_t widest = 0;
  };
  const auto nx = static_cast<std::size_t>(nx_);
  const auto ny = static_cast<std::size_t>(ny_);
  // The first half of the progress, in parallel blocks of node rows: each row's edges along it
  // and those down to the row before.
  ProgressPacer pacer =
      ProgressPacer::part(progress_, 0, edgeCount_, static_cast<std::int64_t>(nx * ny));
  Count all;
  const bool counted = parallel::reduceRowBlocks(
      ny, nx, pacer, all,
      [&](std::size_t first, std::size_t last) {
        Count block;
        const auto count = [&](std::size_t a, std::size_t b) {
          const std::uint32_t n = rankSpan<Rank>(a, b);
          block.total += n;
          block.widest = std::max(block.widest, n);
        };
        for (std::size_t j = first; j < last; ++j) {
          const std::size_t row = j * nx;
          for (std::size_t i = 0; i + 1 < nx; ++i) count(row + i, row + i + 1);
          if (j > 0) {
            for (std::size_t i = 0; i < nx; ++i) count(row - nx + i, row + i);
          }
        }
        return block;
      },
      [](Count sum, const Count& block) {
        sum.total += block.total;
        sum.widest = std::max(sum.widest, block.widest);
        return sum;
      });
  total = all.total;
  widest = all.widest;
  return counted && total <= std::numeric_limits<std::uint32_t>::max();
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

template <class Rank, class OnEdge, class OnRow>
bool S_IsolineComputer::forEachCrossedEdge(std::size_t rowBegin, std::size_t rowEnd,
                                           OnEdge&& onEdge, OnRow&& onRow) const {
  const Rank* const ranked = ranks<Rank>();
  const auto nx = static_cast<std::size_t>(nx_);
  const auto ny = static_cast<std::size_t>(ny_);
  std::int64_t passed = 0;
  for (std::size_t row = rowBegin; row < rowEnd; ++row) {
    const bool horizontal = row < ny;
    const std::size_t a0 = (horizontal ? row : row - ny) * nx;
    const std::size_t step = horizontal ? 1 : nx;  // from an edge's first node to its second
    const std::size_t count = horizontal ? nx - 1 : nx;
    auto e = static_cast<std::int32_t>(horizontal ? row * (nx - 1) : horizontal_ + a0);
    for (std::size_t a = a0; a < a0 + count; ++a, ++e) {
      if (ranked[a] != ranked[a + step]) onEdge(e, a, a + step);
    }
    passed += static_cast<std::int64_t>(count);
    if (!onRow(passed)) return false;
  }
  return true;
}

// Starts one piece at every crossing not yet visited, in edge order and then level order. An
// edge whose ends have the same rank is crossed by no level (two blank ends share the blank
// mark): most edges of a fine lattice are such, and are passed over without a look at their
// bits. Progress is reported (and a cancel noticed) after every row of edges.
template <class Rank>
bool S_IsolineComputer::scan() {
  ProgressPacer pacer = ProgressPacer::part(progress_, edgeCount_, edgeCount_, edgeCount_);
  return forEachCrossedEdge<Rank>(
      0, edgeRows(),
      [this](std::int32_t edge, std::size_t a, std::size_t b) {
        const Crossings crossings = crossingsOf<Rank>(edge, a, b);
        for (std::uint32_t k = crossings.first; k - crossings.first < crossings.count; ++k) {
          if (visited(crossings, k)) continue;
          if (walkPiece<Rank, Pass::Trace>(crossings, k, trail_) != Walk::Abandoned) {
            emit(k, trail_);
          }
        }
      },
      [&pacer](std::int64_t passed) { return pacer.advance(passed); });
}

// The lattice is cut into bands of rows, planned on all threads: a band's scan takes the edges
// along its rows, then those up to the next band, and walks every piece it meets at a crossing
// not yet visited, recording the side by which the walk leaves each cell and noting the piece's
// lowest edge, and marks the crossings it passes, in whichever band they lie. The lowest edge is
// where the serial scan starts the piece, since that scan meets the crossings of a level in edge
// order and a traced piece leaves none of its crossings unvisited. Ordered by that start (edge,
// then level), the bands' pieces are the serial scan's; two bands that met one piece at the same
// moment both give it, with the same start, and it is kept once.
// Each piece's recorded walk, replayed from its start, then gives its points in the serial order.
template <class Rank>
bool S_IsolineComputer::scanInParallel() {
  const auto ny = static_cast<std::size_t>(ny_);
  const std::size_t bandRows = std::max<std::size_t>(1, kEdgesPerBand / (2 * nx_));
  std::vector<FoundPieces> bands((ny + bandRows - 1) / bandRows);
  if (!planPieces<Rank>(bandRows, bands)) return false;
  // The ranks and visited bits are done with: their memory goes before the output's grows.
  freeScanState();
  placePieces(bands);
  return writePieces(bands);
}

// The bands' scans, on all threads, in blocks of one band: the third quarter of the progress,
// which counts the rows of the bands done; a cancel stops every band not yet started. Bands far
// apart run at once, so that the threads seldom walk the same pieces or mark the same bits.
template <class Rank>
bool S_IsolineComputer::planPieces(std::size_t bandRows, std::vector<FoundPieces>& bands) {
  const auto ny = static_cast<std::size_t>(ny_);
  ProgressPacer pacer =
      ProgressPacer::part(progress_, edgeCount_, edgeCount_ / 2, static_cast<std::int64_t>(ny));
  const bool planned = parallel::forEachBlock(
      ny, pacer,
      [&](std::size_t first, std::size_t last) {
        FoundPieces& found = bands[first / bandRows];
        Trail trail;
        trail.steps = &found.steps;
        const auto planEdge = [&](std::int32_t edge, std::size_t a, std::size_t a2) {
          const Crossings crossings = crossingsOf<Rank>(edge, a, a2);
          for (std::uint32_t k = crossings.first; k - crossings.first < crossings.count; ++k) {
            if (!visitedShared(crossings, k)) planPiece<Rank>(crossings, k, trail, found);
          }
        };
        const auto going = [](std::int64_t) { return true; };
        forEachCrossedEdge<Rank>(first, last, planEdge, going);
        forEachCrossedEdge<Rank>(ny + first, ny + std::min(last, ny - 1), planEdge, going);
        std::sort(found.pieces.begin(), found.pieces.end(), startsBefore);
      },
      parallel::Blocking{bandRows, 0});
  return planned && pacer.advance(static_cast<std::int64_t>(ny));
}

template <class Rank>
void S_IsolineComputer::planPiece(const Crossings& start, std::uint32_t k, Trail& trail,
                                  FoundPieces& found) {
  const std::size_t stepsAt = found.steps.size();
  const Walk walk = walkPiece<Rank, Pass::Plan>(start, k, trail);
  const std::size_t points = trail.forwardCount + trail.backwardCount;
  if (walk == Walk::Abandoned || points < 2) {
    found.steps.resize(stepsAt);
    return;
  }
  Piece piece;
  piece.edge = trail.lowestEdge;
  piece.level = k;
  piece.start = start.edge;
  piece.forwardSteps = static_cast<std::uint32_t>(trail.forwardCount - 1);
  piece.backwardSteps = static_cast<std::uint32_t>(trail.backwardCount);
  piece.closed = walk == Walk::Closed;
  piece.stepsAt = stepsAt;
  found.pieces.push_back(piece);
}

// Merges the bands' pieces by first crossing, keeping one of each, and gives each kept piece
// its place among the output's pieces and points.
void S_IsolineComputer::placePieces(std::vector<FoundPieces>& found) {
  // The head of every band's list, the earliest start on top.
  using Head = std::pair<Piece*, std::size_t>;  // the piece and its band
  const auto later = [](const Head& p, const Head& q) { return startsBefore(*q.first, *p.first); };
  std::priority_queue<Head, std::vector<Head>, decltype(later)> heads(later);
  std::vector<std::size_t> next(found.size(), 1);
  std::size_t total = 0;
  for (std::size_t b = 0; b < found.size(); ++b) {
    total += found[b].pieces.size();
    if (!found[b].pieces.empty()) heads.push({&found[b].pieces.front(), b});
  }
  output_.counts.reserve(total);
  output_.levels.reserve(total);
  std::uint64_t points = 0;
  const Piece* last = nullptr;
  while (!heads.empty()) {
    const auto [piece, b] = heads.top();
    heads.pop();
    if (next[b] < found[b].pieces.size()) heads.push({&found[b].pieces[next[b]++], b});
    if (last != nullptr && !startsBefore(*last, *piece)) {
      piece->firstPoint = kNotPlaced;  // a second find of the piece before
      continue;
    }
    last = piece;
    piece->firstPoint = points;
    points += piece->points();
    output_.counts.push_back(static_cast<std::int32_t>(piece->points()));
    output_.levels.push_back(level(piece->level));
  }
  output_.x.resize(points);
  output_.y.resize(points);
}

// Replays the pieces' walks in batches on all threads, each piece's points straight into its
// place; the node points of every batch are gathered and put in order at the end. The last
// quarter of the progress counts the batches done.
bool S_IsolineComputer::writePieces(const std::vector<FoundPieces>& found) {
  struct Batch {
    std::size_t band;
    std::size_t first;
    std::size_t end;
  };
  std::vector<Batch> batches;
  for (std::size_t b = 0; b < found.size(); ++b) {
    for (std::size_t n = 0; n < found[b].pieces.size(); n += kPiecesPerBatch) {
      batches.push_back({b, n, std::min(found[b].pieces.size(), n + kPiecesPerBatch)});
    }
  }
  std::vector<std::vector<std::size_t>> nodePoints(batches.size());
  const auto count = static_cast<std::int64_t>(batches.size());
  ProgressPacer pacer = ProgressPacer::part(progress_, edgeCount_ + edgeCount_ / 2,
                                            edgeCount_ - edgeCount_ / 2, count);
  const bool written = parallel::forEachBlock(
      batches.size(), pacer,
      [&](std::size_t t, std::size_t) {
        const Batch& batch = batches[t];
        const FoundPieces& band = found[batch.band];
        std::vector<std::int32_t> chain;
        for (std::size_t n = batch.first; n < batch.end; ++n) {
          const Piece& piece = band.pieces[n];
          if (piece.firstPoint == kNotPlaced) continue;
          replayWalk(piece, band.steps, chain);
          writePiece(piece, chain, nodePoints[t]);
        }
      },
      parallel::Blocking{1, 0});
  if (!written || !pacer.advance(count)) return false;
  for (const std::vector<std::size_t>& batch : nodePoints) {
    output_.nodePoints.insert(output_.nodePoints.end(), batch.begin(), batch.end());
  }
  std::sort(output_.nodePoints.begin(), output_.nodePoints.end());
  return true;
}

// The edges of the piece's crossings as its recorded walk passed them: the backward walk's
// reversed, then the forward walk's from the start edge (which a closed piece ends on again).
void S_IsolineComputer::replayWalk(const Piece& piece, const std::vector<std::uint8_t>& steps,
                                   std::vector<std::int32_t>& chain) const {
  chain.assign(piece.backwardSteps, 0);
  const std::uint8_t* step = steps.data() + piece.stepsAt;
  const EdgeNodes start = decode(piece.start);
  // The cell below (left of) the start edge for the forward walk, above (right of) it backward.
  Cell cell = {start.i - (start.horizontal ? 0 : 1), start.j - (start.horizontal ? 1 : 0), 0, true};
  chain.push_back(piece.start);
  for (std::uint32_t n = 0; n < piece.forwardSteps; ++n, ++step) {
    chain.push_back(sideEdge(cell, *step));
    cell = neighbour(cell, *step);
  }
  cell = {start.i, start.j, 0, true};
  for (std::uint32_t n = piece.backwardSteps; n > 0; --n, ++step) {
    chain[n - 1] = sideEdge(cell, *step);
    cell = neighbour(cell, *step);
  }
}

// Writes the piece as the serial scan does: an open piece from one end to the other, a closed one
// from its lowest edge round to it again, with the higher values on the right.
void S_IsolineComputer::writePiece(const Piece& piece, const std::vector<std::int32_t>& chain,
                                   std::vector<std::size_t>& nodePoints) {
  const std::size_t length = chain.size() - (piece.closed ? 1 : 0);  // distinct crossings
  const std::size_t count = piece.points();
  std::size_t lowest = 0;  // where a closed chain's reading starts
  if (piece.closed) {
    lowest = static_cast<std::size_t>(std::find(chain.begin(), chain.end() - 1, piece.edge) -
                                      chain.begin());
  }
  // The n-th crossing from the start: a closed chain is read round from its lowest edge. Which
  // way the chain runs does not matter, as the turn below puts the higher values on the right.
  const auto edgeAt = [&](std::size_t n) {
    return chain[piece.closed ? (lowest + n) % length : n];
  };
  const bool reversed = !highOnRight(edgeAt(0), edgeAt(1));
  const double levelValue = level(piece.level);
  std::size_t at = piece.firstPoint;
  for (std::size_t n = 0; n < count; ++n, ++at) {
    const std::int32_t edge = edgeAt(reversed ? count - 1 - n : n);
    const GridPoint p = crossingPoint(decode(edge), edge, levelValue);
    if (p.onNode) nodePoints.push_back(at);
    output_.x[at] = p.x;
    output_.y[at] = p.y;
  }
}

// Walks the piece of level k through its start crossing: forward, and when it meets the border,
// backward from the start as well.
template <class Rank, S_IsolineComputer::Pass P>
S_IsolineComputer::Walk S_IsolineComputer::walkPiece(const Crossings& start, std::uint32_t k,
                                                     Trail& trail) {
  trail.clear();
  const Walk walk = walkForward<Rank, P>(start, k, trail);
  if (walk == Walk::Border && !walkBackward<Rank, P>(start, k, trail)) return Walk::Abandoned;
  return walk;
}

// Follows the piece from the start crossing into the cell below (or left of) the start edge until
// it reaches the border or comes back to the start edge.
template <class Rank, S_IsolineComputer::Pass P>
S_IsolineComputer::Walk S_IsolineComputer::walkForward(const Crossings& start, std::uint32_t k,
                                                       Trail& trail) {
  const double levelValue = level(k);
  mark<P>(start, k, trail);
  Cell cell = firstCell<Rank>(start.edge, true);
  std::int32_t edge = start.edge;
  EdgeNodes nodes = decode(start.edge);
  for (bool first = true;; first = false) {
    keep<P>(nodes, edge, levelValue, trail.forward, trail.forwardCount);
    if (!first && edge == start.edge) return Walk::Closed;
    if (!cell.inside) return Walk::Border;
    Crossings sides[4];
    cellSides<Rank>(cell, sides);
    const int exit = chooseExit<Rank>(cell, sides, k);
    if (exit < 0) return Walk::Abandoned;
    if constexpr (P == Pass::Plan) trail.steps->push_back(static_cast<std::uint8_t>(exit));
    edge = sides[exit].edge;
    if (edge != start.edge) mark<P>(sides[exit], k, trail);
    nodes = sideNodes(cell, exit);
    cell = across<Rank>(cell, exit);
  }
}

// Follows an open piece from the start crossing into the cell on the other side of the start
// edge up to the border. False when the walk cannot go on (the piece is dropped).
template <class Rank, S_IsolineComputer::Pass P>
bool S_IsolineComputer::walkBackward(const Crossings& start, std::uint32_t k, Trail& trail) {
  const double levelValue = level(k);
  for (Cell cell = firstCell<Rank>(start.edge, false); cell.inside;) {
    Crossings sides[4];
    cellSides<Rank>(cell, sides);
    const int exit = chooseExit<Rank>(cell, sides, k);
    if (exit < 0) return false;
    if constexpr (P == Pass::Plan) trail.steps->push_back(static_cast<std::uint8_t>(exit));
    mark<P>(sides[exit], k, trail);
    keep<P>(sideNodes(cell, exit), sides[exit].edge, levelValue, trail.backward,
            trail.backwardCount);
    cell = across<Rank>(cell, exit);
  }
  return true;
}

template <S_IsolineComputer::Pass P>
void S_IsolineComputer::keep(const EdgeNodes& nodes, std::int32_t edge, double levelValue,
                             std::vector<GridPoint>& points, std::size_t& count) const {
  if constexpr (P == Pass::Plan) {
    ++count;
  } else {
    points.push_back(crossingPoint(nodes, edge, levelValue));
  }
}

template <S_IsolineComputer::Pass P>
void S_IsolineComputer::mark(const Crossings& edge, std::uint32_t k, Trail& trail) {
  if constexpr (P == Pass::Trace) {
    markVisited(edge, k);
  } else if constexpr (P == Pass::Plan) {
    markVisitedShared(edge, k);
    trail.lowestEdge = std::min(trail.lowestEdge, edge.edge);
  }
}

// A cell the walk enters is inside, so its four corners have ranks, and a level crosses an even
// number of its sides: the entry and one more, or all four at a saddle. Choosing from the entry
// rather than from visited bits gives the same way whichever walk of the piece is first, so that
// the planning and the writing of the parallel scan walk every piece as the serial scan does.
template <class Rank>
int S_IsolineComputer::chooseExit(const Cell& cell, const Crossings (&sides)[4],
                                  std::uint32_t k) const {
  int crossed = 0;
  int last = -1;
  for (int side = 0; side < 4; ++side) {
    if (side != cell.entry && crosses(sides[side], k)) {
      ++crossed;
      last = side;
    }
  }
  if (crossed == 1) return last;
  return crossed == 3 ? saddleExit<Rank>(cell, k) : -1;
}

// A saddle cell entered on side s leaves through side s - 1 when corner s is the higher end of
// side s, else through side s + 1: the high corners stay apart, the low ones are joined.
// Side s is crossed, so one of its corners lies above the level and the other not: corner s is the
// higher end exactly when its rank says it lies above level k, which the ranks, already at hand,
// tell without reading the node values.
template <class Rank>
int S_IsolineComputer::saddleExit(const Cell& cell, std::uint32_t k) const {
  const std::size_t lowerLeft =
      static_cast<std::size_t>(cell.j) * static_cast<std::size_t>(nx_) + cell.i;
  const std::size_t corners[4] = {lowerLeft, lowerLeft + 1, lowerLeft + nx_ + 1, lowerLeft + nx_};
  const int s = cell.entry;
  return ranks<Rank>()[corners[s]] > k ? (s + 3) % 4 : (s + 1) % 4;
}

// Appends the trail's piece: the backward points reversed, then the forward points, turned round
// unless the higher values lie on the right; pieces of fewer than two points are dropped.
void S_IsolineComputer::emit(std::uint32_t k, const Trail& trail) {
  const std::size_t back = trail.backward.size();
  const std::size_t count = back + trail.forward.size();
  if (count < 2) return;
  const auto at = [&](std::size_t n) -> const GridPoint& {
    return n < back ? trail.backward[back - 1 - n] : trail.forward[n - back];
  };
  const bool reversed = !highOnRight(at(0).edge, at(1).edge);
  for (std::size_t n = 0; n < count; ++n) {
    const GridPoint& p = at(reversed ? count - 1 - n : n);
    if (p.onNode) output_.nodePoints.push_back(output_.x.size());
    output_.x.push_back(p.x);
    output_.y.push_back(p.y);
  }
  output_.counts.push_back(static_cast<std::int32_t>(count));
  output_.levels.push_back(level(k));
}

// Whether walking from a crossing of edge from to one of edge to leaves the higher node of from
// on the right (x to the right, y upwards).
bool S_IsolineComputer::highOnRight(std::int32_t from, std::int32_t to) const {
  const EdgeNodes a = decode(from);
  const EdgeNodes b = decode(to);
  // Whether edge to is a side of the cell below (left of) edge from, rather than above (right).
  const bool below = a.horizontal ? b.j < a.j : b.i < a.i;
  if (a.horizontal) {
    const double left = nodeValue(a.i, a.j);
    const double right = nodeValue(a.i + 1, a.j);
    return below ? left > right : right > left;
  }
  const double lower = nodeValue(a.i, a.j);
  const double upper = nodeValue(a.i, a.j + 1);
  return below ? upper > lower : lower > upper;
}

// The edge of side 0 ... 3 of the cell.
std::int32_t S_IsolineComputer::sideEdge(const Cell& cell, int side) const {
  const auto h = static_cast<std::int32_t>(horizontal_);
  switch (side) {
    case 0:
      return cell.j * (nx_ - 1) + cell.i;
    case 1:
      return h + cell.j * nx_ + cell.i + 1;
    case 2:
      return (cell.j + 1) * (nx_ - 1) + cell.i;
    default:
      return h + cell.j * nx_ + cell.i;
  }
}

S_IsolineComputer::EdgeNodes S_IsolineComputer::decode(std::int32_t edge) const {
  if (edge < horizontal_) return {true, edge % (nx_ - 1), edge / (nx_ - 1)};
  const auto v = static_cast<std::int32_t>(edge - horizontal_);
  return {false, v % nx_, v / nx_};
}

// The sides of a cell with their crossings; side s joins corner s to corner s + 1.
template <class Rank>
void S_IsolineComputer::cellSides(const Cell& cell, Crossings (&sides)[4]) const {
  const std::size_t lowerLeft =
      static_cast<std::size_t>(cell.j) * static_cast<std::size_t>(nx_) + cell.i;
  const std::size_t corners[4] = {lowerLeft, lowerLeft + 1, lowerLeft + nx_ + 1, lowerLeft + nx_};
  for (int side = 0; side < 4; ++side) {
    sides[side] = crossingsOf<Rank>(sideEdge(cell, side), corners[side], corners[(side + 1) % 4]);
  }
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
  Cell next = neighbour(cell, side);
  next.inside = next.inside && !hasBlankCorner<Rank>(next.i, next.j);
  return next;
}

// The cell across side 0 ... 3, entered by its opposite side; inside while within the lattice.
S_IsolineComputer::Cell S_IsolineComputer::neighbour(const Cell& cell, int side) const {
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

bool S_IsolineComputer::visitedShared(const Crossings& edge, std::uint32_t k) const {
  const std::size_t bit = bitOf(edge, k);
  // The word is only read, but atomic_ref takes no const object.
  auto& word = const_cast<std::uint64_t&>(visited_[bit >> 6]);
  return (std::atomic_ref<std::uint64_t>(word).load(std::memory_order_relaxed) >> (bit & 63) & 1) !=
         0;
}

void S_IsolineComputer::markVisitedShared(const Crossings& edge, std::uint32_t k) {
  const std::size_t bit = bitOf(edge, k);
  std::atomic_ref<std::uint64_t>(visited_[bit >> 6])
      .fetch_or(std::uint64_t(1) << (bit & 63), std::memory_order_relaxed);
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

}  // namespace vellumar::isolines
