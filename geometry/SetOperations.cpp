#include "geometry/SetOperations.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <memory>
#include <new>
#include <utility>
#include <vector>

#include "common/MemoryGuard.h"
#include "geometry/GeosSupport.h"
#include "geometry/PolygonCheck.h"
#include "geometry/SegmentGrid.h"
#include "geometry/Splitting.h"

// The overlay itself is GEOS's (OverlayNG, through the reentrant C API with one context per call).
// Around it: the trivial operands, snapping the operands together within the length tolerance,
// converting regions to GEOS polygons and back, and the ids and values of the result rings.

namespace vellumar::geometry {
namespace {

using detail::cancelled;
using detail::GeometryDeleter;
using detail::GeometryPtr;
using detail::GeosContext;
using detail::InterruptScope;
using detail::readPolygons;
using detail::toGeos;

// ---- Snapping ----------------------------------------------------------------------------------

// A point to insert into segment `segment` of a line, at parameter t along it.
struct Insertion {
  std::size_t segment;
  double t;
  Point point;
};
using Insertions = std::vector<std::vector<Insertion>>;  // per line

// Inserts the points into their segments in order along each segment; a point already present
// (equal to a neighbour) is not inserted twice. Lines keep their ids and values.
void insertPoints(Cover& cover, Insertions& insertions) {
  for (std::size_t l = 0; l < cover.size(); ++l) {
    std::vector<Insertion>& list = insertions[l];
    if (list.empty()) continue;
    std::sort(list.begin(), list.end(), [](const Insertion& a, const Insertion& b) {
      return a.segment < b.segment || (a.segment == b.segment && a.t < b.t);
    });
    const std::span<const Point> old = cover[l].points();
    std::vector<Point> points;
    points.reserve(old.size() + list.size());
    auto next = list.begin();
    for (std::size_t k = 0; k < old.size(); ++k) {
      points.push_back(old[k]);
      for (; next != list.end() && next->segment == k; ++next) {
        if (samePosition(next->point, points.back())) continue;
        if (k + 1 < old.size() && samePosition(next->point, old[k + 1])) continue;
        points.push_back(next->point);
      }
    }
    Line& line = cover.line(l);
    line.assign(std::move(points));
  }
  cover.recomputeRects(false);
}

// Removes consecutive repeated points from every line; a ring that no longer encloses anything
// (fewer than 4 points) is emptied.
void dropRepeatsAndCollapsed(Cover& cover) {
  for (std::size_t l = 0; l < cover.size(); ++l) {
    const std::span<const Point> old = cover[l].points();
    std::vector<Point> points;
    points.reserve(old.size());
    for (const Point& p : old) {
      if (points.empty() || !samePosition(points.back(), p)) points.push_back(p);
    }
    if (points.size() < 4) points.clear();
    if (points.size() != old.size()) cover.line(l).assign(std::move(points));
  }
  cover.recomputeRects(false);
}

// The index of one cover for the snapping: its segments in a grid, and the exact positions of its
// vertices, sorted, for the common case of a vertex that is a vertex of the other cover as it is
// (shared boundaries, an operand with itself), which needs no search.
class SnapIndex {
 public:
  SnapIndex(const Cover& cover, const Rect& area)
      : cover_(cover), grid_(area, SegmentGrid::crossingSearchCells(cover.pointCount())) {
    grid_.add(cover);
    grid_.build();
    vertices_.reserve(cover.pointCount());
    for (const Line& line : cover.lines()) {
      for (const Point& p : line.points()) vertices_.push_back({p.x, p.y});
    }
    std::sort(vertices_.begin(), vertices_.end());
    vertices_.erase(std::unique(vertices_.begin(), vertices_.end()), vertices_.end());
  }

  bool isVertex(const Point& p) const {
    return std::binary_search(vertices_.begin(), vertices_.end(), std::pair{p.x, p.y});
  }

  // Calls visit(line, l, segment) for every segment whose box, widened by tolerance, holds v.
  template <typename Visit>
  void forEachSegmentNear(const Point& v, double tolerance, Visit&& visit) const {
    grid_.forEachNear(v.x, v.y, tolerance, [&](const SegmentRef& s) {
      const auto l = static_cast<std::size_t>(s.line);
      visit(cover_[l], l, static_cast<std::size_t>(s.segment));
    });
  }

