#include "engine/GridOperands.h"

#include "engine/Calculator.h"
#include "engine/ProgressScope.h"
#include "grid/GridArithmetic.h"

namespace vellumar::engine {

Operand combineGrids(S_Calculator& calc, BinaryOp op, Operand a, Operand b) {
  const ProgressScope progress(calc, text::kComputingGrid, 0);
  if (a.kind() == Kind::Grid && b.kind() == Kind::Grid) {
    return Operand::newGrid(grid::combine(*a.gridValue(), *b.gridValue(), op, calc.sink()));
  }
  const bool numberOnLeft = a.isNumber();
  Operand& gridSide = numberOnLeft ? b : a;
  const double number = (numberOnLeft ? a : b).numberValue();
  return Operand::newGrid(
      grid::combine(gridSide.takeGrid(), number, op, numberOnLeft, calc.sink()));
}

Operand applyToGrid(const EvalContext& context, UnaryFn fn, const Operand& x) {
  const ProgressScope progress(context, text::kComputingGrid, 0);
  return Operand::newGrid(grid::apply(*x.gridValue(), fn, context.angleFactor(), context.sink()));
}

Operand negateGrid(S_Calculator& calc, const Operand& x) {
  const ProgressScope progress(calc, text::kComputingGrid, 0);
  return Operand::newGrid(grid::negate(*x.gridValue(), progress.sink()));
}

Operand fillGrid(S_Calculator&, const Operand& target, double value) {
  return Operand::newGrid(grid::filled(*target.gridValue(), value));
}

Operand gridExtremum(S_Calculator&, const Operand& x, bool largest) {
  const grid::Grid& grid = *x.gridValue();
  return Operand::number(largest ? grid::maximum(grid) : grid::minimum(grid));
}

}  // namespace vellumar::engine
