#include "engine/ProgressScope.h"

namespace vellumar::engine {

ProgressScope::ProgressScope(S_Calculator& calc, const MessageText& caption, std::int64_t total)
    : sink_(calc.sink()), opened_(!sink_.progressOpen()) {
  if (opened_) sink_.progressStart(caption.in(calc.language()), total);
}

ProgressScope::~ProgressScope() {
  if (opened_) sink_.progressClose();
}

}  // namespace vellumar::engine
