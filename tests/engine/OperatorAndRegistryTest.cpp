#include <gtest/gtest.h>

#include <functional>
#include <latch>
#include <thread>
#include <tuple>

#include "EvaluationHelpers.h"
#include "engine/Evaluation.h"
#include "engine/Registry.h"
#include "engine/Workspace.h"
#include "grid/Grid.h"

namespace vellumar::engine {
namespace {

using testing::evaluate;
using testing::numberOf;

TEST(Registry, ListLinesPadNamesToNineteenCharacters) {
  S_Calculator calc;
  evaluate(calc, "x = 5; abc = -1.5; abcdefghijklmnopqrs = 2; длина = 3");
  const auto lines = calc.registry().listLines(Language::Russian);
  // NameEmpty is never listed.
  EXPECT_EQ(lines, (std::vector<std::string>{
                       "Pi:                 3.141593", "e:                 2.718282",
                       "mergeC:             0.000000", "outC:               -9999.000000",
                       "x:                 5.000000", "abc:                -1.500000",
                       "abcdefghijklmnopqrs:2.000000", "длина:              3.000000"}));
  EXPECT_EQ(nameOfListLine(lines.back()), "длина");
}

TEST(Operand, AssignKeepsThePathDropsThePositionAndKeepsOnlyTheNewKind) {
  Operand loaded = Operand::number(1);
  loaded.setSourcePath("/maps/dem.grd");
  loaded.setArgumentPosition(2);
  Operand target;
  target.setSourcePath("/maps/kept.grd");
  target.assign(loaded);
  EXPECT_EQ(std::tuple(target.sourcePath(), target.argumentPosition(), target.numberValue()),
            std::tuple("/maps/kept.grd", 0u, 1.0));
  auto grid =
      std::make_shared<const grid::Grid>(2, 2, grid::Grid{}, grid::NodeVector{1.0, 2.0, 3.0, 4.0});
  std::weak_ptr<const grid::Grid> watched = grid;
  auto column = std::make_shared<const data::DATA>(
      std::vector<double>{1, 2}, std::vector<double>{0, 1}, std::vector<double>{0, 1});
  target = Operand::grid(std::move(grid));
  target.assign(Operand::lines(Kind::Polygon, column,
                               std::make_shared<const std::vector<std::int32_t>>(1, 2)));
  // The old grid's memory is released.
  EXPECT_EQ(std::tuple(target.kind(), target.gridValue(), watched.expired()),
            std::tuple(Kind::Polygon, nullptr, true));
  target.assign(Operand::data(column));
  EXPECT_EQ(std::pair(target.parts().size(), target.points().count()), std::pair(0ul, 2ul));
  target.assign(Operand::number(7));
  EXPECT_EQ(std::tuple(target.points().count(), target.sharedPoints(), target.numberValue()),
            std::tuple(0u, nullptr, 7.0));
  target.assign(Operand::data(column));
  EXPECT_EQ(target.numberValue(), 0);
}

TEST(Registry, ValuesKeptByTheCalculatorHoldOnlyTheirKind) {
  S_Calculator calc;
  ASSERT_EQ(evaluate(calc, "big = EG(0, 10, 0, 10, 1, 1) * 1000").text,
            "Результат - карта - готов !");
  std::weak_ptr<const grid::Grid> result = calc.result().sharedGrid();
  std::weak_ptr<const grid::Grid> named = calc.registry().find("big")->value.sharedGrid();
  ASSERT_FALSE(result.expired());
  // The result of the next evaluation, a number, neither shows nor keeps the grid, still named.
  EXPECT_EQ(numberOf(calc, "1"), 1);
  EXPECT_EQ(std::tuple(calc.result().gridValue(), named.expired()), std::tuple(nullptr, false));
  calc.registry().findOrCreate("points").value = Operand::data(std::make_shared<const data::DATA>(
      std::vector<double>{5}, std::vector<double>{1}, std::vector<double>{2}));
  EXPECT_EQ(evaluate(calc, "big = points").text, "Результат - данные - готов !");
  EXPECT_EQ(
      std::tuple(calc.registry().find("big")->value.gridValue(), result.expired(), named.expired()),
      std::tuple(nullptr, true, true));
}

// An evaluation undoes itself as it ends only when it was cancelled and undoes a cancel: whether
// a kernel noticed the cancel or the user asked after the kernel had stopped asking. A failure
// keeps what the statements before it assigned. The sink attached before hears nothing of it
// and is attached again.
TEST(Registry, RollingBackACheckpointUndoesEveryAssignment) {
  S_Calculator calc;
  EXPECT_EQ(numberOf(calc, "a = 1; a"), 1);
  const std::size_t entries = calc.registry().entries().size();
  const S_Calculator::Checkpoint before = calc.checkpoint();
  EXPECT_EQ(numberOf(calc, "a = 2; b = 3; outC = 5; mergeC = 4; g = EG(0, 1, 0, 1, 1, 1); 9"), 9);
  // The calculator's mirrors of outC and mergeC follow their assignments.
  EXPECT_EQ(std::pair(calc.missingValue(), calc.mergeFill()), std::pair(5.0, 4.0));
  calc.rollBack(before);
  EXPECT_EQ(std::tuple(calc.registry().entries().size(), calc.registry().find("b"),
                       calc.registry().find("g"), calc.registry().find("a")->value.numberValue()),
            std::tuple(entries, nullptr, nullptr, 1.0));
  EXPECT_EQ(std::pair(calc.missingValue(), calc.mergeFill()), std::pair(-9999.0, 0.0));
  EXPECT_EQ(calc.result().numberValue(), 1);
  // Names removed by the roll-back can be created again.
  EXPECT_EQ(numberOf(calc, "b = 4; b + a"), 5);
  EXPECT_EQ(calc.registry().entries().size(), entries + 1);
}

TEST(Registry, AnEvaluationIsUndoneOnlyWhenItWasCancelled) {
  const struct {
    const char* display;
    int cancelAt;    // the observer's step that cancels; 0 never
    bool askCancel;  // the user cancels once the work has ended
    Undo undo;
    bool undone;
  } cases[] = {
      {"a = 2; H = Dense(G1, 2)", 1, false, Undo::OnCancel, true},
      {"a = 2; H = Dense(G1, 2)", 1, false, Undo::Never, false},
      {"a = 2", 0, true, Undo::OnCancel, true},
      {"a = 2; b = c", 0, false, Undo::OnCancel, false},
      {"a = 2; H = Dense(G1, 2)", 0, false, Undo::OnCancel, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.display);
    S_Calculator calc;
    ASSERT_EQ(numberOf(calc, "G1 = XG(0, 40, 0, 30, 0.1, 0.1); a = 1"), 1);
    const std::size_t entries = calc.registry().entries().size();
    ErrorSink outer;
    calc.attachErrorSink(&outer);
    testing::Recorder observer(c.cancelAt);
    {
      Evaluation evaluation(calc, &observer, c.undo);
      EXPECT_EQ(calc.attachedSink(), &evaluation.sink());
      std::string text = c.display;
      evaluation.run(text);
      if (c.askCancel) evaluation.cancel();
    }
    EXPECT_EQ(std::pair(calc.attachedSink(), outer.failed()), std::pair(&outer, false));
    calc.attachErrorSink(nullptr);
    EXPECT_EQ(calc.registry().find("a")->value.numberValue(), c.undone ? 1 : 2);
    EXPECT_EQ(calc.registry().entries().size() == entries, c.undone);
    EXPECT_TRUE(!c.undone || calc.result().numberValue() == 1);
  }
}

// Runs change() while another thread holds the registry as its evaluation's, then lets that
// evaluation end.
template <class Change>
void changeDuringAnEvaluation(S_Calculator& calc, Change change) {
  std::latch started(1);
  std::latch finish(1);
  std::thread evaluation([&] {
    const Registry::Evaluating evaluating(calc.registry());
    started.count_down();
    finish.wait();
  });
  started.wait();
  change();
  finish.count_down();
  evaluation.join();
}

TEST(RegistryDeathTest, ChangesWhileAnotherThreadEvaluatesAbortDebugBuilds) {
#ifdef NDEBUG
  GTEST_SKIP() << "the check is compiled out of release builds";
#endif
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  S_Calculator calc;
  Workspace workspace(calc);
  const std::function<void()> changes[] = {
      [&] { calc.registry().findOrCreate("x"); }, [&] { calc.rollBack(calc.checkpoint()); },
      [&] { workspace.closeList(FileKind::Grid); },
      [&] { workspace.addLoaded(FileKind::Lines, "a.con", Operand{}); }};
  for (const auto& change : changes)
    EXPECT_DEATH(changeDuringAnEvaluation(calc, change), "evaluation runs in another thread");

  // Reading is allowed, and so is changing between evaluations or from the evaluating thread.
  changeDuringAnEvaluation(calc, [&] {
    EXPECT_NE(std::as_const(calc.registry()).find("Pi"), nullptr);
    EXPECT_EQ(calc.checkpoint().registry.values.size(), 5u);
  });
  {
    const Registry::Evaluating evaluating(calc.registry());
    calc.registry().findOrCreate("y");
  }
  workspace.closeList(FileKind::Grid);
  EXPECT_EQ(numberOf(calc, "z = 2; z + y"), 2);
}

}  // namespace
}  // namespace vellumar::engine
