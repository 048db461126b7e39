#pragma once

#include <gdal.h>
#include <gdal_utils.h>

#include <string>
#include <string_view>
#include <vector>

namespace vellumar::formats::testing {

// Two districts in UTM 32N as GeoJSON winds them (outer rings counter-clockwise, holes
// clockwise): a square with a square lake, and a district of two parts; then a feature without a
// geometry.
inline constexpr const char* kDistricts = R"({"type": "FeatureCollection",
"crs": {"type": "name", "properties": {"name": "urn:ogc:def:crs:EPSG::32632"}},
"features": [
{"type": "Feature", "properties": {"name": "Nord", "pop": 120.5, "code": 7},
 "geometry": {"type": "Polygon", "coordinates": [
   [[0, 0], [10, 0], [10, 10], [0, 10], [0, 0]],
   [[2, 2], [2, 4], [4, 4], [4, 2], [2, 2]]]}},
{"type": "Feature", "properties": {"name": "Süd", "pop": null, "code": 9},
 "geometry": {"type": "MultiPolygon", "coordinates": [
   [[[10, 0], [20, 0], [20, 10], [10, 10], [10, 0]]],
   [[[30, 0], [31, 0], [31, 1], [30, 1], [30, 0]]]]}},
{"type": "Feature", "properties": {"name": "none", "pop": 1, "code": 1}, "geometry": null}
]})";

// Converts the vector file source to target with GDAL, as ogr2ogr would make the file users hold:
// to the format of driver, under the layer name layer when given, adding the layer to target when
// append is set. True when GDAL wrote it.
inline bool translateVector(const std::string& source, const std::string& target,
                            const char* driver, const char* layer = nullptr, bool append = false) {
  GDALAllRegister();
  GDALDatasetH input = GDALOpenEx(source.c_str(), GDAL_OF_VECTOR, nullptr, nullptr, nullptr);
  if (input == nullptr) return false;
  std::vector<const char*> arguments = {"-f", driver};
  if (layer != nullptr) arguments.insert(arguments.end(), {"-nln", layer});
  if (append) arguments.push_back("-update");
  // FlatGeobuf's spatial index would sort the features and drop those without a geometry.
  if (std::string_view(driver) == "FlatGeobuf")
    arguments.insert(arguments.end(), {"-lco", "SPATIAL_INDEX=NO"});
  arguments.push_back(nullptr);
  GDALVectorTranslateOptions* options =
      GDALVectorTranslateOptionsNew(const_cast<char**>(arguments.data()), nullptr);
  GDALDatasetH output = GDALVectorTranslate(target.c_str(), nullptr, 1, &input, options, nullptr);
  GDALVectorTranslateOptionsFree(options);
  if (output != nullptr) GDALClose(output);
  GDALClose(input);
  return output != nullptr;
}

}  // namespace vellumar::formats::testing
