#pragma once

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstring>
#include <string>
#include <string_view>

#include "common/TextEncoding.h"

namespace vellumar::data::detail {

// The lines and fields of a delimited data file, shared by the reader and the column appender so
// that both see exactly the same fields.

// Longest line accepted; anything longer is not a data file.
inline constexpr std::size_t kMaxLineBytes = 100000;

// Walks the lines of a buffer. Line ends are LF or CR LF, one kind per file: the first line end
// decides, and a later line of the other kind marks the buffer as bad. A last line without a line
// end counts. The CR of a CR LF line end is not part of the line.
class LineCursor {
 public:
  explicit LineCursor(std::string_view bytes) : bytes_(bytes) {
    // An empty view may have no data at all, which memchr must not be given.
    const void* lf = bytes.empty() ? nullptr : std::memchr(bytes.data(), '\n', bytes.size());
    if (lf != nullptr) {
      const auto at = static_cast<const char*>(lf) - bytes.data();
      crlf_ = at > 0 && bytes[at - 1] == '\r';
    }
  }

  // The lines of a part of a buffer whose line end kind is known: crlf for CR LF.
  LineCursor(std::string_view bytes, bool crlf) : bytes_(bytes), crlf_(crlf) {}

  // Next line, false at the end or when the buffer is bad (see bad()).
  bool next(std::string_view& line) {
    if (bad_ || pos_ >= bytes_.size()) return false;
    const char* begin = bytes_.data() + pos_;
    const std::size_t rest = bytes_.size() - pos_;
    const void* lf = std::memchr(begin, '\n', rest);
    const std::size_t length = lf ? static_cast<const char*>(lf) - begin : rest;
    pos_ += lf ? length + 1 : length;
    line = std::string_view(begin, length);
    if (lf && crlf_) {
      if (line.empty() || line.back() != '\r') return fail();
      line.remove_suffix(1);
    }
    if (line.size() > kMaxLineBytes) return fail();
    return true;
  }

  bool bad() const { return bad_; }
  bool crlf() const { return crlf_; }
  // The offset of the first byte not walked yet.
  std::size_t position() const { return pos_; }

 private:
  bool fail() {
    bad_ = true;
    return false;
  }

  std::string_view bytes_;
  std::size_t pos_ = 0;
  bool crlf_ = false;
  bool bad_ = false;
};

// Number of lines LineCursor yields for a buffer that is not bad.
inline std::size_t countLines(std::string_view bytes) {
  std::size_t count = 0;
  for (char c : bytes) count += (c == '\n');
  return count + (!bytes.empty() && bytes.back() != '\n' ? 1 : 0);
}

// The part of a data file's bytes that the reader and the column appender split into lines: a
// file whose only line ends are CR (as old Mac editors wrote them) is read as if they were LF,
// and the blank lines at the end of a file (nothing but blanks on them) are no rows and are left
// out. storage holds the converted bytes when a conversion was needed.
inline std::string_view dataText(std::string_view bytes, std::string& storage) {
  if (bytes.find('\n') == std::string_view::npos && bytes.find('\r') != std::string_view::npos) {
    storage.assign(bytes);
    for (char& c : storage) {
      if (c == '\r') c = '\n';
    }
    bytes = storage;
  }
  const std::size_t last = bytes.find_last_not_of(" \t\r\n");
  if (last == std::string_view::npos) return {};
  const std::size_t lineEnd = bytes.find('\n', last);
  return lineEnd == std::string_view::npos ? bytes : bytes.substr(0, lineEnd + 1);
}

// Splits one line into fields. The run of delimiters at the end of a line is cut off; the run at
// its start does not separate (it stays in front of the first field's text). With merging, a run
// of delimiters separates one pair of fields and the extra delimiters lead the next field (they
// read as blanks); without merging each delimiter separates, so "1,,3" has an empty middle field,
// and the trailing run still separates the fields the header names: under the header "a,b,c,d"
// the line "1,2,3," has an empty fourth field.
//
// With the comma delimiter a field may be quoted as in RFC 4180: when its first byte after blanks
// is a double quote, it runs to the closing quote ("" inside stands for one quote), so it may hold
// commas. A quoted field is a text cell; it must close on its line. Other delimiters leave quotes
// as ordinary text.
//
// Bytes a text file never holds (zero and control bytes other than tab, VT and FF, or a CR inside
// a line) are refused by fieldEnd, which the field visitors call for every byte they do not read
// as a number; together the splitter and its visitors look at every byte of a line.
class FieldSplitter {
 public:
  FieldSplitter(char delimiter, bool merge) : merge_(merge), quotes_(delimiter == ',') {
    for (int c = 0; c < 32; ++c) classes_[c] = kForbidden;
    classes_['\t'] = classes_['\v'] = classes_['\f'] = kOrdinary;
    if (delimiter == 0) {
      classes_[' '] = classes_['\t'] = kDelimiter;
    } else {
      classes_[static_cast<unsigned char>(delimiter)] = kDelimiter;
    }
  }

