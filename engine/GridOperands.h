#pragma once

#include "common/Pointwise.h"
#include "engine/Operand.h"
#include "grid/Grid.h"

namespace vellumar::engine {

class EvalContext;
class S_Calculator;

// Adapters between grid operands and the grid kernels. Each shows its progress (and takes a
// cancel) through the calculator's sink.

// a op b for pairs among numbers and grids (at least one grid). A grid with a number is computed
// over the grid's nodes when the grid operand hands them over (Operand::takeGrid).
Operand combineGrids(S_Calculator& calc, BinaryOp op, Operand a, Operand b);
// Needs only the evaluation's angle unit and sink.
Operand applyToGrid(const EvalContext& context, UnaryFn fn, const Operand& x);
Operand negateGrid(S_Calculator& calc, const Operand& x);
Operand fillGrid(S_Calculator& calc, const Operand& target, double value);
Operand gridExtremum(S_Calculator& calc, const Operand& x, bool largest);

}  // namespace vellumar::engine
