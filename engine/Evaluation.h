#pragma once

#include <optional>
#include <string>

#include "common/ErrorSink.h"
#include "engine/Calculator.h"

namespace vellumar::engine {

// Whether an evaluation the user cancelled is undone when it ends.
enum class Undo {
  OnCancel,  // back to the names and result from before it: none of its assignments land
  Never,     // kept as it stands (no cancel can come, or the caller undoes a larger whole)
};

// One evaluation on a calculator, from its start to its end: for as long as it lives, its sink
// is the calculator's, reporting progress to the observer it was given; when it ends, the sink
// attached before is attached again and, when the evaluation was cancelled and is undone on a
// cancel, the calculator goes back to the checkpoint taken as it began.
//
// The evaluation may run on another thread than the one that began and ends it (the window's
// worker); it ends only once that thread is done with the calculator.
class Evaluation {
 public:
  // With a sink of its own that reports progress to observer (may be null).
  explicit Evaluation(S_Calculator& calc, ProgressObserver* observer = nullptr,
                      Undo undo = Undo::OnCancel);
  // With the caller's sink, which the caller reads once the evaluation has ended.
  Evaluation(S_Calculator& calc, ErrorSink& sink, Undo undo);
  ~Evaluation();
  Evaluation(const Evaluation&) = delete;
  Evaluation& operator=(const Evaluation&) = delete;

  ErrorSink& sink() { return sink_; }
  // Evaluates text as S_Calculator::run does.
  bool run(std::string& text) { return calc_.run(text); }
  // Evaluates text and tells what came of it.
  TextEvaluation evaluate(const std::string& text);

  // The user asked to stop, whether or not the work noticed: the evaluation counts as
  // cancelled.
  void cancel() { cancelAsked_ = true; }
  bool cancelled() const { return cancelAsked_ || sink_.code() == sink_code::kCancelled; }

 private:
  // Takes the checkpoint when a cancel is undone, and attaches the sink.
  void begin(Undo undo);

  S_Calculator& calc_;
  ErrorSink ownSink_;
  ErrorSink& sink_;
  ErrorSink* outer_;
  std::optional<S_Calculator::Checkpoint> checkpoint_;
  bool cancelAsked_ = false;
};

}  // namespace vellumar::engine
