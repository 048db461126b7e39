#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <span>
#include <vector>

#include "geometry/Bins.h"
#include "geometry/Geometry.h"

namespace vellumar::geometry {

// Area bound from which the innermost-ring rule starts; rings at least this large never count.
inline constexpr double kNoArea = 9.999999680285692e37;

// Abscissa where the edge (x0, y0)-(x1, y1) meets the horizontal line at y, computed the one way
// every ray test along +x computes it, so that a scanline and a point query agree to the bit.
inline double rayCrossingX(double x0, double y0, double x1, double y1, double y) {
  return (y - y0) * (x1 - x0) / (y1 - y0) + x0;
}

// Whether the edge spans y for a ray along +x: the lower end belongs to the edge, the upper end
// does not; horizontal edges and NaN never span.
inline bool spansRow(double y0, double y1, double y) {
  return y0 < y1 ? (y0 <= y && y < y1) : (y1 <= y && y < y0);
}

// Rule 1, one ring. A ring with fewer than 2 points or not closed contains nothing. With rectTest
// the point must lie in the ring's rectangle (bounds included). A point equal to a vertex is
// inside; otherwise a ray along +x counts the edges with min(y) <= y < max(y) whose crossing
// abscissa is >= x (horizontal edges never count); inside when the count is odd.
bool insideRing(const Line& ring, double x, double y, bool rectTest = false);

// Rule 2, innermost ring: among the rings that contain the point by rule 1, the one with the
// strictly smallest |signed area| (starting from kNoArea, the first in region order among equal
// areas) decides: inside when its signed area is negative (an outer boundary or an island),
// outside when it is a hole or when no ring contains the point.
bool insideInnermost(const Cover& region, double x, double y);

// Rule 3, even-odd over all rings. With rectTest the point must lie in the region's rectangle and
// rings whose rectangle does not contain it are skipped (bounds included). Any ring with fewer
// than 2 points or not closed makes every point outside. A vertex equal to the point is inside;
// when y lies within 0.0001 of the region rectangle's bottom or top the ray runs along +y
// (edges with min(x) <= x < max(x) and crossing ordinate >= y), otherwise along +x as in rule 1.
// Inside when the total count is odd. Uses the cover's stored rectangles as they are.
bool insideEvenOdd(const Cover& region, double x, double y, bool rectTest);

// A polygon prepared for many queries: the edges are binned into rows (and columns, for rays
// along +y, when first needed), each bin holding copies of its edges, and the vertices are binned
// by row, so one query reads the few edges and vertices of its row from one place. Every answer
// equals the single-point rule above for the cover as it was when prepared (its rings, signed areas
// and stored rectangles). Queries are const and may run concurrently.
class PreparedPolygon {
 public:
  explicit PreparedPolygon(const Cover& region);

  bool insideInnermost(double x, double y) const;
  bool insideEvenOdd(double x, double y, bool rectTest) const;
  // Indices of the rings that contain the point by rule 1 (no rectangle test), ascending. Costs
  // the edges and vertices of the point's row, whatever the number of rings, so a caller asking
  // once per ring stays linear.
  void containingRings(double x, double y, std::vector<std::size_t>& rings) const;

  // Batch forms: inside[i] = 1 or 0 for the point (xs[i], ys[i]); all spans of equal length.
  void insideInnermost(std::span<const double> xs, std::span<const double> ys,
                       std::span<std::uint8_t> inside) const;
  void insideEvenOdd(std::span<const double> xs, std::span<const double> ys, bool rectTest,
                     std::span<std::uint8_t> inside) const;

 private:
  struct Edge {
    double x0, y0, x1, y1;
    std::uint32_t ring;
  };
  struct Vertex {
    double y, x;
    std::uint32_t ring;
  };
  // Edges that can cross a ray along one axis, filed by the other coordinate.
  struct EdgeBins {
    AxisBins axis;
    BinLists<Edge> edges;
  };

  // The columns serve only the even-odd rule's rays along +y, for points near the region's
  // bottom or top, which most uses never ask: they are built on the first such query.
  struct LazyColumns {
    std::once_flag built;
    EdgeBins bins;
  };

  static void buildBins(EdgeBins& bins, const std::vector<Edge>& edges, bool alongY);
  const EdgeBins& columns() const;
  template <typename Visit>
  void forEachVertexAt(double x, double y, Visit&& visit) const;
  // The innermost-ring rule with rings as the work space (see containingRings).
  bool innermost(double x, double y, std::vector<std::size_t>& rings) const;

  std::vector<double> areas_;
  std::vector<Rect> ringRects_;
  Rect regionRect_;
  bool allClosed_ = true;
  std::vector<Edge> edges_;  // every edge that counts, kept for the columns
  EdgeBins rows_;            // edges that can cross a ray along +x, by y
  std::unique_ptr<LazyColumns> columns_ = std::make_unique<LazyColumns>();  // by x
  BinLists<Vertex> vertices_;  // by the row bins of rows_
};

}  // namespace vellumar::geometry
