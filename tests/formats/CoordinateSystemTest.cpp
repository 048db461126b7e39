#include <gtest/gtest.h>

#include "RasterFixtures.h"
#include "formats/CoordinateSystem.h"

namespace vellumar::formats {
namespace {

TEST(CoordinateSystemTest, SystemsAreNamedAndComparedByGdal) {
  const std::string utm = testing::epsgWkt(32632);
  const std::string wgs84 = testing::epsgWkt(4326);
  EXPECT_EQ(shortName(utm), "EPSG:32632");
  EXPECT_EQ(shortName(wgs84), "EPSG:4326");
  EXPECT_EQ(shortName(""), "");
  EXPECT_EQ(shortName("not a system"), "");
  // The ESRI spelling of a .prj names no authority, yet it is the same system, found by GDAL.
  const std::string esri = esriWkt(utm);
  ASSERT_FALSE(esri.empty());
  EXPECT_EQ(esri.find("EPSG"), std::string::npos);
  EXPECT_EQ(shortName(esri), "EPSG:32632");
  EXPECT_TRUE(sameCoordinateSystem(utm, esri));
  EXPECT_FALSE(sameCoordinateSystem(utm, wgs84));
  // A grid without a system goes with any.
  EXPECT_TRUE(sameCoordinateSystem("", utm));
  EXPECT_TRUE(sameCoordinateSystem(wgs84, ""));
  EXPECT_FALSE(sameCoordinateSystem("garbage", utm));
}

}  // namespace
}  // namespace vellumar::formats
