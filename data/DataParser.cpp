// Reading of delimited data files into M_Data: one pass types the columns and stores every
// numeric cell straight from the buffer; a second pass over the lines collects the cells of the
// columns that stay text, if there are any.
#include <algorithm>
#include <charconv>
#include <climits>
#include <memory>
#include <new>
#include <span>
#include <stdexcept>
#include <string>
#include <vector>

#include "common/CFormat.h"
#include "common/FileIo.h"
#include "common/Memory.h"
#include "common/Parallel.h"
#include "common/TextEncoding.h"
#include "data/DelimitedText.h"
#include "data/M_Data.h"

namespace vellumar::data {

using detail::FieldSplitter;
using detail::LineCursor;

namespace {

// True for characters std::from_chars may read as part of a number ("1.5e-3", "inf",
// "nan(x_1)"): with such a delimiter a field's end is found by scanning, not by parsing.
bool canBePartOfNumber(char c) {
  const bool alphanumeric =
      (c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
  return alphanumeric || c == '.' || c == '+' || c == '-' || c == '_' || c == '(' || c == ')';
}

// A column while the file is read. Its values hold the numbers read so far; a field strtod does
// not read whole makes it text, but while every field trimmed of blanks still reads whole (the
// comma-separated "1.5 ," case) the values are kept and the column ends up numeric.
struct Draft {
  std::vector<double> values;
  bool text = false;
  bool trimmedNumeric = true;
  bool pureText() const { return text && !trimmedNumeric; }
  // A quoted cell makes its column text, whatever it holds.
  void makeText() {
    text = true;
    trimmedNumeric = false;
    values = {};
  }
};

// What typing a field needs to know of the file.
struct TypingRules {
  const FieldSplitter& splitter;
  double missing;
  std::size_t tableRows;  // the rows of the whole table
  std::size_t cellLimit;  // more cells than this mean absurdly ragged lines
  // from_chars may read a field only when no delimiter can hide inside the number it reads.
  bool fastNumbers;
};

// The columns of a run of rows as its lines are typed: a column's type is settled by its own
// fields, so the runs of a file can be typed apart and their drafts joined in order.
class RowDrafts {
 public:
  RowDrafts(const TypingRules& rules, std::size_t rows) : rules_(rules), rows_(rows) {}

  // Types the fields of line as row `row` of the run and stores its numbers; false for a line
  // that is no row of the table.
  bool readLine(std::size_t row, std::string_view line, int named) {
    return rules_.splitter.split(
        line.data(), line.data() + line.size(),
        [&](int index, const char* text, const char* from, const char* end) {
          return numberField(row, index, text, from, end);
        },
        named);
  }

  std::vector<Draft>& drafts() { return drafts_; }
  unsigned seen() const { return seen_; }

  // The draft of column index, made (every row missing) when the run first reaches it; null
  // when the lines are absurdly ragged.
  Draft* column(int index) {
    if (static_cast<std::size_t>(index) < drafts_.size()) return &drafts_[index];
    if ((drafts_.size() + 1) * rules_.tableRows > rules_.cellLimit) return nullptr;
    memory::require(rules_.tableRows * sizeof(double));
    drafts_.push_back(Draft{memory::filledVector(rows_, rules_.missing)});
    return &drafts_.back();
  }

 private:
  // Types one field of row `row` and stores its number; returns the field's end.
  const char* numberField(std::size_t row, int index, const char* text, const char* from,
                          const char* end) {
    Draft* draft = column(index);
    if (draft == nullptr) return nullptr;
    if (rules_.fastNumbers && !draft->pureText() && text == from && from < end) {
      double value = 0.0;
      const auto result = std::from_chars(from, end, value);
      if (result.ec == std::errc() &&
          (result.ptr == end || rules_.splitter.isDelimiter(*result.ptr))) {
        draft->values[row] = value;
        return result.ptr;
      }
    }
    bool quoted = false;
    const char* fieldEnd = rules_.splitter.fieldEnd(from, end, seen_, quoted);
    if (fieldEnd == nullptr || draft->pureText()) return fieldEnd;
    if (quoted) {
      draft->makeText();
    } else {
      typeField(*draft, row, text, fieldEnd);
    }
    return fieldEnd;
  }

  void typeField(Draft& draft, std::size_t row, const char* text, const char* end) const {
    if (text == end) return;  // empty: a numeric cell holding the missing-cell value
    double value = 0.0;
    if (!draft.text && parseWholeDouble(std::string_view(text, end - text), value)) {
      draft.values[row] = value;
      return;
    }
    draft.text = true;
    const std::string_view trimmed = trimSpacesAndTabs(std::string_view(text, end - text));
    if (trimmed.empty()) {
      draft.values[row] = rules_.missing;
    } else if (parseWholeDouble(trimmed, value)) {
      draft.values[row] = value;
    } else {
      draft.makeText();
    }
  }

  const TypingRules& rules_;
  std::size_t rows_;
  std::vector<Draft> drafts_;
  unsigned seen_ = 0;  // OR of the bytes read as text: below 0x80 means pure ASCII
};

// A piece of the rows of a large file, typed on a thread of its own.
struct RowPiece {
  std::string_view text;  // whole lines
  std::size_t firstRow = 0;
  std::size_t rows = 0;
  std::unique_ptr<RowDrafts> drafts;
  std::size_t faultRow = 0;  // within the piece, when faulty
  bool faulty = false;
};

// Files whose rows hold more bytes than this are read in pieces of about this size on several
// threads, a batch of pieces at a time.
constexpr std::size_t kRowPieceBytes = std::size_t(1) << 20;
constexpr std::size_t kRowPiecesPerThread = 4;

// Cuts text into pieces of whole lines of about kRowPieceBytes each.
std::vector<RowPiece> cutRowPieces(std::string_view text) {
  std::vector<RowPiece> pieces;
  for (std::size_t begin = 0; begin < text.size();) {
    std::size_t end = text.find('\n', std::min(text.size(), begin + kRowPieceBytes));
    end = end == std::string_view::npos ? text.size() : end + 1;
    RowPiece piece;
    piece.text = text.substr(begin, end - begin);
    pieces.push_back(std::move(piece));
    begin = end;
  }
  return pieces;
}

}  // namespace

// Fills an M_Data from the bytes of a data file; see M_Data::ReadBytes.
class DataParser {
 public:
  DataParser(M_Data& table, std::string_view bytes, ErrorSink* progress)
      : table_(table),
        bytes_(bytes),
        progress_(progress),
        splitter_(table.options_.delimiter, table.options_.mergeDelimiters),
        missing_(table.missingCell_) {}

