// Vector layers through vellumar-calc: GeoJSON, GeoPackage and FlatGeobuf loaded as lines,
// polygons and data, saved back with their attributes and coordinate system, layers chosen by
// name, systems compared, and the messages of files that cannot be read.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "CalcRunner.h"

namespace vellumar::cli::testing {
namespace {

constexpr const char* kUtm32 = R"("crs": {"type": "name", "properties":
 {"name": "urn:ogc:def:crs:EPSG::32632"}},)";
constexpr const char* kWgs84 = R"("crs": {"type": "name", "properties":
 {"name": "urn:ogc:def:crs:OGC:1.3:CRS84"}},)";

// Two districts as GeoJSON winds them (outer rings counter-clockwise): Nord, a 10 x 10 square
// with a 2 x 2 lake, and Süd, a square and an island of two parts; in the system given.
std::string districts(const char* system) {
  return std::string(R"({"type": "FeatureCollection", )") + system + R"( "features": [
{"type": "Feature", "properties": {"name": "Nord", "pop": 120.5},
 "geometry": {"type": "Polygon", "coordinates": [
   [[0, 0], [10, 0], [10, 10], [0, 10], [0, 0]], [[2, 2], [2, 4], [4, 4], [4, 2], [2, 2]]]}},
{"type": "Feature", "properties": {"name": "Süd", "pop": 80},
 "geometry": {"type": "MultiPolygon", "coordinates": [
   [[[10, 0], [20, 0], [20, 10], [10, 10], [10, 0]]],
   [[[30, 0], [31, 0], [31, 1], [30, 1], [30, 0]]]]}}]})";
}

