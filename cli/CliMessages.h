#pragma once

#include "common/Language.h"

namespace vellumar::cli::text {

// Messages of vellumar-calc itself (the engine's and the readers' messages come from their own
// tables).
inline constexpr MessageText kOutputFailed{"Ошибка записи в стандартный вывод!",
                                           "Cannot write to standard output!"};
inline constexpr MessageText kInputFailed{"Ошибка чтения стандартного ввода!",
                                          "Cannot read standard input!"};

}  // namespace vellumar::cli::text
