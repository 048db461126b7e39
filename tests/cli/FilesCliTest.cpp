#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <fstream>
#include <string>
#include <utility>
#include <vector>

#include "CalcRunner.h"

namespace vellumar::cli::testing {
namespace {

// z = 1 + x + 3y on a 3 x 3 lattice over [0, 2]^2.
constexpr const char* kGrid = "DSAA\r\n3 3\r\n0 2\r\n0 2\r\n1 9\r\n1 2 3 \r\n4 5 6 \r\n7 8 9 \r\n";

TEST(CalcFiles, LoadFailuresStopWithStatusThree) {
  ScratchFolder folder;
  const std::string grid = folder.write("dem.grd", kGrid);
  EXPECT_EQ(runCalc({"-g", grid, "-g", grid, "1"}).all(),
            std::tuple(3, "", "Такой файл уже загружен!\n"));
  // A missing file of any kind is named (a polygon file's in English below), and so is a
  // shapefile that is no shapefile; a file that is there but not of the kind is not.
  folder.write("broken.shp", "not a shapefile");
  const std::pair<const char*, const char*> unopened[] = {
      {"-g", "missing.grd"},        {"-l", "missing.con"}, {"-l", "missing.shp"},
      {"-d", "missing.shp"},        {"-d", "broken.shp"},  {"-d", "missing.dat"},
      {"-g", "dem.grd/missing.grd"}};
  for (const auto& [option, name] : unopened)
    EXPECT_EQ(runCalc({option, folder.path(name), "1"}).outcome(),
              "3: Нельзя открыть файл " + folder.path(name) + " !\n");
  const std::string missing = folder.path("missing.pol");
  expectOutcomes({
      {{"-p", folder.write("open.pol", "1\n0 0\n1 0\n1 1\nEND\nEND\n"), "1"},
       "3: Линии полигонa не замкнуты!\n"},
      {{"--english", "-p", missing, "1"}, "3: Cannot open the file " + missing + " !\n"},
      {{"-l", grid, "1"}, "3: Недопустимый формат файла линий!\n"},
  });
}

// Every kind of saved file loads back with the reader of its kind and gives the result again, to
// the digits the file keeps (GeoTIFF stands for the raster formats GDAL writes, whose round trips
// are the raster files' own tests): the second run loads the operands and the file, and checks the
// result against the file (a sum of differences at most the tolerance). What a line file's twelve
// digits would collapse (a ring a billionth across) is left out with a notice, so the file still
// loads.
TEST(CalcFiles, EverySavedResultLoadsBackAndANumberWritesNoFile) {
  ScratchFolder folder;
  const std::string grid = folder.write("dem.grd", kGrid);
  const std::string data = folder.write("d.dat", "0.5 0.25 1\n1.5 2.5 2\n3 1 300\n");
  const std::string field = folder.write(
      "field.pol",
      "1\r\n0 0\r\n4 0\r\n4 4\r\n0 4\r\n0 0\r\nEND\r\n1\r\n1 1\r\n1 2\r\n2 2\r\n2 1\r\n1 1\r\n"
      "END\r\n2\r\n1000 1000\r\n1000.0000000001 1000\r\n1000.0000000001 1000.0000000001\r\n"
      "1000 1000\r\nEND\r\n3\r\n10 10\r\n10 11\r\n11 11\r\n11 10\r\n10 10\r\nEND\r\nEND\r\n");
  folder.write("field.val", "1 2.5\r\n2 3\r\n3 4\r\n");
  const std::string gridCheck = "MAX(Abs(G2 - G1 * Pi / 7))";
  const std::string lineCheck =
      "Abs(MAX(C2) - MAX(C1) * Pi) + Abs(MIN(C2) - MIN(C1) * Pi) + Abs(Len(C2) - Len(C1))";
  const std::string polygonCheck =
      "Abs(Area(P2) - Area(P1)) + Abs(MAX(P2) - MAX(P1)) + Abs(MIN(P2) - MIN(P1)) + "
      "Abs(Len(P2) - Len(P1))";
  const std::string rings = "не записаны кольца, схлопывающиеся при 12 значащих цифрах файла: 1\n";
  const std::string lines =
      "не записаны линии, схлопывающиеся в точку при 12 значащих цифрах файла: 1\n";
  const std::string dataCheck =
      "MAX(Abs(D2_3 - D1_3 * Pi)) + MAX(Abs(D2_1 - D1_1)) + MAX(Abs(D2_2 - D1_2))";
  // The option of the operand and of the file, the result, the file, the check, the notice.
  struct Case {
    std::string option, result, file, check, notice;
    double tolerance;
  };
  const std::vector<Case> cases = {
      {"-g", "G1 * Pi / 7", "out.grd", gridCheck, "", 1e-11},
      {"-g", "G1 * Pi / 7", "out.tif", gridCheck, "", 0},
      {"-d", "D1_3 * Pi", "out.dat", dataCheck, "", 1e-9},
      {"-l", "C1 * Pi", "out.con", lineCheck, lines, 1e-9},
      {"-l", "C1 * Pi", "out.shp", lineCheck, "", 1e-9},
      {"-p", "P1", "out.pol", polygonCheck, rings, 1e-9},
      {"-p", "P1", "poly.shp", polygonCheck, "", 1e-9},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.file);
    const std::string& operand = c.option == "-g" ? grid : c.option == "-d" ? data : field;
    const std::string file = folder.path(c.file);
    EXPECT_EQ(runClean({c.option, operand, "-o", file, c.result}).err, c.notice);
    // A new data file has a header line; shapefile lines carry their values in a field.
    std::vector<std::string> reload = {c.option, operand};
    if (c.option == "-d") reload.push_back("--header");
    if (file.ends_with(".shp")) reload.insert(reload.end(), {"--value-field", "Atribute"});
    reload.insert(reload.end(), {c.option, file, c.check});
    EXPECT_THAT(numbersIn(runClean(reload).out),
                ::testing::ElementsAre(::testing::Le(c.tolerance)));
  }
  // A number result writes no file.
  EXPECT_EQ(runCalc({"-o", folder.path("n.grd"), "2+2"}).outcome(),
            "0: Результат - число - в текстовом поле\n");
  EXPECT_FALSE(std::ifstream(folder.path("n.grd")).good());
}

TEST(CalcFiles, DataColumnsBecomeOperandsOfTheirSlotWithTheOptionsBeforeThem) {
  ScratchFolder folder;
  const std::string wells =
      folder.write("wells.dat", "name x y top\r\nW-1 0 0 10\r\nW-2 1 1 20\r\nW-3 2 2 -9999\r\n");
  const std::string grid = folder.write("dem.grd", kGrid);
  const auto run = runClean(
      {"--header", "--xy", "2,3", "-d", wells, "-g", grid, "-o", wells, "Sum(D1_4)", "D1_4 - G1"});
  EXPECT_EQ(run.out, "30.000000000000\nРезультат - данные - готов !\n");
  // The new column is appended; the text column and every original line stay as they were.
  EXPECT_EQ(folder.read("wells.dat"),
            "name x y top Zres\r\nW-1 0 0 10 9.000000\r\nW-2 1 1 20 15.000000\r\n"
            "W-3 2 2 -9999 -9999.000000\r\n");
  // Data options apply to the files after them.
  const std::string comma = folder.write("a.csv", "1,,3\n4,5,6\n");
  const std::string one = folder.write("one.dat", "42\n");
  // One row without coordinates is a number.
  EXPECT_EQ(runClean({"--delimiter", "comma", "--no-merge", "--xy", "none", "-d", comma,
                      "--delimiter=space", "-d", one, "Sum(D1_2)", "D2_1"})
                .out,
            "5.000000000000\n42.000000000000\n");
  // Columns without coordinates cannot meet a map: the operation names the data argument.
  const std::string values = folder.write("v.dat", "1 2 3\n4 5 6\n");
  EXPECT_EQ(runCalc({"--english", "--xy", "none", "-d", values, "-g", grid, "G1 * D1_3"}).outcome(),
            "1: Multiplying: coordinate columns are not set for argument 2\n");
  EXPECT_EQ(runCalc({"--xy", "2,2", "-d", comma, "1"}).outcome(),
            "3: Недопустимые столбцы координат X и Y!\n");
}

}  // namespace
}  // namespace vellumar::cli::testing
