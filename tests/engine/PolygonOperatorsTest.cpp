#include <gtest/gtest.h>

#include <cmath>
#include <map>
#include <memory>
#include <set>

#include "../geometry/TestShapes.h"
#include "EvaluationHelpers.h"
#include "engine/LinePacking.h"

namespace vellumar::engine {
namespace {

using testing::evaluate;

using geometry::test::coverOf;

geometry::Line square(double x0, double y0, double x1, double y1, double value = 0) {
  return geometry::test::tagged(geometry::test::squareRing(x0, y0, x1, y1), 0, value);
}

// A jagged star: the overlay of two of them runs long enough to be cancelled.
geometry::Line star(int n, double cx, double cy) {
  std::vector<geometry::Point> points;
  for (int i = 0; i < n; ++i) {
    const double angle = 2 * M_PI * i / n;
    const double r = 1000 * (1 + 0.06 * std::sin(i * 12.9898) * std::cos(i * 4.1414));
    points.push_back({cx + r * std::cos(angle), cy + r * std::sin(angle), 0});
  }
  points.push_back(points.front());
  return geometry::Line(std::move(points));
}

class PolygonOperators : public testing::CalculatorTest {
 protected:
  void SetUp() override {
    // P1: two squares; P2 overlaps the first in a corner; P3, large, lies 0.5 beside P2's right
    // side.
    put("P1", coverOf({square(0, 0, 2, 2, 2.5), square(5, 5, 6, 6, -1)}));
    put("P2", coverOf({square(1, 1, 3, 3, 7)}));
    put("P3", coverOf({square(3.5, -10, 13.5, 13, 9)}));
    put("Pcross", coverOf({square(0, 0, 2, 1), square(1, 0.5, 3, 3)}));
    put("Ptouch", coverOf({square(0, 0, 1, 1), square(1, 1, 2, 2)}));
    // Corners beyond the coordinate range, where the overlay's products overflow (from about
    // 1e103 GEOS loses rings without a word).
    const double h = 1e110;
    put("Phuge", coverOf({geometry::Line({{-h, -h}, {h, -h}, {0, h}, {-h, -h}})}));
    put("Phuge2", coverOf({geometry::Line({{-h, h}, {0, -h}, {h, h}, {-h, h}})}));
  }

  using CalculatorTest::put;
  void put(const std::string& name, const geometry::Cover& cover) {
    put(name, packCover(cover, Kind::Polygon));
  }

  // The rings of a polygon result, which must pass the polygon check unchanged.
  geometry::Cover rings(const std::string& display) {
    const Operand& value = result(display);
    EXPECT_EQ(value.kind(), Kind::Polygon) << display;
    geometry::Cover cover;
    if (!value.parts().empty()) {
      EXPECT_TRUE(unpackOperand(value, cover)) << display;
    }
    return cover;
  }

