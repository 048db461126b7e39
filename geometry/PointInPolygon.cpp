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

int PreparedPolygon::Bins::binOf(double v) const {
  // Monotone in v and clamped, so an edge spanning [a, b] is listed in every bin a query in
  // [a, b] can fall into.
  const double t = (v - low) * scale;
  if (!(t > 0.0)) return 0;
  if (t >= count) return count - 1;
  return static_cast<int>(t);
}

PreparedPolygon::PreparedPolygon(const Cover& region) : regionRect_(region.rect()) {
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
      if (!std::isnan(a.x) && !std::isnan(a.y)) vertices_.push_back(Vertex{a.y, a.x, index});
      // An edge with a NaN coordinate never counts for either ray.
      if (std::isnan(a.x) || std::isnan(a.y) || std::isnan(b.x) || std::isnan(b.y)) continue;
      edges_.push_back(Edge{a.x, a.y, b.x, b.y, index});
    }
  }
  buildBins(rows_, false);
  buildBins(columns_, true);
  // Vertices by the row bin of their ordinate: a point can only equal those of its own bin.
  vertexOffsets_.assign(static_cast<std::size_t>(rows_.count) + 1, 0);
  for (const Vertex& v : vertices_) ++vertexOffsets_[rows_.binOf(v.y) + 1];
  for (int b = 0; b < rows_.count; ++b) vertexOffsets_[b + 1] += vertexOffsets_[b];
  std::vector<Vertex> binned(vertices_.size());
  std::vector<std::size_t> fill(vertexOffsets_.begin(), vertexOffsets_.end() - 1);
  for (const Vertex& v : vertices_) binned[fill[rows_.binOf(v.y)]++] = v;
  vertices_ = std::move(binned);
  edges_ = {};  // the bins hold their own copies
}

void PreparedPolygon::buildBins(Bins& bins, bool alongY) {
  std::vector<std::uint32_t> candidates;
  double low = std::numeric_limits<double>::infinity();
  double high = -low;
  for (std::size_t i = 0; i < edges_.size(); ++i) {
    const Edge& e = edges_[i];
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
    return std::pair{bins.binOf(std::min(a, b)), bins.binOf(std::max(a, b))};
  };
  bins.count = 1;
  bins.low = 0.0;
  bins.scale = 0.0;
  if (high > low) {
    // As many bins as edges, halved while long edges would be listed too often.
    bins.count = static_cast<int>(std::clamp<std::size_t>(candidates.size(), 1, 1 << 22));
    bins.low = low;
    for (;;) {
      bins.scale = bins.count / (high - low);
      std::size_t total = 0;
      for (const std::uint32_t i : candidates) {
        const auto [first, last] = range(edges_[i]);
        total += static_cast<std::size_t>(last - first + 1);
      }
      if (bins.count == 1 || total <= 8 * candidates.size() + 1024) break;
      bins.count = std::max(1, bins.count / 2);
    }
  }
  bins.offsets.assign(static_cast<std::size_t>(bins.count) + 1, 0);
  for (const std::uint32_t i : candidates) {
    const auto [first, last] = range(edges_[i]);
    for (int b = first; b <= last; ++b) ++bins.offsets[b + 1];
  }
  for (int b = 0; b < bins.count; ++b) bins.offsets[b + 1] += bins.offsets[b];
  // Each bin holds copies of its edges, so a query reads one contiguous stretch.
  bins.edges.resize(bins.offsets.back());
  std::vector<std::size_t> fill(bins.offsets.begin(), bins.offsets.end() - 1);
  for (const std::uint32_t i : candidates) {
    const auto [first, last] = range(edges_[i]);
    for (int b = first; b <= last; ++b) bins.edges[fill[b]++] = edges_[i];
  }
}

template <typename Visit>
void PreparedPolygon::forEachVertexAt(double x, double y, Visit&& visit) const {
  const int bin = rows_.binOf(y);
  for (std::size_t k = vertexOffsets_[bin]; k < vertexOffsets_[bin + 1]; ++k) {
    const Vertex& v = vertices_[k];
    if (v.y == y && v.x == x) visit(v.ring);
  }
}

void PreparedPolygon::collectRings(double x, double y, Scratch& scratch) const {
  // parity bits: 1 odd number of crossings, 2 listed in touched, 4 vertex hit.
  scratch.parity.resize(areas_.size(), 0);
  scratch.touched.clear();
  auto touch = [&](std::uint32_t ring, std::uint8_t bit) {
    std::uint8_t& p = scratch.parity[ring];
    if ((p & 2) == 0) scratch.touched.push_back(ring);
    p = static_cast<std::uint8_t>((p | 2) ^ (bit == 1 ? 1 : 0)) | (bit == 4 ? 4 : 0);
  };
  forEachVertexAt(x, y, [&](std::uint32_t ring) { touch(ring, 4); });
  const int bin = rows_.binOf(y);
  for (std::size_t k = rows_.offsets[bin]; k < rows_.offsets[bin + 1]; ++k) {
    const Edge& e = rows_.edges[k];
    if (crossesRightward(e.x0, e.y0, e.x1, e.y1, x, y)) touch(e.ring, 1);
  }
}

bool PreparedPolygon::innermost(double x, double y, Scratch& scratch) const {
  collectRings(x, y, scratch);
  double best = kNoArea;
  std::size_t chosen = areas_.size();
  for (const std::uint32_t ring : scratch.touched) {
    const std::uint8_t p = scratch.parity[ring];
    scratch.parity[ring] = 0;
    if ((p & 5) == 0) continue;
    const double area = std::fabs(areas_[ring]);
    // Same choice as a scan in region order with a strict comparison.
    if (area < best || (area == best && chosen != areas_.size() && ring < chosen)) {
      best = area;
      chosen = ring;
    }
  }
  return chosen != areas_.size() && areas_[chosen] < 0.0;
}

bool PreparedPolygon::insideInnermost(double x, double y) const {
  Scratch scratch;
  return innermost(x, y, scratch);
}

void PreparedPolygon::containingRings(double x, double y, std::vector<std::size_t>& rings) const {
  Scratch scratch;
  collectRings(x, y, scratch);
  rings.clear();
  for (const std::uint32_t ring : scratch.touched) {
    if ((scratch.parity[ring] & 5) != 0) rings.push_back(ring);
  }
  std::sort(rings.begin(), rings.end());
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
  const Bins& bins = upward ? columns_ : rows_;
  const int bin = bins.binOf(upward ? x : y);
  bool inside = false;
  for (std::size_t k = bins.offsets[bin]; k < bins.offsets[bin + 1]; ++k) {
    const Edge& e = bins.edges[k];
    if (rectTest && !ringRects_[e.ring].contains(x, y)) continue;
    const bool counts = upward ? crossesUpward(e.x0, e.y0, e.x1, e.y1, x, y)
                               : crossesRightward(e.x0, e.y0, e.x1, e.y1, x, y);
    if (counts) inside = !inside;
  }
  return inside;
}

void PreparedPolygon::insideInnermost(std::span<const double> xs, std::span<const double> ys,
                                      std::span<std::uint8_t> inside) const {
  Scratch scratch;
  for (std::size_t i = 0; i < inside.size(); ++i) inside[i] = innermost(xs[i], ys[i], scratch);
}

void PreparedPolygon::insideEvenOdd(std::span<const double> xs, std::span<const double> ys,
                                    bool rectTest, std::span<std::uint8_t> inside) const {
  for (std::size_t i = 0; i < inside.size(); ++i) inside[i] = insideEvenOdd(xs[i], ys[i], rectTest);
}

}  // namespace vellumar::geometry
