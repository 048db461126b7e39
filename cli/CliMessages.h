#pragma once

#include "common/Language.h"

namespace vellumar::cli::text {

// Messages of vellumar-calc itself (the engine's and the readers' messages come from their own
// tables).
inline constexpr MessageText kOutputFailed{"Ошибка записи в стандартный вывод!",
                                           "Cannot write to standard output!"};

// --each: the operand named is no layer with records; a record's result is not a number.
inline constexpr MessageText kNoLayer{"--each: %s - не слой полигонов или линий",
                                      "--each: %s is no layer of polygons or lines"};
inline constexpr MessageText kNotANumber{"результат - не число", "the result is not a number"};

}  // namespace vellumar::cli::text
