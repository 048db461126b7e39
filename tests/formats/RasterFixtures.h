#pragma once

#include <cpl_conv.h>
#include <gdal.h>
#include <ogr_srs_api.h>

#include <string>
#include <vector>

namespace vellumar::formats::testing {

// The WKT of an EPSG coordinate system, as GDAL spells it.
inline std::string epsgWkt(int code) {
  OGRSpatialReferenceH srs = OSRNewSpatialReference(nullptr);
  OSRImportFromEPSG(srs, code);
  char* text = nullptr;
  OSRExportToWkt(srs, &text);
  std::string wkt = text != nullptr ? text : "";
  CPLFree(text);
  OSRDestroySpatialReference(srs);
  return wkt;
}

// A raster as another program writes it: size, bands of values row by row from the top row
// (as GDAL stores them), a geotransform, a coordinate system and a no-data value.
struct RasterFixture {
  int nx = 5;
  int ny = 4;
  GDALDataType type = GDT_Float64;
  std::vector<std::vector<double>> bands;  // each nx * ny values, top row first
  bool placed = true;
  double gt[6] = {1000.0, 10.0, 0.0, 2000.0, 0.0, -20.0};
  std::string wkt;
  bool hasNoData = false;
  double noData = 0.0;
};

// Writes the raster to path with the GDAL driver, directly where it creates files, else through an
// in-memory copy; true when GDAL wrote it.
inline bool writeFixture(const RasterFixture& raster, const char* driverName,
                         const std::string& path, char** options = nullptr) {
  GDALAllRegister();
  GDALDriverH driver = GDALGetDriverByName(driverName);
  if (driver == nullptr) return false;
  const bool creates = GDALGetMetadataItem(driver, GDAL_DCAP_CREATE, nullptr) != nullptr;
  GDALDatasetH dataset = GDALCreate(
      creates ? driver : GDALGetDriverByName("MEM"), creates ? path.c_str() : "", raster.nx,
      raster.ny, static_cast<int>(raster.bands.size()), raster.type, creates ? options : nullptr);
  if (dataset == nullptr) return false;
  if (raster.placed) GDALSetGeoTransform(dataset, const_cast<double*>(raster.gt));
  if (!raster.wkt.empty()) GDALSetProjection(dataset, raster.wkt.c_str());
  bool ok = true;
  for (std::size_t b = 0; b < raster.bands.size(); ++b) {
    GDALRasterBandH band = GDALGetRasterBand(dataset, static_cast<int>(b) + 1);
    if (raster.hasNoData) GDALSetRasterNoDataValue(band, raster.noData);
    std::vector<double> values = raster.bands[b];
    ok = ok && GDALRasterIO(band, GF_Write, 0, 0, raster.nx, raster.ny, values.data(), raster.nx,
                            raster.ny, GDT_Float64, 0, 0) == CE_None;
  }
  if (!creates) {
    GDALDatasetH copy =
        GDALCreateCopy(driver, path.c_str(), dataset, FALSE, options, nullptr, nullptr);
    ok = ok && copy != nullptr;
    if (copy != nullptr) GDALClose(copy);
  }
  GDALClose(dataset);
  return ok;
}

// The values of band 1 of the raster at path, top row first, as GDAL reads them (and its
// geotransform into gt when given).
inline std::vector<double> gdalValues(const std::string& path, double* gt = nullptr) {
  GDALDatasetH dataset = GDALOpen(path.c_str(), GA_ReadOnly);
  if (dataset == nullptr) return {};
  const int nx = GDALGetRasterXSize(dataset);
  const int ny = GDALGetRasterYSize(dataset);
  std::vector<double> values(static_cast<std::size_t>(nx) * ny);
  if (GDALRasterIO(GDALGetRasterBand(dataset, 1), GF_Read, 0, 0, nx, ny, values.data(), nx, ny,
                   GDT_Float64, 0, 0) != CE_None) {
    values.clear();
  }
  if (gt != nullptr) GDALGetGeoTransform(dataset, gt);
  GDALClose(dataset);
  return values;
}

// Row-major values from the top row, k-th value f(k).
template <class F>
std::vector<double> valuesOf(int nx, int ny, F f) {
  std::vector<double> values(static_cast<std::size_t>(nx) * ny);
  for (std::size_t k = 0; k < values.size(); ++k) values[k] = f(static_cast<int>(k));
  return values;
}

}  // namespace vellumar::formats::testing