  static double area(const geometry::Cover& cover) { return geometry::test::enclosedArea(cover); }
};

TEST_F(PolygonOperators, UnionIntersectionDifferenceAndPowers) {
  const geometry::Cover united = rings("P1 + P2");
  ASSERT_EQ(united.size(), 2u);
  EXPECT_EQ(area(united), 4 + 4 - 1 + 1);
  EXPECT_EQ(united[0].signedArea(), -7);  // largest first, clockwise
  EXPECT_EQ(united[1].value, -1);         // values travel with their rings
  EXPECT_TRUE(united[0].value == 2.5 || united[0].value == 7);

  EXPECT_EQ(rings("P1 * P2").size(), 1u);
  EXPECT_EQ(area(rings("P1 * P2")), 1);
  EXPECT_EQ(area(rings("P2 * P1")), 1);

  const geometry::Cover rest = rings("P1 - P2");
  ASSERT_EQ(rest.size(), 2u);
  EXPECT_EQ(area(rest), 3 + 1);
  EXPECT_EQ(area(rings("P2 - P1")), 3);
  EXPECT_EQ(area(rings("P1 - P1")), 0);
  EXPECT_TRUE(result("P1 - P1").parts().empty());

  // A polygon to a whole power is its intersection with itself.
  for (const char* display : {"P1 ^ 2", "P1 ^ 3", "P1 ^ 100"}) {
    EXPECT_EQ(area(rings(display)), 5) << display;
  }
  EXPECT_EQ(result("P1 ^ 1").parts(), result("P1").parts());
  // Results are polygons again and combine further.
  EXPECT_EQ(area(rings("(P1 + P2) - P2")), 4);
  EXPECT_EQ(area(rings("X = P1 * P2; X + P3")), 1 + 230);
  // Rings that touch at a corner are a valid polygon.
  EXPECT_EQ(area(rings("Ptouch + P2")), 1 + 1 + 4 - 1);
}

TEST_F(PolygonOperators, RingsThatShareAnIdKeepItApartFromOtherFeatures) {
  // Pids: two squares of one feature (id 1) and one of another (id 2), as a shapefile's first two
  // records load; Pframe covers them all.
  geometry::Cover features =
      coverOf({square(10, 10, 11, 11, 3), square(12, 10, 13, 11, 3), square(14, 10, 15, 11, 4)});
  const std::vector<std::int32_t> ids{1, 1, 2};
  for (std::size_t i = 0; i < ids.size(); ++i) features.line(i).id = ids[i];
  calc_.registry().findOrCreate("Pids").value = packCover(features, Kind::Polygon, true);
  put("Pframe", coverOf({square(-20, -20, 40, 40, 1)}));
  EXPECT_EQ(result("Pids").ids(), ids);
  EXPECT_TRUE(result("P1").ids().empty());  // packed without ids

  // The id of each result ring by its value.
  auto idsByValue = [&](const std::string& display) {
    std::map<double, std::set<std::int32_t>> found;
    const geometry::Cover cover = rings(display);
    for (const geometry::Line& ring : cover.lines()) found[ring.value].insert(ring.id);
    return found;
  };
  for (const char* display : {"Pids * Pframe", "Pframe * Pids", "Pids ^ 2", "Pids + Pids"}) {
    const auto found = idsByValue(display);
    ASSERT_EQ(found.size(), 2u) << display;
    ASSERT_EQ(found.at(3).size(), 1u) << display;  // both squares of id 1 keep one id
    ASSERT_EQ(found.at(4).size(), 1u) << display;
    EXPECT_NE(*found.at(3).begin(), *found.at(4).begin()) << display;
  }
  // Features of the two operands never share an id: P1's rings, numbered 1 and 2 when unpacked,
  // stay apart from each other and from the features of Pids.
  const auto united = idsByValue("Pids + P1");
  std::set<std::int32_t> all;
  for (const auto& [value, found] : united) {
    ASSERT_EQ(found.size(), 1u) << value;
    all.insert(*found.begin());
  }
  EXPECT_EQ(united.size(), 4u);
  EXPECT_EQ(all.size(), 4u);
  // A ring cut in two keeps its feature's id in both pieces.
  put("Pcut", coverOf({square(12.4, 0, 12.6, 20)}));
  const geometry::Cover pieces = rings("Pids - Pcut");
  ASSERT_EQ(pieces.size(), 4u);
  const auto cut = idsByValue("Pids - Pcut");
  EXPECT_EQ(cut.at(3).size(), 1u);
  // Operations that keep the rings keep their ids.
  EXPECT_EQ(result("-Pids").ids(), ids);
  EXPECT_EQ(result("X = Pids; X").ids(), ids);
}

TEST_F(PolygonOperators, TheLengthUnitDecidesWhatCountsAsOneBoundary) {
  calc_.setLengthTolerance(0.001);  // km
  EXPECT_EQ(rings("P2 + P3").size(), 2u);
  calc_.setLengthTolerance(1.0);  // m: the 0.5 gap closes, P3 takes in P2's corners
  const geometry::Cover joined = rings("P2 + P3");
  ASSERT_EQ(joined.size(), 1u);
  EXPECT_GT(area(joined), 4 + 230);
  EXPECT_LT(area(joined), 4 + 230 + 0.5 * 23);
}

TEST_F(PolygonOperators, MessagesAndPositions) {
  // An empty result is no polygon to combine further.
  const std::pair<const char*, const char*> cases[] = {
      {"P1 + Pcross", "Сложение: недопустимое значение аргумента 2"},
      {"Pcross * P1", "Умножение: недопустимое значение аргумента 1"},
      {"P1 - Pcross", "Вычитание: недопустимое значение аргумента 2"},
      {"Pcross ^ 2", "Умножение: недопустимое значение аргумента 1"},
      {"(P1 - P1) + P2", "Сложение: недопустимое значение аргумента 1"},
      {"Phuge * Phuge2", "Умножение: недопустимое значение аргумента 1"},
      {"P1 - Phuge2", "Вычитание: недопустимое значение аргумента 2"},
      {"In_P(P1, Phuge)", "In_P: недопустимое значение аргумента 2"}};
  for (const auto& [display, message] : cases) EXPECT_EQ(failure(display), message) << display;
  calc_.setLanguage(Language::English);
  EXPECT_EQ(failure("Phuge + Phuge2"), "Summing: invalid value of argument 1");
  EXPECT_EQ(failure("P2 + Pcross"), "Summing: invalid value of argument 2");
}

// Cancels at its first step.
class CancelAtOnce : public ProgressObserver {
 public:
  void start(std::string_view caption, std::int64_t total) override {
    caption_ = caption;
    total_ = total;
  }
  bool step(std::int64_t) override { return false; }
  void close() override { closed_ = true; }
  std::string caption_;
  std::int64_t total_ = -1;
  bool closed_ = false;
};

// Counts the progress stages that open with a caption.
class CaptionCount : public ProgressObserver {
 public:
  explicit CaptionCount(std::string caption) : caption_(std::move(caption)) {}
  void start(std::string_view caption, std::int64_t) override { count += caption == caption_; }
  bool step(std::int64_t) override { return true; }
  void close() override {}
  int count = 0;

