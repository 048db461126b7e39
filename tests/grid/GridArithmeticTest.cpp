#include <gtest/gtest.h>

#include <cmath>

#include "GridTestSupport.h"
#include "grid/GridArithmetic.h"

namespace vellumar::grid {
namespace {

using testing::countsOf;
using testing::extentsOf;
using testing::makeGrid;
using testing::wavy;
using testing::zRangeOf;
using Z = std::pair<double, double>;

double plane(double x, double y) {
  return 2 * x - y + 1;
}

TEST(GridCommonLattice, EqualRectanglesTakeTheFinerColumns) {
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
    EXPECT_EQ(zRangeOf(sum), Z(*std::min_element(sum.nodes().begin(), sum.nodes().end()),
                               *std::max_element(sum.nodes().begin(), sum.nodes().end())));
  }
  // Operand order is kept when one side is resampled.
  const Grid difference = combine(coarse, fine, BinaryOp::Subtract, sink);
  EXPECT_NEAR(difference.node(3, 5), plane(1.5, 2.5) - 1.5 * 2.5, 1e-8);
  EXPECT_FALSE(sink.failed());
}

TEST(GridCommonLattice, SelfDifferenceAndModes) {
  Grid g = makeGrid(7, 5, -3, 3, 1, 2, wavy);
  ErrorSink sink;
  const Grid zero = combine(g, g, BinaryOp::Subtract, sink);
  EXPECT_EQ(zRangeOf(zero), Z(0.0, 0.0));
  Grid b = g;
  b.setMode(Interpolation::Bilinear);
  EXPECT_EQ(combine(g, b, BinaryOp::Multiply, sink).mode(), Interpolation::Bilinear);
  // A zero divisor gives the large value, not an error.
  Grid divisor = g;
  divisor.setNode(2, 3, 0.0);
  const Grid ratio = combine(g, divisor, BinaryOp::Divide, sink);
  EXPECT_EQ(ratio.node(2, 3), kGridDivisionByZeroValue);
  EXPECT_DOUBLE_EQ(ratio.node(1, 1), 1.0);
  // An operand without nodes gives an empty grid, silently.
  EXPECT_FALSE(combine(g, Grid(), BinaryOp::Add, sink).hasNodes());
  EXPECT_FALSE(sink.failed());
}

TEST(GridCommonLattice, OverlappingAndDisjointRectangles) {
  ErrorSink sink;
  const Grid a = makeGrid(11, 11, 0, 10, 0, 10, plane);
  const Grid b = makeGrid(21, 21, 5, 15, 0, 10, [](double x, double) { return x; });
  const Grid sum = combine(a, b, BinaryOp::Add, sink);
  ASSERT_EQ(countsOf(sum), std::pair(11, 21));
  EXPECT_EQ(extentsOf(sum), (std::array{5.0, 10.0, 0.0, 10.0}));
  EXPECT_NEAR(sum.node(4, 6), plane(7, 3) + 7, 1e-8);

  // Disjoint: the first grid's rectangle, the second contributes 0.
  const Grid alone = combine(a, makeGrid(6, 6, 20, 30, 20, 30, plane), BinaryOp::Add, sink);
  ASSERT_EQ(countsOf(alone), std::pair(11, 11));
  EXPECT_NEAR(alone.node(3, 7), a.node(3, 7), 1e-9);
  // Touching rectangles share no area: no nodes.
  EXPECT_FALSE(combine(a, makeGrid(3, 3, 10, 12, 0, 10, plane), BinaryOp::Add, sink).hasNodes());

  // Non-square cells: the common rectangle is trimmed to fit the near-square lattice.
  const Grid trimmed = combine(makeGrid(3, 11, 0, 3.5, 0, 10, plane),
                               makeGrid(3, 13, 0, 3.5, 0, 12, plane), BinaryOp::Add, sink);
  EXPECT_EQ(countsOf(trimmed), std::pair(3, 5));
  EXPECT_DOUBLE_EQ(trimmed.bottom, 0.625);
  EXPECT_DOUBLE_EQ(trimmed.top, 9.375);
  EXPECT_NEAR(trimmed.node(1, 0), 2 * plane(1.75, 0.625), 1e-8);
  EXPECT_FALSE(sink.failed());
}

// Every node and the range of G + N, N - G, G * N, G / N, N / G and -G are checked, with blanks,
// against references written out on their own; here the cases those do not reach.
TEST(GridWithNumber, ArithmeticAndRanges) {
  const Grid g = makeGrid(4, 3, 0, 3, 0, 2, [](double x, double y) { return x - y; });  // -2 .. 3
  ErrorSink sink;
  // A negative factor turns the range over (node (3, 0) holds 3, node (0, 2) holds -2).
  const Grid scaled = combine(g, -2.0, BinaryOp::Multiply, true, sink);
  EXPECT_EQ(scaled.node(3, 0), -6.0);
  EXPECT_EQ(zRangeOf(scaled), Z(-6.0, 4.0));
  // Sign-keeping product: negative wherever both factors are negative.
  const Grid kept = combine(g, -2.0, BinaryOp::MultiplySignKeeping, false, sink);
  EXPECT_EQ(kept.node(0, 2), -4.0);
  EXPECT_EQ(kept.node(3, 0), -6.0);
  EXPECT_EQ(zRangeOf(kept), Z(-6.0, 0.0));

  const Grid over = combine(g, 6.0, BinaryOp::Divide, true, sink);
  EXPECT_EQ(over.node(0, 0), kNumberDivisionByZeroValue);  // node 0
  EXPECT_NEAR(over.node(3, 0), 2.0, 1e-9);
  EXPECT_EQ(zRangeOf(over), Z(-kNumberDivisionByZeroValue, kNumberDivisionByZeroValue));

  const Grid keptGrids = combine(g, g, BinaryOp::MultiplySignKeeping, sink);
  EXPECT_EQ(keptGrids.node(0, 2), -4.0);
  EXPECT_EQ(keptGrids.node(3, 0), 9.0);
  EXPECT_FALSE(sink.failed());
}

TEST(GridWithNumber, MinMaxUseTheStoredRange) {
  Grid g = makeGrid(4, 3, 0, 3, 0, 2, [](double x, double y) { return x - y; });
  g.zmin = -100.0;
  g.zmax = 100.0;
  ErrorSink sink;
  const Grid low = combine(g, 1.0, BinaryOp::Min, false, sink);
  EXPECT_NEAR(low.node(3, 0), 1.0, 1e-12);
  EXPECT_NEAR(low.node(0, 2), -2.0, 1e-9);
  EXPECT_EQ(zRangeOf(low), Z(-100.0, 1.0));
  const Grid high = combine(g, 1.0, BinaryOp::Max, true, sink);
  EXPECT_NEAR(high.node(0, 2), 1.0, 1e-12);
  EXPECT_EQ(zRangeOf(high), Z(1.0, 100.0));
  EXPECT_NEAR(combine(g, negate(g), BinaryOp::Max, sink).node(0, 2), 2.0, 1e-12);
  EXPECT_EQ(minimum(g), -2.0);
  EXPECT_EQ(maximum(g), 3.0);
  EXPECT_EQ(minimum(Grid()), kMinMaxStart);
  EXPECT_EQ(maximum(Grid()), -kMinMaxStart);
  const Grid five = filled(g, 5.0);
  EXPECT_EQ(five.nx(), 4);
  EXPECT_EQ(five.node(2, 1), 5.0);
  EXPECT_EQ(zRangeOf(five), Z(5.0, 5.0));
}

// Blank and NaN nodes through the logic and the comparisons are checked with the other blanks.
TEST(GridLogic, AndOrNotAndComparisons) {
  Grid g = makeGrid(3, 2, 0, 2, 0, 1,
                    [](double x, double y) { return x * (y + 1) - 1; });  // -1 0 1 / -1 1 3
  g.setNode(0, 1, NAN);
  ErrorSink sink;
  const Grid notG = apply(g, UnaryFn::Not, kRadiansFactor, sink);
  EXPECT_EQ(notG.mode(), Interpolation::Bilinear);
  EXPECT_EQ(notG.node(1, 0), 1.0);
  EXPECT_EQ(notG.zmin, 0.0);
  const Grid both = combine(g, 1.0, BinaryOp::And, false, sink);
  EXPECT_EQ(both.node(0, 0), 1.0);
  EXPECT_EQ(both.node(1, 0), 0.0);
  const Grid either = combine(g, 0.0, BinaryOp::Or, true, sink);
  EXPECT_EQ(either.node(1, 0), 0.0);
  EXPECT_EQ(either.node(2, 0), 1.0);

  const Grid h = makeGrid(4, 4, 0, 3, 0, 3, [](double x, double y) { return 10 + x + y; });
  const Grid great = combine(h, 5.0, BinaryOp::Great, false, sink);
  EXPECT_EQ(zRangeOf(great), Z(0.0, 1.0));  // not 1 to 1, even though every node is above 5
  EXPECT_EQ(great.node(2, 2), 1.0);
  EXPECT_EQ(great.mode(), Interpolation::Bilinear);
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
  ErrorSink ok;
  const Grid root = apply(g, UnaryFn::Sqrt, kRadiansFactor, ok);
  EXPECT_FALSE(ok.failed());
  EXPECT_NEAR(root.node(0, 0), 0.0, 1e-9);
  EXPECT_NEAR(root.node(2, 1), 2.0, 1e-9);

  // Nodes are visited column by column; the ones from the failing node on keep their values.
  Grid negative = g;
  negative.setNode(1, 0, -4.0);
  ErrorSink sqrtSink;
  const Grid stopped = apply(negative, UnaryFn::Sqrt, kRadiansFactor, sqrtSink);
  EXPECT_EQ(sqrtSink.code(), sink_code::kGridDomain);
  EXPECT_NEAR(stopped.node(0, 1), std::sqrt(2.0), 1e-9);
  EXPECT_EQ(stopped.node(1, 0), -4.0);
  EXPECT_EQ(stopped.node(1, 1), 3.0);
  EXPECT_EQ(stopped.node(2, 0), 2.0);
  EXPECT_NEAR(stopped.zmin, -4.0, 1e-9);  // range recomputed after stopping
  for (const UnaryFn fn : {UnaryFn::Ln, UnaryFn::ArcSin}) {
    ErrorSink domain;
    apply(g, fn, kRadiansFactor, domain);
    EXPECT_EQ(domain.code(), sink_code::kGridDomain);
  }

  const Grid ninety = filled(g, 90.0);
  ErrorSink tgSink;
  const Grid tangent = apply(ninety, UnaryFn::Tg, kDegreesFactor, tgSink);
  EXPECT_FALSE(tgSink.failed());
  EXPECT_GT(std::fabs(tangent.node(1, 1)), 1e12);
  EXPECT_NEAR(apply(ninety, UnaryFn::Sin, kDegreesFactor, ok).node(0, 0), 1.0, 1e-9);
  EXPECT_NEAR(apply(filled(g, 1.0), UnaryFn::ArcTg, kDegreesFactor, ok).node(2, 1), 45.0, 1e-7);

  const Grid positive = combine(g, 1.0, BinaryOp::Add, false, ok);
  const Grid lg = apply(positive, UnaryFn::Lg, kRadiansFactor, ok);
  EXPECT_NEAR(lg.node(2, 1), std::log10(5.0), 1e-9);
  EXPECT_NEAR(apply(g, UnaryFn::Exp, kRadiansFactor, ok).node(1, 0), std::exp(1.0), 1e-8);
  const Grid absolute = apply(negate(g), UnaryFn::Abs, kRadiansFactor, ok);
  EXPECT_NEAR(absolute.node(2, 1), 4.0, 1e-9);
  EXPECT_FALSE(std::signbit(absolute.node(0, 0)));
  EXPECT_FALSE(ok.failed());
}

}  // namespace
}  // namespace vellumar::grid
