#pragma once

#include "common/Language.h"

namespace vellumar::isolines {

// Captions of the progress shown while isolines are traced.
namespace text {
inline constexpr MessageText kPreparingData{"Подготовка данных...", "Preparing data..."};
inline constexpr MessageText kTracingIsolines{"Трассировка изолиний", "Tracing isolines"};
}  // namespace text

}  // namespace vellumar::isolines
