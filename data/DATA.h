#pragma once

#include <cstddef>
#include <memory>
#include <span>
#include <vector>

namespace vellumar::data {

// The data operand: one column of values, optionally paired with X and Y coordinates. Columns are
// immutable once shared: copying a DATA shares its columns, and a result that keeps the
// coordinates of its operand shares them too, so a ten-million-point column is never copied just
// to be read. Writing through mutableValues() first makes the value column private.
class DATA {
 public:
  using Column = std::shared_ptr<std::vector<double>>;

  DATA() = default;
  // A column of values without coordinates.
  explicit DATA(std::vector<double> values);
  // A column of values with X and Y of the same length.
  DATA(std::vector<double> values, std::vector<double> x, std::vector<double> y);

  // A new DATA with the given values and this one's coordinates (shared, not copied).
  DATA withValues(std::vector<double> values) const;

  std::size_t count() const { return values_ ? values_->size() : 0; }
  bool empty() const { return count() == 0; }
  bool hasCoordinates() const { return x_ != nullptr; }

  std::span<const double> values() const {
    return values_ ? std::span<const double>(*values_) : std::span<const double>();
  }
  std::span<const double> x() const {
    return x_ ? std::span<const double>(*x_) : std::span<const double>();
  }
  std::span<const double> y() const {
    return y_ ? std::span<const double>(*y_) : std::span<const double>();
  }

  // The value column for writing; copied first when another DATA shares it.
  std::vector<double>& mutableValues();

  // True when no other DATA shares the value column, so a kernel given this DATA as a temporary
  // may build its result in that column.
  bool ownsValues() const { return values_ && values_.use_count() == 1; }
  // The value column, moved out when this DATA owns it alone, else copied; this DATA is left
  // with its coordinates and no values.
  std::vector<double> takeValues();

 private:
  Column values_;
  Column x_;
  Column y_;
};

}  // namespace vellumar::data
