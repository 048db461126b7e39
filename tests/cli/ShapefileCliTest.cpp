#include <gtest/gtest.h>
#include <shapefil.h>

#include <cstdio>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "CalcRunner.h"

namespace vellumar::cli {
namespace {

using testing::runCalc;
using testing::ScratchFolder;

// Counts of a shapefile as shapelib reads it: records, shape type and parts of the first record.
struct ShapeSummary {
  int records = -1;
  int type = -1;
  int firstParts = -1;
};

ShapeSummary summarize(const std::string& path) {
  ShapeSummary summary;
  SHPHandle shp = SHPOpen(path.c_str(), "rb");
  if (shp == nullptr) return summary;
  SHPGetInfo(shp, &summary.records, &summary.type, nullptr, nullptr);
  if (SHPObject* first = summary.records > 0 ? SHPReadObject(shp, 0) : nullptr) {
    summary.firstParts = first->nParts;
    SHPDestroyObject(first);
  }
  SHPClose(shp);
  return summary;
}

TEST(CalcShapefiles, LinesGoOutAndComeBackWithTheChosenValueField) {
  ScratchFolder folder;
  const std::string lines = folder.write(
      "roads.con", "1\r\n0 0\r\n5 5\r\nEND\r\n2\r\n1 0\r\n2 3\r\n4 4\r\nEND\r\nEND\r\n");
  folder.write("roads.val", "1 7.5\r\n2 -2\r\n");
  const auto out = runCalc({"-l", lines, "-o", folder.path("roads.shp"), "C1"});
  ASSERT_EQ(out.status, 0) << out.err;
  const ShapeSummary summary = summarize(folder.path("roads.shp"));
  EXPECT_EQ(summary.records, 2);
  EXPECT_EQ(summary.type, SHPT_ARC);

  const auto valued =
      runCalc({"--value-field", "Atribute", "-l", folder.path("roads.shp"), "MAX(C1)", "MIN(C1)"});
  EXPECT_EQ(valued.status, 0) << valued.err;
  EXPECT_EQ(valued.out, "7.500000000000\n-2.000000000000\n");
  // Without a value field every value is 0; a field name is matched without regard to case.
  const auto plain = runCalc({"-l", folder.path("roads.shp"), "MAX(C1)"});
  EXPECT_EQ(plain.out, "0.000000000000E+00\n");
  const auto other = runCalc({"--value-field", "ATRIBUTE", "-l", folder.path("roads.shp"), "-l",
                              lines, "MAX(C1) + MAX(C2)"});
  EXPECT_EQ(other.out, "15.000000000000\n");
  // The saved file loads back as a line file again, byte for byte what the line writer writes.
  const auto again = runCalc({"--value-field", "Atribute", "-l", folder.path("roads.shp"), "-o",
                              folder.path("back.con"), "C1"});
  ASSERT_EQ(again.status, 0) << again.err;
  EXPECT_EQ(folder.read("back.con"),
            "1\r\n0 0\r\n5 5\r\nEND\r\n2\r\n1 0\r\n2 3\r\n4 4\r\nEND\r\nEND\r\n");
}

TEST(CalcShapefiles, LineTablesTakeTheirXAndYColumnsAsCoordinates) {
  ScratchFolder folder;
  const std::string lines =
      folder.write("roads.con", "1\r\n0 0\r\n5 5\r\nEND\r\n2\r\n1 0\r\n2 3\r\nEND\r\nEND\r\n");
  ASSERT_EQ(runCalc({"-l", lines, "-o", folder.path("roads.shp"), "C1"}).status, 0);
  // The table's columns are nLn, X, Y, ...: without --xy the coordinates are X and Y.
  const auto table =
      runCalc({"-d", folder.path("roads.shp"), "-o", folder.path("table.dat"), "D1_1"});
  ASSERT_EQ(table.status, 0) << table.err;
  EXPECT_EQ(folder.read("table.dat"),
            "X Y Z\r\n0.000000 0.000000 1.000000\r\n5.000000 5.000000 1.000000\r\n"
            "1.000000 0.000000 2.000000\r\n2.000000 3.000000 2.000000\r\n");
  // --xy still chooses any columns.
  const auto chosen = runCalc(
      {"--xy", "1,2", "-d", folder.path("roads.shp"), "-o", folder.path("chosen.dat"), "D1_3"});
  ASSERT_EQ(chosen.status, 0) << chosen.err;
  EXPECT_EQ(folder.read("chosen.dat").substr(0, 35), "X Y Z\r\n1.000000 0.000000 0.000000\r\n");
}

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

void appendSquare(const Square& s, std::vector<double>& xs, std::vector<double>& ys) {
  const double cx[] = {0, 0, 1, 1, 0};
  const double cy[] = {0, 1, 1, 0, 0};
  for (int k = 0; k < 5; ++k) {
    const int c = s.clockwise ? k : 4 - k;
    xs.push_back(s.x + s.a * cx[c]);
    ys.push_back(s.y + s.a * cy[c]);
  }
}

// Writes the records as a polygon shapefile with the fields NAME and AREA.
void writeCounties(const std::string& path, const std::vector<County>& counties) {
  SHPHandle shp = SHPCreate(path.c_str(), SHPT_POLYGON);
  DBFHandle dbf = DBFCreate(path.c_str());
  ASSERT_TRUE(shp != nullptr && dbf != nullptr);
  ASSERT_EQ(DBFAddField(dbf, "NAME", FTString, 20, 0), 0);
  ASSERT_EQ(DBFAddField(dbf, "AREA", FTDouble, 12, 4), 1);
  for (std::size_t i = 0; i < counties.size(); ++i) {
    std::vector<double> xs, ys;
    std::vector<int> starts;
    for (const Square& ring : counties[i].rings) {
      starts.push_back(static_cast<int>(xs.size()));
      appendSquare(ring, xs, ys);
    }
    SHPObject* shape =
        SHPCreateObject(SHPT_POLYGON, -1, static_cast<int>(starts.size()), starts.data(), nullptr,
                        static_cast<int>(xs.size()), xs.data(), ys.data(), nullptr, nullptr);
    ASSERT_GE(SHPWriteObject(shp, -1, shape), 0);
    SHPDestroyObject(shape);
    const int record = static_cast<int>(i);
    DBFWriteStringAttribute(dbf, record, 0, counties[i].name.c_str());
    DBFWriteDoubleAttribute(dbf, record, 1, counties[i].area);
  }
  SHPClose(shp);
  DBFClose(dbf);
}

// Compares a saved polygon shapefile with the records it should hold, record by record: parts,
// vertices, the Atribute value and the ID (1, 2, ... in record order).
void expectCounties(const std::string& path, const std::vector<County>& counties) {
  SHPHandle shp = SHPOpen(path.c_str(), "rb");
  DBFHandle dbf = DBFOpen(path.c_str(), "rb");
  ASSERT_TRUE(shp != nullptr && dbf != nullptr) << path;
  int records = 0;
  SHPGetInfo(shp, &records, nullptr, nullptr, nullptr);
  ASSERT_EQ(records, static_cast<int>(counties.size()));
  ASSERT_EQ(DBFGetRecordCount(dbf), records);
  for (int r = 0; r < records; ++r) {
    std::vector<double> xs, ys;
    std::vector<int> starts;
    for (const Square& ring : counties[r].rings) {
      starts.push_back(static_cast<int>(xs.size()));
      appendSquare(ring, xs, ys);
    }
    SHPObject* shape = SHPReadObject(shp, r);
    ASSERT_NE(shape, nullptr);
    EXPECT_EQ(std::vector<int>(shape->panPartStart, shape->panPartStart + shape->nParts), starts)
        << "record " << r;
    EXPECT_EQ(std::vector<double>(shape->padfX, shape->padfX + shape->nVertices), xs) << r;
    EXPECT_EQ(std::vector<double>(shape->padfY, shape->padfY + shape->nVertices), ys) << r;
    SHPDestroyObject(shape);
    EXPECT_EQ(DBFReadDoubleAttribute(dbf, r, 0), counties[r].area) << r;
    EXPECT_EQ(DBFReadIntegerAttribute(dbf, r, 1), r + 1) << r;
  }
  SHPClose(shp);
  DBFClose(dbf);
}

// Two outer rings with a hole each; one ring; one ring with two holes; a ring whose hole holds an
// island.
const std::vector<County> kCounties{
    {{{0, 0, 10, true}, {2, 2, 3, false}, {20, 0, 10, true}, {22, 2, 3, false}}, "Двойной", 1.5},
    {{{40, 0, 10, true}}, "Simple", 2.25},
    {{{0, 20, 10, true}, {2, 22, 1, false}, {5, 25, 2, false}}, "Holes", -3},
    {{{40, 20, 20, true}, {42, 22, 16, false}, {45, 25, 10, true}}, "Island", 0.125}};

TEST(CalcShapefiles, PolygonRecordsComeBackRecordByRecord) {
  ScratchFolder folder;
  writeCounties(folder.path("counties.shp"), kCounties);
  const auto saved = runCalc({"--value-field", "area", "-p", folder.path("counties.shp"), "-o",
                              folder.path("saved.shp"), "P1"});
  ASSERT_EQ(saved.status, 0) << saved.err;
  expectCounties(folder.path("saved.shp"), kCounties);
  // And again from the saved file, through a polygon file in between.
  const auto viaPol = runCalc({"--value-field", "Atribute", "-p", folder.path("saved.shp"), "-o",
                               folder.path("counties.pol"), "P1"});
  ASSERT_EQ(viaPol.status, 0) << viaPol.err;
  const auto back =
      runCalc({"-p", folder.path("counties.pol"), "-o", folder.path("back.shp"), "P1"});
  ASSERT_EQ(back.status, 0) << back.err;
  expectCounties(folder.path("back.shp"), kCounties);

  // Rings keep their records through the set operations; the operands' records stay apart. The
  // result is ordered by area, so the records are found by their values.
  const std::string frame =
      folder.write("frame.pol", "1\r\n-5 -5\r\n-5 80\r\n80 80\r\n80 -5\r\n-5 -5\r\nEND\r\nEND\r\n");
  const std::string far =
      folder.write("far.pol", "1\r\n100 0\r\n100 3\r\n103 3\r\n103 0\r\n100 0\r\nEND\r\nEND\r\n");
  folder.write("far.val", "1 9\r\n");
  const auto combined =
      runCalc({"--value-field", "AREA", "-p", folder.path("counties.shp"), "-p", frame, "-p", far,
               "-o", folder.path("combined.shp"), "P1 * P2 + P3"});
  ASSERT_EQ(combined.status, 0) << combined.err;
  SHPHandle shp = SHPOpen(folder.path("combined.shp").c_str(), "rb");
  DBFHandle dbf = DBFOpen(folder.path("combined.shp").c_str(), "rb");
  ASSERT_TRUE(shp != nullptr && dbf != nullptr);
  int records = 0;
  SHPGetInfo(shp, &records, nullptr, nullptr, nullptr);
  ASSERT_EQ(records, 5);
  std::map<double, int> partsByValue;
  for (int r = 0; r < records; ++r) {
    SHPObject* shape = SHPReadObject(shp, r);
    partsByValue[DBFReadDoubleAttribute(dbf, r, 0)] = shape->nParts;
    SHPDestroyObject(shape);
  }
  SHPClose(shp);
  DBFClose(dbf);
  EXPECT_EQ(partsByValue,
            (std::map<double, int>{{1.5, 4}, {2.25, 1}, {-3, 3}, {0.125, 3}, {9, 1}}));
}

TEST(CalcShapefiles, PolygonFilesKeepTheirRingNumbering) {
  ScratchFolder folder;
  // Distinct ids are numbered 1, 2, ... as they always were; rings that share an id share it.
  const std::string squares =
      "0 0\r\n0 1\r\n1 1\r\n1 0\r\n0 0\r\nEND\r\n"
      "%\r\n5 0\r\n5 1\r\n6 1\r\n6 0\r\n5 0\r\nEND\r\n"
      "%\r\n9 0\r\n9 1\r\n10 1\r\n10 0\r\n9 0\r\nEND\r\nEND\r\n";
  auto withIds = [&](const char* a, const char* b, const char* c) {
    std::string text = std::string(a) + "\r\n" + squares;
    text.replace(text.find('%'), 1, b);
    text.replace(text.find('%'), 1, c);
    return text;
  };
  folder.write("distinct.pol", withIds("12", "5", "9"));
  folder.write("distinct.val", "5 2\r\n9 3\r\n12 1\r\n");
  ASSERT_EQ(runCalc({"-p", folder.path("distinct.pol"), "-o", folder.path("d.pol"), "P1"}).status,
            0);
  EXPECT_EQ(folder.read("d.pol"), withIds("1", "2", "3"));
  EXPECT_EQ(folder.read("d.val"), "1 1 1\r\n2 2 1\r\n3 3 1\r\n");

  folder.write("shared.pol", withIds("4", "7", "4"));
  folder.write("shared.val", "4 2\r\n7 3\r\n");
  ASSERT_EQ(runCalc({"-p", folder.path("shared.pol"), "-o", folder.path("s.pol"), "P1"}).status, 0);
  EXPECT_EQ(folder.read("s.pol"), withIds("1", "2", "1"));
  EXPECT_EQ(folder.read("s.val"), "1 2 1\r\n2 3 1\r\n1 2 1\r\n");
  ASSERT_EQ(runCalc({"-p", folder.path("shared.pol"), "-o", folder.path("s.shp"), "P1"}).status, 0);
  const ShapeSummary summary = summarize(folder.path("s.shp"));
  EXPECT_EQ(summary.records, 2);
  EXPECT_EQ(summary.firstParts, 2);
}

TEST(CalcShapefiles, ResultsTakeTheProjectionEveryLoadedShapefileShares) {
  ScratchFolder folder;
  const std::string wgs84 = "GEOGCS[\"GCS_WGS_1984\",DATUM[\"D_WGS_1984\"]]\r\n";
  const std::string pulkovo = "GEOGCS[\"GCS_Pulkovo_1942\"]";
  writeCounties(folder.path("a.shp"), kCounties);
  writeCounties(folder.path("b.shp"), kCounties);
  writeCounties(folder.path("c.shp"), kCounties);
  folder.write("a.prj", wgs84);
  folder.write("b.prj", wgs84);
  folder.write("c.prj", pulkovo);
  const std::string data = folder.write("wells.dat", "1 2 3\r\n");
  // c.shp has no .prj here, so it does not count.
  std::rename(folder.path("c.prj").c_str(), folder.path("c.keep").c_str());
  const auto polygons = runCalc({"-p", folder.path("a.shp"), "-d", folder.path("b.shp"), "-p",
                                 folder.path("c.shp"), "-o", folder.path("out.shp"), "P1"});
  ASSERT_EQ(polygons.status, 0) << polygons.err;
  EXPECT_EQ(folder.read("out.prj"), wgs84);
  const auto points = runCalc({"-p", folder.path("a.shp"), "-d", folder.path("b.shp"), "-d", data,
                               "-o", folder.path("pts.shp"), "D2_3"});
  ASSERT_EQ(points.status, 0) << points.err;
  EXPECT_EQ(folder.read("pts.prj"), wgs84);

  // Two projections that differ: none is written.
  std::rename(folder.path("c.keep").c_str(), folder.path("c.prj").c_str());
  const auto mixed = runCalc({"-p", folder.path("a.shp"), "-p", folder.path("c.shp"), "-o",
                              folder.path("mixed.shp"), "P1"});
  ASSERT_EQ(mixed.status, 0) << mixed.err;
  EXPECT_FALSE(std::filesystem::exists(folder.path("mixed.prj")));
  // Nothing loaded from a shapefile: none either.
  const auto none = runCalc({"-d", data, "-o", folder.path("plain.shp"), "D1_3"});
  ASSERT_EQ(none.status, 0) << none.err;
  EXPECT_FALSE(std::filesystem::exists(folder.path("plain.prj")));
}

TEST(CalcShapefiles, AMisspeltValueFieldListsTheFields) {
  ScratchFolder folder;
  writeCounties(folder.path("a.shp"), kCounties);
  const auto russian = runCalc({"--value-field", "areas", "-p", folder.path("a.shp"), "1"});
  EXPECT_EQ(russian.status, 3);
  EXPECT_EQ(russian.err, "В dbf - файле нет поля \"areas\". Поля файла: NAME, AREA.\n");
  const auto english =
      runCalc({"--english", "--value-field", "NAMES", "-l", folder.path("a.shp"), "1"});
  EXPECT_EQ(english.status, 3);
  EXPECT_EQ(english.err, "The dbf-file has no field \"NAMES\". Its fields: NAME, AREA.\n");
}

TEST(CalcShapefiles, PolygonWithAHoleIsOneRecordOfTwoParts) {
  ScratchFolder folder;
  // Both rings counter-clockwise in the file: the saved polygon is oriented by nesting first.
  const std::string polygon =
      folder.write("lake.pol",
                   "1\r\n0 0\r\n10 0\r\n10 10\r\n0 10\r\n0 0\r\nEND\r\n"
                   "2\r\n2 2\r\n4 2\r\n4 4\r\n2 4\r\n2 2\r\nEND\r\nEND\r\n");
  folder.write("lake.val", "1 3\r\n2 3\r\n");
  const auto out = runCalc({"-p", polygon, "-o", folder.path("lake.shp"), "P1"});
  ASSERT_EQ(out.status, 0) << out.err;
  const ShapeSummary summary = summarize(folder.path("lake.shp"));
  EXPECT_EQ(summary.records, 1);
  EXPECT_EQ(summary.type, SHPT_POLYGON);
  EXPECT_EQ(summary.firstParts, 2);
  const auto back = runCalc({"--value-field", "Atribute", "-p", folder.path("lake.shp"), "-o",
                             folder.path("back.pol"), "P1"});
  ASSERT_EQ(back.status, 0) << back.err;
  // The outer ring now runs clockwise and the hole counter-clockwise; both keep the value, and
  // the id of the record they came from.
  EXPECT_EQ(folder.read("back.pol"),
            "1\r\n0 0\r\n0 10\r\n10 10\r\n10 0\r\n0 0\r\nEND\r\n"
            "1\r\n2 2\r\n4 2\r\n4 4\r\n2 4\r\n2 2\r\nEND\r\nEND\r\n");
  EXPECT_EQ(folder.read("back.val"), "1 3 1\r\n1 3 1\r\n");
}

TEST(CalcShapefiles, DataResultsRoundTripWithAndWithoutCoordinates) {
  ScratchFolder folder;
  const std::string data = folder.write("wells.dat", "1 2 3.25\r\n4 5 -6e-9\r\n");
  const auto located = runCalc({"-d", data, "-o", folder.path("wells.shp"), "D1_3 * 2"});
  ASSERT_EQ(located.status, 0) << located.err;
  const ShapeSummary points = summarize(folder.path("wells.shp"));
  EXPECT_EQ(points.records, 2);
  EXPECT_EQ(points.type, SHPT_POINT);
  // Columns X, Y, Z: the coordinates and the values come back.
  const auto back =
      runCalc({"-d", folder.path("wells.shp"), "-o", folder.path("back.dat"), "D1_3"});
  ASSERT_EQ(back.status, 0) << back.err;
  EXPECT_EQ(folder.read("back.dat"),
            "X Y Z\r\n1.000000 2.000000 6.500000\r\n4.000000 5.000000 -1.2e-08\r\n");

  // Without coordinates the values are kept in records without shapes and come back alone.
  const auto bare =
      runCalc({"--xy", "none", "-d", data, "-o", folder.path("values.shp"), "D1_3 + 1"});
  ASSERT_EQ(bare.status, 0) << bare.err;
  const ShapeSummary nulls = summarize(folder.path("values.shp"));
  EXPECT_EQ(nulls.records, 2);
  EXPECT_EQ(nulls.firstParts, 0);
  const auto values =
      runCalc({"-d", folder.path("values.shp"), "-o", folder.path("values.dat"), "D1_1"});
  ASSERT_EQ(values.status, 0) << values.err;
  EXPECT_EQ(folder.read("values.dat"), "Z\r\n4.250000\r\n0.999999994\r\n");

  // A loaded shapefile is never overwritten by a data result.
  const auto refused =
      runCalc({"-d", folder.path("wells.shp"), "-o", folder.path("wells.shp"), "D1_3"});
  EXPECT_EQ(refused.status, 3);
  EXPECT_EQ(refused.err, "Не допускается сохранение в загруженном shp-файле!\n");
}

TEST(CalcShapefiles, UnreadableShapefilesGiveTheFormatMessages) {
  ScratchFolder folder;
  const std::string data = folder.write("p.dat", "1 2 3\r\n");
  ASSERT_EQ(runCalc({"-d", data, "-o", folder.path("points.shp"), "D1_3"}).status, 0);
  const auto lines = runCalc({"-l", folder.path("points.shp"), "1"});
  EXPECT_EQ(lines.status, 3);
  EXPECT_EQ(lines.err, "Недопустимый формат файла линий!\n");
  const auto polygon = runCalc({"--english", "-p", folder.path("missing.shp"), "1"});
  EXPECT_EQ(polygon.status, 3);
  EXPECT_EQ(polygon.err, "Invalid polygon file format!\n");
  const auto table = runCalc({"-d", folder.path("missing.shp"), "1"});
  EXPECT_EQ(table.status, 3);
  EXPECT_EQ(table.err, "Нельзя открыть файл " + folder.path("missing.shp") + " !\n");
  const auto broken = runCalc({"-d", folder.write("broken.shp", "not a shapefile"), "1"});
  EXPECT_EQ(broken.status, 3);
  EXPECT_EQ(broken.err, "Нельзя открыть файл " + folder.path("broken.shp") + " !\n");
}

}  // namespace
}  // namespace vellumar::cli
