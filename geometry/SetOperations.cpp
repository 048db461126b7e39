#include "geometry/SetOperations.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <memory>
#include <new>
#include <unordered_map>
#include <vector>

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

// A segment of a and a segment of b whose boxes, b's widened by twice the tolerance, overlap:
// the only places where snapping can move anything.
struct ClosePair {
  std::uint32_t aLine, aSegment, bLine, bSegment;
};

std::vector<ClosePair> closePairs(const Cover& a, const Cover& b, double tolerance) {
  Rect area = a.rect();
  area.unite(b.rect());
  SegmentGrid grid(area, SegmentGrid::crossingSearchCells(a.pointCount()));
  grid.add(a);
  grid.build();
  std::vector<ClosePair> pairs;
  for (std::size_t l = 0; l < b.size(); ++l) {
    for (std::size_t k = 0; k + 1 < b[l].size(); ++k) {
      const auto query = SegmentGrid::segmentRef(b[l], l, k, 2 * tolerance);
      if (!query) continue;
      grid.forEachOverlapping(*query, [&](const SegmentRef& s) {
        pairs.push_back({static_cast<std::uint32_t>(s.line), static_cast<std::uint32_t>(s.segment),
                         static_cast<std::uint32_t>(l), static_cast<std::uint32_t>(k)});
      });
    }
  }
  return pairs;
}

// Vertex k of line: the last vertex of a closed ring is its first.
std::uint64_t vertexKey(const Cover& cover, std::size_t line, std::size_t k) {
  if (k + 1 == cover[line].size() && cover[line].isClosed()) k = 0;
  return (static_cast<std::uint64_t>(line) << 32) | k;
}

// Where one vertex goes: onto the nearest vertex within the tolerance, else onto the nearest point
// of an edge within it.
struct SnapTarget {
  const Point* vertex = nullptr;
  double vertexDistance = 0.0;
  bool onEdge = false;
  double edgeDistance = 0.0;
  std::size_t edgeLine = 0;
  Insertion edge{0, 0.0, {}};
  bool onVertexAlready = false;  // the vertex is a vertex of the other cover as it is
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

// Moves every vertex of b that lies within tolerance of a vertex of a onto the nearest such
// vertex, else within tolerance of an edge of a onto the nearest point of that edge (which is then
// inserted into a as well); then inserts every vertex of a that lies within tolerance of an edge
// of b, and is not a vertex of b, into that edge. Stretches of the two boundaries closer than the
// tolerance so end up with the same vertices, that is, as one shared boundary. b may be left with
// repeated points.
void snapTogether(Cover& a, Cover& b, double tolerance) {
  const std::vector<ClosePair> pairs = closePairs(a, b, tolerance);
  if (pairs.empty()) return;

  std::unordered_map<std::uint64_t, SnapTarget> bTargets;
  for (const ClosePair& pair : pairs) {
    const Line& aLine = a[pair.aLine];
    for (const std::size_t k : {pair.bSegment, pair.bSegment + 1}) {
      const Point& v = b[pair.bLine][k];
      if (!withinBox(v, aLine[pair.aSegment], aLine[pair.aSegment + 1], tolerance)) continue;
      SnapTarget& target = bTargets[vertexKey(b, pair.bLine, k)];
      considerVertex(target, v, aLine[pair.aSegment], tolerance);
      considerVertex(target, v, aLine[pair.aSegment + 1], tolerance);
      considerEdge(target, v, aLine, pair.aLine, pair.aSegment, tolerance);
    }
  }
  Insertions intoA(a.size());
  for (const auto& [key, target] : bTargets) {
    const auto l = static_cast<std::size_t>(key >> 32);
    const auto k = static_cast<std::size_t>(key & 0xffffffffu);
    Point moved;
    if (target.vertex != nullptr) {
      moved = Point{target.vertex->x, target.vertex->y, 0};
    } else if (target.onEdge) {
      moved = target.edge.point;
      intoA[target.edgeLine].push_back(target.edge);
    } else {
      continue;
    }
    Line& line = b.line(l);
    const bool closed = line.isClosed();
    line.setPoint(k, moved);
    if (k == 0 && closed) line.setPoint(line.size() - 1, moved);  // the last point is the first
  }

  std::unordered_map<std::uint64_t, SnapTarget> aTargets;
  for (const ClosePair& pair : pairs) {
    const Line& bLine = b[pair.bLine];
    const Point& b0 = bLine[pair.bSegment];
    const Point& b1 = bLine[pair.bSegment + 1];
    for (const std::size_t k : {pair.aSegment, pair.aSegment + 1}) {
      const Point& v = a[pair.aLine][k];
      if (!withinBox(v, b0, b1, tolerance)) continue;
      SnapTarget& target = aTargets[vertexKey(a, pair.aLine, k)];
      if (samePosition(v, b0) || samePosition(v, b1)) target.onVertexAlready = true;
      considerEdge(target, v, bLine, pair.bLine, pair.bSegment, tolerance);
    }
  }
  Insertions intoB(b.size());
  for (const auto& [key, target] : aTargets) {
    if (target.onVertexAlready || !target.onEdge) continue;
    const auto l = static_cast<std::size_t>(key >> 32);
    const Point& v = a[l][static_cast<std::size_t>(key & 0xffffffffu)];
    intoB[target.edgeLine].push_back({target.edge.segment, target.edge.t, Point{v.x, v.y, 0}});
  }
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
  const RingNesting nestingA = ringNesting(a);
  const RingNesting nestingB = ringNesting(b);
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
  try {
    Region combined;
    const SetStatus status = overlayRegions(operation, a, b, tolerance, combined, progress);
    if (status == SetStatus::Done) result = std::move(combined);
    return status;
  } catch (const std::bad_alloc&) {
    return SetStatus::Failed;
  }
}

}  // namespace vellumar::geometry
