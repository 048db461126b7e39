// Integral(G, P): the integral of a map's surface over a polygon; Mean(G, P): its mean over the
// part of the polygon where the surface has values. A polygon reaching beyond the map is first cut
// to the map's outline, since the surface is defined only over the map.

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <optional>
#include <span>
#include <utility>
#include <vector>

#include "engine/EngineMessages.h"
#include "engine/GridOverPolygon.h"
#include "engine/LinePacking.h"
#include "engine/PolygonIntegral.h"
#include "engine/functions/Functions.h"
#include "engine/functions/PolygonArguments.h"
#include "geometry/GridOutline.h"
#include "geometry/PolygonCheck.h"
#include "geometry/SetOperations.h"
#include "grid/Grid.h"
#include "grid/Lattice.h"
#include "grid/NodeSelection.h"

namespace vellumar::engine {

using namespace functions;

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
  return grid::Lattice::of(map).holding(std::move(values), map.georeference,
                                        grid::Interpolation::Bilinear);
}

// The integral over a region of a map with blank nodes, taking the surface as 0 in every cell with
// a blank corner: the line integrals pass through blank cells outside the region, and their
// contributions cancel only when they are finite (the spline coefficients are finite everywhere;
// bilinear nodes are not, so they are zeroed). Empty when cancelled.
std::optional<double> integralWithoutBlanks(S_Calculator& calc, const grid::Grid& map,
                                            const geometry::Cover& region) {
  if (map.mode() == grid::Interpolation::Bilinear) {
    return surfaceIntegral(
        calc, bilinearOf(map, [](double v) { return grid::isBlank(v) ? 0.0 : v; }), region);
  }
  return surfaceIntegral(calc, map, region);
}

// The integral over a region of a map with blank nodes. The surface has no value in a cell with
// a blank corner, so a region covering any part of such a cell fails with the blank-area message.
// It covers one exactly when the bilinear surface of the blank indicator (1 at blank nodes, 0
// elsewhere), which is positive inside every such cell and 0 elsewhere, has a positive integral
// over it; the bilinear integral cuts the edges at the grid lines, so it is exact.
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
  const std::optional<double> value = integralWithoutBlanks(calc, map, region);
  return value ? Operand::number(*value) : Operand();
}

// The integral over a region, with progress; empty value when cancelled.
Operand integrate(S_Calculator& calc, const grid::Grid& map, const geometry::Cover& region) {
  if (map.hasBlanks()) return integrateAroundBlanks(calc, map, region);
  const std::optional<double> value = surfaceIntegral(calc, map, region);
  return value ? Operand::number(*value) : Operand();
}

// The part of the region within the map's outline, cut without tolerance; the user can cancel
// the overlay meanwhile.
geometry::SetStatus cutToMap(S_Calculator& calc, const geometry::Region& region,
                             const geometry::Region& map, geometry::Region& inside) {
  return overlayRegions(calc, geometry::SetOperation::Intersection, region, map, 0.0, inside);
}

// The region of the cells of the map, within the part of its lattice that the rectangle covers,
// whose four corners all have values.
geometry::Region valuedCells(const grid::Grid& map, const geometry::Rect& within) {
  // The nodes around the rectangle, and so the cells between them: at least one cell.
  const grid::NodeWindow nodes =
      grid::nodesWithin(map, within.left, within.right, within.bottom, within.top);
  const int i0 = std::min(nodes.i0, map.nx() - 2);
  const int i1 = std::max(nodes.i0 + nodes.nx - 1, i0 + 1);
  const int j0 = std::min(nodes.j0, map.ny() - 2);
  const int j1 = std::max(nodes.j0 + nodes.ny - 1, j0 + 1);
  const int cellsX = i1 - i0;
  const int cellsY = j1 - j0;
  std::vector<std::uint8_t> cells(static_cast<std::size_t>(cellsX) * cellsY);
  for (int j = 0; j < cellsY; ++j) {
    for (int i = 0; i < cellsX; ++i) {
      const int x = i0 + i;
      const int y = j0 + j;
      cells[static_cast<std::size_t>(j) * cellsX + i] =
          !grid::isBlank(map.node(x, y)) && !grid::isBlank(map.node(x + 1, y)) &&
          !grid::isBlank(map.node(x, y + 1)) && !grid::isBlank(map.node(x + 1, y + 1));
    }
  }
  geometry::Rect window;
  window.include(map.nodeX(i0), map.nodeY(j0));
  window.include(map.nodeX(i1), map.nodeY(j1));
  return geometry::cellRegion(window, cellsX + 1, cellsY + 1, cells);
}

// The rectangle of a block of nodes.
geometry::Rect rectangleOf(const grid::Lattice& clip) {
  geometry::Rect rect;
  rect.include(clip.left, clip.bottom);
  rect.include(clip.right, clip.top);
  return rect;
}

