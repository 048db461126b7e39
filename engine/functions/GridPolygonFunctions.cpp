#include <cmath>
#include <cstdint>
#include <utility>
#include <vector>

#include "engine/Calculator.h"
#include "engine/LinePacking.h"
#include "engine/functions/Functions.h"
#include "engine/functions/PolygonArguments.h"
#include "geometry/GridOutline.h"
#include "geometry/LevelRegion.h"
#include "grid/Grid.h"
#include "isolines/TracedLines.h"

namespace vellumar::engine::functions {

namespace {

// The valid area of a map with blank nodes: its cells without a blank corner, where the surface
// has values.
geometry::Region validArea(const grid::Grid& map) {
  const int cellsX = map.nx() - 1;
  const int cellsY = map.ny() - 1;
  std::vector<std::uint8_t> valid(static_cast<std::size_t>(cellsX) *
                                  static_cast<std::size_t>(cellsY));
  for (int j = 0; j < cellsY; ++j) {
    for (int i = 0; i < cellsX; ++i) {
      valid[static_cast<std::size_t>(j) * static_cast<std::size_t>(cellsX) +
            static_cast<std::size_t>(i)] = map.cellIsBlank(i, j) ? 0 : 1;
    }
  }
  return geometry::cellRegion(mapRectangle(map), map.nx(), map.ny(), valid);
}

// The region of a map with blank nodes, traced with its blank parts filled outside the region,
// cut to the map's valid area: the edge of the valid area bounds the region as the map's border
// does. False when the statement failed (cancelled, or the overlay failed).
bool cutToValidArea(S_Calculator& calc, const grid::Grid& map, geometry::Region& region) {
  if (region.empty()) return true;
  geometry::Region inside;
  switch (overlayRegions(calc, geometry::SetOperation::Intersection, region, validArea(map), 0.0,
                         inside)) {
    case geometry::SetStatus::Done:
      region = std::move(inside);
      return true;
    case geometry::SetStatus::Cancelled:
      return false;
    case geometry::SetStatus::Failed:
      calc.executionError();
      return false;
  }
  return false;
}

}  // namespace

Operand gridOutline(S_Calculator& calc, Arguments& args) {
  if (calc.failed()) return Operand();
  if (args[0].kind() == Kind::Polygon) return std::move(args[0]);
  const grid::Grid& map = *args[0].gridValue();
  geometry::Cover outline;
  outline.appendLine(geometry::latticeOutline(mapRectangle(map), map.nx(), map.ny()));
  return packCover(outline, Kind::Polygon);
}

Operand traceRegion(S_Calculator& calc, Arguments& args) {
  if (calc.failed()) return Operand();
  const grid::Grid& map = *args[0].gridValue();
  const double level = args[1].numberValue();
  const double densification = args[2].numberValue();
  // N3 is truncated: 0.7 asks for the region below the level, as 0 does.
  const bool above = std::trunc(args[3].numberValue()) != 0.0;
  // Positions count the map as argument 1; negations refuse NaN as well.
  if (!(level >= map.zmin && level <= map.zmax)) {
    calc.argumentError(ArgumentMessage::InvalidValue, 2);
    return Operand();
  }
  if (!(densification > 0.0)) {
    calc.argumentError(ArgumentMessage::InvalidValue, 3);
    return Operand();
  }
  TraceLevels levels;
  levels.lowest = level;
  levels.highest = level;
  levels.densification = densification;
  // Blank parts are traced as lying well outside the region (below the level for the region
  // above it, and the other way round), then cut away.
  const bool blanks = map.hasBlanks();
  if (blanks) {
    const double outside = map.zmax - map.zmin + 1.0;
    levels.blankFill = above ? level - outside : level + outside;
  }
  isolines::TracedLines traced;
  if (!traceMap(calc, map, levels, traced)) return Operand();
  geometry::Cover isolines;
  traced.appendTo(isolines, geometry::kOnNode);
  traced.clear();
  geometry::Region region;
  if (!geometry::closeLevelRegion(std::move(isolines), mapRectangle(map), map.stepX(), above,
                                  region)) {
    // Lines of a level inside the map's range that cannot be closed into a valid region are a
    // failure, never a map without such a region. A level at the very end of the range only
    // touches the surface, and its degenerate lines give an empty polygon.
    if (map.zmin < level && level < map.zmax) return calc.executionError();
  }
  if (blanks && !cutToValidArea(calc, map, region)) return Operand();
  return packCover(region, Kind::Polygon);
}

}  // namespace vellumar::engine::functions
