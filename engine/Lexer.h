#pragma once

#include <string>
#include <string_view>

#include "common/ErrorSink.h"
#include "common/Language.h"

namespace vellumar::engine {

// Token codes. Single-character tokens use their character code.
namespace token {
inline constexpr int kEnd = -1;  // end of the input, or the input discarded after an error
inline constexpr int kName = 0;  // also left after an invalid character
inline constexpr int kNumber = 1;
inline constexpr int kFunction = 2;
}  // namespace token

// Splits a display text into tokens. Blanks are skipped between tokens and also inside numbers
// and identifiers ("1 000" is 1000, "Sq rt" is Sqrt). Identifiers are made of Latin and Cyrillic
// letters, digits and '_', starting with a letter. Lexical errors are recorded on the sink as
// complete messages (code 1); once the sink holds any error the rest of the input is discarded.
class Lexer {
 public:
  void reset(std::string input);
  // Reads the next token; kName is returned for every identifier (the caller tells functions).
  int next(ErrorSink& sink, Language language);

  double number() const { return number_; }
  const std::string& identifier() const { return identifier_; }
  // True when every character has been read.
  bool atEnd() const { return position_ >= input_.size(); }

 private:
  int scanNumber(ErrorSink& sink, Language language);
  int scanIdentifier();
  // Length of the letter starting at position, or 0 when no letter starts there.
  std::size_t letterLength(std::size_t position) const;
  void invalidSymbol(ErrorSink& sink, Language language, std::size_t position);

  std::string input_;
  std::size_t position_ = 0;
  double number_ = 0.0;
  std::string identifier_;
};

}  // namespace vellumar::engine
