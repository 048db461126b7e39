#include "geometry/PolygonSelection.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <numeric>
#include <vector>

#include "common/Parallel.h"

namespace vellumar::geometry {

bool inRect(const Rect& rect, double x, double y, RectBounds bounds) {
  if (!rect.defined) return false;
  if (bounds == RectBounds::Included) return rect.contains(x, y);
  return rect.left < x && x < rect.right && rect.bottom < y && y < rect.top;
}

// ---- PointSelection ----

PointSelection::PointSelection(const Cover& region, RectBounds bounds)
    : prepared_(region), rect_(region.rect()), bounds_(bounds) {}

bool PointSelection::selected(double x, double y) const {
  return inRect(rect_, x, y, bounds_) && prepared_.insideInnermost(x, y);
}

bool PointSelection::select(std::span<const double> xs, std::span<const double> ys,
                            std::span<std::uint8_t> selected, ErrorSink* progress) const {
  constexpr std::size_t kChunk = std::size_t{1} << 16;
  ProgressPacer pacer(progress, 0, 1);  // the points done, as the caller's stage counts them
  // Chunks of points at once; only the points within the rectangle are put to the rings.
  return parallel::forEachBlock(
      selected.size(), pacer,
      [&](std::size_t first, std::size_t end) {
        std::vector<std::uint32_t> within;
        std::vector<double> wx, wy;
        for (std::size_t k = first; k < end; ++k) {
          selected[k] = 0;
          if (!inRect(rect_, xs[k], ys[k], bounds_)) continue;
          within.push_back(static_cast<std::uint32_t>(k - first));
          wx.push_back(xs[k]);
          wy.push_back(ys[k]);
        }
        std::vector<std::uint8_t> inside(within.size());
        prepared_.insideInnermost(wx, wy, inside);
        for (std::size_t n = 0; n < within.size(); ++n) selected[first + within[n]] = inside[n];
      },
      parallel::Blocking{kChunk, 2 * kChunk});
}

// ---- selectLattice ----

namespace {

constexpr std::uint32_t kNoRank = 0xffffffffu;

// Lattice coordinates in ascending order with their original positions; NaN coordinates are left
// out (such nodes are never selected).
struct SortedAxis {
  std::vector<double> values;
  std::vector<std::uint32_t> position;
  bool inOrder = true;  // position[k] == k for every k

  explicit SortedAxis(std::span<const double> coordinates) {
    for (std::size_t k = 0; k < coordinates.size(); ++k) {
      if (!std::isnan(coordinates[k])) position.push_back(static_cast<std::uint32_t>(k));
    }
    inOrder = position.size() == coordinates.size() &&
              std::is_sorted(coordinates.begin(), coordinates.end());
    if (!inOrder) {
      std::stable_sort(position.begin(), position.end(), [&](std::uint32_t a, std::uint32_t b) {
        return coordinates[a] < coordinates[b];
      });
    }
    values.reserve(position.size());
    for (const std::uint32_t k : position) values.push_back(coordinates[k]);
  }
};

// The rings that can decide the innermost-ring rule, ranked as the rule chooses among them: by
// |signed area| ascending, the earlier ring first among equal areas. Open rings contain nothing
// and rings of |area| not below kNoArea are never chosen, so neither gets a rank.
struct RingRanks {
  std::vector<std::uint32_t> ofRing;  // rank of each ring, or kNoRank
  std::vector<std::uint8_t> outer;    // per rank: the ring is an outer boundary (area < 0)

  explicit RingRanks(const Cover& region) : ofRing(region.size(), kNoRank) {
    std::vector<std::uint32_t> rings;
    for (std::size_t r = 0; r < region.size(); ++r) {
      if (region[r].isClosed() && std::fabs(region[r].signedArea()) < kNoArea) {
        rings.push_back(static_cast<std::uint32_t>(r));
      }
    }
    std::stable_sort(rings.begin(), rings.end(), [&](std::uint32_t a, std::uint32_t b) {
      return std::fabs(region[a].signedArea()) < std::fabs(region[b].signedArea());
    });
    for (std::size_t rank = 0; rank < rings.size(); ++rank) {
      ofRing[rings[rank]] = static_cast<std::uint32_t>(rank);
      outer.push_back(region[rings[rank]].signedArea() < 0.0 ? 1 : 0);
    }
  }
};

struct Edge {
  double x0, y0, x1, y1;
  double low, high;  // the rows low <= y < high are crossed
  std::uint32_t rank;
};

struct Vertex {
  double y, x;
  std::uint32_t rank;
};

struct Crossing {
  double x;
  std::uint32_t rank;
};

struct Hit {
  std::size_t column;  // position among the sorted columns
  std::uint32_t rank;
};

// The rings containing the current stretch of a row by parity, as a sorted list of ranks; the
// innermost is the first.
class RingSet {
 public:
  void clear() { ranks_.clear(); }
  void toggle(std::uint32_t rank) {
    const auto at = std::lower_bound(ranks_.begin(), ranks_.end(), rank);
    if (at != ranks_.end() && *at == rank) {
      ranks_.erase(at);
    } else {
      ranks_.insert(at, rank);
    }
  }
  std::uint32_t innermost() const { return ranks_.empty() ? kNoRank : ranks_.front(); }

