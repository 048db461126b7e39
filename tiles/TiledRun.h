#pragma once

#include <functional>
#include <string>
#include <vector>

#include "common/LargeBlocks.h"
#include "formats/RasterFile.h"
#include "tiles/TiledEvaluation.h"

namespace vellumar::tiles {

// What came of a run by tiles: success, or the first failure's message (and its second line),
// with the exit status the command line gives it (1: the evaluation failed, 3: a file could not
// be read or written).
struct TiledRunOutcome {
  int failure = 0;
  std::string message;
  std::string detail;
  bool ok() const { return failure == 0; }
};

// Hears of the tiles done so far out of all of them.
using TileProgress = std::function<void(int done, int total)>;

// Evaluates the text tile after tile and writes the result as the GeoTIFF path, through the safe
// save: a failure leaves the old file in place. Memory holds one tile's windows and result at a
// time.
TiledRunOutcome runTiles(const TiledEvaluation& evaluation, const std::string& path,
                         const formats::RasterWriteOptions& options,
                         const TileProgress& progress = {});

// Evaluates the reduction's expression tile after tile, keeping each tile's share in shares, one
// per tile of the plan.
TiledRunOutcome reduceTiles(const TiledEvaluation& evaluation, std::vector<TileShare>& shares,
                            const TileProgress& progress = {});

// Takes one evaluated tile (writes its nodes, keeps its share); a failure ends the run.
using TileTaker = std::function<TiledRunOutcome(int index, const TileOutcome& tile)>;

// Evaluates the text over one tile and hands it to take, then gives the heap's free pages
// back, so that memory stays that of one tile; the evaluation's failure, or take's.
TiledRunOutcome takeTile(const TiledEvaluation& evaluation, int index, const TileTaker& take);

// While alive, the large blocks a tile frees are kept for the next one (common/LargeBlocks.h), up
// to what the plan's largest window needs for a tile's arrays: the next tile then finds its
// pages already faulted in.
memory::KeptBlocks tileBlocks(const TilePlan& plan);

// Evaluates the text over every tile in order, handing each to take, and gives the heap's free
// pages back after each one, so that memory stays that of one tile.
TiledRunOutcome forEachTile(const TiledEvaluation& evaluation, const TileTaker& take,
                            const TileProgress& progress = {});

// The rank of this process and the number of processes of an MPI launch, as the launcher's
// environment tells them before MPI is initialised (Open MPI, MPICH, Slurm's PMI); rank 0 of 1
// for a process that was not launched by mpirun, which then never initialises MPI.
struct LaunchRanks {
  int rank = 0;
  int size = 1;
};
LaunchRanks launchRanks();

// The message of a failed raster write: the grid save message and GDAL's reason.
TiledRunOutcome writeFailure(const formats::RasterWrite& written, Language language);

}  // namespace vellumar::tiles
