#include <cmath>
#include <utility>

#include "engine/Calculator.h"
#include "engine/LinePacking.h"
#include "engine/functions/Functions.h"
#include "geometry/GridOutline.h"
#include "geometry/LevelRegion.h"
#include "grid/Grid.h"
#include "isolines/TracedLines.h"

namespace vellumar::engine::functions {

namespace {

geometry::Rect rectangleOf(const grid::Grid& map) {
  geometry::Rect rect;
  rect.defined = true;
  rect.left = map.left;
  rect.right = map.right;
  rect.bottom = map.bottom;
  rect.top = map.top;
  return rect;
}

}  // namespace

Operand gridOutline(S_Calculator& calc, Arguments& args) {
  if (calc.failed()) return Operand();
  if (args[0].kind() == Kind::Polygon) return std::move(args[0]);
  const grid::Grid& map = *args[0].gridValue();
  geometry::Cover outline;
  outline.appendLine(geometry::latticeOutline(rectangleOf(map), map.nx(), map.ny()));
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
  isolines::TracedLines traced;
  if (!traceMap(calc, map, levels, traced)) return Operand();
  geometry::Cover isolines;
  traced.appendTo(isolines);
  traced.clear();
  geometry::Region region;
  if (!geometry::closeLevelRegion(std::move(isolines), rectangleOf(map), map.stepX(), above,
                                  region)) {
    // Lines of a level inside the map's range that cannot be closed into a valid region are a
    // failure, never a map without such a region. A level at the very end of the range only
    // touches the surface, and its degenerate lines give an empty polygon.
    if (map.zmin < level && level < map.zmax) return calc.executionError();
  }
  return packCover(region, Kind::Polygon);
}

}  // namespace vellumar::engine::functions
