#include "engine/Evaluation.h"

namespace vellumar::engine {

Evaluation::Evaluation(S_Calculator& calc, ProgressObserver* observer, Undo undo)
    : calc_(calc), ownSink_(observer), sink_(ownSink_), outer_(calc.attachedSink()) {
  begin(undo);
}

Evaluation::Evaluation(S_Calculator& calc, ErrorSink& sink, Undo undo)
    : calc_(calc), sink_(sink), outer_(calc.attachedSink()) {
  begin(undo);
}

void Evaluation::begin(Undo undo) {
  if (undo == Undo::OnCancel) checkpoint_ = calc_.checkpoint();
  calc_.attachErrorSink(&sink_);
}

Evaluation::~Evaluation() {
  if (checkpoint_ && cancelled()) calc_.rollBack(*checkpoint_);
  calc_.attachErrorSink(outer_);
}

TextEvaluation Evaluation::evaluate(const std::string& text) {
  TextEvaluation evaluation;
  evaluation.message = text;
  evaluation.ok = run(evaluation.message);
  evaluation.detail = sink_.detail();
  if (evaluation.ok) evaluation.warning = calc_.resultWarning();
  evaluation.cancelled = cancelled();
  return evaluation;
}

TextEvaluation evaluateText(S_Calculator& calc, const std::string& text,
                            ProgressObserver* observer) {
  return Evaluation(calc, observer, Undo::Never).evaluate(text);
}

}  // namespace vellumar::engine
