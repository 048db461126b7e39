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

// The region of a polygon operand: its rings, then the polygon check of a layer, whose records
// may share borders (geometry::buildLayerRegion). Records failure for the operand's position and
// returns false when the rings cannot be read or fail the check; when two records overlap, the
// error's detail names them.
bool polygonRegion(S_Calculator& calc, const Operand& polygon, ArgumentMessage failure,
                   geometry::Region& region);
// The same for rings already unpacked, of the argument at position.
bool layerRegion(S_Calculator& calc, const geometry::Cover& cover, std::uint32_t position,
                 ArgumentMessage failure, geometry::Region& region);

// a op b into result with the given length tolerance. The overlay has no measure of its progress:
// the window shows that it is busy and its cancel reaches the overlay.
geometry::SetStatus overlayRegions(S_Calculator& calc, geometry::SetOperation operation,
                                   const geometry::Region& a, const geometry::Region& b,
                                   double tolerance, geometry::Region& result);

}  // namespace vellumar::engine::functions
