#pragma once

#include "common/Pointwise.h"
#include "engine/Operand.h"

namespace vellumar::engine {

class EvalContext;
class S_Calculator;

// Adapters between data operands and the element-wise data kernels. Each shows its progress (and
// takes a cancel) through the calculator's sink.

// a op b where one operand is data and the other a number, data or a grid. A data operand that
// alone holds its value column (a temporary) hands it over, and the result is written in place.
Operand combineData(S_Calculator& calc, BinaryOp op, Operand a, Operand b);
// Needs only the evaluation's angle unit, missing value and sink.
Operand applyToData(const EvalContext& context, UnaryFn fn, const Operand& x);
Operand negateData(S_Calculator& calc, const Operand& x);
Operand fillData(S_Calculator& calc, const Operand& target, double value);
Operand dataExtremum(S_Calculator& calc, const Operand& x, bool largest);
// Sum of the column's values that are not missing.
Operand dataSum(S_Calculator& calc, const Operand& x);

}  // namespace vellumar::engine
