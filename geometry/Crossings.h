#pragma once

#include <vector>

#include "geometry/Geometry.h"

namespace vellumar::geometry {

// The outcome of intersecting two segments. point carries mark 0 when it lies strictly inside the
// shorter segment (measured by |dx| + |dy|), mark 1 when it was placed exactly on one of that
// segment's ends. interior is set when the crossing lies strictly inside both segments.
struct SegmentCrossing {
  bool found = false;
  Point point;
  bool interior = false;
};

// Intersection of segment p1-p2 with segment p3-p4. Segments whose bounding boxes do not overlap
// (touching boxes overlap) and segments parallel to within |cross / dot| < 1e-12 (or of zero
// length) do not intersect; otherwise they intersect when both parameters lie in [0, 1]. The point
// is computed along the shorter segment, so a crossing at its end is that end exactly.
SegmentCrossing intersectSegments(const Point& p1, const Point& p2, const Point& p3,
                                  const Point& p4);

// Rounds a coordinate to the snap step s (s != 0): trunc((c - trunc(c)) / s + 0.5) * s + trunc(c).
double snapToStep(double c, double step);

// Crossings between every segment of first and every segment of second, through an n x n grid of
// cells (n = max(1, floor(sqrt(points of second) / 5 + 0.5))) over the union of both rectangles
// widened on every side by a tenth of its smaller side. Each crossing is reported once on each
// side: onFirst holds it with the line and segment of first, onSecond with those of second. Both
// arrays are sorted for splitting (see sortCrossings).
void findCrossings(const Cover& first, const Cover& second, std::vector<CrPoint>& onFirst,
                   std::vector<CrPoint>& onSecond);

// Crossings between the rings of one cover, rounded to cover.snapStep when it is non-zero, through
// the same grid over the cover's own rectangle. Each crossing is reported twice, once for each of
// the two segments it lies on, and the array is sorted for splitting.
//
// Segments of different lines cross whenever intersectSegments finds a point, touching included.
// Within one line, neighbouring segments (and the first and last segments of a closed line) always
// share a vertex and are never compared; other segments of the same line count only when they
// cross strictly inside both, so a line that touches itself at a vertex is not a crossing while a
// figure eight is.
std::vector<CrPoint> findSelfCrossings(const Cover& cover);

// True when findSelfCrossings would report anything; stops at the first crossing.
bool hasSelfCrossing(const Cover& cover);

// True when the lines of a cover cross or overlap, the rule of the polygon check. Within one line
// the rule of findSelfCrossings holds (only crossings strictly inside two segments count).
// Different lines may touch at isolated points (a corner on a corner, a corner on an edge) when
// each stays on its side of the other there; they fail when they cross, at a vertex or not, or
// leave a touching point in the same direction, that is, share a stretch of boundary. A vertex
// within contactTolerance of another line touches it, and directions whose tips
// lie that close to each other's lines are the same, so a stretch shared up to rounding is shared.
bool linesCrossOrOverlap(const Cover& cover);

// The distance below which linesCrossOrOverlap takes points within r for one: a billionth of the
// coordinates' magnitude.
double contactTolerance(const Rect& r);

// Orders crossing points by line index, then segment index, then distance from the segment's
// first point, the order in which lines are split at them (from the last to the first).
void sortCrossings(std::vector<CrPoint>& crossings, const Cover& cover);

}  // namespace vellumar::geometry
