#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <array>
#include <bit>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <optional>
#include <random>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "../common/TestSupport.h"
#include "../grid/GridTestSupport.h"
#include "RasterFixtures.h"
#include "common/ErrorSink.h"
#include "common/SafeSave.h"
#include "formats/CoordinateSystem.h"
#include "formats/RasterFile.h"
#include "grid/Blank.h"

namespace vellumar::formats {
namespace {

using grid::testing::countsOf;
using grid::testing::extentsOf;
using grid::testing::nodesOf;
using testing::RasterFixture;
using testing::valuesOf;
using testing::writeFixture;

// The value GDAL holds at (column, row from the top, or from the bottom for rows stored bottom
// first) equals the grid's node there.
void expectNodesOf(const grid::Grid& grid, const std::vector<double>& rows,
                   bool bottomFirst = false) {
  ASSERT_EQ(grid.nodeCount(), rows.size());
  grid::testing::forEachNode(grid, [&](int i, int j, double, double) {
    const int row = bottomFirst ? j : grid.ny() - 1 - j;
    const double expected = rows[static_cast<std::size_t>(row) * grid.nx() + i];
    ASSERT_EQ(grid.node(i, j), expected) << i << "," << j;
  });
}

class RasterReadTest : public vellumar::testing::FolderTest {
 protected:
  // A 5 x 4 raster at (1000, 2000) with 10 x 20 pixels, values 0.5, 1.5, ... from the top row, of
  // the type, with the no-data value when one is given.
  RasterFixture sample(GDALDataType type = GDT_Float64, std::optional<double> noData = {}) const {
    return {.type = type,
            .bands = {valuesOf(5, 4, [](int k) { return k + 0.5; })},
            .wkt = testing::epsgWkt(32632),
            .hasNoData = noData.has_value(),
            .noData = noData.value_or(0.0)};
  }

