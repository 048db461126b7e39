#pragma once

#include "common/Pointwise.h"
#include "engine/Operand.h"
#include "grid/Grid.h"

namespace vellumar::engine {

class S_Calculator;

// Adapters between grid operands and the grid kernels.

// An operand holding grid (moved in, never copied).
Operand gridOperand(grid::Grid grid);

// a op b for pairs among numbers and grids (at least one grid).
Operand combineGrids(S_Calculator& calc, BinaryOp op, const Operand& a, const Operand& b);
Operand applyToGrid(S_Calculator& calc, UnaryFn fn, const Operand& x);
Operand negateGrid(S_Calculator& calc, const Operand& x);
Operand fillGrid(S_Calculator& calc, const Operand& target, double value);
Operand gridExtremum(S_Calculator& calc, const Operand& x, bool largest);

}  // namespace vellumar::engine