// Whether the rectangles overlap with an area: touching ones enclose no common area.
bool overlaps(const geometry::Rect& a, const geometry::Rect& b) {
  return a.left < b.right && b.left < a.right && a.bottom < b.top && b.bottom < a.top;
}

// The part of the region where the map's surface has values: within clip, a block of the map's
// lattice, outside every cell with a blank corner. False when the user cancelled or the overlay
// failed (recorded).
bool valuedPart(S_Calculator& calc, const grid::Grid& map, const geometry::Region& region,
                const grid::Lattice& clip, std::uint32_t position, geometry::Region& part) {
  const geometry::Rect clipRect = rectangleOf(clip);
  const geometry::Rect& r = region.rect();
  geometry::Region valued;
  if (map.hasBlanks()) {
    geometry::Rect within;
    within.include(std::max(r.left, clip.left), std::max(r.bottom, clip.bottom));
    within.include(std::min(r.right, clip.right), std::min(r.top, clip.top));
    valued = valuedCells(map, within);
  } else if (clipRect.contains(r.left, r.bottom) && clipRect.contains(r.right, r.top)) {
    part = region;
    return true;
  } else {
    valued.appendLine(geometry::latticeOutline(clipRect, clip.nx, clip.ny));
  }
  if (valued.empty()) {
    part = geometry::Region{};
    return true;
  }
  switch (cutToMap(calc, region, valued, part)) {
    case geometry::SetStatus::Done:
      return true;
    case geometry::SetStatus::Cancelled:
      return false;
    case geometry::SetStatus::Failed:
      break;
  }
  calc.argumentError(ArgumentMessage::InvalidType, position);
  return false;
}

}  // namespace

std::optional<PolygonSums> valuedSumsWithin(S_Calculator& calc, const grid::Grid& map,
                                            const Operand& polygon, const grid::Lattice& clip) {
  geometry::Region region;
  if (!polygonRegion(calc, polygon, ArgumentMessage::InvalidType, region)) return std::nullopt;
  if (!overlaps(rectangleOf(clip), region.rect())) return PolygonSums{};
  geometry::Region part;
  if (!valuedPart(calc, map, region, clip, polygon.argumentPosition(), part)) return std::nullopt;
  PolygonSums sums;
  for (const geometry::Line& ring : part.lines()) sums.area -= ring.signedArea();
  if (!(sums.area > 0.0)) return PolygonSums{};
  const std::optional<double> value = integralWithoutBlanks(calc, map, part);
  if (!value) return std::nullopt;
  sums.integral = *value;
  return sums;
}

Operand integralWithin(S_Calculator& calc, const grid::Grid& map, const Operand& polygon,
                       const grid::Lattice& clip) {
  geometry::Cover cover;
  if (!unpackOperand(polygon, cover)) {
    calc.argumentError(ArgumentMessage::InvalidType, polygon.argumentPosition());
    return Operand();
  }
  const geometry::Rect clipRect = rectangleOf(clip);
  const geometry::Rect p = cover.rect();
  if (!overlaps(clipRect, p)) return Operand::number(0.0);
  geometry::Region region;
  if (!layerRegion(calc, cover, polygon.argumentPosition(), ArgumentMessage::InvalidType, region)) {
    return Operand();
  }
  if (clipRect.contains(p.left, p.bottom) && clipRect.contains(p.right, p.top)) {
    return integrate(calc, map, region);
  }
  // The polygon of the block's outline, intersected with the polygon without tolerance.
  geometry::Cover outline;
  outline.appendLine(geometry::latticeOutline(clipRect, clip.nx, clip.ny));
  geometry::Region clipRegion;
  if (!geometry::buildRegion(std::move(outline), clipRegion)) {
    calc.argumentError(ArgumentMessage::InvalidType, 1);
    return Operand();
  }
  geometry::Region inside;
  switch (cutToMap(calc, region, clipRegion, inside)) {
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

namespace functions {

Operand mean(S_Calculator& calc, Arguments& args) {
  const std::optional<PolygonSums> sums = valuedSumsWithin(calc, *args[0].gridValue(), args[1],
                                                           grid::Lattice::of(*args[0].gridValue()));
  if (!sums) return Operand();
  if (!(sums->area > 0.0)) {
    calc.functionError(text::kNoGridValues);
    return Operand();
  }
  return Operand::number(sums->integral / sums->area);
}

Operand integral(S_Calculator& calc, Arguments& args) {
  return integralWithin(calc, *args[0].gridValue(), args[1],
                        grid::Lattice::of(*args[0].gridValue()));
}

}  // namespace functions

}  // namespace vellumar::engine
