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
inline constexpr MessageText kReadOutBlank{"пустой узел", "blank node"};
// The record of a choropleth under the pointer, by its number.
inline constexpr MessageText kRecordNumber{"объект %lld", "record %lld"};

// The layer list beside the view, the name of a shown value that has none, and the styles a
// layer's context menu switches.
inline constexpr MessageText kLayersTitle{"Слои", "Layers"};
inline constexpr MessageText kResultLayer{"результат", "result"};
inline constexpr MessageText kLayerFill{"Заливка", "Fill"};
inline constexpr MessageText kLayerByValue{"Цвет по значению", "Colour by value"};
// Saving the picture from the context menu, and the resolution it is saved at.
inline constexpr MessageText kSaveImage{"Сохранить изображение…", "Save image…"};
inline constexpr MessageText kImageResolution{"Разрешение изображения", "Image resolution"};
inline constexpr MessageText kWindowSize{"Размер окна", "Window size"};
// Legend notes: the grid's coordinate system and its unit, and the points without a value.
inline constexpr MessageText kLegendSystem{"СК: %s", "CRS: %s"};
inline constexpr MessageText kLegendUnit{"единицы: %s", "units: %s"};
inline constexpr MessageText kNoValue{"нет значения", "no value"};

}  // namespace vellumar::ui::mapview::text
