#pragma once

#include <string>

#include "common/Language.h"
#include "engine/Operand.h"

namespace vellumar::engine {

// A number as the message line shows it: "%.12E" when its absolute value is below 1e-12 or above
// 1e12 (so zero prints in exponent form), "%.12lf" otherwise.
std::string formatResultNumber(double value);

// The message-line text of a successful evaluation's result.
std::string resultText(const Operand& result, Language language);

}  // namespace vellumar::engine
