#include "engine/GridLoader.h"

#include <memory>

#include "common/CFormat.h"
#include "engine/EngineMessages.h"
#include "formats/FormatMessages.h"
#include "grid/DsaaFile.h"
#include "grid/GridMessages.h"

namespace vellumar::engine {

FileStatus GridLoader::read(const std::string& path, int band, Operand& operand) const {
  if (!formats::readsAsRaster(path)) return readDsaa(path, operand);
  auto grid = std::make_shared<grid::Grid>();
  const formats::RasterRead read = formats::readRaster(path, band, *grid, messages_.fileProgress());
  FileStatus status = rasterStatus(read, path, band, grid->nx(), grid->ny());
  if (status.ok) operand = Operand::grid(std::move(grid));
  return status;
}

FileStatus GridLoader::readDsaa(const std::string& path, Operand& operand) const {
  auto grid = std::make_shared<grid::Grid>();
  const grid::DsaaRead read = grid::readDsaa(path, *grid, messages_.fileProgress());
  switch (read.status) {
    case grid::DsaaStatus::Ok:
      operand = Operand::grid(std::move(grid));
      return FileStatus::success();
    case grid::DsaaStatus::Cancelled:
      return messages_.cancelled();
    case grid::DsaaStatus::CannotOpen:
      if (isMissing(path)) return messages_.cannotOpen(path);
      break;
    case grid::DsaaStatus::Invalid:
      break;
  }
  return FileStatus::failure(messages_.placed(messages_.text(grid::text::kInvalidGridFile),
                                              text::kAtLine, read.place.line));
}

FileStatus GridLoader::openWindows(const std::string& path, int band,
                                   formats::RasterWindowReader& reader) const {
  const formats::RasterRead read = reader.open(path, band);
  return rasterStatus(read, path, band, reader.lattice().nx, reader.lattice().ny);
}

int GridLoader::bandCount(const std::string& path) {
  return formats::readsAsRaster(path) ? formats::bandCount(path) : 1;
}

FileStatus GridLoader::rasterStatus(const formats::RasterRead& read, const std::string& path,
                                    int band, int nx, int ny) const {
  const char* file = path.c_str();
  switch (read.status) {
    case formats::RasterStatus::Ok:
      break;
    case formats::RasterStatus::Cancelled:
      return messages_.cancelled();
    case formats::RasterStatus::NoSuchBand:
      return FileStatus::failure(cformat(messages_.text(formats::text::kNoSuchBand), file, band));
    case formats::RasterStatus::Rotated:
      return FileStatus::failure(cformat(messages_.text(formats::text::kRotated), file));
    case formats::RasterStatus::SeveralGrids:
      return messages_.fileFault(grid::text::kInvalidGridFile, path,
                                 cformat(messages_.text(formats::text::kSeveralGrids),
                                         messages_.nameList(read.subdatasets).c_str()));
    case formats::RasterStatus::CannotOpen:
    case formats::RasterStatus::NotRaster:
      // The grid load message naming the file, and what GDAL said on a line of its own.
      return messages_.fileFault(grid::text::kInvalidGridFile, path, read.libraryError);
  }
  return FileStatus::success(rasterNotices(read, file, nx, ny));
}

std::string GridLoader::rasterNotices(const formats::RasterRead& read, const char* file, int nx,
                                      int ny) const {
  std::string notices;
  for (const formats::RasterNotice notice : read.notices) {
    if (!notices.empty()) notices += '\n';
    if (notice == formats::RasterNotice::NoGeotransform) {
      notices += cformat(messages_.text(formats::text::kNoGeotransform), file, nx - 1, ny - 1);
    } else {
      notices += cformat(messages_.text(formats::text::kNoDataOutOfType),
                         cformat("%.17g", read.ignoredNoData).c_str(), file, read.bandType.c_str());
    }
  }
  return notices;
}

}  // namespace vellumar::engine
