#include "formats/RasterBlocks.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <vector>

#include "grid/Blank.h"

namespace vellumar::formats::detail {

EarlyWriteback::EarlyWriteback(const std::string& path, int nx)
    : fd_(open(path.c_str(), O_RDONLY | O_CLOEXEC)),
      rowsPerKick_(std::max<std::int64_t>(
          1, static_cast<std::int64_t>(kBytes / (sizeof(double) * std::max(nx, 1))))) {}

EarlyWriteback::~EarlyWriteback() {
  if (fd_ >= 0) close(fd_);
}

void EarlyWriteback::wrote(std::int64_t rows) {
  if (rows - kicked_ < rowsPerKick_) return;
  kicked_ = rows;
#ifdef __linux__
  if (fd_ >= 0) sync_file_range(fd_, 0, 0, SYNC_FILE_RANGE_WRITE);
#endif
}

namespace {

// The band's block layout and one reusable buffer of a block in the band's type.
class BlockLayout {
 public:
  explicit BlockLayout(GDALRasterBandH band)
      : band_(band),
        type_(detail::gdal().GDALGetRasterDataType(band)),
        typeBytes_(detail::gdal().GDALGetDataTypeSizeBytes(type_)),
        nx_(detail::gdal().GDALGetRasterBandXSize(band)),
        ny_(detail::gdal().GDALGetRasterBandYSize(band)) {
    detail::gdal().GDALGetBlockSize(band, &blockX_, &blockY_);
  }

  // Whether the blocks are sane and small enough to hold one, which is then allocated.
  bool prepare() {
    if (blockX_ < 1 || blockY_ < 1 || typeBytes_ < 1 || nx_ < 1 || ny_ < 1) return false;
    const std::size_t bytes = blockValues() * static_cast<std::size_t>(typeBytes_);
    if (bytes > kMaxBlockBytes) return false;
    // Doubles, so that the buffer is aligned for every type GDAL hands over.
    buffer_.resize((bytes + sizeof(double) - 1) / sizeof(double));
    return true;
  }

  std::size_t blockValues() const {
    return static_cast<std::size_t>(blockX_) * static_cast<std::size_t>(blockY_);
  }
  int blocksAcross() const { return (nx_ + blockX_ - 1) / blockX_; }
  int blocksDown() const { return (ny_ + blockY_ - 1) / blockY_; }
  // The rows of the band done once the blocks of row j are.
  int rowsDoneAfter(int j) const { return std::min((j + 1) * blockY_, ny_); }

  // Where the values of row r of block (i, j) go in or come from nodes, and how many lie inside
  // the band (blocks at the right and bottom edges reach past it).
  std::size_t nodeOffset(int i, int j, int r, bool bottomUp) const {
    const int fileRow = j * blockY_ + r;
    const int nodeRow = bottomUp ? ny_ - 1 - fileRow : fileRow;
    return static_cast<std::size_t>(nodeRow) * static_cast<std::size_t>(nx_) +
           static_cast<std::size_t>(i) * static_cast<std::size_t>(blockX_);
  }
  int columnsIn(int i) const { return std::min(blockX_, nx_ - i * blockX_); }
  int rowsIn(int j) const { return std::min(blockY_, ny_ - j * blockY_); }

  // Row r of the buffer.
  void* bufferRow(int r) {
    return reinterpret_cast<unsigned char*>(buffer_.data()) +
           static_cast<std::size_t>(r) * static_cast<std::size_t>(blockX_) *
               static_cast<std::size_t>(typeBytes_);
  }
  void* buffer() { return buffer_.data(); }

  GDALRasterBandH band() const { return band_; }
  GDALDataType type() const { return type_; }
  int typeBytes() const { return typeBytes_; }
  int blockX() const { return blockX_; }

 private:
  GDALRasterBandH band_;
  GDALDataType type_;
  int typeBytes_;
  int nx_;
  int ny_;
  int blockX_ = 0;
  int blockY_ = 0;
  std::vector<double> buffer_;
};

// Calls transfer(i, j) for every block, a row of blocks after another, and reports the rows done
// after each row of blocks (to writeback too, when given).
template <class Transfer>
BlockTransfer forEachBlock(const BlockLayout& layout, ProgressPacer& progress,
                           EarlyWriteback* writeback, Transfer&& transfer) {
  for (int j = 0; j < layout.blocksDown(); ++j) {
    for (int i = 0; i < layout.blocksAcross(); ++i) {
      if (!transfer(i, j)) return BlockTransfer::Failed;
    }
    if (writeback != nullptr) writeback->wrote(layout.rowsDoneAfter(j));
    if (!progress.advance(layout.rowsDoneAfter(j))) return BlockTransfer::Cancelled;
  }
  return BlockTransfer::Done;
}

}  // namespace

BlockTransfer readBlocks(GDALRasterBandH band, bool bottomUp, std::span<double> nodes,
                         ProgressPacer& progress) {
  BlockLayout layout(band);
  if (!layout.prepare()) return BlockTransfer::TooLarge;
  return forEachBlock(layout, progress, nullptr, [&](int i, int j) {
    if (detail::gdal().GDALReadBlock(band, i, j, layout.buffer()) != CE_None) return false;
    const int columns = layout.columnsIn(i);
    for (int r = 0; r < layout.rowsIn(j); ++r) {
      detail::gdal().GDALCopyWords(layout.bufferRow(r), layout.type(), layout.typeBytes(),
                                   nodes.data() + layout.nodeOffset(i, j, r, bottomUp), GDT_Float64,
                                   sizeof(double), columns);
    }
    return true;
  });
}

BlockTransfer writeBlocks(GDALRasterBandH band, std::span<const double> nodes, double noData,
                          ProgressPacer& progress, EarlyWriteback& writeback) {
  BlockLayout layout(band);
  if (!layout.prepare()) return BlockTransfer::TooLarge;
  // The block as doubles, blanks replaced; the parts of edge blocks beyond the band hold noData.
  std::vector<double> staging(layout.blockValues(), noData);
  const bool sameType = layout.type() == GDT_Float64;
  return forEachBlock(layout, progress, &writeback, [&](int i, int j) {
    const int columns = layout.columnsIn(i);
    const int rows = layout.rowsIn(j);
    if (columns < layout.blockX() ||
        rows * static_cast<std::size_t>(layout.blockX()) < staging.size()) {
      std::fill(staging.begin(), staging.end(), noData);
    }
    for (int r = 0; r < rows; ++r) {
      const double* from = nodes.data() + layout.nodeOffset(i, j, r, true);
      double* to = staging.data() + static_cast<std::size_t>(r) * layout.blockX();
      std::transform(from, from + columns, to,
                     [noData](double v) { return grid::isBlank(v) ? noData : v; });
    }
    void* block = staging.data();
    if (!sameType) {
      detail::gdal().GDALCopyWords64(staging.data(), GDT_Float64, sizeof(double), layout.buffer(),
                                     layout.type(), layout.typeBytes(),
                                     static_cast<GPtrDiff_t>(staging.size()));
      block = layout.buffer();
    }
    return detail::gdal().GDALWriteBlock(band, i, j, block) == CE_None;
  });
}

}  // namespace vellumar::formats::detail
