// Vector layers through OGR: what each geometry becomes, ring orientation, attributes, layers,
// coordinate systems, round trips of every written format, and files that are damaged.
#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <string_view>
#include <tuple>
#include <vector>

#include "../common/TableSupport.h"
#include "../common/TestSupport.h"
#include "RasterFixtures.h"
#include "VectorFixtures.h"
#include "formats/CoordinateSystem.h"
#include "formats/VectorFile.h"

namespace vellumar::formats {
namespace {

using vellumar::testing::columnNames;
using Names = std::vector<std::string>;
// Lines as described() gives them.
using Described = std::vector<std::vector<double>>;

class VectorFileTest : public vellumar::testing::FolderTest {
 protected:
  std::string write(const std::string& name, const std::string& bytes) const {
    std::ofstream(path(name), std::ios::binary) << bytes;
    return path(name);
  }

  // The GeoJSON source converted by GDAL to the format of driver, under the layer name layer
  // when given.
  std::string converted(const std::string& source, const std::string& name, const char* driver,
                        const char* layer = nullptr, bool append = false) const {
    EXPECT_TRUE(testing::translateVector(source, path(name), driver, layer, append)) << name;
    return path(name);
  }

  static VectorContent read(const std::string& path, VectorLoad load,
                            const std::string& valueField = {}) {
    VectorContent content;
    const VectorRead outcome = readVector(path, load, valueField, content);
    EXPECT_EQ(outcome.status, VectorStatus::Ok) << path << ": " << outcome.libraryError;
    return content;
  }
};

// Every line of a cover as its points, then its value and (when asked) its id, to compare two
// covers exactly.
Described described(const geometry::Cover& cover, bool ids = true) {
  Described lines;
  for (const geometry::Line& line : cover.lines()) {
    std::vector<double>& xy = lines.emplace_back();
    for (const geometry::Point& p : line.points()) xy.insert(xy.end(), {p.x, p.y});
    xy.push_back(line.value);
    if (ids) xy.push_back(line.id);
  }
  return lines;
}

// One column's numbers or cell texts row by row.
std::vector<double> numbers(const data::M_Data& table, int column) {
  std::vector<double> values;
  for (int r = 0; r < table.rowCount(); ++r) values.push_back(table.NumericValue(r, column));
  return values;
}
std::vector<std::string> texts(const data::M_Data& table, int column) {
  std::vector<std::string> values;
  for (int r = 0; r < table.rowCount(); ++r) values.push_back(table.CellText(r, column));
  return values;
}

// What a read that failed on a feature says: its status, the feature and its geometry.
std::tuple<VectorStatus, std::int64_t, std::string> faultOf(const VectorRead& read) {
  return {read.status, read.feature, read.geometryName};
}

TEST_F(VectorFileTest, PolygonsOfEveryFormatReadAsOrientedRingsWithTheirRecords) {
  const std::string source = write("districts.geojson", testing::kDistricts);
  const std::vector<std::string> files = {source, converted(source, "d.gpkg", "GPKG"),
                                          converted(source, "d.fgb", "FlatGeobuf"),
                                          converted(source, "d.gml", "GML")};
  for (const std::string& path : files) {
    SCOPED_TRACE(path);
    VectorContent content;
    const VectorRead outcome = readVector(path, VectorLoad::Polygons, "POP", content);
    ASSERT_EQ(outcome.status, VectorStatus::Ok) << outcome.libraryError;
    // Outer rings clockwise, the lake counter-clockwise, whatever the file's winding; each ring is
    // its feature's record, with the value of the field asked for (null: 0).
    std::vector<std::tuple<double, std::int32_t, double>> rings;
    for (const geometry::Line& ring : content.cover.lines())
      rings.emplace_back(ring.signedArea(), ring.id, ring.value);
    EXPECT_EQ(rings, (std::vector<std::tuple<double, std::int32_t, double>>{
                         {-100.0, 1, 120.5}, {4.0, 1, 120.5}, {-100.0, 2, 0.0}, {-1.0, 2, 0.0}}));
    // The feature without a geometry keeps its record and gives no ring (FlatGeobuf holds none).
    const data::AttributeTable& table = content.attributes;
    ASSERT_EQ(table.rows.size(), path.ends_with(".fgb") ? 2u : 3u);
    // Both fields are found: a missing one (-1) would turn into the largest index.
    const auto name = static_cast<std::size_t>(table.findField("name"));
    const auto code = static_cast<std::size_t>(table.findField("CODE"));
    ASSERT_LT(std::max(name, code), table.fields.size());
    EXPECT_EQ(std::tie(table.rows[1][name], table.rows[1][code], table.fields[name].type),
              std::tuple("Süd", "9", 'C'));
    EXPECT_GE(table.fields[name].width, 4);
    EXPECT_TRUE(sameCoordinateSystem(outcome.coordinateSystem, testing::epsgWkt(32632)));
    EXPECT_FALSE(sameCoordinateSystem(outcome.coordinateSystem, testing::epsgWkt(4326)));
  }
}

TEST_F(VectorFileTest, WhatEachGeometryBecomesAndWhatALoadRefuses) {
  const std::string polygons = write("districts.geojson", testing::kDistricts);
  // A polygon layer loads as lines too: its rings as closed lines.
  const VectorContent rings = read(polygons, VectorLoad::Lines);
  ASSERT_EQ(rings.cover.size(), 4u);
  EXPECT_TRUE(rings.cover[1].isClosed());

  const std::string roads = write("roads.geojson", R"({"type": "FeatureCollection", "features": [
{"type": "Feature", "properties": {"kind": "a"}, "geometry": {"type": "LineString",
 "coordinates": [[0, 0, 5], [3, 4, 6]]}},
{"type": "Feature", "properties": {"kind": "b"}, "geometry": {"type": "MultiLineString",
 "coordinates": [[[1, 1], [2, 2]], [[5, 5], [6, 5], [6, 6]]]}}]})");
  VectorContent lines;
  const VectorRead lineRead = readVector(roads, VectorLoad::Lines, {}, lines);
  ASSERT_TRUE(lineRead);
  EXPECT_TRUE(lineRead.droppedZOrM);  // the first line has Z
  // Each part of a multiline is a line of its feature; without a value field the values are 0.
  EXPECT_EQ(described(lines.cover),
            (Described{{0, 0, 3, 4, 0, 1}, {1, 1, 2, 2, 0, 2}, {5, 5, 6, 5, 6, 6, 0, 2}}));
  EXPECT_TRUE(lineRead.coordinateSystem.empty() ||
              sameCoordinateSystem(lineRead.coordinateSystem, testing::epsgWkt(4326)));

