#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "common/ErrorSink.h"
#include "common/ReadOutcome.h"
#include "grid/Grid.h"

namespace vellumar::grid {

// The "DSAA" text grid: the magic word, nx ny, xmin xmax, ymin ymax, zmin zmax, then nx*ny node
// values, bottom row first, separated by any white space.
//
enum class [[nodiscard]] DsaaStatus{
    Ok,
    Invalid,     // not a DSAA text (see parseDsaa)
    Cancelled,   // the user cancelled through the progress sink
    CannotOpen,  // the file could not be read (missing, not a regular file, unreadable)
};

// The outcome of reading a DSAA text: its status and, for an invalid one, the line at fault.
using DsaaRead = ReadOutcome<DsaaStatus>;

// Parses the bytes of a DSAA file into grid. On success the grid holds the lattice, the rectangle
// (flag set), the header z-range as written and the node values, in spline mode. On failure
// (bad magic, a header field or value that is not a number, negative counts, a count larger than
// the bytes could hold even when the other count makes the grid empty, too few values, a cancel)
// grid is left unchanged, as it is when the nodes do not fit in memory: that throws
// std::bad_alloc. Numbers are read as strtod reads them. Bytes after the last value are ignored.
// progress (ProgressPacer::opening) hears of the rows of nodes read.
DsaaRead parseDsaa(std::string_view bytes, Grid& grid, ErrorSink* progress = nullptr);

// Reads the regular file at path with parseDsaa; the grid's name becomes the path. A file or
// nodes too large for memory throw std::bad_alloc.
DsaaRead readDsaa(const std::string& path, Grid& grid, ErrorSink* progress = nullptr);

// The file text of the grid: the extents with 12 significant digits when those read back exactly,
// else with the fewest that do; the z-range and node values with 12, blank nodes as 1.70141e+38;
// each data line ending with a blank, CR LF line breaks. Grids without nodes have no file text
// (empty string).
std::string formatDsaa(const Grid& grid);

// Saves the grid to path through the safe save (common/SafeSave.h); false (and the old file
// untouched, nothing left behind) when the grid has no nodes, the target is refused, anything
// could not be written or the user cancelled through progress, which hears of the rows written.
[[nodiscard]] bool writeDsaa(const Grid& grid, const std::string& path,
                             ErrorSink* progress = nullptr);

}  // namespace vellumar::grid
