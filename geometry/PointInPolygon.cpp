#include "geometry/PointInPolygon.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace vellumar::geometry {
namespace {

// The edge (x0, y0)-(x1, y1) counts for a ray from (x, y) along +x. False for horizontal edges and
// for any NaN coordinate.
bool crossesRightward(double x0, double y0, double x1, double y1, double x, double y) {
  return spansRow(y0, y1, y) && rayCrossingX(x0, y0, x1, y1, y) >= x;
}

// The same for a ray along +y: false for vertical edges and for any NaN coordinate.
bool crossesUpward(double x0, double y0, double x1, double y1, double x, double y) {
  if (!(std::min(x0, x1) <= x && x < std::max(x0, x1))) return false;
  return (x - x0) * (y1 - y0) / (x1 - x0) + y0 >= y;
}

bool nearRectEdgeInY(const Rect& r, double y) {
  return std::fabs(r.bottom - y) < 0.0001 || std::fabs(r.top - y) < 0.0001;
}

bool isVertex(const Point& p, double x, double y) {
  return p.x == x && p.y == y;
}

}  // namespace

bool insideRing(const Line& ring, double x, double y, bool rectTest) {
  if (!ring.isClosed()) return false;
  if (rectTest && !ring.rect().contains(x, y)) return false;
  const std::span<const Point> p = ring.points();
  bool inside = false;
  for (std::size_t i = 0; i + 1 < p.size(); ++i) {
    if (isVertex(p[i], x, y)) return true;
    if (crossesRightward(p[i].x, p[i].y, p[i + 1].x, p[i + 1].y, x, y)) inside = !inside;
  }
  return inside;
}

bool insideInnermost(const Cover& region, double x, double y) {
  double best = kNoArea;
  const Line* chosen = nullptr;
  for (const Line& ring : region.lines()) {
    if (!insideRing(ring, x, y)) continue;
    const double area = std::fabs(ring.signedArea());
    if (area < best) {
      best = area;
      chosen = &ring;
    }
  }
  return chosen != nullptr && chosen->signedArea() < 0.0;
}

bool insideEvenOdd(const Cover& region, double x, double y, bool rectTest) {
  if (rectTest && !region.rect().contains(x, y)) return false;
  for (const Line& ring : region.lines()) {
    if (!ring.isClosed()) return false;
  }
  const bool upward = nearRectEdgeInY(region.rect(), y);
  bool inside = false;
  for (const Line& ring : region.lines()) {
    if (rectTest && !ring.rect().contains(x, y)) continue;
    const std::span<const Point> p = ring.points();
    for (std::size_t i = 0; i + 1 < p.size(); ++i) {
      if (isVertex(p[i], x, y)) return true;
      const bool counts = upward ? crossesUpward(p[i].x, p[i].y, p[i + 1].x, p[i + 1].y, x, y)
                                 : crossesRightward(p[i].x, p[i].y, p[i + 1].x, p[i + 1].y, x, y);
      if (counts) inside = !inside;
    }
  }
  return inside;
}

// ---- PreparedPolygon ----

PreparedPolygon::PreparedPolygon(const Cover& region) : regionRect_(region.rect()) {
  std::size_t points = 0;
  for (const Line& ring : region.lines()) points += ring.size();
  std::vector<Edge> edges;
  std::vector<Vertex> vertices;
  edges.reserve(points);
  vertices.reserve(points);
  for (std::size_t r = 0; r < region.size(); ++r) {
    const Line& ring = region[r];
    areas_.push_back(ring.signedArea());
    ringRects_.push_back(ring.rect());
    if (!ring.isClosed()) {
      allClosed_ = false;
      continue;
    }
    const auto index = static_cast<std::uint32_t>(r);
    const std::span<const Point> p = ring.points();
    for (std::size_t i = 0; i + 1 < p.size(); ++i) {
      const Point& a = p[i];
      const Point& b = p[i + 1];
      if (!std::isnan(a.x) && !std::isnan(a.y)) vertices.push_back(Vertex{a.y, a.x, index});
      // An edge with a NaN coordinate never counts for either ray.
      if (std::isnan(a.x) || std::isnan(a.y) || std::isnan(b.x) || std::isnan(b.y)) continue;
      edges.push_back(Edge{a.x, a.y, b.x, b.y, index});
    }
  }
  buildBins(rows_, edges, false);
  edges_ = std::move(edges);
  // Vertices by the row bin of their ordinate: a point can only equal those of its own bin.
  vertices_.build(static_cast<std::size_t>(rows_.axis.count), [&](auto&& file) {
    for (const Vertex& v : vertices) file(static_cast<std::size_t>(rows_.axis.binOf(v.y)), v);
  });
}

const PreparedPolygon::EdgeBins& PreparedPolygon::columns() const {
  std::call_once(columns_->built, [this] { buildBins(columns_->bins, edges_, true); });
  return columns_->bins;
}

