#pragma once

#include "common/Language.h"

namespace vellumar::ui::mapview::text {

inline constexpr MessageText kUnknownCoordinates{"Не известны координаты данных!",
                                                 "Data coordinates are unknown!"};
inline constexpr MessageText kTitle{"Вид", "View"};
// Shown for a picked point holding the missing value: on the pick itself, and in the pointer
// read-out that follows it (which has always been English).
inline constexpr MessageText kPickedMissing{"не число", "not number"};
inline constexpr const char* kReadOutMissing = "not number";
// The colour-class choices of a grid view's context menu.
inline constexpr MessageText kEqualIntervals{"Равные интервалы", "Equal intervals"};
inline constexpr MessageText kEqualCount{"Равное число узлов (квантили)",
                                         "Equal node counts (quantiles)"};
// Shown for the grid value under the pointer where the grid is blank (no data).
inline constexpr MessageText kReadOutBlank{"пусто", "blank"};
// The record of a choropleth under the pointer, by its number.
inline constexpr MessageText kRecordNumber{"объект %lld", "record %lld"};

}  // namespace vellumar::ui::mapview::text
