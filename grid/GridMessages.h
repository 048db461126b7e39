#pragma once

#include "common/ErrorSink.h"
#include "common/Language.h"
#include "common/Pointwise.h"

namespace vellumar::grid {

// Texts of the grid subsystem: file failures shown in message boxes and the kernel codes recorded
// on the error sink.
namespace text {
// The last letter of the Russian load message is the Latin "a", as users have always seen it.
inline constexpr MessageText kInvalidGridFile{"Недопустимый формат файла гридa!",
                                              "Invalid grid file format!"};
inline constexpr MessageText kSaveFailed{"Ошибка сохранения грида!", "Error saving the grid!"};
inline constexpr MessageText kSizesMismatch{"не совпадают размеры гридов!",
                                            "grids sizes mismatch!"};
inline constexpr MessageText kAreaHasBlanks{"область содержит пустые узлы грида",
                                            "the area contains blank grid nodes"};
}  // namespace text

// Text of a grid kernel code (201-204); null for any other code.
inline const MessageText* kernelMessage(int code) {
  switch (code) {
    case sink_code::kGridMismatch:
      return &text::kSizesMismatch;
    case sink_code::kGridDivisionByZero:
      return &vellumar::text::kDivisionByZero;
    case sink_code::kGridDomain:
      return &vellumar::text::kOutOfDomain;
    case sink_code::kGridBlankArea:
      return &text::kAreaHasBlanks;
    default:
      return nullptr;
  }
}

}  // namespace vellumar::grid