 private:
  std::vector<std::uint32_t> ranks_;
};

// One pass over the rows of the lattice in ascending order, keeping the edges that span the
// current row (an active edge table).
class LatticeScan {
 public:
  LatticeScan(const Cover& region, std::span<const double> xs, RectBounds bounds)
      : ranks_(region), columns_(xs), rect_(region.rect()), bounds_(bounds) {
    collectEdges(region);
    const std::vector<double>& v = columns_.values;
    const bool strict = bounds == RectBounds::Excluded;
    first_ = static_cast<std::size_t>((strict ? std::upper_bound(v.begin(), v.end(), rect_.left)
                                              : std::lower_bound(v.begin(), v.end(), rect_.left)) -
                                      v.begin());
    last_ = static_cast<std::size_t>((strict ? std::lower_bound(v.begin(), v.end(), rect_.right)
                                             : std::upper_bound(v.begin(), v.end(), rect_.right)) -
                                     v.begin());
    last_ = std::max(first_, last_);
  }

  // Fills the flags of one row (row[i] for the node at xs[i]); rows come with ascending y.
  void scanRow(double y, std::uint8_t* row);

 private:
  void collectEdges(const Cover& region);
  void advanceTo(double y);
  void collectHits(double y);
  std::uint8_t decide(std::uint32_t rank) const { return rank == kNoRank ? 0 : ranks_.outer[rank]; }
  void fill(std::uint8_t* row, std::size_t from, std::size_t to, std::uint8_t flag) const;

  RingRanks ranks_;
  SortedAxis columns_;
  Rect rect_;
  RectBounds bounds_;
  std::size_t first_ = 0;  // the sorted columns inside the rectangle: [first_, last_)
  std::size_t last_ = 0;

  std::vector<Edge> edges_;  // by ascending low
  std::size_t nextEdge_ = 0;
  std::vector<std::uint32_t> active_;
  std::vector<Vertex> vertices_;  // by ascending (y, x)
  std::size_t nextVertex_ = 0;

