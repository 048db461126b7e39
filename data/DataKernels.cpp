#include "data/DataKernels.h"

#include <cstdint>
#include <vector>

#include "common/Memory.h"

namespace vellumar::data {
namespace {

template <BinaryOp Op>
struct OpTag {
  static constexpr BinaryOp op = Op;
};

// Calls body with the operation as a compile-time tag, so every loop below is compiled once per
// operation with the operation folded in (no switch per element).
template <class Body>
void withOp(BinaryOp op, Body&& body) {
  switch (op) {
    case BinaryOp::Add:
      return body(OpTag<BinaryOp::Add>{});
    case BinaryOp::Subtract:
      return body(OpTag<BinaryOp::Subtract>{});
    case BinaryOp::Multiply:
      return body(OpTag<BinaryOp::Multiply>{});
    case BinaryOp::Divide:
      return body(OpTag<BinaryOp::Divide>{});
    case BinaryOp::MultiplySignKeeping:
      return body(OpTag<BinaryOp::MultiplySignKeeping>{});
    case BinaryOp::Min:
      return body(OpTag<BinaryOp::Min>{});
    case BinaryOp::Max:
      return body(OpTag<BinaryOp::Max>{});
    case BinaryOp::And:
      return body(OpTag<BinaryOp::And>{});
    case BinaryOp::Or:
      return body(OpTag<BinaryOp::Or>{});
    case BinaryOp::Equal:
      return body(OpTag<BinaryOp::Equal>{});
    case BinaryOp::Great:
      return body(OpTag<BinaryOp::Great>{});
    case BinaryOp::GreatEqual:
      return body(OpTag<BinaryOp::GreatEqual>{});
    case BinaryOp::Less:
      return body(OpTag<BinaryOp::Less>{});
    case BinaryOp::LessEqual:
      return body(OpTag<BinaryOp::LessEqual>{});
  }
}

// Writes the n result elements, block by block with the sink's progress. pair(i, a, b) yields the
// operands of element i and returns false when the element is missing. Division stops at the
// first zero divisor (code 103), and a cancel at the end of a block, leaving the rest of out as it
// was.
template <BinaryOp Op, class Pair>
void combineElements(double* out, std::size_t n, double missing, ErrorSink& sink, Pair&& pair) {
  ProgressPacer pacer(&sink, static_cast<std::int64_t>(n));
  double a = 0.0;
  double b = 0.0;
  forEachBlock(n, pacer, [&](std::size_t begin, std::size_t end) {
    if constexpr (Op == BinaryOp::Divide) {
      for (std::size_t i = begin; i < end; ++i) {
        if (!pair(i, a, b)) {
          out[i] = missing;
        } else if (b == 0.0) {
          sink.kernelError(sink_code::kDivisionByZero);
          return false;
        } else {
          out[i] = a / b;
        }
      }
    } else {
      for (std::size_t i = begin; i < end; ++i) {
        const bool present = pair(i, a, b);
        out[i] = present ? applyBinary(Op, a, b) : missing;
      }
    }
    return true;
  });
}

// A new column of n elements. A large one is asked to sit on huge pages before it is first
// touched, which more than halves the page-fault cost of a fresh 80 MB column.
std::vector<double> freshColumn(std::size_t n) {
  return memory::filledVector(n, 0.0);
}

// The column a kernel writes its result into: the operand's own column when the caller handed
// the operand over and nobody else shares it (a temporary of the evaluation), else a fresh one.
// Element i of the result only depends on element i of the operands, so writing in place is safe.
std::vector<double> resultColumn(DATA& operand) {
  if (operand.ownsValues()) return operand.takeValues();
  return freshColumn(operand.count());
}

}  // namespace

DATA combine(DATA a, DATA b, BinaryOp op, double missing, ErrorSink& sink) {
  if (a.count() != b.count()) {
    sink.kernelError(sink_code::kDataLength);
    return a;
  }
  const double* left = a.values().data();
  const double* right = b.values().data();
  std::vector<double> out = b.ownsValues() ? resultColumn(b) : resultColumn(a);
  withOp(op, [&](auto tag) {
    combineElements<decltype(tag)::op>(out.data(), out.size(), missing, sink,
                                       [&](std::size_t i, double& x, double& y) {
                                         x = left[i];
                                         y = right[i];
                                         return x != missing && y != missing;
                                       });
  });
  return a.withValues(std::move(out));
}

DATA combine(DATA d, double n, BinaryOp op, bool numberOnLeft, double missing, ErrorSink& sink) {
  if (op == BinaryOp::Divide && !numberOnLeft) {
    if (n == 0.0) {
      sink.kernelError(sink_code::kDivisionByZero);
      return d;
    }
    return combine(std::move(d), 1.0 / n, BinaryOp::Multiply, false, missing, sink);
  }
  const double* values = d.values().data();
  std::vector<double> out = resultColumn(d);
  withOp(op, [&](auto tag) {
    combineElements<decltype(tag)::op>(out.data(), out.size(), missing, sink,
                                       [&](std::size_t i, double& x, double& y) {
                                         const double v = values[i];
                                         x = numberOnLeft ? n : v;
                                         y = numberOnLeft ? v : n;
                                         return v != missing;
                                       });
  });
  return d.withValues(std::move(out));
}

DATA combineWithSurface(DATA d, const SurfaceSampler& surface, BinaryOp op, bool dataOnLeft,
                        double missing, ErrorSink& sink) {
  if (!d.hasCoordinates()) {
    sink.kernelError(sink_code::kDataNoCoordinates);
    return d;
  }
  const double* values = d.values().data();
  const double* xs = d.x().data();
  const double* ys = d.y().data();
  std::vector<double> out = resultColumn(d);
  withOp(op, [&](auto tag) {
    combineElements<decltype(tag)::op>(out.data(), out.size(), missing, sink,
                                       [&](std::size_t i, double& x, double& y) {
                                         const double v = values[i];
                                         if (v == missing || !surface.contains(xs[i], ys[i]))
                                           return false;
                                         const double s = surface.value(xs[i], ys[i]);
                                         x = dataOnLeft ? v : s;
                                         y = dataOnLeft ? s : v;
                                         return true;
                                       });
  });
  return d.withValues(std::move(out));
}

DATA apply(DATA d, UnaryFn fn, double angleFactor, double missing, ErrorSink& sink) {
  std::vector<double> out = d.takeValues();
  ProgressPacer pacer(&sink, static_cast<std::int64_t>(out.size()));
  forEachBlock(out.size(), pacer, [&](std::size_t begin, std::size_t end) {
    for (std::size_t i = begin; i < end; ++i) {
      double& v = out[i];
      if (v == missing) continue;
      const DomainStatus status = applyUnary(fn, v, angleFactor, v);
      if (status == DomainStatus::DivisionByZero) {
        sink.kernelError(sink_code::kDivisionByZero);
        return false;
      }
      if (status == DomainStatus::OutOfDomain) {
        sink.kernelError(sink_code::kDataDomain);
        return false;
      }
    }
    return true;
  });
  return d.withValues(std::move(out));
}

DATA negate(DATA d, double missing, ErrorSink* progress) {
  std::vector<double> out = d.takeValues();
  ProgressPacer pacer(progress, static_cast<std::int64_t>(out.size()));
  forEachBlock(out.size(), pacer, [&](std::size_t begin, std::size_t end) {
    for (std::size_t i = begin; i < end; ++i) out[i] = out[i] == missing ? missing : -out[i];
  });
  return d.withValues(std::move(out));
}

DATA filled(DATA d, double value, double missing) {
  std::vector<double> out = d.takeValues();
  for (double& v : out) v = v == missing ? missing : value;
  return d.withValues(std::move(out));
}

double sum(const DATA& d, double missing) {
  double total = 0.0;
  for (double v : d.values()) {
    if (v != missing) total += v;
  }
  return total;
}

double minimum(const DATA& d, double missing) {
  double result = kMinimumStart;
  for (double v : d.values()) {
    if (v != missing && v < result) result = v;
  }
  return result;
}

double maximum(const DATA& d, double missing) {
  double result = kMaximumStart;
  for (double v : d.values()) {
    if (v != missing && v > result) result = v;
  }
  return result;
}

Reduction reduce(const DATA& d, double missing, std::span<const std::uint8_t> selected) {
  Reduction result;
  const std::span<const double> values = d.values();
  for (std::size_t k = 0; k < values.size(); ++k) {
    const double v = values[k];
    if (v == missing || (!selected.empty() && selected[k] == 0)) continue;
    ++result.count;
    result.sum += v;
    if (v < result.min) result.min = v;
    if (v > result.max) result.max = v;
  }
  return result;
}

DATA keepRows(const DATA& d, std::span<const std::uint8_t> flags, bool keep) {
  const std::span<const double> values = d.values();
  std::size_t count = 0;
  for (std::size_t k = 0; k < values.size(); ++k) count += (flags[k] != 0) == keep;
  // Each column in one pass of its own, written in place.
  auto kept = [&](std::span<const double> column) {
    std::vector<double> out(count);
    std::size_t n = 0;
    for (std::size_t k = 0; k < column.size(); ++k) {
      if ((flags[k] != 0) == keep) out[n++] = column[k];
    }
    return out;
  };
  if (!d.hasCoordinates()) return DATA(kept(values));
  return DATA(kept(values), kept(d.x()), kept(d.y()));
}

}  // namespace vellumar::data
