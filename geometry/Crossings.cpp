#include "geometry/Crossings.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <numeric>
#include <optional>

namespace vellumar::geometry {
namespace {

// Numerator num over denominator den lies in [0, 1] (closed) or (0, 1) (strict); NaN never does.
bool parameterInRange(double num, double den) {
  return den > 0.0 ? (0.0 <= num && num <= den) : (den <= num && num <= 0.0);
}

bool parameterInside(double num, double den) {
  return den > 0.0 ? (0.0 < num && num < den) : (den < num && num < 0.0);
}

bool boxesApart(const Point& p1, const Point& p2, const Point& p3, const Point& p4) {
  return std::max(p1.x, p2.x) < std::min(p3.x, p4.x) ||
         std::max(p3.x, p4.x) < std::min(p1.x, p2.x) ||
         std::max(p1.y, p2.y) < std::min(p3.y, p4.y) || std::max(p3.y, p4.y) < std::min(p1.y, p2.y);
}

// The point at parameter t along p-q, placed exactly on an end when t is outside (0, 1).
Point pointAlong(const Point& p, const Point& q, double t) {
  if (t <= 0.0) return Point{p.x, p.y, 1};
  if (t >= 1.0) return Point{q.x, q.y, 1};
  return Point{p.x + t * (q.x - p.x), p.y + t * (q.y - p.y), 0};
}

// One segment of a cover with its box and the range of grid cells the box covers.
struct SegmentRef {
  double minX, maxX, minY, maxY;
  std::int32_t line, segment;
  std::int32_t cx0, cx1, cy0, cy1;
};

// Square grid of cells over a rectangle; each cell lists the segments whose boxes meet it, sorted
// by the left end of their boxes. Cell lookups are monotone and clamped, so a segment outside the
// rectangle lands in a border cell and no pair is ever missed.
class SegmentGrid {
 public:
  SegmentGrid(const Rect& area, std::size_t secondPoints) : area_(area) {
    n_ = std::max(1, static_cast<int>(std::sqrt(static_cast<double>(secondPoints)) / 5.0 + 0.5));
  }

  void add(const Cover& cover) {
    for (std::size_t l = 0; l < cover.size(); ++l) {
      const Line& line = cover[l];
      for (std::size_t k = 0; k + 1 < line.size(); ++k) {
        // A segment with a NaN coordinate intersects nothing and would spoil the sort.
        if (const auto s = segmentRef(line, l, k)) segments_.push_back(*s);
      }
    }
  }

  // Bins every segment; coarsens the grid when long segments would fill too many cells.
  void build() {
    std::sort(segments_.begin(), segments_.end(),
              [](const SegmentRef& a, const SegmentRef& b) { return a.minX < b.minX; });
    while (true) {
      assignCells();
      if (n_ == 1 || totalEntries() <= 32 * segments_.size() + (1u << 20)) break;
      n_ = std::max(1, n_ / 2);
    }
    fillCells();
  }

  // Calls visit(a, b) once for every pair of segments whose boxes overlap, until visit returns
  // false. Within a cell the sweep over left ends finds each overlapping pair once; a pair sharing
  // several cells is handled only in the cell of the lower-left corner of the boxes' overlap.
  template <typename Visit>
  bool forEachOverlappingPair(Visit&& visit) const {
    for (int cell = 0; cell < n_ * n_; ++cell) {
      const int cx = cell % n_;
      const int cy = cell / n_;
      for (std::size_t i = offsets_[cell]; i < offsets_[cell + 1]; ++i) {
        const SegmentRef& a = segments_[entries_[i]];
        for (std::size_t j = i + 1; j < offsets_[cell + 1]; ++j) {
          const SegmentRef& b = segments_[entries_[j]];
          if (b.minX > a.maxX) break;
          if (b.minY > a.maxY || a.minY > b.maxY) continue;
          if (std::max(a.cx0, b.cx0) != cx || std::max(a.cy0, b.cy0) != cy) continue;
          if (!visit(a, b)) return false;
        }
      }
    }
    return true;
  }

  // Calls visit(s) once for every stored segment s whose box overlaps the box of query (a segment
  // of another cover, see segmentRef). The cells of the query's box are scanned; a stored segment
  // listed in several of them is visited only in the cell of the lower-left corner of the overlap.
  template <typename Visit>
  void forEachOverlapping(SegmentRef query, Visit&& visit) const {
    placeInCells(query);
    for (int cy = query.cy0; cy <= query.cy1; ++cy) {
      for (int cx = query.cx0; cx <= query.cx1; ++cx) {
        const int cell = cy * n_ + cx;
        for (std::size_t i = offsets_[cell]; i < offsets_[cell + 1]; ++i) {
          const SegmentRef& s = segments_[entries_[i]];
          if (s.minX > query.maxX) break;
          if (s.maxX < query.minX || s.minY > query.maxY || query.minY > s.maxY) continue;
          if (std::max(s.cx0, query.cx0) != cx || std::max(s.cy0, query.cy0) != cy) continue;
          visit(s);
        }
      }
    }
  }

