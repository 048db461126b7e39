#pragma once

#include <optional>
#include <span>

#include "engine/Calculator.h"
#include "engine/Operand.h"
#include "grid/Grid.h"

namespace vellumar::engine {

// The operands of one operation must lie in one coordinate system: combining metres with degrees
// is a wrong result, not a result. Grids carry the system of their raster, lines, polygons and
// data that of their layer; an operand without one (a DSAA grid, a text file) goes with any.
// Results keep the georeference of the first grid operand that has one, else the system of the
// first operand that has one.

// The operands of one operation, by address, so that none is copied (a copy would keep a
// kernel from taking a temporary grid over).
using OperandRefs = std::span<const Operand* const>;

// Whether the operands share one coordinate system (compared by GDAL); when they do not, records
// "системы координат гридов различны" (two grids) or "системы координат операндов различны"
// under the running operation's name.
bool checkCoordinateSystems(S_Calculator& calc, OperandRefs operands);

// Whether an operand lies in a geographic coordinate system, whose coordinates are degrees.
bool inDegrees(OperandRefs operands);

// The georeference a result of the operands keeps: that of the first grid among them with a
// coordinate system, else the system of the first operand with one; none when no operand has one.
std::optional<grid::Georeference> resultGeoreference(OperandRefs operands);

// Gives a result without a coordinate system of its own the georeference of its operands.
void carryGeoreference(Operand& result, const std::optional<grid::Georeference>& georeference);

}  // namespace vellumar::engine
