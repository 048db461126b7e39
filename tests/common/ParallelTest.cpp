#include "common/Parallel.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <stdlib.h>

#include <algorithm>
#include <atomic>
#include <functional>
#include <memory>
#include <new>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "TestSupport.h"
#include "common/Memory.h"
#include "common/MemoryGuard.h"

namespace vellumar::parallel {
namespace {

using vellumar::testing::RecordingObserver;

std::atomic<char*> kept{nullptr};

// Runs the test body under each thread cap, restoring the default and lifting the memory limit a
// test sets afterwards.
class ParallelLoops : public ::testing::TestWithParam<unsigned> {
 protected:
  void SetUp() override { setThreadLimit(GetParam()); }
  void TearDown() override {
    setThreadLimit(0);
    unsetenv("VELLUMAR_MEMORY_LIMIT");
  }
  // A pacer of no progress, for loops that report none.
  ProgressPacer quiet{nullptr, 0};
};

TEST_P(ParallelLoops, EveryItemIsVisitedOnceInBlocksThatDoNotDependOnTheThreadsAndLoopsNest) {
  constexpr std::size_t kItems = 1'000'003;
  const Blocking blocking{1000, 0};
  std::vector<int> visits(kItems, 0);
  std::vector<std::pair<std::size_t, std::size_t>> blocks(blockCount(kItems, blocking)), expected;
  ASSERT_TRUE(forEachBlock(
      kItems, quiet,
      [&](std::size_t begin, std::size_t end) {
        blocks[begin / 1000] = {begin, end};
        for (std::size_t k = begin; k < end; ++k) ++visits[k];
      },
      blocking));
  EXPECT_EQ(visits, std::vector<int>(kItems, 1));
  for (std::size_t b = 0; b < 1001; ++b)
    expected.emplace_back(b * 1000, std::min(kItems, b * 1000 + 1000));
  EXPECT_EQ(blocks, expected);

  // Loops inside blocks run and finish, every cell once.
  std::vector<std::atomic<int>> cells(64 * 512);
  ASSERT_TRUE(forEachBlock(
      64, quiet,
      [&](std::size_t row, std::size_t) {
        forEachBlock(
            512,
            [&](std::size_t begin, std::size_t end) {
              for (std::size_t k = begin; k < end; ++k) cells[row * 512 + k].fetch_add(1);
            },
            Blocking{16, 0});
      },
      Blocking{1, 0}));
  EXPECT_TRUE(std::all_of(cells.begin(), cells.end(), [](const auto& cell) { return cell == 1; }));
}

TEST_P(ParallelLoops, ReductionsFoldThePartialsInBlockOrder) {
  // Concatenation is not commutative: any other order shows in the text.
  std::string order;
  ASSERT_TRUE(reduceBlocks(
      100, quiet, order,
      [](std::size_t begin, std::size_t) { return std::to_string(begin / 10) + ","; },
      [](std::string total, const std::string& block) { return total + block; }, Blocking{10, 0}));
  EXPECT_EQ(order, "0,1,2,3,4,5,6,7,8,9,");
  // A floating-point sum over fixed blocks gives the same bits under every cap.
  const auto harmonic = [this] {
    double sum = 0.0;
    reduceBlocks(
        1'000'000, quiet, sum,
        [](std::size_t begin, std::size_t end) {
          double block = 0.0;
          for (std::size_t k = begin; k < end; ++k) block += 1.0 / static_cast<double>(k + 1);
          return block;
        },
        [](double total, double block) { return total + block; }, Blocking{4096, 0});
    return sum;
  };
  const double sum = harmonic();
  setThreadLimit(1);
  EXPECT_EQ(sum, harmonic());
}

// Notes the moment its cancel is given, for the blocks to tell whether they start after it.
class NotingCancel final : public RecordingObserver {
 public:
  using RecordingObserver::RecordingObserver;
  bool step(std::int64_t done) override {
    const bool going = RecordingObserver::step(done);
    if (!going) cancelled.store(true);
    return going;
  }
  std::atomic<bool> cancelled{false};
};

TEST_P(ParallelLoops, ACancelOrTheBodyStopsTheLoopAndNoFurtherBlockStarts) {
  NotingCancel observer(3);
  ErrorSink sink(&observer);
  sink.progressStart("loop", 1000);
  ProgressPacer pacer(&sink, 0, 1);
  std::atomic<int> ran{0};
  std::atomic<int> startedAfterCancel{0};
  EXPECT_FALSE(forEachBlock(
      1000, pacer,
      [&](std::size_t, std::size_t) {
        ran.fetch_add(1);
        if (observer.cancelled.load()) startedAfterCancel.fetch_add(1);
        std::this_thread::sleep_for(std::chrono::microseconds(200));
      },
      Blocking{1, 0}));
  // The blocks already running when the cancel came finish; the rest never start. The calling
  // thread asks after each of its blocks; another thread may be past its check of the stop, into
  // at most one more block. How many blocks ran before depends on the scheduling alone.
  EXPECT_TRUE(GetParam() != 1 || ran.load() == 3) << ran.load();
  EXPECT_LE(startedAfterCancel.load(), static_cast<int>(GetParam()) - 1);
  // Progress rises and counts items done.
  EXPECT_TRUE(std::ranges::adjacent_find(observer.steps, std::greater_equal<>()) ==
              observer.steps.end());
  // A body that says stop ends the loop as well.
  ran = 0;
  EXPECT_FALSE(forEachBlock(
      10'000, quiet,
      [&](std::size_t begin, std::size_t) {
        ran.fetch_add(1);
        return begin < 50;
      },
      Blocking{1, 0}));
  EXPECT_LT(ran.load(), 10'000);

  // A stop at the calling thread's first report holds even when the other threads have run every
  // other block meanwhile, and nothing is asked after it.
  RecordingObserver late(1);
  ErrorSink lateSink(&late);
  lateSink.progressStart("loop", 64);
  ProgressPacer latePacer(&lateSink, 0, 1);
  const std::thread::id caller = std::this_thread::get_id();
  EXPECT_FALSE(forEachBlock(
      64, latePacer,
      [&](std::size_t, std::size_t) {
        if (std::this_thread::get_id() == caller)
          std::this_thread::sleep_for(std::chrono::milliseconds(50));
      },
      Blocking{1, 0}));
  EXPECT_EQ(late.steps.size(), 1u);
}

TEST_P(ParallelLoops, TheMemoryGuardOfTheCallerHoldsOnEveryThread) {
  setenv("VELLUMAR_MEMORY_LIMIT", std::to_string(memory::residentBytes() + (256 << 20)).c_str(), 1);
  {
    memory::Guard guard;
    // Every block asks for far more than the limit; whichever thread runs it is refused.
    EXPECT_THROW(forEachBlock(
                     64, quiet,
                     [](std::size_t, std::size_t) {
                       std::unique_ptr<char[]> block(new char[std::size_t(4) << 30]);
                       kept.store(block.get());  // an allocation the compiler cannot leave out
                     },
                     Blocking{1, 0}),
                 std::bad_alloc);
    EXPECT_TRUE(memory::allocationRefused());
  }
  EXPECT_FALSE(memory::allocationRefused());
}

TEST_P(ParallelLoops, TasksRunOnceEachAndTheLowestFailureComesBackAfterAll) {
  std::vector<std::atomic<int>> ran(9);
  const auto failing = [&] {
    runTasks(ran.size(), [&](std::size_t k) {
      ran[k].fetch_add(1);
      if (k == 3 || k == 8) throw std::runtime_error(std::to_string(k));
    });
  };
  EXPECT_THAT(failing, ::testing::ThrowsMessage<std::runtime_error>("3"));
  for (const auto& count : ran) EXPECT_EQ(count.load(), 1);
  // A task refused an allocation, on whatever thread, is the caller's guard's refusal.
  setenv("VELLUMAR_MEMORY_LIMIT", std::to_string(memory::residentBytes() + (256 << 20)).c_str(), 1);
  {
    memory::Guard guard;
    runTasks(4, [](std::size_t) {
      try {
        std::unique_ptr<char[]> block(new char[std::size_t(4) << 30]);
        kept.store(block.get());
      } catch (const std::bad_alloc&) {
      }
    });
    EXPECT_TRUE(memory::allocationRefused());
  }
}

INSTANTIATE_TEST_SUITE_P(Caps, ParallelLoops, ::testing::Values(1u, 2u, 7u));

TEST(ParallelThreads, CountsAndTheEnvironmentSetting) {
  EXPECT_GE(usableCores(), 1u);
  EXPECT_EQ(parseThreadCount("1"), 1u);
  EXPECT_EQ(parseThreadCount("1024"), 1024u);
  for (const char* bad : {"", "0", "-2", "1025", "4x", " 4", "four"})
    EXPECT_EQ(parseThreadCount(bad), std::nullopt) << bad;
  setenv("VELLUMAR_THREADS", "3", 1);
  EXPECT_EQ(applyThreadSetting(), std::nullopt);
  EXPECT_EQ(threadLimit(), 3u);
  setenv("VELLUMAR_THREADS", "many", 1);
  EXPECT_EQ(applyThreadSetting(), "many");
  EXPECT_EQ(threadLimit(), 3u);  // a bad setting changes nothing
  unsetenv("VELLUMAR_THREADS");
  setThreadLimit(0);
  EXPECT_EQ(threadLimit(), usableCores());
}

}  // namespace
}  // namespace vellumar::parallel
