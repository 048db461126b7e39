#include "data/DataPreview.h"

#include <algorithm>

#include "common/TextEncoding.h"
#include "data/DelimitedText.h"

namespace vellumar::data {
namespace {

using detail::FieldSplitter;

// The cells of one line as the reader's text pass reads them, in the file's encoding; false when
// the reader refuses the line. named is the number of fields the header names.
bool splitLine(const FieldSplitter& splitter, std::string_view line, int named,
               std::vector<std::string>& cells) {
  unsigned seen = 0;
  return splitter.split(
      line.data(), line.data() + line.size(),
      [&](int, const char* text, const char* from, const char* end) {
        bool quoted = false;
        const char* fieldEnd = splitter.fieldEnd(from, end, seen, quoted);
        if (fieldEnd != nullptr) {
          if (quoted) text = from;
          cells.push_back(splitter.cellText(std::string_view(text, fieldEnd - text)));
        }
        return fieldEnd;
      },
      named);
}

}  // namespace

CellPreview previewCells(std::string_view head, const ReadOptions& options, int maxRows) {
  CellPreview preview;
  if (!FieldSplitter::validDelimiter(options.delimiter)) return preview;
  const FieldSplitter splitter(options.delimiter, options.mergeDelimiters);
  std::string converted;
  const std::string_view text = detail::dataText(withoutByteOrderMark(head), converted);
  const bool utf8 = isValidUtf8(text);
  auto inUtf8 = [utf8](std::vector<std::string>& cells) {
    if (utf8) return;
    for (std::string& cell : cells) cell = cp1251ToUtf8(cell);
  };

  detail::LineCursor cursor(text);
  std::string_view line;
  std::vector<std::string> header;
  if (options.hasHeader) {
    if (!cursor.next(line) || !splitLine(splitter, line, 0, header)) return preview;
    inUtf8(header);
  }
  const int named = static_cast<int>(header.size());
  std::size_t widest = 0;
  while (static_cast<int>(preview.rows.size()) < maxRows && cursor.next(line)) {
    std::vector<std::string> cells;
    if (!splitLine(splitter, line, named, cells)) break;
    inUtf8(cells);
    widest = std::max(widest, cells.size());
    preview.rows.push_back(std::move(cells));
  }
  if (preview.rows.empty()) widest = header.size();

  preview.columnCount = static_cast<int>(widest);
  for (auto& cells : preview.rows) cells.resize(widest);
  if (options.hasHeader) {
    header.resize(widest);
    preview.captions = std::move(header);
  } else {
    for (std::size_t j = 0; j < widest; ++j) preview.captions.push_back(std::to_string(j + 1));
  }
  return preview;
}

std::size_t previewHeadBytes(int lines) {
  // Each line at its longest, with a CR LF line end.
  return 3 + static_cast<std::size_t>(std::max(lines, 0)) * (detail::kMaxLineBytes + 2);
}

}  // namespace vellumar::data
