#pragma once

#include "common/ErrorSink.h"
#include "geometry/Geometry.h"

namespace vellumar::geometry {

// The three polygon set operations of the operators + (union), * (intersection) and - (first
// minus second).
enum class SetOperation { Union = 1, Intersection = 2, Difference = 3 };

// Outcome of a set operation.
enum class [[nodiscard]] SetStatus{
    Done,       // result holds the region (possibly empty)
    Cancelled,  // the user cancelled through the sink's progress hook; result is empty
    Failed,     // the overlay failed or its result is not a valid region; result is empty
};

// Computes a op b into result (emptied first). a and b are regions (they passed the polygon
// check). Trivial operands are answered without computation: A u {} = A, {} u B = B, A - {} = A,
// {} - B = {}, A * {} = {}.
//
// Before the overlay, b's vertices are snapped onto a's vertices and edges that lie within
// tolerance (map units), and a's vertices within tolerance of b's edges become vertices of b, so
// boundaries within the tolerance become one shared boundary (b follows a); a tolerance of 0 snaps
// nothing. A ring of b that snapping collapses is left out.
//
// The result is a region: closed rings, outer boundaries clockwise and holes counter-clockwise,
// sorted by |signed area| from largest to smallest, every mark 0, rectangles computed. Each ring
// carries the id and value of the operand ring that its first edge lies on.
//
// progress (may be null) is polled for cancel while the overlay runs; a cancel reaches the
// overlay only while the sink's progress is open (ErrorSink::progressStart). A sink that already
// holds an error stops the operation before it starts (Cancelled when the error is the cancel).
SetStatus combineRegions(SetOperation operation, const Region& a, const Region& b, double tolerance,
                         Region& result, ErrorSink* progress = nullptr);

// Gives every ring of result the id and value of the operand ring its first edge lies on: the
// nearest segment within epsilon of the edge's middle, a's before b's (a shared boundary is a's).
void assignRingAttributes(Region& result, const Cover& a, const Cover& b, double epsilon);

}  // namespace vellumar::geometry
