#pragma once

#include <cstdint>

#include "common/ErrorSink.h"
#include "common/Language.h"
#include "engine/Calculator.h"
#include "geometry/Geometry.h"

namespace vellumar::engine::functions {

// Shared steps of the functions with a polygon argument.

// The region of a polygon operand: its rings, then the polygon check. Records failure for the
// operand's position and returns false when the rings cannot be read or fail the check.
bool polygonRegion(S_Calculator& calc, const Operand& polygon, ArgumentMessage failure,
                   geometry::Region& region);

// The progress of one long loop, shown with a caption from the start to the end of the scope.
class ProgressScope {
 public:
  ProgressScope(S_Calculator& calc, const MessageText& caption, std::int64_t total);
  ~ProgressScope();
  ProgressScope(const ProgressScope&) = delete;
  ProgressScope& operator=(const ProgressScope&) = delete;

  ErrorSink* sink() const { return &sink_; }

 private:
  ErrorSink& sink_;
};

}  // namespace vellumar::engine::functions
