#include <gtest/gtest.h>
#include <sys/stat.h>

#include <bit>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include "../common/TestSupport.h"
#include "RasterFixtures.h"
#include "common/SafeSave.h"
#include "formats/CoordinateSystem.h"
#include "formats/RasterFile.h"
#include "grid/Blank.h"

namespace vellumar::formats {
namespace {

class RasterWriteTest : public vellumar::testing::FolderTest {
 protected:
  void TearDown() override {
    stopCommitsAfterRename(-1);
    FolderTest::TearDown();
  }

  // A 7 x 5 grid of random doubles of every magnitude, blank at two nodes, on a UTM lattice.
  static grid::Grid randomGrid() {
    grid::Grid shape;
    shape.rectangleFlag = 1;
    shape.left = 500005.0;
    shape.right = 500065.0;
    shape.bottom = 4000010.0;
    shape.top = 4000090.0;
    grid::Grid grid(7, 5, shape);
    std::mt19937_64 random(7);
    for (double& v : grid.mutableNodes()) {
      do {
        v = std::bit_cast<double>(random());
      } while (!std::isfinite(v) || grid::isBlank(v));
    }
    grid.setNode(2, 1, grid::kBlankValue);
    grid.setNode(6, 4, grid::kBlankValue);
    grid.georeference.wkt = testing::epsgWkt(32632);
    grid.georeference.shortName = "EPSG:32632";
    return grid;
  }

  std::vector<std::string> leftovers() const {
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(dir_)) {
      const std::string name = entry.path().filename().string();
      if (name.find("vellumar-") != std::string::npos) names.push_back(name);
    }
    return names;
  }

