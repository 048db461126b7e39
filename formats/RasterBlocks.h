#pragma once

#include "formats/GdalApi.h"

#include <cstddef>
#include <span>

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

// Reads every block of the band into nodes, which hold the band's nx * ny values row after row;
// bottomUp puts GDAL's last row first (grids store the bottom row first). progress hears of the
// rows read, a row of blocks at a time.
BlockTransfer readBlocks(GDALRasterBandH band, bool bottomUp, std::span<double> nodes,
                         const RowProgress& progress);

// Writes nodes, the band's nx * ny values bottom row first, into every block of the band, with
// each blank node written as noData.
BlockTransfer writeBlocks(GDALRasterBandH band, std::span<const double> nodes, double noData,
                          const RowProgress& progress);

}  // namespace vellumar::formats::detail