  // Writes the fixture with GDAL's driver to the file name and reads the band back into grid.
  RasterRead writeAndRead(const RasterFixture& fixture, const char* driver, const std::string& name,
                          grid::Grid& grid, int band = 1, char** options = nullptr) const {
    EXPECT_TRUE(writeFixture(fixture, driver, path(name), options)) << name;
    return readRaster(path(name), band, grid);
  }
};

// Pixel centres: xmin is the origin plus half a pixel; the top row of the file is the grid's top.
TEST_F(RasterReadTest, ReadsEveryListedFormatOnPixelCentres) {
  // Driver, file, type, and whether the format keeps the coordinate system.
  const std::tuple<const char*, const char*, GDALDataType, bool> cases[] = {
      {"GTiff", "a.tif", GDT_Float64, true},   {"COG", "a.tiff", GDT_Float64, true},
      {"AAIGrid", "a.asc", GDT_Float64, true}, {"netCDF", "a.nc", GDT_Float64, true},
      {"HFA", "a.img", GDT_Float64, true},     {"GSBG", "b.grd", GDT_Float32, false},
      {"GS7BG", "c.grd", GDT_Float64, false}};
  for (const auto& [driver, file, type, keepsSystem] : cases) {
    SCOPED_TRACE(driver);
    const RasterFixture fixture = sample(type);
    grid::Grid grid;
    ASSERT_TRUE(writeAndRead(fixture, driver, file, grid));
    EXPECT_TRUE(readsAsRaster(path(file)));
    EXPECT_EQ(std::tuple(countsOf(grid), extentsOf(grid), grid::testing::zRangeOf(grid), grid.name),
              std::tuple(std::pair(5, 4), std::array{1005.0, 1045.0, 1930.0, 1990.0},
                         std::pair(0.5, 19.5), path(file)));
    expectNodesOf(grid, fixture.bands[0]);
    EXPECT_TRUE(!keepsSystem || grid.georeference.shortName == "EPSG:32632");
  }
}

// Rasters of many blocks land node by node whatever their blocks: tiles and strips that stop
// short at the right and bottom edges, a band of a pixel-interleaved file, an integer type, rows
// stored bottom first, and one block too large to hold twice, which is read row by row; each on
// pixel centres.
TEST_F(RasterReadTest, EveryBlockLayoutLandsInPlace) {
  struct Case {
    const char* name;
    int nx, ny, bands;
    GDALDataType type;
    const char* options[4];  // the rest nullptr, ending the list as GDAL's lists end
    bool bottomFirst = false;
  };
  const std::vector<Case> cases = {
      {"tiles.tif", 300, 170, 1, GDT_Float64, {"TILED=YES", "BLOCKXSIZE=128", "BLOCKYSIZE=64"}},
      {"strips.tif", 300, 170, 1, GDT_Float32, {"BLOCKYSIZE=7"}},
      {"interleaved.tif", 61, 45, 2, GDT_Int16, {"INTERLEAVE=PIXEL", "BLOCKYSIZE=4"}},
      {"upward.tif", 33, 29, 1, GDT_Float64, {"TILED=YES", "BLOCKXSIZE=16", "BLOCKYSIZE=16"}, true},
      {"blocks.img", 150, 70, 1, GDT_Float64, {"BLOCKSIZE=64"}},
      {"one_strip.tif", 3000, 3000, 1, GDT_Float64, {"BLOCKYSIZE=3000"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    RasterFixture fixture{.nx = c.nx, .ny = c.ny, .type = c.type, .bands = {}, .wkt = {}};
    for (int b = 0; b < c.bands; ++b)
      fixture.bands.push_back(valuesOf(c.nx, c.ny, [&](int k) { return (k % 9973) + 7 * b; }));
    if (c.bottomFirst) fixture.gt[5] = 20.0;
    const char* driver = c.name[std::strlen(c.name) - 1] == 'g' ? "HFA" : "GTiff";
    grid::Grid grid;
    ASSERT_TRUE(
        writeAndRead(fixture, driver, c.name, grid, c.bands, const_cast<char**>(c.options)));
    // Pixel centres, half a pixel in from the origin, whichever way the rows run: rows that run
    // north (a positive pixel height) are the grid's rows as they stand.
    const double height = c.bottomFirst ? 20.0 : -20.0;
    const double first = 2000.0 + height / 2, last = 2000.0 + height * (c.ny - 0.5);
    EXPECT_EQ(extentsOf(grid), (std::array{1005.0, 1005.0 + 10.0 * (c.nx - 1),
                                           std::min(first, last), std::max(first, last)}));
    expectNodesOf(grid, fixture.bands[static_cast<std::size_t>(c.bands - 1)], c.bottomFirst);
  }
  // The interleaved file holds two bands (the second was read above): there is no band 3, nor 0.
  EXPECT_EQ(bandCount(path("interleaved.tif")), 2);
  EXPECT_EQ(bandCount(path("none.tif")), 0);
  grid::Grid grid;
  EXPECT_EQ(readRaster(path("interleaved.tif"), 3, grid).status, RasterStatus::NoSuchBand);
  EXPECT_EQ(readRaster(path("interleaved.tif"), 0, grid).status, RasterStatus::NoSuchBand);
}

// The band's no-data value and every NaN are blank, in every type; values read exactly.
TEST_F(RasterReadTest, NoDataOfEveryTypeIsBlank) {
  // The type, its no-data value, and a value the type holds exactly at its edge.
  const std::tuple<GDALDataType, double, double> cases[] = {
      {GDT_Byte, 255, 254},           {GDT_Int16, -32768, 32767},
      {GDT_UInt16, 65535, 65534},     {GDT_Int32, -9999, 2147483647},
      {GDT_Float32, -3.4e38, 1.5e38}, {GDT_Float64, -1e300, 1.7e38}};
  for (const auto& [type, noData, extreme] : cases) {
    SCOPED_TRACE(GDALGetDataTypeName(type));
    RasterFixture fixture = sample(type, noData);
    fixture.bands[0][3] = noData;
    fixture.bands[0][7] = extreme;
    grid::Grid grid;
    ASSERT_TRUE(writeAndRead(fixture, "GTiff", "n.tif", grid));
    const std::vector<double> stored = testing::gdalValues(path("n.tif"));
    std::vector<double> expected = stored;
    expected[3] = grid::kBlankValue;
    expectNodesOf(grid, expected);
    EXPECT_EQ(grid.zmax, stored[7]);
    ASSERT_TRUE(grid.georeference.noData.has_value());
    EXPECT_EQ(static_cast<float>(*grid.georeference.noData), static_cast<float>(noData));
  }
  // NaN and infinite pixels are blank without any no-data value, and leave the z-range finite;
  // a no-data value the type cannot hold is ignored.
  RasterFixture fixture = sample();
  std::ranges::copy(std::array{NAN, INFINITY, -INFINITY}, fixture.bands[0].begin());
  grid::Grid grid;
  ASSERT_TRUE(writeAndRead(fixture, "GTiff", "nan.tif", grid));
  for (int i = 0; i < 3; ++i) EXPECT_EQ(grid.node(i, 3), grid::kBlankValue) << i;
  EXPECT_TRUE(std::isfinite(grid.zmin) && std::isfinite(grid.zmax));
  const RasterRead read = writeAndRead(sample(GDT_Byte, -9999), "GTiff", "byte.tif", grid);
  ASSERT_TRUE(read);
  EXPECT_EQ(
      std::tuple(read.notices, read.ignoredNoData, grid.georeference.noData, grid.hasBlanks()),
      std::tuple(std::vector{RasterNotice::NoDataOutOfType}, -9999, std::nullopt, false));
}

TEST_F(RasterReadTest, GeotransformsItCannotPlaceAreRefusedOrWarnedOf) {
  RasterFixture fixture = sample();
  fixture.placed = false;
  fixture.wkt.clear();
  grid::Grid grid;
  const RasterRead read = writeAndRead(fixture, "GTiff", "plain.tif", grid);
  ASSERT_TRUE(read);
  EXPECT_EQ(read.notices, std::vector<RasterNotice>{RasterNotice::NoGeotransform});
  EXPECT_EQ(extentsOf(grid), (std::array{0.0, 4.0, 0.0, 3.0}));
  expectNodesOf(grid, fixture.bands[0]);
  EXPECT_TRUE(grid.georeference.shortName.empty());

  fixture = sample();
  fixture.gt[2] = 0.5;  // rotated
  grid::Grid untouched;
  EXPECT_EQ(writeAndRead(fixture, "GTiff", "rotated.tif", untouched).status, RasterStatus::Rotated);
  EXPECT_FALSE(untouched.hasNodes());
}

// A netCDF file of two variables (GDAL writes the bands of a raster so) is a file of several
// grids: each is named by GDAL's subdataset name, which then opens as a grid.
TEST_F(RasterReadTest, NetcdfVariablesAreNamedAndOpened) {
  RasterFixture fixture = sample();
  fixture.bands.push_back(valuesOf(5, 4, [](int k) { return 100.0 + k; }));
  grid::Grid grid;
  const RasterRead read = writeAndRead(fixture, "netCDF", "two.nc", grid);
  ASSERT_EQ(read.status, RasterStatus::SeveralGrids);
  ASSERT_EQ(read.subdatasets.size(), 2u);
  EXPECT_FALSE(grid.hasNodes());
  EXPECT_TRUE(readsAsRaster(read.subdatasets[1]));
  ASSERT_TRUE(readRaster(read.subdatasets[1], 1, grid));
  expectNodesOf(grid, fixture.bands[1]);
  EXPECT_EQ(grid.georeference.shortName, "EPSG:32632");
}

TEST_F(RasterReadTest, DamagedAndForeignFilesAreRefusedWithGdalsWords) {
  const RasterFixture fixture{
      .nx = 300, .ny = 300, .bands = {valuesOf(300, 300, [](int k) { return k; })}, .wkt = {}};
  ASSERT_TRUE(writeFixture(fixture, "GTiff", path("whole.tif")));
  const std::string bytes = fileText("whole.tif");
  grid::Grid grid;
  for (const std::size_t keep :
       {std::size_t(0), std::size_t(7), std::size_t(200), bytes.size() / 2}) {
    SCOPED_TRACE(keep);
    std::ofstream(path("cut.tif"), std::ios::binary) << bytes.substr(0, keep);
    const RasterRead read = readRaster(path("cut.tif"), 1, grid);
    EXPECT_EQ(std::tuple(read.status, read.libraryError.empty(), grid.hasNodes()),
              std::tuple(RasterStatus::NotRaster, false, false));
  }
  // A missing file, and anything that is not a regular file, is refused before GDAL opens it.
  EXPECT_EQ(readRaster(path("missing.tif"), 1, grid).status, RasterStatus::CannotOpen);
  ASSERT_EQ(mkfifo(path("fifo.tif").c_str(), 0600), 0);
  EXPECT_EQ(readRaster(path("fifo.tif"), 1, grid).status, RasterStatus::CannotOpen);
  EXPECT_FALSE(readsAsRaster(path("fifo.tif")));
  // DSAA texts, whatever their names, and texts no raster driver knows go to the DSAA reader.
  const std::pair<const char*, const char*> texts[] = {
      {"dsaa.grd", "DSAA"}, {"dsaa.tif", "  DSAA"}, {"typo.grd", "DSAB"}};
  for (const auto& [name, head] : texts) {
    std::ofstream(path(name)) << head << "\n2 2\n0 1\n0 1\n0 3\n0 1\n2 3\n";
    EXPECT_FALSE(readsAsRaster(path(name))) << name;
  }
}

// ---- writing ----

class RasterWriteTest : public vellumar::testing::FolderTest {
 protected:
  // A 7 x 5 grid of random doubles of every magnitude, blank at two nodes, on a UTM lattice.
  static grid::Grid randomGrid() {
    std::mt19937_64 random(7);
    const auto draw = [&](double, double) {
      double v = std::bit_cast<double>(random());
      while (!std::isfinite(v) || grid::isBlank(v)) v = std::bit_cast<double>(random());
      return v;
    };
    grid::Grid grid = grid::testing::makeGrid(7, 5, 500005.0, 500065.0, 4000010.0, 4000090.0, draw);
    grid.setNode(2, 1, grid::kBlankValue);
    grid.setNode(6, 4, grid::kBlankValue);
    grid.georeference.wkt = testing::epsgWkt(32632);
    grid.georeference.shortName = "EPSG:32632";
    return grid;
  }

  std::vector<std::string> leftovers() const {
    std::vector<std::string> names = entryNames();
    std::erase_if(names, [](const std::string& n) { return n.find("vellumar-") == n.npos; });
    return names;
  }

  // The grid's counts and the bits of its nodes, to compare grids bit for bit.
  static std::pair<std::pair<int, int>, std::vector<std::uint64_t>> exactNodes(
      const grid::Grid& grid) {
    std::vector<std::uint64_t> bits;
    for (const double v : grid.nodes()) bits.push_back(std::bit_cast<std::uint64_t>(v));
    return {countsOf(grid), bits};
  }
};

// Float64 files keep every node bit for bit, the lattice, the coordinate system and the blanks,
// in every binary format; ESRI ASCII keeps its system in a .prj beside it.
TEST_F(RasterWriteTest, BinaryFormatsRoundTripBitForBit) {
  const grid::Grid grid = randomGrid();
  for (const char* name : {"a.tif", "a.tiff", "a.nc", "a.img", "a.asc"}) {
    SCOPED_TRACE(name);
    ASSERT_TRUE(writesRaster(path(name)));
    ASSERT_TRUE(writeRaster(grid, path(name)));
    grid::Grid read;
    ASSERT_TRUE(readRaster(path(name), 1, read));
    EXPECT_EQ(exactNodes(read), exactNodes(grid));
    EXPECT_EQ(extentsOf(read), extentsOf(grid));
    EXPECT_TRUE(sameCoordinateSystem(read.georeference.wkt, grid.georeference.wkt));
    EXPECT_FALSE(read.georeference.wkt.empty());
    EXPECT_EQ(read.georeference.shortName, "EPSG:32632");
  }
  EXPECT_TRUE(std::filesystem::exists(path("a.prj")) && leftovers().empty());
  // GeoTIFF -> grid -> GeoTIFF keeps the geotransform exactly, and the file's own no-data value.
  grid::Grid read;
  ASSERT_TRUE(readRaster(path("a.tif"), 1, read));
  read.georeference.noData = -9999.0;
  ASSERT_TRUE(writeRaster(read, path("b.tif")));
  std::array<double, 6> first{}, second{};
  const std::vector<double> written = testing::gdalValues(path("a.tif"), first.data());
  const std::vector<double> rewritten = testing::gdalValues(path("b.tif"), second.data());
  EXPECT_EQ(first, second);
  EXPECT_EQ(std::pair(written[3 * 7 + 2], rewritten[3 * 7 + 2]),
            std::pair(grid::kBlankValue, -9999.0));
  grid::Grid again;
  ASSERT_TRUE(readRaster(path("b.tif"), 1, again));
  EXPECT_EQ(exactNodes(again), exactNodes(grid));
}

TEST_F(RasterWriteTest, TypesAndCreationOptionsAreGdals) {
  grid::Grid grid = randomGrid();
  std::size_t k = 0;
  for (double& v : grid.mutableNodes()) v = grid::isBlank(v) ? v : 0.1 * static_cast<double>(k++);
  std::vector<double> asFloats = nodesOf(grid);
  for (double& v : asFloats) v = grid::isBlank(v) ? v : static_cast<float>(v);
  ASSERT_TRUE(
      writeRaster(grid, path("f.tif"),
                  {.creationOptions = {"COMPRESS=DEFLATE", "PREDICTOR=3"}, .dataType = "Float32"}));
  GDALDatasetH dataset = GDALOpen(path("f.tif").c_str(), GA_ReadOnly);
  ASSERT_NE(dataset, nullptr);
  GDALRasterBandH band = GDALGetRasterBand(dataset, 1);
  EXPECT_EQ(GDALGetRasterDataType(band), GDT_Float32);
  EXPECT_STREQ(GDALGetMetadataItem(dataset, "COMPRESSION", "IMAGE_STRUCTURE"), "DEFLATE");
  int blockX = 0, blockY = 0;
  GDALGetBlockSize(band, &blockX, &blockY);
  EXPECT_EQ(blockX, 256);  // tiled unless asked otherwise
  GDALClose(dataset);
  grid::Grid read;
  ASSERT_TRUE(readRaster(path("f.tif"), 1, read));
  EXPECT_EQ(nodesOf(read), asFloats);
  // An integer type cannot hold the DSAA blank value: blanks take the type's lowest value.
  // Strips, the last one short.
  ASSERT_TRUE(writeRaster(grid, path("i.tif"),
                          {.creationOptions = {"TILED=NO", "BLOCKYSIZE=2"}, .dataType = "Int16"}));
  EXPECT_EQ(testing::gdalValues(path("i.tif"))[3 * 7 + 2], -32768.0);
  ASSERT_TRUE(readRaster(path("i.tif"), 1, read));
  EXPECT_EQ(grid::testing::nodesAt(read, {{2, 1}, {1, 0}}), std::vector({grid::kBlankValue, 0.0}));
  EXPECT_TRUE(knownDataType("UInt16"));
  EXPECT_FALSE(knownDataType("Float65"));
  EXPECT_FALSE(writesRaster(path("a.grd")));
  EXPECT_FALSE(writesRaster(path("a.vrt")));
}

// A save replaces the old file only once the new one is whole: a refused target, a cancel, a
// GDAL failure and a stop before the rename all leave the old file and nothing else.
TEST_F(RasterWriteTest, FailedSavesKeepTheOldFile) {
  const grid::Grid grid = randomGrid();
  std::ofstream(path("old.tif")) << "old";
  const auto oldKept = [&] {
    EXPECT_EQ(fileText("old.tif"), "old");
    EXPECT_TRUE(leftovers().empty());
  };
  vellumar::testing::RecordingObserver cancelling(1);
  ErrorSink cancel(&cancelling);
  EXPECT_EQ(writeRaster(grid, path("old.tif"), {}, &cancel).status, RasterWriteStatus::Cancelled);
  oldKept();

  // Tiles must be multiples of 16.
  const RasterWrite refusedByGdal =
      writeRaster(grid, path("old.tif"), {.creationOptions = {"BLOCKXSIZE=7"}, .dataType = ""});
  EXPECT_EQ(std::pair(refusedByGdal.status, refusedByGdal.libraryError.empty()),
            std::pair(RasterWriteStatus::Failed, false));
  oldKept();

  stopCommitsAfterRename(0);
  const RasterWrite stopped = writeRaster(grid, path("old.tif"));
  EXPECT_FALSE(stopped);
  EXPECT_EQ(stopped.saveError, SaveError::Stopped);
  stopCommitsAfterRename(-1);
  oldKept();

  std::filesystem::create_directory(path("folder.tif"));
  const RasterWrite folder = writeRaster(grid, path("folder.tif"));
  EXPECT_EQ(std::pair(folder.status, folder.saveError),
            std::pair(RasterWriteStatus::Refused, SaveError::NotRegularFile));

  EXPECT_FALSE(writeRaster(grid::Grid(), path("empty.tif")));
  EXPECT_FALSE(std::filesystem::exists(path("empty.tif")));
  EXPECT_TRUE(leftovers().empty());
}

// 24 MB, written in tiles that stop short at the right and bottom edges and read in several blocks
// of rows: every node lands in place as GDAL reads it, progress hears of the rows done, in order up
// to all of them, and a read it stops changes nothing.
TEST_F(RasterWriteTest, ProgressHearsOfTheRowsWrittenAndReadAndStopsTheRead) {
  std::size_t k = 0;
  const grid::Grid grid = grid::testing::makeGrid(1000, 3000, 0.0, 999.0, 0.0, 2999.0,
                                                  [&](double, double) { return k++ % 97; });
  // The rows reported: at least two reports, rising, up to all 3000 rows.
  const auto expectRows = [](const vellumar::testing::RecordingObserver& observer) {
    EXPECT_EQ(observer.starts, (std::vector<std::pair<std::string, std::int64_t>>{{"", 3000}}));
    ASSERT_GE(observer.steps.size(), 2u);
    EXPECT_TRUE(std::is_sorted(observer.steps.begin(), observer.steps.end()));
    EXPECT_EQ(observer.steps.back(), 3000);
  };
  vellumar::testing::RecordingObserver written;
  ErrorSink writing(&written);
  ASSERT_TRUE(writeRaster(grid, path("p.tif"), {}, &writing));
  expectRows(written);
  expectNodesOf(grid, testing::gdalValues(path("p.tif")));
  vellumar::testing::RecordingObserver read;
  ErrorSink reading(&read);
  grid::Grid loaded;
  ASSERT_TRUE(readRaster(path("p.tif"), 1, loaded, &reading));
  expectRows(read);
  EXPECT_EQ(exactNodes(loaded), exactNodes(grid));
  vellumar::testing::RecordingObserver stopping(1);
  ErrorSink stopped(&stopping);
  grid::Grid untouched;
  EXPECT_EQ(readRaster(path("p.tif"), 1, untouched, &stopped).status, RasterStatus::Cancelled);
  EXPECT_FALSE(untouched.hasNodes());
}

// ---- coordinate systems ----

TEST(CoordinateSystemTest, SystemsAreNamedAndComparedByGdal) {
  const std::string utm = testing::epsgWkt(32632);
  // The ESRI spelling of a .prj names no authority, yet it is the same system, found by GDAL.
  const std::string esri = esriWkt(utm);
  EXPECT_EQ(esri.find("EPSG"), std::string::npos);
  EXPECT_EQ(shortName(esri), "EPSG:32632");
  EXPECT_TRUE(sameCoordinateSystem(utm, esri));
  EXPECT_FALSE(sameCoordinateSystem(utm, testing::epsgWkt(4326)));
  // A grid without a system goes with any; a text that is no system names none and matches none.
  EXPECT_TRUE(sameCoordinateSystem("", utm) && sameCoordinateSystem(utm, ""));
  EXPECT_EQ(shortName("not a system"), "");
  EXPECT_FALSE(sameCoordinateSystem("garbage", utm));
}

}  // namespace
}  // namespace vellumar::formats
