#include "common/ErrorSink.h"

#include <algorithm>
#include <limits>

namespace vellumar {

bool FailureRecord::record(int code, std::string message) {
  if (code_ != sink_code::kNone || code == sink_code::kNone) return false;
  code_ = code;
  message_ = std::move(message);
  return true;
}

void ProgressReport::start(std::string_view caption, std::int64_t total) {
  if (observer_ == nullptr) return;
  if (open_) observer_->close();
  caption_ = caption;
  observer_->start(caption, total);
  open_ = true;
}

void ProgressReport::stage(std::int64_t total) {
  if (observer_ == nullptr || !open_) return;
  observer_->start(caption_, total);
}

void ProgressReport::close() {
  if (observer_ == nullptr || !open_) return;
  observer_->close();
  open_ = false;
}

bool ErrorSink::progressStep(std::int64_t done) {
  if (failed()) return false;
  if (progress_.step(done)) return true;
  record(sink_code::kCancelled, cancelMessage_);
  return false;
}

ProgressPacer::ProgressPacer(ErrorSink* sink, std::int64_t total, std::int64_t every)
    : sink_(sink), every_(every), next_(every) {
  if (sink_ == nullptr) {
    next_ = std::numeric_limits<std::int64_t>::max();
  } else if (total >= every_) {
    sink_->progressStage(total);
  }
}

ProgressPacer ProgressPacer::opening(ErrorSink* sink, std::int64_t total, std::int64_t every) {
  const bool watched = sink != nullptr && sink->observer() != nullptr;
  ProgressPacer pacer(watched ? sink : nullptr, 0, every);
  pacer.opens_ = true;
  pacer.total_ = total;
  return pacer;
}

ProgressPacer ProgressPacer::part(ErrorSink* sink, std::int64_t from, std::int64_t span,
                                  std::int64_t items) {
  ProgressPacer pacer(nullptr, 0, 1);
  if (sink == nullptr) return pacer;
  pacer.sink_ = sink;
  pacer.base_ = from;
  pacer.span_ = span;
  pacer.items_ = std::max<std::int64_t>(items, 1);
  pacer.next_ = from + 1;
  return pacer;
}

bool ProgressPacer::report(std::int64_t done) {
  next_ = done + every_;
  if (opens_) sink_->progressStart({}, total_);
  opens_ = false;
  return sink_->progressStep(done);
}

}  // namespace vellumar
