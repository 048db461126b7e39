#include <gtest/gtest.h>

#include <cstdint>

#include "../geometry/TestShapes.h"
#include "EvaluationHelpers.h"
#include "engine/LinePacking.h"
#include "geometry/PolygonCheck.h"

namespace vellumar::engine {
namespace {

using geometry::test::coverOf;
using geometry::test::squareRing;
using geometry::test::tagged;

class NestingOnce : public testing::CalculatorTest {
 protected:
  double area(const std::string& display) {
    geometry::Cover cover;
    EXPECT_TRUE(unpackOperand(result(display), cover)) << display;
    return geometry::test::enclosedArea(cover);
  }
};

// Each polygon operand's nesting is found by its check and kept with the checked region, which
// every later operator on the operand shares.
TEST_F(NestingOnce, ThreeOperatorsFindEachOperandsNestingOnlyInItsCheck) {
  // Pholed: a square of 16 with a hole of 4, which passes the check whole. Pdistricts: two
  // records sharing a border, each checked alone and then their union.
  put("Pholed",
      packCover(coverOf({squareRing(0, 0, 4, 4), squareRing(1, 1, 3, 3)}), Kind::Polygon));
  put("Pdistricts",
      packCover(coverOf({tagged(squareRing(2, 0, 6, 2), 1), tagged(squareRing(2, 2, 6, 4), 2)}),
                Kind::Polygon, true));
  const std::uint64_t before = geometry::detail::ringNestingCalls();
  result("x = Pholed * Pdistricts; y = Pholed + Pdistricts; z = Pholed - Pdistricts");
  EXPECT_EQ(geometry::detail::ringNestingCalls() - before, 1u + (2u + 1u));
  // The operators ran on the kept nesting: the hole stays a hole where Pdistricts leaves it.
  EXPECT_EQ(area("x"), 8 - 2);
  EXPECT_EQ(area("y"), 24 - 2);
  EXPECT_EQ(area("z"), 8 - 2);
}

}  // namespace
}  // namespace vellumar::engine