  // Lines are no polygon, and not data; polygons are not data.
  VectorContent unchanged;
  EXPECT_EQ(faultOf(readVector(roads, VectorLoad::Polygons, {}, unchanged)),
            std::tuple(VectorStatus::WrongGeometry, 1, "3D Line String"));
  EXPECT_EQ(faultOf(readVector(polygons, VectorLoad::Table, {}, unchanged)),
            std::tuple(VectorStatus::WrongGeometry, 1, "Polygon"));
  EXPECT_EQ(std::pair(unchanged.cover.empty(), unchanged.table.rowCount()), std::pair(true, 0));

  // A geometry collection is no kind of operand.
  const std::string mixed = write("mixed.geojson", R"({"type": "FeatureCollection", "features": [
{"type": "Feature", "properties": {}, "geometry": {"type": "LineString",
 "coordinates": [[0, 0], [1, 1]]}},
{"type": "Feature", "properties": {}, "geometry": {"type": "GeometryCollection", "geometries": [
 {"type": "Point", "coordinates": [1, 2]}]}}]})");
  EXPECT_EQ(faultOf(readVector(mixed, VectorLoad::Lines, {}, unchanged)),
            std::tuple(VectorStatus::WrongGeometry, 2, "Geometry Collection"));

  // Points become a table: X, Y, then the attribute columns; a multipoint gives a row per point.
  const std::string wells = write("wells.geojson", R"({"type": "FeatureCollection", "features": [
{"type": "Feature", "properties": {"depth": 206.5, "name": "W1"},
 "geometry": {"type": "Point", "coordinates": [1.5, 1]}},
{"type": "Feature", "properties": {"depth": null, "name": "W2"},
 "geometry": {"type": "MultiPoint", "coordinates": [[2.5, 6.5], [3, 7]]}},
{"type": "Feature", "properties": {"depth": 3, "name": "lost"}, "geometry": null}]})");
  const data::M_Data table = read(wells, VectorLoad::Table).table;
  EXPECT_EQ(columnNames(table), (Names{"X", "Y", "depth", "name"}));
  const double none = table.missingCellValue();  // the last row has no geometry, no position
  EXPECT_EQ(numbers(table, 0), (std::vector<double>{1.5, 2.5, 3, none}));
  EXPECT_EQ(numbers(table, 1), (std::vector<double>{1, 6.5, 7, none}));
  EXPECT_EQ(numbers(table, 2), (std::vector<double>{206.5, none, none, 3}));
  EXPECT_EQ(texts(table, 3), (Names{"W1", "W2", "W2", "lost"}));
}

