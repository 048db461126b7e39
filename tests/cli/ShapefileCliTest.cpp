#include <gtest/gtest.h>
#include <shapefil.h>

#include <filesystem>
#include <map>
#include <string>
#include <tuple>
#include <vector>

#include "../common/ShapefileSupport.h"
#include "CalcRunner.h"

namespace vellumar::cli::testing {
namespace {

using vellumar::testing::DbfTable;
using vellumar::testing::DeclaredField;
using vellumar::testing::Field;
using vellumar::testing::readDbf;
using vellumar::testing::readShapefile;
using vellumar::testing::Shape;
using vellumar::testing::writeShapefile;
using Texts = std::vector<std::string>;

// A ring of a polygon shapefile made by a test: a square with corner (x, y) and side a, clockwise
// (an outer ring) or counter-clockwise (a hole).
struct Square {
  double x, y, a;
  bool clockwise;
};

// One record: its rings, its NAME and its AREA.
struct County {
  std::vector<Square> rings;
  std::string name;
  double area;
};

// The rings of a county as one shape.
Shape shapeOf(const County& county) {
  Shape shape;
  for (const Square& s : county.rings) {
    shape.parts.push_back(static_cast<int>(shape.x.size()));
    for (int k = 0; k < 5; ++k) {
      const int c = s.clockwise ? k : 4 - k;  // the corners (0 0) (0 1) (1 1) (1 0) (0 0) in turn
      shape.x.push_back(s.x + s.a * (c == 2 || c == 3));
      shape.y.push_back(s.y + s.a * (c == 1 || c == 2));
    }
  }
  return shape;
}

// Writes the records as a polygon shapefile with the fields NAME and AREA.
void writeCounties(const std::string& path, const std::vector<County>& counties) {
  std::vector<Shape> shapes;
  Field name{"NAME", FTString, {}}, area{"AREA", FTDouble, {}};
  for (const County& county : counties) {
    shapes.push_back(shapeOf(county));
    name.values.push_back(county.name);
    area.values.push_back(std::to_string(county.area));
  }
  writeShapefile(path, SHPT_POLYGON, shapes, {name, area});
}

// Two outer rings with a hole each; one ring; one ring with two holes; a ring whose hole holds an
// island.
const std::vector<County> kCounties{
    {{{0, 0, 10, true}, {2, 2, 3, false}, {20, 0, 10, true}, {22, 2, 3, false}}, "Двойной", 1.5},
    {{{40, 0, 10, true}}, "Simple", 2.25},
    {{{0, 20, 10, true}, {2, 22, 1, false}, {5, 25, 2, false}}, "Holes", -3},
    {{{40, 20, 20, true}, {42, 22, 16, false}, {45, 25, 10, true}}, "Island", 0.125}};

// Replaces the DBF of a shapefile with one of the given fields, each value written as its bytes.
void writeDbf(const std::string& shp, const std::vector<DeclaredField>& fields) {
  const std::string path = shp.substr(0, shp.size() - 4) + ".dbf";
  DBFHandle dbf = DBFCreate(path.c_str());
  ASSERT_NE(dbf, nullptr);
  for (const DeclaredField& f : fields)
    ASSERT_GE(DBFAddNativeFieldType(dbf, f.name.c_str(), f.type, f.width, f.decimals), 0);
  for (int j = 0; j < static_cast<int>(fields.size()); ++j) {
    for (int r = 0; r < static_cast<int>(fields[j].values.size()); ++r) {
      const std::string& value = fields[j].values[r];
      value.empty() ? DBFWriteNULLAttribute(dbf, r, j)
                    : DBFWriteAttributeDirectly(dbf, r, j, const_cast<char*>(value.c_str()));
    }
  }
  DBFClose(dbf);
}

// A layer saved from the counties keeps them record by record, with the attributes of the layers
// it came from.
TEST(CalcShapefiles, SavedLayersKeepTheRecordsAndTheAttributesOfEachRecord) {
  ScratchFolder folder;
  const std::string counties = folder.path("counties.shp"), zones = folder.path("zones.shp");
  writeCounties(counties, kCounties);
  runClean({"--value-field", "area", "-p", counties, "-o", folder.path("saved.shp"), "P1"});
  // Record by record: parts, vertices, the Atribute value and the ID (1, 2, ... in record order).
  const auto records = readShapefile(folder.path("saved.shp"));
  ASSERT_EQ(records.size(), kCounties.size());
  for (std::size_t r = 0; r < records.size(); ++r) {
    const Shape expected = shapeOf(kCounties[r]);
    EXPECT_EQ(std::tuple(records[r].parts, records[r].x, records[r].y,
                         records[r].number("Atribute"), records[r].number("ID")),
              std::tuple(expected.parts, expected.x, expected.y, kCounties[r].area, r + 1.0))
        << r;
  }

  // A second layer whose NAME matches the counties' field and whose AREA is text: that one joins,
  // this one is kept apart under a new name.
  writeShapefile(zones, SHPT_POLYGON,
                 {shapeOf({{{100, 0, 5, true}}, "", 0}), shapeOf({{{38, -2, 4, true}}, "", 0})},
                 {Field{"NAME", FTString, {"Zone", "Cut"}}, Field{"AREA", FTString, {"big", "x"}},
                  Field{"CODE", FTInteger, {"7", "8"}}});
  runClean({"-p", counties, "-p", zones, "-o", folder.path("union.shp"), "P1 + P2"});
  DbfTable table = readDbf(folder.path("union.dbf"));
  ASSERT_EQ(table.names, (Texts{"NAME", "AREA", "AREA_1", "CODE", "Atribute", "ID", "NAME_1"}));
  // Simple and Cut overlap: their union is one ring, which keeps the record of its first edge.
  auto& columns = table.columns;
  ASSERT_EQ(columns["NAME"].size(), 5u);
  std::map<std::string, Texts> rows;  // AREA, AREA_1 and CODE by NAME
  for (std::size_t r = 0; r < 5; ++r)
    rows[columns["NAME"][r]] = {columns["AREA"][r], columns["AREA_1"][r], columns["CODE"][r]};
  EXPECT_EQ(rows.at("Zone"), (Texts{"", "big", "7.000"}));
  EXPECT_EQ(rows.at("Holes"), (Texts{"-3.000", "", ""}));
  EXPECT_EQ(rows.count("Двойной") + rows.count("Island"), 2u);

  // A record cut by the other layer keeps its own row; a layer without attributes adds none.
  runClean({"-p", counties, "-p", zones, "-o", folder.path("cut.shp"), "P1 - P2"});
  table = readDbf(folder.path("cut.dbf"));
  ASSERT_EQ(std::pair(columns["NAME"].size(), columns["CODE"].size()), std::pair(4ul, 4ul));
  for (std::size_t r = 0; r < 4; ++r) {
    EXPECT_NE(columns["NAME"][r], "Zone");
    EXPECT_EQ(columns["CODE"][r], columns["NAME"][r] == "Cut" ? "8.000" : "") << r;
  }
  const std::string frame =
      folder.write("frame.pol", "1\r\n-5 -5\r\n-5 80\r\n80 80\r\n80 -5\r\n-5 -5\r\nEND\r\nEND\r\n");
  runClean({"-p", frame, "-p", counties, "-o", folder.path("framed.shp"), "P1 * P2"});
  EXPECT_EQ(readDbf(folder.path("framed.dbf")).names,
            (Texts{"NAME", "AREA", "Atribute", "ID", "NAME_1"}));

  // Every attribute field of a layer is saved back with its type, width and decimals.
  const std::string layer = folder.path("cantons.shp");
  writeCounties(layer, {{{{0, 0, 10, true}}, "", 0}, {{{10, 0, 10, true}}, "", 0}});
  const std::vector<DeclaredField> fields = {
      {"NAME", 'C', 24, 0, {"Clervaux", "Wiltz"}},
      {"POP", 'N', 9, 0, {"19542", ""}},
      {"DENSITY", 'N', 12, 4, {"58.3012", "-0.0001"}},
      {"RATIO", 'F', 19, 11, {"0.12345678901", "1.5"}},
      {"COASTAL", 'L', 1, 0, {"F", "T"}},
      {"FOUNDED", 'D', 8, 0, {"18390419", ""}},
      {"id", 'N', 5, 0, {"7", "8"}},
  };
  writeDbf(layer, fields);
  runClean({"--value-field", "POP", "-p", layer, "-o", folder.path("kept.shp"), "P1 * 2"});
  const DbfTable kept = readDbf(folder.path("kept.dbf"));
  // The documented fields follow; ID takes a suffix beside the layer's own "id".
  ASSERT_EQ(kept.names, (Texts{"NAME", "POP", "DENSITY", "RATIO", "COASTAL", "FOUNDED", "id",
                               "Atribute", "ID_1", "NAME_1"}));
  for (int j = 0; j < 7; ++j) {
    const DeclaredField& back = kept.fields[j];
    EXPECT_EQ(std::tie(back.type, back.width, back.decimals, back.values),
              std::tie(fields[j].type, fields[j].width, fields[j].decimals, fields[j].values))
        << fields[j].name;
  }
  EXPECT_EQ(std::stod(kept.columns.at("Atribute")[0]), 2 * 19542.0);
}

// A 5 x 5 DSAA grid over [0, 20] x [0, 20] of z = x + y.
constexpr const char* kPlane =
    "DSAA\r\n5 5\r\n0 20\r\n0 20\r\n0 40\r\n0 5 10 15 20\r\n5 10 15 20 25\r\n10 15 20 25 30\r\n"
    "15 20 25 30 35\r\n20 25 30 35 40\r\n";

// Four districts in a block, sharing sides and meeting at its middle, NW with a lake.
const std::vector<County> kBlock{{{{0, 0, 10, true}}, "SW", 1},
                                 {{{10, 0, 10, true}}, "SE", 2},
                                 {{{0, 10, 10, true}, {2, 12, 3, false}}, "NW", 3},
                                 {{{10, 10, 10, true}}, "NE", 4}};

TEST(CalcShapefiles, EachRecordIsEvaluatedAloneAndTheResultsBecomeALayer) {
  ScratchFolder folder;
  const std::string grid = folder.write("plane.grd", kPlane);
  const std::string layer = folder.path("districts.shp"), far = folder.path("far.shp");
  std::vector<County> districts = kBlock;
  districts.push_back({{{40, 40, 5, true}}, "Far", 5});
  writeCounties(layer, districts);
  const auto run = runCalc({"-g", grid, "--each", "P1", "-p", layer, "-o", folder.path("means.shp"),
                            "S = G1 * 2", "Mean(S, P1) / 2"});
  // Each line agrees with the record evaluated alone, as a layer of one record.
  std::string expected = "Результат - карта - готов !\n";
  for (std::size_t k = 0; k + 1 < districts.size(); ++k) {
    const std::string one = folder.path("one" + std::to_string(k) + ".shp");
    writeCounties(one, {districts[k]});
    expected +=
        std::to_string(k + 1) + "\t" + runClean({"-g", grid, "-p", one, "Mean(G1, P1)"}).out;
  }
  EXPECT_EQ(run.all(), std::tuple(0, expected, "5\tMean: в полигоне нет значений грида\n"));

  // The layer keeps the records' fields and adds Zres; the failed record's value is outC.
  const auto saved = readShapefile(folder.path("means.shp"));
  ASSERT_EQ(saved.size(), 5u);
  EXPECT_EQ(saved[0].fields, (Texts{"NAME", "AREA", "Zres", "Atribute", "ID", "NAME_1"}));
  EXPECT_NEAR(saved[0].number("Zres"), 10.0, 1e-9);
  EXPECT_NEAR(saved[3].number("Zres"), 30.0, 1e-9);
  EXPECT_EQ(std::pair(saved[2].parts.size(), saved[2].number("AREA")), std::pair(2ul, 3.0));
  EXPECT_DOUBLE_EQ(saved[4].number("Atribute"), std::stod(runClean({"outC"}).out));
  EXPECT_EQ(readDbf(folder.path("means.dbf")).columns["Zres"].at(4), "");  // null

  // A layer of which no record succeeds fails the run; so does a result that is no number (a
  // failed record); an unknown layer fails at once.
  writeCounties(far, {districts[4]});
  expectOutcomes({
      {{"-g", grid, "--each", "P1", "-p", far, "Mean(G1, P1)"},
       "1: 1\tMean: в полигоне нет значений грида\n"},
      {{"--english", "--each", "P1", "-p", far, "P1"}, "1: 1\tthe result is not a number\n"},
      {{"--each", "P2", "-p", far, "1"}, "1: --each: P2 - не слой полигонов или линий\n"},
  });
}

TEST(CalcShapefiles, DataResultsRoundTripAndTakeTheProjectionEveryLoadedShapefileShares) {
  ScratchFolder folder;
  const std::string wgs84 = "GEOGCS[\"GCS_WGS_1984\",DATUM[\"D_WGS_1984\"]]\r\n";
  const std::string pulkovo = "GEOGCS[\"GCS_Pulkovo_1942\"]";
  const std::string a = folder.path("a.shp"), b = folder.path("b.shp"), c = folder.path("c.shp");
  for (const std::string& layer : {a, b, c}) writeCounties(layer, kCounties);
  for (const std::string name : {"a.prj", "b.prj"}) folder.write(name, wgs84);
  const std::string data = folder.write("wells.dat", "1 2 3\r\n");
  // c.shp has no .prj yet, so it does not count.
  runClean({"-p", a, "-d", b, "-p", c, "-o", folder.path("out.shp"), "P1"});
  EXPECT_EQ(folder.read("out.prj"), wgs84);
  runClean({"-p", a, "-d", b, "-d", data, "-o", folder.path("pts.shp"), "D2_3"});
  EXPECT_EQ(folder.read("pts.prj"), wgs84);

  // Two projections that differ: each result keeps that of its own layer, and the two layers do
  // not combine.
  folder.write("c.prj", pulkovo);
  runClean({"-p", a, "-p", c, "-o", folder.path("mixed.shp"), "P2"});
  EXPECT_EQ(folder.read("mixed.prj"), pulkovo);
  EXPECT_EQ(runCalc({"--english", "-p", a, "-p", c, "P1*P2"}).outcome(),
            "1: Multiplying: the operands have different coordinate systems\n");
  // A result of no layer with a projection gets none when the loaded ones differ; nothing loaded
  // from a shapefile, none either.
  runClean({"-p", a, "-p", c, "-d", data, "-o", folder.path("values.shp"), "D1_3"});
  runClean({"-d", data, "-o", folder.path("plain.shp"), "D1_3"});
  EXPECT_EQ(std::pair(std::filesystem::exists(folder.path("values.prj")),
                      std::filesystem::exists(folder.path("plain.prj"))),
            std::pair(false, false));
  const std::string values = folder.write("values.dat", "1 2 3.25\r\n4 5 -6e-9\r\n");
  // Without coordinates the values are kept in records without shapes and come back alone (the
  // null shapes, and points with coordinates, are the shapefile converter's own tests).
  runClean({"--xy", "none", "-d", values, "-o", folder.path("bare.shp"), "D1_3 + 1"});
  runClean({"-d", folder.path("bare.shp"), "-o", folder.path("bare.dat"), "D1_1"});
  EXPECT_EQ(folder.read("bare.dat"), "Z\r\n4.250000\r\n0.999999994\r\n");
}

TEST(CalcShapefiles, FilesThatCannotServeAreRefusedWithTheirMessages) {
  ScratchFolder folder;
  const std::string layer = folder.path("a.shp"), empty = folder.path("empty.shp");
  const std::string points = folder.path("points.shp");
  writeCounties(layer, kCounties);
  writeShapefile(empty, SHPT_POINT, {}, {{"VAL", FTDouble, {}}});
  runClean({"-d", folder.write("p.dat", "1 2 3\r\n"), "-o", points, "D1_3"});
  expectOutcomes({
      // A misspelt value field lists the fields there are.
      {{"--value-field", "areas", "-p", layer, "1"},
       "3: В dbf - файле нет поля \"areas\". Поля файла: NAME, AREA.\n"},
      {{"-d", empty, "1"}, "3: Отсутствуют данные!\n"},
      {{"--english", "-d", empty, "1"}, "3: No data!\n"},
      {{"-l", points, "1"}, "3: Недопустимый формат файла линий!\n"},
      // A loaded shapefile is never overwritten by a data result.
      {{"-d", points, "-o", points, "D1_1"},
       "3: Не допускается сохранение в загруженном shp-файле!\n"},
  });
  // One record of 50,000 points: its rows (1.2 MB with X and Y, a few megabytes as they are
  // built) do not fit a 1 MB limit, and the load says so.
  Shape many;
  for (int i = 0; i < 50000; ++i) many.x.push_back(i);
  many.y.assign(many.x.size(), 1.0);
  writeShapefile(folder.path("many.shp"), SHPT_MULTIPOINT, {many}, {{"VAL", FTDouble, {"2"}}});
  const RunSetup limited{.environment = {{"VELLUMAR_MEMORY_LIMIT", "1M"}}};
  EXPECT_EQ(runCalc({"-d", folder.path("many.shp"), "Sum(D1_1)"}, limited).outcome(),
            "3: недостаточно памяти для вычисления!\n");
  // 0 + 1 + ... + 49999
  EXPECT_EQ(runClean({"-d", folder.path("many.shp"), "Sum(D1_1)"}).out,
            "1249975000.000000000000\n");
}

TEST(CalcShapefiles, DistrictsThatShareBordersAnswerForTheirUnion) {
  ScratchFolder folder;
  // The block, with a fifth district that fills the lake, and a sixth district that touches the
  // block at a corner.
  std::vector<County> districts = kBlock;
  districts.push_back({{{2, 12, 3, true}}, "Lake", 5});
  districts.push_back({{{20, 20, 5, true}}, "Corner", 6});
  writeCounties(folder.path("districts.shp"), districts);
  const std::string frame =
      folder.write("frame.pol", "1\r\n5 5\r\n5 15\r\n15 15\r\n15 5\r\n5 5\r\nEND\r\nEND\r\n");
  folder.write("frame.val", "1 0\r\n");
  const auto run = runClean({"--value-field", "AREA", "-p", folder.path("districts.shp"), "-p",
                             frame, "Area(P1)", "Area(P1 * P2)", "Area(P2 + P1)", "MAX(P1)"});
  EXPECT_EQ(run.out, "425.000000000000\n100.000000000000\n425.000000000000\n6.000000000000\n");

  // Districts that overlap are refused; the error names the two (NE moved onto NW).
  districts[3].rings[0].x = 8;
  writeCounties(folder.path("overlapping.shp"), districts);
  EXPECT_EQ(runCalc({"-p", folder.path("overlapping.shp"), "Area(P1)"}).outcome(),
            "1: Area: недопустимое значение аргумента 1\nобъекты 3 и 4 перекрываются\n");
}

}  // namespace
}  // namespace vellumar::cli::testing
