#pragma once

#include <cstdint>
#include <initializer_list>
#include <string_view>
#include <vector>

#include "engine/Operand.h"

namespace vellumar::engine {

class S_Calculator;

// Sets of operand kinds accepted by an argument.
using KindSet = std::uint8_t;
constexpr KindSet kindBit(Kind kind) {
  return KindSet(1u << static_cast<unsigned>(kind));
}
inline constexpr KindSet kN = kindBit(Kind::Number);
inline constexpr KindSet kG = kindBit(Kind::Grid);
inline constexpr KindSet kD = kindBit(Kind::Data);
inline constexpr KindSet kP = kindBit(Kind::Polygon);
inline constexpr KindSet kC = kindBit(Kind::Lines);
inline constexpr KindSet kAny = kN | kG | kD | kP | kC;

using Arguments = std::vector<Operand>;
// Computes a built-in from its evaluated arguments (kinds already checked).
using Handler = Operand (*)(S_Calculator&, Arguments&);
// Further checks of a form after the kinds (pair rules); records its own message.
using FormCheck = bool (*)(S_Calculator&, const Arguments&);

// One call form of a built-in: its argument count, the kinds of each argument (the last entry
// stands for all further arguments), and what computes it.
struct Form {
  int count;
  std::vector<KindSet> kinds;
  Handler handler;
  FormCheck check = nullptr;
};

// Whether the argument list must go on, may end, or must end after the arguments read so far.
enum class ListStep { Continue, MayEnd, End };

struct Builtin {
  std::string_view name;
  std::vector<Form> forms;
  // The list rule when it depends on the arguments themselves (RG); null: by the form counts.
  ListStep (*listStep)(const Arguments&) = nullptr;
  // Checks made as soon as an argument has been read (Spec, RG, IF).
  void (*parseCheck)(S_Calculator&, const Arguments&) = nullptr;

  const Form* formFor(int count) const;
  ListStep stepAfter(const Arguments& arguments) const;
};

// Whether the built-in's result is a length or an area in the units of its operands' coordinates
// (Len, Area, Integral).
bool measuresLengthOrArea(const Builtin& builtin);

// The built-in of that exact name, or null.
const Builtin* findBuiltin(std::string_view name);
// All built-ins in table order.
const std::vector<Builtin>& builtins();

}  // namespace vellumar::engine
