#pragma once

#include <cmath>

#include "common/Language.h"

namespace vellumar {

// The scalar rules shared by numbers, data elements and grid nodes, so that every operand kind
// computes an operation the same way.

enum class BinaryOp {
  Add,
  Subtract,
  Multiply,
  Divide,
  MultiplySignKeeping,  // Mul_SP: -|a*b| where both factors are negative
  Min,
  Max,
  And,
  Or,
  Equal,
  Great,
  GreatEqual,
  Less,
  LessEqual,
};

enum class UnaryFn { Sqrt, Abs, Exp, Ln, Lg, Sin, Cos, Tg, ArcSin, ArcCos, ArcTg, Not };

enum class [[nodiscard]] DomainStatus{Ok, DivisionByZero, OutOfDomain};

// The texts of the two failures of DomainStatus, which data elements and grid nodes report alike.
namespace text {
inline constexpr MessageText kDivisionByZero{"деление на 0!", "division by 0!"};
inline constexpr MessageText kOutOfDomain{"недопустимое значение аргумента!",
                                          "invalid argument value!"};
}  // namespace text

// Angle factor of the trigonometric functions: angles are multiplied by it before Sin, Cos and
// Tg, and the results of ArcSin, ArcCos and ArcTg are divided by it.
inline constexpr double kRadiansFactor = 1.0;
inline constexpr double kDegreesFactor = 0.017453292519943295;

inline double applyBinary(BinaryOp op, double a, double b) {
  switch (op) {
    case BinaryOp::Add:
      return a + b;
    case BinaryOp::Subtract:
      return a - b;
    case BinaryOp::Multiply:
      return a * b;
    case BinaryOp::Divide:
      return a / b;
    case BinaryOp::MultiplySignKeeping:
      return (a < 0.0 && b < 0.0) ? -(a * b) : a * b;
    case BinaryOp::Min:
      return a < b ? a : b;
    case BinaryOp::Max:
      return a > b ? a : b;
    case BinaryOp::And:
      return (a != 0.0 && b != 0.0) ? 1.0 : 0.0;
    case BinaryOp::Or:
      return (a == 0.0 && b == 0.0) ? 0.0 : 1.0;
    case BinaryOp::Equal:
      return a == b ? 1.0 : 0.0;
    case BinaryOp::Great:
      return a > b ? 1.0 : 0.0;
    case BinaryOp::GreatEqual:
      return a >= b ? 1.0 : 0.0;
    case BinaryOp::Less:
      return a < b ? 1.0 : 0.0;
    case BinaryOp::LessEqual:
      return a <= b ? 1.0 : 0.0;
  }
  return 0.0;
}

// Applies fn to v; on a domain failure out is left unchanged and the status says which failure.
inline DomainStatus applyUnary(UnaryFn fn, double v, double angleFactor, double& out) {
  switch (fn) {
    case UnaryFn::Sqrt:
      if (v < 0.0) return DomainStatus::OutOfDomain;
      out = std::sqrt(v);
      break;
    case UnaryFn::Abs:
      out = std::fabs(v);
      break;
    case UnaryFn::Exp:
      out = std::exp(v);
      break;
    case UnaryFn::Ln:
      if (v <= 0.0) return DomainStatus::OutOfDomain;
      out = std::log(v);
      break;
    case UnaryFn::Lg:
      if (v <= 0.0) return DomainStatus::OutOfDomain;
      out = std::log10(v);
      break;
    case UnaryFn::Sin:
      out = std::sin(v * angleFactor);
      break;
    case UnaryFn::Cos:
      out = std::cos(v * angleFactor);
      break;
    case UnaryFn::Tg: {
      const double c = std::cos(v * angleFactor);
      if (c == 0.0) return DomainStatus::DivisionByZero;
      out = std::sin(v * angleFactor) / c;
      break;
    }
    case UnaryFn::ArcSin:
      if (v < -1.0 || v > 1.0) return DomainStatus::OutOfDomain;
      out = std::asin(v) / angleFactor;
      break;
    case UnaryFn::ArcCos:
      if (v < -1.0 || v > 1.0) return DomainStatus::OutOfDomain;
      out = std::acos(v) / angleFactor;
      break;
    case UnaryFn::ArcTg:
      out = std::atan(v) / angleFactor;
      break;
    case UnaryFn::Not:
      out = (v == 0.0) ? 1.0 : 0.0;
      break;
  }
  return DomainStatus::Ok;
}

}  // namespace vellumar
