#pragma once

#include <optional>

#include "common/ErrorSink.h"
#include "common/Language.h"
#include "geometry/Geometry.h"
#include "grid/Grid.h"
#include "isolines/TracedLines.h"

namespace vellumar::isolines {

// Outcome of the tracing driver.
enum class [[nodiscard]] TraceStatus{
    Done,
    NoValues,         // the map has neither node values nor surface coefficients
    EmptyRectangle,   // xmin >= xmax or ymin >= ymax (after clipping)
    LatticeTooSmall,  // fewer than 3 lattice nodes in a direction
    Flat,             // all lattice values are equal
    Failed,           // resampling or tracing failed, or the user cancelled
};

// What to trace: the levels (lowest, highest, step; see S_IsolineComputer), the lattice step as
// the cell-size parameter (the step times 1000000), an optional clip rectangle whose intersection
// with the map's rectangle is traced, and whether progress is shown through the sink's hook
// (which then may cancel the trace) with captions in the given language.
struct TraceRequest {
  double lowest = 0.0;
  double highest = 0.0;
  double step = 0.0;
  double cellSize = 0.0;
  std::optional<geometry::Rect> clip;
  // When set, lattice nodes where the surface is blank take this value and are traced like the
  // others, so that lines run on into blank areas instead of ending at their edge (grid to polygon
  // closes a region there and cuts it to the valid area afterwards).
  std::optional<double> blankFill;
  bool progress = false;
  Language language = Language::Russian;
};

// The cell-size parameter for densification n: the finer of the map's two node steps
// (hx when hy > hx, else hy; a step is 0 for an axis of fewer than 2 nodes) times 1000000 / n.
double cellSizeParameter(const grid::Grid& map, double densification);

// The square tracing lattice over a rectangle: nx x ny nodes at step h along X, or
// TraceStatus::LatticeTooSmall when no lattice can be made. A lattice too large for the memory the
// program may use (or for the tracer's counts) throws std::bad_alloc.
struct LatticePlan {
  TraceStatus status = TraceStatus::Done;
  int nx = 0;
  int ny = 0;
  double h = 0.0;
};
LatticePlan planLattice(double left, double right, double bottom, double top, double cellSize);

// The tracing driver: resamples the map's surface (in its interpolation mode) onto the tracing
// lattice and traces the isolines of the lattice into output, which is emptied first. When the
// lattice is the map's own (same nodes, nothing clipped), the surface passes through the nodes and
// they are traced as they are, without a copy. Returns a
// TraceStatus; only TraceStatus::Done leaves lines in output. progress (may be null) receives the
// progress when the request asks for it and records the cancel. The lattice is released before
// the function returns, so the caller holds only the traced points.
TraceStatus trace(TracedLines& output, const grid::Grid& map, const TraceRequest& request,
                  ErrorSink* progress);
// The same, with the pieces as lines of a cover (emptied first).
TraceStatus trace(geometry::Cover& output, const grid::Grid& map, const TraceRequest& request,
                  ErrorSink* progress);

}  // namespace vellumar::isolines
