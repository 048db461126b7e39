#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <type_traits>

namespace vellumar {

// Receives the progress of long kernels and may ask them to stop. The window shows a progress
// dialog through it; the command line leaves it unset.
class ProgressObserver {
 public:
  virtual ~ProgressObserver() = default;
  virtual void start(std::string_view caption, std::int64_t total) = 0;
  // Returns false when the user asked to cancel.
  virtual bool step(std::int64_t done) = 0;
  virtual void close() = 0;
  // A text of several statements: statement index (from 0) of count begins, and the progress
  // that follows is its share of the whole text. (0, 1) follows the last statement: progress is
  // of one piece of work again. Texts of one statement never call it.
  virtual void statement(int index, int count) {
    (void)index;
    (void)count;
  }
};

// Well-known codes of the error sink. Codes 101-104 come from data kernels, 201-204 from grid
// kernels; their texts are composed by the evaluator when an evaluation fails.
namespace sink_code {
inline constexpr int kNone = 0;
inline constexpr int kMessage = 1;       // complete message, stored at once (lexer, names)
inline constexpr int kArgument = 2;      // parse and argument errors, composed at once
inline constexpr int kCancelled = 3;     // the user cancelled a long kernel
inline constexpr int kDataLength = 101;  // data columns of different lengths
inline constexpr int kDataNoCoordinates = 102;
inline constexpr int kDivisionByZero = 103;
inline constexpr int kDataDomain = 104;
inline constexpr int kGridMismatch = 201;
inline constexpr int kGridDivisionByZero = 202;
inline constexpr int kGridDomain = 203;
inline constexpr int kGridBlankArea = 204;  // an area to integrate over holds blank nodes
}  // namespace sink_code

// The first failure of an evaluation: its code, its message and a line that tells more. The first
// one recorded wins and later ones change nothing.
class FailureRecord {
 public:
  int code() const { return code_; }
  bool failed() const { return code_ != sink_code::kNone; }
  const std::string& message() const { return message_; }
  // Stores code and message when no failure is recorded yet; returns true when it was stored.
  bool record(int code, std::string message);
  // Replaces whatever was recorded by code and message.
  void overrule(int code, std::string message) {
    code_ = code;
    message_ = std::move(message);
  }
  void setMessage(std::string message) { message_ = std::move(message); }
  void setDetail(std::string detail) { detail_ = std::move(detail); }
  const std::string& detail() const { return detail_; }

 private:
  int code_ = sink_code::kNone;
  std::string message_;
  std::string detail_;
};

// The progress of long work, passed on to an observer that may ask it to stop. Without an
// observer nothing is shown and nothing stops; nothing is shown either while no progress is open.
class ProgressReport {
 public:
  explicit ProgressReport(ProgressObserver* observer = nullptr) : observer_(observer) {}

  ProgressObserver* observer() const { return observer_; }
  // Opens the progress with caption (closing what was open) and the total of its first stage.
  void start(std::string_view caption, std::int64_t total);
  // A new stage of the open progress: the same caption, a new total.
  void stage(std::int64_t total);
  // False when the observer asked to stop.
  bool step(std::int64_t done) { return observer_ == nullptr || !open_ || observer_->step(done); }
  void close();
  bool open() const { return open_; }
  // Statement index of count begins (see ProgressObserver::statement).
  void statementStarted(int index, int count) {
    if (observer_ != nullptr) observer_->statement(index, count);
  }

 private:
  ProgressObserver* observer_ = nullptr;
  bool open_ = false;
  std::string caption_;
};

// The error state of one evaluation: the first error recorded wins and later ones change nothing.
// Kernels record a bare code; the evaluator records codes with their finished messages. The sink
// also carries the progress-and-cancel hook of long kernels: a cancel of its progress is recorded
// as its failure. Work that only reports progress may take the progress part alone.
class ErrorSink {
 public:
  explicit ErrorSink(ProgressObserver* progress = nullptr) : progress_(progress) {}

  // The progress part, for what reports progress and records nothing.
  ProgressReport& progress() { return progress_; }

  int code() const { return failure_.code(); }
  // The observer that hears of this sink's progress; null when nobody watches.
  ProgressObserver* observer() const { return progress_.observer(); }
  bool failed() const { return failure_.failed(); }
  const std::string& message() const { return failure_.message(); }

  // Stores code and message when no error is recorded yet; returns true when it was stored.
  bool record(int code, std::string message) { return failure_.record(code, std::move(message)); }
  // Stores a bare code (message composed later) when no error is recorded yet.
  void kernelError(int code) { record(code, {}); }
  // Replaces whatever was recorded by code and message: for a failure that a kernel or library
  // reported as one of its own while the true cause was a refused allocation.
  void overrule(int code, std::string message) { failure_.overrule(code, std::move(message)); }
  // Replaces the message of the recorded error (used when a kernel code is composed).
  void setMessage(std::string message) { failure_.setMessage(std::move(message)); }
  // A line that tells more about the recorded error than its message can (which two records of
  // a layer overlap); the command line writes it below the message.
  void setDetail(std::string detail) { failure_.setDetail(std::move(detail)); }
  const std::string& detail() const { return failure_.detail(); }

