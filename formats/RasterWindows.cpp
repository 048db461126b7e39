#include "formats/RasterWindows.h"

#include <gdal.h>
#include <sys/stat.h>

#include <algorithm>
#include <new>
#include <vector>

#include "common/MemoryGuard.h"
#include "common/SafeSave.h"
#include "formats/RasterDetail.h"

namespace vellumar::formats {

using namespace detail;

struct RasterWindowReader::Band {
  Dataset dataset;
  BandLayout layout;
};

RasterWindowReader::RasterWindowReader() = default;
RasterWindowReader::~RasterWindowReader() = default;
RasterWindowReader::RasterWindowReader(RasterWindowReader&&) noexcept = default;
RasterWindowReader& RasterWindowReader::operator=(RasterWindowReader&&) noexcept = default;

RasterRead RasterWindowReader::open(const std::string& path, int bandNumber) {
  const memory::Unguarded unguarded;  // GDAL cannot pass a refusal through its C code
  struct stat info {};
  const bool exists = stat(path.c_str(), &info) == 0;
  if (exists && !S_ISREG(info.st_mode)) return failure(RasterStatus::CannotOpen);
  if (!ensureRegistered()) return libraryMissing();
  ErrorCapture errors;
  auto opened = std::make_unique<Band>();
  opened->dataset = openRaster(path.c_str());
  if (!opened->dataset) {
    return failure(exists ? RasterStatus::NotRaster : RasterStatus::CannotOpen, errors);
  }
  RasterRead result;
  if (!describeBand(opened->dataset.get(), bandNumber, opened->layout, result)) return result;
  lattice_ = opened->layout.lattice;
  georeference_ = opened->layout.georeference;
  path_ = path;
  band_ = std::move(opened);
  return result;
}

RasterRead RasterWindowReader::read(const grid::NodeWindow& window, grid::Grid& grid) const {
  const memory::Unguarded unguarded;  // GDAL cannot pass a refusal through its C code
  if (!band_ || window.nx < 1 || window.ny < 1 || window.i0 < 0 || window.j0 < 0 ||
      window.i0 + window.nx > lattice_.nx || window.j0 + window.ny > lattice_.ny) {
    return failure(RasterStatus::NotRaster);
  }
  ErrorCapture errors;
  grid::NodeVector nodes(window.nodeCount());
  // Grid rows count from the bottom; a top-first raster's rows are read turned over, its first
  // row read landing in the window's last.
  const BandLayout& layout = band_->layout;
  const auto rowSpacing = static_cast<GSpacing>(window.nx) * static_cast<GSpacing>(sizeof(double));
  const bool turned = layout.topRowFirst;
  const int firstRow = turned ? lattice_.ny - window.j0 - window.ny : window.j0;
  double* start = turned ? nodes.data() + (window.nodeCount() - window.nx) : nodes.data();
  if (gdal().GDALRasterIOEx(layout.band, GF_Read, window.i0, firstRow, window.nx, window.ny, start,
                            window.nx, window.ny, GDT_Float64, 0, turned ? -rowSpacing : rowSpacing,
                            nullptr) != CE_None) {
    return failure(RasterStatus::NotRaster, errors);
  }
  grid = layout.gridOf(lattice_.window(window), std::move(nodes));
  grid.name = path_;
  return {};
}

struct RasterTileWriter::File {
  SaveSet files;
  SaveFile* target = nullptr;
  Dataset dataset;
  GDALRasterBandH band = nullptr;
  grid::Lattice lattice;
  std::optional<double> ownNoData;
  double noData = 0.0;
  bool wroteBlank = false;
  std::vector<double> rows;  // the rows of one window as GDAL takes them
};

RasterTileWriter::RasterTileWriter() = default;
RasterTileWriter::~RasterTileWriter() {
  const memory::Unguarded unguarded;
  file_.reset();  // closes the dataset before the save set removes its file
}

bool RasterTileWriter::writes(const std::string& path) {
  const std::string extension = lowerExtension(path);
  return extension == ".tif" || extension == ".tiff";
}

RasterWrite RasterTileWriter::create(const std::string& path, const grid::Lattice& lattice,
                                     const grid::Georeference& georeference,
                                     const RasterWriteOptions& options) {
  const memory::Unguarded unguarded;  // GDAL cannot pass a refusal through its C code
  RasterWrite result;
  result.status = RasterWriteStatus::Failed;
  if (!writes(path) || lattice.nodeCount() == 0 || !ensureRegistered()) {
    result.libraryError = gdalLoadError();
    return result;
  }
  const GDALDataType type = writtenType(options);
  GDALDriverH driver = gdal().GDALGetDriverByName("GTiff");
  if (type == GDT_Unknown || driver == nullptr) return result;
  ErrorCapture errors;
  const ThreadOption noSideFiles("GDAL_PAM_ENABLED", "NO");
  auto file = std::make_unique<File>();
  file->target = &file->files.add(path);
  if (!file->files.open()) {
    result.status = RasterWriteStatus::Refused;
    result.saveError = file->files.error();
    return result;
  }
  OptionList creation = creationOptions("GTiff", options);
  file->dataset.reset(gdal().GDALCreate(driver, file->target->temporaryPath().c_str(), lattice.nx,
                                        lattice.ny, 1, type, creation.get()));
  if (!file->dataset) {
    result.libraryError = errors.message();
    return result;
  }
  placeOnLattice(file->dataset.get(), lattice, georeference, true);
  file->band = gdal().GDALGetRasterBand(file->dataset.get(), 1);
  file->lattice = lattice;
  file->ownNoData = georeference.noData;
  file->noData = noDataFor(georeference.noData, type);
  file_ = std::move(file);
  return {};
}

RasterWrite RasterTileWriter::write(const grid::Grid& part, const grid::NodeWindow& where) {
  const memory::Unguarded unguarded;  // GDAL cannot pass a refusal through its C code
  RasterWrite result;
  result.status = RasterWriteStatus::Failed;
  if (!file_ || part.nx() != where.nx || part.ny() != where.ny ||
      where.i0 + where.nx > file_->lattice.nx || where.j0 + where.ny > file_->lattice.ny) {
    return result;
  }
  ErrorCapture errors;
  std::vector<double>& rows = file_->rows;
  rows.resize(where.nodeCount());
  if (toGdalRows(part.nodes().data(), where.nx, where.ny - 1, where.ny, file_->noData,
                 rows.data())) {
    file_->wroteBlank = true;
  }
  const int firstRow = file_->lattice.ny - where.j0 - where.ny;
  if (gdal().GDALRasterIOEx(file_->band, GF_Write, where.i0, firstRow, where.nx, where.ny,
                            rows.data(), where.nx, where.ny, GDT_Float64, 0, 0,
                            nullptr) != CE_None) {
    result.libraryError = errors.message();
    return result;
  }
  return {};
}

RasterWrite RasterTileWriter::commit() {
  const memory::Unguarded unguarded;  // GDAL cannot pass a refusal through its C code
  RasterWrite result;
  result.status = RasterWriteStatus::Failed;
  if (!file_) return result;
  ErrorCapture errors;
  if (file_->ownNoData || file_->wroteBlank) {
    gdal().GDALSetRasterNoDataValue(file_->band, file_->noData);
  }
  file_->dataset.reset();
  if (errors.failed()) {
    result.libraryError = errors.message();
    file_.reset();
    return result;
  }
  SaveFile& target = *file_->target;
  if (!target.adoptLibraryWrite() || !file_->files.commit()) {
    result.saveError =
        file_->files.error() != SaveError::None ? file_->files.error() : target.error();
    file_.reset();
    return result;
  }
  file_.reset();
  return {};
}

}  // namespace vellumar::formats