  ReadStatus run() {
    if (bytes_.empty() || !FieldSplitter::validDelimiter(table_.options_.delimiter)) {
      return ReadStatus::InvalidFormat;
    }
    const std::size_t lines = detail::countLines(bytes_);
    const std::size_t header = table_.options_.hasHeader ? 1 : 0;
    if (lines <= header || lines - header > static_cast<std::size_t>(INT_MAX)) {
      return ReadStatus::InvalidFormat;
    }
    rows_ = lines - header;
    rowsRead_ = ProgressPacer::opening(progress_, static_cast<std::int64_t>(rows_));
    std::vector<std::string_view> headerFields;
    if (!typeAndStoreNumbers(header != 0, headerFields)) {
      return cancelled_ ? ReadStatus::Cancelled : ReadStatus::InvalidFormat;
    }
    utf8_ = seen_ < 0x80 || isValidUtf8(bytes_);
    if (hasTextColumns() && !collectTexts(header != 0)) return ReadStatus::InvalidFormat;
    finish(headerFields);
    return ReadStatus::Ok;
  }

 private:
  bool hasTextColumns() const {
    for (const Draft& d : drafts_) {
      if (d.pureText()) return true;
    }
    return false;
  }

  TypingRules rules() const {
    return {splitter_, missing_, rows_, 16 * bytes_.size() + (std::size_t(1) << 20),
            !canBePartOfNumber(table_.options_.delimiter)};
  }

  bool typeAndStoreNumbers(bool header, std::vector<std::string_view>& headerFields) {
    LineCursor cursor(bytes_);
    std::string_view line;
    faultLine_ = 1;
    if (header) {
      if (!cursor.next(line) || !splitHeader(line, headerFields)) return false;
      named_ = static_cast<int>(headerFields.size());
    }
    firstRowLine_ = header ? 2 : 1;
    const TypingRules typing = rules();
    const std::string_view rows = bytes_.substr(cursor.position());
    const bool typed = rows.size() > 2 * kRowPieceBytes ? typeInPieces(typing, rows, cursor.crlf())
                                                        : typeSerially(typing, cursor);
    if (!typed) return false;
    faultLine_ = 0;
    return !drafts_.empty();
  }

  // Types the rows line by line, into the table's drafts.
  bool typeSerially(const TypingRules& typing, LineCursor& cursor) {
    RowDrafts all(typing, rows_);
    std::string_view line;
    std::size_t row = 0;
    while (true) {
      faultLine_ = firstRowLine_ + static_cast<std::int64_t>(row);
      if (!cursor.next(line)) break;
      if (!all.readLine(row, line, named_)) return false;
      ++row;
      if ((row % kRowsPerReport == 0 || row == rows_) && !reportUpTo(row)) return false;
    }
    if (cursor.bad()) return false;
    faultLine_ = 0;
    if (row != rows_) return false;
    drafts_ = std::move(all.drafts());
    seen_ |= all.seen();
    return true;
  }

