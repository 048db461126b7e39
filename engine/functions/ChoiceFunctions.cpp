#include "engine/Calculator.h"
#include "engine/DataOperands.h"
#include "engine/OperandKernels.h"
#include "engine/Operators.h"
#include "engine/functions/Functions.h"

namespace vellumar::engine::functions {

Operand choose(S_Calculator&, Arguments& args) {
  Operand chosen = args[0].numberValue() == 1.0 ? args[1] : args[2];
  // A polygon passed through IF comes back as lines.
  if (chosen.isLineKind()) chosen.setKind(Kind::Lines);
  return chosen;
}

void checkChoiceCondition(S_Calculator& calc, const Arguments& args) {
  if (args.size() == 1 && !args[0].isNumber()) {
    calc.argumentError(ArgumentMessage::InvalidValue, 1);
  }
}

Operand minimum(S_Calculator& calc, Arguments& args) {
  if (args.size() == 2) return extremumInPolygon<false>(calc, args);
  return extremum(calc, args[0], false);
}

Operand maximum(S_Calculator& calc, Arguments& args) {
  if (args.size() == 2) return extremumInPolygon<true>(calc, args);
  return extremum(calc, args[0], true);
}

Operand sum(S_Calculator& calc, Arguments& args) {
  if (args.size() == 2) return sumInPolygon(calc, args);
  return dataSum(calc, args[0]);
}

bool multiplicationPair(S_Calculator& calc, const Arguments& args) {
  const Kind first = args[0].kind();
  const Kind second = args[1].kind();
  const bool twoPolygons = first == Kind::Polygon && second == Kind::Polygon;
  if (twoPolygons || !multiplicationAccepts(first, second)) {
    calc.argumentError(ArgumentMessage::InvalidCombination);
    return false;
  }
  if (first == Kind::Data && second == Kind::Data &&
      args[0].points().count() != args[1].points().count()) {
    calc.argumentError(ArgumentMessage::DifferentLengths);
    return false;
  }
  return true;
}

Operand multiplyKeepingSign(S_Calculator& calc, Arguments& args) {
  return combine(calc, BinaryOp::MultiplySignKeeping, args[0], args[1]);
}

}  // namespace vellumar::engine::functions
