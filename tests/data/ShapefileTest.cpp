#include <gtest/gtest.h>
#include <shapefil.h>
#include <sys/stat.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <string_view>
#include <tuple>
#include <vector>

#include "../common/ShapefileSupport.h"
#include "../common/TableSupport.h"
#include "../common/TestSupport.h"
#include "../geometry/TestShapes.h"
#include "common/SafeSave.h"
#include "data/Shapefile.h"

namespace vellumar::data {
namespace {

namespace fs = std::filesystem;
using namespace geometry;
using namespace geometry::test;
using namespace vellumar::testing;

using enum ShapeStatus;
using namespace shape_type;
using Shapefiles = FolderTest;
using Names = std::vector<std::string>;
using Fields = std::vector<DeclaredField>;

Line ring(std::vector<Point> points, double value, int id) {
  return tagged(Line(std::move(points)), id, value);
}

// A cover of one line of two points.
Cover oneLine() {
  return coverOf({ring({{0, 0}, {1, 1}}, 1, 1)});
}

// The square with corner (x, y) and side s, clockwise (negative area) unless asked otherwise.
Line square(double x, double y, double s, double value, int id, bool clockwise = true) {
  return tagged(squareRing(x, y, x + s, y + s, clockwise), id, value);
}

// The table of comma-separated text with a header, which must read.
M_Data tableOfText(std::string_view text) {
  M_Data table;
  table.setOptions({',', false, true});
  EXPECT_EQ(table.ReadBytes(text).status, ReadStatus::Ok);
  return table;
}

// The table a converter (a fresh one when none is given) reads from a shapefile, which must read.
M_Data tableOf(const std::string& file, ShapefileConverter* converter = nullptr) {
  ShapefileConverter fresh;
  M_Data table;
  EXPECT_EQ((converter ? *converter : fresh).ShapefileToTable(file, table), Done) << file;
  return table;
}

// The value and id of every line of a cover.
std::vector<std::pair<double, int>> valuesAndIds(const Cover& cover) {
  return eachLine(cover, [](const Line& l) { return std::pair<double, int>(l.value, l.id); });
}

TEST_F(Shapefiles, LinesRoundTripWithValuesIdsAndCutNames) {
  const Cover cover =
      coverOf({ring({{0.5, 1.25}, {2, 3}, {4, -1}}, 2.5, 7), ring({{10, 10}, {11, 12}}, -1e20, 8),
               ring({{1e6, 2e6}, {1e6 + 0.125, 2e6}}, 1234.000000000001, 9)});
  const std::vector<std::string> names{"short", "ABCDEFGHIJKLMNOPQRSTUVWX", "Скважина №1"};
  ShapefileConverter converter(Language::English);
  ASSERT_EQ(converter.CoverToShapefile(path("lines.shp"), cover, kArc, names), Done);

  std::vector<std::string> fields;
  ASSERT_TRUE(ListDbfFields(path("lines.shp"), fields));
  EXPECT_EQ(fields, (Names{"Atribute", "ID", "NAME"}));

  Cover back;
  std::vector<std::string> backNames;
  ASSERT_EQ(converter.ReadShapeLines(path("lines.shp"), back, "Atribute", "ID", "NAME", &backNames),
            Done);
  EXPECT_EQ(converter.log(), "");
  ASSERT_EQ(back.size(), 3u);
  for (std::size_t i = 0; i < 3; ++i) EXPECT_EQ(coordinates(back[i]), coordinates(cover[i]));
  EXPECT_EQ(std::pair(back[0].value, back[2].id), std::pair(2.5, 3));  // ids are record numbers
  EXPECT_DOUBLE_EQ(back[1].value, -1e20);  // too wide for 12 decimals: not cut to its first digits
  EXPECT_NEAR(back[2].value, 1234.0, 1e-9);
  // The NAME field is 16 bytes wide; a cut never splits a character.
  EXPECT_EQ(backNames, (Names{"short", "ABCDEFGHIJKLMNOP", "Скважина"}));
  // The attribute table holds the record numbers in front of the DBF fields.
  EXPECT_EQ(columnNames(converter.attributes()), (Names{"IRec", "Atribute", "ID", "NAME"}));
  EXPECT_EQ(converter.attributes().NumericValue(2, 0), 3.0);
  EXPECT_EQ(converter.attributes().NumericValue(1, 2), 8.0);
  EXPECT_EQ(converter.recordStarts(), (std::vector<std::int32_t>{0, 1, 2}));

  // Field names are matched without regard to case; lines are appended after what the cover
  // holds.
  Cover appended = cover;
  ASSERT_EQ(
      converter.ReadShapeLines(path("lines.shp"), appended, "atribute", "", "name", &backNames),
      Done);
  ASSERT_EQ(appended.size(), 6u);
  EXPECT_EQ(std::pair(appended[3].value, backNames.back()),
            std::pair(2.5, std::string("Скважина")));
  EXPECT_EQ(converter.recordStarts(), (std::vector<std::int32_t>{3, 4, 5}));

  // A field the DBF lacks fails the read with the list of its fields, and adds no line.
  EXPECT_EQ(converter.ReadShapeLines(path("lines.shp"), appended, "atributes", "", ""),
            UnknownField);
  EXPECT_EQ(appended.size(), 6u);
  EXPECT_EQ(converter.lastNote(),
            "The dbf-file has no field \"atributes\". Its fields: Atribute, ID, NAME.");
  ShapefileConverter russian;
  writeShapefile(path("bare.shp"), SHPT_ARC, {Shape{{}, {0, 1}, {0, 1}, {}, {}}}, {});
  EXPECT_EQ(russian.ReadShapeLines(path("bare.shp"), appended, "A", "", ""), UnknownField);
  EXPECT_EQ(russian.lastNote(), "В dbf - файле нет поля \"A\". Поля файла: нет.");
}

// Flat lines, as a lines result holds them, are written with the bytes of the cover of the same
// lines: one record per line, a line without points a null shape, the value of its first point,
// ids 1, 2, ..., and each ring's row of the saved attributes.
TEST_F(Shapefiles, FlatLinesAreWrittenAsTheirCoverIs) {
  const std::vector<double> x{0.5, 2, 4, 10, 11, 1e6, 1e6 + 0.125};
  const std::vector<double> y{1.25, 3, -1, 10, 12, 2e6, 2e6};
  const std::vector<double> values{2.5, 2.5, 2.5, -1e20, -1e20, 1234.000000000001, 7};
  const std::vector<std::int32_t> counts{3, 2, 0, 2};
  Cover cover;
  for (std::size_t k = 0, first = 0; k < counts.size(); first += counts[k], ++k) {
    std::vector<Point> points;
    for (std::size_t n = first; n < first + counts[k]; ++n) points.push_back({x[n], y[n]});
    cover.appendLine(ring(points, counts[k] > 0 ? values[first] : 0.0, static_cast<int>(k + 1)));
  }
  const AttributeTable layer{{{"name", 'C', 12, 0}, {"pop", 'N', 9, 0}},
                             {{"West", "1250"}, {"East", ""}}};
  SavedAttributes saved{&layer, {layer.row(2), nullptr, layer.row(1), layer.row(1)}};
  ShapefileConverter converter;
  for (const SavedAttributes* attributes : std::vector<const SavedAttributes*>{nullptr, &saved}) {
    ASSERT_EQ(converter.CoverToShapefile(path("cover.shp"), cover, kArc, {}, attributes), Done);
    ASSERT_EQ(converter.FlatLinesToShapefile(path("flat.shp"), FlatLines{x, y, values, counts},
                                             attributes),
              Done);
    for (const std::string extension : {".shp", ".shx", ".dbf"})
      EXPECT_EQ(fileText("flat" + extension), fileText("cover" + extension)) << extension;
  }
  EXPECT_EQ(readShapefile(path("flat.shp")).size(), 4u);
}

TEST_F(Shapefiles, PolygonRingsOfOneIdFormOneRecordAndHolesGoToTheirRing) {
  // Id 4: two outer rings, each with a hole, the holes listed after both; a ring of its own (9).
  // A ring with a hole holding an island, and a hole of another id in that island: each hole
  // goes to the ring right around it. A hole outside every outer ring and a ring of no area are
  // not written.
  const Cover cover = coverOf(
      {square(0, 0, 10, 1.5, 4), square(20, 0, 10, 1.5, 4), square(22, 2, 3, 1.5, 4, false),
       square(2, 2, 3, 1.5, 4, false), square(40, 0, 10, 2.0, 9), square(0, 40, 30, 3.0, 5),
       square(2, 42, 26, 3.0, 5, false), square(5, 45, 10, 4.0, 6), square(7, 47, 2, 0.0, 7, false),
       square(60, 60, 1, 0.0, 8, false), ring({{0, 0}, {1, 1}, {0, 0}}, 0, 10)});
  ShapefileConverter converter;
  ASSERT_EQ(converter.CoverToShapefile(path("poly.shp"), cover, kPolygon), Done);

  // Records by first ring, each outer ring followed by its holes, with their values and ids.
  const std::tuple<std::vector<std::size_t>, double, double> records[] = {
      {{0, 3, 1, 2}, 1.5, 4}, {{4}, 2.0, 9}, {{5, 6}, 3.0, 5}, {{7, 8}, 4.0, 6}};
  const auto read = readShapefile(path("poly.shp"));
  ASSERT_EQ(read.size(), std::size(records));
  for (std::size_t r = 0; r < read.size(); ++r) {
    const auto& [rings, value, id] = records[r];
    std::vector<int> parts;
    std::vector<double> x, y;
    for (std::size_t k : rings) {
      parts.push_back(static_cast<int>(x.size()));
      for (const Point& p : cover[k].points()) x.push_back(p.x), y.push_back(p.y);
    }
    EXPECT_EQ(std::tuple(read[r].type, read[r].parts, read[r].x, read[r].y,
                         read[r].number("Atribute"), read[r].number("ID")),
              std::tuple(SHPT_POLYGON, parts, x, y, value, id))
        << r;
  }

  // Read back, every ring keeps its point order, and a hole its record's value and number.
  Cover back;
  ASSERT_EQ(converter.ReadShapeLines(path("poly.shp"), back, "Atribute", "", ""), Done);
  ASSERT_EQ(back.size(), 9u);
  EXPECT_EQ(coordinates(back[1]), coordinates(cover[3]));
  EXPECT_EQ(valuesAndIds(back)[1], std::pair(1.5, 1));
  EXPECT_EQ(valuesAndIds(back)[8], std::pair(4.0, 4));
  EXPECT_EQ(converter.recordStarts(), (std::vector<std::int32_t>{0, 4, 5, 7}));
}

TEST_F(Shapefiles, RecordsGiveOneLinePerPartWithZAndMeasureLoggedKeptAsideAndTabled) {
  // A record of two parts, an empty one, and one of a single part.
  writeShapefile(
      path("parts.shp"), SHPT_ARC,
      {{{0, 2}, {0, 1, 5, 6, 7}, {0, 1, 5, 6, 7}, {}, {}}, {}, {{}, {9, 8}, {1, 1}, {}, {}}},
      {{"atr", FTDouble, {"1.5", "2", "3.25"}}, {"name", FTString, {"a", "b", "c"}}});
  Cover cover;
  std::vector<std::string> names;
  ShapefileConverter english(Language::English);
  ASSERT_EQ(english.ReadShapeLines(path("parts.shp"), cover, "atr", "", "name", &names), Done);
  ASSERT_EQ(cover.size(), 3u);
  EXPECT_EQ(coordinates(cover[1]), (Coords{{5, 5}, {6, 6}, {7, 7}}));
  EXPECT_EQ(valuesAndIds(cover),
            (std::vector<std::pair<double, int>>{{1.5, 1}, {1.5, 1}, {3.25, 3}}));
  EXPECT_EQ(names, (Names{"a", "a", "c"}));
  // The empty record adds no line; its start is where the next record starts.
  EXPECT_EQ(english.recordStarts(), (std::vector<std::int32_t>{0, 2, 2}));

  Shape arc{{0, 2}, {0, 1, 2, 3}, {0, 0, 1, 1}, {10, 11, 12, 13}, {0.1, 0.2, 0.3, 0.4}};
  const std::vector<Field> fields{{"VAL", FTDouble, {"4.5"}}, {"KIND", FTString, {"road"}}};
  writeShapefile(path("arcz.shp"), SHPT_ARCZ, {arc}, fields);
  writeShapefile(path("arcm.shp"), SHPT_ARCM, {arc}, fields);
  ASSERT_EQ(english.ReadShapeLines(path("arcz.shp"), cover, "VAL", "", ""), Done);
  // Only the ArcZ reading logs.
  EXPECT_EQ(english.log(), "Shape has Z or Measure - fields: this information will be discarded.");
  ASSERT_EQ(cover.size(), 5u);
  EXPECT_EQ(coordinates(cover[4]), (Coords{{2, 1}, {3, 1}}));
  EXPECT_EQ(english.zValues(), (std::vector<double>{10, 11, 12, 13}));
  EXPECT_EQ(english.measures(), (std::vector<double>{0.1, 0.2, 0.3, 0.4}));

  ShapefileConverter russian;
  ASSERT_EQ(russian.ReadShapeLines(path("arcm.shp"), cover, "VAL", "", ""), Done);
  ASSERT_EQ(russian.ReadShapeLines(path("arcm.shp"), cover, "VAL", "", ""), Done);
  EXPECT_EQ(russian.log(),
            "Shp - файл имеет дополнительные поля (Z, Measure): эта информация будет пропущена.\r\n"
            "Shp - файл имеет дополнительные поля (Z, Measure): эта информация будет пропущена.");
  EXPECT_TRUE(russian.zValues().empty());  // M only, and the lists restart with each reading
  EXPECT_EQ(russian.measures().size(), 4u);

  ShapefileConverter plain(Language::English);
  M_Data table = tableOf(path("arcz.shp"), &plain);
  EXPECT_EQ(columnNames(table), (Names{"nLn", "X", "Y", "M", "IRec", "VAL", "KIND"}));
  ASSERT_EQ(table.rowCount(), 4);
  // One row per vertex: the line number (one per part), the measure and the record's fields.
  EXPECT_EQ(cellTexts(table)[3], (Names{"2", "3", "1", "0.4", "1", "4.5", "road"}));
  EXPECT_EQ(table.path(), path("arcz.shp"));
  EXPECT_EQ(columnNames(tableOf(path("parts.shp"), &plain)),
            (Names{"nLn", "X", "Y", "IRec", "atr", "name"}));
  EXPECT_EQ(plain.log(), english.log());  // only the ArcZ reading logged
}

TEST_F(Shapefiles, EachTypeHasItsTableLayoutAndWrongTypesOrMissingFilesAreReported) {
  const std::vector<Field> fields{{"ATTR", FTDouble, {"1", "2"}}, {"LABEL", FTString, {"p", "q"}}};
  const std::vector<Shape> points{{{}, {1}, {2}, {3}, {4}}, {{}, {5}, {6}, {7}, {8}}};
  const std::vector<Shape> multi{{{}, {1, 2, 3}, {4, 5, 6}, {7, 8, 9}, {10, 11, 12}},
                                 {{}, {0}, {0}, {0}, {-1}}};
  const std::vector<Shape> polygon{{{0}, {0, 1, 1, 0}, {0, 1, 0, 0}, {}, {}}};
  // Each file is written with the shapes and type given, and read back as a table.
  // The file, its type and shapes, and the columns and row count of its table.
  const std::tuple<const char*, int, const std::vector<Shape>&, Names, int> cases[] = {
      {"pt.shp", SHPT_POINT, points, {"X", "Y", "ATTR", "LABEL"}, 2},
      {"ptz.shp", SHPT_POINTZ, points, {"X", "Y", "Z", "Measure", "ATTR", "LABEL"}, 2},
      {"ptm.shp", SHPT_POINTM, points, {"X", "Y", "Measure", "ATTR", "LABEL"}, 2},
      {"mp.shp", SHPT_MULTIPOINT, multi, {"X", "Y", "ATTR", "LABEL"}, 4},
      {"mpz.shp", SHPT_MULTIPOINTZ, multi, {"X", "Y", "Z", "Measure", "ATTR", "LABEL"}, 4},
      {"mpm.shp", SHPT_MULTIPOINTM, multi, {"X", "Y", "Measure", "ATTR", "LABEL"}, 4},
      {"pgm.shp", SHPT_POLYGONM, polygon, {"nLn", "X", "Y", "M", "IRec", "ATTR", "LABEL"}, 4},
  };
  for (const auto& [file, type, shapes, columns, rows] : cases) {
    SCOPED_TRACE(file);
    writeShapefile(path(file), type, shapes, fields);
    const M_Data table = tableOf(path(file));
    EXPECT_EQ(std::pair(columnNames(table), table.rowCount()), std::pair(columns, rows));
  }
  EXPECT_EQ(cellTexts(tableOf(path("ptz.shp")))[1], (Names{"5", "6", "7", "8", "2", "q"}));
  // Every vertex row of a multipoint repeats its record's attributes.
  const M_Data multipoints = tableOf(path("mpm.shp"));
  EXPECT_EQ(cellTexts(multipoints)[2], (Names{"3", "6", "12", "1", "p"}));
  EXPECT_EQ(cellTexts(multipoints)[3], (Names{"0", "0", "-1", "2", "q"}));

  writeShapefile(path("patch.shp"), SHPT_MULTIPATCH, {{{0}, {0, 1, 0}, {0, 0, 1}, {0, 0, 0}, {}}},
                 {{"A", FTDouble, {"1"}}});
  fs::remove(path("mp.dbf"));
  // Points and a multipatch are no lines, and a multipatch no table; a missing .shp or .dbf
  // cannot be opened. Each failure is logged in the converter's language.
  for (const Language language : {Language::English, Language::Russian}) {
    Cover cover;
    M_Data table;
    ShapefileConverter converter(language);
    EXPECT_EQ(converter.ReadShapeLines(path("pt.shp"), cover, "", "", ""), WrongType);
    EXPECT_EQ(converter.ReadShapeLines(path("patch.shp"), cover, "", "", ""), WrongType);
    EXPECT_EQ(converter.ShapefileToTable(path("patch.shp"), table), WrongType);
    EXPECT_EQ(converter.ReadShapeLines(path("none.shp"), cover, "", "", ""), FileFailed);
    EXPECT_EQ(converter.ShapefileToTable(path("none.shp"), table), FileFailed);
    EXPECT_EQ(converter.ShapefileToTable(path("mp.shp"), table), FileFailed);
    EXPECT_EQ(converter.log(),
              language == Language::English
                  ? "Shape is not of Polygon or Polyline type.\r\n"
                    "Shape is not of Polygon or Polyline type.\r\n"
                    "Cannot convert this shp-file to table data.\r\n"
                    "SHPOpen failed.\r\nSHPOpen failed.\r\nCannot open dbf."
                  : "Тип shp - файла не полигон и не полилиния.\r\n"
                    "Тип shp - файла не полигон и не полилиния.\r\n"
                    "Невозможно представить данный shp - файл в виде таблицы.\r\n"
                    "Невозможно открыть shp - файл\r\nНевозможно открыть shp - файл\r\n"
                    "Невозможно открыть dbf.");
    EXPECT_EQ(std::pair(cover.size(), table.columnCount()), std::pair(std::size_t{0}, 0));
  }
  std::vector<std::string> names{"stale"};
  EXPECT_TRUE(!ListDbfFields(path("mp.shp"), names) && names.empty());
}

TEST_F(Shapefiles, DbfTextFieldsOfNumbersBecomeNumeric) {
  writeShapefile(path("t.shp"), SHPT_POINT, {{{}, {1}, {1}, {}, {}}, {{}, {2}, {2}, {}, {}}},
                 {{"NUMS", FTString, {"12.5", ""}},
                  {"MIXED", FTString, {"12", "abc"}},
                  {"REAL", FTDouble, {"-3.5", "4"}}});
  M_Data table;
  ShapefileConverter converter;
  ASSERT_TRUE(converter.ReadDbf(path("t.shp"), table));
  EXPECT_EQ(columnNames(table), (Names{"NUMS", "MIXED", "REAL"}));
  EXPECT_TRUE(table.isNumericColumn(0) && !table.isNumericColumn(1));
  EXPECT_EQ(table.NumericValue(1, 0), table.missingCellValue());
  EXPECT_EQ(cellTexts(table)[0], (Names{"12.5", "12", "-3.5"}));
  EXPECT_EQ(table.CellText(1, 1), "abc");
  EXPECT_FALSE(converter.ReadDbf(path("none.shp"), table));
  EXPECT_EQ(table.columnCount(), 3);  // kept on failure
}

TEST_F(Shapefiles, PointTablesRoundTripAndNumericColumnsAreNumericFieldsOfTwelveDigits) {
  const M_Data saved = tableOfText(
      "X,Y,Depth, \n1.5,-2,0.0000001234567,well\n1e6,2e6,123456.789012,\n0,0,-7,bore hole\n");
  ShapefileConverter converter;
  ASSERT_EQ(converter.TableToPointShapefile(path("pts.shp"), saved, 0, 1), Done);

  // A numeric column is a numeric field: 12 significant digits of each value need 13 decimals
  // (0.0000001234567) and 6 digits before the point (123456.789012). A blank column name is
  // "Z<j>"; the text field holds "bore hole" and a blank.
  EXPECT_EQ(
      readDbf(path("pts.dbf")).fields,
      (Fields{
          {"Depth", 'N', 20, 13, {"0.0000001234567", "123456.7890120000000", "-7.0000000000000"}},
          {"Z3", 'C', 10, 0, {"well", "", "bore hole"}}}));

  M_Data back = tableOf(path("pts.shp"), &converter);
  EXPECT_EQ(columnNames(back), (Names{"X", "Y", "Depth", "Z3"}));
  ASSERT_EQ(back.rowCount(), 3);
  for (int r = 0; r < 3; ++r) {
    for (int c = 0; c < 3; ++c) EXPECT_DOUBLE_EQ(back.NumericValue(r, c), saved.NumericValue(r, c));
    EXPECT_EQ(back.CellText(r, 3), saved.CellText(r, 3));
  }

  // Values without coordinates: null shapes, and they come back without coordinates.
  const M_Data values1 = tableOfResult(DATA({0.5, 1e-9, -42}));
  ASSERT_EQ(converter.TableToPointShapefile(path("z.shp"), values1, -1, -1), Done);
  back = tableOf(path("z.shp"), &converter);
  EXPECT_EQ(columnNames(back), (Names{"Z"}));
  ASSERT_EQ(back.rowCount(), 3);
  EXPECT_EQ(std::pair(back.NumericValue(1, 0), back.NumericValue(2, 0)), std::pair(1e-9, -42.0));
  EXPECT_EQ(readShapefile(path("z.shp")).at(0).type, SHPT_NULL);

  // A first column of row numbers is left out of the export.
  M_Data numbered = tableOfResult(DATA({8, 9}, {1, 2}, {3, 4}));
  numbered.InsertColumn(0, 0, false);
  numbered.setRowNumberOffset(1);
  ASSERT_EQ(converter.TableToPointShapefile(path("numbered.shp"), numbered, 1, 2), Done);
  EXPECT_EQ(readDbf(path("numbered.dbf")).fields, (Fields{{"Z", 'N', 1, 0, {"8", "9"}}}));

  EXPECT_EQ(converter.log(), "");

  // One column per case: fixed widths and decimals, a column too wide for fixed notation, a
  // column of whole numbers with a value that is no number, and text.
  const M_Data table = tableOfText(
      "Fixed,Wide,Whole,Label\n-0.0015,1e300,12,12\n0.66666666666666663,-2.5e-300,nan,x\n"
      "123456789012345,0,-3,\n");
  ASSERT_EQ(converter.TableToPointShapefile(path("n.shp"), table, -1, -1), Done);

  // The value that is no number is a null.
  EXPECT_EQ(
      readDbf(path("n.dbf")).fields,
      (Fields{
          {"Fixed",
           'N',
           28,
           12,
           {"-0.001500000000", "0.666666666667", "123456789012000.000000000000"}},
          {"Wide", 'N', 19, 11, {"1.00000000000E+300", "-2.50000000000E-300", "0.00000000000E+00"}},
          {"Whole", 'N', 2, 0, {"12", "", "-3"}},
          {"Label", 'C', 3, 0, {"12", "x", ""}}}));
}

TEST_F(Shapefiles, ProjectionsAreWrittenBesideTheExportWhenGiven) {
  const std::string wgs84 = "GEOGCS[\"GCS_WGS_1984\",DATUM[\"D_WGS_1984\"]]";
  ShapefileConverter converter;
  converter.setProjection(wgs84);
  std::string read;
  EXPECT_FALSE(ReadProjection(path("a.shp"), read));
  ASSERT_EQ(converter.CoverToShapefile(path("a.shp"), oneLine(), kArc), Done);
  EXPECT_EQ(fileText("a.prj"), wgs84);
  ASSERT_EQ(converter.TableToPointShapefile(path("B.SHP"), tableOfResult(DATA({1.0})), -1, -1),
            Done);
  EXPECT_EQ(fileText("B.PRJ"), wgs84);
  ASSERT_TRUE(ReadProjection(path("B.SHP"), read));
  EXPECT_EQ(read, wgs84);
}

// Failed exports, with a projection set too, write nothing and leave the earlier files as they
// were, without a projection when none was set; special files are neither read nor replaced.
TEST_F(Shapefiles, FailedExportsLeaveEarlierFilesIntactAndSpecialFilesAlone) {
  Cover cover = oneLine();
  ShapefileConverter converter(Language::English);
  ASSERT_EQ(converter.CoverToShapefile(path("keep.shp"), cover, kArc), Done);
  const auto before = std::pair(fileText("keep.shp"), fileText("keep.dbf"));
  // The index cannot be replaced: the .shx path is a folder.
  fs::remove(path("keep.shx"));
  fs::create_directories(path("keep.shx") + "/inside");
  cover.appendLine(ring({{5, 5}, {6, 6}}, 2, 2));
  EXPECT_EQ(converter.CoverToShapefile(path("keep.shp"), cover, kArc), FileFailed);
  EXPECT_EQ(converter.TableToPointShapefile(path("keep.shp"), tableOfResult(DATA({1.0})), -1, -1),
            FileFailed);
  EXPECT_EQ(converter.CoverToShapefile(path("no/such/folder/x.shp"), cover, kArc), FileFailed);
  EXPECT_EQ(converter.CoverToShapefile(path("pt.shp"), cover, kPoint), WrongType);
  // A target that is not a regular file is refused before anything is built.
  EXPECT_EQ(converter.log(),
            "SHPOpen failed.\r\n[1]SHPCreate failed.\r\nSHPOpen failed.\r\n"
            "Shape is not of Polygon or Polyline type.");
  EXPECT_EQ(std::pair(fileText("keep.shp"), fileText("keep.dbf")), before);
  // A folder or a FIFO where the DBF goes: the export fails and writes neither the shapes nor
  // the projection.
  converter.setProjection("GEOGCS[\"GCS_WGS_1984\"]");
  fs::create_directory(path("d.dbf"));
  ASSERT_EQ(mkfifo(path("f.dbf").c_str(), 0644), 0);
  for (const std::string name : {"d", "f"})
    EXPECT_EQ(converter.CoverToShapefile(path(name + ".shp"), oneLine(), kArc), FileFailed) << name;
  // Nothing but the earlier files, the folders and the FIFO is left behind.
  EXPECT_EQ(entryNames(), (Names{"d.dbf", "f.dbf", "keep.dbf", "keep.shp", "keep.shx"}));
  EXPECT_TRUE(fs::is_fifo(path("f.dbf")));
  // A FIFO where the table should be: refused at once, not waited on.
  ASSERT_EQ(converter.CoverToShapefile(path("g.shp"), oneLine(), kArc), Done);
  fs::remove(path("g.dbf"));
  ASSERT_EQ(mkfifo(path("g.dbf").c_str(), 0644), 0);
  Cover read;
  EXPECT_EQ(converter.ReadShapeLines(path("g.shp"), read, "Atribute", "", ""), FileFailed);
  fs::remove(path("g.shx"));
  ASSERT_EQ(mkfifo(path("g.shx").c_str(), 0644), 0);
  M_Data table;
  EXPECT_EQ(converter.ShapefileToTable(path("g.shp"), table), FileFailed);
}

// A save of a line shapefile killed after each of its renames: every target is always there, and
// the reader rolls a cut save back, so it takes the old set or, once the save is done, the new.
TEST_F(Shapefiles, ExportsCutShortLeaveEveryFileAndAreRolledBack) {
  const Cover before = coverOf({ring({{0, 0}, {1, 1}}, 1, 1), ring({{2, 2}, {3, 3}}, 2, 2)});
  Cover after = before;
  after.appendLine(ring({{5, 5}, {6, 7}, {8, 9}}, 3, 3));
  const std::string target = path("cut.shp");
  for (int renames = 0; renames <= 3; ++renames) {
    ShapefileConverter converter;
    ASSERT_EQ(converter.CoverToShapefile(target, before, kArc), Done);
    stopCommitsAfterRename(renames);
    const ShapeStatus saved = converter.CoverToShapefile(target, after, kArc);
    stopCommitsAfterRename(-1);
    EXPECT_EQ(saved, renames == 3 ? Done : FileFailed);
    EXPECT_EQ(converter.log(), renames == 3 ? "" : "Ошибка записи shp - файла.");
    for (const char* name : {"cut.shp", "cut.shx", "cut.dbf"})
      EXPECT_TRUE(fs::is_regular_file(path(name))) << name << " after " << renames;
    // One row per vertex, one line per line.
    EXPECT_EQ(tableOf(target).rowCount(), renames == 3 ? 7 : 4);
    Cover read;
    ASSERT_EQ(ShapefileConverter().ReadShapeLines(target, read, "Atribute", "", ""), Done);
    EXPECT_EQ(read.size(), renames == 3 ? 3u : 2u);
    EXPECT_EQ(entryCount(), 3u);
  }

  // Points too (a data result with coordinates saved as X, Y, Z), with the same number of
  // records before and after, where a mixed set could pass for a whole one: the old points come
  // back.
  const std::string points = path("pts.shp");
  ShapefileConverter converter(Language::English);
  ASSERT_EQ(converter.TableToPointShapefile(points, tableOfResult(DATA({1.0, 2.0}, {0, 1}, {5, 6})),
                                            0, 1),
            Done);
  stopCommitsAfterRename(1);
  EXPECT_EQ(converter.TableToPointShapefile(
                points, tableOfResult(DATA({3.0, 4.0}, {10, 11}, {15, 16})), 0, 1),
            FileFailed);
  stopCommitsAfterRename(-1);
  EXPECT_EQ(converter.log(), "Cannot write the shp-file.");
  const M_Data table = tableOf(points);
  ASSERT_EQ(columnNames(table), (Names{"X", "Y", "Z"}));
  EXPECT_EQ(cellTexts(table)[1], (Names{"1", "6", "2"}));  // not 11, 16, 4
}

// Overwrites bytes of a file at offset.
void patch(const std::string& file, long offset, const std::string& bytes) {
  std::fstream io(file, std::ios::binary | std::ios::in | std::ios::out);
  io.seekp(offset);
  io.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

std::string littleEndian(std::int32_t value) {
  std::string bytes(4, '\0');
  for (int i = 0; i < 4; ++i) bytes[i] = static_cast<char>((value >> (8 * i)) & 0xFF);
  return bytes;
}

TEST_F(Shapefiles, DamagedFilesAreRefusedNotTrusted) {
  auto fresh = [&] {
    writeShapefile(path("d.shp"), SHPT_ARC,
                   {{{0, 2}, {0, 1, 2, 3}, {0, 1, 2, 3}, {}, {}}, {{0}, {5, 6}, {5, 6}, {}, {}}},
                   {{"A", FTDouble, {"1", "2"}}});
  };
  // Both readings fail alike, read nothing, and log a damaged file as such.
  auto status = [&] {
    Cover cover;
    ShapefileConverter converter;
    const ShapeStatus lines = converter.ReadShapeLines(path("d.shp"), cover, "A", "", "");
    M_Data table;
    const ShapeStatus rows = converter.ShapefileToTable(path("d.shp"), table);
    EXPECT_EQ(lines, rows);
    if (lines != Done) {
      EXPECT_EQ(std::pair(cover.size(), table.rowCount()), std::pair(std::size_t{0}, 0));
    }
    if (lines == Invalid) {
      EXPECT_EQ(converter.log(),
                "Недопустимый формат shp - файла.\r\nНедопустимый формат shp - файла.");
    }
    return lines;
  };
  fresh();
  EXPECT_EQ(status(), Done);
  // Bytes written over a part of the fresh file, or a length it is cut to (from its end when
  // negative), and the status; Done stands for any failure. The first record: header 100,
  // record header 8, type 4, box 32, then part and point counts.
  const std::tuple<const char*, long, std::string, ShapeStatus> damages[] = {
      {"d.shp", 100 + 8 + 4 + 32 + 8 + 4, littleEndian(1000), Done},    // part start
      {"d.shp", 100 + 8 + 4 + 32, littleEndian(-5), Done},              // part count
      {"d.shp", 100 + 8 + 4 + 32 + 4, littleEndian(0x7fffffff), Done},  // points
      {"d.shp", -20, "", Done},                                         // truncated
      {"d.dbf", 4, littleEndian(1000000), Invalid},                     // DBF record count
      {"d.shx", 60, "", FileFailed},  // index cut inside its header
      // An index claiming more than it holds, or a record far larger than the .shp, is refused
      // before anything is sized from it.
      {"d.shx", 24, std::string("\x7f\xff\xff\xff", 4), FileFailed},
      {"d.shx", 100 + 4, std::string("\x7f\xff\xff\xf0", 4), FileFailed},
      {"d.dbf", 4, littleEndian(1), Invalid},  // fewer attribute records than shapes
  };
  for (const auto& [name, offset, bytes, expected] : damages) {
    SCOPED_TRACE(std::string(name) + " at " + std::to_string(offset));
    fresh();
    const std::string file = path(name);
    if (bytes.empty())
      fs::resize_file(file, offset < 0 ? fs::file_size(file) + offset : offset);
    else
      patch(file, offset, bytes);
    const ShapeStatus got = status();
    EXPECT_TRUE(expected == Done ? got != Done : got == expected) << static_cast<int>(got);
  }
  // The last damage, in English.
  ShapefileConverter english(Language::English);
  M_Data table;
  EXPECT_EQ(english.ShapefileToTable(path("d.shp"), table), Invalid);
  EXPECT_EQ(english.log(), "Invalid shp-file.");
}

}  // namespace
}  // namespace vellumar::data