TEST_F(VectorFileTest, ALayerIsChosenByNameAfterAColon) {
  const std::string source = write("districts.geojson", testing::kDistricts);
  const std::string roads = write("roads.geojson", R"({"type": "FeatureCollection", "features": [
{"type": "Feature", "properties": {"lanes": 2}, "geometry": {"type": "LineString",
 "coordinates": [[0, 0], [3, 4]]}}]})");
  const std::string gpkg = converted(source, "both.gpkg", "GPKG", "districts");
  converted(roads, "both.gpkg", "GPKG", "roads", true);
  EXPECT_EQ(vectorLayers(gpkg), (Names{"districts", "roads"}));
  EXPECT_EQ(vectorFields(gpkg + ":roads"), (Names{"lanes"}));

  // The first layer unless one is named.
  EXPECT_EQ(read(gpkg, VectorLoad::Polygons).cover.size(), 4u);
  VectorContent content;
  const VectorRead named = readVector(gpkg + ":roads", VectorLoad::Lines, "lanes", content);
  EXPECT_EQ(std::tuple(named.status, named.layer, described(content.cover)),
            std::tuple(VectorStatus::Ok, "roads", Described{{0, 0, 3, 4, 2, 1}}));

  const VectorRead missing = readVector(gpkg + ":rivers", VectorLoad::Lines, {}, content);
  EXPECT_EQ(std::tie(missing.status, missing.layer, missing.layers),
            std::tuple(VectorStatus::NoSuchLayer, "rivers", Names{"districts", "roads"}));
  const VectorRead field = readVector(gpkg + ":roads", VectorLoad::Lines, "width", content);
  EXPECT_EQ(std::tie(field.status, field.fields),
            std::tuple(VectorStatus::UnknownField, Names{"lanes"}));

  // A colon in a file's own name is part of it.
  const std::string colon = write("a:b.geojson", testing::kDistricts);
  // There is no file "both.gpkg:x" to take a layer "y" from.
  EXPECT_EQ(std::tuple(splitLayerPath(colon).file, splitLayerPath(gpkg + ":x:y").layer,
                       splitLayerPath(gpkg + ":x").layer),
            std::tuple(colon, "", "x"));
  EXPECT_EQ(read(colon, VectorLoad::Polygons).cover.size(), 4u);
}

TEST_F(VectorFileTest, TheReadersAreChosenByExtensionAndContent) {
  EXPECT_TRUE(readsAsVector(path("none.gpkg")) && readsAsVector(path("x.GeoJSON")));
  EXPECT_FALSE(readsAsVector(path("x.shp")));
  // GeoJSON under another name is known by its content; text tables and line files are not.
  EXPECT_TRUE(readsAsVector(write("districts.txt", testing::kDistricts)));
  EXPECT_FALSE(readsAsVector(write("wells.csv", "X,Y,Z\n1,2,3\n")));
  EXPECT_FALSE(readsAsVector(write("field.pol", "1\n3 2\n2.5 5\n1 1\n2.5 5\n")));
  EXPECT_TRUE(writesVector("a.gpkg") && writesVector("a.geojson") && writesVector("a.fgb"));
  EXPECT_FALSE(writesVector("a.kml") || writesVector("a.shp") || writesVector("a.pol"));
}

