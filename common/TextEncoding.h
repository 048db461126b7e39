#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace vellumar {

// Text is UTF-8 inside the program. Files written on Russian Windows desktops are often CP1251;
// a file that is not valid UTF-8 is taken to be CP1251.

bool isValidUtf8(std::string_view text);
std::string cp1251ToUtf8(std::string_view text);
// The text itself when it is valid UTF-8, else its CP1251 reading converted to UTF-8.
std::string toUtf8(std::string_view text);

// The text without the UTF-8 byte order mark that Windows editors put at its start.
std::string_view withoutByteOrderMark(std::string_view text);
// The text of a text file as the program holds it: the byte order mark dropped, CR LF line breaks
// as LF, UTF-8 (a file that is not valid UTF-8 read as CP1251).
std::string textOfFile(std::string_view bytes);

// Decodes the code point starting at text[pos]; returns its length in bytes (at least 1) and
// stores U+FFFD for a malformed sequence.
std::size_t decodeUtf8(std::string_view text, std::size_t pos, char32_t& codePoint);
void appendUtf8(std::string& out, char32_t codePoint);
// Number of code points (characters as a user counts them) in UTF-8 text.
std::size_t utf8Length(std::string_view text);

// The text cut to at most maxBytes without splitting a UTF-8 sequence (a DBF field, a table cell).
std::string_view cutUtf8(std::string_view text, std::size_t maxBytes);

// The text without any of characters at either end.
std::string_view trimAny(std::string_view text, std::string_view characters);
// A cell of a delimited data file: the blanks a line pads its fields with, spaces and tabs, are
// no part of its text.
inline std::string_view trimSpacesAndTabs(std::string_view text) {
  return trimAny(text, " \t");
}
// A DBF text field: padded with spaces only; a tab in it is part of its text.
inline std::string_view trimSpaces(std::string_view text) {
  return trimAny(text, " ");
}

}  // namespace vellumar
