#pragma once

#include <cstdint>

#include "common/ErrorSink.h"
#include "common/Language.h"
#include "engine/Calculator.h"
#include "engine/EvalContext.h"

namespace vellumar::engine {

// The progress of one long operation, shown with a caption from the start to the end of the
// scope; the kernels it runs report their stages and rows through the sink. Inside an operation
// whose progress is already shown (a kernel run by a polygon function), the outer caption stays
// and the scope neither opens nor closes anything.
class ProgressScope {
 public:
  ProgressScope(const EvalContext& context, const MessageText& caption, std::int64_t total);
  ProgressScope(S_Calculator& calc, const MessageText& caption, std::int64_t total)
      : ProgressScope(calc.context(), caption, total) {}
  ~ProgressScope();
  ProgressScope(const ProgressScope&) = delete;
  ProgressScope& operator=(const ProgressScope&) = delete;

  ErrorSink* sink() const { return &sink_; }

 private:
  ErrorSink& sink_;
  bool opened_ = false;
};

}  // namespace vellumar::engine
