#include "geometry/Crossings.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <numbers>
#include <span>

#include "geometry/SegmentGrid.h"
#include "geometry/Splitting.h"

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

// One side of a touching point of two different lines: the line and the segment it lies on.
struct Contact {
  Point at;
  std::int32_t line;
  std::int32_t segment;
};

// A touching point, computed along the shorter of two segments, placed exactly on the segment end
// it is nearest to (a touch always lies at an end of one of them).
Point touchingPoint(const Point& p, std::initializer_list<const Point*> ends) {
  const Point* nearest = nullptr;
  double best = 0.0;
  for (const Point* end : ends) {
    const double d = std::hypot(end->x - p.x, end->y - p.y);
    if (nearest == nullptr || d < best) {
      nearest = end;
      best = d;
    }
  }
  return Point{nearest->x, nearest->y, 0};
}

// How a line passes through a point: the directions back along it and forward along it, each to
// the first vertex farther than epsilon from the point.
struct Passage {
  std::int32_t line;
  std::size_t back, forward;  // vertex indices (of a closed ring, modulo its distinct vertices)
  double ux, uy, wx, wy;      // towards back and towards forward
};

// The passage of line l through p, which lies on its segment s; false when the line has no vertex
// far enough on one side (an end of an open line, or a ring smaller than epsilon).
bool passageAt(const Line& line, std::int32_t l, std::size_t s, const Point& p, double epsilon,
               Passage& passage) {
  const bool closed = line.isClosed();
  const auto count = static_cast<std::ptrdiff_t>(closed ? line.size() - 1 : line.size());
  auto far = [&](std::ptrdiff_t i) {
    const Point& v = line[static_cast<std::size_t>(i)];
    return std::hypot(v.x - p.x, v.y - p.y) > epsilon;
  };
  auto walk = [&](std::ptrdiff_t i, std::ptrdiff_t step, std::size_t& found) {
    for (std::ptrdiff_t steps = 0; steps <= count; ++steps, i += step) {
      if (closed) i = (i % count + count) % count;
      if (i < 0 || i >= count) return false;
      if (far(i)) {
        found = static_cast<std::size_t>(i);
        return true;
      }
    }
    return false;
  };
  auto back = static_cast<std::ptrdiff_t>(s);
  auto forward = back + 1;
  if (samePosition(p, line[s])) {
    --back;
  } else if (samePosition(p, line[s + 1])) {
    ++forward;
  }
  if (!walk(back, -1, passage.back) || !walk(forward, 1, passage.forward)) return false;
  passage.line = l;
  passage.ux = line[passage.back].x - p.x;
  passage.uy = line[passage.back].y - p.y;
  passage.wx = line[passage.forward].x - p.x;
  passage.wy = line[passage.forward].y - p.y;
  return true;
}

// Direction v as an angle from u, counter-clockwise, in [0, 2 pi).
double angleFrom(double ux, double uy, double vx, double vy) {
  const double angle = std::atan2(ux * vy - uy * vx, ux * vx + uy * vy);
  return angle < 0.0 ? angle + 2.0 * std::numbers::pi : angle;
}

// Pointing the same way, and parallel to within |tan| <= 1e-12 (the tolerance of the segment
// intersection) or so nearly that the tip of the shorter lies within epsilon of the other's line:
// a stretch shared within the rounding of the coordinates is shared.
bool sameDirection(double ux, double uy, double vx, double vy, double epsilon) {
  const double dot = ux * vx + uy * vy;
  if (dot <= 0.0) return false;
  const double cross = std::fabs(ux * vy - uy * vx);
  return cross <= 1e-12 * dot ||
         cross <= epsilon * std::max(std::hypot(ux, uy), std::hypot(vx, vy));
}

// Two passages through one point cross or share a stretch: they do not when both directions of q
// lie strictly inside, or both strictly outside, the angle p turns through.
bool crossOrOverlap(const Passage& p, const Passage& q, double epsilon) {
  const double pd[2][2] = {{p.ux, p.uy}, {p.wx, p.wy}};
  const double qd[2][2] = {{q.ux, q.uy}, {q.wx, q.wy}};
  for (const auto& a : pd) {
    for (const auto& b : qd) {
      if (sameDirection(a[0], a[1], b[0], b[1], epsilon)) return true;
    }
  }
  const double turn = angleFrom(p.ux, p.uy, p.wx, p.wy);
  auto inside = [&](double vx, double vy) {
    const double angle = angleFrom(p.ux, p.uy, vx, vy);
    return angle > 0.0 && angle < turn;
  };
  return inside(q.ux, q.uy) != inside(q.wx, q.wy);
}

