#include "engine/LayerRecords.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <memory>
#include <string>
#include <thread>
#include <utility>

#include "common/CFormat.h"
#include "common/Parallel.h"
#include "engine/Calculator.h"
#include "engine/EngineMessages.h"
#include "engine/Lexer.h"
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

// Whether the text assigns a name: the records are then evaluated one after the other, since a
// record may read what the one before it assigned. A text the lexer faults is taken as such too,
// so that its message comes as the first record's evaluation gives it.
bool assignsNames(const std::string& text, Language language) {
  Lexer lexer;
  lexer.reset(text);
  ErrorSink scratch;
  for (int token = lexer.next(scratch, language); token != token::kEnd;
       token = lexer.next(scratch, language)) {
    if (token == '=') return true;
  }
  return scratch.failed();
}

// Tells a record's evaluation on another thread to stop once the user cancelled the one of the
// calling thread; shows nothing.
class CancelRelay : public ProgressObserver {
 public:
  explicit CancelRelay(const std::atomic<bool>& stop) : stop_(stop) {}
  void start(std::string_view, std::int64_t) override {}
  bool step(std::int64_t) override { return !stop_.load(std::memory_order_relaxed); }
  void close() override {}

 private:
  const std::atomic<bool>& stop_;
};

// The records of one run and what came of them so far.
struct RecordRun {
  S_Calculator& calc;
  const std::string& name;
  const std::string& text;
  const std::vector<LayerRecord>& records;
  EachOutcome& outcome;
  std::vector<std::optional<double>>& values;
  const std::function<void(const RecordOutcome&)>& onRecord;

  // Keeps the outcome of a record evaluated, in record order; false once the user cancelled.
  bool keep(RecordOutcome done, const LayerRecord& record, bool cancelled, bool degrees) {
    done.number = record.number;
    outcome.measuredInDegrees = outcome.measuredInDegrees || degrees;
    if (cancelled) {
      outcome.cancelled = true;
      return false;
    }
    values.push_back(done.value);
    if (onRecord) onRecord(done);
    outcome.records.push_back(std::move(done));
    return true;
  }
};

// Evaluates the records one after the other on the calculator itself, the record standing for
// the name while its text is evaluated.
void evaluateInTurn(RecordRun& run, ProgressObserver* observer) {
  for (const LayerRecord& record : run.records) {
    // Evaluations may add names, but the entry of a loaded layer stays where it is.
    run.calc.registry().find(run.name)->value.assign(record.operand);
    bool cancelled = false;
    RecordOutcome done = evaluateRecord(run.calc, run.text, observer, cancelled);
    if (!run.keep(std::move(done), record, cancelled, run.calc.measuredInDegrees())) return;
  }
}

// Evaluates records that are independent of each other (the text assigns no name) in batches on
// several threads, each on a copy of the calculator, and keeps their outcomes in record order.
// The calling thread's records show progress to the observer, whose cancel stops the other
// threads' records too. A record that failed is evaluated once more on the calling thread, so
// that a failure that only the memory of several records at once caused comes out as it would
// one record at a time.
void evaluateAtOnce(RecordRun& run, ProgressObserver* observer) {
  struct Evaluated {
    RecordOutcome outcome;
    bool cancelled = false;
    bool degrees = false;
  };
  const std::size_t batch = 4 * parallel::threadLimit();
  const std::thread::id caller = std::this_thread::get_id();
  std::atomic<bool> stop{false};
  CancelRelay relay(stop);
  const auto evaluate = [&](const LayerRecord& record, ProgressObserver* watcher) {
    S_Calculator copy(run.calc);
    copy.registry().find(run.name)->value.assign(record.operand);
    Evaluated done;
    done.outcome = evaluateRecord(copy, run.text, watcher, done.cancelled);
    done.degrees = copy.measuredInDegrees();
    return done;
  };
  std::vector<Evaluated> evaluated;
  for (std::size_t first = 0; first < run.records.size(); first += batch) {
    const std::size_t count = std::min(batch, run.records.size() - first);
    evaluated.assign(count, {});
    parallel::forEachBlock(
        count,
        [&](std::size_t begin, std::size_t end) {
          const bool calling = std::this_thread::get_id() == caller;
          for (std::size_t k = begin; k < end; ++k) {
            evaluated[k] = evaluate(run.records[first + k], calling ? observer : &relay);
            if (calling && evaluated[k].cancelled) stop.store(true, std::memory_order_relaxed);
          }
        },
        parallel::kCostlyItems);
    for (std::size_t k = 0; k < count; ++k) {
      Evaluated& done = evaluated[k];
      if (!done.cancelled && !done.outcome.value && !stop.load(std::memory_order_relaxed)) {
        done = evaluate(run.records[first + k], observer);
      }
      if (!run.keep(std::move(done.outcome), run.records[first + k], done.cancelled,
                    done.degrees)) {
        return;
      }
    }
  }
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
  RecordRun run{calc, name, text, records, outcome, values, onRecord};
  if (records.size() > 1 && parallel::threadLimit() > 1 && !assignsNames(text, calc.language())) {
    evaluateAtOnce(run, observer);
  } else {
    evaluateInTurn(run, observer);
    calc.registry().find(name)->value.assign(layer);
  }
  const bool anySucceeded = std::any_of(
      values.begin(), values.end(), [](const std::optional<double>& v) { return v.has_value(); });
  if (anySucceeded && !outcome.cancelled) {
    outcome.layer = layerWithResults(layer, records, values, calc.missingValue());
    calc.setResult(outcome.layer);
  }
  return outcome;
}

}  // namespace vellumar::engine
