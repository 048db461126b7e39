#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <random>
#include <string>
#include <tuple>
#include <vector>

#include "GridTestSupport.h"
#include "common/ErrorSink.h"
#include "grid/Derivatives.h"
#include "grid/GridArithmetic.h"
#include "grid/GridConstruction.h"
#include "grid/Sampling.h"
#include "grid/Surface.h"

namespace vellumar::grid {
namespace {

using testing::countsOf, testing::forEachNode, testing::makeGrid, testing::nodesOf, testing::wavy,
    testing::zRangeOf;
using ::testing::DoubleNear, ::testing::Each, ::testing::Pointwise;
using V = std::vector<double>;

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

// Where the blanks of a test grid lie.
enum class Pattern { Corners, Edges, Interior, Isolated, Checkerboard };
constexpr Pattern kPatterns[] = {Pattern::Corners, Pattern::Edges, Pattern::Interior,
                                 Pattern::Isolated, Pattern::Checkerboard};
const std::string kPatternNames[] = {"corners", "edges", "interior", "isolated", "checkerboard"};

bool inPattern(Pattern pattern, int i, int j, int nx, int ny) {
  switch (pattern) {
    case Pattern::Corners:  // a 2 x 2 block in the lower-left corner, one node in the upper-right
      return (i < 2 && j < 2) || (i == nx - 1 && j == ny - 1);
    case Pattern::Edges:  // part of the left column and of the top row
      return (i == 0 && j >= 2 && j <= 4) || (j == ny - 1 && i >= 3);
    case Pattern::Interior:  // an irregular hole
      return (i >= 3 && i <= 5 && j >= 2 && j <= 3) || (i == 4 && j == 4);
    case Pattern::Isolated:  // one node with valid nodes all around
      return i == 4 && j == 3;
    case Pattern::Checkerboard:
      return (i + j) % 2 == 0;
  }
  return false;
}

// The grid with the pattern's nodes blanked, in the three ways a blank arrives: the blanking
// value, a larger value, NaN.
Grid blanked(Grid grid, Pattern pattern) {
  const double encodings[3] = {kBlankValue, 3e38, kNaN};
  int k = 0;
  forEachNode(grid, [&](int i, int j, double, double) {
    if (inPattern(pattern, i, j, grid.nx(), grid.ny())) grid.setNode(i, j, encodings[k++ % 3]);
  });
  return grid;
}

// A 9 x 7 test grid over [0, 8] x [0, 3] (non-square cells) with the pattern's blanks.
Grid wavyWith(Pattern pattern) {
  return blanked(makeGrid(9, 7, 0.0, 8.0, 0.0, 3.0, wavy), pattern);
}

// The surface is blank at a point when every closed cell holding it has a blank corner (test
// points lie on exact binary fractions, so "on an edge" is exact).
bool expectedBlankAt(const Grid& grid, double x, double y) {
  const double hx = grid.stepX();
  const double hy = grid.stepY();
  const auto valid = [&](int i, int j) { return !isBlank(grid.node(i, j)); };
  for (int j = 0; j + 1 < grid.ny(); ++j) {
    for (int i = 0; i + 1 < grid.nx(); ++i) {
      const bool holds = x >= grid.left + i * hx && x <= grid.left + (i + 1) * hx &&
                         y >= grid.bottom + j * hy && y <= grid.bottom + (j + 1) * hy;
      if (holds && valid(i, j) && valid(i + 1, j) && valid(i, j + 1) && valid(i + 1, j + 1))
        return false;
    }
  }
  return true;
}

// The blanking value itself is pinned by the bytes of the DSAA files written.
TEST(BlankNodes, AreTheBlankingValueAndAboveOrNaN) {
  for (const double v : {1.70141e38, std::stod("1.70141e+38"), 1.7015e38,
                         std::numeric_limits<double>::max(), kNaN}) {
    EXPECT_TRUE(isBlank(v)) << v;
  }
  // Infinities are numbers.
  for (const double v : {1.70140e38, -1.70141e38, 0.0, std::numeric_limits<double>::infinity(),
                         -std::numeric_limits<double>::infinity()}) {
    EXPECT_FALSE(isBlank(v)) << v;
  }

  Grid grid = makeGrid(3, 3, 0, 2, 0, 2, wavy);
  EXPECT_FALSE(grid.hasBlanks());
  grid.setNode(1, 1, kNaN);
  EXPECT_TRUE(grid.hasBlanks());
  grid.setNode(1, 1, 0.5);
  EXPECT_FALSE(grid.hasBlanks());  // a change of nodes is seen
  grid.mutableNodes()[0] = 2e38;
  EXPECT_TRUE(grid.hasBlanks());
  EXPECT_TRUE(Grid(grid).hasBlanks());  // and a copy sees it
}

// ---- node-wise results ----

// The operations, each with its reference written out independently of the kernels, and whether
// its result has a z-range (truth values have none to check).
struct Reference {
  BinaryOp op;
  double (*expected)(double, double);
  bool ranged;
};
constexpr Reference kReferences[] = {
    {BinaryOp::Add, [](double a, double b) { return a + b; }, true},
    {BinaryOp::Subtract, [](double a, double b) { return a - b; }, true},
    {BinaryOp::Multiply, [](double a, double b) { return a * b; }, true},
    {BinaryOp::Divide, [](double a, double b) { return a / b; }, true},
    {BinaryOp::Min, [](double a, double b) { return std::min(a, b); }, true},
    {BinaryOp::Max, [](double a, double b) { return std::max(a, b); }, true},
    {BinaryOp::Great, [](double a, double b) { return a > b ? 1.0 : 0.0; }, false},
    {BinaryOp::LessEqual, [](double a, double b) { return a <= b ? 1.0 : 0.0; }, false},
    {BinaryOp::And, [](double a, double b) { return a != 0 && b != 0 ? 1.0 : 0.0; }, true},
    {BinaryOp::Or, [](double a, double b) { return a != 0 || b != 0 ? 1.0 : 0.0; }, true}};

// Checks a node-wise result: blank exactly where a source node is blank, the expected value
// elsewhere, and a z-range over the valid results only (when checkRange).
template <class Expected>
void expectNodeWise(const Grid& result, const Grid& a, const Grid* b, Expected expected,
                    bool checkRange, const std::string& what) {
  ASSERT_EQ(countsOf(result), countsOf(a)) << what;
  double low = kZRangeStart, high = -kZRangeStart;
  forEachNode(a, [&](int i, int j, double, double) {
    const bool blank = isBlank(a.node(i, j)) || (b != nullptr && isBlank(b->node(i, j)));
    if (blank) {
      EXPECT_TRUE(isBlank(result.node(i, j))) << what << " " << i << "," << j;
      return;
    }
    const double v = expected(i, j);
    EXPECT_DOUBLE_EQ(result.node(i, j), v) << what << " " << i << "," << j;
    low = std::min(low, v), high = std::max(high, v);
  });
  if (checkRange) {
    EXPECT_EQ(zRangeOf(result), std::pair(low, high)) << what;
  }
}

TEST(BlankNodes, NodeWiseResultsAreBlankWhereAnOperandIs) {
  for (const Pattern pa : kPatterns) {
    SCOPED_TRACE(kPatternNames[static_cast<int>(pa)]);
    const Grid a = wavyWith(pa);
    // The second operand has its blanks elsewhere, and no zero to divide by.
    Grid b = blanked(makeGrid(9, 7, 0.0, 8.0, 0.0, 3.0,
                              [](double x, double y) { return 2.0 + std::cos(x + y); }),
                     Pattern::Isolated);
    b.setNode(0, 6, kBlankValue);
    ErrorSink sink;
    for (const Reference& reference : kReferences) {
      expectNodeWise(
          combine(a, b, reference.op, sink), a, &b,
          [&](int i, int j) { return reference.expected(a.node(i, j), b.node(i, j)); },
          reference.ranged, "op " + std::to_string(static_cast<int>(reference.op)));
    }
    // With numbers, either side, and through the node-wise functions.
    const auto single = [&](const char* what, const Grid& source, const Grid& result, bool ranged,
                            double (*expected)(double)) {
      expectNodeWise(
          result, source, nullptr, [&](int i, int j) { return expected(source.node(i, j)); },
          ranged, what);
    };
    single("G * N", a, combine(a, 0.3048, BinaryOp::Multiply, false, sink), true,
           [](double v) { return v * 0.3048; });
    single("N - G", a, combine(a, 5.0, BinaryOp::Subtract, true, sink), true,
           [](double v) { return 5.0 - v; });
    single("N / G", b, combine(b, 3.0, BinaryOp::Divide, true, sink), true,
           [](double v) { return 3.0 / v; });
    single("min(G, N)", a, combine(a, 0.2, BinaryOp::Min, false, sink), false,
           [](double v) { return std::min(v, 0.2); });
    single("N > G", a, combine(a, 0.2, BinaryOp::Great, true, sink), false,
           [](double v) { return 0.2 > v ? 1.0 : 0.0; });
    single("-G", a, negate(a), true, [](double v) { return -v; });
    single("Not", a, apply(a, UnaryFn::Not, kRadiansFactor, sink), true,
           [](double v) { return v == 0.0 ? 1.0 : 0.0; });
    // A blank is no value outside a function's domain: ArcSin of values in [-1, 1] succeeds.
    const Grid unit = blanked(
        makeGrid(9, 7, 0.0, 8.0, 0.0, 3.0, [](double x, double y) { return std::sin(x * y); }), pa);
    single("ArcSin", unit, apply(unit, UnaryFn::ArcSin, kRadiansFactor, sink), true,
           [](double v) { return std::asin(v); });
    EXPECT_FALSE(sink.failed());
  }
}

TEST(BlankNodes, MinMaxAndRangesLeaveThemOut) {
  Grid grid = makeGrid(4, 3, 0, 3, 0, 2, [](double x, double y) { return 10 * x + y; });
  grid.setNode(3, 2, kBlankValue);  // the largest value
  grid.setNode(0, 0, kNaN);         // the smallest
  EXPECT_EQ(std::pair(minimum(grid), maximum(grid)), std::pair(1.0, 31.0));
  // Through the surface: node (3, 1) = 31 is read from the valid cell below its own.
  grid.recomputeZRange();
  EXPECT_NEAR(grid.zmin, 1.0, 1e-9);
  EXPECT_NEAR(grid.zmax, 31.0, 1e-9);

  // All blank: no z-range, and MIN and MAX give their start values as for a grid without nodes.
  Grid empty = grid;
  for (double& v : empty.mutableNodes()) v = kBlankValue;
  EXPECT_EQ(std::pair(minimum(empty), maximum(empty)), std::pair(kMinMaxStart, -kMinMaxStart));
  ErrorSink sink;
  const Grid doubled = combine(empty, empty, BinaryOp::Add, sink);
  EXPECT_EQ(zRangeOf(doubled), std::pair(kZRangeStart, -kZRangeStart));
  ASSERT_EQ(doubled.nodeCount(), empty.nodeCount());
  for (const double v : doubled.nodes()) EXPECT_TRUE(isBlank(v));
}

// ---- the surface ----

// Random grids of every small size with blanks of random density, in both modes: whatever the
// runs look like (single gaps, runs of one or two nodes, runs along the edges, no valid cell at
// all), the surface, the point test and the row sampler are blank exactly in the cells with a
// blank corner, finite elsewhere, and go through every valid node of a valid cell.
TEST(BlankSurface, IsBlankExactlyInCellsWithABlankCornerAndAValidBlockIsThatBlockCutOut) {
  std::mt19937 random(5);
  std::uniform_real_distribution<double> unit(0.0, 1.0);
  for (int trial = 0; trial < 300; ++trial) {
    const int nx = 2 + trial % 11;
    const int ny = 2 + (trial / 11) % 9;
    const double density = unit(random) * 0.6;
    Grid grid = makeGrid(nx, ny, 0.0, nx - 1.0, 0.0, 0.5 * (ny - 1), wavy);
    forEachNode(grid, [&](int i, int j, double, double) {
      if (unit(random) < density) grid.setNode(i, j, kBlankValue);
    });
    if (trial % 2 == 1) grid.setMode(Interpolation::Bilinear);
    forEachNode(grid, [&](int i, int j, double x, double y) {
      const double v = grid.value(x, y);
      EXPECT_EQ(isBlank(v), expectedBlankAt(grid, x, y)) << trial << ": " << i << "," << j;
      if (!isBlank(v)) {
        EXPECT_NEAR(v, grid.node(i, j), 1e-9) << trial << ": " << i << "," << j;
      }
    });
    // Rows on a lattice of quarter steps, so that "on an edge" is exact, reaching a step past the
    // rectangle on each side: outside it the surface is 0, not blank.
    const std::vector<double> xs = nodeCoordinates(-1.0, nx, 4 * (nx + 1) + 1);
    SurfaceSampler sampler(grid, xs);
    std::vector<double> row(xs.size());
    for (int k = 0; k < 3; ++k) {
      const double y = std::floor(unit(random) * 4 * (ny + 1)) / 8 - 0.5;
      sampler.sampleRow(y, row.data());
      for (std::size_t n = 0; n < xs.size(); ++n) {
        const bool inside = xs[n] >= 0 && xs[n] <= nx - 1 && y >= 0 && y <= 0.5 * (ny - 1);
        const double v = grid.value(xs[n], y);
        const bool blank = inside && expectedBlankAt(grid, xs[n], y);
        ASSERT_EQ(isBlank(v), blank) << trial << " at " << xs[n] << "," << y;
        EXPECT_EQ(grid.blankAt(xs[n], y), blank);
        EXPECT_EQ(row[n], v);  // the row sampler agrees point for point
        if (!inside) {
          EXPECT_EQ(v, 0.0) << trial << " at " << xs[n] << "," << y;
        } else if (!blank) {
          EXPECT_LT(std::abs(v), 10.0) << trial << " at " << xs[n] << "," << y;  // no ringing
        }
      }
    }
  }

  // A grid whose valid nodes form a rectangular block has the surface of that block cut out.
  struct Case {
    int i1, i2, j1, j2;
  };
  // Inside, touching the lower-left corner, spanning the whole width, a thin block, 2 x 2.
  const Case cases[] = {{4, 10, 3, 8}, {1, 6, 1, 5}, {1, 14, 4, 7}, {3, 12, 6, 8}, {7, 8, 2, 3}};
  random.seed(11);
  for (const Interpolation mode : {Interpolation::Spline, Interpolation::Bilinear}) {
    for (const Case& c : cases) {
      // A grid whose valid nodes are the block of node numbers (from 1) i1..i2 x j1..j2, and that
      // block cut out as its own grid.
      Grid grid = makeGrid(14, 11, -2.0, 11.0, 1.0, 6.5, wavy);
      ErrorSink sink;
      Grid cut = cutByNodes(grid, c.i1, c.i2, c.j1, c.j2, sink);
      int k = 0;
      forEachNode(grid, [&](int i, int j, double, double) {
        const bool inside = i + 1 >= c.i1 && i + 1 <= c.i2 && j + 1 >= c.j1 && j + 1 <= c.j2;
        if (!inside) grid.setNode(i, j, ++k % 2 ? kBlankValue : kNaN);
      });
      grid.setMode(mode);
      cut.setMode(mode);
      ASSERT_FALSE(cut.hasBlanks());
      std::uniform_real_distribution<double> x(cut.left, cut.right), y(cut.bottom, cut.top);
      for (int k = 0; k < 300; ++k) {
        const double px = x(random), py = y(random);
        const double expected = cut.value(px, py);
        EXPECT_NEAR(grid.value(px, py), expected, 1e-9 * std::max(1.0, std::abs(expected)))
            << c.i1 << " " << c.j1 << " at " << px << "," << py;
        for (const Derivative d : {Derivative::X, Derivative::Y, Derivative::XY}) {
          const double slope = derivativeAt(cut, d, px, py);
          EXPECT_NEAR(derivativeAt(grid, d, px, py), slope, 1e-7 * std::max(1.0, std::abs(slope)));
        }
      }
      // And the coefficients are those of the cut-out block.
      if (mode == Interpolation::Spline) {
        for (int l = -1; l <= cut.ny(); ++l) {
          for (int k = -1; k <= cut.nx(); ++k)
            EXPECT_EQ(grid.coefficient(k + c.i1 - 1, l + c.j1 - 1), cut.coefficient(k, l));
        }
      }
    }
  }
}

// ---- through the surface ----

TEST(ThroughTheSurface, ResamplingOtherLatticesAndSamplingAreBlankOrMissingWhereTheSurfaceIs) {
  for (const Pattern pattern : {Pattern::Corners, Pattern::Edges, Pattern::Interior}) {
    const Grid grid = wavyWith(pattern);
    const std::optional<Grid> denser = dense(grid, 2.0);
    ASSERT_TRUE(denser);
    forEachNode(*denser, [&](int i, int j, double x, double y) {
      EXPECT_EQ(isBlank(denser->node(i, j)), expectedBlankAt(grid, x, y));
      if (!isBlank(denser->node(i, j))) {
        EXPECT_EQ(denser->node(i, j), grid.value(x, y));
      }
    });
    EXPECT_EQ(denser->zmax, rangeOf(denser->nodes()).max);
    EXPECT_LT(denser->zmax, 10.0);

    // A grid of another lattice over part of it: blank where this surface is.
    const Grid other = makeGrid(13, 9, 1.0, 7.0, 0.5, 2.5, [](double x, double) { return x; });
    ErrorSink sink;
    const Grid sum = combine(other, grid, BinaryOp::Add, sink);
    ASSERT_TRUE(sum.hasNodes());
    forEachNode(sum, [&](int i, int j, double x, double y) {
      EXPECT_EQ(isBlank(sum.node(i, j)), expectedBlankAt(grid, x, y)) << x << "," << y;
    });

    // Merge over different rectangles: blank where a surface read is blank, mergeC elsewhere.
    const Grid beside = makeGrid(9, 7, 4.0, 12.0, 0.0, 3.0, [](double, double) { return 1.0; });
    const Grid merged = merge(grid, beside, -7.0, sink);
    ASSERT_TRUE(merged.hasNodes());
    forEachNode(merged, [&](int i, int j, double x, double y) {
      EXPECT_EQ(isBlank(merged.node(i, j)), x <= 8.0 && expectedBlankAt(grid, x, y));
    });
    EXPECT_FALSE(sink.failed());

    // Sampling at points gives the missing value where the surface is blank, and outside.
    std::vector<double> xs, ys;
    for (double x = -0.5; x <= 8.5; x += 0.25) {
      for (double y = 0.125; y <= 3.0; y += 0.375) xs.push_back(x), ys.push_back(y);
    }
    for (const SampledQuantity quantity :
         {SampledQuantity::Value, SampledQuantity::X, SampledQuantity::XX, SampledQuantity::YY}) {
      const std::vector<double> values = sampleAtPoints(grid, quantity, xs, ys, -99.0);
      ASSERT_EQ(values.size(), xs.size());
      for (std::size_t k = 0; k < xs.size(); ++k) {
        const bool inside = xs[k] >= 0.0 && xs[k] <= 8.0;
        const bool missing = !inside || expectedBlankAt(grid, xs[k], ys[k]);
        EXPECT_EQ(values[k] == -99.0, missing) << xs[k] << "," << ys[k];
      }
    }
    // G_D: the missing value at blank nodes.
    const GridPoints points = gridToPoints(grid, -99.0);
    ASSERT_EQ(points.values.size(), grid.nodeCount());
    for (int k = 0; k < static_cast<int>(grid.nodeCount()); ++k)
      EXPECT_EQ(points.values[k] == -99.0, isBlank(grid.node(k / grid.ny(), k % grid.ny())));
  }
  // In bilinear mode the second derivatives read the cells half a step aside too.
  Grid bilinear = wavyWith(Pattern::Interior);
  bilinear.setMode(Interpolation::Bilinear);
  // Cells 0 and 1 of row 2 are valid, cell 2 has the hole's corner (3, 2).
  EXPECT_FALSE(isBlank(derivativeAt(bilinear, Derivative::X, 1.75, 1.2)));
  EXPECT_FALSE(isBlank(derivativeAt(bilinear, Derivative::XX, 1.25, 1.2)));
  EXPECT_TRUE(isBlank(derivativeAt(bilinear, Derivative::XX, 1.75, 1.2)));
}

// ---- derivatives ----

bool stencilHasBlank(const Grid& grid, int i, int j) {
  for (int l = std::max(j - 1, 0); l <= std::min(j + 1, grid.ny() - 1); ++l) {
    for (int k = std::max(i - 1, 0); k <= std::min(i + 1, grid.nx() - 1); ++k) {
      if (isBlank(grid.node(k, l))) return true;
    }
  }
  return false;
}

TEST(BlankDerivatives, AreBlankWhereTheStencilHasABlank) {
  const auto plane = [](double x, double y) { return 3 * x + 4 * y; };
  for (const Interpolation mode : {Interpolation::Spline, Interpolation::Bilinear}) {
    for (const Pattern pattern : kPatterns) {
      Grid grid = blanked(makeGrid(9, 7, 0.0, 8.0, 0.0, 3.0, plane), pattern);
      grid.setMode(mode);
      const Grid dx = derivativeGrid(grid, 1);
      const Grid slope = derivativeGrid(grid, kFirstSpecialCode);  // the slope
      forEachNode(grid, [&](int i, int j, double, double) {
        const bool blank = stencilHasBlank(grid, i, j);
        EXPECT_EQ(std::pair(isBlank(dx.node(i, j)), isBlank(slope.node(i, j))),
                  std::pair(blank, blank))
            << kPatternNames[static_cast<int>(pattern)] << " " << i << "," << j;
        if (blank) return;
        // Every run of a plane is a line, which its natural spline reproduces.
        EXPECT_THAT(V({dx.node(i, j), slope.node(i, j)}), Pointwise(DoubleNear(1e-8), V{3.0, 5.0}));
      });
      if (pattern != Pattern::Checkerboard) {
        EXPECT_THAT(V({slope.zmin, slope.zmax}), Each(DoubleNear(5.0, 1e-8)));
      }
    }
  }
}

TEST(BlankConstruction, NewGridsNeverHaveBlanks) {
  const Grid prototype = wavyWith(Pattern::Checkerboard);
  EXPECT_FALSE(onesLike(prototype).hasBlanks());
  EXPECT_FALSE(coordinateGrid(prototype, Axis::X, prototype.stepX()).hasBlanks());
  EXPECT_FALSE(coordinateGrid(prototype, Axis::Y, prototype.stepY()).hasBlanks());
  for (int law = 1; law <= 8; ++law)
    EXPECT_FALSE(randomGrid(prototype, law, 0.5, 2.0, 1.0, 42).hasBlanks()) << law;
  // A cut keeps the blanks it holds, and ranges over the rest.
  ErrorSink sink;
  const Grid cut = cutByNodes(wavyWith(Pattern::Interior), 3, 7, 2, 5, sink);
  EXPECT_TRUE(isBlank(cut.node(2, 1)));
  EXPECT_EQ(cut.zmax, rangeOf(cut.nodes()).max);
  EXPECT_LT(cut.zmax, 10.0);
}

// ---- grids that line up ----

TEST(SameLattice, ExtentsWithinRoundingOfAStepAreTheSameLattice) {
  // A grid as GDAL writes it, with 14-digit extents, and the same grid written with 12 digits:
  // the extents differ from the 13th digit on.
  const Grid a =
      makeGrid(120, 91, 512.37500000012, 809.87500000012, 64.125000000031, 289.12500000003, wavy);
  Grid b = a;
  std::tie(b.left, b.right, b.bottom, b.top) = std::tuple(512.375, 809.875, 64.125, 289.125);
  EXPECT_EQ(std::tuple(a.sameRectangle(b), a.sameLattice(b), b.sameLattice(a)),
            std::tuple(false, true, true));
  ErrorSink sink;
  const Grid difference = combine(a, b, BinaryOp::Subtract, sink);
  EXPECT_EQ(countsOf(difference), std::pair(120, 91));
  EXPECT_EQ(nodesOf(difference), std::vector<double>(120 * 91, 0.0));
  EXPECT_EQ(combine(a, b, BinaryOp::Equal, sink).node(7, 9), 1.0);
  EXPECT_FALSE(sink.failed());
  // Merge takes them as one lattice too.
  const Grid mean = merge(a, b, 0.0, sink);
  EXPECT_EQ(countsOf(mean), std::pair(120, 91));
  EXPECT_EQ(mean.node(5, 5), a.node(5, 5));

  // A shift of a thousandth of a step is another lattice, and so are other counts.
  Grid shifted = a;
  shifted.top += 1e-3 * a.stepY();
  EXPECT_FALSE(a.sameLattice(shifted));
  EXPECT_FALSE(a.sameLattice(makeGrid(121, 91, a.left, a.right, a.bottom, a.top, wavy)));
}

}  // namespace
}  // namespace vellumar::grid