  // Types the rows of a large file in pieces of whole lines on several threads, a batch of
  // pieces at a time: the lines of every piece are counted, which places its first row, then
  // each piece is typed into drafts of its own, and the drafts are joined into the table's in
  // order. Columns are typed by their own fields, so the table is the serial reader's, and so is
  // a fault: the first line at fault names its line.
  bool typeInPieces(const TypingRules& typing, std::string_view rows, bool crlf) {
    std::vector<RowPiece> pieces = cutRowPieces(rows);
    const std::size_t batch = kRowPiecesPerThread * parallel::threadLimit();
    std::size_t read = 0;
    for (std::size_t first = 0; first < pieces.size(); first += batch) {
      const std::span<RowPiece> now(pieces.data() + first, std::min(batch, pieces.size() - first));
      parallel::forEachBlock(
          now.size(),
          [&](std::size_t begin, std::size_t end) {
            for (std::size_t k = begin; k < end; ++k) now[k].rows = detail::countLines(now[k].text);
          },
          parallel::kCostlyItems);
      for (RowPiece& piece : now) {
        piece.firstRow = read;
        read += piece.rows;
      }
      if (read > rows_) {
        faultLine_ = 0;
        return false;
      }
      parallel::forEachBlock(
          now.size(),
          [&](std::size_t begin, std::size_t end) {
            for (std::size_t k = begin; k < end; ++k) typePiece(typing, now[k], crlf);
          },
          parallel::kCostlyItems);
      if (!joinPieces(typing, now) || !reportUpTo(read)) return false;
    }
    faultLine_ = 0;
    return read == rows_;
  }

  void typePiece(const TypingRules& typing, RowPiece& piece, bool crlf) const {
    piece.drafts = std::make_unique<RowDrafts>(typing, piece.rows);
    LineCursor cursor(piece.text, crlf);
    std::string_view line;
    for (std::size_t row = 0; row < piece.rows; ++row) {
      if (!cursor.next(line) || !piece.drafts->readLine(row, line, named_)) {
        piece.faulty = true;
        piece.faultRow = row;
        return;
      }
    }
  }

  // Joins the drafts of the pieces into the table's, in order, up to the first piece at fault;
  // false at a fault. The numbers are copied on several threads, once the columns are known.
  bool joinPieces(const TypingRules& typing, std::span<RowPiece> pieces) {
    RowDrafts table(typing, rows_);
    table.drafts() = std::move(drafts_);
    for (const RowPiece& piece : pieces) {
      if (piece.faulty) {
        faultLine_ = firstRowLine_ + static_cast<std::int64_t>(piece.firstRow + piece.faultRow);
        return false;
      }
      seen_ |= piece.drafts->seen();
      const std::vector<Draft>& own = piece.drafts->drafts();
      for (std::size_t j = 0; j < own.size(); ++j) {
        Draft& joined = *table.column(static_cast<int>(j));
        joined.text = joined.text || own[j].text;
        if (own[j].pureText() && !joined.pureText()) joined.makeText();
      }
    }
    drafts_ = std::move(table.drafts());
    parallel::forEachBlock(
        pieces.size(),
        [&](std::size_t begin, std::size_t end) {
          for (std::size_t k = begin; k < end; ++k) copyNumbers(pieces[k]);
        },
        parallel::kCostlyItems);
    return true;
  }

  // Copies the numbers of a piece into the table's numeric columns, and frees the piece's drafts.
  void copyNumbers(RowPiece& piece) {
    const std::vector<Draft>& own = piece.drafts->drafts();
    for (std::size_t j = 0; j < own.size(); ++j) {
      if (drafts_[j].pureText()) continue;
      std::copy(own[j].values.begin(), own[j].values.end(),
                drafts_[j].values.begin() + static_cast<std::ptrdiff_t>(piece.firstRow));
    }
    piece.drafts.reset();
  }

  // Reports the rows read so far; false (and cancelled_) when the user cancelled.
  bool reportUpTo(std::size_t row) {
    if (rowsRead_.advance(static_cast<std::int64_t>(row))) return true;
    cancelled_ = true;
    return false;
  }

  bool splitHeader(std::string_view line, std::vector<std::string_view>& fields) {
    return splitter_.split(line.data(), line.data() + line.size(),
                           [&](int, const char* text, const char* from, const char* end) {
                             bool quoted = false;
                             const char* fieldEnd = splitter_.fieldEnd(from, end, seen_, quoted);
                             if (fieldEnd != nullptr) {
                               if (quoted) text = from;
                               fields.emplace_back(text, fieldEnd - text);
                             }
                             return fieldEnd;
                           });
  }

