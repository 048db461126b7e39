#include "engine/GridOperands.h"

#include <memory>

#include "engine/Calculator.h"
#include "grid/GridArithmetic.h"

namespace vellumar::engine {

Operand gridOperand(grid::Grid grid) {
  return Operand::grid(std::make_shared<const grid::Grid>(std::move(grid)));
}

Operand combineGrids(S_Calculator& calc, BinaryOp op, const Operand& a, const Operand& b) {
  if (a.kind() == Kind::Grid && b.kind() == Kind::Grid) {
    return gridOperand(grid::combine(*a.gridValue(), *b.gridValue(), op, calc.sink()));
  }
  const bool numberOnLeft = a.isNumber();
  const Operand& gridSide = numberOnLeft ? b : a;
  const double number = (numberOnLeft ? a : b).numberValue();
  return gridOperand(grid::combine(*gridSide.gridValue(), number, op, numberOnLeft, calc.sink()));
}

Operand applyToGrid(S_Calculator& calc, UnaryFn fn, const Operand& x) {
  return gridOperand(grid::apply(*x.gridValue(), fn, calc.angleFactor(), calc.sink()));
}

Operand negateGrid(S_Calculator&, const Operand& x) {
  return gridOperand(grid::negate(*x.gridValue()));
}

Operand fillGrid(S_Calculator&, const Operand& target, double value) {
  return gridOperand(grid::filled(*target.gridValue(), value));
}

Operand gridExtremum(S_Calculator&, const Operand& x, bool largest) {
  const grid::Grid& grid = *x.gridValue();
  return Operand::number(largest ? grid::maximum(grid) : grid::minimum(grid));
}

}  // namespace vellumar::engine
