#include "engine/LineOperands.h"

#include "engine/Calculator.h"

namespace vellumar::engine {

// Lines and polygons cannot be loaded yet; every operation on them reports an execution error
// until the geometry kernels are connected.
Operand combineLinesWithNumber(S_Calculator& calc, BinaryOp, const Operand&, const Operand&) {
  return calc.executionError();
}
Operand combinePolygons(S_Calculator& calc, BinaryOp, const Operand&, const Operand&) {
  return calc.executionError();
}
Operand applyToLines(S_Calculator& calc, UnaryFn, const Operand&) {
  return calc.executionError();
}
Operand negateLines(S_Calculator& calc, const Operand&) {
  return calc.executionError();
}
Operand fillLines(S_Calculator& calc, const Operand&, double) {
  return calc.executionError();
}
Operand lineExtremum(S_Calculator& calc, const Operand&, bool) {
  return calc.executionError();
}

}  // namespace vellumar::engine
