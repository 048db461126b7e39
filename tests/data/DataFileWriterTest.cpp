#include <fcntl.h>
#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <cstdlib>
#include <random>
#include <string>
#include <tuple>
#include <vector>

#include "../common/TestSupport.h"
#include "common/CFormat.h"
#include "common/FileIo.h"
#include "common/SafeSave.h"
#include "data/DataColumnChoice.h"
#include "data/DataFileWriter.h"
#include "data/DataMessages.h"

namespace vellumar::data {
namespace {

using enum SaveStatus;

class DataFiles : public vellumar::testing::FolderTest {
 protected:
  std::string write(const std::string& name, const std::string& bytes) {
    EXPECT_TRUE(writeFileAtomically(path(name), bytes));
    return path(name);
  }

  static M_Data load(const std::string& path, ReadOptions options) {
    M_Data table;
    table.setOptions(options);
    EXPECT_EQ(table.ReadFile(path).status, ReadStatus::Ok);
    return table;
  }

  // Appends values (at x and y, checked against the chosen columns xy) to a new file of these
  // bytes, expects the bytes appended, and checks the round trip: the file reads back as the old
  // columns unchanged plus Zres holding the values, as the appending table holds it.
  void appends(const std::string& bytes, ReadOptions options, const std::vector<double>& values,
               const std::string& appended, CoordinateColumns xy = {},
               const std::vector<double>& x = {}, const std::vector<double>& y = {}) {
    SCOPED_TRACE(bytes);
    const std::string file = write("round.dat", bytes);
    M_Data table = load(file, options);
    const std::vector<std::string> before = columnsOf(table);
    const int added = table.columnCount();
    EXPECT_EQ(appendResultColumn(table, x.empty() ? DATA(values) : DATA(values, x, y), xy), Ok);
    const M_Data back = load(file, options);
    EXPECT_EQ(table.columnCount(), added + 1);
    EXPECT_EQ(columnsOf(table, added), before);
    EXPECT_EQ(columnsOf(back), columnsOf(table));
    EXPECT_EQ(back.columnName(added), options.hasHeader ? "Zres" : std::to_string(added + 1));
    std::vector<double> zres;
    for (int row = 0; row < back.rowCount(); ++row) zres.push_back(back.NumericValue(row, added));
    EXPECT_EQ(zres, values);
    EXPECT_EQ(readWholeFile(file), appended);
  }