 private:
  const Cover& cover_;
  SegmentGrid grid_;
  std::vector<std::pair<double, double>> vertices_;
};

// Where one vertex goes: onto the nearest vertex within the tolerance, else onto the nearest point
// of an edge within it.
struct SnapTarget {
  const Point* vertex = nullptr;
  double vertexDistance = 0.0;
  bool onEdge = false;
  double edgeDistance = 0.0;
  std::size_t edgeLine = 0;
  Insertion edge{0, 0.0, {}};
};

// v lies in the box of segment p-q widened by the tolerance: the cheap test before distances.
bool withinBox(const Point& v, const Point& p, const Point& q, double tolerance) {
  return std::min(p.x, q.x) - tolerance <= v.x && v.x <= std::max(p.x, q.x) + tolerance &&
         std::min(p.y, q.y) - tolerance <= v.y && v.y <= std::max(p.y, q.y) + tolerance;
}

void considerVertex(SnapTarget& target, const Point& v, const Point& end, double tolerance) {
  const double d = std::hypot(end.x - v.x, end.y - v.y);
  if (d <= tolerance && (target.vertex == nullptr || d < target.vertexDistance)) {
    target.vertex = &end;
    target.vertexDistance = d;
  }
}

void considerEdge(SnapTarget& target, const Point& v, const Line& line, std::size_t l,
                  std::size_t segment, double tolerance) {
  const SegmentNearest near = nearestOnSegment(line[segment], line[segment + 1], v.x, v.y);
  if (near.distance <= tolerance && near.t > 0.0 && near.t < 1.0 &&
      (!target.onEdge || near.distance < target.edgeDistance)) {
    target.onEdge = true;
    target.edgeDistance = near.distance;
    target.edgeLine = l;
    target.edge = {segment, near.t, near.point};
  }
}

// Calls visit(l, k, v) for every vertex of cover, the last vertex of a closed ring (its first
// again) left out.
template <typename Visit>
void forEachVertex(const Cover& cover, Visit&& visit) {
  for (std::size_t l = 0; l < cover.size(); ++l) {
    const Line& line = cover[l];
    const std::size_t count = line.isClosed() ? line.size() - 1 : line.size();
    for (std::size_t k = 0; k < count; ++k) visit(l, k, line[k]);
  }
}

// Moves every vertex of b that lies within tolerance of a vertex of a onto the nearest such
// vertex, else within tolerance of an edge of a onto the nearest point of that edge, which is
// recorded in intoA to become a vertex of a as well.
void snapOnto(const Cover& a, Cover& b, double tolerance, const Rect& area, Insertions& intoA) {
  const SnapIndex index(a, area);
  forEachVertex(b, [&](std::size_t l, std::size_t k, const Point& v) {
    if (index.isVertex(v)) return;  // its nearest vertex is itself
    SnapTarget target;
    index.forEachSegmentNear(v, tolerance, [&](const Line& line, std::size_t al, std::size_t s) {
      considerVertex(target, v, line[s], tolerance);
      considerVertex(target, v, line[s + 1], tolerance);
      considerEdge(target, v, line, al, s, tolerance);
    });
    Point moved;
    if (target.vertex != nullptr) {
      moved = Point{target.vertex->x, target.vertex->y, 0};
    } else if (target.onEdge) {
      moved = target.edge.point;
      intoA[target.edgeLine].push_back(target.edge);
    } else {
      return;
    }
    Line& line = b.line(l);
    const bool closed = line.isClosed();
    line.setPoint(k, moved);
    if (k == 0 && closed) line.setPoint(line.size() - 1, moved);  // the last point is the first
  });
}

// Records in intoB every vertex of a that lies within tolerance of an edge of b, and is not a
// vertex of b, at the nearest point of the nearest such edge.
void insertionsInto(const Cover& b, const Cover& a, double tolerance, const Rect& area,
                    Insertions& intoB) {
  const SnapIndex index(b, area);
  forEachVertex(a, [&](std::size_t, std::size_t, const Point& v) {
    if (index.isVertex(v)) return;
    SnapTarget target;
    index.forEachSegmentNear(v, tolerance, [&](const Line& line, std::size_t bl, std::size_t s) {
      considerEdge(target, v, line, bl, s, tolerance);
    });
    if (target.onEdge) {
      intoB[target.edgeLine].push_back({target.edge.segment, target.edge.t, Point{v.x, v.y, 0}});
    }
  });
}

// Snaps b onto a (see snapOnto), then inserts every vertex of a that lies within tolerance of an
// edge of b, and is not a vertex of b, into that edge. Stretches of the two boundaries closer than
// the tolerance so end up with the same vertices, that is, as one shared boundary. b may be left
// with repeated points. Each vertex is looked up on its own, in an index of the other cover: the
// work grows with the segments near each vertex and the memory with the covers, never with the
// number of close pairs (a dense boundary within a wide tolerance has hundreds per vertex).
void snapTogether(Cover& a, Cover& b, double tolerance) {
  Rect area = a.rect();
  area.unite(b.rect());
  Insertions intoA(a.size());
  snapOnto(a, b, tolerance, area, intoA);
  Insertions intoB(b.size());
  insertionsInto(b, a, tolerance, area, intoB);
  insertPoints(a, intoA);
  insertPoints(b, intoB);
}

GEOSGeometry* overlay(GEOSContextHandle_t handle, SetOperation operation, const GEOSGeometry* a,
                      const GEOSGeometry* b) {
  switch (operation) {
    case SetOperation::Union:
      return GEOSUnion_r(handle, a, b);
    case SetOperation::Intersection:
      return GEOSIntersection_r(handle, a, b);
    case SetOperation::Difference:
      return GEOSDifference_r(handle, a, b);
  }
  return nullptr;
}

// The overlay of a and b; when GEOS rejects the operands (snapping can leave a ring touching
// itself along a stretch) they are repaired with GEOSMakeValid and the overlay tried once more.
GeometryPtr overlayOrRepair(GEOSContextHandle_t handle, SetOperation operation,
                            const GEOSGeometry* a, const GEOSGeometry* b, const ErrorSink* sink) {
  const GeometryDeleter deleter{handle};
  GeometryPtr result(overlay(handle, operation, a, b), deleter);
  // A refused allocation is no reason for a repair, which needs more memory still.
  memory::throwIfRefused();
  if (result || cancelled(sink)) return result;
  const GeometryPtr validA(GEOSMakeValid_r(handle, a), deleter);
  const GeometryPtr validB(GEOSMakeValid_r(handle, b), deleter);
  if (!validA || !validB) return result;
  return GeometryPtr(overlay(handle, operation, validA.get(), validB.get()), deleter);
}

// ---- The operation -----------------------------------------------------------------------------

// The answers that need no overlay; false when both operands have rings.
bool trivialResult(SetOperation operation, const Region& a, const Region& b, Region& result) {
  if (!a.empty() && !b.empty()) return false;
  switch (operation) {
    case SetOperation::Union:
      if (!a.empty()) static_cast<Cover&>(result) = a;
      if (!b.empty()) static_cast<Cover&>(result) = b;
      break;
    case SetOperation::Difference:
      if (!a.empty()) static_cast<Cover&>(result) = a;
      break;
    case SetOperation::Intersection:
      break;
  }
  return true;
}

SetStatus overlayRegions(SetOperation operation, const Region& a, const Region& b, double tolerance,
                         Region& result, ErrorSink* progress) {
  const InterruptScope interrupts(progress);
  const GeosContext context;
  const GEOSContextHandle_t handle = context.get();
  if (handle == nullptr) return SetStatus::Failed;
  // The operands' nesting, taken before snapping moves their rings: a checked region keeps it.
  const RingNesting nestingA = regionNesting(a);
  const RingNesting nestingB = regionNesting(b);
  Cover workA = a;
  Cover workB = b;
  if (tolerance > 0.0) snapTogether(workA, workB, tolerance);
  // Rings that enclose nothing (fewer than 4 points, possibly after snapping) are no GEOS rings.
  dropRepeatsAndCollapsed(workA);
  dropRepeatsAndCollapsed(workB);
  if (progress != nullptr && !progress->progressStep(0)) {
    return cancelled(progress) ? SetStatus::Cancelled : SetStatus::Failed;
  }

  const GeometryPtr geometryA = toGeos(handle, workA, nestingA);
  const GeometryPtr geometryB = toGeos(handle, workB, nestingB);
  if (!geometryA || !geometryB) return SetStatus::Failed;
  const GeometryPtr overlaid =
      overlayOrRepair(handle, operation, geometryA.get(), geometryB.get(), progress);
  if (cancelled(progress)) return SetStatus::Cancelled;
  if (!overlaid) return SetStatus::Failed;

  Region combined;
  if (!readPolygons(handle, overlaid.get(), combined)) return SetStatus::Failed;
  Rect area = workA.rect();
  area.unite(workB.rect());
  assignRingAttributes(combined, workA, workB, roundingScale(area));
  combined.sortDescending(3);
  result = std::move(combined);
  return SetStatus::Done;
}

}  // namespace

// The operands' segments are streamed over an index of the few first edges. A middle that no
// segment comes that close to (GEOS had to move a crossing) takes the nearest segment of all.
void assignRingAttributes(Region& result, const Cover& a, const Cover& b, double epsilon) {
  Cover edges;
  edges.reserve(result.size());
  for (const Line& ring : result.lines())
    edges.appendLine(Line(std::vector<Point>{ring[0], ring[1]}));
  SegmentGrid grid(edges.rect(), SegmentGrid::crossingSearchCells(edges.pointCount()));
  grid.add(edges);
  grid.build();

  struct Best {
    const Line* line = nullptr;
    double distance = 0.0;
  };
  std::vector<Best> best(result.size());
  auto middle = [&](std::size_t r) {
    return Point{(edges[r][0].x + edges[r][1].x) / 2.0, (edges[r][0].y + edges[r][1].y) / 2.0, 0};
  };
  auto stream = [&](const Cover& operand, double reach, bool onlyUnassigned) {
    for (std::size_t l = 0; l < operand.size(); ++l) {
      const Line& line = operand[l];
      for (std::size_t k = 0; k + 1 < line.size(); ++k) {
        const auto query = SegmentGrid::segmentRef(line, l, k, reach);
        if (!query) continue;
        grid.forEachOverlapping(*query, [&](const SegmentRef& edge) {
          Best& chosen = best[static_cast<std::size_t>(edge.line)];
          if (onlyUnassigned && chosen.line != nullptr && chosen.distance <= epsilon) return;
          const Point m = middle(static_cast<std::size_t>(edge.line));
          if (!withinBox(m, line[k], line[k + 1], reach)) return;
          const double d = nearestOnSegment(line[k], line[k + 1], m.x, m.y).distance;
          if (d <= reach && (chosen.line == nullptr || d < chosen.distance)) chosen = {&line, d};
        });
      }
    }
  };
  stream(a, epsilon, false);
  stream(b, epsilon, true);
  for (std::size_t r = 0; r < result.size(); ++r) {
    if (best[r].line != nullptr) continue;
    const Point m = middle(r);
    for (const Cover* operand : {&a, &b}) {
      const NearestPoint near = nearestOnCover(*operand, m.x, m.y);
      if (near.distance >= 0.0 && (best[r].line == nullptr || near.distance < best[r].distance)) {
        best[r] = {&(*operand)[near.line], near.distance};
      }
    }
  }
  for (std::size_t r = 0; r < result.size(); ++r) {
    if (best[r].line == nullptr) continue;
    result.line(r).id = best[r].line->id;
    result.line(r).value = best[r].line->value;
  }
}

SetStatus combineRegions(SetOperation operation, const Region& a, const Region& b, double tolerance,
                         Region& result, ErrorSink* progress) {
  result = Region{};
  if (progress != nullptr && progress->failed()) {
    return cancelled(progress) ? SetStatus::Cancelled : SetStatus::Failed;
  }
  if (trivialResult(operation, a, b, result)) return SetStatus::Done;
  Region combined;
  const SetStatus status = overlayRegions(operation, a, b, tolerance, combined, progress);
  if (status == SetStatus::Done) result = std::move(combined);
  return status;
}

}  // namespace vellumar::geometry
