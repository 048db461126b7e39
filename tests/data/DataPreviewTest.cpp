#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "common/CFormat.h"
#include "data/DataPreview.h"
#include "data/M_Data.h"

namespace vellumar::data {
namespace {

using Cells = std::vector<std::vector<std::string>>;

TEST(DataPreview, AgreesWithTheReaderOnEveryOption) {
  // Each file is previewed and read with the same options: the preview has the table's columns
  // and header names, a text column's cells are the table's texts, and a numeric column's cells
  // read as its numbers (an empty cell as the missing value).
  const std::pair<const char*, ReadOptions> cases[] = {
      {"X Y Z\n0  0 5\n1 1\n  2 2 9\n", {' ', true, true}},
      {"a,b,c,d\n1,,3,\n\"x, y\",2,\"say \"\"hi\"\"\",4\n", {',', false, true}},
      {"1\t2\t3\n4\t\t6\n", {'\t', false, false}},
      {"1 \t 2\n3\t4\n", {0, true, false}},
      {",,1,2\n3,4\n", {',', true, false}},
      {"\xEF\xBB\xBFname;depth\r\nw1;10\r\nw2;20\r\n", {';', true, true}},
  };
  for (const auto& [bytes, options] : cases) {
    SCOPED_TRACE(bytes);
    M_Data table;
    table.setOptions(options);
    ASSERT_EQ(table.ReadBytes(bytes).status, ReadStatus::Ok);
    const CellPreview preview = previewCells(bytes, options, 20);
    ASSERT_EQ(preview.columnCount, table.columnCount());
    ASSERT_EQ(static_cast<int>(preview.rows.size()), table.rowCount());
    for (int j = 0; j < table.columnCount(); ++j) {
      EXPECT_EQ(preview.captions[j], table.columnName(j));
      for (int row = 0; row < table.rowCount(); ++row) {
        const std::string& cell = preview.rows[row][j];
        ASSERT_EQ(static_cast<int>(preview.rows[row].size()), table.columnCount());
        if (!table.isNumericColumn(j)) {
          EXPECT_EQ(cell, table.CellText(row, j));
          continue;
        }
        double value = table.missingCellValue();
        EXPECT_TRUE(cell.empty() || parseWholeDouble(cell, value)) << cell;
        EXPECT_EQ(value, table.NumericValue(row, j)) << row << "," << j;
      }
    }
  }
}

TEST(DataPreview, RowCapEncodingAndRefusedLines) {
  // At most maxRows rows; CP1251 text becomes UTF-8.
  EXPECT_EQ(previewCells("h\n1\n2\n3\n", {' ', true, true}, 2).rows, (Cells{{"1"}, {"2"}}));
  EXPECT_EQ(previewCells("\xC8\xEC\xFF 1\n", {' ', true, false}, 20).rows, (Cells{{"Имя", "1"}}));

  // The preview stops before a line the reader refuses; a refused header shows nothing, and a
  // header alone gives its columns.
  EXPECT_EQ(previewCells("1,2\n\"3,4\n5,6\n", {',', true, false}, 20).rows, (Cells{{"1", "2"}}));
  const CellPreview refused = previewCells("a\x01 b\n1 2\n", {' ', true, true}, 20);
  EXPECT_TRUE(refused.columnCount == 0 && refused.rows.empty() && refused.captions.empty());
  EXPECT_EQ(previewCells("x y\n", {' ', true, true}, 20).columnCount, 2);
  // Nothing read yet (a view without data) previews nothing.
  const CellPreview none = previewCells(std::string_view(), {' ', true, true}, 20);
  EXPECT_TRUE(none.columnCount == 0 && none.rows.empty() && none.captions.empty());
}

}  // namespace
}  // namespace vellumar::data