  static void expectSameNodes(const grid::Grid& read, const grid::Grid& written) {
    ASSERT_EQ(std::pair(read.nx(), read.ny()), std::pair(written.nx(), written.ny()));
    for (std::size_t k = 0; k < written.nodeCount(); ++k) {
      ASSERT_EQ(std::bit_cast<std::uint64_t>(read.nodes()[k]),
                std::bit_cast<std::uint64_t>(written.nodes()[k]))
          << k;
    }
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
    expectSameNodes(read, grid);
    EXPECT_DOUBLE_EQ(read.left, grid.left);
    EXPECT_DOUBLE_EQ(read.right, grid.right);
    EXPECT_DOUBLE_EQ(read.bottom, grid.bottom);
    EXPECT_DOUBLE_EQ(read.top, grid.top);
    EXPECT_TRUE(sameCoordinateSystem(read.georeference.wkt, grid.georeference.wkt));
    EXPECT_FALSE(read.georeference.wkt.empty());
    EXPECT_EQ(read.georeference.shortName, "EPSG:32632");
  }
  EXPECT_TRUE(std::filesystem::exists(path("a.prj")));
  EXPECT_TRUE(leftovers().empty());
  // GeoTIFF -> grid -> GeoTIFF keeps the geotransform exactly, and the file's own no-data value.
  grid::Grid read;
  ASSERT_TRUE(readRaster(path("a.tif"), 1, read));
  read.georeference.noData = -9999.0;
  ASSERT_TRUE(writeRaster(read, path("b.tif")));
  double first[6];
  double second[6];
  const std::vector<double> written = testing::gdalValues(path("a.tif"), first);
  const std::vector<double> rewritten = testing::gdalValues(path("b.tif"), second);
  for (int k = 0; k < 6; ++k) EXPECT_EQ(first[k], second[k]) << k;
  EXPECT_EQ(written[3 * 7 + 2], grid::kBlankValue);
  EXPECT_EQ(rewritten[3 * 7 + 2], -9999.0);
  grid::Grid again;
  ASSERT_TRUE(readRaster(path("b.tif"), 1, again));
  expectSameNodes(again, grid);
}

TEST_F(RasterWriteTest, TypesAndCreationOptionsAreGdals) {
  grid::Grid grid = randomGrid();
  std::size_t k = 0;
  for (double& v : grid.mutableNodes()) v = grid::isBlank(v) ? v : 0.1 * static_cast<double>(k++);
  RasterWriteOptions options;
  options.dataType = "Float32";
  options.creationOptions = {"COMPRESS=DEFLATE", "PREDICTOR=3"};
  ASSERT_TRUE(writeRaster(grid, path("f.tif"), options));
  GDALDatasetH dataset = GDALOpen(path("f.tif").c_str(), GA_ReadOnly);
  ASSERT_NE(dataset, nullptr);
  GDALRasterBandH band = GDALGetRasterBand(dataset, 1);
  EXPECT_EQ(GDALGetRasterDataType(band), GDT_Float32);
  EXPECT_STREQ(GDALGetMetadataItem(dataset, "COMPRESSION", "IMAGE_STRUCTURE"), "DEFLATE");
  int blockX = 0;
  int blockY = 0;
  GDALGetBlockSize(band, &blockX, &blockY);
  EXPECT_EQ(blockX, 256);  // tiled unless asked otherwise
  GDALClose(dataset);
  grid::Grid read;
  ASSERT_TRUE(readRaster(path("f.tif"), 1, read));
  ASSERT_EQ(read.nodeCount(), grid.nodeCount());
  for (std::size_t n = 0; n < grid.nodeCount(); ++n) {
    const double v = grid.nodes()[n];
    EXPECT_EQ(read.nodes()[n],
              grid::isBlank(v) ? grid::kBlankValue : static_cast<double>(static_cast<float>(v)))
        << n;
  }
  // An integer type cannot hold the DSAA blank value: blanks take the type's lowest value.
  options = {};
  options.dataType = "Int16";
  ASSERT_TRUE(writeRaster(grid, path("i.tif"), options));
  EXPECT_EQ(testing::gdalValues(path("i.tif"))[3 * 7 + 2], -32768.0);
  ASSERT_TRUE(readRaster(path("i.tif"), 1, read));
  EXPECT_EQ(read.node(2, 1), grid::kBlankValue);
  EXPECT_EQ(read.node(1, 0), 0.0);
  EXPECT_TRUE(knownDataType("UInt16"));
  EXPECT_FALSE(knownDataType("Float65"));
  EXPECT_FALSE(writesRaster(path("a.grd")));
  EXPECT_FALSE(writesRaster(path("a.vrt")));
}

// Grids of many blocks are written node by node whatever the file's blocks: tiles and strips that
// stop short at the right and bottom edges, in the grid's type and in an integer one, and Imagine
// files of their own block size.
TEST_F(RasterWriteTest, EveryBlockLayoutIsWrittenInPlace) {
  grid::Grid shape;
  shape.rectangleFlag = 1;
  shape.left = 0.0;
  shape.right = 299.0;
  shape.bottom = 0.0;
  shape.top = 169.0;
  grid::Grid grid(300, 170, shape);
  std::size_t k = 0;
  for (double& v : grid.mutableNodes()) v = static_cast<double>(k++ % 20011) - 10000.0;
  grid.setNode(299, 0, grid::kBlankValue);  // the last node of the last, partial block
  grid.setNode(0, 169, grid::kBlankValue);  // the first node of the file
  struct Case {
    const char* name;
    const char* type;
    std::vector<std::string> options;
    double noData;
  };
  const std::vector<Case> cases = {
      {"tiles.tif", "", {"BLOCKXSIZE=128", "BLOCKYSIZE=64"}, grid::kBlankValue},
      {"strips.tif", "", {"TILED=NO", "BLOCKYSIZE=7"}, grid::kBlankValue},
      {"int16.tif", "Int16", {"BLOCKXSIZE=64", "BLOCKYSIZE=32"}, -32768.0},
      {"blocks.img", "", {}, grid::kBlankValue},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    RasterWriteOptions options;
    options.dataType = c.type;
    options.creationOptions = c.options;
    ASSERT_TRUE(writeRaster(grid, path(c.name), options));
    const std::vector<double> topFirst = testing::gdalValues(path(c.name));
    ASSERT_EQ(topFirst.size(), grid.nodeCount());
    for (int j = 0; j < grid.ny(); ++j) {
      for (int i = 0; i < grid.nx(); ++i) {
        const double v = grid.node(i, j);
        ASSERT_EQ(topFirst[static_cast<std::size_t>(grid.ny() - 1 - j) * grid.nx() + i],
                  grid::isBlank(v) ? c.noData : v)
            << i << "," << j;
      }
    }
  }
}

// A save replaces the old file only once the new one is whole: a refused target, a cancel, a
// GDAL failure and a stop before the rename all leave the old file and nothing else.
TEST_F(RasterWriteTest, FailedSavesKeepTheOldFile) {
  const grid::Grid grid = randomGrid();
  std::ofstream(path("old.tif")) << "old";
  const auto oldKept = [&] {
    std::ifstream in(path("old.tif"));
    std::string text;
    in >> text;
    EXPECT_EQ(text, "old");
    EXPECT_TRUE(leftovers().empty());
  };
  const RasterWrite cancelled =
      writeRaster(grid, path("old.tif"), {}, [](std::int64_t, std::int64_t) { return false; });
  EXPECT_EQ(cancelled.status, RasterWriteStatus::Cancelled);
  oldKept();

  RasterWriteOptions bad;
  bad.creationOptions = {"BLOCKXSIZE=7"};  // tiles must be multiples of 16
  const RasterWrite refusedByGdal = writeRaster(grid, path("old.tif"), bad);
  EXPECT_EQ(refusedByGdal.status, RasterWriteStatus::Failed);
  EXPECT_FALSE(refusedByGdal.libraryError.empty());
  oldKept();

  stopCommitsAfterRename(0);
  const RasterWrite stopped = writeRaster(grid, path("old.tif"));
  EXPECT_FALSE(stopped);
  EXPECT_EQ(stopped.saveError, SaveError::Stopped);
  stopCommitsAfterRename(-1);
  oldKept();

  std::filesystem::create_directory(path("folder.tif"));
  const RasterWrite folder = writeRaster(grid, path("folder.tif"));
  EXPECT_EQ(folder.status, RasterWriteStatus::Refused);
  EXPECT_EQ(folder.saveError, SaveError::NotRegularFile);

  EXPECT_FALSE(writeRaster(grid::Grid(), path("empty.tif")));
  EXPECT_FALSE(std::filesystem::exists(path("empty.tif")));
  EXPECT_TRUE(leftovers().empty());
}

TEST_F(RasterWriteTest, ProgressHearsOfTheRowsWritten) {
  grid::Grid shape;
  shape.right = 999.0;
  shape.top = 2999.0;
  const grid::Grid grid(1000, 3000, shape);  // 24 MB: written in several blocks of rows
  std::vector<std::int64_t> rows;
  ASSERT_TRUE(writeRaster(grid, path("p.tif"), {}, [&](std::int64_t done, std::int64_t total) {
    EXPECT_EQ(total, 3000);
    rows.push_back(done);
    return true;
  }));
  ASSERT_GE(rows.size(), 2u);
  EXPECT_EQ(rows.back(), 3000);
}

}  // namespace
}  // namespace vellumar::formats
