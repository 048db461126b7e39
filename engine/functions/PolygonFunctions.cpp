// Polygon predicates, masks and measures. Every function with a polygon argument prepares it the
// same way (its lines, then the polygon check; message 7 when either fails) and selects points
// with the region's rectangle and the innermost-ring rule.

#include <algorithm>
#include <limits>
#include <memory>
#include <optional>
#include <vector>

#include "data/DataKernels.h"
#include "engine/Calculator.h"
#include "engine/LineOperands.h"
#include "engine/LinePacking.h"
#include "engine/functions/Functions.h"
#include "engine/functions/PolygonArguments.h"
#include "geometry/PolygonCheck.h"
#include "geometry/PolygonSelection.h"
#include "geometry/Splitting.h"
#include "grid/Grid.h"
#include "grid/NodeSelection.h"

namespace vellumar::engine::functions {

namespace {

using geometry::RectBounds;
using Flags = std::vector<std::uint8_t>;

// A "missing value" no element equals, for reductions that take every value.
constexpr double kNothingMissing = std::numeric_limits<double>::quiet_NaN();

Operand dataOperand(data::DATA points) {
  return Operand::data(std::make_shared<const data::DATA>(std::move(points)));
}

// The lines of a polygon or lines operand; message for its position when it has none.
bool linesOf(S_Calculator& calc, const Operand& x, ArgumentMessage failure,
             geometry::Cover& cover) {
  if (unpackOperand(x, cover)) return true;
  calc.argumentError(failure, x.argumentPosition());
  return false;
}

double totalLength(const geometry::Cover& cover) {
  double total = 0.0;
  for (const geometry::Line& line : cover.lines()) total += line.length();
  return total;
}

// Flags of the grid's nodes selected by the region, in node order; empty when cancelled.
std::optional<Flags> selectNodes(S_Calculator& calc, const grid::Grid& map,
                                 const geometry::Region& region, RectBounds bounds) {
  const std::vector<double> xs = grid::latticeXs(map);
  const std::vector<double> ys = grid::latticeYs(map);
  Flags selected(xs.size() * ys.size());
  const ProgressScope progress(calc, text::kSelectingByPolygon,
                               static_cast<std::int64_t>(ys.size()));
  if (!geometry::selectLattice(region, xs, ys, bounds, selected, progress.sink())) {
    return std::nullopt;
  }
  return selected;
}

// Flags of the points (xs[k], ys[k]) selected by the region; empty when cancelled.
std::optional<Flags> selectPoints(S_Calculator& calc, std::span<const double> xs,
                                  std::span<const double> ys, const geometry::Region& region,
                                  RectBounds bounds) {
  Flags selected(xs.size());
  const ProgressScope progress(calc, text::kSelectingByPolygon,
                               static_cast<std::int64_t>(xs.size()));
  const geometry::PointSelection selection(region, bounds);
  if (!selection.select(xs, ys, selected, progress.sink())) return std::nullopt;
  return selected;
}

// The data operand's rows must carry coordinates; message 8 for it otherwise.
bool hasCoordinates(S_Calculator& calc, const Operand& x) {
  if (x.points().hasCoordinates()) return true;
  calc.argumentError(ArgumentMessage::NoCoordinates, x.argumentPosition());
  return false;
}

Operand outside(S_Calculator& calc, const Operand& x) {
  calc.argumentError(ArgumentMessage::OutsidePolygonOrRectangle, x.argumentPosition());
  return Operand();
}

// The polygon's length measure of a grid, data, lines or polygon operand (Len(X, P)): the rows
// of data selected with a value, or the length of what lies inside of a grid's outline or of
// the lines.
Operand lengthInPolygon(S_Calculator& calc, const Operand& x, const geometry::Region& region) {
  geometry::Cover cover;
  switch (x.kind()) {
    case Kind::Data: {
      if (!hasCoordinates(calc, x)) return Operand();
      const auto selected =
          selectPoints(calc, x.points().x(), x.points().y(), region, RectBounds::Excluded);
      if (!selected) return Operand();
      return Operand::number(
          static_cast<double>(data::reduce(x.points(), calc.missingValue(), *selected).count));
    }
    case Kind::Grid: {
      const grid::Grid& map = *x.gridValue();
      cover.appendLine(geometry::Line({{map.left, map.bottom},
                                       {map.left, map.top},
                                       {map.right, map.top},
                                       {map.right, map.bottom},
                                       {map.left, map.bottom}}));
      break;
    }
    default:
      if (!linesOf(calc, x, ArgumentMessage::InvalidValue, cover)) return Operand();
  }
  geometry::clip(region, cover, true);
  return Operand::number(totalLength(cover));
}

// IO_P, In and Out: one row per node, data row or vertex of x with its coordinates and the flag
// 1.0 where (x, y) is selected (rectangle bounds included) when insideIsOne, else where it is not.
Operand flags(S_Calculator& calc, Arguments& args, bool insideIsOne) {
  const Operand& x = args[0];
  geometry::Region region;
  if (!polygonRegion(calc, args[1], ArgumentMessage::InvalidValue, region)) return Operand();
  auto flagOf = [insideIsOne](std::uint8_t selected) {
    return (selected != 0) == insideIsOne ? 1.0 : 0.0;
  };
  if (x.kind() == Kind::Grid) {
    const grid::Grid& map = *x.gridValue();
    const auto selected = selectNodes(calc, map, region, RectBounds::Included);
    if (!selected) return Operand();
    const std::vector<double> xs = grid::latticeXs(map);
    const std::vector<double> ys = grid::latticeYs(map);
    const std::size_t count = selected->size();
    std::vector<double> values(count), rowX(count), rowY(count);
    // Columns outer, rows inner.
    std::size_t row = 0;
    for (std::size_t i = 0; i < xs.size(); ++i) {
      for (std::size_t j = 0; j < ys.size(); ++j, ++row) {
        rowX[row] = xs[i];
        rowY[row] = ys[j];
        values[row] = flagOf((*selected)[j * xs.size() + i]);
      }
    }
    return dataOperand(data::DATA(std::move(values), std::move(rowX), std::move(rowY)));
  }
  if (x.kind() == Kind::Data) {
    if (!hasCoordinates(calc, x)) return Operand();
  } else {
    geometry::Cover cover;
    if (!linesOf(calc, x, ArgumentMessage::InvalidType, cover)) return Operand();
  }
  // Data rows and the vertices of lines alike: the points table, its coordinates shared.
  const data::DATA& points = x.points();
  const auto selected = selectPoints(calc, points.x(), points.y(), region, RectBounds::Included);
  if (!selected) return Operand();
  std::vector<double> values(selected->size());
  for (std::size_t k = 0; k < values.size(); ++k) values[k] = flagOf((*selected)[k]);
  return dataOperand(points.withValues(std::move(values)));
}

// In_P and Out_P: what of x lies inside the polygon (inside) or outside it (!inside).
Operand keep(S_Calculator& calc, Arguments& args, bool inside) {
  const Operand& x = args[0];
  geometry::Region region;
  if (!polygonRegion(calc, args[1], ArgumentMessage::InvalidValue, region)) return Operand();
  switch (x.kind()) {
    case Kind::Data: {
      if (!hasCoordinates(calc, x)) return Operand();
      const data::DATA& points = x.points();
      const auto selected =
          selectPoints(calc, points.x(), points.y(), region, RectBounds::Excluded);
      if (!selected) return Operand();
      data::DATA kept = data::keepRows(points, *selected, inside);
      if (kept.empty()) return outside(calc, x);
      return dataOperand(std::move(kept));
    }
    case Kind::Grid: {
      const grid::Grid& map = *x.gridValue();
      const auto selected = selectNodes(calc, map, region, RectBounds::Excluded);
      if (!selected) return Operand();
      return Operand::newGrid(grid::keepNodes(map, *selected, inside));
    }
    case Kind::Polygon:
      // The polygon operators' intersection and difference, with their checks and messages.
      return combinePolygons(calc, inside ? BinaryOp::Multiply : BinaryOp::Subtract, x, args[1]);
    default: {
      geometry::Cover cover;
      if (!linesOf(calc, x, ArgumentMessage::InvalidValue, cover)) return Operand();
      geometry::clip(region, cover, inside);
      return packCover(cover, Kind::Lines);
    }
  }
}

// MIN and MAX over what the polygon selects: data rows with a value, grid nodes, or whole lines
// of which at least one vertex is selected (each line once, with its value).
Operand extremum(S_Calculator& calc, Arguments& args, bool largest) {
  const Operand& x = args[0];
  geometry::Region region;
  if (!polygonRegion(calc, args[1], ArgumentMessage::InvalidValue, region)) return Operand();
  if (x.kind() == Kind::Grid) {
    // Only the nodes of the region's rectangle can take part: a district of a large map costs
    // what it covers.
    const grid::Grid& map = *x.gridValue();
    const geometry::Rect& r = region.rect();
    const grid::NodeWindow window = grid::nodesWithin(map, r.left, r.right, r.bottom, r.top);
    const std::vector<double> xs = grid::latticeXs(map);
    const std::vector<double> ys = grid::latticeYs(map);
    Flags selected(window.nodeCount());
    const ProgressScope progress(calc, text::kSelectingByPolygon, window.ny);
    if (!geometry::selectLattice(region, std::span(xs).subspan(window.i0, window.nx),
                                 std::span(ys).subspan(window.j0, window.ny), RectBounds::Excluded,
                                 selected, progress.sink())) {
      return Operand();
    }
    const grid::NodeExtremum found = grid::selectedExtremum(map, window, selected, largest);
    return found.found ? Operand::number(found.value) : outside(calc, x);
  }
  const data::DATA& points = x.points();
  const bool lines = x.isLineKind();
  if (points.empty() || (lines && x.parts().empty())) {
    calc.argumentError(ArgumentMessage::EmptyColumn, x.argumentPosition());
    return Operand();
  }
  if (!hasCoordinates(calc, x)) return Operand();
  const auto selected = selectPoints(calc, points.x(), points.y(), region, RectBounds::Excluded);
  if (!selected) return Operand();
  if (!lines) {
    const data::Reduction r = data::reduce(points, calc.missingValue(), *selected);
    if (r.count == 0) return outside(calc, x);
    return Operand::number(largest ? r.max : r.min);
  }
  // A line takes part once, with the value of its first vertex, when a vertex of it is selected.
  const std::span<const double> values = points.values();
  Flags lineSelected(values.size(), 0);
  forEachPackedPart(x, [&](PackedPart part) {
    const auto begin = selected->begin() + static_cast<std::ptrdiff_t>(part.first);
    if (std::any_of(begin, begin + static_cast<std::ptrdiff_t>(part.count),
                    [](std::uint8_t flag) { return flag != 0; })) {
      lineSelected[part.first] = 1;
    }
  });
  // Line values are taken as they are, the missing value included.
  const data::Reduction r = data::reduce(points, kNothingMissing, lineSelected);
  if (r.count == 0) return outside(calc, x);
  return Operand::number(largest ? r.max : r.min);
}

}  // namespace

Operand area(S_Calculator& calc, Arguments& args) {
  const Operand& x = args[0];
  if (x.kind() == Kind::Grid) {
    const grid::Grid& map = *x.gridValue();
    return Operand::number((map.right - map.left) * (map.top - map.bottom));
  }
  geometry::Region region;
  if (!polygonRegion(calc, x, ArgumentMessage::InvalidValue, region)) return Operand();
  // Outer boundaries run clockwise (negative area) and holes counter-clockwise.
  double total = 0.0;
  for (const geometry::Line& ring : region.lines()) total -= ring.signedArea();
  return Operand::number(total);
}

Operand length(S_Calculator& calc, Arguments& args) {
  const Operand& x = args[0];
  if (args.size() == 2) {
    geometry::Region region;
    if (!polygonRegion(calc, args[1], ArgumentMessage::InvalidValue, region)) return Operand();
    return lengthInPolygon(calc, x, region);
  }
  switch (x.kind()) {
    case Kind::Grid: {
      const grid::Grid& map = *x.gridValue();
      return Operand::number(2.0 * ((map.right - map.left) + (map.top - map.bottom)));
    }
    case Kind::Data:
      return Operand::number(
          static_cast<double>(data::reduce(x.points(), calc.missingValue()).count));
    default: {
      geometry::Cover cover;
      if (!linesOf(calc, x, ArgumentMessage::InvalidValue, cover)) return Operand();
      return Operand::number(totalLength(cover));
    }
  }
}

template <bool insideIsOne>
Operand insideFlags(S_Calculator& calc, Arguments& args) {
  return flags(calc, args, insideIsOne);
}

template <bool inside>
Operand keepPart(S_Calculator& calc, Arguments& args) {
  return keep(calc, args, inside);
}

template <bool largest>
Operand extremumInPolygon(S_Calculator& calc, Arguments& args) {
  return extremum(calc, args, largest);
}

template Operand insideFlags<true>(S_Calculator&, Arguments&);
template Operand insideFlags<false>(S_Calculator&, Arguments&);
template Operand keepPart<true>(S_Calculator&, Arguments&);
template Operand keepPart<false>(S_Calculator&, Arguments&);
template Operand extremumInPolygon<true>(S_Calculator&, Arguments&);
template Operand extremumInPolygon<false>(S_Calculator&, Arguments&);

Operand sumInPolygon(S_Calculator& calc, Arguments& args) {
  const Operand& x = args[0];
  geometry::Region region;
  if (!polygonRegion(calc, args[1], ArgumentMessage::InvalidValue, region)) return Operand();
  const data::DATA& points = x.points();
  if (points.empty()) return Operand::number(0.0);
  if (!hasCoordinates(calc, x)) return Operand();
  const auto selected = selectPoints(calc, points.x(), points.y(), region, RectBounds::Excluded);
  if (!selected) return Operand();
  return Operand::number(data::reduce(points, calc.missingValue(), *selected).sum);
}

Operand pointsToData(S_Calculator& calc, Arguments& args) {
  const Operand& x = args[0];
  if (x.kind() == Kind::Number || x.kind() == Kind::Grid) {
    calc.argumentError(ArgumentMessage::NoCoordinates, x.argumentPosition());
    return Operand();
  }
  // The points table: data as it is, every vertex of lines with the value of its line.
  return Operand::data(x.sharedPoints());
}

}  // namespace vellumar::engine::functions