  // A delimiter the file format cannot hold.
  static bool validDelimiter(char delimiter) { return delimiter != '\n' && delimiter != '\r'; }

  bool isDelimiter(char c) const { return classes_[static_cast<unsigned char>(c)] == kDelimiter; }

  // The end of the line without its trailing run of delimiters.
  const char* contentEnd(const char* begin, const char* end) const {
    while (end > begin && isDelimiter(end[-1])) --end;
    return end;
  }

  // First delimiter in [p, end), or end; nullptr when a forbidden byte comes first. ORs every
  // byte passed into seen, so the caller learns whether the text is pure ASCII.
  const char* findDelimiter(const char* p, const char* end, unsigned& seen) const {
    for (; p < end; ++p) {
      const auto c = static_cast<unsigned char>(*p);
      seen |= c;
      if (classes_[c] != kOrdinary) return classes_[c] == kDelimiter ? p : nullptr;
    }
    return end;
  }

  // True when the field whose text starts at p is quoted.
  bool quoted(const char* p, const char* end) const {
    if (!quotes_) return false;
    while (p < end && (*p == ' ' || *p == '\t')) ++p;
    return p < end && *p == '"';
  }

  // End of the field whose separator is searched from p: its first delimiter, for a quoted field
  // the first one after the closing quote, or end. nullptr for a forbidden byte or a quote that
  // does not close on the line. isQuoted tells whether the field is quoted; seen as above.
  const char* fieldEnd(const char* p, const char* end, unsigned& seen, bool& isQuoted) const {
    isQuoted = quoted(p, end);
    if (!isQuoted) return findDelimiter(p, end, seen);
    const char* q = static_cast<const char*>(std::memchr(p, '"', end - p)) + 1;
    for (;; ++q) {
      q = findByte(q, end, '"', seen);
      if (q == nullptr || q == end) return nullptr;
      if (q + 1 == end || q[1] != '"') break;
      ++q;  // "" inside the quotes
    }
    return findDelimiter(q + 1, end, seen);
  }

  // The text of a field from its first byte to its end, in the file's encoding: blanks trimmed,
  // or for a quoted field the text between the quotes ("" read as one quote) followed by what
  // stands between the closing quote and the field's end, less its trailing blanks.
  std::string cellText(std::string_view field) const;

  // Calls visit(index, text, from, end) for each field of [begin, end). The field's text starts
  // at text and its separator is searched from from (text < from only for the first field of a
  // line with leading delimiters); end is the line's content end (for the empty fields of a
  // trailing run, the field's own place). visit returns the field's end (end or a separator), or
  // nullptr to stop. named is the number of fields the header names (0 without one). Returns
  // false when a visit stopped.
  template <class Visit>
  bool split(const char* begin, const char* end, Visit&& visit, int named = 0) const {
    const char* content = contentEnd(begin, end);
    const char* from = begin;
    while (from < content && isDelimiter(*from)) ++from;
    const char* text = begin;
    int index = 0;
    for (;; ++index) {
      const char* fieldEnd = visit(index, text, from, content);
      if (fieldEnd == nullptr) return false;
      if (fieldEnd == content) break;
      from = fieldEnd + 1;
      if (merge_) {
        while (from < content && isDelimiter(*from)) ++from;
      }
      text = from;
    }
    if (merge_ || content == begin) return true;
    for (const char* p = content + 1; p <= end && ++index < named; ++p) {
      if (visit(index, p, p, p) == nullptr) return false;
    }
    return true;
  }

 private:
  static constexpr unsigned char kOrdinary = 0;
  static constexpr unsigned char kDelimiter = 1;
  static constexpr unsigned char kForbidden = 2;

  // Like findDelimiter, for the byte wanted instead of a delimiter.
  const char* findByte(const char* p, const char* end, char wanted, unsigned& seen) const {
    for (; p < end && *p != wanted; ++p) {
      const auto c = static_cast<unsigned char>(*p);
      seen |= c;
      if (classes_[c] == kForbidden) return nullptr;
    }
    return p;
  }

  std::array<unsigned char, 256> classes_{};
  bool merge_;
  bool quotes_;  // the comma delimiter: fields may be quoted
};

inline std::string FieldSplitter::cellText(std::string_view field) const {
  if (!quoted(field.data(), field.data() + field.size()))
    return std::string(trimSpacesAndTabs(field));
  std::string text;
  std::size_t i = field.find('"') + 1;
  for (; i < field.size(); ++i) {
    if (field[i] == '"') {
      if (i + 1 == field.size() || field[i + 1] != '"') break;
      ++i;
    }
    text += field[i];
  }
  const std::string_view rest = field.substr(std::min(i + 1, field.size()));
  text += rest.substr(0, rest.find_last_not_of(" \t") + 1);
  return text;
}

}  // namespace vellumar::data::detail
