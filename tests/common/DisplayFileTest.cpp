#include <gtest/gtest.h>

#include "TestSupport.h"
#include "common/DisplayFile.h"

namespace vellumar {
namespace {

using DisplayFile = testing::FolderTest;

TEST_F(DisplayFile, LineBreaksBetweenTheDisplayAndFilesAndFailuresKeepTheText) {
  EXPECT_EQ(toFileLineBreaks("a\nb\n\nc"), "a\r\nb\r\n\r\nc");
  EXPECT_EQ(toFileLineBreaks("\nx\n"), "\r\nx\r\n");
  // A pair already there is not doubled; a lone CR stays as it is.
  EXPECT_EQ(toFileLineBreaks("a\r\nb\rc"), "a\r\nb\rc");
  // Every display text survives the round trip. The way back is the text of a file (its mark,
  // CR LF and CP1251 are TextEncoding's).
  for (const std::string text : {"", "\n", "x = 2;\n\ny = x * 3\nглубина = 1", "a\n\n\n"})
    EXPECT_EQ(toDisplayLineBreaks(toFileLineBreaks(text)), text);

  // Files are written with CR LF and read with either line break.
  const std::string sheet = path("sheet.ctb");
  ASSERT_TRUE(writeDisplayFile(sheet, "x = 2;\nglubina = x"));
  EXPECT_EQ(fileText("sheet.ctb"), "x = 2;\r\nglubina = x");
  std::string text = "old";
  ASSERT_EQ(readDisplayFile(sheet, text), FileError::None);
  EXPECT_EQ(text, "x = 2;\nglubina = x");
  // Which files are refused, and that the old file stays, are the file reader's and the safe
  // save's.
  EXPECT_EQ(readDisplayFile(path("missing.ctb"), text), FileError::Missing);
  EXPECT_EQ(text, "x = 2;\nglubina = x");
  EXPECT_FALSE(writeDisplayFile(path("no/such/folder/x.ctb"), "x"));
}

}  // namespace
}  // namespace vellumar