 private:
  std::string caption_;
};

TEST_F(PolygonOperators, EachOperandIsCheckedOnceForEveryOperatorThatUsesIt) {
  put("S1", coverOf({star(400, 0, 0)}));
  put("S2", coverOf({star(400, 150, 80)}));
  CaptionCount checks("Объединение объектов слоя...");
  ASSERT_TRUE(evaluate(calc_, "x = S1 * S2; y = S1 + S2; z = S1 - S2; 0", &checks).ok);
  EXPECT_EQ(checks.count, 2);
  // Copies of a value share its check; a result is checked once, when first used.
  ASSERT_TRUE(evaluate(calc_, "w = S1; Area(x) + Area(x) + Area(w) + Area(S2 * w)", &checks).ok);
  EXPECT_EQ(checks.count, 4);  // x, and the temporary S2 * w
}

TEST_F(PolygonOperators, ACancelledOverlayGivesNoResult) {
  put("S1", coverOf({star(3000, 0, 0)}));
  put("S2", coverOf({star(3000, 150, 80)}));
  CancelAtOnce observer;
  EXPECT_EQ(evaluate(calc_, "X = S1 * S2", &observer).text, "Вычисление прервано");
  EXPECT_EQ(observer.caption_, "Наложение полигонов...");
  EXPECT_EQ(observer.total_, 0);
  EXPECT_TRUE(observer.closed_);
  EXPECT_TRUE(calc_.registry().find("X")->value.isNumber());  // nothing was stored
}

}  // namespace
}  // namespace vellumar::engine
