#pragma once

#include <iosfwd>
#include <string>

#include "formats/RasterFile.h"
#include "tiles/TiledEvaluation.h"
#include "tiles/TiledRun.h"

namespace vellumar::tiles {

// Evaluates the tiles over the ranks of an MPI launch (mpirun -np K vellumar-calc --tiles N):
// rank 0 hands the tiles out one at a time as the ranks ask, from a counter the ranks advance
// with one-sided atomic adds, so that fast and slow ranks balance without anyone waiting on
// rank 0. Rank 0 writes its own tiles straight into the target's GeoTIFF; every other rank
// appends its finished tiles to a file of its own beside the target and tells rank 0 where each
// lies, and rank 0 copies them in between its own tiles, so that one process alone writes the
// GeoTIFF and little is left to copy when the last tile is done. The nodes are the same
// whatever the number of ranks. The first failure (by tile number) is every
// rank's outcome; progress goes to rank 0's progress stream. Initialises and finalises MPI.
TiledRunOutcome runTilesOverRanks(const TiledEvaluation& evaluation, const std::string& path,
                                  const formats::RasterWriteOptions& options,
                                  std::ostream& progress);

// The reduction's tiles shared between the ranks in the same way; every rank ends with the share
// of every tile.
TiledRunOutcome reduceTilesOverRanks(const TiledEvaluation& evaluation,
                                     std::vector<TileShare>& shares, std::ostream& progress);

}  // namespace vellumar::tiles
