#include "engine/LayerRecords.h"

#include <algorithm>
#include <cmath>
#include <memory>
#include <string>
#include <utility>

#include "common/CFormat.h"
#include "engine/Calculator.h"
#include "engine/EngineMessages.h"
#include "engine/LinePacking.h"
#include "engine/ResultText.h"
#include "geometry/LayerRegion.h"

namespace vellumar::engine {
namespace {

// The DBF declaration of the results: wide enough for 12 decimals of any number a map holds;
// larger numbers are written in exponent form, which DBF readers read as well.
constexpr int kResultWidth = 24;
constexpr int kResultDecimals = 12;

std::string zresText(double value) {
  std::string text = cformat("%.*f", kResultDecimals, value);
  if (static_cast<int>(text.size()) > kResultWidth) text = cformat("%.15e", value);
  return text;
}

}  // namespace

std::vector<RecordRings> layerRecordRings(const Operand& layer) {
  geometry::Cover cover;
  if (!unpackOperand(layer, cover)) return {};
  std::vector<RecordRings> records;
  for (geometry::Cover& rings : geometry::recordsOf(cover)) {
    const std::int64_t number =
        layer.attributes() ? rings[0].id : static_cast<std::int64_t>(records.size() + 1);
    records.push_back({number, std::move(rings)});
  }
  return records;
}

std::vector<LayerRecord> layerRecords(const Operand& layer) {
  std::vector<LayerRecord> records;
  for (const RecordRings& record : layerRecordRings(layer)) {
    const Operand packed = packCover(record.rings, layer.kind(), true);
    Operand operand = Operand::lines(layer.kind(), packed.sharedPoints(), packed.sharedParts(),
                                     packed.sharedIds(), layer.attributes());
    // A record lies where its layer does.
    operand.setCoordinateSystem(layer.coordinateSystem(), layer.coordinateSystemName());
    records.push_back({record.number, std::move(operand)});
  }
  return records;
}

Operand layerWithResults(const Operand& layer, const std::vector<LayerRecord>& records,
                         const std::vector<std::optional<double>>& values, double missing) {
  auto table = std::make_shared<data::AttributeTable>();
  const data::AttributeTable* source = layer.attributes().get();
  if (source != nullptr) table->fields = source->fields;
  table->fields.push_back({"Zres", 'N', kResultWidth, kResultDecimals});
  geometry::Cover all;
  for (std::size_t k = 0; k < records.size(); ++k) {
    geometry::Cover rings;
    if (!unpackOperand(records[k].operand, rings) || rings.empty()) continue;
    std::optional<double> value;
    if (k < values.size()) value = values[k];
    const std::int32_t originalId = rings[0].id;
    const auto number = static_cast<std::int32_t>(table->rows.size() + 1);
    for (std::size_t r = 0; r < rings.size(); ++r) {
      geometry::Line ring = rings[r];
      ring.id = number;
      ring.value = value.value_or(missing);
      all.appendLine(std::move(ring));
    }
    std::vector<std::string> row;
    if (source != nullptr) {
      const std::vector<std::string>* kept = source->row(originalId);
      row = kept != nullptr ? *kept : std::vector<std::string>(source->fields.size());
    }
    row.push_back(value && std::isfinite(*value) ? zresText(*value) : std::string());
    table->rows.push_back(std::move(row));
  }
  const Operand packed = packCover(all, layer.kind(), true);
  Operand result = Operand::lines(layer.kind(), packed.sharedPoints(), packed.sharedParts(),
                                  packed.sharedIds(), std::move(table));
  result.setCoordinateSystem(layer.coordinateSystem(), layer.coordinateSystemName());
  return result;
}

namespace {

// One evaluation of the text for a record: its number, or why it has none.
RecordOutcome evaluateRecord(S_Calculator& calc, const std::string& text,
                             ProgressObserver* observer, bool& cancelled) {
  const TextEvaluation evaluation = evaluateText(calc, text, observer);
  cancelled = evaluation.cancelled;
  RecordOutcome outcome;
  if (evaluation.ok && calc.result().isNumber()) {
    outcome.value = calc.result().numberValue();
    outcome.text = resultText(calc.result(), calc.language());
  } else if (evaluation.ok) {
    outcome.text = text::kNotANumber.in(calc.language());
  } else {
    outcome.text = evaluation.message;
    outcome.detail = evaluation.detail;
  }
  return outcome;
}

}  // namespace

EachOutcome evaluateEachRecord(S_Calculator& calc, const std::string& name, const std::string& text,
                               ProgressObserver* observer,
                               const std::function<void(const RecordOutcome&)>& onRecord) {
  EachOutcome outcome;
  Calc_ID* entry = calc.registry().find(name);
  const std::vector<LayerRecord> records =
      entry != nullptr ? layerRecords(entry->value) : std::vector<LayerRecord>();
  outcome.layerFound = !records.empty();
  if (!outcome.layerFound) return outcome;
  const Operand layer = entry->value;
  std::vector<std::optional<double>> values;
  for (const LayerRecord& record : records) {
    // Evaluations may add names, but the entry of a loaded layer stays where it is.
    calc.registry().find(name)->value.assign(record.operand);
    RecordOutcome done = evaluateRecord(calc, text, observer, outcome.cancelled);
    done.number = record.number;
    outcome.measuredInDegrees = outcome.measuredInDegrees || calc.measuredInDegrees();
    if (outcome.cancelled) break;
    values.push_back(done.value);
    if (onRecord) onRecord(done);
    outcome.records.push_back(std::move(done));
  }
  calc.registry().find(name)->value.assign(layer);
  const bool anySucceeded = std::any_of(
      values.begin(), values.end(), [](const std::optional<double>& v) { return v.has_value(); });
  if (anySucceeded && !outcome.cancelled) {
    outcome.layer = layerWithResults(layer, records, values, calc.missingValue());
    calc.setResult(outcome.layer);
  }
  return outcome;
}

}  // namespace vellumar::engine