  // The first count columns of a table (all when count is -1) as the table holds them: each
  // one's name, kind, and every cell's text and number.
  static std::vector<std::string> columnsOf(const M_Data& t, int count = -1) {
    std::vector<std::string> columns;
    for (int j = 0; j < (count < 0 ? t.columnCount() : count); ++j) {
      std::string& out = columns.emplace_back(t.columnName(j));
      out += t.isNumericColumn(j) ? " numeric:" : " text:";
      for (int row = 0; row < t.rowCount(); ++row)
        out += " '" + t.CellText(row, j) + "' " + cformat("%.17g", t.NumericValue(row, j));
    }
    return columns;
  }
};

// printf's own forms of a value as the writer chooses between them: "%lf" when it reads back
// as the value to 12 significant digits, else "%.12g".
std::string printfForm(double value) {
  const std::string fixed = cformat("%lf", value);
  return cformat("%.11e", cstrtod(fixed.c_str(), nullptr)) == cformat("%.11e", value)
             ? fixed
             : cformat("%.12g", value);
}

TEST_F(DataFiles, NewFilesHoldHeaderAndValuesAsPrintfWouldThatReadBackTo12Digits) {
  const DATA plain({2.5, -9999.0});
  EXPECT_EQ(dataFileBytes(plain), "Z\r\n2.500000\r\n-9999.000000\r\n");

  const DATA withXy({1e-7, 1.23456789012345, 1e20}, {1.5, 2.0, 3.0}, {-4.0, 5.0, 6.0});
  const std::string file = path("result.dat");
  ASSERT_EQ(saveDataFile(file, withXy), Ok);
  EXPECT_EQ(*readWholeFile(file),
            "X Y Z\r\n"
            "1.500000 -4.000000 1e-07\r\n"
            "2.000000 5.000000 1.23456789012\r\n"
            "3.000000 6.000000 100000000000000000000.000000\r\n");
  const M_Data back = load(file, {' ', true, true});
  ASSERT_EQ(back.rowCount(), 3);
  for (int row = 0; row < 3; ++row) {
    EXPECT_EQ(cformat("%.11e", back.NumericValue(row, 2)), cformat("%.11e", withXy.values()[row]));
    EXPECT_EQ(back.NumericValue(row, 0), withXy.x()[row]);
  }
  EXPECT_EQ(saveDataFile(path("missing/x.dat"), plain), BufferFailed);
  std::filesystem::create_directory(path("folder.dat"));
  EXPECT_EQ(saveDataFile(path("folder.dat"), plain), SaveFailed);

  // Large files are written as printf would, in blocks.
  std::mt19937_64 random(3);
  std::vector<double> values{
      0.0,    -0.0,     1e-7,           5e-7, 4.9e-324, 1.7976931348623157e308,
      -1e300, HUGE_VAL, 123456.0000004, 0.1};
  while (values.size() < 40000) {
    const double decade = std::pow(10.0, static_cast<int>(random() % 40) - 20);
    values.push_back(static_cast<double>(random() % 100000000) * decade / 7.0);
    values.push_back(std::bit_cast<double>(random()));
  }
  std::vector<double> x, y;
  std::string expected = "X Y Z\r\n";
  for (std::size_t k = 0; k < values.size(); ++k) {
    if (std::isnan(values[k])) values[k] = 1.5;  // "nan" spellings are no concern here
    x.push_back(k * 0.25), y.push_back(-static_cast<double>(k) / 3);
    expected += printfForm(x[k]) + " " + printfForm(y[k]) + " " + printfForm(values[k]) + "\r\n";
  }
  EXPECT_EQ(dataFileBytes(DATA(values, x, y)), expected);
}

TEST_F(DataFiles, AppendsKeepEveryLineAndReadBackAsTheOldColumnsAndZres) {
  const std::string cp1251 =
      "\"\xd0\xe0\xe9\xee\xed\",N\r\n\"\xc8\xe2\xe0\xed\xee\xe2, \xc8.\",5\r\n\"\xa8\",\r\n";
  // A text column and blanks after the last field, with the result's coordinates checked.
  appends("Name   X   Y\r\nwell-1 10  20\r\nwell-2 11  21   \r\n", {' ', true, true}, {0.5, 1e-9},
          "Name   X   Y Zres\r\nwell-1 10  20 0.500000\r\nwell-2 11  21 1e-09   \r\n", {true, 2, 3},
          {10.0, 11.0}, {20.0, 21.0});
  // Names past the table's columns are ignored by the reader; Zres goes before them.
  appends("A;B;C\n1;2\n", {';', false, true}, {5.0}, "A;B;Zres;C\n1;2;5.000000\n");
  // Short lines are filled in; unmerged delimiters stay where they were.
  appends("1,a,2,\n,,\n3,b\n", {',', false, false}, {1.0, 2.0, 3.0},
          "1,a,2,1.000000,\n0.000000,,0.000000,2.000000,,\n3,b,0.000000,3.000000\n");
  // An empty first text cell cannot be an empty field in front of a delimiter (a leading
  // delimiter does not separate): a blank stands for it, which reads as empty text.
  appends("a,1\n,\n", {',', false, false}, {1.0, 2.0}, "a,1,1.000000\n ,0.000000,2.000000,\n");
  // Each blank that is no delimiter reads as an empty text: it stands for the cell the short
  // row lacks, where merged delimiters cannot hold an empty field.
  appends("1 2 3 x\n4 5 6\n", {' ', true, false}, {6.0, 12.0},
          "1 2 3 x 6.000000\n4 5 6 \t 12.000000\n");
  appends("1,2,3,x\n4,5,6\n", {',', true, false}, {6.0, 12.0},
          "1,2,3,x,6.000000\n4,5,6, ,12.000000\n");
  appends("N X Name\nw1 1 a\nw2\n", {0, false, true}, {1.0, 2.0},
          "N X Name Zres\nw1 1 a 1.000000\nw2 0.000000  2.000000\n");
  // After a trailing field the header names; delimiters past the named fields stay after the
  // new value; with merging a trailing run is no field.
  appends("a,b,c,d\n1,2,3,\n2,,200,\n", {',', false, true}, {6.0, 400.0},
          "a,b,c,d,Zres\n1,2,3,,6.000000\n2,,200,,400.000000\n");
  appends("a;b;c\n1;;;;\n2\n", {';', false, true}, {1.0, 2.0},
          "a;b;c;Zres\n1;;;1.000000;;\n2;0.000000;0.000000;2.000000\n");
  appends("a,b,c,d\n1,2,3,\n", {',', true, true}, {5.0}, "a,b,c,Zres,d\n1,2,3,5.000000,\n");
  // The file's line ends are kept; one line without a line end takes those of new files, and
  // blank lines at the end are no rows.
  appends("X Y\n1 2\n3 4", {' ', true, true}, {1.0, 2.0}, "X Y Zres\n1 2 1.000000\n3 4 2.000000\n");
  appends("X Y\r\n1 2\r\n3 4\r\n\r\n  \r\n", {' ', true, true}, {1.0, 2.0},
          "X Y Zres\r\n1 2 1.000000\r\n3 4 2.000000\r\n");
  appends("X Y\r1 2\r", {' ', true, true}, {1.0}, "X Y Zres\r1 2 1.000000\r");
  appends("1 2", {' ', true, false}, {1.0}, "1 2 1.000000\r\n");
  // Quoted text is kept, also in CP1251 and after a UTF-8 byte order mark.
  appends("\"County, name\",depth\n\"Smith, J\",10\n\"say \"\"hi\"\"\" ,20\n\"\"\n",
          {',', false, true}, {1.0, 2.0, 3.0},
          "\"County, name\",depth,Zres\n\"Smith, J\",10,1.000000\n"
          "\"say \"\"hi\"\"\" ,20,2.000000\n\"\",0.000000,3.000000\n");
  appends(cp1251, {',', true, true}, {1.0, 2.0},
          "\"\xd0\xe0\xe9\xee\xed\",N,Zres\r\n\"\xc8\xe2\xe0\xed\xee\xe2, \xc8.\",5,1.000000\r\n"
          "\"\xa8\",0.000000,2.000000,\r\n");
  appends("\xEF\xBB\xBF\"Name, full\",X\n\"a,b\",1\n", {',', false, true}, {4.0},
          "\xEF\xBB\xBF\"Name, full\",X,Zres\n\"a,b\",1,4.000000\n");

  // A second result appends after the first (the table holds the new file and its stamp).
  const std::string lf = write("plain.dat", "1 2\n3 4\n");
  M_Data plain = load(lf, {' ', true, false});
  ASSERT_EQ(appendResultColumn(plain, DATA({7.0, 8.0}), {}), Ok);
  ASSERT_EQ(appendResultColumn(plain, DATA({-1.0, -2.0}), {}), Ok);
  EXPECT_EQ(*readWholeFile(lf), "1 2 7.000000 -1.000000\n3 4 8.000000 -2.000000\n");
  EXPECT_EQ(std::pair(plain.columnCount(), plain.columnName(3)), std::pair(4, std::string("4")));

  // With tabs and spaces merged nothing reads as an empty text: the append is refused and the
  // file stays as it was.
  const std::string blank = "1 2 x\n3\n";
  const std::string file = write("blank.dat", blank);
  M_Data table = load(file, {0, true, false});
  EXPECT_EQ(appendResultColumn(table, DATA({1.0, 2.0}), {}), SaveFailed);
  EXPECT_EQ(std::pair(*readWholeFile(file), table.columnCount()), std::pair(blank, 3));
}

TEST_F(DataFiles, RefusedAppendsLeaveTheFileAsItWas) {
  const std::string original = "X Y V\r\n1 2 3\r\n4 5 6\r\n";
  const std::string file = write("data.dat", original);
  M_Data table = load(file, {' ', true, true});
  EXPECT_EQ(appendResultColumn(table, DATA({1.0}), {}), SizeMismatch);
  EXPECT_EQ(appendResultColumn(table, DATA({1.0, 2.0}, {1.0, 4.0}, {2.0, 5.5}), {true, 1, 2}),
            CoordinateMismatch);
  EXPECT_STREQ(saveMessage(CoordinateMismatch)->russian, "Несовпадение координат данных!");
  EXPECT_EQ(std::pair(*readWholeFile(file), table.columnCount()), std::pair(original, 3));
  // Without chosen columns the coordinates are not compared.
  EXPECT_EQ(appendResultColumn(table, DATA({1.0, 2.0}, {9.0, 9.0}, {9.0, 9.0}), {}), Ok);

  // A file changed on disk since it was loaded is not overwritten: other bytes of the same size,
  // or the same bytes written again (a new modification time).
  const std::string changed = "X Y V\r\n1 2 3\r\n4 5 7\r\n";
  const std::string other = write("other.dat", "X Y V\r\n1 2 3\r\n4 5 6\r\n");
  M_Data stale = load(other, {' ', true, true});
  write("other.dat", changed);
  EXPECT_EQ(appendResultColumn(stale, DATA({1.0, 2.0}), {}), DataChanged);
  EXPECT_EQ(*readWholeFile(other), changed);
  M_Data touched = load(other, {' ', true, true});
  const timespec later[2] = {{0, UTIME_NOW}, {touched.fileStamp().modifiedNs / 1000000000 + 5, 0}};
  ASSERT_EQ(utimensat(AT_FDCWD, other.c_str(), later, 0), 0);
  EXPECT_EQ(appendResultColumn(touched, DATA({1.0, 2.0}), {}), DataChanged);
  EXPECT_EQ(*readWholeFile(other), changed);
  EXPECT_STREQ(saveMessage(DataChanged)->english, "the data file changed after it was loaded");
  // A table that was not read from the file is not appended to it either.
  M_Data unread;
  unread.setOptions({' ', true, true});
  ASSERT_EQ(unread.ReadBytes(changed).status, ReadStatus::Ok);
  unread.setPath(other);
  EXPECT_EQ(appendResultColumn(unread, DATA({1.0, 2.0}), {}), DataChanged);

  M_Data shapes;
  shapes.setPath(path("points.shp"));
  EXPECT_EQ(appendResultColumn(shapes, DATA(std::vector<double>{}), {}), LoadedShapefile);
}

TEST(DataColumnChoice, ReadsCoordinateEditsLikeTheWindowAndCopiesNumbersOrColumnsWithinMemory) {
  for (const auto& [x, y] : {std::pair{"", "2"}, {"1", ""}, {"-1", "2"}})
    EXPECT_FALSE(coordinateColumnsFromText(x, y).present) << x << " " << y;
  const CoordinateColumns xy = coordinateColumnsFromText("1.9", " 3");
  EXPECT_EQ(std::tuple(xy.present, xy.x, xy.y), std::tuple(true, 1, 3));
  for (const char* x : {"abc", "1e30"}) EXPECT_EQ(coordinateColumnsFromText(x, "2").x, 0) << x;

  M_Data table;
  ASSERT_EQ(table.ReadBytes("1 10 100 a\n2 20 200 7\n").status, ReadStatus::Ok);
  ColumnOperand out;
  EXPECT_EQ(chooseColumn(table, 3, {true, 1, 2}, out), ChoiceStatus::Ok);
  // The chosen column and its coordinates, element by element.
  using List = std::vector<double>;
  const auto columns = [&out] {
    const DATA& d = out.data;
    return std::tuple(out.isNumber, List(d.values().begin(), d.values().end()),
                      List(d.x().begin(), d.x().end()), List(d.y().begin(), d.y().end()));
  };
  EXPECT_EQ(columns(), std::tuple(false, List{100.0, 200.0}, List{1.0, 2.0}, List{10.0, 20.0}));
  EXPECT_EQ(chooseColumn(table, 4, {}, out), ChoiceStatus::Ok);  // a text column
  EXPECT_FALSE(out.data.hasCoordinates());
  EXPECT_EQ(columns(), std::tuple(false, List{0.0, 7.0}, List{}, List{}));

  const CoordinateColumns bad[] = {{true, 1, 1}, {true, 0, 2}, {true, 1, 5}};
  for (const CoordinateColumns& choice : bad)
    EXPECT_EQ(chooseColumn(table, 1, choice, out), ChoiceStatus::BadCoordinateColumns);

  M_Data one;
  ASSERT_EQ(one.ReadBytes("5 6\n").status, ReadStatus::Ok);
  EXPECT_EQ(chooseColumn(one, 2, {}, out), ChoiceStatus::Ok);
  EXPECT_EQ(std::pair(out.isNumber, out.number), std::pair(true, 6.0));
  EXPECT_EQ(chooseColumn(one, 2, {true, 1, 2}, out), ChoiceStatus::Ok);
  EXPECT_EQ(columns(), std::tuple(false, List{6.0}, List{5.0}, List{6.0}));

  EXPECT_EQ(chooseColumn(M_Data(), 1, {}, out), ChoiceStatus::NoData);
  EXPECT_EQ(chooseColumn(one, 3, {}, out), ChoiceStatus::NoData);

  // A copy beyond the memory limit is refused. 100,000 rows: each column 800 KB, three of them
  // with coordinates, well above 1 MB.
  M_Data big;
  big.Allocate(100000, 3);
  for (int row = 0; row < big.rowCount(); ++row) big.SetNumeric(row, 2, row);
  ASSERT_EQ(chooseColumn(big, 3, {true, 1, 2}, out), ChoiceStatus::Ok);
  EXPECT_EQ(out.data.values()[99999], 99999.0);
  setenv("VELLUMAR_MEMORY_LIMIT", "1M", 1);
  EXPECT_EQ(chooseColumn(big, 3, {true, 1, 2}, out), ChoiceStatus::OutOfMemory);
  unsetenv("VELLUMAR_MEMORY_LIMIT");
  EXPECT_EQ(out.data.count(), 0u);
}

}  // namespace
}  // namespace vellumar::data
