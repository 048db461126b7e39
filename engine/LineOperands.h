#pragma once

#include "common/Pointwise.h"
#include "engine/Operand.h"

namespace vellumar::engine {

class EvalContext;
class S_Calculator;

// Adapters between polygon and lines operands and the geometry and data kernels. The vertex
// values of lines and polygons follow the data rules.

// A polygon or lines operand with a number, in either order; the result is always lines.
Operand combineLinesWithNumber(S_Calculator& calc, BinaryOp op, const Operand& a, const Operand& b);
// Union (+), difference (-) and intersection (*) of two polygons.
Operand combinePolygons(S_Calculator& calc, BinaryOp op, const Operand& a, const Operand& b);
// Needs only the evaluation's angle unit, missing value and sink.
Operand applyToLines(const EvalContext& context, UnaryFn fn, const Operand& x);
Operand negateLines(S_Calculator& calc, const Operand& x);
Operand fillLines(S_Calculator& calc, const Operand& target, double value);
Operand lineExtremum(S_Calculator& calc, const Operand& x, bool largest);

}  // namespace vellumar::engine
