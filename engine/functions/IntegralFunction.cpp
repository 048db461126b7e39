// Integral(G, P): the integral of a map's surface over a polygon. A polygon reaching beyond the
// map is first cut to the map's outline, since the surface is defined only over the map.

#include <cmath>
#include <optional>
#include <span>
#include <utility>

#include "engine/LinePacking.h"
#include "engine/PolygonIntegral.h"
#include "engine/functions/Functions.h"
#include "engine/functions/PolygonArguments.h"
#include "geometry/GridOutline.h"
#include "geometry/PolygonCheck.h"
#include "geometry/SetOperations.h"
#include "grid/Grid.h"

namespace vellumar::engine::functions {

namespace {

// The integral over a region, with progress; empty when cancelled.
std::optional<double> surfaceIntegral(S_Calculator& calc, const grid::Grid& map,
                                      const geometry::Cover& region) {
  const PolygonIntegral integral(map, region);
  const ProgressScope progress(calc, text::kIntegrating, integral.progressTotal());
  return integral.compute(progress.sink());
}

// The map's lattice in bilinear mode with the node values f(node).
template <typename NodeValue>
grid::Grid bilinearOf(const grid::Grid& map, NodeValue f) {
  const std::span<const double> nodes = map.nodes();
  grid::NodeVector values(nodes.size());
  for (std::size_t k = 0; k < nodes.size(); ++k) values[k] = f(nodes[k]);
  grid::Grid result = grid::Grid::fromNodes(map.nx(), map.ny(), map, std::move(values));
  result.setMode(grid::Interpolation::Bilinear);
  return result;
}

// The integral over a region of a map with blank nodes. The surface has no value in a cell with
// a blank corner, so a region covering any part of such a cell fails with the blank-area message.
// It covers one exactly when the bilinear surface of the blank indicator (1 at blank nodes, 0
// elsewhere), which is positive inside every such cell and 0 elsewhere, has a positive integral
// over it; the bilinear integral cuts the edges at the grid lines, so it is exact. Otherwise the
// surface is integrated with the blank cells counting 0: the line integrals pass through blank
// cells outside the region, and their contributions cancel only when they are finite (the spline
// coefficients are finite everywhere; bilinear nodes are not, so they are zeroed).
Operand integrateAroundBlanks(S_Calculator& calc, const grid::Grid& map,
                              const geometry::Cover& region) {
  const grid::Grid indicator =
      bilinearOf(map, [](double v) { return grid::isBlank(v) ? 1.0 : 0.0; });
  const std::optional<double> covered = surfaceIntegral(calc, indicator, region);
  if (!covered) return Operand();
  // Well below any real overlap, well above the rounding of the line integrals.
  if (*covered > 1e-9 * std::fabs(map.stepX() * map.stepY())) {
    calc.kernelError(sink_code::kGridBlankArea);
    return Operand();
  }
  std::optional<double> value;
  if (map.mode() == grid::Interpolation::Bilinear) {
    value = surfaceIntegral(
        calc, bilinearOf(map, [](double v) { return grid::isBlank(v) ? 0.0 : v; }), region);
  } else {
    value = surfaceIntegral(calc, map, region);
  }
  return value ? Operand::number(*value) : Operand();
}

// The integral over a region, with progress; empty value when cancelled.
Operand integrate(S_Calculator& calc, const grid::Grid& map, const geometry::Cover& region) {
  if (grid::anyBlank(map.nodes())) return integrateAroundBlanks(calc, map, region);
  const std::optional<double> value = surfaceIntegral(calc, map, region);
  return value ? Operand::number(*value) : Operand();
}

// The part of the region within the map's outline, cut without tolerance; the user can cancel
// the overlay meanwhile.
geometry::SetStatus cutToMap(S_Calculator& calc, const geometry::Region& region,
                             const geometry::Region& map, geometry::Region& inside) {
  return overlayRegions(calc, geometry::SetOperation::Intersection, region, map, 0.0, inside);
}

}  // namespace

Operand integral(S_Calculator& calc, Arguments& args) {
  const grid::Grid& map = *args[0].gridValue();
  const Operand& polygon = args[1];
  geometry::Cover cover;
  if (!unpackOperand(polygon, cover)) {
    calc.argumentError(ArgumentMessage::InvalidType, polygon.argumentPosition());
    return Operand();
  }
  // Rectangles that do not overlap, or only touch, enclose no common area.
  const geometry::Rect p = cover.rect();
  if (!(map.left < p.right && p.left < map.right && map.bottom < p.top && p.bottom < map.top)) {
    return Operand::number(0.0);
  }
  geometry::Region region;
  if (!layerRegion(calc, cover, polygon.argumentPosition(), ArgumentMessage::InvalidType, region)) {
    return Operand();
  }
  const geometry::Rect mapRect = mapRectangle(map);
  if (mapRect.contains(p.left, p.bottom) && mapRect.contains(p.right, p.top)) {
    return integrate(calc, map, region);
  }
  // The polygon of the map's outline, intersected with the polygon without tolerance.
  geometry::Cover outline;
  outline.appendLine(geometry::latticeOutline(mapRect, map.nx(), map.ny()));
  geometry::Region mapRegion;
  if (!geometry::buildRegion(std::move(outline), mapRegion)) {
    calc.argumentError(ArgumentMessage::InvalidType, args[0].argumentPosition());
    return Operand();
  }
  geometry::Region inside;
  switch (cutToMap(calc, region, mapRegion, inside)) {
    case geometry::SetStatus::Done:
      break;
    case geometry::SetStatus::Cancelled:
      return Operand();
    case geometry::SetStatus::Failed:
      calc.argumentError(ArgumentMessage::InvalidType, polygon.argumentPosition());
      return Operand();
  }
  if (inside.empty()) return Operand::number(0.0);
  return integrate(calc, map, inside);
}

}  // namespace vellumar::engine::functions
