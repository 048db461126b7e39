#include "engine/OperandKernels.h"

#include "engine/Calculator.h"
#include "engine/DataOperands.h"
#include "engine/GridOperands.h"
#include "engine/LineOperands.h"

namespace vellumar::engine {
namespace {

Operand combineNumbers(BinaryOp op, double a, double b) {
  return Operand::number(applyBinary(op, a, b));
}

Operand applyToNumber(S_Calculator& calc, UnaryFn fn, const Operand& x) {
  double result = 0.0;
  switch (applyUnary(fn, x.numberValue(), calc.angleFactor(), result)) {
    case DomainStatus::Ok:
      return Operand::number(result);
    case DomainStatus::DivisionByZero:
      calc.kernelError(sink_code::kDivisionByZero);
      break;
    case DomainStatus::OutOfDomain:
      calc.argumentError(ArgumentMessage::InvalidValue, x.argumentPosition());
      break;
  }
  return Operand();
}

bool involves(const Operand& a, const Operand& b, Kind kind) {
  return a.kind() == kind || b.kind() == kind;
}

}  // namespace

Operand combine(S_Calculator& calc, BinaryOp op, Operand a, Operand b) {
  if (calc.failed()) return Operand();
  if (a.isNumber() && b.isNumber()) return combineNumbers(op, a.numberValue(), b.numberValue());
  if (a.kind() == Kind::Polygon && b.kind() == Kind::Polygon) {
    return combinePolygons(calc, op, a, b);
  }
  if (a.isLineKind() || b.isLineKind()) return combineLinesWithNumber(calc, op, a, b);
  if (involves(a, b, Kind::Data)) return combineData(calc, op, std::move(a), std::move(b));
  return combineGrids(calc, op, std::move(a), std::move(b));
}

Operand apply(S_Calculator& calc, UnaryFn fn, const Operand& x) {
  if (calc.failed()) return Operand();
  switch (x.kind()) {
    case Kind::Number:
      return applyToNumber(calc, fn, x);
    case Kind::Grid:
      return applyToGrid(calc.context(), fn, x);
    case Kind::Data:
      return applyToData(calc.context(), fn, x);
    case Kind::Polygon:
    case Kind::Lines:
      return applyToLines(calc.context(), fn, x);
  }
  return Operand();
}

Operand negated(S_Calculator& calc, const Operand& x) {
  if (calc.failed()) return Operand();
  switch (x.kind()) {
    case Kind::Number:
      return Operand::number(-0.0 - x.numberValue());
    case Kind::Grid:
      return negateGrid(calc, x);
    case Kind::Data:
      return negateData(calc, x);
    case Kind::Polygon:
    case Kind::Lines:
      return negateLines(calc, x);
  }
  return Operand();
}

Operand fillWithNumber(S_Calculator& calc, const Operand& target, double value) {
  switch (target.kind()) {
    case Kind::Number:
      return Operand::number(value);
    case Kind::Grid:
      return fillGrid(calc, target, value);
    case Kind::Data:
      return fillData(calc, target, value);
    case Kind::Polygon:
    case Kind::Lines:
      return fillLines(calc, target, value);
  }
  return Operand();
}

Operand extremum(S_Calculator& calc, const Operand& x, bool largest) {
  if (calc.failed()) return Operand();
  switch (x.kind()) {
    case Kind::Number:
      return Operand::number(x.numberValue());
    case Kind::Grid:
      return gridExtremum(calc, x, largest);
    case Kind::Data:
      return dataExtremum(calc, x, largest);
    case Kind::Polygon:
    case Kind::Lines:
      return lineExtremum(calc, x, largest);
  }
  return Operand();
}

}  // namespace vellumar::engine
