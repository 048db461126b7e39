#pragma once

#include <string>
#include <string_view>

#include "grid/Grid.h"

namespace vellumar::grid {

// The "DSAA" text grid: the magic word, nx ny, xmin xmax, ymin ymax, zmin zmax, then nx*ny node
// values, bottom row first, separated by any white space.
//
// Parses the bytes of a DSAA file into grid. On success the grid holds the lattice, the rectangle
// (flag set), the header z-range as written and the node values, in spline mode. On failure
// (bad magic, a header field or value that is not a number, negative counts, a count larger than
// the bytes could hold even when the other count makes the grid empty, too few values, nodes that
// do not fit in memory) grid is left unchanged and false is returned. Bytes after the last value
// are ignored.
bool parseDsaa(std::string_view bytes, Grid& grid);

// Reads the regular file at path with parseDsaa; the grid's name becomes the path. On failure
// outOfMemory, when given, tells whether the file or its nodes did not fit in memory.
bool readDsaa(const std::string& path, Grid& grid, bool* outOfMemory = nullptr);

// The file text of the grid: the extents with 12 significant digits when those read back exactly,
// else with the fewest that do; the z-range and node values with 12, blank nodes as 1.70141e+38;
// each data line ending with a blank, CR LF line breaks. Grids without nodes have no file text
// (empty string).
std::string formatDsaa(const Grid& grid);

// Saves the grid to path through the safe save (common/SafeSave.h); false (and the old file
// untouched, nothing left behind) when the grid has no nodes, the target is refused or anything
// could not be written.
bool writeDsaa(const Grid& grid, const std::string& path);

}  // namespace vellumar::grid
