#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "engine/Operand.h"
#include "geometry/Geometry.h"

namespace vellumar::ui::mapview {

// A polygon layer whose records carry values, shown as a choropleth map: each record filled with
// the colour class of its value, as a grid's nodes are, its outlines kept.
class Choropleth {
 public:
  struct Record {
    std::int64_t number = 0;      // the 1-based record number, as --each numbers it
    std::optional<double> value;  // none where the record holds the missing value
    std::string label;            // the record's first text attribute, when it has one
    geometry::Cover rings;
  };

  // The choropleth of a polygon operand whose records hold at least two different values (the
  // missing value and non-finite values aside); none for any other operand.
  static std::optional<Choropleth> of(const engine::Operand& polygon, double missingValue);

  const std::vector<Record>& records() const { return records_; }
  // The values of the records that have one, in record order.
  const std::vector<double>& values() const { return values_; }
  double minimum() const { return minimum_; }
  double maximum() const { return maximum_; }
  // The record whose rings hold the world point by the even-odd rule; none where no record does.
  // Where records share a border the first in layer order answers.
  const Record* recordAt(double x, double y) const;

 private:
  std::vector<Record> records_;
  std::vector<double> values_;
  double minimum_ = 0.0;
  double maximum_ = 0.0;
};

}  // namespace vellumar::ui::mapview
