#pragma once

#include "common/Language.h"

namespace vellumar::data::text {

// The shapefile converter's log texts. The load and save commands do not show the log; they show
// their own messages when a conversion fails.
inline constexpr MessageText kShpOpenFailed{"Невозможно открыть shp - файл", "SHPOpen failed."};
inline constexpr MessageText kDbfOpenFailed{"Невозможно открыть dbf.", "Cannot open dbf."};
inline constexpr MessageText kNotLineType{"Тип shp - файла не полигон и не полилиния.",
                                          "Shape is not of Polygon or Polyline type."};
inline constexpr MessageText kZOrMeasureDropped{
    "Shp - файл имеет дополнительные поля (Z, Measure): эта информация будет пропущена.",
    "Shape has Z or Measure - fields: this information will be discarded."};
inline constexpr MessageText kNotConvertible{
    "Невозможно представить данный shp - файл в виде таблицы.",
    "Cannot convert this shp-file to table data."};
// The point export reports its creation failures in English in either language.
inline constexpr MessageText kShpCreateFailed{"[1]SHPCreate failed.", "[1]SHPCreate failed."};
inline constexpr MessageText kDbfCreateFailed{"[1]DBFCreate failed.", "[1]DBFCreate failed."};
inline constexpr MessageText kDbfReopenFailed{"[1]DBFOpen failed.", "[1]DBFOpen failed."};
// A damaged file: unreadable records, shape and attribute counts that differ, part starts outside
// the record's vertices.
inline constexpr MessageText kInvalidShapefile{"Недопустимый формат shp - файла.",
                                               "Invalid shp-file."};
// A value field the DBF does not have (field names are matched without regard to case): the
// field asked for, then the DBF's fields.
inline constexpr MessageText kUnknownField{"В dbf - файле нет поля \"%s\". Поля файла: %s.",
                                           "The dbf-file has no field \"%s\". Its fields: %s."};
inline constexpr MessageText kNoFields{"нет", "none"};
// Writing the new files or renaming them into place failed; the old files stay.
inline constexpr MessageText kWriteFailed{"Ошибка записи shp - файла.",
                                          "Cannot write the shp-file."};

}  // namespace vellumar::data::text
