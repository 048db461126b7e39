#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "data/M_Data.h"

namespace vellumar::data {

// The cells of the first lines of a data file, split exactly as M_Data::ReadBytes splits them
// (the same line ends, delimiters, merging, quoted fields and header), so that a user choosing
// the format sees the columns the load will give. Every row has columnCount cells, short lines
// padded with empty ones; the column count is the reader's: the most fields of a row, or the
// header's fields when no row is shown. Cells and captions are UTF-8; a text that is not valid
// UTF-8 is read as CP1251, as the reader reads it.
struct CellPreview {
  int columnCount = 0;
  // The header's cells with a header line (empty for a column it does not name), else the
  // reader's column names "1", "2", ...
  std::vector<std::string> captions;
  std::vector<std::vector<std::string>> rows;
};

// The preview of head, the start of a data file in whole lines: at most maxRows rows after the
// header. It ends before the first line the reader refuses (a control byte, a quote left open,
// a line end of the other kind); a refused header or delimiter gives an empty preview.
CellPreview previewCells(std::string_view head, const ReadOptions& options, int maxRows);

// The bytes of a file's start that hold its first lines (lines the reader accepts), with a byte
// order mark: what a caller reads for the preview of that many lines.
std::size_t previewHeadBytes(int lines);

}  // namespace vellumar::data
