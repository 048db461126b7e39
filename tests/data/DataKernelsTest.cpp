#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <cstdint>
#include <functional>
#include <numeric>
#include <tuple>
#include <utility>
#include <vector>

#include "../common/TestSupport.h"
#include "data/DataKernels.h"

namespace vellumar::data {
namespace {

using enum BinaryOp;
using enum UnaryFn;
using namespace sink_code;

constexpr double kMissing = -9999.0;

std::vector<double> valuesOf(const DATA& d) {
  return {d.values().begin(), d.values().end()};
}

// Values at x = 0, 1, 2, ... and y = 10, 11, 12, ...
DATA withCoordinates(std::vector<double> values) {
  std::vector<double> x(values.size()), y(values.size());
  std::iota(x.begin(), x.end(), 0.0);
  std::iota(y.begin(), y.end(), 10.0);
  return DATA(std::move(values), std::move(x), std::move(y));
}

// Every operation at the element pairs the test below meets, worked out by hand: (-3, -2),
// (4, 8), the number 3 on the left of -3, and 4 with the surface's 5 on either side.
const std::pair<BinaryOp, std::array<double, 5>> kExpected[] = {
    {Add, {-5.0, 12.0, 0.0, 9.0, 9.0}},
    {Subtract, {-1.0, -4.0, 6.0, -1.0, 1.0}},
    {Multiply, {6.0, 32.0, -9.0, 20.0, 20.0}},
    {Divide, {1.5, 0.5, -1.0, 0.8, 1.25}},
    {MultiplySignKeeping, {-6.0, 32.0, -9.0, 20.0, 20.0}},
    {Min, {-3.0, 4.0, -3.0, 4.0, 4.0}},
    {Max, {-2.0, 8.0, 3.0, 5.0, 5.0}},
    {And, {1.0, 1.0, 1.0, 1.0, 1.0}},
    {Or, {1.0, 1.0, 1.0, 1.0, 1.0}},
    {Equal, {0.0, 0.0, 0.0, 0.0, 0.0}},
    {Great, {0.0, 0.0, 1.0, 0.0, 1.0}},
    {GreatEqual, {0.0, 0.0, 1.0, 0.0, 1.0}},
    {Less, {1.0, 1.0, 0.0, 1.0, 0.0}},
    {LessEqual, {1.0, 1.0, 0.0, 1.0, 0.0}},
};

TEST(DataKernels, MissingElementsStayMissingThroughEveryKernel) {
  const DATA a = withCoordinates({2.0, kMissing, -3.0, 4.0});
  const DATA b = withCoordinates({kMissing, 5.0, -2.0, 8.0});
  const FunctionSurface surface([](double, double) { return true; },
                                [](double x, double) { return x + 2.0; });
  for (const auto& [op, expected] : kExpected) {
    ErrorSink sink;
    const std::vector<std::vector<double>> results = {
        valuesOf(combine(a, b, op, kMissing, sink)),
        valuesOf(combine(a, 3.0, op, false, kMissing, sink)),
        valuesOf(combine(a, 3.0, op, true, kMissing, sink)),
        valuesOf(combineWithSurface(a, surface, op, true, kMissing, sink)),
        valuesOf(combineWithSurface(a, surface, op, false, kMissing, sink))};
    SCOPED_TRACE(static_cast<int>(op));
    EXPECT_FALSE(sink.failed());
    EXPECT_EQ(results[0], (std::vector{kMissing, kMissing, expected[0], expected[1]}));
    // With a number or a surface: the missing element stays missing, the one before it is not.
    for (std::size_t k = 1; k < results.size(); ++k)
      EXPECT_EQ(std::pair(results[k][0] == kMissing, results[k][1]), std::pair(false, kMissing));
    // The number, the data and the surface on the left.
    EXPECT_EQ(std::tuple(results[2][2], results[3][3], results[4][3]),
              std::tuple(expected[2], expected[3], expected[4]));
  }
  const std::pair<UnaryFn, double> unary[] = {{Sqrt, 0.5},
                                              {Abs, 0.25},
                                              {Exp, std::exp(0.25)},
                                              {Ln, -2.0 * std::log(2.0)},
                                              {Lg, -0.60205999132796239},
                                              {Sin, std::sin(0.25)},
                                              {Cos, std::cos(0.25)},
                                              {Tg, std::tan(0.25)},
                                              {ArcTg, std::atan(0.25)},
                                              {Not, 0.0}};
  for (const auto& [fn, expected] : unary) {
    ErrorSink sink;
    const auto r = valuesOf(apply(DATA({0.25, kMissing}), fn, kRadiansFactor, kMissing, sink));
    EXPECT_FALSE(sink.failed());
    EXPECT_EQ(r[1], kMissing);
    EXPECT_DOUBLE_EQ(r[0], expected) << static_cast<int>(fn);
  }
  EXPECT_EQ(valuesOf(negate(a, kMissing)), (std::vector<double>{-2.0, kMissing, 3.0, -4.0}));
  EXPECT_EQ(valuesOf(filled(a, 0.0, kMissing)), (std::vector<double>{0.0, kMissing, 0.0, 0.0}));
  EXPECT_EQ(std::tuple(sum(a, kMissing), minimum(a, kMissing), maximum(a, kMissing)),
            std::tuple(3.0, -3.0, 4.0));
  const DATA allMissing({kMissing, kMissing});
  EXPECT_EQ(std::tuple(sum(allMissing, kMissing), minimum(allMissing, kMissing),
                       maximum(allMissing, kMissing)),
            std::tuple(0.0, 9.999999680285692e37, -9.999999680285692e37));
}

TEST(DataKernels, ResultsTakeTheLeftDataOperandsCoordinatesAndLeaveSharedOperandsAlone) {
  const DATA d3 = withCoordinates({1.0, 2.0, 3.0});
  const DATA d4({10.0, 20.0, 30.0});
  ErrorSink sink;
  // A temporary operand is written into; the result has the coordinates of the data operand.
  DATA product = combine(d4, 2.0, Multiply, false, kMissing, sink);
  const DATA result = combine(d3, std::move(product), Add, kMissing, sink);
  EXPECT_EQ(valuesOf(result), (std::vector<double>{21.0, 42.0, 63.0}));
  EXPECT_EQ(result.x().data(), d3.x().data());
  EXPECT_FALSE(combine(d4, d3, Add, kMissing, sink).hasCoordinates());
  EXPECT_EQ(valuesOf(d3), (std::vector<double>{1.0, 2.0, 3.0}));
  // A copy held elsewhere keeps its values when the other copy is handed over.
  DATA shared = d4;
  EXPECT_EQ(valuesOf(negate(std::move(shared), kMissing)),
            (std::vector<double>{-10.0, -20.0, -30.0}));
  EXPECT_EQ(valuesOf(d4), (std::vector<double>{10.0, 20.0, 30.0}));
  EXPECT_FALSE(sink.failed());
}

TEST(DataKernels, FaultsGiveTheirCodes) {
  const DATA d({4.0, kMissing, 0.0});
  const DATA ones({1.0, 1.0, 1.0});
  const FunctionSurface zero([](double, double) { return true; },
                             [](double, double) { return 0.0; });
  // Of columns of different length the result is the left operand, with code 101.
  ErrorSink length;
  EXPECT_EQ(valuesOf(combine(DATA({1.0, 2.0, 3.0}), DATA({1.0, 2.0}), Add, kMissing, length)),
            (std::vector<double>{1.0, 2.0, 3.0}));
  EXPECT_EQ(length.code(), kDataLength);
  // A missing divisor is no zero divisor; a surface that is zero at a point is one (103); a
  // surface needs coordinates.
  const DATA holed({2, kMissing, 4});
  const DATA located = withCoordinates({1});
  const std::pair<std::function<void(ErrorSink&)>, int> faults[] = {
      {[&](ErrorSink& s) { combine(ones, holed, Divide, kMissing, s); }, kNone},
      {[&](ErrorSink& s) { combine(ones, d, Divide, kMissing, s); }, kDivisionByZero},
      {[&](ErrorSink& s) { combine(d, 0.0, Divide, false, kMissing, s); }, kDivisionByZero},
      {[&](ErrorSink& s) { combine(d, 8.0, Divide, true, kMissing, s); }, kDivisionByZero},
      {[&](ErrorSink& s) { combineWithSurface(located, zero, Divide, true, kMissing, s); },
       kDivisionByZero},
      {[&](ErrorSink& s) { combineWithSurface(DATA({1.0}), zero, Add, true, kMissing, s); },
       kDataNoCoordinates}};
  for (std::size_t row = 0; row < std::size(faults); ++row) {
    ErrorSink sink;
    faults[row].first(sink);
    EXPECT_EQ(sink.code(), faults[row].second) << "row " << row;
  }
  ErrorSink sink;  // D / N multiplies by 1 / N
  const DATA r = combine(DATA({10.0, 0.0}), 3.0, Divide, false, kMissing, sink);
  EXPECT_FALSE(sink.failed());
  EXPECT_EQ(valuesOf(r), (std::vector<double>{10.0 * (1.0 / 3.0), 0.0}));
}

TEST(DataKernels, SurfacesGiveMissingOutsideAndSignsAreKept) {
  // Rectangle [0, 2] x [10, 11], bounds included; points (0,10) (1,11) (2,12) (3,13).
  const FunctionSurface surface(
      [](double x, double y) { return x >= 0 && x <= 2 && y >= 10 && y <= 11; },
      [](double x, double y) { return x * 100 + y; });
  const DATA d = withCoordinates({1.0, 2.0, 3.0, kMissing});
  ErrorSink sink;
  const auto r = valuesOf(combineWithSurface(d, surface, Subtract, true, kMissing, sink));
  EXPECT_FALSE(sink.failed());
  EXPECT_EQ(r, (std::vector<double>{1.0 - 10.0, 2.0 - 111.0, kMissing, kMissing}));
  const auto flipped = valuesOf(combineWithSurface(d, surface, Subtract, false, kMissing, sink));
  EXPECT_EQ(flipped[1], 111.0 - 2.0);
  // The sign-keeping product negates where a negative number meets a negative element.
  const DATA n = combine(DATA({-2.0, kMissing}), -4.0, MultiplySignKeeping, true, kMissing, sink);
  EXPECT_EQ(valuesOf(n), (std::vector<double>{-8.0, kMissing}));
}

TEST(DataKernels, DomainErrorsGiveCode104AndAngleUnitsApply) {
  for (UnaryFn fn : {Sqrt, Ln, Lg, ArcSin, ArcCos}) {
    ErrorSink sink;
    const DATA r = apply(DATA({1.0, -2.0, 1.0}), fn, kRadiansFactor, kMissing, sink);
    EXPECT_EQ(sink.code(), kDataDomain) << static_cast<int>(fn);
  }
  ErrorSink sink;
  const DATA r = apply(DATA({4.0, -1.0, kMissing}), Sqrt, 1.0, kMissing, sink);
  // The elements before the failing one are computed.
  EXPECT_EQ(std::pair(r.values()[0], sink.code()), std::pair(2.0, kDataDomain));

  ErrorSink degrees;
  const DATA s = apply(DATA({30.0}), Sin, kDegreesFactor, kMissing, degrees);
  EXPECT_NEAR(s.values()[0], 0.5, 1e-15);
  const DATA back = apply(s, ArcSin, kDegreesFactor, kMissing, degrees);
  EXPECT_NEAR(back.values()[0], 30.0, 1e-12);
  EXPECT_FALSE(degrees.failed());
}

TEST(DataKernels, LongKernelsStopAtTheFirstBlockAfterACancel) {
  constexpr std::size_t kCount = 300000;
  std::vector<double> values(kCount);
  for (std::size_t i = 0; i < kCount; ++i) values[i] = 1.0 + static_cast<double>(i % 97);
  const DATA d = withCoordinates(values);
  const FunctionSurface plane([](double, double) { return true; },
                              [](double x, double y) { return x + y; });
  const std::function<DATA(ErrorSink&)> kernels[] = {
      [&](ErrorSink& s) { return combine(d, 2.0, Multiply, false, kMissing, s); },
      [&](ErrorSink& s) { return combine(d, d, Divide, kMissing, s); },
      [&](ErrorSink& s) { return combineWithSurface(d, plane, Add, true, kMissing, s); },
      [&](ErrorSink& s) { return apply(d, Sqrt, 1.0, kMissing, s); },
      [&](ErrorSink& s) { return negate(d, kMissing, &s); },
  };
  for (const auto& kernel : kernels) {
    ErrorSink plain;
    const DATA expected = kernel(plain);
    ASSERT_FALSE(plain.failed());
    vellumar::testing::RecordingObserver observer(1);
    ErrorSink sink(&observer);
    sink.progressStart("Расчет данных...", 0);
    const DATA stopped = kernel(sink);
    EXPECT_EQ(sink.code(), kCancelled);
    // One report, at the end of the first blocks, far from the end of the column; the total of
    // the stage was shown.
    ASSERT_EQ(observer.steps.size(), 1u);
    EXPECT_LT(observer.steps[0], static_cast<std::int64_t>(kCount) / 2);
    EXPECT_EQ(observer.starts.back().second, static_cast<std::int64_t>(kCount));
    // The elements after the stop were never computed.
    EXPECT_NE(stopped.values()[kCount - 1], expected.values()[kCount - 1]);
  }
}

}  // namespace
}  // namespace vellumar::data
