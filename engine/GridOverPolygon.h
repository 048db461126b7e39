#pragma once

#include <optional>

#include "engine/Calculator.h"
#include "engine/Operand.h"
#include "grid/Grid.h"
#include "grid/Lattice.h"

namespace vellumar::engine {

// Integral(G, P) and Mean(G, P) over the part of a polygon within a block of the map's lattice.
// The functions take the map's whole lattice; a run by tiles takes each tile's cells, and the
// tiles' shares add up to the whole. Failures are recorded on the calculator with the messages of
// the functions (the context name is the caller's to set).

// The integral of the map's surface over the part of the polygon within clip, as a number; the
// empty value on failure.
Operand integralWithin(S_Calculator& calc, const grid::Grid& map, const Operand& polygon,
                       const grid::Lattice& clip);

// What Mean divides: the integral of the surface over the part of the polygon within clip where
// the surface has values, and that part's area; both 0 when there is no such part.
struct PolygonSums {
  double integral = 0.0;
  double area = 0.0;
};
std::optional<PolygonSums> valuedSumsWithin(S_Calculator& calc, const grid::Grid& map,
                                            const Operand& polygon, const grid::Lattice& clip);

}  // namespace vellumar::engine