  // Progress of a long kernel. step() returns false once the user cancelled; the sink then holds
  // code kCancelled with the given cancel message, so a cancelled evaluation never succeeds.
  void progressStart(std::string_view caption, std::int64_t total) {
    progress_.start(caption, total);
  }
  bool progressStep(std::int64_t done);
  void progressClose() { progress_.close(); }
  bool progressOpen() const { return progress_.open(); }
  // Starts a new stage of the open progress: the same caption, a new total (the window's bar
  // starts again from 0). Nothing happens while no progress is open.
  void progressStage(std::int64_t total) { progress_.stage(total); }
  // Statement index of count begins (see ProgressObserver::statement).
  void statementStarted(int index, int count) { progress_.statementStarted(index, count); }
  void setCancelMessage(std::string message) { cancelMessage_ = std::move(message); }

 private:
  FailureRecord failure_;
  ProgressReport progress_;
  std::string cancelMessage_ = "Вычисление прервано";
};

// The one progress-and-cancel handle of long work: kernels pace each stage of their loops with
// it, file readers and writers their rows or records. The sink hears of the items done at most
// once per `every` items, so a loop may ask once per row or block at the cost of one comparison,
// without a call per node; false from advance() means stop, and the sink then holds the cancel
// (or the failure that stopped the work). A null sink means nobody watches: nothing is reported
// and the work never stops.
//
// A kernel's stage reports to the progress the engine opened with its caption, showing the
// stage's total as it starts. A reader or writer learns its total only once it has begun, and
// opens the progress itself (opening()), with no caption of its own, so that the window keeps
// the caption of the load or save it shows; the engine closes it after the command.
class ProgressPacer {
 public:
  static constexpr std::int64_t kEvery = std::int64_t{1} << 16;

  // A stage of total items (a stage too short to report anything leaves the shown total alone).
  ProgressPacer(ErrorSink* sink, std::int64_t total, std::int64_t every = kEvery);
  // The progress of a file of total rows or records, opened with that total at the first report.
  // Only a sink's observer can stop a file's work: without one, nothing is reported and nothing
  // stops it, not even an earlier failure of the sink.
  static ProgressPacer opening(ErrorSink* sink, std::int64_t total, std::int64_t every = 1);
  // A part of the stage shown now, for work that fills one stage in several loops: done items of
  // the part's items count as from + done * span / items of the stage, and every rise of that
  // count is reported (its loops ask once per row or block).
  static ProgressPacer part(ErrorSink* sink, std::int64_t from, std::int64_t span,
                            std::int64_t items);

  // Items done so far, rising; false once the user cancelled or the evaluation failed.
  bool advance(std::int64_t done) {
    if (span_ != items_) done = done * span_ / items_;
    done += base_;
    return done < next_ || report(done);
  }
  // Counts the items of later advance() calls from base on: for a stage made of several loops,
  // each counting its own items from 0.
  void setBase(std::int64_t base) { base_ = base; }

 private:
  bool report(std::int64_t done);

  ErrorSink* sink_;
  std::int64_t every_;
  std::int64_t next_;
  std::int64_t base_ = 0;
  std::int64_t span_ = 1;  // a part's stage units per items_ of its own (1 / 1 for a stage)
  std::int64_t items_ = 1;
  bool opens_ = false;  // opens the progress with total_ at the first report (a file's pacer)
  std::int64_t total_ = 0;
};

// Runs body(begin, end) over the items [0, n) in blocks, asking the pacer after each block: the
// cancel point of a flat loop over nodes or elements, whose blocks stay long enough for the loop
// inside to run on whole vectors. A body that returns bool stops the loop by returning false.
// False when the pacer or the body stopped the loop.
inline constexpr std::size_t kProgressBlock = 16384;
template <class Body>
bool forEachBlock(std::size_t n, ProgressPacer& pacer, Body&& body) {
  for (std::size_t begin = 0; begin < n; begin += kProgressBlock) {
    const std::size_t end = n - begin < kProgressBlock ? n : begin + kProgressBlock;
    if constexpr (std::is_same_v<decltype(body(begin, end)), bool>) {
      if (!body(begin, end)) return false;
    } else {
      body(begin, end);
    }
    if (!pacer.advance(static_cast<std::int64_t>(end))) return false;
  }
  return true;
}

}  // namespace vellumar
