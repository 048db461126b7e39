#include "common/TextEncoding.h"

#include <gtest/gtest.h>

#include <string>
#include <utility>

namespace vellumar {
namespace {

TEST(TextEncoding, ConvertsCp1251KeepsUtf8CutsWholeCharactersAndTrimsByEachRule) {
  const std::string utf8 = "Грид";
  EXPECT_TRUE(isValidUtf8(utf8));
  EXPECT_EQ(toUtf8(utf8), utf8);
  const std::string cp1251 = "\xC3\xF0\xE8\xE4";  // "Грид" in CP1251
  EXPECT_FALSE(isValidUtf8(cp1251));
  EXPECT_EQ(toUtf8(cp1251), utf8);
  EXPECT_EQ(cp1251ToUtf8("\xA8\xB8"), "Ёё");
  // Decoding never reads past the end: a truncated sequence and an overlong form.
  for (const char* bytes : {"\xD0", "\xC0\x80"}) {
    char32_t cp = 0;
    EXPECT_EQ(decodeUtf8(bytes, 0, cp), 1u);
    EXPECT_EQ(cp, U'\uFFFD');
  }
  EXPECT_EQ(utf8Length("Pi×ф"), 4u);
  std::string out;
  appendUtf8(out, U'ж');
  EXPECT_EQ(out, "ж");
  // Text files lose their byte order mark and CR LF.
  EXPECT_EQ(textOfFile("\xEF\xBB\xBFSqrt(4);\r\n1+1\r\n"), "Sqrt(4);\n1+1\n");
  // The mark does not make CP1251 text UTF-8, only a leading mark goes, and a lone CR stays.
  EXPECT_EQ(textOfFile("\xC3\xF0\xE8\xE4\rd\r"), "Грид\rd\r");
  EXPECT_EQ(textOfFile("a\xEF\xBB\xBF"), "a\xEF\xBB\xBF");
  EXPECT_EQ(withoutByteOrderMark("\xEF\xBB\xBF"), "");
  EXPECT_EQ(withoutByteOrderMark("\xEF\xBB"), "\xEF\xBB");

  // Cuts never split a character; each trim takes its own characters.
  const std::string text = "Пр\xE2\x82\xAC";  // П, р (2 bytes each), the euro sign (3 bytes)
  const std::pair<std::size_t, std::string> cuts[] = {{100, text}, {7, text}, {6, "Пр"},
                                                      {5, "Пр"},   {3, "П"},  {1, ""}};
  for (const auto& [bytes, cut] : cuts) EXPECT_EQ(cutUtf8(text, bytes), cut) << bytes;
  EXPECT_EQ(cutUtf8("abc", 2), "ab");

  EXPECT_EQ(trimSpacesAndTabs(" \t 1.5\t x \t"), "1.5\t x");
  EXPECT_EQ(trimSpacesAndTabs(" \t "), "");
  // DBF fields are padded with spaces: a tab is their text.
  EXPECT_EQ(trimSpaces("  \tname\t  "), "\tname\t");
  EXPECT_EQ(trimSpaces("   "), "");
  EXPECT_EQ(trimSpaces(""), "");
}

}  // namespace
}  // namespace vellumar
