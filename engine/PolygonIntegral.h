#pragma once

#include <cstdint>
#include <optional>

#include "common/ErrorSink.h"
#include "geometry/Geometry.h"
#include "grid/AxisIntegrals.h"
#include "grid/Grid.h"

namespace vellumar::engine {

// The integral of a grid's surface over a region (rings oriented by nesting: outer boundaries
// and islands clockwise, holes counter-clockwise), as the sum of its ring integrals.
//
// Ring integral: by Green's theorem the line integral of (G dx - F dy) / 2 along a ring, with F
// and G the integrals of the surface along X and Y (grid::AxisIntegrals), is the integral of the
// surface over the enclosed area for a clockwise ring and its negative for a counter-clockwise
// one, so outer boundaries add and holes subtract.
// Each edge is cut where it crosses the lines of the lattice, and each piece is integrated with
// the four-point Gauss-Legendre rule, which is exact there in either mode (the surface is a
// polynomial within a cell), so the integral is exact to rounding.
// A ring that is not closed, or has fewer than 2 points, and an edge of length 0 contribute
// nothing; so does every ring of a grid whose surface is 0 everywhere.
//
// The quadrature points of all rings are evaluated in large batches, so that the prefix sums
// behind F and G are swept a few times in all, not once per point.
class PolygonIntegral {
 public:
  PolygonIntegral(const grid::Grid& grid, const geometry::Cover& region);

  // The progress total of compute(): rows swept over all batches.
  std::int64_t progressTotal() const;
  // The integral; empty when the user cancelled through progress.
  std::optional<double> compute(ErrorSink* progress = nullptr) const;

 private:
  const grid::Grid& grid_;
  const geometry::Cover& region_;
  grid::AxisIntegrals axes_;
  std::int64_t points_ = 0;  // quadrature points of all rings (an upper bound)
};

}  // namespace vellumar::engine
