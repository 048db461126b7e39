#include "formats/RasterFile.h"

#include <cpl_conv.h>
#include <cpl_string.h>
#include <cpl_vsi.h>
#include <gdal.h>
#include <sys/stat.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <cctype>
#include <cerrno>
#include <cfloat>
#include <cmath>
#include <cstdio>
#include <memory>
#include <new>

#include "common/CommitJournal.h"
#include "common/Memory.h"
#include "common/MemoryGuard.h"
#include "formats/CoordinateSystem.h"
#include "formats/GdalLibrary.h"
#include "formats/RasterBlocks.h"
#include "formats/RasterDetail.h"

namespace vellumar::formats {
namespace {

using detail::Dataset;
using namespace detail;
using detail::lowerExtension;

// Rows are read and written in blocks of at least this many bytes, whole blocks of the file.
constexpr std::size_t kChunkBytes = std::size_t(4) << 20;

// The GDAL driver that writes the extension; null for one that is not a raster's.
const char* writingDriver(std::string_view extension) {
  if (extension == ".tif" || extension == ".tiff") return "GTiff";
  if (extension == ".asc") return "AAIGrid";
  if (extension == ".nc") return "netCDF";
  if (extension == ".img") return "HFA";
  return nullptr;
}

bool isRasterExtension(std::string_view extension) {
  return writingDriver(extension) != nullptr || extension == ".vrt";
}

// Whether the regular file at path starts, after white space, with the DSAA magic word.
bool startsWithDsaa(const std::string& path) {
  std::FILE* file = std::fopen(path.c_str(), "rb");
  if (file == nullptr) return false;
  std::array<char, 256> head{};
  const std::size_t read = std::fread(head.data(), 1, head.size(), file);
  std::fclose(file);
  std::string_view text(head.data(), read);
  const std::size_t start = text.find_first_not_of(" \t\r\n\v\f");
  return start != std::string_view::npos && text.substr(start).starts_with("DSAA");
}

// Rows read or written at once: whole blocks of the band, at least kChunkBytes of doubles.
int rowsPerChunk(GDALRasterBandH band, int nx, int ny) {
  int blockX = 0;
  int blockY = 0;
  detail::gdal().GDALGetBlockSize(band, &blockX, &blockY);
  blockY = std::max(blockY, 1);
  const std::size_t rowBytes = static_cast<std::size_t>(nx) * sizeof(double);
  const std::size_t wanted =
      std::max<std::size_t>(1, kChunkBytes / std::max<std::size_t>(rowBytes, 1));
  const std::size_t blocks = (wanted + blockY - 1) / blockY;
  return static_cast<int>(std::min<std::size_t>(blocks * blockY, static_cast<std::size_t>(ny)));
}

// Reads the rows of the band straight into nodes, bottom row first: block by block where a block
// is of a size to hold, else a block of rows at a time through GDAL, each row landing in its place
// (a negative line spacing turns a top-first raster over).
bool readRows(GDALRasterBandH band, int nx, int ny, bool topRowFirst, grid::NodeVector& nodes,
              ErrorSink* progress, RasterRead& result) {
  ProgressPacer pacer = ProgressPacer::opening(progress, ny);
  switch (detail::readBlocks(band, topRowFirst, nodes, pacer)) {
    case detail::BlockTransfer::Done:
      return true;
    case detail::BlockTransfer::Failed:
      result.status = RasterStatus::NotRaster;
      return false;
    case detail::BlockTransfer::Cancelled:
      result.status = RasterStatus::Cancelled;
      return false;
    case detail::BlockTransfer::TooLarge:
      break;
  }
  const int chunk = rowsPerChunk(band, nx, ny);
  const auto rowSpacing = static_cast<GSpacing>(nx) * static_cast<GSpacing>(sizeof(double));
  for (int row = 0; row < ny; row += chunk) {
    const int rows = std::min(chunk, ny - row);
    const std::size_t nodeRow =
        topRowFirst ? static_cast<std::size_t>(ny - 1 - row) : static_cast<std::size_t>(row);
    double* start = nodes.data() + nodeRow * static_cast<std::size_t>(nx);
    if (detail::gdal().GDALRasterIOEx(band, GF_Read, 0, row, nx, rows, start, nx, rows, GDT_Float64,
                                      0, topRowFirst ? -rowSpacing : rowSpacing,
                                      nullptr) != CE_None) {
      result.status = RasterStatus::NotRaster;
      return false;
    }
    if (!pacer.advance(row + rows)) {
      result.status = RasterStatus::Cancelled;
      return false;
    }
  }
  return true;
}

// Whether the memory GDAL takes to read one block fits: a block of the band, or of every band
// at once where the values of all bands are stored pixel by pixel. A tiny file may claim blocks of
// gigabytes (a tile far taller than its raster, of many bands), which GDAL would allocate.
bool blockFits(GDALDatasetH dataset, GDALRasterBandH band) {
  int blockX = 0;
  int blockY = 0;
  detail::gdal().GDALGetBlockSize(band, &blockX, &blockY);
  const char* interleave =
      detail::gdal().GDALGetMetadataItem(dataset, "INTERLEAVE", "IMAGE_STRUCTURE");
  const bool pixelInterleaved = interleave != nullptr && EQUAL(interleave, "PIXEL");
  const double bytes =
      static_cast<double>(std::max(blockX, 0)) * std::max(blockY, 0) *
      detail::gdal().GDALGetDataTypeSizeBytes(detail::gdal().GDALGetRasterDataType(band)) *
      (pixelInterleaved ? detail::gdal().GDALGetRasterCount(dataset) : 1);
  return bytes < 1e18 && memory::fits(static_cast<std::uint64_t>(bytes));
}

RasterRead readDataset(GDALDatasetH dataset, int bandNumber, const std::string& name,
                       grid::Grid& grid, ErrorSink* progress, const detail::ErrorCapture& errors) {
  RasterRead result;
  BandLayout layout;
  if (!describeBand(dataset, bandNumber, layout, result)) return result;
  GDALRasterBandH band = layout.band;
  const int nx = layout.nx;
  const int ny = layout.ny;
  if (!blockFits(dataset, band)) throw std::bad_alloc();
  grid::NodeVector nodes(layout.lattice.nodeCount());
  if (!readRows(band, nx, ny, layout.topRowFirst, nodes, progress, result)) {
    result.libraryError = errors.message();
    return result;
  }
  grid = layout.gridOf(layout.lattice, std::move(nodes));
  grid.name = name;
  return result;
}

}  // namespace

bool readsAsRaster(const std::string& path) {
  const memory::Unguarded unguarded;  // GDAL cannot pass a refusal through its C code
  struct stat info {};
  if (stat(path.c_str(), &info) == 0) {
    if (!S_ISREG(info.st_mode) || startsWithDsaa(path)) return false;
    if (isRasterExtension(lowerExtension(path))) return true;
  }
  if (!detail::ensureRegistered()) return false;
  detail::ErrorCapture quiet;
  return detail::gdal().GDALIdentifyDriverEx(path.c_str(), GDAL_OF_RASTER, nullptr, nullptr) !=
         nullptr;
}

RasterRead readRaster(const std::string& path, int band, grid::Grid& grid, ErrorSink* progress) {
  const memory::Unguarded unguarded;  // GDAL cannot pass a refusal through its C code
  // A save of the raster with its .prj that died half-way is rolled back first.
  recoverInterruptedSave(path);
  struct stat info {};
  const bool exists = stat(path.c_str(), &info) == 0;
  if (exists && !S_ISREG(info.st_mode)) return failure(RasterStatus::CannotOpen);
  if (!detail::ensureRegistered()) return libraryMissing();
  detail::ErrorCapture errors;
  const Dataset dataset = openRaster(path.c_str());
  if (!dataset) return failure(exists ? RasterStatus::NotRaster : RasterStatus::CannotOpen, errors);
  return readDataset(dataset.get(), band, path, grid, progress, errors);
}

RasterRead readRasterBytes(std::string_view bytes, std::string_view extension, int band,
                           grid::Grid& grid) {
  const memory::Unguarded unguarded;  // GDAL cannot pass a refusal through its C code
  if (!detail::ensureRegistered()) return libraryMissing();
  detail::ErrorCapture errors;
  const detail::MemoryFile file(bytes, extension);
  if (!file) return failure(RasterStatus::CannotOpen);
  const std::string& name = file.name();
  const Dataset dataset = openRaster(name.c_str());
  if (!dataset) return failure(RasterStatus::NotRaster, errors);
  return readDataset(dataset.get(), band, name, grid, nullptr, errors);
}

int bandCount(const std::string& path) {
  const memory::Unguarded unguarded;  // GDAL cannot pass a refusal through its C code
  struct stat info {};
  if ((stat(path.c_str(), &info) == 0 && !S_ISREG(info.st_mode)) || !detail::ensureRegistered()) {
    return 0;
  }
  detail::ErrorCapture quiet;
  const Dataset dataset = openRaster(path.c_str());
  return dataset ? detail::gdal().GDALGetRasterCount(dataset.get()) : 0;
}

bool writesRaster(const std::string& path) {
  return writingDriver(lowerExtension(path)) != nullptr;
}

bool knownDataType(const std::string& name) {
  return detail::loadGdal() && detail::gdal().GDALGetDataTypeByName(name.c_str()) != GDT_Unknown;
}

namespace {

// Writes the grid's rows into band 1 of dataset, top row first, blanks as noData: block by block
// where a block is of a size to hold, else a block of rows at a time through GDAL. progress and
// writeback hear of the rows written.
RasterWriteStatus writeRows(const grid::Grid& grid, GDALDatasetH dataset, double noData,
                            ErrorSink* progress, EarlyWriteback& writeback) {
  GDALRasterBandH band = detail::gdal().GDALGetRasterBand(dataset, 1);
  ProgressPacer pacer = ProgressPacer::opening(progress, grid.ny());
  switch (detail::writeBlocks(band, grid.nodes(), noData, pacer, writeback)) {
    case detail::BlockTransfer::Done:
      return RasterWriteStatus::Ok;
    case detail::BlockTransfer::Failed:
      return RasterWriteStatus::Failed;
    case detail::BlockTransfer::Cancelled:
      return RasterWriteStatus::Cancelled;
    case detail::BlockTransfer::TooLarge:
      break;
  }
  const int nx = grid.nx();
  const int ny = grid.ny();
  const int chunk = rowsPerChunk(band, nx, ny);
  std::vector<double> rows(static_cast<std::size_t>(nx) * static_cast<std::size_t>(chunk));
  const std::span<const double> nodes = grid.nodes();
  for (int row = 0; row < ny; row += chunk) {
    const int count = std::min(chunk, ny - row);
    toGdalRows(nodes.data(), nx, ny - 1 - row, count, noData, rows.data());
    if (detail::gdal().GDALRasterIOEx(band, GF_Write, 0, row, nx, count, rows.data(), nx, count,
                                      GDT_Float64, 0, 0, nullptr) != CE_None) {
      return RasterWriteStatus::Failed;
    }
    writeback.wrote(row + count);
    if (!pacer.advance(row + count)) return RasterWriteStatus::Cancelled;
  }
  return RasterWriteStatus::Ok;
}

std::string prjPathOf(const std::string& path) {
  const std::size_t dot = path.rfind('.');
  return path.substr(0, dot) + ".prj";
}

// Builds the dataset GDAL is to save: the file itself for drivers that create files, else an
// in-memory copy that the driver then copies to the file.
class RasterTarget {
 public:
  RasterTarget(GDALDriverH driver, const std::string& path, const grid::Grid& grid,
               GDALDataType type, OptionList& options)
      : driver_(driver),
        creates_(detail::gdal().GDALGetMetadataItem(driver, GDAL_DCAP_CREATE, nullptr) != nullptr),
        path_(path) {
    GDALDriverH maker = creates_ ? driver : detail::gdal().GDALGetDriverByName("MEM");
    dataset_.reset(detail::gdal().GDALCreate(maker, creates_ ? path.c_str() : "", grid.nx(),
                                             grid.ny(), 1, type,
                                             creates_ ? options.get() : nullptr));
  }
  GDALDatasetH dataset() const { return dataset_.get(); }
  // Whether the coordinate system goes into the dataset: a copied one's driver would write it
  // beside the temporary file, so it is saved as a .prj of its own.
  bool keepsCoordinateSystem() const { return creates_; }
  // Writes the file of a copied dataset and closes it; false when GDAL failed.
  bool close(OptionList& options) {
    if (!creates_) {
      const Dataset copy(detail::gdal().GDALCreateCopy(driver_, path_.c_str(), dataset_.get(),
                                                       FALSE, options.get(), nullptr, nullptr));
      if (!copy) return false;
    }
    dataset_.reset();
    return true;
  }

