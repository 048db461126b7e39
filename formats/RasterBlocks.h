#pragma once

#include "formats/GdalApi.h"

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>

#include "common/ErrorSink.h"

// Moving a band's values between a grid's nodes and the file one block of the file at a time,
// past GDAL's block cache. Through the cache every value is copied twice and the cache's blocks,
// allocated afresh as they are read, cost page faults of their own; block by block, each value is
// read or written once into one buffer that is reused, so a raster costs what its grid costs.
// Only this folder includes it.
namespace vellumar::formats::detail {

enum class BlockTransfer { Done, Failed, Cancelled, TooLarge };

// Blocks larger than this are left to GDAL's row reads and writes, which do not need a whole
// block in memory (a file stored as one block would otherwise be held twice).
inline constexpr std::size_t kMaxBlockBytes = std::size_t(64) << 20;

// Starts the disk writes of a file that a library is writing by path while it writes, so that the
// sync of the finished file, which a save waits for, finds most of it on disk already and the
// disk works beside the computer instead of after it. Only a hint: where the system does not
// offer it, nothing changes.
class EarlyWriteback {
 public:
  // The file at path, being written with the rows of a grid nx nodes wide.
  EarlyWriteback(const std::string& path, int nx);
  ~EarlyWriteback();
  EarlyWriteback(const EarlyWriteback&) = delete;
  EarlyWriteback& operator=(const EarlyWriteback&) = delete;

  // The rows written so far: each time another kBytes were, asks the system to start writing
  // what the file holds so far.
  void wrote(std::int64_t rows);

 private:
  static constexpr std::size_t kBytes = std::size_t(16) << 20;

  int fd_;
  std::int64_t rowsPerKick_;
  std::int64_t kicked_ = 0;
};

// Reads every block of the band into nodes, which hold the band's nx * ny values row after row;
// bottomUp puts GDAL's last row first (grids store the bottom row first). progress hears of the
// rows read, a row of blocks at a time.
BlockTransfer readBlocks(GDALRasterBandH band, bool bottomUp, std::span<double> nodes,
                         ProgressPacer& progress);

// Writes nodes, the band's nx * ny values bottom row first, into every block of the band, with
// each blank node written as noData; progress and writeback hear of the rows written.
BlockTransfer writeBlocks(GDALRasterBandH band, std::span<const double> nodes, double noData,
                          ProgressPacer& progress, EarlyWriteback& writeback);

}  // namespace vellumar::formats::detail
