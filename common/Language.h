#pragma once

namespace vellumar {

// Language of every message the program shows: Russian is the program's own, English the
// alternative column of each message table.
enum class Language { Russian = 0, English = 1 };

// One entry of a message table: the same text in both languages.
struct MessageText {
  const char* russian;
  const char* english;

  const char* in(Language language) const {
    return language == Language::English ? english : russian;
  }
};

}  // namespace vellumar
