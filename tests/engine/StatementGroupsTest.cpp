// Independent statements of one text evaluated at the same time: whatever the number of threads,
// the registry, the result, the message, the warning and the statements the observer hears of are
// those of the statements evaluated one after the other.
#include <gtest/gtest.h>

#include <atomic>
#include <bit>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <new>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "EvaluationHelpers.h"
#include "common/MemoryGuard.h"
#include "common/Parallel.h"
#include "engine/StatementPlan.h"

namespace vellumar::engine {
namespace {

using testing::evaluate;

template <class Values>
void appendBits(std::string& line, const Values& values) {
  for (const double value : values)
    line += ' ' + std::to_string(std::bit_cast<std::uint64_t>(value));
}

// An operand as its kind, source and the bits of its contents.
std::string contentsOf(const Operand& value) {
  std::string line = std::to_string(static_cast<int>(value.kind())) + " " + value.sourcePath();
  if (value.isNumber()) {
    appendBits(line, std::vector<double>{value.numberValue()});
  } else if (value.kind() == Kind::Grid) {
    appendBits(line, value.gridValue()->nodes());
  } else {
    appendBits(line, value.points().values());
    appendBits(line, value.points().x());
    appendBits(line, value.points().y());
    // Data has no parts.
    for (const std::int32_t part : value.parts()) line += " |" + std::to_string(part);
  }
  return line;
}

// What an evaluation left: its outcome, every entry of the registry in order, the result, the
// warning and the statements the observer heard of.
struct Evaluation {
  testing::Outcome outcome;
  std::vector<std::string> registry;
  std::string result;
  std::string warning;
  std::vector<std::pair<int, int>> statements;
  S_Calculator::StatementGroups groups;
};

// What an evaluation left that must not depend on how it ran: all but the statements and groups.
auto seen(const Evaluation& e) {
  return std::tie(e.outcome.ok, e.outcome.text, e.registry, e.result, e.warning);
}

class StatementGroups : public testing::CalculatorTest {
 protected:
  void SetUp() override {
    putRings("P1", {testing::jaggedStar(800, 0, 0)});
    putRings("P2", {testing::jaggedStar(800, 150, 80)});
    putRings("Pdeg", {geometry::test::squareRing(10, 50, 11, 51)});
    calc_.registry().find("Pdeg")->value.setCoordinateSystem(
        "GEOGCS[\"GCS_WGS_1984\",DATUM[\"D_WGS_1984\",SPHEROID[\"WGS_1984\",6378137.0,"
        "298.257223563]],PRIMEM[\"Greenwich\",0.0],UNIT[\"Degree\",0.0174532925199433]]");
    ASSERT_TRUE(evaluate(calc_, "G1 = XG(0, 40, 0, 30, 0.1, 0.1) * YG(0, 40, 0, 30, 0.1, 0.1)").ok);
  }
  void TearDown() override {
    parallel::setThreadLimit(0);
    setStatementWatch(nullptr);
  }

  // Evaluates text on a copy of the prepared calculator with that many threads, watched by an
  // observer or not.
  Evaluation evaluation(const std::string& text, unsigned threads, bool watched = true) {
    parallel::setThreadLimit(threads);
    S_Calculator calc(calc_);
    testing::Recorder observer;
    const testing::Outcome outcome = evaluate(calc, text, watched ? &observer : nullptr);
    std::vector<std::string> registry;
    for (const auto& entry : calc.registry().entries())
      registry.push_back(entry->name + " " + contentsOf(entry->value));
    return Evaluation(outcome, registry, contentsOf(calc.result()), calc.resultWarning(),
                      observer.statements, calc.statementGroups());
  }
};

TEST_F(StatementGroups, TheOutcomeIsThatOfTheStatementsOneAfterTheOther) {
  const struct {
    const char* text;
    int groups;      // formed with two threads
    int statements;  // in them
  } cases[] = {
      {"x = P1 * P2; y = P1 + P2; z = P1 - P2", 1, 3},
      {"P1 * P2; P1 + P2", 1, 2},  // the result is the last statement's
      // Dependent statements, also through a nested assignment, wait for the one before.
      {"a = P1 * P2; b = a + P1", 0, 0},
      {"x = (y = P1 * P2) + P1; z = y", 0, 0},
      {"x = (y = P1 * P2) + P1; z = P2 - P1; w = y + z", 1, 2},
      // An assignment to outC, which every kernel reads, stands alone; so do numbers.
      {"g = Dense(G1, 2); h = Spec(G1, 3); outC = -1; k = G1 * 2; m = Sqrt(G1)", 2, 4},
      {"a = 1; b = 2; c = a + b", 0, 0},
      // A length or area in degrees says so, as far as the evaluation went.
      {"s = Area(Pdeg); x = P1 * P2", 1, 2},
      // A failing statement keeps what the statements before it assigned, and what it assigned
      // itself before it failed; nothing after it lands.
      {"a = P1 * P2; b = (q = P1 + P2) + Spec(P1, 3); c = P1 - P2; d = Area(Pdeg)", 1, 4},
      {"a = G1 * 2; b = Dx(G1 / 0); c = G1 + 1", 1, 3},
      {"a = P1 * P2; b = P1 + P2; c = P1 # P2", 1, 2},
      {"a = P1 * P2; b = P1 + Q9; c = P1 - P2", 1, 3},
      // An expression that ends before its ';' leaves the rest to be read as the statements one
      // after the other read it: here P1 - P2 is a statement of its own, and the result.
      {"c = P1 + P2; a = P1 * P2 ) P1 - P2", 1, 2},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    const Evaluation serial = evaluation(c.text, 1);
    EXPECT_EQ(serial.groups.groups, 0);
    for (const unsigned threads : {2u, 3u}) {
      const Evaluation together = evaluation(c.text, threads);
      EXPECT_EQ(seen(together), seen(serial)) << threads << " threads";
      EXPECT_EQ(together.statements, serial.statements);
      EXPECT_EQ(
          std::tuple(together.groups.groups, together.groups.statements, together.groups.repeated),
          std::tuple(c.groups, c.statements, 0));
    }
    EXPECT_EQ(seen(evaluation(c.text, 2, false)), seen(serial)) << "unwatched";
  }
  // What the failing cases left, beside their sameness.
  S_Calculator calc(calc_);
  EXPECT_EQ(
      evaluate(calc, "a = P1 * P2; b = (q = P1 + P2) + Spec(P1, 3); c = P1 - P2; d = Area(Pdeg)")
          .text,
      "Spec: недопустимый тип аргумента 1");
  EXPECT_TRUE(calc.resultWarning().empty());
  EXPECT_EQ(calc.registry().find("q")->value.kind(), Kind::Polygon);
  EXPECT_TRUE(calc.registry().find("b")->value.isNumber());
  EXPECT_EQ(calc.registry().find("c"), nullptr);
  EXPECT_FALSE(evaluation("s = Area(Pdeg); x = P1 * P2", 2).warning.empty());
}

// Meets the statements of a group as they start, and lets them go on once all have come (or
// after a long wait, when they do not run at the same time).
class Meeting : public StatementWatch {
 public:
  explicit Meeting(std::size_t expected) : expected_(expected) {}
  void started(std::size_t) override {
    std::unique_lock<std::mutex> hold(mutex_);
    if (++arrived_ == expected_) met_ = true;
    changed_.notify_all();
    changed_.wait_for(hold, std::chrono::seconds(20), [this] { return met_; });
  }
  bool met() const { return met_; }