TEST(CalcVectors, PolygonAndPointLayersLoadAndRoundTripAndBadLayersSayWhy) {
  ScratchFolder folder;
  const std::string source = folder.write("districts.geojson", districts(kUtm32));
  const std::string degrees = folder.write("degrees.geojson", districts(kWgs84));
  EXPECT_EQ(runClean({"-p", source, "Area(P1)"}).out, "197.000000000000\n");
  // The list names a layer's system in short, as a grid's.
  const auto listed = runClean({"--list", "-p", source, "x = P1 * 2"});
  EXPECT_NE(listed.out.find("P1:                 " + source + "  EPSG:32632\n"), std::string::npos)
      << listed.out;
  EXPECT_NE(listed.out.find("  EPSG:32632\n", listed.out.find("x:")), std::string::npos)
      << listed.out;
  // A layer saved as GeoPackage keeps its rings, the values of the field asked for and its
  // attributes (each format's writer and reader are the vector files' own tests).
  const std::string saved = folder.path("d.gpkg");
  runClean({"--value-field", "pop", "-p", source, "-o", saved, "P1"});
  EXPECT_EQ(runClean({"-p", saved, "Area(P1)"}).out, "197.000000000000\n");
  EXPECT_EQ(
      runClean({"--value-field", "Atribute", "-p", saved, "--each", "P1", "MAX(P1) + Area(P1)"})
          .out,
      "1\t216.500000000000\n2\t181.000000000000\n");
  // Its layer is chosen by name; a layer or a field it does not have is named.
  EXPECT_EQ(runClean({"-p", saved + ":d", "Area(P1)"}).out, "197.000000000000\n");
  EXPECT_EQ(runCalc({"--english", "-p", saved + ":roads", "1"}).outcome(),
            "3: Invalid polygon file format!, file " + saved +
                "\nthe file has no layer \"roads\"; its layers: d\n");
  EXPECT_EQ(runCalc({"--value-field", "area", "-p", saved, "1"}).outcome(),
            "3: В слое «d» нет поля \"area\". Поля слоя: name, pop, Atribute, ID.\n");
  // Damaged files are refused in the vector reader's own tests, with their messages in the
  // rasters' here.
  EXPECT_EQ(runCalc({"--english", "-d", folder.path("none.gpkg"), "1"}).outcome(),
            "3: Cannot open the file " + folder.path("none.gpkg") + " !\n");
  // The system went along: the layer combines with a grid in the same system only.
  const std::string grid =
      folder.write("utm.asc",
                   "ncols 4\nnrows 3\nxllcorner 0\nyllcorner 0\ncellsize 5\n1 1 1 1\n1 1 1 1\n"
                   "1 1 1 1\n");
  folder.write("utm.prj", kUtm32Prj);
  runClean({"-g", grid, "-p", saved, "Integral(G1, P1)"});
  EXPECT_EQ(runCalc({"--english", "-g", grid, "-p", degrees, "Integral(G1, P1)"}).outcome(),
            "1: Integral: the operands have different coordinate systems\n");
  EXPECT_EQ(runCalc({"-p", source, "-p", degrees, "P1 + P2"}).outcome(),
            "1: Сложение: системы координат операндов различны\n");
  // A grid without a system goes with any layer (a GeoJSON layer always has one: WGS 84 unless
  // it names another), and a result keeps its operands' system.
  const std::string plain = folder.write("plain.grd", "DSAA\n3 2\n0 20\n0 10\n1 1\n1 1 1\n1 1 1\n");
  EXPECT_EQ(runClean({"-g", plain, "-p", degrees, "Integral(G1, P1)"}).out,
            runClean({"-g", plain, "-p", source, "Integral(G1, P1)"}).out);
  runClean({"-p", source, "-o", folder.path("union.gpkg"), "P1 + P1"});
  EXPECT_EQ(
      runCalc({"--english", "-p", folder.path("union.gpkg"), "-p", degrees, "P1 * P2"}).outcome(),
      "1: Multiplying: the operands have different coordinate systems\n");
  // Lengths and areas in degrees say so on standard error, beside the result.
  const std::string warning = "coordinates are in degrees: lengths and areas are in degrees\n";
  EXPECT_EQ(runCalc({"--english", "-p", degrees, "Area(P1) * 2"}).all(),
            std::tuple(0, "394.000000000000\n", warning));
  // Metres, and values that are no length or area, say nothing.
  expectOutcomes({
      {{"--english", "-p", degrees, "--each", "P1", "Area(P1)"}, "0: " + warning},
      {{"--english", "-p", source, "Area(P1)"}, "0: "},
      {{"-p", degrees, "Area(P1)"}, "0: координаты в градусах: длины и площади в градусах\n"},
  });

  // Point layers are data with their columns.
  const std::string wells = folder.write("wells.geojson", std::string(R"({"type":
"FeatureCollection", )") + kUtm32 + R"( "features": [
{"type": "Feature", "properties": {"depth": 206.5, "name": "W1"},
 "geometry": {"type": "Point", "coordinates": [1.5, 1, 40]}},
{"type": "Feature", "properties": {"depth": 228.25, "name": "W2"},
 "geometry": {"type": "Point", "coordinates": [2.5, 6.5, 41]}}]})");
  // X and Y are the coordinates, the columns follow; Z is dropped (formats VectorFileTest), which
  // the note on the FlatGeobuf run below says.
  EXPECT_EQ(runClean({"-d", wells, "Sum(D1_3)"}).out, "434.750000000000\n");
  // Data results are saved as points with their values, and read back as data.
  runClean({"-d", wells, "-o", folder.path("twice.gpkg"), "D1_3 * 2"});
  EXPECT_EQ(runClean({"-d", folder.path("twice.gpkg"), "Sum(D1_3)"}).out, "869.500000000000\n");
  // Values without coordinates cannot go into FlatGeobuf; the old file stays.
  const std::string old = folder.write("values.fgb", "old");
  EXPECT_EQ(runCalc({"--english", "--xy", "none", "-d", wells, "-o", old, "D1_3"}).outcome(),
            "3: Shape has Z or Measure - fields: this information will be discarded.\n"
            "Data saving error!\nthis format holds no features without coordinates: save the "
            "values as GeoPackage or GeoJSON\n");
  EXPECT_EQ(folder.read("values.fgb"), "old");
  // Points are no polygon.
  EXPECT_EQ(runCalc({"--english", "-p", wells, "1"}).outcome(),
            "3: Invalid polygon file format!, file " + wells +
                "\nfeature 1 of the layer \"wells\" is a 3D Point\n");
}

}  // namespace
}  // namespace vellumar::cli::testing