// Whether the lines meeting at one touching point (every contact is at that point)
// cross or overlap there.
bool touchIsCrossing(const Cover& cover, std::span<const Contact> contacts, double epsilon) {
  std::vector<Passage> passages;
  for (const Contact& c : contacts) {
    Passage passage;
    if (!passageAt(cover[c.line], c.line, static_cast<std::size_t>(c.segment), c.at, epsilon,
                   passage)) {
      continue;
    }
    const bool known = std::any_of(passages.begin(), passages.end(), [&](const Passage& other) {
      return other.line == passage.line && other.back == passage.back &&
             other.forward == passage.forward;
    });
    if (!known) passages.push_back(passage);
  }
  for (std::size_t i = 0; i < passages.size(); ++i) {
    for (std::size_t j = i + 1; j < passages.size(); ++j) {
      if (passages[i].line != passages[j].line &&
          crossOrOverlap(passages[i], passages[j], epsilon)) {
        return true;
      }
    }
  }
  return false;
}

// Whether v lies within epsilon of segment p-q (its box first, which rules out most).
bool nearSegment(const Point& v, const Point& p, const Point& q, double epsilon) {
  if (v.x < std::min(p.x, q.x) - epsilon || v.x > std::max(p.x, q.x) + epsilon ||
      v.y < std::min(p.y, q.y) - epsilon || v.y > std::max(p.y, q.y) + epsilon) {
    return false;
  }
  return nearestOnSegment(p, q, v.x, v.y).distance <= epsilon;
}

// Notes where two segments of different lines touch: at an end they share, at the point
// intersectSegments finds, and at an end of one within epsilon of the other (an end that near
// touches, as one exactly on it does). False when they cross strictly inside both. A crossing
// computed strictly inside both next to such an end is the rounding of a touch there (two
// segments that meet at an end of both, or a vertex on an edge): the passages at that end tell
// whether the lines cross. Two segments that share a stretch longer than epsilon overlap (false).
bool noteContacts(const Cover& cover, const SegmentRef& a, const SegmentRef& b, double epsilon,
                  std::vector<Contact>& contacts) {
  const Point& a0 = cover[a.line][a.segment];
  const Point& a1 = cover[a.line][a.segment + 1];
  const Point& b0 = cover[b.line][b.segment];
  const Point& b1 = cover[b.line][b.segment + 1];
  std::array<Point, 5> touches;
  std::size_t count = 0;
  const auto touch = [&](const Point& at) {
    for (std::size_t k = 0; k < count; ++k) {
      if (samePosition(touches[k], at)) return;
    }
    touches[count++] = Point{at.x, at.y, 0};
  };
  for (const Point* end : {&a0, &a1}) {
    if (samePosition(*end, b0) || samePosition(*end, b1) || nearSegment(*end, b0, b1, epsilon)) {
      touch(*end);
    }
  }
  for (const Point* end : {&b0, &b1}) {
    if (!samePosition(*end, a0) && !samePosition(*end, a1) && nearSegment(*end, a0, a1, epsilon)) {
      touch(*end);
    }
  }
  // Two points apart that both segments pass: they share the stretch between them.
  for (std::size_t k = 1; k < count; ++k) {
    if (std::hypot(touches[k].x - touches[0].x, touches[k].y - touches[0].y) > epsilon) {
      return false;
    }
  }
  const SegmentCrossing hit = intersectSegments(a0, a1, b0, b1);
  if (hit.interior && count == 0) return false;
  if (hit.found && !hit.interior) touch(touchingPoint(hit.point, {&a0, &a1, &b0, &b1}));
  for (std::size_t k = 0; k < count; ++k) {
    contacts.push_back({touches[k], a.line, a.segment});
    contacts.push_back({touches[k], b.line, b.segment});
  }
  return true;
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

// Lines nearer than a billionth of the coordinates' magnitude touch: a stretch that two rings
// share up to the digits an overlay or a conversion leaves is refused as an exact one is.
double contactTolerance(const Rect& r) {
  return 1e3 * roundingScale(r);
}

bool linesCrossOrOverlap(const Cover& cover) {
  const double epsilon = contactTolerance(cover.rect());
  std::vector<Contact> contacts;
  const SegmentRuns runs(cover, epsilon);
  const auto pair = [&](const SegmentRef& a, const SegmentRef& b) {
    if (a.line == b.line) return !selfCrossing(cover, a, b).found;
    return noteContacts(cover, a, b, epsilon, contacts);
  };
  if (!runs.forEachOverlappingPair(pair)) return true;
  std::sort(contacts.begin(), contacts.end(), [](const Contact& p, const Contact& q) {
    if (p.at.x != q.at.x) return p.at.x < q.at.x;
    if (p.at.y != q.at.y) return p.at.y < q.at.y;
    if (p.line != q.line) return p.line < q.line;
    return p.segment < q.segment;
  });
  for (std::size_t first = 0; first < contacts.size();) {
    std::size_t last = first + 1;
    while (last < contacts.size() && samePosition(contacts[last].at, contacts[first].at)) ++last;
    const std::span<const Contact> group(contacts.data() + first, last - first);
    if (touchIsCrossing(cover, group, epsilon)) return true;
    first = last;
  }
  return false;
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
