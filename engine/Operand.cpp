#include "engine/Operand.h"

namespace vellumar::engine {
namespace {

const data::DATA& emptyData() {
  static const data::DATA empty;
  return empty;
}

const std::vector<std::int32_t>& emptyParts() {
  static const std::vector<std::int32_t> empty;
  return empty;
}

}  // namespace

char kindLetter(Kind kind) {
  switch (kind) {
    case Kind::Number:
      return 'N';
    case Kind::Grid:
      return 'G';
    case Kind::Data:
      return 'D';
    case Kind::Polygon:
      return 'P';
    case Kind::Lines:
      return 'C';
  }
  return '?';
}

Operand Operand::number(double value) {
  Operand result;
  result.number_ = value;
  return result;
}

Operand Operand::grid(GridPtr grid) {
  Operand result;
  result.kind_ = Kind::Grid;
  result.grid_ = std::move(grid);
  return result;
}

Operand Operand::data(DataPtr points) {
  Operand result;
  result.kind_ = Kind::Data;
  result.points_ = std::move(points);
  return result;
}

Operand Operand::lines(Kind kind, DataPtr points, PartsPtr parts) {
  Operand result;
  result.kind_ = kind;
  result.points_ = std::move(points);
  result.parts_ = std::move(parts);
  return result;
}

const data::DATA& Operand::points() const {
  return points_ ? *points_ : emptyData();
}

const std::vector<std::int32_t>& Operand::parts() const {
  return parts_ ? *parts_ : emptyParts();
}

void Operand::assign(const Operand& source) {
  kind_ = source.kind_;
  switch (kind_) {
    case Kind::Number:
      number_ = source.number_;
      break;
    case Kind::Grid:
      grid_ = source.grid_;
      break;
    case Kind::Data:
      points_ = source.points_;
      break;
    case Kind::Polygon:
    case Kind::Lines:
      points_ = source.points_;
      parts_ = source.parts_;
      break;
  }
}

}  // namespace vellumar::engine
