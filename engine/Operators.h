#pragma once

#include "engine/Operand.h"

namespace vellumar::engine {

class S_Calculator;

// The two-operand operators + - * / ^ and unary minus. Each checks the pair of operand kinds,
// names itself in error messages ("Сложение", "Вычитание", "Умножение", "Деление"; '^' has no
// name of its own) and builds a new value; the operands are not changed.
//
// Allowed pairs for + - * (left operand down, right across), with the result kind:
//        N  G  D  P  C
//   N    N  G  D  C  C
//   G    G  G  D  -  -
//   D    D  D  D  -  -
//   P    C  -  -  P  -      (P with P: union, difference, intersection)
//   C    C  -  -  -  -
// '/' allows the same pairs but P / P. Any operand divided by the number 0 fails first.
Operand add(S_Calculator& calc, Operand left, Operand right);
Operand subtract(S_Calculator& calc, Operand left, Operand right);
Operand multiply(S_Calculator& calc, Operand left, Operand right);
Operand divide(S_Calculator& calc, Operand left, Operand right);
// left ^ right: repeated multiplication for a whole right number k >= 1, else Exp(right*Ln(left)).
Operand raise(S_Calculator& calc, Operand left, Operand right);
Operand negate(S_Calculator& calc, const Operand& operand);

// True when the multiplication operator accepts the pair of kinds.
bool multiplicationAccepts(Kind left, Kind right);

}  // namespace vellumar::engine