// A polygon cover of two records, the first of two outer rings, one with a hole, with
// coordinates that need all 17 digits.
geometry::Cover twoRecords() {
  std::mt19937_64 random(11);
  std::uniform_real_distribution<double> jitter(0.0, 1e-3);
  auto square = [&](double x, double y, double size, bool clockwise, std::int32_t id) {
    std::vector<geometry::Point> points = {
        {x, y}, {x + size, y}, {x + size, y + size + jitter(random)}, {x, y + size}, {x, y}};
    geometry::Line ring(std::move(points));
    if (clockwise == (ring.signedArea() > 0)) ring.reverse();
    ring.id = id;
    ring.value = 0.1 * id + 1.0 / 3.0;  // a value that needs all 17 digits
    return ring;
  };
  geometry::Cover cover;
  cover.appendLine(square(500000.123456789, 4e6 + 0.987654321, 100, true, 1));
  cover.appendLine(square(500010.5, 4e6 + 10.25, 10, false, 1));
  cover.appendLine(square(500200.0, 4e6, 50, true, 1));
  cover.appendLine(square(500400.0, 4e6, 50, true, 2));
  return cover;
}

// Polygons with their records, lines, and point tables (and, where the format holds them, values
// without coordinates) read back from every written format as they were written.
TEST_F(VectorFileTest, EveryWrittenFormatReadsBackWhatWasWritten) {
  const geometry::Cover cover = twoRecords();
  data::AttributeTable layer;
  layer.fields = {{"NAME", 'C', 12, 0},
                  {"POP", 'N', 12, 3},
                  {"CODE", 'N', 6, 0},
                  {"OPEN", 'L', 1, 0},
                  {"SINCE", 'D', 8, 0}};
  layer.rows = {{"Nord", "120.500", "7", "T", "20240131"}, {"Süd", "", "9", "F", "19991231"}};
  data::SavedAttributes saved{&layer, {}};
  for (const geometry::Line& ring : cover.lines()) saved.ringRows.push_back(layer.row(ring.id));
  const std::string utm = testing::epsgWkt(32632);
  geometry::Cover lines;
  lines.appendLine(geometry::Line({{0.1, 0.2}, {1.0 / 3.0, 2.0 / 3.0}, {5, 5}}));
  lines.appendLine(geometry::Line({{-1e-300, 1e300}, {7, 8}}));
  lines.line(0).value = -1.0 / 3.0;  // a value that needs all 17 digits
  data::M_Data table;
  table.Allocate(3, 4, {0, 0, 0, 6});
  for (int c = 0; c < 4; ++c) table.setColumnName(c, std::string("XYZN").substr(c, 1));
  for (int r = 0; r < 3; ++r) {
    table.SetNumeric(r, 0, r + 0.1);
    table.SetNumeric(r, 1, -r - 1.0 / 7.0);
    table.SetNumeric(r, 2, r == 1 ? NAN : r * 1e10 + 1.0 / 7.0);
    table.SetText(r, 3, r == 0 ? "a b" : "c");
  }
  for (const std::string extension : {".gpkg", ".geojson", ".fgb"}) {
    SCOPED_TRACE(extension);
    const std::string target = path("polygons" + extension);
    ASSERT_TRUE(writeVectorLines(target, cover, true, &saved, utm));
    VectorContent back;
    const VectorRead outcome = readVector(target, VectorLoad::Polygons, "atribute", back);
    ASSERT_TRUE(outcome) << outcome.libraryError;
    EXPECT_TRUE(sameCoordinateSystem(outcome.coordinateSystem, utm));
    EXPECT_EQ(described(back.cover), described(cover));
    // The layer's fields, then Atribute and ID; values as they were, nulls null.
    const data::AttributeTable& records = back.attributes;
    ASSERT_EQ(records.rows.size(), 2u);
    std::vector<std::string> fields;
    for (const data::AttributeField& field : records.fields) fields.push_back(field.name);
    EXPECT_EQ(fields, (Names{"NAME", "POP", "CODE", "OPEN", "SINCE", "Atribute", "ID"}));
    EXPECT_EQ(std::stod(records.rows[0][1]), 120.5);
    EXPECT_EQ((std::vector<std::string>(records.rows[1].begin(), records.rows[1].begin() + 4)),
              (Names{"Süd", "", "9", "F"}));
    EXPECT_EQ(records.rows[0][3], "T");
    // GeoJSON has no date type, FlatGeobuf dates with a time: their dates read as text.
    EXPECT_TRUE(extension != ".gpkg" || records.rows[1][4] == "19991231") << records.rows[1][4];
    EXPECT_NE(records.rows[1][4].find("1999"), std::string::npos);
    EXPECT_EQ(records.rows[1][6], "2");

    const std::string linePath = path("lines" + extension);
    ASSERT_TRUE(writeVectorLines(linePath, lines, false, nullptr, {}));
    // Without the ids, which are the record numbers written.
    EXPECT_EQ(described(read(linePath, VectorLoad::Lines, "Atribute").cover, false),
              described(lines, false));

    const std::string pointPath = path("points" + extension);
    ASSERT_TRUE(writeVectorTable(pointPath, table, 0, 1, testing::epsgWkt(4326)));
    const data::M_Data points = read(pointPath, VectorLoad::Table).table;
    EXPECT_EQ(columnNames(points), columnNames(table));
    for (const int xy : {0, 1}) EXPECT_EQ(numbers(points, xy), numbers(table, xy));
    EXPECT_EQ(texts(points, 3), texts(table, 3));
    // Z not finite: null.
    EXPECT_EQ(numbers(points, 2),
              (std::vector<double>{1.0 / 7.0, points.missingCellValue(), 2e10 + 1.0 / 7.0}));

    // Values without coordinates come back without coordinates; FlatGeobuf cannot hold them.
    const std::string valuesPath = path("values" + extension);
    EXPECT_EQ(holdsFeaturesWithoutGeometry(valuesPath), extension != ".fgb");
    if (extension == ".fgb") continue;
    ASSERT_TRUE(writeVectorTable(valuesPath, table, -1, -1, {}));
    const data::M_Data values = read(valuesPath, VectorLoad::Table).table;
    // The table's own X column, now a field.
    EXPECT_EQ(columnNames(values), columnNames(table));
    EXPECT_EQ(numbers(values, 0), numbers(table, 0));
  }
}