  std::string textOf(std::string_view raw) const {
    std::string text = splitter_.cellText(raw);
    if (utf8_) return text;
    return cp1251ToUtf8(text);
  }

  // Second pass: the cells of the columns that stay text.
  bool collectTexts(bool header) {
    texts_.resize(drafts_.size());
    for (std::size_t j = 0; j < drafts_.size(); ++j) {
      if (drafts_[j].pureText()) texts_[j] = memory::filledVector(rows_, std::string());
    }
    LineCursor cursor(bytes_);
    std::string_view line;
    if (header) cursor.next(line);
    unsigned ignored = 0;
    for (std::size_t row = 0; cursor.next(line); ++row) {
      splitter_.split(
          line.data(), line.data() + line.size(),
          [&](int index, const char* text, const char* from, const char* end) {
            bool quoted = false;
            const char* fieldEnd = splitter_.fieldEnd(from, end, ignored, quoted);
            if (quoted) text = from;
            if (static_cast<std::size_t>(index) < drafts_.size() && drafts_[index].pureText()) {
              texts_[index][row] = textOf(std::string_view(text, fieldEnd - text));
            }
            return fieldEnd;
          },
          named_);
    }
    return true;
  }

  void finish(const std::vector<std::string_view>& headerFields) {
    M_Data& t = table_;
    t.Clear();
    t.rows_ = static_cast<int>(rows_);
    t.rowMarks_ = memory::filledVector(rows_, 0);
    t.columns_.resize(drafts_.size());
    for (std::size_t j = 0; j < drafts_.size(); ++j) {
      M_Data::Column& c = t.columns_[j];
      c.decimals = t.defaultDecimals_;
      if (table_.options_.hasHeader) {
        c.name = j < headerFields.size() ? textOf(headerFields[j]) : std::string();
      } else {
        c.name = std::to_string(j + 1);
      }
      if (!drafts_[j].pureText()) {
        c.width = 0;
        c.numbers = std::move(drafts_[j].values);
        continue;
      }
      c.texts = std::move(texts_[j]);
      std::size_t longest = 0;
      for (const std::string& text : c.texts) longest = std::max(longest, text.size());
      c.width = static_cast<int>(std::min<std::size_t>(longest + 1, INT_MAX));
    }
  }

  // Progress is told of every so many rows: often enough for a cancel to act at once, seldom
  // enough to cost nothing beside the parsing.
  static constexpr std::size_t kRowsPerReport = 4096;

 public:
  // The 1-based line at fault after run() found the text invalid; 0 when no line is at fault.
  std::int64_t faultLine() const { return faultLine_; }

 private:
  M_Data& table_;
  std::string_view bytes_;
  ErrorSink* progress_;
  ProgressPacer rowsRead_{nullptr, 0};  // opened once the rows are counted
  std::int64_t faultLine_ = 0;
  bool cancelled_ = false;
  FieldSplitter splitter_;
  double missing_;
  std::size_t rows_ = 0;
  int named_ = 0;  // fields the header names
  std::int64_t firstRowLine_ = 1;
  std::vector<Draft> drafts_;
  std::vector<std::vector<std::string>> texts_;
  unsigned seen_ = 0;  // OR of the bytes read as text: below 0x80 means pure ASCII
  bool utf8_ = true;
};

DataRead M_Data::ReadBytes(std::string_view bytes, ErrorSink* progress) {
  M_Data parsed;
  parsed.options_ = options_;
  parsed.missingCell_ = missingCell_;
  parsed.defaultDecimals_ = defaultDecimals_;
  parsed.rowNumberOffset_ = rowNumberOffset_;
  // Windows editors start UTF-8 files with a byte order mark; it is no part of the first cell.
  std::string converted;
  DataParser parser(parsed, detail::dataText(withoutByteOrderMark(bytes), converted), progress);
  const ReadStatus status = parser.run();
  forgetContents();
  if (status == ReadStatus::Ok) *this = std::move(parsed);
  if (status == ReadStatus::InvalidFormat) return {status, {parser.faultLine()}};
  return {status, {}};
}

DataRead M_Data::ReadFile(const std::string& path, ErrorSink* progress) {
  FileBytes bytes;
  FileStamp stamp;
  const FileError error = readFile(path, bytes, &stamp);
  if (error != FileError::None) {
    forgetContents();
    return {ReadStatus::CannotOpen, {}};
  }
  const DataRead read = ReadBytes(bytes.view(), progress);
  if (read) {
    path_ = path;
    stamp_ = stamp;
  }
  return read;
}

}  // namespace vellumar::data
