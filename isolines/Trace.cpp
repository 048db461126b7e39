#include "isolines/Trace.h"

#include <algorithm>
#include <cmath>
#include <new>
#include <string_view>
#include <vector>

#include "common/Memory.h"
#include "grid/Blank.h"
#include "grid/Lattice.h"
#include "grid/Surface.h"
#include "isolines/IsolineComputer.h"
#include "isolines/IsolineMessages.h"

namespace vellumar::isolines {

namespace {

// Lattice counts stay within signed 32-bit edge indices.
constexpr double kMostNodesPerAxis = 2147483647.0;
constexpr double kMostEdges = 2147483646.0;

// Coordinates of count lattice nodes from low to high: (1 - t) * low + t * high, t = i / (count -
// 1), kept within [low, high]. Unlike a grid's node positions (grid::nodeCoordinates, low + i * h),
// this form is exact at both ends whatever the rounding of h: the lattice spans the clipped
// rectangle, so its first and last rows and columns sample the surface on the clip edges
// themselves, and the lattice is the same traced from either end. The crossings are placed at
// low + i * h (the lattice map's own node positions), which differ from these by rounding only.
std::vector<double> latticeCoordinates(double low, double high, int count) {
  std::vector<double> coordinates(static_cast<std::size_t>(count));
  for (int i = 0; i < count; ++i) {
    const double t = static_cast<double>(i) / (count - 1);
    coordinates[i] = std::clamp((1.0 - t) * low + t * high, low, high);
  }
  return coordinates;
}

// Surface values of the map at the lattice nodes, row by row from the bottom; false when the user
// cancelled.
bool resample(const grid::Grid& map, std::span<const double> xs, std::span<const double> ys,
              grid::NodeVector& values, ErrorSink* progress) {
  grid::SurfaceSampler sampler(map, xs);
  ProgressPacer pacer = ProgressPacer::part(progress, 0, 1, 1);  // the nodes sampled
  for (std::size_t r = 0; r < ys.size(); ++r) {
    sampler.sampleRow(ys[r], values.data() + r * xs.size());
    if (!pacer.advance(static_cast<std::int64_t>((r + 1) * xs.size()))) return false;
  }
  return true;
}

// The map's node position along one axis (nodes at position(k), k < count, step apart from low)
// for a coordinate within rounding of it, else the coordinate: lattice coordinates come from
// another formula than the map's and may miss a node by an ulp.
template <typename Position>
double ontoNode(double v, double low, double step, int count, Position position) {
  if (!(step > 0.0)) return v;
  const double k = std::round((v - low) / step);
  if (k < 0.0 || k > count - 1 || std::abs((v - low) / step - k) > 1e-9) return v;
  return position(static_cast<int>(k));
}

// Gives the blank lattice nodes the fill value. A node within rounding of the edge of a valid
// cell is read again on that edge, where the surface has a value: otherwise rounding would put
// the fill into valid cells next to a blank area.
void fillBlanks(const grid::Grid& map, std::span<const double> xs, std::span<const double> ys,
                double fill, grid::NodeVector& values) {
  for (std::size_t r = 0; r < ys.size(); ++r) {
    for (std::size_t k = 0; k < xs.size(); ++k) {
      double& v = values[r * xs.size() + k];
      if (!grid::isBlank(v)) continue;
      v = map.value(
          ontoNode(xs[k], map.left, map.stepX(), map.nx(), [&](int i) { return map.nodeX(i); }),
          ontoNode(ys[r], map.bottom, map.stepY(), map.ny(), [&](int j) { return map.nodeY(j); }));
      if (grid::isBlank(v)) v = fill;
    }
  }
}

// A copy of the map whose blank nodes hold fill.
grid::Grid withBlanksFilled(const grid::Grid& map, double fill) {
  const auto nodes = map.nodes();
  grid::NodeVector values(nodes.begin(), nodes.end());
  for (double& v : values) {
    if (grid::isBlank(v)) v = fill;
  }
  // The valid nodes' range, widened by the fill the blanks now hold: no scan needed.
  const grid::Range range{std::min(map.zmin, fill), std::max(map.zmax, fill)};
  return grid::Lattice::of(map).holding(std::move(values), range, map.georeference,
                                        grid::Interpolation::Spline);
}

// Traces the isolines of the lattice's nodes: TraceStatus::Flat when they are all equal (blank
// nodes left out; all blank is flat too).
TraceStatus traceLattice(TracedLines& output, const grid::Grid& lattice,
                         const TraceRequest& request, ErrorSink* shown, std::string_view caption) {
  const grid::Range range = grid::rangeOf(lattice.nodes());
  if (!(range.min < range.max)) return TraceStatus::Flat;
  S_IsolineComputer computer(output, shown, caption);
  const bool traced =
      computer.traceLevels(lattice, request.lowest, request.highest, request.step, 1);
  return traced ? TraceStatus::Done : TraceStatus::Failed;
}

}  // namespace

double cellSizeParameter(const grid::Grid& map, double densification) {
  const double hx = map.stepX();
  const double hy = map.stepY();
  const double finer = hy > hx ? hx : hy;
  return finer * 1000000.0 / densification;
}

LatticePlan planLattice(double left, double right, double bottom, double top, double cellSize) {
  LatticePlan plan;
  const double h = cellSize / 1000000.0;
  const double columns = std::trunc((right - left) / h + 0.5) + 1.0;
  const double rows = std::trunc((top - bottom) / h + 0.5) + 1.0;
  if (!(h > 0.0) || !(columns >= 3.0) || !(rows >= 3.0)) {
    plan.status = TraceStatus::LatticeTooSmall;
    return plan;
  }
  const double edges = (columns - 1.0) * rows + columns * (rows - 1.0);
  const double bytes = (columns * rows + edges + 1.0) * 8.0;
  // The limit the rest of the program honours (control group, VELLUMAR_MEMORY_LIMIT).
  const auto memory = static_cast<double>(memory::usableBytes());
  if (!(columns <= kMostNodesPerAxis && rows <= kMostNodesPerAxis && edges <= kMostEdges) ||
      !(columns * rows <= grid::mostNodes()) || (memory > 0.0 && bytes > memory)) {
    throw std::bad_alloc();
  }
  plan.nx = static_cast<int>(columns);
  plan.ny = static_cast<int>(rows);
  plan.h = (right - left) / (plan.nx - 1);
  return plan;
}

namespace {

// The rectangle traced: the map's, cut to the request's clip rectangle when it has one.
struct Extent {
  double left, right, bottom, top;
};

Extent tracedExtent(const grid::Grid& map, const TraceRequest& request) {
  Extent e{map.left, map.right, map.bottom, map.top};
  if (request.clip) {
    e.left = std::max(e.left, request.clip->left);
    e.right = std::min(e.right, request.clip->right);
    e.bottom = std::max(e.bottom, request.clip->bottom);
    e.top = std::min(e.top, request.clip->top);
  }
  return e;
}

// A lattice that is the map's own (the finer node step, nothing clipped away) holds exactly the
// map's nodes, through which the surface passes: those are traced in place instead of
// resampled, or copied with their blanks filled when the request fills them.
bool isMapLattice(const grid::Grid& map, const LatticePlan& plan, const Extent& e) {
  return plan.nx == map.nx() && plan.ny == map.ny() && e.left == map.left && e.right == map.right &&
         e.bottom == map.bottom && e.top == map.top && map.hasNodes();
}

// Traces the map's own nodes, after one progress step for their preparation.
TraceStatus traceMapLattice(TracedLines& output, const grid::Grid& map, const TraceRequest& request,
                            ErrorSink* shown) {
  const std::string_view tracing = text::kTracingIsolines.in(request.language);
  const auto count = static_cast<std::int64_t>(map.nodeCount());
  if (shown != nullptr) shown->progressStart(text::kPreparingData.in(request.language), count);
  const bool prepared = shown == nullptr || shown->progressStep(count);
  if (shown != nullptr) shown->progressClose();
  if (!prepared) return TraceStatus::Failed;
  if (!request.blankFill || !map.hasBlanks()) {
    return traceLattice(output, map, request, shown, tracing);
  }
  return traceLattice(output, withBlanksFilled(map, *request.blankFill), request, shown, tracing);
}

// Resamples the surface onto the planned lattice over the extent (filling blanks when the
// request asks) and traces that.
TraceStatus traceResampled(TracedLines& output, const grid::Grid& map, const TraceRequest& request,
                           const LatticePlan& plan, const Extent& e, ErrorSink* shown) {
  grid::NodeVector values(static_cast<std::size_t>(plan.nx) * static_cast<std::size_t>(plan.ny));
  if (shown != nullptr) {
    shown->progressStart(text::kPreparingData.in(request.language),
                         static_cast<std::int64_t>(values.size()));
  }
  const std::vector<double> xs = latticeCoordinates(e.left, e.right, plan.nx);
  const std::vector<double> ys = latticeCoordinates(e.bottom, e.top, plan.ny);
  const bool sampled = resample(map, xs, ys, values, shown);
  if (shown != nullptr) shown->progressClose();
  if (!sampled) return TraceStatus::Failed;
  if (request.blankFill) fillBlanks(map, xs, ys, *request.blankFill, values);

  const grid::Grid lattice =
      grid::Lattice{plan.nx, plan.ny, e.left, e.right, e.bottom, e.top}.holding(
          std::move(values), {}, grid::Interpolation::Spline);
  return traceLattice(output, lattice, request, shown, text::kTracingIsolines.in(request.language));
}

}  // namespace

TraceStatus trace(TracedLines& output, const grid::Grid& map, const TraceRequest& request,
                  ErrorSink* progress) {
  output.clear();
  if (!map.hasNodes() && !map.hasCoefficients()) return TraceStatus::NoValues;
  const Extent extent = tracedExtent(map, request);
  if (!(extent.left < extent.right) || !(extent.bottom < extent.top)) {
    return TraceStatus::EmptyRectangle;
  }
  // A map of equal nodes (blanks aside) has a flat surface; its spline only wobbles by rounding,
  // which must not turn into isolines.
  if (map.hasNodes()) {
    const grid::Range range = grid::rangeOf(map.nodes());
    if (!(range.min < range.max)) return TraceStatus::Flat;
  }
  const LatticePlan plan =
      planLattice(extent.left, extent.right, extent.bottom, extent.top, request.cellSize);
  if (plan.status != TraceStatus::Done) return plan.status;
  ErrorSink* shown = request.progress ? progress : nullptr;
  if (isMapLattice(map, plan, extent)) return traceMapLattice(output, map, request, shown);
  return traceResampled(output, map, request, plan, extent, shown);
}

TraceStatus trace(geometry::Cover& output, const grid::Grid& map, const TraceRequest& request,
                  ErrorSink* progress) {
  output.clear();
  TracedLines lines;
  const auto status = trace(lines, map, request, progress);
  lines.appendTo(output);
  return status;
}

}  // namespace vellumar::isolines
