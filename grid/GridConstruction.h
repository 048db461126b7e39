#pragma once

#include <cstdint>
#include <optional>

#include "common/ErrorSink.h"
#include "grid/Grid.h"
#include "grid/Lattice.h"

namespace vellumar::grid {

// Making grids from a rectangle and steps or from a prototype, and changing a grid's lattice or
// extent. Operands are never changed; every result is a new grid with an empty name, in spline
// mode unless stated otherwise. Failures the user must see record code 203 on the sink and return
// a grid without nodes; constructions that cannot be made at all return nullopt. Cut and Merge
// report their rows through the sink's progress and stop, with a grid without nodes, on cancel.

// The lattice of a rectangle and steps: nx = trunc((xMax - xMin)/hx + 0.5) + 1 (ny likewise),
// the rectangle rounded to whole steps from (xMin, yMin). All nodes 0. Nullopt when the lattice
// would be empty, not finite or too large.
std::optional<Grid> latticeFromSteps(double xMin, double xMax, double yMin, double yMax, double hx,
                                     double hy);

// Every node 1, z-range (1, 1); the prototype's lattice, rectangle and mode.
Grid onesLike(const Grid& shape);

enum class Axis { X, Y };
// Node (i, j) holds i*step + left (X) or j*step + bottom (Y); z-range the rectangle's extent
// along that axis. step is the step the caller's lattice was built with.
Grid coordinateGrid(const Grid& shape, Axis axis, double step);

// ---- random grids ----

// Laws of RG by number: 1 uniform, 2 normal, 3 lognormal, 4 exponential, 5 Weibull, 6 Rayleigh,
// 7 Pareto, 8 triangular (minimum a, maximum b, mode c).
enum class RandomParameter { None, Law, A, B, C };
// The random laws RG draws from: 1 ... kRandomLawCount.
inline constexpr double kRandomLawCount = 8.0;
// The first parameter that violates the law's conditions, checked in the documented order (law
// number in 1 ... 8 first); None when the call is acceptable.
RandomParameter invalidRandomParameter(double law, double a, double b, double c);

// A grid of the shape's lattice and rectangle whose nodes are draws of the law (integer part of
// law), filled column by column. Draws come from a Mersenne Twister seeded with seed, reduced to
// integers 0 ... 32767 (its top 15 bits) and scaled to u = r/32767 in [0, 1]; the same seed gives
// the same grid. z-range: smallest and largest draw.
Grid randomGrid(const Grid& shape, double law, double a, double b, double c, std::uint32_t seed);

// ---- changing the lattice or extent ----

// The lattice refined or coarsened by factor (> 0): nx' = trunc(nx*factor - (factor - 1)), ny'
// likewise, resampled through the grid's surface (blank where it is blank); unchanged counts give
// a copy. Nullopt when the
// new lattice has no nodes or is too large. progress (may be null) hears of the spline solve and
// the rows resampled; a cancel gives a grid without nodes.
std::optional<Grid> dense(const Grid& grid, double factor, ErrorSink* progress = nullptr);
// The lattice dense() gives the grid of that lattice: the same rectangle with the new counts;
// nullopt when it has no nodes or is too large.
std::optional<Lattice> denseLattice(const Lattice& lattice, double factor);

// The nodes n_min ... n_max by m_min ... m_max (numbers from 1, truncated; the upper ends capped
// at nx, ny). Fewer than two nodes along an axis or a start outside the grid: code 203.
Grid cutByNodes(const Grid& grid, double nMin, double nMax, double mMin, double mMax,
                ErrorSink& sink);

// The nodes covering the rectangle clipped to the grid: index 0 widens it to the nearest outer
// nodes, any other index narrows it to the nearest inner ones. A rectangle that misses the grid or
// selects fewer than two nodes along an axis: code 203.
Grid cutByCoordinates(const Grid& grid, double xMin, double xMax, double yMin, double yMax,
                      double index, ErrorSink& sink);

// The nodes cutByNodes and cutByCoordinates keep of a grid of the lattice; nullopt where they
// record code 203.
std::optional<NodeWindow> cutWindowByNodes(const Lattice& lattice, double nMin, double nMax,
                                           double mMin, double mMax);
std::optional<NodeWindow> cutWindowByCoordinates(const Lattice& lattice, double xMin, double xMax,
                                                 double yMin, double yMax, double index);
// The lattice of a cut: the window's nodes, its extents counted in whole steps from the lattice's
// lower left node, as the cut grid's.
Lattice cutLattice(const Lattice& lattice, const NodeWindow& window);

// The union of two maps. Equal rectangles: the node-wise mean on the finer counts (bilinear when
// either grid is). Different rectangles: a lattice over the union with the finer steps, aligned to
// the finer grid along each axis; a node inside both rectangles takes the mean of the surfaces,
// inside one that surface, inside neither fill; z-range over the covered nodes. A blank surface
// value gives a blank node (in the overlap, when either surface is blank). A node within
// rounding (1e-9 step) of a rectangle's edge counts as on it. A grid without nodes gives a grid
// without nodes; grids with a single node along an axis, or a union lattice too large to hold,
// record code 203.
Grid merge(const Grid& first, const Grid& second, double fill, ErrorSink& sink);

}  // namespace vellumar::grid
