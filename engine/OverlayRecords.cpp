#include "engine/OverlayRecords.h"

#include <map>
#include <memory>
#include <string>
#include <utility>

#include "engine/LinePacking.h"

namespace vellumar::engine {
namespace {

// The row of a record of one operand, placed into the merged columns.
std::vector<std::string> mergedRow(const data::AttributeTable* table, std::int32_t id,
                                   const std::vector<std::size_t>& columns, std::size_t width) {
  std::vector<std::string> row(width);
  const std::vector<std::string>* kept = table != nullptr ? table->row(id) : nullptr;
  if (kept == nullptr) return row;
  for (std::size_t j = 0; j < columns.size() && j < kept->size(); ++j) row[columns[j]] = (*kept)[j];
  return row;
}

}  // namespace

std::vector<RecordSource> numberRecordsApart(geometry::Cover& first, geometry::Cover& second) {
  std::vector<RecordSource> sources;
  const auto number = [&](geometry::Cover& cover, bool isSecond) {
    std::vector<std::int32_t> original(cover.size());
    for (std::size_t i = 0; i < cover.size(); ++i) original[i] = cover[i].id;
    const auto start = static_cast<std::int32_t>(sources.size() + 1);
    const std::int32_t next = geometry::numberLineGroups(cover, start);
    sources.resize(static_cast<std::size_t>(next - 1));
    for (std::size_t i = 0; i < cover.size(); ++i)
      sources[static_cast<std::size_t>(cover[i].id - 1)] = {isSecond, original[i]};
  };
  number(first, false);
  number(second, true);
  return sources;
}

Operand packOverlayResult(geometry::Cover result, const std::vector<RecordSource>& sources,
                          const Operand& a, const Operand& b) {
  const data::AttributeTable* first = a.attributes().get();
  const data::AttributeTable* second = b.attributes().get();
  if (first == nullptr && second == nullptr) return packCover(result, Kind::Polygon, true);

  const data::MergedFields merged = data::mergeFields(first, second);
  auto table = std::make_shared<data::AttributeTable>();
  table->fields = merged.fields;
  std::map<std::int32_t, std::int32_t> recordOfFeature;
  for (std::size_t r = 0; r < result.size(); ++r) {
    geometry::Line& ring = result.line(r);
    const auto [found, added] =
        recordOfFeature.try_emplace(ring.id, static_cast<std::int32_t>(table->rows.size() + 1));
    if (added) {
      const auto index = static_cast<std::size_t>(ring.id - 1);
      const RecordSource source = index < sources.size() ? sources[index] : RecordSource{};
      table->rows.push_back(
          source.second ? mergedRow(second, source.id, merged.columnOfSecond, merged.fields.size())
                        : mergedRow(first, source.id, merged.columnOfFirst, merged.fields.size()));
    }
    ring.id = found->second;
  }
  const Operand packed = packCover(result, Kind::Polygon, true);
  return Operand::lines(Kind::Polygon, packed.sharedPoints(), packed.sharedParts(),
                        packed.sharedIds(), std::move(table));
}

}  // namespace vellumar::engine
