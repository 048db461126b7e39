#pragma once

#include "common/Language.h"

namespace vellumar::ui::text {

// Texts of the data window ("Файл данных"), in Russian and English.

inline constexpr MessageText kValuesButton{"Значения", "Values"};
// Under the values of a long table (%d: the rows shown, then the table's rows).
inline constexpr MessageText kFirstRowsShown{"показаны первые %d строк из %d",
                                             "first %d rows of %d shown"};

}  // namespace vellumar::ui::text