void PreparedPolygon::buildBins(EdgeBins& bins, const std::vector<Edge>& edges, bool alongY) {
  std::vector<std::uint32_t> candidates;
  double low = std::numeric_limits<double>::infinity();
  double high = -low;
  for (std::size_t i = 0; i < edges.size(); ++i) {
    const Edge& e = edges[i];
    const double a = alongY ? e.x0 : e.y0;
    const double b = alongY ? e.x1 : e.y1;
    if (a == b) continue;  // parallel to the ray: never counts
    candidates.push_back(static_cast<std::uint32_t>(i));
    for (const double v : {a, b}) {
      if (std::isfinite(v)) {
        low = std::min(low, v);
        high = std::max(high, v);
      }
    }
  }
  auto range = [&](const Edge& e) {
    const double a = alongY ? e.x0 : e.y0;
    const double b = alongY ? e.x1 : e.y1;
    return std::pair{bins.axis.binOf(std::min(a, b)), bins.axis.binOf(std::max(a, b))};
  };
  bins.axis = AxisBins{};
  if (high > low) {
    // As many bins as edges, halved while long edges would be listed too often.
    const int start = static_cast<int>(std::clamp<std::size_t>(candidates.size(), 1, 1 << 22));
    coarsenedBinCount(start, 8 * candidates.size() + 1024, [&](int count) {
      bins.axis = AxisBins::over(low, high, count);
      std::size_t total = 0;
      for (const std::uint32_t i : candidates) {
        const auto [first, last] = range(edges[i]);
        total += static_cast<std::size_t>(last - first + 1);
      }
      return total;
    });
  }
  // Each bin holds copies of its edges, so a query reads one contiguous stretch.
  bins.edges.build(static_cast<std::size_t>(bins.axis.count), [&](auto&& file) {
    for (const std::uint32_t i : candidates) {
      const auto [first, last] = range(edges[i]);
      for (int b = first; b <= last; ++b) file(static_cast<std::size_t>(b), edges[i]);
    }
  });
}

template <typename Visit>
void PreparedPolygon::forEachVertexAt(double x, double y, Visit&& visit) const {
  for (const Vertex& v : vertices_.in(static_cast<std::size_t>(rows_.axis.binOf(y)))) {
    if (v.y == y && v.x == x) visit(v.ring);
  }
}

void PreparedPolygon::containingRings(double x, double y, std::vector<std::size_t>& rings) const {
  // One key per hit, ring * 2 + 1 for a vertex at the point and ring * 2 for an edge the ray
  // crosses; sorted, each ring's keys lie together. No per-ring table, so a query never touches
  // memory in proportion to the number of rings.
  rings.clear();
  forEachVertexAt(x, y, [&](std::uint32_t ring) { rings.push_back(std::size_t{ring} * 2 + 1); });
  for (const Edge& e : rows_.edges.in(static_cast<std::size_t>(rows_.axis.binOf(y)))) {
    if (crossesRightward(e.x0, e.y0, e.x1, e.y1, x, y)) rings.push_back(std::size_t{e.ring} * 2);
  }
  std::sort(rings.begin(), rings.end());
  // A ring contains the point when one of its vertices is there or the ray crosses it an odd
  // number of times.
  std::size_t kept = 0;
  for (std::size_t k = 0; k < rings.size();) {
    const std::size_t ring = rings[k] / 2;
    bool atVertex = false;
    bool oddCrossings = false;
    for (; k < rings.size() && rings[k] / 2 == ring; ++k) {
      if (rings[k] % 2 == 1) {
        atVertex = true;
      } else {
        oddCrossings = !oddCrossings;
      }
    }
    if (atVertex || oddCrossings) rings[kept++] = ring;
  }
  rings.resize(kept);
}

bool PreparedPolygon::innermost(double x, double y, std::vector<std::size_t>& rings) const {
  containingRings(x, y, rings);
  // In ascending ring order with a strict comparison: the first in region order among equals.
  double best = kNoArea;
  std::size_t chosen = areas_.size();
  for (const std::size_t ring : rings) {
    const double area = std::fabs(areas_[ring]);
    if (area < best) {
      best = area;
      chosen = ring;
    }
  }
  return chosen != areas_.size() && areas_[chosen] < 0.0;
}

bool PreparedPolygon::insideInnermost(double x, double y) const {
  std::vector<std::size_t> rings;
  return innermost(x, y, rings);
}

bool PreparedPolygon::insideEvenOdd(double x, double y, bool rectTest) const {
  if (rectTest && !regionRect_.contains(x, y)) return false;
  if (!allClosed_) return false;
  bool vertexHit = false;
  forEachVertexAt(x, y, [&](std::uint32_t ring) {
    if (!rectTest || ringRects_[ring].contains(x, y)) vertexHit = true;
  });
  if (vertexHit) return true;
  const bool upward = nearRectEdgeInY(regionRect_, y);
  const EdgeBins& bins = upward ? columns() : rows_;
  const auto bin = static_cast<std::size_t>(bins.axis.binOf(upward ? x : y));
  bool inside = false;
  for (const Edge& e : bins.edges.in(bin)) {
    if (rectTest && !ringRects_[e.ring].contains(x, y)) continue;
    const bool counts = upward ? crossesUpward(e.x0, e.y0, e.x1, e.y1, x, y)
                               : crossesRightward(e.x0, e.y0, e.x1, e.y1, x, y);
    if (counts) inside = !inside;
  }
  return inside;
}

void PreparedPolygon::insideInnermost(std::span<const double> xs, std::span<const double> ys,
                                      std::span<std::uint8_t> inside) const {
  std::vector<std::size_t> rings;
  for (std::size_t i = 0; i < inside.size(); ++i) inside[i] = innermost(xs[i], ys[i], rings);
}

void PreparedPolygon::insideEvenOdd(std::span<const double> xs, std::span<const double> ys,
                                    bool rectTest, std::span<std::uint8_t> inside) const {
  for (std::size_t i = 0; i < inside.size(); ++i) inside[i] = insideEvenOdd(xs[i], ys[i], rectTest);
}

}  // namespace vellumar::geometry
