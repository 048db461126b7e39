#pragma once

#include <optional>
#include <string>
#include <vector>

#include "engine/Calculator.h"
#include "grid/Lattice.h"
#include "tiles/TileInput.h"

namespace vellumar::tiles {

// What reading a text's structure found out about the lattices of its grids. The calculator
// evaluates while it parses and keeps no tree, so the text is read here once more, by the
// calculator's grammar (statements, assignments, + - * / ^, unary minus, parentheses and calls)
// and with its lexer, and every sub-expression gets the lattice its value lies on, computed
// bottom-up with the engine's own rule for two grids (grid::commonLattice). A value the
// arithmetic reads through its surface onto another lattice becomes an input of its own on that
// lattice (TileInput::surfaceOn), named in the text in its place: an input's windows are read
// from it, an intermediate result's are its expression evaluated over windows of its own inputs
// (TileInput::evaluated). A value that depends on names the text assigns is refused there.
struct LatticePlan {
  // False when the text lies outside what the reader follows (a syntax error, or a shape such as
  // a stray ')' that the calculator passes over): nothing else below is set then.
  bool understood = false;
  // The text rebuilt from its tokens, with the inputs read onto other lattices renamed.
  std::string text;
  std::vector<NamedInput> inputs;  // the inputs given, then those on other lattices
  // The lattice of the result; nullopt when it is not a grid the reader could follow.
  std::optional<grid::Lattice> lattice;
  // Why the text cannot be evaluated by tiles, in the calculator's language; empty when it can.
  std::string refusal;
};

// Reads the text's structure with the names, numbers and settings of calc; inputs are the grids
// read by tiles (those taken out of Cut and Dense included).
LatticePlan planLattices(const engine::S_Calculator& calc, const std::string& text,
                         std::vector<NamedInput> inputs);

}  // namespace vellumar::tiles
