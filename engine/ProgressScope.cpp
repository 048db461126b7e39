#include "engine/ProgressScope.h"

namespace vellumar::engine {

ProgressScope::ProgressScope(const EvalContext& context, const MessageText& caption,
                             std::int64_t total)
    : sink_(context.sink()), opened_(!sink_.progressOpen()) {
  if (opened_) sink_.progressStart(caption.in(context.language()), total);
}

ProgressScope::~ProgressScope() {
  if (opened_) sink_.progressClose();
}

}  // namespace vellumar::engine
