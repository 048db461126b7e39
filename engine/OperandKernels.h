#pragma once

#include "common/Pointwise.h"
#include "engine/Operand.h"

namespace vellumar::engine {

class S_Calculator;

// Pointwise operations over operands of every kind: numbers are computed here, grids, data and
// the vertex values of lines and polygons by the kernels of their subsystems. The caller has
// already checked that the pair of kinds is allowed; failures go to the calculator's sink.

// a op b. Pairs with a polygon or lines operand and a number give lines. A grid or data operand
// handed over with std::move may give its contents to the result (Operand::takeGrid).
Operand combine(S_Calculator& calc, BinaryOp op, Operand a, Operand b);
// fn(x), the result of the kind of x.
Operand apply(S_Calculator& calc, UnaryFn fn, const Operand& x);
// -x, the kind kept (a negated polygon stays a polygon).
Operand negated(S_Calculator& calc, const Operand& x);
// The content of target with every value replaced by value (missing data elements stay missing;
// for lines and polygons the value of each line).
Operand fillWithNumber(S_Calculator& calc, const Operand& target, double value);
// The smallest or largest value of x as the MIN and MAX built-ins define it.
Operand extremum(S_Calculator& calc, const Operand& x, bool largest);

}  // namespace vellumar::engine