 private:
  std::size_t expected_;
  std::size_t arrived_ = 0;
  bool met_ = false;
  std::mutex mutex_;
  std::condition_variable changed_;
};

// Runs out of memory in one statement of a group, the first time it is evaluated there.
class MemoryRunsOut : public StatementWatch {
 public:
  MemoryRunsOut(std::size_t index, bool thrown) : index_(index), thrown_(thrown) {}
  void started(std::size_t index) override {
    if (index != index_ || done_.exchange(true)) return;
    if (thrown_) throw std::bad_alloc();
    // A refusal that a library turned into a result of its own (GEOS retries another way).
    memory::detail::noteRefused();
  }

 private:
  std::size_t index_;
  bool thrown_;
  std::atomic<bool> done_{false};
};

TEST_F(StatementGroups, AGroupWhoseMemoryRanOutIsEvaluatedAgainOneStatementAfterTheOther) {
  // The last statement fails for a reason of its own after the group's second evaluation: its
  // message stays its own.
  for (const char* text :
       {"x = P1 * P2; y = P1 + P2; z = P1 - P2", "x = P1 * P2; y = P1 + P2; z = x + Spec(P1, 3)"}) {
    for (const bool thrown : {true, false}) {
      SCOPED_TRACE(std::string(text) + (thrown ? " thrown" : " refused"));
      const Evaluation serial = evaluation(text, 1);
      MemoryRunsOut runsOut(1, thrown);
      setStatementWatch(&runsOut);
      const Evaluation together = evaluation(text, 2);
      setStatementWatch(nullptr);
      EXPECT_EQ(seen(together), seen(serial));
      EXPECT_EQ(together.statements, serial.statements);
      EXPECT_EQ(together.groups.repeated, 1);
    }
  }
}

// Cancels at the first report it hears. Every statement of a cancelled group stops, unless it had
// finished before the cancel: the statements meet before they start, so that each is under way
// when the cancel comes, and those that end after the cancel without being cancelled are counted.
class CancelAtOnce final : public Meeting, public ProgressObserver {
 public:
  CancelAtOnce() : Meeting(2) {}
  void start(std::string_view, std::int64_t) override {}
  bool step(std::int64_t) override {
    ++steps;
    cancelled.store(true);
    return false;
  }
  void close() override {}
  void finished(std::size_t, int code) override {
    if (code != sink_code::kCancelled && cancelled.load()) ++ranOn;
    ++ended;
  }
  int steps = 0;
  std::atomic<bool> cancelled{false};
  std::atomic<int> ranOn{0};
  std::atomic<int> ended{0};
};

TEST_F(StatementGroups, ACancelStopsEveryStatementOfTheGroupAndRollsTheTextBack) {
  parallel::setThreadLimit(2);
  const std::vector<std::string> before = evaluation("0", 2).registry;
  CancelAtOnce observer;
  setStatementWatch(&observer);
  const S_Calculator::Checkpoint checkpoint = calc_.checkpoint();
  const testing::Outcome outcome =
      evaluate(calc_, "b = Dense(G1, 4); c = Dense(G1, 4) + 1", &observer);
  setStatementWatch(nullptr);
  EXPECT_FALSE(outcome.ok);
  EXPECT_EQ(outcome.text, "Вычисление прервано");
  EXPECT_EQ(observer.steps, 1);  // nothing was asked after the cancel
  EXPECT_EQ(calc_.statementGroups().groups, 1);
  EXPECT_TRUE(observer.met());  // the statements of the group ran at the same time
  EXPECT_EQ(std::pair(observer.ended.load(), observer.ranOn.load()), std::pair(2, 0));
  calc_.rollBack(checkpoint);
  EXPECT_EQ(evaluation("0", 2).registry, before);
}

}  // namespace
}  // namespace vellumar::engine
