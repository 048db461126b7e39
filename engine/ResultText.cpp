#include "engine/ResultText.h"

#include <cmath>

#include "common/CFormat.h"
#include "engine/EngineMessages.h"

namespace vellumar::engine {

std::string formatResultNumber(double value) {
  const double magnitude = std::fabs(value);
  if (magnitude < 1e-12 || magnitude > 1e12) return cformat("%.12E", value);
  return cformat("%.12lf", value);
}

std::string resultText(const Operand& result, Language language) {
  switch (result.kind()) {
    case Kind::Number:
      return formatResultNumber(result.numberValue());
    case Kind::Grid:
      return text::kResultGrid.in(language);
    case Kind::Data:
      return (result.points().empty() ? text::kResultDataEmpty : text::kResultDataReady)
          .in(language);
    case Kind::Polygon:
      return text::kResultPolygon.in(language);
    case Kind::Lines:
      return text::kResultLines.in(language);
  }
  return {};
}

}  // namespace vellumar::engine
