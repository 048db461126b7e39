// Grids in raster formats through vellumar-calc: their coordinate systems carried, compared and
// listed, bands chosen, output formats and options, and the messages of files GDAL cannot read.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "CalcRunner.h"

namespace vellumar::cli::testing {
namespace {

using ::testing::AllOf;
using ::testing::EndsWith;
using ::testing::HasSubstr;
using ::testing::StartsWith;

constexpr const char* kWgs84 =
    "GEOGCS[\"GCS_WGS_1984\",DATUM[\"D_WGS_1984\",SPHEROID[\"WGS_1984\",6378137.0,"
    "298.257223563]],PRIMEM[\"Greenwich\",0.0],UNIT[\"Degree\",0.0174532925199433]]";

// A 3 x 2 ESRI ASCII grid at (1000, 2000) with 10-unit cells, and a .prj when a system is given.
std::string writeAscii(const ScratchFolder& folder, const std::string& name,
                       const std::string& rows, const char* system = nullptr) {
  if (system != nullptr) folder.write(name + ".prj", system);
  return folder.write(name + ".asc",
                      "ncols 3\nnrows 2\nxllcorner 1000\nyllcorner 2000\ncellsize 10\n"
                      "NODATA_value -9999\n" +
                          rows);
}

// A VRT of 3 x 2 nodes whose bands are the first bands of the files named, placed by the
// geotransform when one is given.
std::string vrtOf(const std::vector<std::string>& files, const std::string& geotransform = "") {
  std::string text = "<VRTDataset rasterXSize=\"3\" rasterYSize=\"2\">";
  if (!geotransform.empty()) text += "<GeoTransform>" + geotransform + "</GeoTransform>";
  for (std::size_t b = 0; b < files.size(); ++b)
    text += "<VRTRasterBand dataType=\"Float64\" band=\"" + std::to_string(b + 1) +
            "\"><SimpleSource><SourceFilename relativeToVRT=\"1\">" + files[b] +
            "</SourceFilename><SourceBand>1</SourceBand></SimpleSource></VRTRasterBand>";
  return text + "</VRTDataset>";
}

// GDAL is loaded when a file needs it, not with the program: a job of DSAA grids, shapefiles
// and text never loads it. The dynamic loader names every library it initialises (LD_DEBUG).
TEST(CalcRasters, GdalIsLoadedOnlyForTheFilesThatNeedIt) {
  ScratchFolder folder;
  const std::string plain = folder.write("plain.grd", "DSAA\n2 2\n0 1\n0 1\n1 4\n1 2\n3 4\n");
  const std::string ascii = writeAscii(folder, "utm", "1 2 3\n4 -9999 6\n");
  const RunSetup traced{.environment = {{"LD_DEBUG", "libs"}}};
  const auto own = runClean({"-g", plain, "-o", folder.path("iso.shp"), "-o",
                             folder.path("copy.grd"), "Trace(G1, 1, 4, 1, 1); G1 * 2"},
                            traced);
  EXPECT_THAT(own.err, AllOf(HasSubstr("calling init"), ::testing::Not(HasSubstr("libgdal"))));
  EXPECT_THAT(runClean({"-g", ascii, "MAX(G1)"}, traced).all(),
              ::testing::FieldsAre(0, "6.000000000000\n", HasSubstr("libgdal")));
}

TEST(CalcRasters, CoordinateSystemsAreCarriedListedAndCompared) {
  ScratchFolder folder;
  const std::string utm = writeAscii(folder, "utm", "1 2 3\n4 -9999 6\n", kUtm32Prj);
  const std::string degrees = writeAscii(folder, "degrees", "1 2 3\n4 5 6\n", kWgs84);
  const std::string plain = folder.write("plain.grd",
                                         "DSAA\n3 2\n1005 1025\n2005 2015\n1 6\n"
                                         "4 5 6\n1 2 3\n");
  // The ESRI spelling of the system is known by its EPSG code.
  EXPECT_THAT(runClean({"--list", "-g", utm, "-g", plain, "MAX(G1)"}).out,
              AllOf(StartsWith("6.000000000000\n"),
                    HasSubstr("G1:                 " + utm + "  EPSG:32632\n"),
                    HasSubstr("G2:                 " + plain + "\n")));

  // Metres and degrees do not mix, in operators and in functions alike.
  EXPECT_EQ(runCalc({"-g", utm, "-g", degrees, "G1 + G2"}).outcome(),
            "1: Сложение: системы координат гридов различны\n");
  EXPECT_EQ(runCalc({"--english", "-g", utm, "-g", degrees, "Merge(G2, G1)"}).outcome(),
            "1: Merge: the grids have different coordinate systems\n");

  // A grid without a system goes with any; the result keeps the first system there is, and a
  // GeoTIFF of it (spelt by EPSG) is the same system as the ESRI .prj.
  runClean({"-g", plain, "-g", utm, "-o", folder.path("sum.tif"), "G1 + G2"});
  EXPECT_THAT(runClean({"--list", "-g", folder.path("sum.tif"), "-g", utm, "MAX(G1 - 2*G2)"}).out,
              AllOf(StartsWith("0.000000000000E+00\n"),
                    HasSubstr(folder.path("sum.tif") + "  EPSG:32632")));
}

TEST(CalcRasters, BandsFormatsOptionsAndFilesGdalCannotRead) {
  ScratchFolder folder;
  writeAscii(folder, "low", "1 2 3\n4 5 6\n");
  writeAscii(folder, "high", "10 20 30\n40 50 60\n");
  // Two bands in one file: a VRT over the two grids.
  const std::string vrt =
      folder.write("two.vrt", vrtOf({"low.asc", "high.asc"}, "1000, 10, 0, 2020, 0, -10"));
  // --band holds for the one -g after it.
  EXPECT_EQ(
      runClean({"--band", "2", "-g", vrt, "-g", folder.path("low.asc"), "MAX(G1)", "MAX(G2)"}).out,
      "60.000000000000\n6.000000000000\n");
  EXPECT_EQ(runCalc({"--band", "3", "-g", vrt, "1"}).outcome(),
            "3: В файле " + vrt + " нет канала 3!\n");

  // A type and creation options for GeoTIFF (every format by its extension is saved and read
  // back in the files' tests).
  runClean({"--type", "Int16", "--co", "COMPRESS=DEFLATE", "-g", vrt, "-o",
            folder.path("small.tif"), "G1 / 4"});
  EXPECT_EQ(runClean({"-g", folder.path("small.tif"), "MAX(G1)"}).out, "2.000000000000\n");

  // A file GDAL cannot read names the file and GDAL's reason.
  const std::string broken = folder.write("broken.tif", "II*\0garbage");
  const std::string first = "3: Недопустимый формат файла гридa!, файл " + broken + "\n";
  // GDAL's own words on a second line.
  EXPECT_THAT(
      runCalc({"-g", broken, "1"}).outcome(),
      AllOf(StartsWith(first), EndsWith("\n"), ::testing::SizeIs(::testing::Gt(first.size() + 1))));
  // A raster without a geotransform loads on the lattice of its indices, with a warning.
  const std::string unplaced = folder.write("unplaced.vrt", vrtOf({"low.asc"}));
  EXPECT_EQ(runClean({"--english", "-g", unplaced, "G_D(G1)"}).err,
            "the raster " + unplaced +
                " has no geotransform: its nodes are 0 … 2 along X and 0 … 1 along Y\n");
}

}  // namespace
}  // namespace vellumar::cli::testing
