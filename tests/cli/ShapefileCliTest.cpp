#include <gtest/gtest.h>
#include <shapefil.h>

#include <string>

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
  // Without a value field every value is 0; a field name is matched exactly.
  const auto plain = runCalc({"-l", folder.path("roads.shp"), "MAX(C1)"});
  EXPECT_EQ(plain.out, "0.000000000000E+00\n");
  const auto other = runCalc({"--value-field", "ATRIBUTE", "-l", folder.path("roads.shp"), "-l",
                              lines, "MAX(C1) + MAX(C2)"});
  EXPECT_EQ(other.out, "7.500000000000\n");
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
  // The outer ring now runs clockwise and the hole counter-clockwise; both keep the value.
  EXPECT_EQ(folder.read("back.pol"),
            "1\r\n0 0\r\n0 10\r\n10 10\r\n10 0\r\n0 0\r\nEND\r\n"
            "2\r\n2 2\r\n4 2\r\n4 4\r\n2 4\r\n2 2\r\nEND\r\nEND\r\n");
  EXPECT_EQ(folder.read("back.val"), "1 3 1\r\n2 3 1\r\n");
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