  std::vector<Crossing> crossings_;
  std::vector<Hit> hits_;
  RingSet inside_;
};

void LatticeScan::collectEdges(const Cover& region) {
  for (std::size_t r = 0; r < region.size(); ++r) {
    const std::uint32_t rank = ranks_.ofRing[r];
    if (rank == kNoRank) continue;
    const std::span<const Point> p = region[r].points();
    for (std::size_t i = 0; i + 1 < p.size(); ++i) {
      const Point& a = p[i];
      const Point& b = p[i + 1];
      if (!std::isnan(a.x) && !std::isnan(a.y)) vertices_.push_back({a.y, a.x, rank});
      // Horizontal edges and edges with a NaN ordinate span no row.
      if (!(a.y < b.y || b.y < a.y)) continue;
      edges_.push_back({a.x, a.y, b.x, b.y, std::min(a.y, b.y), std::max(a.y, b.y), rank});
    }
  }
  std::sort(edges_.begin(), edges_.end(),
            [](const Edge& a, const Edge& b) { return a.low < b.low; });
  std::sort(vertices_.begin(), vertices_.end(), [](const Vertex& a, const Vertex& b) {
    return a.y < b.y || (a.y == b.y && a.x < b.x);
  });
}

void LatticeScan::advanceTo(double y) {
  while (nextEdge_ < edges_.size() && edges_[nextEdge_].low <= y) {
    active_.push_back(static_cast<std::uint32_t>(nextEdge_++));
  }
  std::erase_if(active_, [&](std::uint32_t e) { return !(y < edges_[e].high); });
}

void LatticeScan::collectHits(double y) {
  hits_.clear();
  while (nextVertex_ < vertices_.size() && vertices_[nextVertex_].y < y) ++nextVertex_;
  const std::vector<double>& v = columns_.values;
  for (std::size_t k = nextVertex_; k < vertices_.size() && vertices_[k].y == y; ++k) {
    const auto [from, to] =
        std::equal_range(v.begin() + static_cast<std::ptrdiff_t>(first_),
                         v.begin() + static_cast<std::ptrdiff_t>(last_), vertices_[k].x);
    for (auto c = from; c != to; ++c) {
      hits_.push_back({static_cast<std::size_t>(c - v.begin()), vertices_[k].rank});
    }
  }
  std::sort(hits_.begin(), hits_.end(),
            [](const Hit& a, const Hit& b) { return a.column < b.column; });
}

void LatticeScan::fill(std::uint8_t* row, std::size_t from, std::size_t to,
                       std::uint8_t flag) const {
  if (from >= to) return;
  if (columns_.inOrder) {
    std::memset(row + from, flag, to - from);
    return;
  }
  for (std::size_t k = from; k < to; ++k) row[columns_.position[k]] = flag;
}

void LatticeScan::scanRow(double y, std::uint8_t* row) {
  advanceTo(y);
  const bool rowInRect = bounds_ == RectBounds::Excluded ? rect_.bottom < y && y < rect_.top
                                                         : rect_.bottom <= y && y <= rect_.top;
  if (!rowInRect || first_ == last_) return;

  // Crossings of the row with every spanning edge; a NaN abscissa never counts.
  crossings_.clear();
  for (const std::uint32_t e : active_) {
    const Edge& edge = edges_[e];
    const double x = rayCrossingX(edge.x0, edge.y0, edge.x1, edge.y1, y);
    if (!std::isnan(x)) crossings_.push_back({x, edge.rank});
  }
  std::sort(crossings_.begin(), crossings_.end(),
            [](const Crossing& a, const Crossing& b) { return a.x < b.x; });
  collectHits(y);

  // Left of every crossing a ring contains the node when its number of crossings is odd; each
  // crossing passed on the way right toggles its ring, since it no longer lies at or right of
  // the node.
  inside_.clear();
  for (const Crossing& c : crossings_) inside_.toggle(c.rank);

  const std::vector<double>& v = columns_.values;
  std::size_t hit = 0;
  std::size_t from = first_;
  // Flags the columns [from, to) with the current set, and the vertex hits among them with the
  // rings of their vertices as well.
  auto flagRun = [&](std::size_t to) {
    const std::uint32_t innermost = inside_.innermost();
    fill(row, from, to, decide(innermost));
    while (hit < hits_.size() && hits_[hit].column < to) {
      const std::size_t column = hits_[hit].column;
      std::uint32_t rank = innermost;
      for (; hit < hits_.size() && hits_[hit].column == column; ++hit) {
        rank = std::min(rank, hits_[hit].rank);
      }
      row[columns_.position[column]] = decide(rank);
    }
    from = to;
  };
  for (const Crossing& c : crossings_) {
    if (from >= last_) break;
    const auto bound = std::upper_bound(v.begin() + static_cast<std::ptrdiff_t>(from),
                                        v.begin() + static_cast<std::ptrdiff_t>(last_), c.x);
    flagRun(static_cast<std::size_t>(bound - v.begin()));
    inside_.toggle(c.rank);
  }
  flagRun(last_);
}

}  // namespace

bool selectLattice(const Cover& region, std::span<const double> xs, std::span<const double> ys,
                   RectBounds bounds, std::span<std::uint8_t> mask, ErrorSink* progress) {
  std::fill(mask.begin(), mask.end(), std::uint8_t{0});
  const Rect& rect = region.rect();
  if (!rect.defined || std::isnan(rect.left) || std::isnan(rect.right) || std::isnan(rect.bottom) ||
      std::isnan(rect.top)) {
    return true;
  }
  // Bands of rows at once, each swept from its first row by a copy of the fresh scan: a row's
  // flags depend on its y alone, not on the rows swept before it.
  const LatticeScan start(region, xs, bounds);
  const SortedAxis rows(ys);
  ProgressPacer pacer(progress, 0, 1);  // the rows done, as the caller's stage counts them
  const std::size_t band = parallel::rowsPerBlock(xs.size());
  return parallel::forEachBlock(
      rows.values.size(), pacer,
      [&](std::size_t begin, std::size_t end) {
        LatticeScan scan(start);
        for (std::size_t k = begin; k < end; ++k) {
          scan.scanRow(rows.values[k], mask.data() + std::size_t{rows.position[k]} * xs.size());
        }
      },
      parallel::Blocking{band, 2 * band});
}

}  // namespace vellumar::geometry
