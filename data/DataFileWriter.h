#pragma once

#include <string>
#include <string_view>

#include "data/DATA.h"
#include "data/DataColumnChoice.h"
#include "data/M_Data.h"

namespace vellumar::data {

// Saving data results as delimited text files, through the safe save (common/SafeSave.h): a
// failed save leaves the old file as it was. New files' lines end in CR LF; an appended file keeps
// its own line ends.

enum class [[nodiscard]] SaveStatus{
    Ok,
    LoadedShapefile,     // appending to a table loaded from a shapefile
    BufferFailed,        // the file beside the target cannot be created
    DataChanged,         // the data file changed on disk after the table was read from it
    SizeMismatch,        // the result's point count differs from the table's row count
    CoordinateMismatch,  // the result's X and Y differ from the table's coordinate columns
    SaveFailed,          // the target was refused, or writing, renaming or reading back failed
};

// True when the path names a shapefile (holds ".shp" or ".SHP"); such paths are saved by the
// shapefile export, not here.
bool isShapefilePath(std::string_view path);

// Text of one value in a data file: the "%lf" form when it reads back equal to 12 significant
// digits, else the "%.12g" form (small and very precise values would lose digits to "%lf").
std::string formatDataValue(double value);

// Bytes of a new data file of a result: "X Y Z" and "X Y Z" lines with coordinates, else "Z"
// and one value per line.
std::string dataFileBytes(const DATA& result);

// Writes the result as a new data file at path (replacing any file there). Here and in the
// append, a file too large for the memory the program may use throws std::bad_alloc.
SaveStatus saveDataFile(const std::string& path, const DATA& result);

// Appends the result as a new last column "Zres" to the file the table was read from. The
// result must have the table's row count and, when it has coordinates and xy is present, the
// table's X and Y values exactly. Every line of the file keeps its text (quoted fields included)
// and its line end; the new value follows its last field (the header line gets "Zres"), and the
// cells a short line lacks are filled in so that they read back as before. The file is locked
// (flock) for the append and must hold exactly what the table was read from (its stamp), else
// DataChanged and nothing is written. The new file is read back and checked before it replaces the
// old one; on success the table holds the new file's contents (one more column) and its stamp.
SaveStatus appendResultColumn(M_Data& table, const DATA& result, const CoordinateColumns& xy);

}  // namespace vellumar::data