  // Segment k of line l with its box; nothing when a coordinate is NaN.
  static std::optional<SegmentRef> segmentRef(const Line& line, std::size_t l, std::size_t k) {
    const Point& a = line[k];
    const Point& b = line[k + 1];
    if (std::isnan(a.x) || std::isnan(a.y) || std::isnan(b.x) || std::isnan(b.y)) return {};
    return SegmentRef{std::min(a.x, b.x),
                      std::max(a.x, b.x),
                      std::min(a.y, b.y),
                      std::max(a.y, b.y),
                      static_cast<std::int32_t>(l),
                      static_cast<std::int32_t>(k),
                      0,
                      0,
                      0,
                      0};
  }

 private:
  int cellOf(double v, double low, double size) const {
    const double t = (v - low) / size;
    if (!(t > 0.0)) return 0;
    if (t >= n_) return n_ - 1;
    return static_cast<int>(t);
  }

  void placeInCells(SegmentRef& s) const {
    const double w = area_.width() / n_;
    const double h = area_.height() / n_;
    s.cx0 = cellOf(s.minX, area_.left, w);
    s.cx1 = cellOf(s.maxX, area_.left, w);
    s.cy0 = cellOf(s.minY, area_.bottom, h);
    s.cy1 = cellOf(s.maxY, area_.bottom, h);
  }

  void assignCells() {
    for (SegmentRef& s : segments_) placeInCells(s);
  }

  std::size_t totalEntries() const {
    std::size_t total = 0;
    for (const SegmentRef& s : segments_) {
      total +=
          static_cast<std::size_t>(s.cx1 - s.cx0 + 1) * static_cast<std::size_t>(s.cy1 - s.cy0 + 1);
    }
    return total;
  }

  void fillCells() {
    offsets_.assign(static_cast<std::size_t>(n_) * n_ + 1, 0);
    for (const SegmentRef& s : segments_) {
      for (int cy = s.cy0; cy <= s.cy1; ++cy) {
        for (int cx = s.cx0; cx <= s.cx1; ++cx) ++offsets_[cy * n_ + cx + 1];
      }
    }
    std::partial_sum(offsets_.begin(), offsets_.end(), offsets_.begin());
    entries_.resize(offsets_.back());
    std::vector<std::size_t> fill(offsets_.begin(), offsets_.end() - 1);
    for (std::size_t i = 0; i < segments_.size(); ++i) {
      const SegmentRef& s = segments_[i];
      for (int cy = s.cy0; cy <= s.cy1; ++cy) {
        for (int cx = s.cx0; cx <= s.cx1; ++cx)
          entries_[fill[cy * n_ + cx]++] = static_cast<std::uint32_t>(i);
      }
    }
  }

