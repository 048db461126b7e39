#pragma once

#include <QString>
#include <string_view>

namespace vellumar::ui {

// A UTF-8 text of the engine's (a message, a caption) as Qt's string.
inline QString fromUtf8(std::string_view text) {
  return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

}  // namespace vellumar::ui
