#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "common/ErrorSink.h"

#include "engine/Operand.h"
#include "geometry/Geometry.h"

namespace vellumar::engine {
class S_Calculator;
}

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

// The same records as their rings, for a reader that needs no operands (the map view).
struct RecordRings {
  std::int64_t number = 0;
  geometry::Cover rings;
};
std::vector<RecordRings> layerRecordRings(const Operand& layer);

// The layer of the records with their results: every ring of record k takes values[k] (missing
// where the record failed, values[k] empty), the records are numbered 1, 2, ... in order, and
// the attribute table holds each record's row of the layer's attributes (when it had any)
// followed by the numeric field "Zres" with the result (null where it failed).
Operand layerWithResults(const Operand& layer, const std::vector<LayerRecord>& records,
                         const std::vector<std::optional<double>>& values, double missing);

// What came of the evaluation of one record: its value, or none when it failed, and the text of
// the message line (the result, or the error's message and its detail).
struct RecordOutcome {
  std::int64_t number = 0;
  std::optional<double> value;
  std::string text;
  std::string detail;
};

struct EachOutcome {
  bool layerFound = false;  // the name holds a layer of at least one record
  bool cancelled = false;   // the user cancelled; the records after the one cancelled were not done
  std::vector<RecordOutcome> records;
  Operand layer;                   // the layer with the results, when a record succeeded
  bool measuredInDegrees = false;  // some record's result is a length or area in degrees
};

// Evaluates text once per record of the layer the name holds, the record standing for the name,
// and makes the layer with the results (layerWithResults) the calculator's result when a record
// succeeded. Each record has a sink of its own, whose progress observer watches (the sink attached
// before is attached again afterwards); the user's cancel stops the run at once, inside a record
// or between two. onRecord (may be empty) hears of
// each record as it is done. Afterwards the name holds the whole layer again.
EachOutcome evaluateEachRecord(S_Calculator& calc, const std::string& name, const std::string& text,
                               ProgressObserver* observer,
                               const std::function<void(const RecordOutcome&)>& onRecord = {});

}  // namespace vellumar::engine
