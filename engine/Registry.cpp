#include "engine/Registry.h"

#include "grid/Grid.h"

#include <algorithm>
#include <cassert>

#include "common/CFormat.h"
#include "common/TextEncoding.h"
#include "engine/EngineMessages.h"

namespace vellumar::engine {

Registry::Registry() {
  append(kNameEmpty, Operand::number(0.0));
  append("Pi", Operand::number(kPi));
  append("e", Operand::number(kE));
  append(kMergeConstant, Operand::number(0.0));
  append(kMissingConstant, Operand::number(kDefaultMissing));
}

Registry::Registry(const Registry& other) {
  for (const std::unique_ptr<Calc_ID>& entry : other.entries_) append(entry->name, entry->value);
}

Registry::Evaluating::Evaluating(Registry& registry)
    : registry_(registry), outer_(registry.evaluator_.exchange(std::this_thread::get_id())) {
  assert((outer_ == std::thread::id{} || outer_ == std::this_thread::get_id()) &&
         "two evaluations over one registry at once");
}

Registry::Evaluating::~Evaluating() {
  registry_.evaluator_.store(outer_);
}

void Registry::assertNoOtherEvaluation() const {
  [[maybe_unused]] const std::thread::id evaluator = evaluator_.load();
  assert((evaluator == std::thread::id{} || evaluator == std::this_thread::get_id()) &&
         "the registry changed while an evaluation runs in another thread");
}

Calc_ID& Registry::append(std::string_view name, Operand value) {
  auto entry = std::make_unique<Calc_ID>(Calc_ID{std::string(name), std::move(value)});
  Calc_ID& stored = *entry;
  entries_.push_back(std::move(entry));
  index_.emplace(stored.name, &stored);
  return stored;
}

Calc_ID* Registry::find(std::string_view name) {
  assertNoOtherEvaluation();
  const auto found = index_.find(std::string(name));
  return found == index_.end() ? nullptr : found->second;
}

const Calc_ID* Registry::find(std::string_view name) const {
  const auto found = index_.find(std::string(name));
  return found == index_.end() ? nullptr : found->second;
}

Calc_ID& Registry::findOrCreate(std::string_view name) {
  assertNoOtherEvaluation();
  if (Calc_ID* entry = find(name)) return *entry;
  return append(name, Operand::number(0.0));
}

Registry::Snapshot Registry::snapshot() const {
  Snapshot taken;
  taken.values.reserve(entries_.size());
  for (const auto& entry : entries_) taken.values.push_back(entry->value);
  return taken;
}

void Registry::restore(const Snapshot& snapshot) {
  assertNoOtherEvaluation();
  const std::size_t kept = std::min(snapshot.values.size(), entries_.size());
  while (entries_.size() > kept) {
    index_.erase(entries_.back()->name);
    entries_.pop_back();
  }
  for (std::size_t i = 0; i < kept; ++i) entries_[i]->value = snapshot.values[i];
}

std::vector<std::string> Registry::listLines(Language language) const {
  std::vector<std::string> lines;
  lines.reserve(entries_.size());
  for (std::size_t i = 1; i < entries_.size(); ++i)
    lines.push_back(listLine(*entries_[i], language));
  return lines;
}

std::string listLine(const Calc_ID& entry, Language language) {
  constexpr std::size_t kNameField = 19;
  constexpr std::size_t kMostBlanks = 17;
  const std::size_t length = utf8Length(entry.name);
  const std::size_t blanks = length >= kNameField ? 0 : std::min(kNameField - length, kMostBlanks);
  std::string line = entry.name + ":" + std::string(blanks, ' ');
  const Operand& value = entry.value;
  if (value.kind() == Kind::Number) {
    line += cformat("%lf", value.numberValue());
  } else if (value.kind() != Kind::Data && !value.sourcePath().empty()) {
    line += value.sourcePath();
  } else {
    line += text::kInMemory.in(language);
  }
  // The coordinate system, in short, after the source.
  if (const std::string& system = value.coordinateSystemName(); !system.empty()) {
    line += "  " + system;
  }
  return line;
}

std::string nameOfListLine(std::string_view line) {
  return std::string(line.substr(0, line.find(':')));
}

}  // namespace vellumar::engine
