#include "engine/Calculator.h"
#include "engine/OperandKernels.h"
#include "engine/functions/Functions.h"

namespace vellumar::engine::functions {

template <UnaryFn fn>
Operand unary(S_Calculator& calc, Arguments& args) {
  return apply(calc, fn, args[0]);
}

template <BinaryOp op>
Operand binary(S_Calculator& calc, Arguments& args) {
  return combine(calc, op, args[0], args[1]);
}

bool lineWithNumberOnly(S_Calculator& calc, const Arguments& args) {
  const Operand& first = args[0];
  const Operand& second = args[1];
  if (first.isLineKind() && !second.isNumber()) {
    calc.argumentError(ArgumentMessage::InvalidType, 2);
    return false;
  }
  if (second.isLineKind() && !first.isNumber()) {
    calc.argumentError(ArgumentMessage::InvalidType, 1);
    return false;
  }
  return true;
}

template Operand unary<UnaryFn::Sqrt>(S_Calculator&, Arguments&);
template Operand unary<UnaryFn::Abs>(S_Calculator&, Arguments&);
template Operand unary<UnaryFn::Exp>(S_Calculator&, Arguments&);
template Operand unary<UnaryFn::Ln>(S_Calculator&, Arguments&);
template Operand unary<UnaryFn::Lg>(S_Calculator&, Arguments&);
template Operand unary<UnaryFn::Sin>(S_Calculator&, Arguments&);
template Operand unary<UnaryFn::Cos>(S_Calculator&, Arguments&);
template Operand unary<UnaryFn::Tg>(S_Calculator&, Arguments&);
template Operand unary<UnaryFn::ArcSin>(S_Calculator&, Arguments&);
template Operand unary<UnaryFn::ArcCos>(S_Calculator&, Arguments&);
template Operand unary<UnaryFn::ArcTg>(S_Calculator&, Arguments&);
template Operand unary<UnaryFn::Not>(S_Calculator&, Arguments&);
template Operand binary<BinaryOp::Min>(S_Calculator&, Arguments&);
template Operand binary<BinaryOp::Max>(S_Calculator&, Arguments&);
template Operand binary<BinaryOp::And>(S_Calculator&, Arguments&);
template Operand binary<BinaryOp::Or>(S_Calculator&, Arguments&);
template Operand binary<BinaryOp::Equal>(S_Calculator&, Arguments&);
template Operand binary<BinaryOp::Great>(S_Calculator&, Arguments&);
template Operand binary<BinaryOp::GreatEqual>(S_Calculator&, Arguments&);
template Operand binary<BinaryOp::Less>(S_Calculator&, Arguments&);
template Operand binary<BinaryOp::LessEqual>(S_Calculator&, Arguments&);

}  // namespace vellumar::engine::functions
