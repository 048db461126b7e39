#pragma once

#include <cstdint>
#include <optional>
#include <vector>

#include "engine/Operand.h"

namespace vellumar::engine {

// A layer evaluated record by record (vellumar-calc --each): each record of a polygon or lines
// layer stands alone for the layer's name while the display text is evaluated, and the numbers
// that come out become the values of a new layer.

// One record of a layer: the rings (lines) of one id, in the layer's order, as an operand of the
// layer's kind that keeps the id and the layer's attributes; number is its 1-based record number
// (the id of a shapefile record, else its place in the layer).
struct LayerRecord {
  std::int64_t number = 0;
  Operand operand;
};

// The records of a polygon or lines layer, in the order of their first ring; none for another
// kind or an empty layer.
std::vector<LayerRecord> layerRecords(const Operand& layer);

// The layer of the records with their results: every ring of record k takes values[k] (missing
// where the record failed, values[k] empty), the records are numbered 1, 2, ... in order, and
// the attribute table holds each record's row of the layer's attributes (when it had any)
// followed by the numeric field "Zres" with the result (null where it failed).
Operand layerWithResults(const Operand& layer, const std::vector<LayerRecord>& records,
                         const std::vector<std::optional<double>>& values, double missing);

}  // namespace vellumar::engine
