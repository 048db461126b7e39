#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cmath>
#include <tuple>

#include "GridTestSupport.h"
#include "common/ErrorSink.h"
#include "grid/GridArithmetic.h"
#include "grid/GridConstruction.h"

namespace vellumar::grid {
namespace {

using testing::countsOf, testing::extentsOf, testing::makeGrid, testing::nodeRangeOf,
    testing::nodesAt, testing::wavy, testing::zRangeOf;
using ::testing::DoubleEq, ::testing::DoubleNear, ::testing::Pointwise;
using V = std::vector<double>;
using Z = std::pair<double, double>;

double plane(double x, double y) {
  return 2 * x - y + 1;
}

TEST(GridCommonLattice, OfEqualOverlappingAndDisjointRectanglesAndEitherBilinearMode) {
  const Grid coarse = makeGrid(11, 11, 0, 10, 0, 10, plane);
  const Grid fine = makeGrid(21, 21, 0, 10, 0, 10, [](double x, double y) { return x * y; });
  ErrorSink sink;
  for (const auto& [a, b] : {std::pair{&coarse, &fine}, {&fine, &coarse}}) {
    const Grid sum = combine(*a, *b, BinaryOp::Add, sink);
    ASSERT_EQ(countsOf(sum), std::pair(21, 21));
    EXPECT_EQ(extentsOf(sum), (std::array{0.0, 10.0, 0.0, 10.0}));
    testing::forEachNode(sum, [&](int i, int j, double x, double y) {
      EXPECT_NEAR(sum.node(i, j), plane(x, y) + x * y, 1e-8);
    });
    EXPECT_EQ(zRangeOf(sum), nodeRangeOf(sum));
  }
  // Operand order is kept when one side is resampled.
  EXPECT_NEAR(combine(coarse, fine, BinaryOp::Subtract, sink).node(3, 5),
              plane(1.5, 2.5) - 1.5 * 2.5, 1e-8);

  // A grid less itself is zero; one bilinear operand makes the result bilinear.
  const Grid g = makeGrid(7, 5, -3, 3, 1, 2, wavy);
  EXPECT_EQ(zRangeOf(combine(g, g, BinaryOp::Subtract, sink)), Z(0.0, 0.0));
  Grid b = g;
  b.setMode(Interpolation::Bilinear);
  EXPECT_EQ(combine(g, b, BinaryOp::Multiply, sink).mode(), Interpolation::Bilinear);
  // A zero divisor gives the large value, not an error (other quotients are checked with blanks).
  Grid divisor = g;
  divisor.setNode(2, 3, 0.0);
  EXPECT_EQ(combine(g, divisor, BinaryOp::Divide, sink).node(2, 3), kGridDivisionByZeroValue);
  // An operand without nodes gives an empty grid, silently.
  EXPECT_FALSE(combine(g, Grid(), BinaryOp::Add, sink).hasNodes());

  // Overlapping rectangles: a lattice over the intersection with the finer steps.
  const Grid sum =
      combine(coarse, makeGrid(21, 21, 5, 15, 0, 10, [](double x, double) { return x; }),
              BinaryOp::Add, sink);
  ASSERT_EQ(countsOf(sum), std::pair(11, 21));
  EXPECT_EQ(extentsOf(sum), (std::array{5.0, 10.0, 0.0, 10.0}));
  EXPECT_NEAR(sum.node(4, 6), plane(7, 3) + 7, 1e-8);

  // Disjoint: the first grid's rectangle, the second contributes 0.
  const Grid alone = combine(coarse, makeGrid(6, 6, 20, 30, 20, 30, plane), BinaryOp::Add, sink);
  ASSERT_EQ(countsOf(alone), std::pair(11, 11));
  EXPECT_NEAR(alone.node(3, 7), coarse.node(3, 7), 1e-9);
  // Touching rectangles share no area: no nodes.
  EXPECT_FALSE(
      combine(coarse, makeGrid(3, 3, 10, 12, 0, 10, plane), BinaryOp::Add, sink).hasNodes());

  // Non-square cells: the common rectangle is trimmed to fit the near-square lattice.
  const Grid trimmed = combine(makeGrid(3, 11, 0, 3.5, 0, 10, plane),
                               makeGrid(3, 13, 0, 3.5, 0, 12, plane), BinaryOp::Add, sink);
  EXPECT_EQ(countsOf(trimmed), std::pair(3, 5));
  EXPECT_THAT(V({trimmed.bottom, trimmed.top}), Pointwise(DoubleEq(), V{0.625, 9.375}));
  EXPECT_NEAR(trimmed.node(1, 0), 2 * plane(1.75, 0.625), 1e-8);
  EXPECT_FALSE(sink.failed());
}

// Every node and the range of G + N, N - G, G * N, G / N, N / G, min(G, N) and -G are checked,
// with blanks, against references written out on their own; here the cases those do not reach.
TEST(GridWithNumber, ArithmeticRangesAndMinMaxWithTheStoredRange) {
  const Grid g = makeGrid(4, 3, 0, 3, 0, 2, [](double x, double y) { return x - y; });  // -2 .. 3
  ErrorSink sink;
  // A negative factor turns the range over (node (3, 0) holds 3, node (0, 2) holds -2).
  EXPECT_EQ(zRangeOf(combine(g, -2.0, BinaryOp::Multiply, true, sink)), Z(-6.0, 4.0));
  // Sign-keeping product: negative wherever both factors are negative.
  const Grid kept = combine(g, -2.0, BinaryOp::MultiplySignKeeping, false, sink);
  EXPECT_EQ(std::pair(nodesAt(kept, {{0, 2}, {3, 0}}), zRangeOf(kept)),
            std::pair(V({-4, -6}), Z(-6.0, 0.0)));
  // A zero divisor (node 0) gives the large value.
  const Grid over = combine(g, 6.0, BinaryOp::Divide, true, sink);
  EXPECT_EQ(std::pair(over.node(0, 0), zRangeOf(over)),
            std::pair(kNumberDivisionByZeroValue,
                      Z(-kNumberDivisionByZeroValue, kNumberDivisionByZeroValue)));
  const Grid keptGrids = combine(g, g, BinaryOp::MultiplySignKeeping, sink);
  EXPECT_EQ(nodesAt(keptGrids, {{0, 2}, {3, 0}}), V({-4, 9}));

  // Min and max with a number bound the stored range, not the nodes'.
  Grid stored = g;
  std::tie(stored.zmin, stored.zmax) = Z(-100.0, 100.0);
  EXPECT_EQ(zRangeOf(combine(stored, 1.0, BinaryOp::Min, false, sink)), Z(-100.0, 1.0));
  const Grid high = combine(stored, 1.0, BinaryOp::Max, true, sink);
  EXPECT_NEAR(high.node(0, 2), 1.0, 1e-12);
  EXPECT_EQ(zRangeOf(high), Z(1.0, 100.0));
  EXPECT_NEAR(combine(stored, negate(stored), BinaryOp::Max, sink).node(0, 2), 2.0, 1e-12);
  EXPECT_EQ(std::pair(minimum(stored), maximum(stored)), Z(-2.0, 3.0));
  EXPECT_EQ(std::pair(minimum(Grid()), maximum(Grid())), Z(kMinMaxStart, -kMinMaxStart));
  const Grid five = filled(stored, 5.0);
  EXPECT_EQ(std::pair(testing::nodesOf(five), zRangeOf(five)), std::pair(V(12, 5.0), Z(5.0, 5.0)));
  EXPECT_FALSE(sink.failed());
}

// Blank and NaN nodes through the logic and the comparisons are checked with the other blanks.
TEST(GridLogic, AndOrNotAndComparisons) {
  Grid g = makeGrid(3, 2, 0, 2, 0, 1,
                    [](double x, double y) { return x * (y + 1) - 1; });  // -1 0 1 / -1 1 3
  g.setNode(0, 1, NAN);
  ErrorSink sink;
  const Grid notG = apply(g, UnaryFn::Not, kRadiansFactor, sink);
  EXPECT_EQ(std::tuple(notG.mode(), notG.node(1, 0), notG.zmin),
            std::tuple(Interpolation::Bilinear, 1.0, 0.0));
  EXPECT_EQ(nodesAt(combine(g, 1.0, BinaryOp::And, false, sink), {{0, 0}, {1, 0}}), V({1, 0}));
  EXPECT_EQ(nodesAt(combine(g, 0.0, BinaryOp::Or, true, sink), {{1, 0}, {2, 0}}), V({0, 1}));

  const Grid h = makeGrid(4, 4, 0, 3, 0, 3, [](double x, double y) { return 10 + x + y; });
  const Grid great = combine(h, 5.0, BinaryOp::Great, false, sink);
  // The range is 0 to 1, not 1 to 1, even though every node is above 5.
  EXPECT_EQ(std::tuple(zRangeOf(great), great.node(2, 2), great.mode()),
            std::tuple(Z(0.0, 1.0), 1.0, Interpolation::Bilinear));
  EXPECT_EQ(combine(h, 12.5, BinaryOp::Less, true, sink).node(3, 0), 1.0);  // 12.5 < 13
  EXPECT_EQ(combine(h, 12.5, BinaryOp::Less, false, sink).node(3, 0), 0.0);
  EXPECT_EQ(combine(h, h, BinaryOp::GreatEqual, sink).node(1, 2), 1.0);
  EXPECT_FALSE(sink.failed());

  // Logic and comparisons of grids on other lattices are refused.
  for (const auto& [other, op] : {std::pair{makeGrid(5, 4, 0, 3, 0, 3, plane), BinaryOp::And},
                                  {makeGrid(4, 4, 0, 3, 0, 4, plane), BinaryOp::Equal}}) {
    ErrorSink mismatch;
    combine(h, other, op, mismatch);
    EXPECT_EQ(mismatch.code(), sink_code::kGridMismatch);
  }
}

TEST(GridFunctions, DomainsAndCodes) {
  const Grid g =
      makeGrid(3, 2, 0, 2, 0, 1, [](double x, double y) { return x + 2 * y; });  // 0 1 2 / 2 3 4

  // Nodes are visited column by column; the ones from the failing node on keep their values.
  Grid negative = g;
  negative.setNode(1, 0, -4.0);
  ErrorSink sqrtSink;
  const Grid stopped = apply(negative, UnaryFn::Sqrt, kRadiansFactor, sqrtSink);
  EXPECT_EQ(sqrtSink.code(), sink_code::kGridDomain);
  EXPECT_NEAR(stopped.node(0, 1), std::sqrt(2.0), 1e-9);
  EXPECT_EQ(nodesAt(stopped, {{1, 0}, {1, 1}, {2, 0}}), V({-4, 3, 2}));
  EXPECT_NEAR(stopped.zmin, -4.0, 1e-9);  // range recomputed after stopping
  for (const UnaryFn fn : {UnaryFn::Ln, UnaryFn::ArcSin}) {
    ErrorSink domain;
    apply(g, fn, kRadiansFactor, domain);
    EXPECT_EQ(domain.code(), sink_code::kGridDomain);
  }

  // Tangent of 90 degrees is large, not a fault.
  ErrorSink ok;
  const Grid ninety = filled(g, 90.0);
  EXPECT_GT(std::fabs(apply(ninety, UnaryFn::Tg, kDegreesFactor, ok).node(1, 1)), 1e12);
  EXPECT_NEAR(apply(ninety, UnaryFn::Sin, kDegreesFactor, ok).node(0, 0), 1.0, 1e-9);
  EXPECT_NEAR(apply(filled(g, 1.0), UnaryFn::ArcTg, kDegreesFactor, ok).node(2, 1), 45.0, 1e-7);

  const Grid absolute = apply(negate(g), UnaryFn::Abs, kRadiansFactor, ok);
  EXPECT_NEAR(absolute.node(2, 1), 4.0, 1e-9);
  EXPECT_FALSE(std::signbit(absolute.node(0, 0)));
  EXPECT_FALSE(ok.failed());
}

// ---- grids made from others: lattices, coordinates, random laws, resampling, cuts, merges ----

// Mean of the finite nodes: a draw of exactly 0 or 1 gives an infinite value in some laws.
double mean(const Grid& grid) {
  double sum = 0.0, count = 0.0;
  for (const double v : grid.nodes()) {
    if (std::isfinite(v)) sum += v, count += 1.0;
  }
  return sum / count;
}

TEST(GridConstruction, LatticesFromStepsRoundToWholeStepsAndOnesAndCoordinatesFillThem) {
  const struct {
    double left, right, bottom, top, stepX, stepY;
    std::pair<int, int> counts;
    std::array<double, 4> extents;
  } cases[] = {
      {0, 10, 0, 5, 1, 1, {11, 6}, {0, 10, 0, 5}},
      {0, 10.4, 0, 5, 1, 1, {11, 6}, {0, 10, 0, 5}},             // short of a step
      {0, 10.6, 0, 5, 1, 1, {12, 6}, {0, 11, 0, 5}},             // past half a step
      {-3, 3, 100, 101, 0.5, 0.25, {13, 5}, {-3, 3, 100, 101}},  // a non-zero origin is kept
  };
  for (const auto& c : cases) {
    const auto lattice = latticeFromSteps(c.left, c.right, c.bottom, c.top, c.stepX, c.stepY);
    ASSERT_TRUE(lattice) << c.right;
    EXPECT_EQ(std::tuple(countsOf(*lattice), extentsOf(*lattice), lattice->rectangleFlag),
              std::tuple(c.counts, c.extents, 1u))
        << c.right;
  }
  // A lattice that could never be held is refused instead of exhausting memory.
  EXPECT_FALSE(latticeFromSteps(0, 1e9, 0, 1e9, 1, 1));
  EXPECT_FALSE(latticeFromSteps(0, INFINITY, 0, 1, 1, 1));

  // Ones and coordinate grids over a prototype's lattice.
  Grid prototype = makeGrid(4, 3, 100, 130, -5, 15, [](double x, double y) { return x * y; });
  prototype.setMode(Interpolation::Bilinear);
  const Grid ones = onesLike(prototype);
  EXPECT_EQ(std::pair(ones.mode(), testing::nodesOf(ones)),
            std::pair(Interpolation::Bilinear, V(12, 1.0)));
  // Rows of y bottom first; a coordinate grid is a spline grid whatever its prototype.
  const Grid yg = coordinateGrid(prototype, Axis::Y, prototype.stepY());
  EXPECT_EQ(testing::nodesOf(yg), V({-5, -5, -5, -5, 5, 5, 5, 5, 15, 15, 15, 15}));
  EXPECT_EQ(std::tuple(zRangeOf(yg), yg.mode(), yg.sameLattice(prototype)),
            std::tuple(Z(-5.0, 15.0), Interpolation::Spline, true));
}

TEST(GridConstruction, RandomLawConditionsAreCheckedInOrderAndDrawsFallInTheLawsRanges) {
  using P = RandomParameter;
  const struct {
    double law, a, b, c;
    RandomParameter invalid;
  } cases[] = {
      {9, 0, 1, 1, P::Law},   {0.5, 0, 1, 1, P::Law},
      {NAN, 0, 1, 1, P::Law}, {1, 0, 1, 1, P::None},
      {1, 1, 1, 1, P::B},     {2, -5, 0, 0, P::B},
      {2, -5, 1, 1, P::None}, {3, 0, -1, -1, P::B},
      {4, 0, 0, 0, P::A},     {4, 2, 2, 2, P::None},
      {5, 0, 1, 1, P::A},     {5, 0, 0, 0, P::B},  // b first
      {6, -1, -1, -1, P::A},  {7.9, 0.5, 0.5, 0.5, P::None},
      {8, 0, 10, 5, P::None}, {8, 0, 10, 10, P::C},
      {8, -1, 10, 5, P::A},   {8, 5, 5, 5, P::B},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(invalidRandomParameter(c.law, c.a, c.b, c.c), c.invalid)
        << c.law << " " << c.a << " " << c.b << " " << c.c;
  }

  const Grid shape = *latticeFromSteps(0, 99, 0, 99, 1, 1);  // 10000 nodes
  constexpr double kInf = INFINITY;
  // The law and its parameters, the seed, the range of the draws and their mean.
  const struct {
    int law;
    double a, b, c;
    unsigned seed;
    double low, high, mean, tolerance;
  } draws[] = {
      {1, -2, 3, 3, 11, -2.0, 3.0, 0.5, 0.1},                 // uniform
      {8, 0, 10, 5, 12, 0.0, 10.0, 5.0, 0.2},                 // triangular
      {8, 0, 10, 1, 12, 0.0, 10.0, 11.0 / 3.0, 0.2},          // skewed triangular
      {4, 2, 2, 2, 13, 0.0, kInf, 2.0, 0.2},                  // exponential
      {2, 5, 2, 2, 14, -kInf, kInf, 5.0, 0.2},                // normal
      {3, 0, 0.5, 0.5, 15, 0.0, kInf, std::exp(0.125), 0.1},  // lognormal
      {5, 1, 3, 3, 16, 0.0, kInf, 3.0, 0.3},                  // Weibull of shape 1: exponential
      {6, 2, 2, 2, 17, 0.0, kInf, std::sqrt(M_PI), 0.2},      // Rayleigh
      {7, 3, 3, 3, 18, 1.0, kInf, NAN, 0.0},                  // Pareto
  };
  for (const auto& c : draws) {
    SCOPED_TRACE(c.law);
    const Grid drawn = randomGrid(shape, c.law, c.a, c.b, c.c, c.seed);
    EXPECT_TRUE(drawn.sameLattice(shape));
    EXPECT_GE(drawn.zmin, c.low);
    EXPECT_LE(drawn.zmax, c.high);
    if (!std::isnan(c.mean)) {
      EXPECT_NEAR(mean(drawn), c.mean, c.tolerance);
    }
  }
  const Grid normal = randomGrid(shape, 2, 5, 2, 2, 14);
  // The standard deviation of the normal law.
  const double m = mean(normal);
  double squares = 0.0;
  for (const double v : normal.nodes()) squares += (v - m) * (v - m);
  EXPECT_NEAR(std::sqrt(squares / static_cast<double>(normal.nodeCount())), 2.0, 0.3);
  // The z-range is the range of the draws; one seed gives one grid.
  EXPECT_EQ(zRangeOf(normal), nodeRangeOf(normal));
  EXPECT_TRUE(testing::nodesOf(randomGrid(shape, 2, 5, 2, 2, 14)) == testing::nodesOf(normal));
  EXPECT_FALSE(testing::nodesOf(randomGrid(shape, 2, 5, 2, 2, 99)) == testing::nodesOf(normal));
  // A million draws meet both ends of the 15-bit draws about thirty times each: the laws with
  // infinite ends never draw them.
  const Grid large = *latticeFromSteps(0, 999, 0, 999, 1, 1);
  for (const int law : {4, 5, 6, 7}) {
    const Grid drawn = randomGrid(large, law, 2, 2, 2, 21);
    EXPECT_TRUE(std::isfinite(drawn.zmin) && std::isfinite(drawn.zmax)) << "law " << law;
  }
}

TEST(GridConstruction, DenseRefinesAndCoarsensThroughTheSurface) {
  const Grid grid = makeGrid(11, 11, 0, 10, 0, 20, testing::wavy);
  const auto twice = dense(grid, 2);
  ASSERT_TRUE(twice);
  EXPECT_EQ(countsOf(*twice), std::pair(21, 21));
  EXPECT_TRUE(twice->sameRectangle(grid));
  // Every node is the surface's value there (checked node by node with blanks elsewhere); every
  // second node of the refined lattice is a node of the original.
  EXPECT_NEAR(twice->node(6, 8), grid.node(3, 4), 1e-9);
  EXPECT_EQ(std::pair(dense(grid, 0.5)->nx(), dense(grid, 0.05)->nodeCount()), std::pair(6, 1ul));
  EXPECT_EQ(testing::nodesOf(*dense(grid, 1)), testing::nodesOf(grid));
  EXPECT_FALSE(dense(Grid(), 2));  // no nodes
  EXPECT_FALSE(dense(grid, 1e6));  // too many nodes

  // A bilinear grid is read through its bilinear surface; the result is a spline grid.
  Grid steps = makeGrid(3, 3, 0, 2, 0, 2, [](double x, double) { return x == 1 ? 4.0 : 0.0; });
  steps.setMode(Interpolation::Bilinear);
  const auto fine = dense(steps, 2);
  EXPECT_EQ(fine->mode(), Interpolation::Spline);
  EXPECT_THAT(V({fine->node(1, 0), fine->zmax}), Pointwise(DoubleEq(), V{2.0, 4.0}));
}

TEST(GridConstruction, CutByNodeNumbersOrByCoordinates) {
  const Grid grid = makeGrid(5, 5, 0, 4, 0, 4, [](double x, double y) { return 10 * x + y; });
  ErrorSink sink;
  const Grid cut = cutByNodes(grid, 2, 4, 1, 3, sink);
  EXPECT_EQ(std::tuple(countsOf(cut), extentsOf(cut), testing::nodesOf(cut), zRangeOf(cut)),
            std::tuple(std::pair(3, 3), std::array{1.0, 3.0, 0.0, 2.0},
                       V({10, 20, 30, 11, 21, 31, 12, 22, 32}), Z(10.0, 32.0)));
  // Fractions are truncated and the upper ends capped at the grid.
  const Grid capped = cutByNodes(grid, 4.9, 99, 1.5, 2.2, sink);
  EXPECT_EQ(std::pair(countsOf(capped), capped.right), std::pair(std::pair(2, 2), 4.0));

  // By coordinates: widened to the nodes around the rectangle, or narrowed to those inside.
  const Grid sloped = makeGrid(6, 6, 0, 5, 0, 5, [](double x, double y) { return x - y; });
  const Grid outward = cutByCoordinates(sloped, 0.5, 2.5, 0.5, 2.5, 0, sink);
  EXPECT_EQ(std::pair(countsOf(outward), extentsOf(outward)),
            std::pair(std::pair(4, 4), std::array{0.0, 3.0, 0.0, 3.0}));
  const Grid inward = cutByCoordinates(sloped, 0.5, 2.5, 0.5, 2.5, 1, sink);
  EXPECT_EQ(std::tuple(countsOf(inward), extentsOf(inward), inward.node(1, 0)),
            std::tuple(std::pair(2, 2), std::array{1.0, 2.0, 1.0, 2.0}, 1.0));
  // Nodes exactly on the rectangle are kept either way; a rectangle past the grid is clipped.
  EXPECT_EQ(countsOf(cutByCoordinates(sloped, 1, 3, -10, 10, 1, sink)), std::pair(3, 6));
  // Rounded steps still reach the far edge.
  const Grid odd = makeGrid(4, 4, 0.3, 0.9, 0.3, 0.9, [](double x, double) { return x; });
  EXPECT_EQ(cutByCoordinates(odd, 0.3, 0.9, 0.3, 0.9, 1, sink).nx(), 4);
  EXPECT_FALSE(sink.failed());

  const double cuts[][4] = {{3, 3, 1, 3}, {0, 3, 1, 3}, {5, 9, 1, 3}, {1, 3, 2, 1}, {NAN, 3, 1, 3}};
  for (const auto& bad : cuts) {
    ErrorSink failing;
    EXPECT_FALSE(cutByNodes(grid, bad[0], bad[1], bad[2], bad[3], failing).hasNodes());
    EXPECT_EQ(failing.code(), sink_code::kGridDomain) << bad[0] << " " << bad[1];
  }
  // Outside the grid, and narrower than a step between nodes.
  for (const auto& [left, right, inwards] : {std::tuple{6.0, 8.0, 0}, {1.2, 1.8, 1}}) {
    ErrorSink failing;
    EXPECT_FALSE(cutByCoordinates(sloped, left, right, 0, 5, inwards, failing).hasNodes());
    EXPECT_EQ(failing.code(), sink_code::kGridDomain) << left;
  }
}

TEST(GridConstruction, MergeTakesTheMeanAndFillsTheGap) {
  const Grid a = makeGrid(5, 5, 0, 4, 0, 4, [](double x, double y) { return x + y; });
  const Grid b = makeGrid(5, 5, 0, 4, 0, 4, [](double x, double y) { return 3 * x - y; });
  ErrorSink sink;
  const Grid mean = merge(a, b, -1, sink);
  ASSERT_TRUE(mean.sameLattice(a));
  EXPECT_EQ(testing::nodesOf(mean),
            testing::nodesOf(makeGrid(5, 5, 0, 4, 0, 4, [](double x, double) { return 2 * x; })));
  // Coarser counts are resampled to the finer ones first.
  const Grid coarse = makeGrid(3, 3, 0, 4, 0, 4, [](double x, double y) { return x + y; });
  const Grid mixed = merge(coarse, b, -1, sink);
  EXPECT_EQ(mixed.nx(), 5);
  EXPECT_NEAR(mixed.node(1, 3), (1.0 + 3.0 + 3.0 - 3.0) / 2.0, 1e-9);
  EXPECT_FALSE(merge(Grid(), a, 0, sink).hasNodes());

  // Different rectangles: each grid where it lies, mergeC in the gap between them.
  const Grid left = makeGrid(3, 3, 0, 2, 0, 2, [](double x, double y) { return 1 + x + y; });
  const Grid right = makeGrid(3, 3, 4, 6, 0, 2, [](double x, double) { return 100 + x; });
  const Grid merged = merge(left, right, -7, sink);
  ASSERT_EQ(countsOf(merged), std::pair(7, 3));
  EXPECT_EQ(extentsOf(merged), (std::array{0.0, 6.0, 0.0, 2.0}));
  EXPECT_THAT(nodesAt(merged, {{1, 0}, {1, 1}, {1, 2}, {6, 0}, {6, 1}, {6, 2}}),
              Pointwise(DoubleNear(1e-9), V{2, 3, 4, 106, 106, 106}));
  EXPECT_EQ(nodesAt(merged, {{3, 0}, {3, 1}, {3, 2}}), V(3, -7.0));
  EXPECT_THAT(V({merged.zmin, merged.zmax}), Pointwise(DoubleNear(1e-9), V{1.0, 106.0}));

  // Overlap: the mean there; the lattice follows the finer grid and stays inside the union.
  const Grid wide = makeGrid(5, 5, 0, 4, 0, 4, [](double, double) { return 2.0; });
  const Grid fine = makeGrid(5, 5, 1.25, 3.25, 1.25, 3.25, [](double, double) { return 4.0; });
  const Grid overlap = merge(wide, fine, 0, sink);
  EXPECT_EQ(extentsOf(overlap), (std::array{0.25, 3.75, 0.25, 3.75}));
  EXPECT_EQ(overlap.nx(), 8);
  // At (0.25, 0.25) the coarse grid only, at (1.75, 1.75) both.
  EXPECT_THAT(nodesAt(overlap, {{0, 0}, {3, 3}}), Pointwise(DoubleNear(1e-9), V{2.0, 3.0}));
  EXPECT_FALSE(sink.failed());
}

}  // namespace
}  // namespace vellumar::grid
