// Linked into every benchmark program: the benchmarks take their thread count from
// VELLUMAR_THREADS, as the programs do, so that one build measures one thread against several.
#include "common/Parallel.h"

namespace {

[[maybe_unused]] const bool threadSettingApplied = [] {
  vellumar::parallel::applyThreadSetting();
  return true;
}();

}  // namespace