 private:
  GDALDriverH driver_;
  bool creates_;
  std::string path_;
  Dataset dataset_;
};

// Places the grid on the target's lattice with its coordinate system and no-data value, and
// writes its rows (file being where the target's bytes go, for the early writeback).
RasterWriteStatus fillTarget(RasterTarget& target, const grid::Grid& grid, GDALDataType type,
                             const std::string& file, ErrorSink* progress) {
  placeOnLattice(target.dataset(), grid::Lattice::of(grid), grid.georeference,
                 target.keepsCoordinateSystem());
  const double noData = noDataFor(grid.georeference.noData, type);
  if (grid.georeference.noData || grid.hasBlanks()) {
    detail::gdal().GDALSetRasterNoDataValue(detail::gdal().GDALGetRasterBand(target.dataset(), 1),
                                            noData);
  }
  EarlyWriteback writeback(file, grid.nx());
  return writeRows(grid, target.dataset(), noData, progress, writeback);
}

}  // namespace

RasterWrite writeRaster(const grid::Grid& grid, const std::string& path,
                        const RasterWriteOptions& options, ErrorSink* progress) {
  const memory::Unguarded unguarded;  // GDAL cannot pass a refusal through its C code
  RasterWrite result;
  const char* driverName = writingDriver(lowerExtension(path));
  if (!grid.hasNodes() || driverName == nullptr || !detail::ensureRegistered()) {
    result.status = RasterWriteStatus::Failed;
    result.libraryError = detail::gdalLoadError();
    return result;
  }
  const GDALDataType type = writtenType(options);
  if (type == GDT_Unknown) {
    result.status = RasterWriteStatus::Failed;
    return result;
  }
  detail::ErrorCapture errors;
  // Side files (.aux.xml) would be named after the temporary file and left behind.
  const detail::ThreadOption noSideFiles("GDAL_PAM_ENABLED", "NO");
  GDALDriverH driver = detail::gdal().GDALGetDriverByName(driverName);
  const auto failed = [&](RasterWriteStatus status) {
    result.status = status;
    result.libraryError = errors.message();
    return result;
  };
  if (driver == nullptr) return failed(RasterWriteStatus::Failed);
  {
    SaveSet files;
    const bool copied =
        detail::gdal().GDALGetMetadataItem(driver, GDAL_DCAP_CREATE, nullptr) == nullptr;
    const std::string prj = copied && grid.georeference.hasCoordinateSystem()
                                ? esriWkt(grid.georeference.wkt)
                                : std::string();
    SaveFile* prjFile = prj.empty() ? nullptr : &files.add(prjPathOf(path));
    SaveFile& rasterFile = files.add(path);
    if (!files.open()) {
      result.saveError = files.error();
      return failed(RasterWriteStatus::Refused);
    }
    OptionList creation = creationOptions(driverName, options);
    RasterTarget target(driver, rasterFile.temporaryPath(), grid, type, creation);
    if (target.dataset() == nullptr) return failed(RasterWriteStatus::Failed);
    if (const RasterWriteStatus filled =
            fillTarget(target, grid, type, rasterFile.temporaryPath(), progress);
        filled != RasterWriteStatus::Ok) {
      return failed(filled);
    }
    if (!target.close(creation) || errors.failed()) {
      return failed(RasterWriteStatus::Failed);
    }
    if (!rasterFile.adoptLibraryWrite() || (prjFile != nullptr && !prjFile->write(prj)) ||
        !files.commit()) {
      result.saveError = files.error() != SaveError::None ? files.error() : rasterFile.error();
      return failed(RasterWriteStatus::Failed);
    }
  }
  return result;
}

}  // namespace vellumar::formats
