#include <gtest/gtest.h>

#include <cmath>

#include "GridTestSupport.h"
#include "grid/GridArithmetic.h"

namespace vellumar::grid {
namespace {

using testing::makeGrid;
using testing::wavy;

double plane(double x, double y) {
  return 2 * x - y + 1;
}

TEST(GridCommonLattice, EqualRectanglesTakeTheFinerColumns) {
  const Grid coarse = makeGrid(11, 11, 0, 10, 0, 10, plane);
  const Grid fine = makeGrid(21, 21, 0, 10, 0, 10, [](double x, double y) { return x * y; });
  ErrorSink sink;
  for (const Grid* order : {&coarse, &fine}) {
    const Grid& a = *order;
    const Grid& b = order == &coarse ? fine : coarse;
    const Grid sum = combine(a, b, BinaryOp::Add, sink);
    ASSERT_EQ(sum.nx(), 21);
    ASSERT_EQ(sum.ny(), 21);
    EXPECT_EQ(sum.left, 0.0);
    EXPECT_EQ(sum.top, 10.0);
    for (int j = 0; j < 21; ++j) {
      for (int i = 0; i < 21; ++i) {
        const double x = i * 0.5, y = j * 0.5;
        EXPECT_NEAR(sum.node(i, j), plane(x, y) + x * y, 1e-8);
      }
    }
    EXPECT_EQ(sum.zmin, *std::min_element(sum.nodes().begin(), sum.nodes().end()));
    EXPECT_EQ(sum.zmax, *std::max_element(sum.nodes().begin(), sum.nodes().end()));
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
  ASSERT_EQ(zero.nodeCount(), 35u);
  for (const double v : zero.nodes()) EXPECT_EQ(v, 0.0);
  EXPECT_EQ(zero.zmin, 0.0);
  EXPECT_EQ(zero.zmax, 0.0);
  EXPECT_EQ(zero.mode(), Interpolation::Spline);
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
  ASSERT_EQ(sum.nx(), 11);
  ASSERT_EQ(sum.ny(), 21);
  EXPECT_EQ(sum.left, 5.0);
  EXPECT_EQ(sum.right, 10.0);
  EXPECT_NEAR(sum.node(4, 6), plane(7, 3) + 7, 1e-8);

  // Disjoint: the first grid's rectangle, the second contributes 0.
  const Grid far = makeGrid(6, 6, 20, 30, 20, 30, plane);
  const Grid alone = combine(a, far, BinaryOp::Add, sink);
  ASSERT_EQ(alone.nx(), 11);
  ASSERT_EQ(alone.ny(), 11);
  EXPECT_NEAR(alone.node(3, 7), a.node(3, 7), 1e-9);
  // Touching rectangles share no area: no nodes.
  EXPECT_FALSE(combine(a, makeGrid(3, 3, 10, 12, 0, 10, plane), BinaryOp::Add, sink).hasNodes());

  // Non-square cells: the common rectangle is trimmed to fit the near-square lattice.
  const Grid c = makeGrid(3, 11, 0, 3.5, 0, 10, plane);
  const Grid d = makeGrid(3, 13, 0, 3.5, 0, 12, plane);
  const Grid trimmed = combine(c, d, BinaryOp::Add, sink);
  EXPECT_EQ(trimmed.nx(), 3);
  EXPECT_EQ(trimmed.ny(), 5);
  EXPECT_DOUBLE_EQ(trimmed.bottom, 0.625);
  EXPECT_DOUBLE_EQ(trimmed.top, 9.375);
  EXPECT_NEAR(trimmed.node(1, 0), 2 * plane(1.75, 0.625), 1e-8);
  EXPECT_FALSE(sink.failed());
}

TEST(GridWithNumber, ArithmeticAndRanges) {
  const Grid g = makeGrid(4, 3, 0, 3, 0, 2, [](double x, double y) { return x - y; });  // -2 .. 3
  ErrorSink sink;
  const Grid plus = combine(g, 10.0, BinaryOp::Add, false, sink);
  EXPECT_EQ(plus.node(3, 0), 13.0);
  EXPECT_EQ(plus.zmin, 8.0);
  EXPECT_EQ(plus.zmax, 13.0);
  const Grid nMinusG = combine(g, 1.0, BinaryOp::Subtract, true, sink);
  EXPECT_EQ(nMinusG.node(3, 0), -2.0);
  EXPECT_EQ(nMinusG.zmin, -2.0);
  EXPECT_EQ(nMinusG.zmax, 3.0);
  const Grid times = combine(g, -2.0, BinaryOp::Multiply, true, sink);
  EXPECT_EQ(times.zmin, -6.0);
  EXPECT_EQ(times.zmax, 4.0);
  const Grid half = combine(g, 4.0, BinaryOp::Divide, false, sink);
  EXPECT_EQ(half.node(3, 0), 0.75);
  const Grid negative = negate(g);
  EXPECT_EQ(negative.node(0, 2), 2.0);
  EXPECT_EQ(negative.zmin, -3.0);
  EXPECT_EQ(negative.zmax, 2.0);

  const Grid over = combine(g, 6.0, BinaryOp::Divide, true, sink);
  EXPECT_EQ(over.node(0, 0), kNumberDivisionByZeroValue);  // node 0
  EXPECT_NEAR(over.node(3, 0), 2.0, 1e-9);
  EXPECT_EQ(over.zmax, kNumberDivisionByZeroValue);
  EXPECT_EQ(over.zmin, -kNumberDivisionByZeroValue);

  // Sign-keeping product: negative wherever both factors are negative.
  const Grid kept = combine(g, -2.0, BinaryOp::MultiplySignKeeping, false, sink);
  EXPECT_EQ(kept.node(0, 2), -4.0);
  EXPECT_EQ(kept.node(3, 0), -6.0);
  EXPECT_EQ(kept.zmax, 0.0);
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
  EXPECT_EQ(low.zmin, -100.0);
  EXPECT_EQ(low.zmax, 1.0);
  const Grid high = combine(g, 1.0, BinaryOp::Max, true, sink);
  EXPECT_NEAR(high.node(0, 2), 1.0, 1e-12);
  EXPECT_EQ(high.zmin, 1.0);
  EXPECT_EQ(high.zmax, 100.0);
  const Grid pairMax = combine(g, negate(g), BinaryOp::Max, sink);
  EXPECT_NEAR(pairMax.node(0, 2), 2.0, 1e-12);
  EXPECT_EQ(minimum(g), -2.0);
  EXPECT_EQ(maximum(g), 3.0);
  EXPECT_EQ(minimum(Grid()), kMinMaxStart);
  EXPECT_EQ(maximum(Grid()), -kMinMaxStart);
  const Grid five = filled(g, 5.0);
  EXPECT_EQ(five.nx(), 4);
  EXPECT_EQ(five.node(2, 1), 5.0);
  EXPECT_EQ(five.zmin, 5.0);
  EXPECT_EQ(five.zmax, 5.0);
}

TEST(GridLogic, AndOrNotAndComparisons) {
  Grid g = makeGrid(3, 2, 0, 2, 0, 1,
                    [](double x, double y) { return x * (y + 1) - 1; });  // -1 0 1 / -1 1 3
  g.setNode(0, 1, NAN);
  ErrorSink sink;
  const Grid notG = apply(g, UnaryFn::Not, kRadiansFactor, sink);
  EXPECT_EQ(notG.mode(), Interpolation::Bilinear);
  EXPECT_EQ(notG.node(1, 0), 1.0);
  EXPECT_TRUE(isBlank(notG.node(0, 1)));  // a NaN node is blank, and stays blank
  EXPECT_EQ(notG.zmin, 0.0);
  const Grid both = combine(g, 1.0, BinaryOp::And, false, sink);
  EXPECT_EQ(both.node(0, 0), 1.0);
  EXPECT_EQ(both.node(1, 0), 0.0);
  EXPECT_TRUE(isBlank(both.node(0, 1)));
  const Grid either = combine(g, 0.0, BinaryOp::Or, true, sink);
  EXPECT_EQ(either.node(1, 0), 0.0);
  EXPECT_EQ(either.node(2, 0), 1.0);
  EXPECT_EQ(combine(g, g, BinaryOp::Or, sink).node(1, 0), 0.0);

  const Grid h = makeGrid(4, 4, 0, 3, 0, 3, [](double x, double y) { return 10 + x + y; });
  const Grid great = combine(h, 5.0, BinaryOp::Great, false, sink);
  EXPECT_EQ(great.zmin, 0.0);  // not 1, even though every node is above 5
  EXPECT_EQ(great.zmax, 1.0);
  EXPECT_EQ(great.node(2, 2), 1.0);
  EXPECT_EQ(great.mode(), Interpolation::Bilinear);
  EXPECT_EQ(combine(h, 12.5, BinaryOp::Less, true, sink).node(3, 0), 1.0);  // 12.5 < 13
  EXPECT_EQ(combine(h, 12.5, BinaryOp::Less, false, sink).node(3, 0), 0.0);
  EXPECT_EQ(combine(h, h, BinaryOp::GreatEqual, sink).node(1, 2), 1.0);
  EXPECT_FALSE(sink.failed());

  const Grid wider = makeGrid(5, 4, 0, 3, 0, 3, plane);
  ErrorSink andSink;
  combine(h, wider, BinaryOp::And, andSink);
  EXPECT_EQ(andSink.code(), sink_code::kGridMismatch);
  ErrorSink equalSink;
  combine(h, makeGrid(4, 4, 0, 3, 0, 4, plane), BinaryOp::Equal, equalSink);
  EXPECT_EQ(equalSink.code(), sink_code::kGridMismatch);
}

TEST(GridFunctions, DomainsAndCodes) {
  const Grid g =
      makeGrid(3, 2, 0, 2, 0, 1, [](double x, double y) { return x + 2 * y; });  // 0 1 2 / 2 3 4
  ErrorSink ok;
  const Grid root = apply(g, UnaryFn::Sqrt, kRadiansFactor, ok);
  EXPECT_FALSE(ok.failed());
  EXPECT_NEAR(root.node(0, 0), 0.0, 1e-9);
  EXPECT_NEAR(root.node(2, 1), 2.0, 1e-9);
  EXPECT_NEAR(root.zmax, 2.0, 1e-9);

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

  ErrorSink lnSink;
  apply(g, UnaryFn::Ln, kRadiansFactor, lnSink);
  EXPECT_EQ(lnSink.code(), sink_code::kGridDomain);
  ErrorSink asinSink;
  apply(g, UnaryFn::ArcSin, kRadiansFactor, asinSink);
  EXPECT_EQ(asinSink.code(), sink_code::kGridDomain);

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
  EXPECT_NEAR(lg.zmax, std::log10(5.0), 1e-9);
  const Grid ex = apply(g, UnaryFn::Exp, kRadiansFactor, ok);
  EXPECT_NEAR(ex.node(1, 0), std::exp(1.0), 1e-8);
  const Grid absolute = apply(negate(g), UnaryFn::Abs, kRadiansFactor, ok);
  EXPECT_NEAR(absolute.node(2, 1), 4.0, 1e-9);
  EXPECT_FALSE(std::signbit(absolute.node(0, 0)));
  EXPECT_FALSE(ok.failed());
}

}  // namespace
}  // namespace vellumar::grid
