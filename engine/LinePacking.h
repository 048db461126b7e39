#pragma once

#include "engine/Operand.h"
#include "geometry/Geometry.h"

namespace vellumar::engine {

// Lines and polygons travel through expressions packed into a points table (every vertex of
// every line, line after line, each carrying its line's value) and a parts table (the vertex
// count of each line), with the lines' ids when they say which rings form one feature.

// Packs the lines of cover into an operand of kind (Polygon or Lines); with keepIds the operand
// carries their ids.
Operand packCover(const geometry::Cover& cover, Kind kind, bool keepIds = false);

// Unpacks a polygon or lines operand into cover (cleared first): line i takes the next count
// vertices, the value of its first vertex and the operand's id i, or i + 1 when the operand
// carries no ids (every line its own feature). False for another kind or an operand without
// points or lines.
bool unpackOperand(const Operand& operand, geometry::Cover& cover);

}  // namespace vellumar::engine
