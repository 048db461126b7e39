#include "common/ErrorSink.h"

#include <gtest/gtest.h>

namespace vellumar {
namespace {

TEST(ErrorSink, FirstErrorWins) {
  ErrorSink sink;
  EXPECT_FALSE(sink.failed());
  sink.kernelError(sink_code::kGridDomain);
  EXPECT_FALSE(sink.record(sink_code::kArgument, "later"));
  EXPECT_EQ(sink.code(), sink_code::kGridDomain);
  EXPECT_EQ(sink.message(), "");
}

class CancellingObserver : public ProgressObserver {
 public:
  void start(std::string_view caption, std::int64_t total) override {
    caption_ = std::string(caption);
    total_ = total;
  }
  bool step(std::int64_t done) override { return done < 3; }
  void close() override { closed_ = true; }
  std::string caption_;
  std::int64_t total_ = 0;
  bool closed_ = false;
};

TEST(ErrorSink, CancelledProgressFailsTheEvaluation) {
  CancellingObserver observer;
  ErrorSink sink(&observer);
  sink.progressStart("Трассировка", 10);
  EXPECT_EQ(observer.caption_, "Трассировка");
  EXPECT_EQ(observer.total_, 10);
  EXPECT_TRUE(sink.progressStep(1));
  EXPECT_FALSE(sink.progressStep(3));
  EXPECT_EQ(sink.code(), sink_code::kCancelled);
  EXPECT_EQ(sink.message(), "Вычисление прервано");
  sink.progressClose();
  EXPECT_TRUE(observer.closed_);
}

TEST(ErrorSink, ProgressWithoutObserverNeverCancels) {
  ErrorSink sink;
  sink.progressStart("x", 5);
  EXPECT_TRUE(sink.progressStep(5));
  sink.progressClose();
  EXPECT_FALSE(sink.failed());
}

TEST(ErrorSink, RowProgressOpensOnceAndCancelsThroughTheSink) {
  CancellingObserver observer;
  ErrorSink sink(&observer);
  const RowProgress rows = sink.rowProgress("Чтение");
  EXPECT_TRUE(rows(1, 7));
  EXPECT_EQ(observer.caption_, "Чтение");
  EXPECT_EQ(observer.total_, 7);
  observer.total_ = 0;
  EXPECT_TRUE(rows(2, 7));
  EXPECT_EQ(observer.total_, 0);  // started once only
  EXPECT_FALSE(rows(3, 7));
  EXPECT_EQ(sink.code(), sink_code::kCancelled);
  EXPECT_TRUE(reportRows({}, 1, 1));  // nobody watching

  // Without an observer nothing stops a reader, not even an earlier failure of the sink.
  ErrorSink unwatched;
  unwatched.kernelError(sink_code::kGridMismatch);
  EXPECT_TRUE(unwatched.rowProgress({})(1, 2));
}

}  // namespace
}  // namespace vellumar
