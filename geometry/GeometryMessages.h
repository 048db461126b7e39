#pragma once

#include "common/Language.h"

namespace vellumar::geometry::text {

// Messages of loading and saving lines and polygons, shown by the faces in message boxes.
// "полигонa" in the first two texts ends with a Latin "a", as the program has always shown it.
inline constexpr MessageText kInvalidLineFile{"Недопустимый формат файла линий!",
                                              "Invalid line file format!"};
inline constexpr MessageText kInvalidPolygonFile{"Недопустимый формат файла полигонa!",
                                                 "Invalid polygon file format!"};
inline constexpr MessageText kPolygonNotClosed{"Линии полигонa не замкнуты!",
                                               "Polygon lines are not closed!"};
// A line or polygon file loaded without its value file; takes the value file's path as its %s.
inline constexpr MessageText kNoValueFile{"значения равны 0: нет файла значений %s",
                                          "values are 0: no value file %s"};
// Saving lines or polygons to a path ending in ".val" would make the line file its own value file.
inline constexpr MessageText kSaveToValueFile{
    "Файл .val - это файл значений линий: выберите другое имя!",
    "A .val file is the value file of lines: choose another name!"};
inline constexpr MessageText kSaveLinesFailed{"Ошибка сохранения линий!", "Error saving lines!"};
inline constexpr MessageText kSavePolygonFailed{"Ошибка сохранения полигона!",
                                                "Error saving polygon!"};
// A save of a line file left out the rings or lines that collapse at the file's 12 significant
// digits (they would not read back); takes their number as its %zu.
inline constexpr MessageText kDroppedRings{
    "не записаны кольца, схлопывающиеся при 12 значащих цифрах файла: %zu",
    "rings that collapse at the file's 12 significant digits were not written: %zu"};
inline constexpr MessageText kDroppedLines{
    "не записаны линии, схлопывающиеся в точку при 12 значащих цифрах файла: %zu",
    "lines that collapse to a point at the file's 12 significant digits were not written: %zu"};

}  // namespace vellumar::geometry::text
