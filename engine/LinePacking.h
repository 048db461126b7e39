#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>

#include "engine/Operand.h"
#include "geometry/Geometry.h"

namespace vellumar::engine {

// Lines and polygons travel through expressions packed into a points table (every vertex of
// every line, line after line, each carrying its line's value) and a parts table (the vertex
// count of each line), with the lines' ids when they say which rings form one feature.

// One line of a packed operand: rows first .. first + count - 1 of its points table.
struct PackedPart {
  std::size_t first = 0;
  std::size_t count = 0;
};

// Calls visit(part) for every line of a polygon or lines operand, in order. A count that is
// negative or runs past the points table is cut to the rows that are there, so a walk never reads
// outside the table (a line past its end has no rows). True when every count fitted.
template <typename Visit>
bool forEachPackedPart(const Operand& operand, Visit&& visit) {
  const std::size_t rows = operand.points().count();
  std::size_t first = 0;
  bool fitted = true;
  for (const std::int32_t count : operand.parts()) {
    std::size_t taken = count > 0 ? static_cast<std::size_t>(count) : 0;
    if (count < 0 || taken > rows - first) {
      fitted = false;
      taken = std::min(taken, rows - first);
    }
    visit(PackedPart{first, taken});
    first += taken;
  }
  return fitted;
}

// Packs the lines of cover into an operand of kind (Polygon or Lines); with keepIds the operand
// carries their ids.
Operand packCover(const geometry::Cover& cover, Kind kind, bool keepIds = false);

// Whether the lines of an operand can be read: a polygon or lines operand with lines, whose
// points table has coordinates and holds the points that every line's count claims.
bool holdsPackedLines(const Operand& operand);

// Unpacks a polygon or lines operand into cover (cleared first): line i takes the next count
// vertices, the value of its first vertex and the operand's id i, or i + 1 when the operand
// carries no ids (every line its own feature). False for another kind or an operand without
// points or lines.
bool unpackOperand(const Operand& operand, geometry::Cover& cover);

}  // namespace vellumar::engine
