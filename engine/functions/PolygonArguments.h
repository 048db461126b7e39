#pragma once

#include <cstdint>

#include "common/ErrorSink.h"
#include "common/Language.h"
#include "engine/Calculator.h"
#include "engine/ProgressScope.h"
#include "geometry/Geometry.h"
#include "geometry/SetOperations.h"
#include "grid/Grid.h"

namespace vellumar::engine::functions {

// Shared steps of the functions with a polygon argument.

// The rectangle of a map.
geometry::Rect mapRectangle(const grid::Grid& map);

// The region of a polygon operand: its rings, then the polygon check. Records failure for the
// operand's position and returns false when the rings cannot be read or fail the check.
bool polygonRegion(S_Calculator& calc, const Operand& polygon, ArgumentMessage failure,
                   geometry::Region& region);

// a op b into result with the given length tolerance. The overlay has no measure of its progress:
// the window shows that it is busy and its cancel reaches the overlay.
geometry::SetStatus overlayRegions(S_Calculator& calc, geometry::SetOperation operation,
                                   const geometry::Region& a, const geometry::Region& b,
                                   double tolerance, geometry::Region& result);

}  // namespace vellumar::engine::functions
