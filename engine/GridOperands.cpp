#include "engine/GridOperands.h"

#include "engine/Calculator.h"

namespace vellumar::engine {

// Grid operands cannot be loaded or made yet; every grid operation reports an execution error
// until the grid kernels are connected.
Operand combineGrids(S_Calculator& calc, BinaryOp, const Operand&, const Operand&) {
  return calc.executionError();
}
Operand applyToGrid(S_Calculator& calc, UnaryFn, const Operand&) {
  return calc.executionError();
}
Operand negateGrid(S_Calculator& calc, const Operand&) {
  return calc.executionError();
}
Operand fillGrid(S_Calculator& calc, const Operand&, double) {
  return calc.executionError();
}
Operand gridExtremum(S_Calculator& calc, const Operand&, bool) {
  return calc.executionError();
}

}  // namespace vellumar::engine
