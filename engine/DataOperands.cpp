#include "engine/DataOperands.h"

#include "engine/Calculator.h"

namespace vellumar::engine {

// Data operands cannot be loaded yet; every data operation reports an execution error until the
// data kernels are connected.
Operand combineData(S_Calculator& calc, BinaryOp, const Operand&, const Operand&) {
  return calc.executionError();
}
Operand applyToData(S_Calculator& calc, UnaryFn, const Operand&) {
  return calc.executionError();
}
Operand negateData(S_Calculator& calc, const Operand&) {
  return calc.executionError();
}
Operand fillData(S_Calculator& calc, const Operand&, double) {
  return calc.executionError();
}
Operand dataExtremum(S_Calculator& calc, const Operand&, bool) {
  return calc.executionError();
}
Operand dataSum(S_Calculator& calc, const Operand&) {
  return calc.executionError();
}

}  // namespace vellumar::engine
