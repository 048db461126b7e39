#include "formats/RasterDetail.h"

#include <cpl_string.h>

#include <algorithm>
#include <cfloat>
#include <cmath>

namespace vellumar::formats::detail {

// Whether a value of the given type can hold v exactly.
bool typeHolds(GDALDataType type, double v) {
  if (gdal().GDALDataTypeIsFloating(type)) {
    if (gdal().GDALGetDataTypeSizeBits(type) >= 64 || !std::isfinite(v)) return true;
    return std::fabs(v) <= FLT_MAX && static_cast<double>(static_cast<float>(v)) == v;
  }
  if (!gdal().GDALDataTypeIsInteger(type) || v != std::trunc(v)) return false;
  const int bits = std::min(gdal().GDALGetDataTypeSizeBits(type), 64);
  const double span = std::ldexp(1.0, gdal().GDALDataTypeIsSigned(type) ? bits - 1 : bits);
  const double low = gdal().GDALDataTypeIsSigned(type) ? -span : 0.0;
  return v >= low && v < span;
}

// The value a band of the type hands back for a no-data value it holds: Float32 bands give the
// float nearest to it, every other type the value itself.
double asRead(GDALDataType type, double v) {
  if (gdal().GDALDataTypeIsFloating(type) && gdal().GDALGetDataTypeSizeBits(type) == 32) {
    return static_cast<double>(static_cast<float>(v));
  }
  return v;
}

// The lattice of a geotransform whose pixels are axis-parallel and run east; false otherwise.
bool latticeOf(const double (&gt)[6], int nx, int ny, RasterLattice& lattice) {
  for (const double g : gt) {
    if (!std::isfinite(g)) return false;
  }
  if (gt[2] != 0.0 || gt[4] != 0.0 || !(gt[1] > 0.0) || gt[5] == 0.0) return false;
  lattice.left = gt[0] + 0.5 * gt[1];
  lattice.right = lattice.left + (nx - 1) * gt[1];
  const double firstRow = gt[3] + 0.5 * gt[5];
  const double lastRow = firstRow + (ny - 1) * gt[5];
  lattice.topRowFirst = gt[5] < 0.0;
  lattice.top = std::max(firstRow, lastRow);
  lattice.bottom = std::min(firstRow, lastRow);
  return std::isfinite(lattice.right) && std::isfinite(lattice.bottom) &&
         std::isfinite(lattice.top);
}

// Turns the band's no-data value, NaN and the infinities into blank nodes; the z-range of the
// rest.
grid::Range blankNoData(std::span<double> nodes, bool hasNoData, double noData) {
  for (double& v : nodes) {
    if (!std::isfinite(v) || (hasNoData && v == noData)) v = grid::kBlankValue;
  }
  return grid::rangeOf(nodes);
}

// The band's no-data value when it has one its type can hold; notes one it cannot.
std::optional<double> bandNoData(GDALRasterBandH band, RasterRead& result) {
  int has = 0;
  const double noData = gdal().GDALGetRasterNoDataValue(band, &has);
  if (!has) return std::nullopt;
  const GDALDataType type = gdal().GDALGetRasterDataType(band);
  if (!std::isnan(noData) && !typeHolds(type, asRead(type, noData))) {
    result.notices.push_back(RasterNotice::NoDataOutOfType);
    result.ignoredNoData = noData;
    return std::nullopt;
  }
  return noData;
}

// The outcome of a read when GDAL itself could not be loaded.
RasterRead libraryMissing() {
  RasterRead result = failure(RasterStatus::NotRaster);
  result.libraryError = gdalLoadError();
  return result;
}

namespace {

std::vector<std::string> subdatasetNames(GDALDatasetH dataset) {
  std::vector<std::string> names;
  char** entries = gdal().GDALGetMetadata(dataset, "SUBDATASETS");
  for (int i = 0; entries != nullptr && entries[i] != nullptr; ++i) {
    std::string_view entry(entries[i]);
    const std::size_t equals = entry.find('=');
    if (equals == std::string_view::npos) continue;
    if (entry.substr(0, equals).ends_with("_NAME")) names.emplace_back(entry.substr(equals + 1));
  }
  return names;
}

}  // namespace

grid::Grid BandLayout::gridOf(const grid::Lattice& over, grid::NodeVector nodes) const {
  const grid::Range range = blankNoData(nodes, readNoData.has_value(), readNoData.value_or(0.0));
  return over.holding(std::move(nodes), range, georeference, grid::Interpolation::Spline);
}

bool describeBand(GDALDatasetH dataset, int bandNumber, BandLayout& layout, RasterRead& result) {
  const int bands = gdal().GDALGetRasterCount(dataset);
  if (bands == 0) {
    result.subdatasets = subdatasetNames(dataset);
    result.status =
        result.subdatasets.empty() ? RasterStatus::NotRaster : RasterStatus::SeveralGrids;
    return false;
  }
  if (bandNumber < 1 || bandNumber > bands) {
    result.status = RasterStatus::NoSuchBand;
    return false;
  }
  layout.band = gdal().GDALGetRasterBand(dataset, bandNumber);
  layout.nx = gdal().GDALGetRasterXSize(dataset);
  layout.ny = gdal().GDALGetRasterYSize(dataset);
  if (layout.band == nullptr || layout.nx < 1 || layout.ny < 1) {
    result.status = RasterStatus::NotRaster;
    return false;
  }
  const GDALDataType type = gdal().GDALGetRasterDataType(layout.band);
  result.bandType = gdal().GDALGetDataTypeName(type);
  double gt[6] = {0, 1, 0, 0, 0, -1};
  RasterLattice raster{0.0, layout.nx - 1.0, 0.0, layout.ny - 1.0, true};
  if (gdal().GDALGetGeoTransform(dataset, gt) == CE_None) {
    if (!latticeOf(gt, layout.nx, layout.ny, raster)) {
      result.status = RasterStatus::Rotated;
      return false;
    }
  } else {
    result.notices.push_back(RasterNotice::NoGeotransform);
  }
  layout.lattice = {layout.nx, layout.ny, raster.left, raster.right, raster.bottom, raster.top};
  layout.topRowFirst = raster.topRowFirst;
  layout.georeference.noData = bandNoData(layout.band, result);
  if (layout.georeference.noData) layout.readNoData = asRead(type, *layout.georeference.noData);
  const char* wkt = gdal().GDALGetProjectionRef(dataset);
  layout.georeference.wkt = wkt != nullptr ? wkt : "";
  layout.georeference.shortName = shortName(layout.georeference.wkt);
  return true;
}

RasterRead failure(RasterStatus status) {
  RasterRead result;
  result.status = status;
  return result;
}

RasterRead failure(RasterStatus status, const ErrorCapture& errors) {
  RasterRead result = failure(status);
  result.libraryError = errors.message();
  return result;
}

Dataset openRaster(const char* name) {
  // ESRI ASCII grids hold decimal text; GDAL would read them as Float32 unless told otherwise.
  const ThreadOption exactText("AAIGRID_DATATYPE", "Float64");
  return Dataset(gdal().GDALOpenEx(name, GDAL_OF_RASTER | GDAL_OF_READONLY | GDAL_OF_VERBOSE_ERROR,
                                   nullptr, nullptr, nullptr));
}

bool OptionList::has(std::string_view key) const {
  return std::any_of(texts_.begin(), texts_.end(), [&](const std::string& option) {
    return option.size() > key.size() && option[key.size()] == '=' &&
           EQUALN(option.c_str(), std::string(key).c_str(), static_cast<int>(key.size()));
  });
}

char** OptionList::get() {
  pointers_.clear();
  for (std::string& text : texts_) pointers_.push_back(text.data());
  pointers_.push_back(nullptr);
  return pointers_.data();
}

OptionList creationOptions(const char* driver, const RasterWriteOptions& options) {
  OptionList list(options.creationOptions);
  if (std::string_view(driver) == "GTiff" && !list.has("TILED")) list.add("TILED=YES");
  // ESRI ASCII keeps every double only with all the digits that tell it apart.
  if (std::string_view(driver) == "AAIGrid" && !list.has("DECIMAL_PRECISION") &&
      !list.has("SIGNIFICANT_DIGITS")) {
    list.add("SIGNIFICANT_DIGITS=17");
  }
  if (list.has("COMPRESS") && !list.has("NUM_THREADS")) {
    list.add("NUM_THREADS=" +
             (options.threads > 0 ? std::to_string(options.threads) : std::string("ALL_CPUS")));
  }
  return list;
}

// The value blank nodes are written as in a file of the type.
double noDataFor(const std::optional<double>& own, GDALDataType type) {
  if (own && typeHolds(type, *own)) return *own;
  if (typeHolds(type, grid::kBlankValue)) return grid::kBlankValue;
  if (gdal().GDALDataTypeIsFloating(type)) return static_cast<double>(FLT_MAX);
  const int bits = std::min(gdal().GDALGetDataTypeSizeBits(type), 64);
  return gdal().GDALDataTypeIsSigned(type) ? -std::ldexp(1.0, bits - 1)
                                           : std::ldexp(1.0, bits) - 1.0;
}

bool toGdalRows(const double* nodes, int nx, int top, int count, double noData, double* out) {
  bool blank = false;
  for (int k = 0; k < count; ++k) {
    const double* from = nodes + static_cast<std::size_t>(top - k) * nx;
    double* to = out + static_cast<std::size_t>(k) * nx;
    for (int i = 0; i < nx; ++i) {
      const bool empty = grid::isBlank(from[i]);
      blank = blank || empty;
      to[i] = empty ? noData : from[i];
    }
  }
  return blank;
}

GDALDataType writtenType(const RasterWriteOptions& options) {
  return options.dataType.empty() ? GDT_Float64
                                  : gdal().GDALGetDataTypeByName(options.dataType.c_str());
}

void placeOnLattice(GDALDatasetH dataset, const grid::Lattice& lattice,
                    const grid::Georeference& georeference, bool withSystem) {
  const double hx = lattice.stepX() > 0.0 ? lattice.stepX() : 1.0;
  const double hy = lattice.stepY() > 0.0 ? lattice.stepY() : 1.0;
  double gt[6] = {lattice.left - 0.5 * hx, hx, 0.0, lattice.top + 0.5 * hy, 0.0, -hy};
  gdal().GDALSetGeoTransform(dataset, gt);
  if (withSystem && georeference.hasCoordinateSystem()) {
    gdal().GDALSetProjection(dataset, georeference.wkt.c_str());
  }
}

}  // namespace vellumar::formats::detail
