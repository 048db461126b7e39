#include <cmath>

#include "engine/Calculator.h"
#include "engine/functions/Functions.h"
#include "grid/Derivatives.h"

namespace vellumar::engine::functions {

void checkSpecNumber(S_Calculator& calc, const Arguments& args) {
  if (args.size() != 2 || !args[1].isNumber()) return;
  if (!grid::isSpecialNumber(args[1].numberValue()))
    calc.argumentError(ArgumentMessage::InvalidValue, 2);
}

void checkRandomGridArguments(S_Calculator& calc, const Arguments& args) {
  if (args.size() == 1 && !args[0].isNumber() && args[0].kind() != Kind::Grid) {
    calc.argumentError(ArgumentMessage::InvalidType, 1);
  } else if (args.size() == 2 && !args[1].isNumber()) {
    calc.argumentError(ArgumentMessage::InvalidType, 2);
  }
}

ListStep randomGridListStep(const Arguments& args) {
  // The rectangle form has the distribution number at position 7, the prototype form at 2; the
  // distribution fixes how many parameters follow it.
  const bool rectangleForm = args[0].kind() != Kind::Grid;
  const std::size_t distributionAt = rectangleForm ? 7 : 2;
  if (args.size() < distributionAt) return ListStep::Continue;
  const double distribution = std::trunc(args[distributionAt - 1].numberValue());
  std::size_t parameters = 2;
  if (distribution == 4 || distribution == 6 || distribution == 7) parameters = 1;
  if (distribution == 8) parameters = 3;
  return args.size() < distributionAt + parameters ? ListStep::Continue : ListStep::End;
}

bool twoGrids(S_Calculator& calc, const Arguments& args) {
  if (args[0].kind() == Kind::Grid && args[1].kind() == Kind::Grid) return true;
  calc.argumentError(ArgumentMessage::InvalidCombination);
  return false;
}

}  // namespace vellumar::engine::functions
