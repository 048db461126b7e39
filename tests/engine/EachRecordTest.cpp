// A layer evaluated record by record: records of a text that assigns no name are evaluated on
// several threads, with the outcomes, their order and the layer of results of one record at a
// time; a text that assigns names keeps them in turn; a cancel keeps the records before it.
#include <gtest/gtest.h>

#include <algorithm>
#include <numeric>
#include <string>
#include <vector>

#include "../grid/GridTestSupport.h"
#include "EvaluationHelpers.h"
#include "common/Parallel.h"
#include "engine/LayerRecords.h"
#include "engine/LinePacking.h"
#include "geometry/Geometry.h"
#include "grid/Grid.h"

namespace vellumar::engine {
namespace {

constexpr int kRecords = 40;

class EachRecord : public testing::CalculatorTest {
 protected:
  void SetUp() override {
    // Squares side by side, record k of side 1 + k % 7, clockwise as outer rings are.
    geometry::Cover cover;
    for (int k = 0; k < kRecords; ++k) {
      const double x = 10.0 * k, side = 1 + k % 7;
      cover.appendLine(
          geometry::test::tagged(geometry::test::squareRing(x, 0, x + side, side, true), k + 1));
    }
    put("P1", packCover(cover, Kind::Polygon, true));
    put("G1", testing::gridOperand(grid::testing::makeGrid(600, 600, 0, 400, 0, 10,
                                                           [](double x, double) { return x; })));
  }
  void TearDown() override { parallel::setThreadLimit(0); }
  static std::vector<std::string> lines(const EachOutcome& outcome) {
    std::vector<std::string> out;
    for (const RecordOutcome& r : outcome.records) {
      out.push_back(std::to_string(r.number) + " " + (r.value ? std::to_string(*r.value) : "-") +
                    " " + r.text + " " + r.detail);
    }
    return out;
  }
};

TEST_F(EachRecord, RecordsComeOutAsOneAtATimeWhateverTheThreads) {
  // Records of area 4 or less fail; the others are worth a number.
  const std::string text = "Ln(Area(P1) - 4) + MIN(G1) + Len(P1)";
  parallel::setThreadLimit(1);
  const EachOutcome one = evaluateEachRecord(calc_, "P1", text, nullptr);
  ASSERT_EQ(one.records.size(), std::size_t(kRecords));
  ASSERT_EQ(one.layer.kind(), Kind::Polygon);
  const std::vector<std::string> expected = lines(one);
  EXPECT_EQ(expected[0].substr(0, 4), "1 - ");
  EXPECT_NE(expected[6].substr(0, 4), "7 - ");
  std::vector<std::int64_t> numbers(kRecords);  // the records heard of, in order
  std::iota(numbers.begin(), numbers.end(), 1);
  for (const unsigned threads : {2u, 7u}) {
    parallel::setThreadLimit(threads);
    std::vector<std::int64_t> heard;
    const EachOutcome outcome =
        evaluateEachRecord(calc_, "P1", text, nullptr,
                           [&heard](const RecordOutcome& r) { heard.push_back(r.number); });
    EXPECT_EQ(lines(outcome), expected) << threads;
    EXPECT_EQ(heard, numbers) << threads;
    EXPECT_TRUE(std::ranges::equal(outcome.layer.points().values(), one.layer.points().values()))
        << threads;
    // The name holds the whole layer again.
    EXPECT_EQ(calc_.registry().find("P1")->value.parts().size(), std::size_t(kRecords));
  }
}

TEST_F(EachRecord, ATextThatAssignsNamesIsEvaluatedInTurn) {
  for (const unsigned threads : {1u, 7u}) {
    parallel::setThreadLimit(threads);
    put("n", Operand::number(0));
    const EachOutcome outcome = evaluateEachRecord(calc_, "P1", "n = n + 1; n", nullptr);
    ASSERT_EQ(outcome.records.size(), std::size_t(kRecords));
    for (int k = 0; k < kRecords; ++k) EXPECT_EQ(outcome.records[k].value, k + 1.0) << threads;
  }
}

TEST_F(EachRecord, ACancelKeepsTheRecordsBeforeIt) {
  for (const unsigned threads : {1u, 2u, 7u}) {
    parallel::setThreadLimit(threads);
    testing::Recorder cancel(12);
    const EachOutcome outcome =
        evaluateEachRecord(calc_, "P1", "MIN(G1 * 2 + 1) + Area(P1)", &cancel);
    EXPECT_TRUE(outcome.cancelled) << threads;
    EXPECT_LT(outcome.records.size(), std::size_t(kRecords)) << threads;
    for (std::size_t k = 0; k < outcome.records.size(); ++k) {
      EXPECT_EQ(outcome.records[k].number, static_cast<std::int64_t>(k + 1)) << threads;
      EXPECT_TRUE(outcome.records[k].value.has_value());
    }
    EXPECT_NE(outcome.layer.kind(), Kind::Polygon) << threads;
  }
}

}  // namespace
}  // namespace vellumar::engine
