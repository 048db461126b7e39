#include "data/DATA.h"

namespace vellumar::data {

DATA::DATA(std::vector<double> values)
    : values_(std::make_shared<std::vector<double>>(std::move(values))) {}

DATA::DATA(std::vector<double> values, std::vector<double> x, std::vector<double> y)
    : values_(std::make_shared<std::vector<double>>(std::move(values))),
      x_(std::make_shared<std::vector<double>>(std::move(x))),
      y_(std::make_shared<std::vector<double>>(std::move(y))) {}

DATA DATA::withValues(std::vector<double> values) const {
  DATA result;
  result.values_ = std::make_shared<std::vector<double>>(std::move(values));
  result.x_ = x_;
  result.y_ = y_;
  return result;
}

std::vector<double>& DATA::mutableValues() {
  if (!values_) {
    values_ = std::make_shared<std::vector<double>>();
  } else if (values_.use_count() > 1) {
    values_ = std::make_shared<std::vector<double>>(*values_);
  }
  return *values_;
}

std::vector<double> DATA::takeValues() {
  std::vector<double> values;
  if (ownsValues()) {
    values = std::move(*values_);
  } else if (values_) {
    values = *values_;
  }
  values_.reset();
  return values;
}

}  // namespace vellumar::data
