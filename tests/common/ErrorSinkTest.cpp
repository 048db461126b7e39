#include "common/ErrorSink.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "TestSupport.h"

namespace vellumar {
namespace {

using testing::RecordingObserver;

TEST(ErrorSink, FirstErrorWinsAndCancelledProgressFailsTheEvaluation) {
  ErrorSink first;
  EXPECT_FALSE(first.failed());
  first.kernelError(sink_code::kGridDomain);
  EXPECT_FALSE(first.record(sink_code::kArgument, "later"));
  EXPECT_EQ(first.code(), sink_code::kGridDomain);
  EXPECT_EQ(first.message(), "");

  RecordingObserver observer(2);
  ErrorSink sink(&observer);
  sink.progressStart("Трассировка", 10);
  EXPECT_EQ(observer.starts,
            (std::vector<std::pair<std::string, std::int64_t>>{{"Трассировка", 10}}));
  EXPECT_TRUE(sink.progressStep(1) && !sink.progressStep(3));
  EXPECT_EQ(sink.code(), sink_code::kCancelled);
  EXPECT_EQ(sink.message(), "Вычисление прервано");
  sink.progressClose();
  EXPECT_EQ(observer.closes, 1);
  // The progress part alone asks nothing while no progress is open, nor closes it.
  RecordingObserver stopping(1);
  ProgressReport report(&stopping);
  report.close();
  EXPECT_TRUE(report.step(1));
  EXPECT_TRUE(stopping.steps.empty() && stopping.closes == 0);
  report.start("x", 1);
  EXPECT_FALSE(report.step(1));
  // Without an observer nothing cancels.
  ErrorSink unwatched;
  unwatched.progressStart("x", 5);
  EXPECT_TRUE(unwatched.progressStep(5) && !unwatched.failed());
}

TEST(ErrorSink, PacerReportsOncePerStretchAndRestartsTheStage) {
  RecordingObserver observer;
  ErrorSink sink(&observer);
  sink.progressStart("Расчет грида...", 0);
  EXPECT_TRUE(sink.progressOpen());
  ProgressPacer pacer(&sink, 1000, 100);
  // The stage keeps the caption and shows its own total.
  const std::vector<std::pair<std::string, std::int64_t>> starts{{"Расчет грида...", 0},
                                                                 {"Расчет грида...", 1000}};
  EXPECT_EQ(observer.starts, starts);
  for (std::int64_t done = 7; done <= 1000; done += 7) EXPECT_TRUE(pacer.advance(done));
  // One report per 100 items: the first count at or past 100, 200, ... after the last report.
  EXPECT_EQ(observer.steps,
            (std::vector<std::int64_t>{105, 210, 315, 420, 525, 630, 735, 840, 945}));
  // A stage too short to report, or one without progress open, leaves the shown total alone;
  // without a sink nothing ever stops.
  ProgressPacer shortStage(&sink, 50, 100);
  sink.progressClose();
  ProgressPacer closed(&sink, 1000, 100);
  EXPECT_EQ(observer.starts, starts);
  ProgressPacer none(nullptr, 1000, 1);
  EXPECT_TRUE(none.advance(1'000'000));
}

TEST(ErrorSink, PacerPartsFillOneStageInTurnAndFilePacersOpenAtTheirFirstReport) {
  RecordingObserver observer(6);
  ErrorSink sink(&observer);
  sink.progressStart("Трассировка", 100);
  // Three items as the stage's first 40, then ten as its last 60; each rise is reported once.
  ProgressPacer first = ProgressPacer::part(&sink, 0, 40, 3);
  for (const std::int64_t done : {1, 1, 2, 3}) EXPECT_TRUE(first.advance(done));
  ProgressPacer second = ProgressPacer::part(&sink, 40, 60, 10);
  for (const std::int64_t done : {0, 4, 4}) EXPECT_TRUE(second.advance(done));
  EXPECT_EQ(observer.steps, (std::vector<std::int64_t>{13, 26, 40, 64}));
  EXPECT_EQ(observer.starts.size(), 1u);  // a part opens no stage of its own
  // The sixth report is cancelled.
  EXPECT_TRUE(second.advance(9) && !second.advance(10));
  EXPECT_EQ(observer.steps.back(), 100);
  EXPECT_EQ(sink.code(), sink_code::kCancelled);
  EXPECT_TRUE(ProgressPacer::part(nullptr, 0, 10, 1).advance(1));  // nobody watching

  // A file pacer opens its stage at its first report and cancels through the sink.
  RecordingObserver reader(3);
  ErrorSink readerSink(&reader);
  ProgressPacer rows = ProgressPacer::opening(&readerSink, 7);
  EXPECT_TRUE(rows.advance(0));
  EXPECT_TRUE(reader.starts.empty());  // nothing shown before the first row
  EXPECT_TRUE(rows.advance(1) && rows.advance(2));
  // No caption of its own: the window keeps that of the load or save it shows.
  EXPECT_EQ(reader.starts, (std::vector<std::pair<std::string, std::int64_t>>{{"", 7}}));
  EXPECT_FALSE(rows.advance(3));
  EXPECT_EQ(readerSink.code(), sink_code::kCancelled);
  EXPECT_TRUE(ProgressPacer::opening(nullptr, 1).advance(1));  // nobody watching

  // Without an observer nothing stops a reader, not even an earlier failure of the sink.
  ErrorSink unwatched;
  unwatched.kernelError(sink_code::kGridMismatch);
  EXPECT_TRUE(ProgressPacer::opening(&unwatched, 2).advance(1));
}

}  // namespace
}  // namespace vellumar
