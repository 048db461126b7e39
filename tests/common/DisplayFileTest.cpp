#include <gtest/gtest.h>

#include <fstream>

#include "TestSupport.h"
#include "common/DisplayFile.h"

namespace vellumar {
namespace {

using testing::FolderTest;

void writeBytes(const std::string& path, std::string_view bytes) {
  std::ofstream(path, std::ios::binary) << bytes;
}

TEST(DisplayText, LineBreaksBetweenTheDisplayAndFiles) {
  EXPECT_EQ(toFileLineBreaks("a\nb\n\nc"), "a\r\nb\r\n\r\nc");
  EXPECT_EQ(toFileLineBreaks("\nx\n"), "\r\nx\r\n");
  // A pair already there is not doubled; a lone CR stays as it is.
  EXPECT_EQ(toFileLineBreaks("a\r\nb\rc"), "a\r\nb\rc");
  EXPECT_EQ(toDisplayLineBreaks("a\r\nb\nc\rd\r\n"), "a\nb\nc\rd\n");
  // A byte order mark is dropped; CP1251 ("глубина") is read as UTF-8.
  EXPECT_EQ(toDisplayLineBreaks("\xEF\xBB\xBFx = 1\r\n"), "x = 1\n");
  EXPECT_EQ(toDisplayLineBreaks("\xE3\xEB\xF3\xE1\xE8\xED\xE0\r\n1"), "глубина\n1");
  // Every display text survives the round trip.
  for (const std::string text : {"", "\n", "x = 2;\n\ny = x * 3\nглубина = 1", "a\n\n\n"}) {
    EXPECT_EQ(toDisplayLineBreaks(toFileLineBreaks(text)), text);
  }
}

using DisplayFile = FolderTest;

TEST_F(DisplayFile, WritesCrLfAndReadsBothLineBreaks) {
  const std::string sheet = path("sheet.ctb");
  ASSERT_TRUE(writeDisplayFile(sheet, "x = 2;\nglubina = x"));
  EXPECT_EQ(fileText("sheet.ctb"), "x = 2;\r\nglubina = x");
  std::string text = "old";
  ASSERT_EQ(readDisplayFile(sheet, text), FileError::None);
  EXPECT_EQ(text, "x = 2;\nglubina = x");

  for (const std::string unix : {"a\nb", ""}) {
    writeBytes(path("unix.ctb"), unix);
    ASSERT_EQ(readDisplayFile(path("unix.ctb"), text), FileError::None);
    EXPECT_EQ(text, unix);
  }
}

TEST_F(DisplayFile, FailuresKeepTheTextAndTheOldFile) {
  std::string text = "kept";
  EXPECT_EQ(readDisplayFile(path("missing.ctb"), text), FileError::Missing);
  EXPECT_EQ(readDisplayFile(dir_.string(), text), FileError::NotRegularFile);
  EXPECT_EQ(text, "kept");
  EXPECT_FALSE(writeDisplayFile(path("no/such/folder/x.ctb"), "x"));
  // A folder in the way is not replaced.
  std::filesystem::create_directory(path("folder.ctb"));
  EXPECT_FALSE(writeDisplayFile(path("folder.ctb"), "x"));
  EXPECT_TRUE(std::filesystem::is_directory(path("folder.ctb")));
}

}  // namespace
}  // namespace vellumar
