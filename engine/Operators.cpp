#include "engine/Operators.h"

#include <cmath>

#include "engine/Calculator.h"
#include "engine/CoordinateSystems.h"
#include "engine/OperandKernels.h"
#include "grid/Grid.h"

namespace vellumar::engine {
namespace {

bool pairAllowed(BinaryOp op, Kind left, Kind right) {
  switch (left) {
    case Kind::Number:
      return true;
    case Kind::Grid:
    case Kind::Data:
      return right == Kind::Number || right == Kind::Grid || right == Kind::Data;
    case Kind::Polygon:
      return right == Kind::Number || (right == Kind::Polygon && op != BinaryOp::Divide);
    case Kind::Lines:
      return right == Kind::Number;
  }
  return false;
}

// The common steps of + - * /.
Operand dispatch(S_Calculator& calc, BinaryOp op, const MessageText& name, Operand left,
                 Operand right) {
  if (calc.failed()) return Operand();
  calc.setContextName(name.in(calc.language()));
  left.setArgumentPosition(1);
  right.setArgumentPosition(2);
  if (op == BinaryOp::Divide && right.isNumber() && right.numberValue() == 0.0) {
    calc.kernelError(sink_code::kDivisionByZero);
    return Operand();
  }
  if (!pairAllowed(op, left.kind(), right.kind())) {
    calc.argumentError(ArgumentMessage::InvalidCombination);
    return Operand();
  }
  const Operand* const pair[] = {&left, &right};
  if (!checkCoordinateSystems(calc, pair)) return Operand();
  const std::optional<grid::Georeference> georeference = resultGeoreference(pair);
  Operand result = combine(calc, op, std::move(left), std::move(right));
  carryGeoreference(result, georeference);
  return result;
}

// Exponents up to this many multiplications are computed one multiplication at a time; larger
// ones by repeated squaring, so that 2^1e15 does not run for days.
constexpr double kMostNumberSteps = 1 << 20;
constexpr double kMostOperandSteps = 64;

double numberPower(double base, double exponent) {
  double result = base;
  if (exponent - 1 <= kMostNumberSteps) {
    for (double step = 1; step < exponent; ++step) result *= base;
    return result;
  }
  result = 1.0;
  for (double k = exponent; k >= 1; k = std::floor(k / 2)) {
    if (std::fmod(k, 2.0) == 1.0) result *= base;
    base *= base;
  }
  return result;
}

Operand operandPower(S_Calculator& calc, const Operand& base, double exponent) {
  if (exponent - 1 <= kMostOperandSteps) {
    Operand result = base;
    for (double step = 1; step < exponent && !calc.failed(); ++step) {
      result = multiply(calc, result, base);
    }
    return result;
  }
  Operand square = base;
  Operand result;
  bool started = false;
  for (double k = exponent; k >= 1 && !calc.failed(); k = std::floor(k / 2)) {
    if (std::fmod(k, 2.0) == 1.0) {
      result = started ? multiply(calc, result, square) : square;
      started = true;
    }
    if (k >= 2) square = multiply(calc, square, square);
  }
  return result;
}

}  // namespace

bool multiplicationAccepts(Kind left, Kind right) {
  return pairAllowed(BinaryOp::Multiply, left, right);
}

Operand add(S_Calculator& calc, Operand left, Operand right) {
  return dispatch(calc, BinaryOp::Add, text::kSumming, std::move(left), std::move(right));
}

Operand subtract(S_Calculator& calc, Operand left, Operand right) {
  return dispatch(calc, BinaryOp::Subtract, text::kSubtraction, std::move(left), std::move(right));
}

Operand multiply(S_Calculator& calc, Operand left, Operand right) {
  return dispatch(calc, BinaryOp::Multiply, text::kMultiplying, std::move(left), std::move(right));
}

Operand divide(S_Calculator& calc, Operand left, Operand right) {
  return dispatch(calc, BinaryOp::Divide, text::kDivision, std::move(left), std::move(right));
}

Operand raise(S_Calculator& calc, Operand left, Operand right) {
  if (calc.failed()) return Operand();
  left.setArgumentPosition(1);
  right.setArgumentPosition(2);
  if ((left.isLineKind() && !right.isNumber()) || (right.isLineKind() && !left.isNumber())) {
    calc.argumentError(ArgumentMessage::InvalidCombination);
    return Operand();
  }
  if (right.isNumber()) {
    const double k = right.numberValue();
    if (k == std::trunc(k) && k >= 1) {
      if (!left.isNumber()) return operandPower(calc, left, k);
      // Repeated multiplication, named as the multiplications of operand powers are.
      calc.setContextName(text::kMultiplying.in(calc.language()));
      return Operand::number(numberPower(left.numberValue(), k));
    }
  }
  calc.setContextName("Ln");
  Operand logarithm = apply(calc, UnaryFn::Ln, left);
  Operand product = multiply(calc, right, logarithm);
  calc.setContextName("Exp");
  return apply(calc, UnaryFn::Exp, product);
}

Operand negate(S_Calculator& calc, const Operand& operand) {
  return negated(calc, operand);
}

}  // namespace vellumar::engine