  Rect area_;
  int n_ = 1;
  std::vector<SegmentRef> segments_;
  std::vector<std::size_t> offsets_;
  std::vector<std::uint32_t> entries_;
};

Rect widened(Rect r) {
  const double margin = std::min(r.width(), r.height()) / 10.0;
  r.left -= margin;
  r.right += margin;
  r.bottom -= margin;
  r.top += margin;
  return r;
}

CrPoint crossingOn(const Point& p, std::int32_t line, std::int32_t segment) {
  CrPoint c;
  c.x = p.x;
  c.y = p.y;
  c.mark = p.mark;
  c.line = line;
  c.segment = segment;
  return c;
}

// Segments k and m of a line share a vertex: neighbours, or the two ends of a closed line.
bool neighbours(const Line& line, std::int32_t k, std::int32_t m) {
  if (std::abs(k - m) == 1) return true;
  const auto last = static_cast<std::int32_t>(line.size()) - 2;
  return line.isClosed() && std::min(k, m) == 0 && std::max(k, m) == last;
}

// The crossing of two segments of one cover that counts under the rules of findSelfCrossings.
// The pair is always taken in cover order, so the point does not depend on the sweep.
SegmentCrossing selfCrossing(const Cover& cover, const SegmentRef& s, const SegmentRef& t) {
  const bool inOrder = s.line < t.line || (s.line == t.line && s.segment < t.segment);
  const SegmentRef& a = inOrder ? s : t;
  const SegmentRef& b = inOrder ? t : s;
  const Line& la = cover[a.line];
  const Line& lb = cover[b.line];
  const bool sameLine = a.line == b.line;
  if (sameLine && neighbours(la, a.segment, b.segment)) return {};
  SegmentCrossing hit =
      intersectSegments(la[a.segment], la[a.segment + 1], lb[b.segment], lb[b.segment + 1]);
  if (sameLine && !hit.interior) hit.found = false;
  return hit;
}

SegmentGrid selfGrid(const Cover& cover) {
  SegmentGrid grid(cover.rect(), cover.pointCount());
  grid.add(cover);
  grid.build();
  return grid;
}

}  // namespace

SegmentCrossing intersectSegments(const Point& p1, const Point& p2, const Point& p3,
                                  const Point& p4) {
  if (boxesApart(p1, p2, p3, p4)) return {};
  const double ax = p4.x - p3.x, ay = p4.y - p3.y;
  const double bx = p1.x - p2.x, by = p1.y - p2.y;
  const double cross = ax * by - ay * bx;
  const double dot = ax * bx + ay * by;
  if (cross == 0.0 || std::fabs(cross / dot) < 1e-12) return {};
  const double cx = p3.x - p1.x, cy = p3.y - p1.y;
  const double tNum = cx * ay - cy * ax;  // along p1-p2
  const double sNum = bx * cy - by * cx;  // along p3-p4
  if (!parameterInRange(tNum, cross) || !parameterInRange(sNum, cross)) return {};
  SegmentCrossing hit;
  hit.found = true;
  hit.interior = parameterInside(tNum, cross) && parameterInside(sNum, cross);
  const double length1 = std::fabs(p2.x - p1.x) + std::fabs(p2.y - p1.y);
  const double length2 = std::fabs(ax) + std::fabs(ay);
  hit.point =
      length1 > length2 ? pointAlong(p3, p4, sNum / cross) : pointAlong(p1, p2, tNum / cross);
  return hit;
}

double snapToStep(double c, double step) {
  const double whole = std::trunc(c);
  return std::trunc((c - whole) / step + 0.5) * step + whole;
}

void findCrossings(const Cover& first, const Cover& second, std::vector<CrPoint>& onFirst,
                   std::vector<CrPoint>& onSecond) {
  onFirst.clear();
  onSecond.clear();
  Rect area = first.rect();
  area.unite(second.rect());
  // The second cover is binned; each segment of the first is looked up in the cells it passes.
  SegmentGrid grid(widened(area), second.pointCount());
  grid.add(second);
  grid.build();
  for (std::size_t l = 0; l < first.size(); ++l) {
    const Line& la = first[l];
    for (std::size_t k = 0; k + 1 < la.size(); ++k) {
      const auto query = SegmentGrid::segmentRef(la, l, k);
      if (!query) continue;
      grid.forEachOverlapping(*query, [&](const SegmentRef& b) {
        const Line& lb = second[b.line];
        const SegmentCrossing hit =
            intersectSegments(la[k], la[k + 1], lb[b.segment], lb[b.segment + 1]);
        if (hit.found) {
          onFirst.push_back(crossingOn(hit.point, query->line, query->segment));
          onSecond.push_back(crossingOn(hit.point, b.line, b.segment));
        }
      });
    }
  }
  sortCrossings(onFirst, first);
  sortCrossings(onSecond, second);
}

std::vector<CrPoint> findSelfCrossings(const Cover& cover) {
  std::vector<CrPoint> found;
  selfGrid(cover).forEachOverlappingPair([&](const SegmentRef& a, const SegmentRef& b) {
    SegmentCrossing hit = selfCrossing(cover, a, b);
    if (!hit.found) return true;
    if (cover.snapStep != 0.0) {
      hit.point.x = snapToStep(hit.point.x, cover.snapStep);
      hit.point.y = snapToStep(hit.point.y, cover.snapStep);
    }
    found.push_back(crossingOn(hit.point, a.line, a.segment));
    found.push_back(crossingOn(hit.point, b.line, b.segment));
    return true;
  });
  sortCrossings(found, cover);
  return found;
}

bool hasSelfCrossing(const Cover& cover) {
  return !selfGrid(cover).forEachOverlappingPair(
      [&](const SegmentRef& a, const SegmentRef& b) { return !selfCrossing(cover, a, b).found; });
}

void sortCrossings(std::vector<CrPoint>& crossings, const Cover& cover) {
  auto distance = [&](const CrPoint& c) {
    const Point& start = cover[c.line][c.segment];
    return std::hypot(c.x - start.x, c.y - start.y);
  };
  std::stable_sort(crossings.begin(), crossings.end(), [&](const CrPoint& a, const CrPoint& b) {
    if (a.line != b.line) return a.line < b.line;
    if (a.segment != b.segment) return a.segment < b.segment;
    return distance(a) < distance(b);
  });
}

}  // namespace vellumar::geometry
