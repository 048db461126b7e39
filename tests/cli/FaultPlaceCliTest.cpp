// Load failures name the line or record at fault after the reader's message, in both languages.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>

#include "CalcRunner.h"

namespace vellumar::cli {
namespace {

using testing::runCalc;
using testing::runClean;
using testing::ScratchFolder;

// The big-endian 32-bit integer at offset of bytes.
std::uint32_t bigEndianAt(const std::string& bytes, std::size_t offset) {
  std::uint32_t value = 0;
  for (std::size_t k = 0; k < 4; ++k)
    value = value << 8 | static_cast<unsigned char>(bytes[offset + k]);
  return value;
}

TEST(CalcFaultPlaces, TextFilesNameTheirLine) {
  ScratchFolder folder;
  const std::string grid =
      folder.write("bad.grd", "DSAA\r\n2 2\r\n0 1\r\n0 1\r\n0 9\r\n1 2\r\n3 x4\r\n");
  EXPECT_EQ(runCalc({"-g", grid, "1"}).outcome(),
            "3: Недопустимый формат файла гридa!, строка 7\n");
  EXPECT_EQ(runCalc({"--english", "-g", grid, "1"}).err, "Invalid grid file format!, line 7\n");

  const std::string data = folder.write("bad.dat", "X Y Z\n1 2 3\n4 5 6\n7 \x01 9\n");
  EXPECT_EQ(runCalc({"--header", "-d", data, "1"}).outcome(),
            "3: Недопустимый формат файла данных!, строка 4\n");
  EXPECT_EQ(runCalc({"--english", "--header", "-d", data, "1"}).err,
            "Invalid data file format!, line 4\n");

  const std::string lines = folder.write("bad.con", "1\n0 0\n1 1\nEND\n2\n0 0\n1 one\nEND\nEND\n");
  EXPECT_EQ(runCalc({"-l", lines, "1"}).err, "Недопустимый формат файла линий!, строка 7\n");
  EXPECT_EQ(runCalc({"--english", "-p", lines, "1"}).err, "Invalid polygon file format!, line 7\n");

  const std::string good = folder.write("good.pol", "1\n0 0\n1 0\n1 1\n0 0\nEND\nEND\n");
  folder.write("good.val", "1 5 1\n\n1 x\n");
  EXPECT_EQ(runCalc({"-p", good, "1"}).err,
            "Недопустимый формат файла полигонa!, строка 3 файла значений\n");
  EXPECT_EQ(runCalc({"--english", "-l", good, "1"}).err,
            "Invalid line file format!, line 3 of the value file\n");

  // A fault that lies in no one line gives the message alone.
  EXPECT_EQ(runCalc({"-g", folder.write("empty.grd", ""), "1"}).err,
            "Недопустимый формат файла гридa!\n");
}

TEST(CalcFaultPlaces, ShapefilesNameTheirRecord) {
  ScratchFolder folder;
  const std::string lines =
      folder.write("l.con", "1\n0 0\n1 1\nEND\n2\n0 0\n2 2\nEND\n3\n0 0\n3 3\nEND\nEND\n");
  runClean({"-l", lines, "-o", folder.path("l.shp"), "C1"});
  // Record 2 claims more parts than its bytes can hold.
  std::string shp = folder.read("l.shp");
  const std::string shx = folder.read("l.shx");
  const std::size_t second = 2 * static_cast<std::size_t>(bigEndianAt(shx, 108));
  for (std::size_t k = 0; k < 4; ++k) shp[second + 8 + 36 + k] = k == 3 ? '\x7f' : '\xff';
  folder.write("l.shp", shp);

  EXPECT_EQ(runCalc({"-l", folder.path("l.shp"), "1"}).outcome(),
            "3: Недопустимый формат файла линий!, запись 2\n");
  EXPECT_EQ(runCalc({"--english", "-p", folder.path("l.shp"), "1"}).err,
            "Invalid polygon file format!, record 2\n");
  EXPECT_EQ(runCalc({"--english", "-d", folder.path("l.shp"), "1"}).outcome(),
            "3: Invalid data file format!, record 2\n");
}

}  // namespace
}  // namespace vellumar::cli
