#include "engine/Lexer.h"

#include <cmath>

#include "common/CFormat.h"
#include "common/TextEncoding.h"
#include "engine/EngineMessages.h"

namespace vellumar::engine {
namespace {

bool isBlank(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f';
}
bool isDigit(char c) {
  return c >= '0' && c <= '9';
}
bool isAsciiLetter(char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}
bool isCyrillicLetter(char32_t c) {
  return (c >= 0x0400 && c <= 0x0481) || (c >= 0x048A && c <= 0x052F);
}

// States of the number scanner.
enum class NumberState { Digits, AfterPoint, AfterExponentLetter, AfterExponentSign };

}  // namespace

void Lexer::reset(std::string input) {
  input_ = std::move(input);
  position_ = 0;
}

int Lexer::next(ErrorSink& sink, Language language) {
  if (sink.failed()) {
    position_ = input_.size();
    return token::kEnd;
  }
  while (position_ < input_.size() && isBlank(input_[position_])) ++position_;
  if (position_ >= input_.size()) return token::kEnd;
  const char c = input_[position_];
  switch (c) {
    case '(':
    case ')':
    case '*':
    case '+':
    case ',':
    case '-':
    case '/':
    case ';':
    case '=':
    case '^':
      ++position_;
      return c;
    default:
      break;
  }
  if (isDigit(c) || c == '.') return scanNumber(sink, language);
  if (letterLength(position_) > 0) return scanIdentifier();
  invalidSymbol(sink, language, position_);
  return token::kName;
}

int Lexer::scanNumber(ErrorSink& sink, Language language) {
  std::string text;
  bool pointSeen = false;
  bool exponentSeen = false;
  NumberState state = NumberState::Digits;
  for (; position_ < input_.size(); ++position_) {
    const char c = input_[position_];
    if (isBlank(c)) continue;
    if (isDigit(c)) {
      state = NumberState::Digits;
    } else if (c == '.') {
      if (pointSeen || exponentSeen) {
        invalidSymbol(sink, language, position_);
        return token::kNumber;
      }
      pointSeen = true;
      state = NumberState::AfterPoint;
    } else if (c == 'e' || c == 'E') {
      if (exponentSeen || state == NumberState::AfterExponentSign) {
        invalidSymbol(sink, language, position_);
        return token::kNumber;
      }
      exponentSeen = true;
      state = NumberState::AfterExponentLetter;
    } else if (c == '+' || c == '-') {
      if (state != NumberState::AfterExponentLetter) break;
      state = NumberState::AfterExponentSign;
    } else {
      break;
    }
    text += c;
  }
  char* end = nullptr;
  number_ = cstrtod(text.c_str(), &end);
  if (number_ == HUGE_VAL) {
    sink.record(sink_code::kMessage, text + text::kOverflow.in(language));
  } else if (end != text.c_str() + text.size()) {
    invalidSymbol(sink, language, position_);
  }
  return token::kNumber;
}

std::size_t Lexer::letterLength(std::size_t position) const {
  const char c = input_[position];
  if (isAsciiLetter(c)) return 1;
  if (static_cast<unsigned char>(c) < 0x80) return 0;
  char32_t codePoint = 0;
  const std::size_t length = decodeUtf8(input_, position, codePoint);
  return isCyrillicLetter(codePoint) ? length : 0;
}

int Lexer::scanIdentifier() {
  identifier_.clear();
  while (position_ < input_.size()) {
    const char c = input_[position_];
    if (isBlank(c)) {
      ++position_;
      continue;
    }
    std::size_t length = (isDigit(c) || c == '_') ? 1 : letterLength(position_);
    if (length == 0) break;
    identifier_.append(input_, position_, length);
    position_ += length;
  }
  return token::kName;
}

void Lexer::invalidSymbol(ErrorSink& sink, Language language, std::size_t position) {
  std::string symbol;
  if (position < input_.size()) {
    char32_t codePoint = 0;
    const std::size_t length = decodeUtf8(input_, position, codePoint);
    if (codePoint == 0xFFFD) {
      appendUtf8(symbol, codePoint);
    } else {
      symbol.assign(input_, position, length);
    }
  }
  sink.record(sink_code::kMessage, std::string(text::kInvalidSymbol.in(language)) + symbol + "'");
}

}  // namespace vellumar::engine
