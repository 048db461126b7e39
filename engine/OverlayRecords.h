#pragma once

#include <cstdint>
#include <vector>

#include "engine/Operand.h"
#include "geometry/Geometry.h"

namespace vellumar::engine {

// The records of a polygon set operation's result: each ring of the result keeps the record of
// the operand ring under its first edge, and with it that record's attribute row.

// The record a feature number of the overlay stands for: a record of the first or of the second
// operand, by its id there.
struct RecordSource {
  bool second = false;
  std::int32_t id = 0;
};

// Numbers the features of both operands apart, first's from 1 on and then second's
// (numberLineGroups), so that no feature of one joins a feature of the other; gives the source of
// each new number n at index n - 1.
std::vector<RecordSource> numberRecordsApart(geometry::Cover& first, geometry::Cover& second);

// The result of the overlay of a and b as a polygon operand with ids. When neither operand
// carries attributes the rings keep their feature numbers. Otherwise the records are numbered
// 1, 2, ... in the order of their first ring, and each has the attribute row of the record it
// came from, under the fields of both operands merged (data::mergeFields); fields of the other
// operand are null.
Operand packOverlayResult(geometry::Cover result, const std::vector<RecordSource>& sources,
                          const Operand& a, const Operand& b);

}  // namespace vellumar::engine
