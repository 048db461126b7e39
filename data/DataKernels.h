#pragma once

#include <cstdint>
#include <span>
#include <utility>

#include "common/ErrorSink.h"
#include "common/Pointwise.h"
#include "data/DATA.h"

namespace vellumar::data {

// Element-wise kernels of data operands. Every kernel builds a new DATA with the count and the
// coordinates (shared, not copied) of its data operand, the left one when both are data. An
// element equal to `missing` (the engine's outC) gives a missing result element. Failures are
// recorded on the sink as kernel codes (sink_code::kDataLength .. kDataDomain) and the kernel
// returns; the result of a failed kernel is not meant to be used. The element-wise kernels report
// their progress through the sink once per block of elements and stop there on cancel.
//
// Operands are taken by value: pass a temporary with std::move and, when nobody else shares its
// value column, the kernel writes the result into that column instead of allocating a new one.

// A surface a data operand can be combined with (a grid's spline surface, adapted by the engine).
class SurfaceSampler {
 public:
  virtual ~SurfaceSampler() = default;
  // True when (x, y) lies in the surface's rectangle, bounds included.
  virtual bool contains(double x, double y) const = 0;
  // The surface value at a point it contains.
  virtual double value(double x, double y) const = 0;
};

// A SurfaceSampler made of two callables.
template <class Contains, class Value>
class FunctionSurface final : public SurfaceSampler {
 public:
  FunctionSurface(Contains contains, Value value)
      : contains_(std::move(contains)), value_(std::move(value)) {}
  bool contains(double x, double y) const override { return contains_(x, y); }
  double value(double x, double y) const override { return value_(x, y); }

 private:
  Contains contains_;
  Value value_;
};

// a op b element by element. Counts must agree, else code 101 and a copy of a; a zero divisor
// element sets code 103.
DATA combine(DATA a, DATA b, BinaryOp op, double missing, ErrorSink& sink);

// d op n, or n op d when numberOnLeft. D / N multiplies by 1 / N (N = 0 sets code 103); N / D
// with a zero element sets code 103.
DATA combine(DATA d, double n, BinaryOp op, bool numberOnLeft, double missing, ErrorSink& sink);

// d op surface(x, y), or surface op d when !dataOnLeft. d needs coordinates, else code 102; a
// point the surface does not contain gives a missing element; a zero divisor sets code 103.
DATA combineWithSurface(DATA d, const SurfaceSampler& surface, BinaryOp op, bool dataOnLeft,
                        double missing, ErrorSink& sink);

// fn of every element (angles scaled by angleFactor, see Pointwise.h). Tg with a zero cosine
// sets code 103, a value outside the domain code 104; the kernel stops at that element.
DATA apply(DATA d, UnaryFn fn, double angleFactor, double missing, ErrorSink& sink);

// Every element negated; progress (may be null) may cancel it.
DATA negate(DATA d, double missing, ErrorSink* progress = nullptr);

// Every element set to value (assignment of a number to a data operand).
DATA filled(DATA d, double value, double missing);

// 0.0 plus every element, in order.
double sum(const DATA& d, double missing);

// Start values of minimum and maximum; a column of missing elements yields them.
inline constexpr double kMinimumStart = 9.999999680285692e37;
inline constexpr double kMaximumStart = -9.999999680285692e37;

double minimum(const DATA& d, double missing);
double maximum(const DATA& d, double missing);

// Count, sum, smallest and largest of the elements that are not missing and whose flag in
// selected is set (selected holds one flag per element; an empty span selects every element).
// The smallest and largest start from kMinimumStart and kMaximumStart and are replaced only by a
// strictly smaller (larger) element.
struct Reduction {
  std::size_t count = 0;
  double sum = 0.0;
  double min = kMinimumStart;
  double max = kMaximumStart;
};
Reduction reduce(const DATA& d, double missing, std::span<const std::uint8_t> selected = {});

// The rows of d (value and, when d has them, X and Y) whose flag equals keep, in their order.
DATA keepRows(const DATA& d, std::span<const std::uint8_t> flags, bool keep);

}  // namespace vellumar::data
