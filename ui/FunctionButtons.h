#pragma once

#include <span>
#include <string>
#include <string_view>

namespace vellumar::ui {

// One function button of the keypad: its caption, the function name it inserts, the argument
// template appended to the name, the argument kinds of the hint (empty: no hint) and its tooltip.
struct FunctionButton {
  std::string_view caption;
  std::string_view name;
  std::string_view argumentTemplate;
  std::string_view kinds;
  std::string_view tooltip;
};

// The 50 function buttons in keypad order.
std::span<const FunctionButton> functionButtons();

// What pressing a keypad button does: the text inserted at the caret and the new text of the
// message line (the argument-kind hint of a function, else empty).
struct Insertion {
  std::string text;
  std::string hint;
};

// A function button inserts its name and template and shows its hint; "(" inserts "(  )";
// any other caption (digits, operators, constants) is inserted as it stands.
Insertion insertionFor(std::string_view caption);

}  // namespace vellumar::ui
