#include "geometry/Crossings.h"

#include "geometry/SegmentGrid.h"

#include <algorithm>
#include <cmath>
#include <cstdint>

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
  SegmentGrid grid(cover.rect(), SegmentGrid::crossingSearchCells(cover.pointCount()));
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
  SegmentGrid grid(widenedByTenth(area), SegmentGrid::crossingSearchCells(second.pointCount()));
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
