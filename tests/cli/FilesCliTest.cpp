#include <gtest/gtest.h>

#include <fstream>
#include <utility>

#include "CalcRunner.h"

namespace vellumar::cli {
namespace {

using testing::runCalc;
using testing::runClean;
using testing::ScratchFolder;

constexpr const char* kGrid = "DSAA\r\n3 3\r\n0 2\r\n0 2\r\n1 9\r\n1 2 3 \r\n4 5 6 \r\n7 8 9 \r\n";
constexpr const char* kSquare = "1\r\n0 0\r\n1 0\r\n1 1\r\n0 1\r\n0 0\r\nEND\r\nEND\r\n";

TEST(CalcFiles, GridsAreLoadedComputedAndSaved) {
  ScratchFolder folder;
  const std::string grid = folder.write("dem.grd", kGrid);
  const auto run = runClean({"-g", grid, "-o", folder.path("twice.grd"), "MAX(G1)", "G1 * 2"});
  EXPECT_EQ(run.out, "9.000000000000\nРезультат - карта - готов !\n");
  EXPECT_EQ(folder.read("twice.grd"),
            "DSAA\r\n3 3\r\n0 2\r\n0 2\r\n2 18\r\n2 4 6 \r\n8 10 12 \r\n14 16 18 \r\n");
  // The saved grid loads again and carries its values.
  const auto again = runCalc({"-g", folder.path("twice.grd"), "-g", grid, "MIN(G1 - G2)"});
  EXPECT_EQ(again.out, "1.000000000000\n");
}

TEST(CalcFiles, LoadFailuresStopWithStatusThree) {
  ScratchFolder folder;
  const std::string grid = folder.write("dem.grd", kGrid);
  const auto twice = runCalc({"-g", grid, "-g", grid, "1"});
  EXPECT_EQ(twice.outcome(), "3: Такой файл уже загружен!\n");
  EXPECT_EQ(twice.out, "");
  const auto bad = runCalc({"-g", folder.write("bad.grd", "DSAB\n1 1\n"), "1"});
  EXPECT_EQ(bad.outcome(), "3: Недопустимый формат файла гридa!, строка 1\n");
  const auto open = runCalc({"-p", folder.write("open.pol", "1\n0 0\n1 0\n1 1\nEND\nEND\n"), "1"});
  EXPECT_EQ(open.outcome(), "3: Линии полигонa не замкнуты!\n");
  // A missing file of any kind is named; a file that is there but not of the kind is not.
  for (const auto& [option, name] : {std::pair{"-g", "missing.grd"},
                                     {"-l", "missing.con"},
                                     {"-p", "missing.pol"},
                                     {"-l", "missing.shp"},
                                     {"-d", "missing.dat"},
                                     {"-g", "dem.grd/missing.grd"}}) {
    EXPECT_EQ(runCalc({option, folder.path(name), "1"}).outcome(),
              "3: Нельзя открыть файл " + folder.path(name) + " !\n");
  }
  EXPECT_EQ(runCalc({"--english", "-p", folder.path("missing.pol"), "1"}).outcome(),
            "3: Cannot open the file " + folder.path("missing.pol") + " !\n");
  EXPECT_EQ(runCalc({"-l", grid, "1"}).outcome(), "3: Недопустимый формат файла линий!\n");
}

TEST(CalcFiles, PolygonsAndLinesRoundTripWithTheirValues) {
  ScratchFolder folder;
  const std::string polygon = folder.write("field.pol", kSquare);
  folder.write("field.val", "1 2.5\r\n");
  const auto run = runClean({"-p", polygon, "-o", folder.path("out.con"), "MAX(P1)", "P1 * 2"});
  EXPECT_EQ(run.out, "2.500000000000\nРезультат - линии - готов !\n");
  EXPECT_EQ(folder.read("out.con"), "1\r\n0 0\r\n1 0\r\n1 1\r\n0 1\r\n0 0\r\nEND\r\nEND\r\n");
  const auto back = runCalc({"-l", folder.path("out.con"), "MAX(C1)"});
  EXPECT_EQ(back.out, "5.000000000000\n");
}

TEST(CalcFiles, ResultsWithoutLinesAreSavedAsEmptyFiles) {
  ScratchFolder folder;
  const std::string flat = folder.write("flat.grd", "DSAA\n2 2\n0 1\n0 1\n5 5\n5 5\n5 5\n");
  runClean({"-g", flat, "-o", folder.path("none.con"), "Trace(G1, 0, 10, 1, 1)"});
  EXPECT_EQ(folder.read("none.con"), "END\r\n");
  const auto back = runCalc({"-l", folder.path("none.con"), "C1"});
  EXPECT_EQ(back.out, "Результат - линии - готов !\n");
}

TEST(CalcFiles, SavingOverALoadedFileReplacesItsOperand) {
  ScratchFolder folder;
  const std::string grid = folder.write("dem.grd", kGrid);
  runClean({"-g", grid, "-o", grid, "--list", "G1 + 1"});
  EXPECT_EQ(folder.read("dem.grd").substr(0, 27), "DSAA\r\n3 3\r\n0 2\r\n0 2\r\n2 10\r\n");
}

TEST(CalcFiles, NumberResultsWriteNoFile) {
  ScratchFolder folder;
  EXPECT_EQ(runCalc({"-o", folder.path("n.grd"), "2+2"}).outcome(),
            "0: Результат - число - в текстовом поле\n");
  EXPECT_FALSE(std::ifstream(folder.path("n.grd")).good());
}

TEST(CalcFiles, DataColumnsBecomeOperandsOfTheirSlot) {
  ScratchFolder folder;
  const std::string wells =
      folder.write("wells.dat", "name x y top\r\nW-1 0 0 10\r\nW-2 1 1 20\r\nW-3 2 2 -9999\r\n");
  const std::string grid = folder.write("dem.grd", kGrid);
  const auto run = runClean(
      {"--header", "--xy", "2,3", "-d", wells, "-g", grid, "-o", wells, "Sum(D1_4)", "D1_4 - G1"});
  EXPECT_EQ(run.out, "30.000000000000\nРезультат - данные - готов !\n");
  // The new column is appended; the text column and every original line stay as they were.
  const std::string saved = folder.read("wells.dat");
  EXPECT_EQ(saved,
            "name x y top Zres\r\nW-1 0 0 10 9.000000\r\nW-2 1 1 20 15.000000\r\n"
            "W-3 2 2 -9999 -9999.000000\r\n");
}

TEST(CalcFiles, DataOptionsApplyToTheFilesAfterThem) {
  ScratchFolder folder;
  const std::string comma = folder.write("a.csv", "1,,3\n4,5,6\n");
  const std::string one = folder.write("one.dat", "42\n");
  const auto run = runClean({"--delimiter", "comma", "--no-merge", "--xy", "none", "-d", comma,
                             "--delimiter=space", "-d", one, "Sum(D1_2)", "D2_1"});
  // One row without coordinates is a number.
  EXPECT_EQ(run.out, "5.000000000000\n42.000000000000\n");
  // Columns without coordinates cannot meet a map: the operation names the data argument.
  const std::string grid = folder.write("dem.grd", kGrid);
  const std::string values = folder.write("v.dat", "1 2 3\n4 5 6\n");
  EXPECT_EQ(runCalc({"--xy", "none", "-d", values, "-g", grid, "D1_3 + G1"}).outcome(),
            "1: Сложение: не указаны столбцы координат для аргумента 1\n");
  EXPECT_EQ(runCalc({"--english", "--xy", "none", "-d", values, "-g", grid, "G1 * D1_3"}).outcome(),
            "1: Multiplying: coordinate columns are not set for argument 2\n");
  EXPECT_EQ(runCalc({"--xy", "2,2", "-d", comma, "1"}).outcome(),
            "3: Недопустимые столбцы координат X и Y!\n");
  const auto badKind = runCalc({"--delimiter", "semicolons", "1"});
  EXPECT_EQ(badKind.status, 2);
}

}  // namespace
}  // namespace vellumar::cli