TEST_F(VectorFileTest, AFailedOrCancelledSaveLeavesTheOldFileAndNothingBeside) {
  const std::string old = write("old.gpkg", "the old bytes");
  const geometry::Cover cover = twoRecords();
  vellumar::testing::RecordingObserver stopping(2);
  ErrorSink stopped(&stopping);
  geometry::Cover many;
  for (int i = 0; i < 3000; ++i) many.appendLine(cover[static_cast<std::size_t>(i % 4)]);
  EXPECT_EQ(writeVectorLines(old, many, false, nullptr, {}, &stopped).status,
            RasterWriteStatus::Cancelled);
  // A folder where the file should be is refused.
  std::filesystem::create_directory(path("folder.geojson"));
  const VectorWrite refused = writeVectorLines(path("folder.geojson"), cover, true, nullptr, {});
  EXPECT_EQ(std::pair(refused.status, refused.saveError),
            std::pair(RasterWriteStatus::Refused, SaveError::NotRegularFile));
  EXPECT_EQ(fileText("old.gpkg"), "the old bytes");
  EXPECT_EQ(entryNames(), (Names{"folder.geojson", "old.gpkg"}));
}

TEST_F(VectorFileTest, DamagedAndHostileFilesFailWithoutACrash) {
  const std::string source = write("districts.geojson", testing::kDistricts);
  std::vector<std::string> seeds = {testing::kDistricts};
  for (const char* name : {"d.gpkg", "d.fgb"}) {
    converted(source, name, name[2] == 'g' ? "GPKG" : "FlatGeobuf");
    seeds.push_back(fileText(name));
  }
  const std::vector<std::string> extensions = {".geojson", ".gpkg", ".fgb"};
  VectorContent content;
  // Cut short and garbled, none reads: each fails with a status. (Bytes changed at random are the
  // vector fuzzer's, whose corpus the fuzz replay reads.)
  for (std::size_t s = 0; s < seeds.size(); ++s) {
    const std::string_view cut = std::string_view(seeds[s]).substr(0, seeds[s].size() / 3);
    EXPECT_NE(readVectorBytes(cut, extensions[s], VectorLoad::Polygons, content).status,
              VectorStatus::Ok)
        << extensions[s];
  }
  const VectorRead garbage = readVectorBytes("{\"type\": \"FeatureCollection\", \"features\": [{]}",
                                             ".geojson", VectorLoad::Lines, content);
  EXPECT_EQ(std::pair(garbage.status, garbage.libraryError.empty()),
            std::pair(VectorStatus::NotVector, false));
  // A file that is missing, or no file at all.
  for (const std::string& name : {path("none.gpkg"), dir_.string()})
    EXPECT_EQ(readVector(name, VectorLoad::Lines, {}, content).status, VectorStatus::CannotOpen);
}

}  // namespace
}  // namespace vellumar::formats
