#pragma once

#include "common/Pointwise.h"
#include "engine/Operand.h"

namespace vellumar::engine {

class S_Calculator;

// Adapters between data operands and the element-wise data kernels.

// a op b where one operand is data and the other a number, data or a grid.
Operand combineData(S_Calculator& calc, BinaryOp op, const Operand& a, const Operand& b);
Operand applyToData(S_Calculator& calc, UnaryFn fn, const Operand& x);
Operand negateData(S_Calculator& calc, const Operand& x);
Operand fillData(S_Calculator& calc, const Operand& target, double value);
Operand dataExtremum(S_Calculator& calc, const Operand& x, bool largest);
// Sum of the column's values that are not missing.
Operand dataSum(S_Calculator& calc, const Operand& x);

}  // namespace vellumar::engine
